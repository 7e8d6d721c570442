// The discovery datagrams against hand-computed bytes, the answer that may
// never outgrow its query by more than 64 bytes, the malformed datagrams
// that must go unanswered, and the answer limit per sender address on a
// clock moved by hand.
#include <gtest/gtest.h>

#include <string>

#include "net/Discovery.h"

namespace {

std::string Bytes(std::initializer_list<int> values) {
  std::string bytes;
  for (int v : values) bytes.push_back(static_cast<char>(v));
  return bytes;
}

TGameAnnounce Game(uint16_t port, int32_t players, bool password, std::string name) {
  TGameAnnounce announce;
  announce.GamePort = port;
  announce.Players = players;
  announce.Password = password;
  announce.HostName = std::move(name);
  return announce;
}

TEST(DiscoveryDatagrams, QueryAndAnswerBytesAreAsDescribedAndReadBack) {
  EXPECT_EQ(EncodeQuery(), "VZD?" + Bytes({1}) + std::string(11, '\0'));
  EXPECT_EQ(EncodeQuery(3), "VZD?" + Bytes({1}));

  // Packed: 2048 = 16 * 128 is 90 00, 65535 is 83 FF 7F, 300 is 82 2C.
  std::string answer = EncodeAnswer(Game(2048, 3, true, "caf\xE9"), FinderQueryBytes);
  EXPECT_EQ(answer, "VZD!" + Bytes({1, 0x90, 0x00, 3, 1}) + "caf\xE9");
  std::string open = EncodeAnswer(Game(65535, 300, false, ""), FinderQueryBytes);
  EXPECT_EQ(open, "VZD!" + Bytes({1, 0x83, 0xFF, 0x7F, 0x82, 0x2C, 0}));

  auto read = DecodeAnswer(answer);
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(read->GamePort, 2048);
  EXPECT_EQ(read->Players, 3);
  EXPECT_TRUE(read->Password);
  EXPECT_EQ(read->HostName, "caf\xE9");
  read = DecodeAnswer(open);
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(read->GamePort, 65535);
  EXPECT_EQ(read->Players, 300);
  EXPECT_FALSE(read->Password);
  EXPECT_EQ(read->HostName, "");
}

TEST(DiscoveryDatagrams, AnswerNeverOutgrowsItsQueryAndCutsTheNameToFit) {
  const std::string longName(100, 'n');
  // The finder's own query brings the longest name back whole.
  auto whole = DecodeAnswer(EncodeAnswer(Game(2048, 0, false, longName), FinderQueryBytes));
  ASSERT_TRUE(whole.has_value());
  EXPECT_EQ(whole->HostName, std::string(MaxHostNameBytes, 'n'));

  for (std::size_t query = 5; query <= 40; ++query) {
    std::string answer = EncodeAnswer(Game(65535, 2000000000, true, longName), query);
    EXPECT_LE(answer.size(), query + MaxAnswerGrowthBytes) << query;
    auto read = DecodeAnswer(answer);
    ASSERT_TRUE(read.has_value()) << query;
    // 14 bytes before the name: magic 4, version 1, port 3, players 5, flag 1.
    EXPECT_EQ(read->HostName.size(), std::min(MaxHostNameBytes, query + MaxAnswerGrowthBytes - 14)) << query;
    EXPECT_EQ(read->Players, 2000000000);
  }
}

TEST(DiscoveryDatagrams, MalformedQueriesAreRefusedAndPaddedOnesOfAnyVersionTaken) {
  auto isQuery = [](const std::string& bytes) { return IsQuery(bytes, bytes.size()); };
  EXPECT_TRUE(isQuery("VZD?" + Bytes({1})));
  EXPECT_TRUE(isQuery(EncodeQuery(MaxQueryBytes)));
  EXPECT_TRUE(isQuery("VZD?" + Bytes({2}) + "any padding"));
  EXPECT_TRUE(isQuery("VZD?" + Bytes({0x81, 0x00})));

  EXPECT_FALSE(isQuery(""));
  EXPECT_FALSE(isQuery("VZD"));
  EXPECT_FALSE(isQuery("VZD?"));
  EXPECT_FALSE(isQuery("VZD!" + Bytes({1}) + std::string(11, '\0')));
  EXPECT_FALSE(isQuery("vzd?" + Bytes({1})));
  EXPECT_FALSE(isQuery("VZD?" + Bytes({0})));
  EXPECT_FALSE(isQuery("VZD?" + Bytes({0x81})));
  EXPECT_FALSE(isQuery("VZD?" + Bytes({0x80, 0x80, 0x80, 0x80, 0x80, 0x01})));
  EXPECT_FALSE(isQuery(EncodeQuery(MaxQueryBytes + 1)));
  // A datagram read only in part is never taken for the whole.
  EXPECT_FALSE(IsQuery(EncodeQuery(MaxQueryBytes), MaxQueryBytes + 1));
}

TEST(DiscoveryDatagrams, MalformedAnswersAreRefused) {
  const std::string head = "VZD!" + Bytes({1});
  EXPECT_TRUE(DecodeAnswer(head + Bytes({0x90, 0, 0, 0}) + "x").has_value());

  EXPECT_FALSE(DecodeAnswer("").has_value());
  EXPECT_FALSE(DecodeAnswer("VZD?" + Bytes({1, 0x90, 0, 0, 0})).has_value());
  EXPECT_FALSE(DecodeAnswer("VZD!" + Bytes({2, 0x90, 0, 0, 0})).has_value());
  EXPECT_FALSE(DecodeAnswer(head + Bytes({0, 0, 0})).has_value());                 // port 0
  EXPECT_FALSE(DecodeAnswer(head + Bytes({0x84, 0x80, 0x00, 0, 0})).has_value());  // port 65536
  EXPECT_FALSE(DecodeAnswer(head + Bytes({0x90, 0, 0, 2})).has_value());           // flag 2
  EXPECT_FALSE(DecodeAnswer(head + Bytes({0x90, 0, 0})).has_value());              // no flag
  EXPECT_FALSE(DecodeAnswer(head + Bytes({0x90, 0, 0x81})).has_value());           // cut number
  // Players read as a negative number.
  EXPECT_FALSE(DecodeAnswer(head + Bytes({0x90, 0, 0x8F, 0xFF, 0xFF, 0xFF, 0x7F, 0})).has_value());
  EXPECT_FALSE(
      DecodeAnswer(head + Bytes({0x90, 0, 0, 0}) + std::string(MaxHostNameBytes + 1, 'n')).has_value());
}

TEST(AnswerLimiter, TenAnswersPerSecondPerAddressAndASenderUnderThatIsAlwaysAnswered) {
  TAnswerLimiter limiter;
  const uint32_t alice = 0x7F000001, bob = 0x7F000002;
  // Near the wrap of the tick counter, to take differences modulo 2^32.
  const uint32_t start = 0xFFFFFF00u;
  for (int i = 0; i < TAnswerLimiter::AnswersPerWindow; ++i)
    EXPECT_TRUE(limiter.Allow(alice, start + i)) << i;
  EXPECT_FALSE(limiter.Allow(alice, start + 10));
  EXPECT_TRUE(limiter.Allow(bob, start + 10));
  EXPECT_FALSE(limiter.Allow(alice, start + 999));
  // The first answer leaves the window: room for exactly one more.
  EXPECT_TRUE(limiter.Allow(alice, start + 1000));
  EXPECT_FALSE(limiter.Allow(alice, start + 1000));
  EXPECT_TRUE(limiter.Allow(alice, start + 1001));

  // A sender asking ten times a second, evenly, is answered every time.
  TAnswerLimiter steady;
  for (uint32_t i = 0; i < 100; ++i) EXPECT_TRUE(steady.Allow(alice, start + i * 100)) << i;
  // Bursts of ten a second apart, too.
  TAnswerLimiter bursts;
  for (uint32_t second = 0; second < 5; ++second)
    for (int i = 0; i < TAnswerLimiter::AnswersPerWindow; ++i)
      EXPECT_TRUE(bursts.Allow(bob, start + second * 1000 + i)) << second << " " << i;
}

TEST(AnswerLimiter, RemembersABoundedNumberOfSendersAndForgetsTheSilentOnes) {
  TAnswerLimiter limiter;
  const uint32_t now = 5000;
  for (uint32_t i = 0; i < TAnswerLimiter::MaxSenders; ++i) ASSERT_TRUE(limiter.Allow(0x0A000000 + i, now));
  // Every remembered sender was answered within the window: a newcomer
  // waits rather than pushing one of them out of the count.
  EXPECT_FALSE(limiter.Allow(0x0B000000, now + 500));
  EXPECT_TRUE(limiter.Allow(0x0A000000, now + 500));
  // A second later the silent ones are forgotten and make room.
  EXPECT_TRUE(limiter.Allow(0x0B000000, now + 1000));
  for (int i = 1; i < TAnswerLimiter::AnswersPerWindow; ++i)
    EXPECT_TRUE(limiter.Allow(0x0B000000, now + 1000));
  EXPECT_FALSE(limiter.Allow(0x0B000000, now + 1000));
}

}  // namespace
