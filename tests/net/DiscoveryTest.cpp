// The discovery datagrams against hand-computed bytes, the answer that may
// never outgrow its query, the malformed datagrams that must go unanswered,
// the answer limits per sender address and for everyone, and the cookies,
// on a clock moved by hand.
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

TEST(DiscoveryDatagrams, QueryChallengeAndAnswerBytesAreAsDescribedAndReadBack) {
  const std::string zeros(MinQueryBytes - 5, '\0');
  EXPECT_EQ(EncodeQuery(), "VZD?" + Bytes({2}) + zeros);
  EXPECT_EQ(EncodeQuery("ABCDEFGH"), "VZD?" + Bytes({2}) + "ABCDEFGH" + zeros.substr(8));
  EXPECT_EQ(EncodeChallenge("ABCDEFGH"), "VZD#" + Bytes({2}) + "ABCDEFGH");
  EXPECT_EQ(DecodeChallenge("VZD#" + Bytes({2}) + "ABCDEFGH"), std::optional<std::string>("ABCDEFGH"));

  // Packed: 2048 = 16 * 128 is 90 00, 65535 is 83 FF 7F, 300 is 82 2C.
  std::string answer = EncodeAnswer(Game(2048, 3, true, "caf\xE9"), MinQueryBytes);
  EXPECT_EQ(answer, "VZD!" + Bytes({2, 0x90, 0x00, 3, 1}) + "caf\xE9");
  std::string open = EncodeAnswer(Game(65535, 300, false, ""), MinQueryBytes);
  EXPECT_EQ(open, "VZD!" + Bytes({2, 0x83, 0xFF, 0x7F, 0x82, 0x2C, 0}));

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
  // A host of the first version answers in the same layout.
  EXPECT_TRUE(DecodeAnswer("VZD!" + Bytes({1, 0x90, 0x00, 3, 1}) + "old").has_value());
}

TEST(DiscoveryDatagrams, AnswerNeverOutgrowsItsQueryAndCutsTheNameToFit) {
  const std::string longName(100, 'n');
  // The finder's own query brings the longest name back whole.
  auto whole = DecodeAnswer(EncodeAnswer(Game(2048, 0, false, longName), MinQueryBytes));
  ASSERT_TRUE(whole.has_value());
  EXPECT_EQ(whole->HostName, std::string(MaxHostNameBytes, 'n'));

  for (std::size_t query = 14; query <= MinQueryBytes + 10; ++query) {
    std::string answer = EncodeAnswer(Game(65535, 2000000000, true, longName), query);
    EXPECT_LE(answer.size(), query) << query;
    auto read = DecodeAnswer(answer);
    ASSERT_TRUE(read.has_value()) << query;
    // 14 bytes before the name: magic 4, version 1, port 3, players 5, flag 1.
    EXPECT_EQ(read->HostName.size(), std::min(MaxHostNameBytes, query - 14)) << query;
    EXPECT_EQ(read->Players, 2000000000);
  }
  EXPECT_EQ(EncodeAnswer(Game(65535, 2000000000, true, longName), 13), "");
}

// Short queries are refused whole: a 5-byte query drew up to 69 bytes.
TEST(DiscoveryDatagrams, MalformedAndShortQueriesAreRefusedAndPaddedOnesOfAnyVersionTaken) {
  auto isQuery = [](const std::string& bytes) { return IsQuery(bytes, bytes.size()); };
  auto padded = [](std::string bytes) {
    bytes.resize(std::max(bytes.size(), MinQueryBytes), '\0');
    return bytes;
  };
  std::string cookie = "unread";
  EXPECT_TRUE(IsQuery(EncodeQuery(), MinQueryBytes, &cookie));
  EXPECT_EQ(cookie, "");
  EXPECT_TRUE(IsQuery(EncodeQuery("ABCDEFGH"), MinQueryBytes, &cookie));
  EXPECT_EQ(cookie, "ABCDEFGH");
  // A first-version query has no cookie field.
  EXPECT_TRUE(IsQuery(padded("VZD?" + Bytes({1}) + "ABCDEFGH"), MinQueryBytes, &cookie));
  EXPECT_EQ(cookie, "");
  EXPECT_TRUE(isQuery(EncodeQuery({}, MaxQueryBytes)));
  EXPECT_TRUE(isQuery(padded("VZD?" + Bytes({3}) + "any padding")));
  EXPECT_TRUE(isQuery(padded("VZD?" + Bytes({0x81, 0x00}))));

  EXPECT_FALSE(isQuery(""));
  EXPECT_FALSE(isQuery("VZD?" + Bytes({1})));
  EXPECT_FALSE(isQuery("VZD?" + Bytes({1}) + std::string(11, '\0')));
  EXPECT_FALSE(isQuery(EncodeQuery().substr(0, MinQueryBytes - 1)));
  EXPECT_FALSE(isQuery(padded("VZD")));
  EXPECT_FALSE(isQuery(padded("VZD!" + Bytes({2}))));
  EXPECT_FALSE(isQuery(padded("vzd?" + Bytes({2}))));
  EXPECT_FALSE(isQuery(padded("VZD?" + Bytes({0}))));
  EXPECT_FALSE(isQuery(padded("VZD?" + Bytes({0x80, 0x80, 0x80, 0x80, 0x80, 0x01}))));
  EXPECT_FALSE(isQuery(EncodeQuery({}, MaxQueryBytes + 1)));
  // A datagram read only in part is never taken for the whole.
  EXPECT_FALSE(IsQuery(EncodeQuery({}, MaxQueryBytes), MaxQueryBytes + 1));

  EXPECT_FALSE(DecodeChallenge("VZD#" + Bytes({2}) + "ABCDEFG").has_value());
  EXPECT_FALSE(DecodeChallenge("VZD#" + Bytes({2}) + "ABCDEFGHI").has_value());
  EXPECT_FALSE(DecodeChallenge("VZD!" + Bytes({2}) + "ABCDEFGH").has_value());
  EXPECT_FALSE(DecodeChallenge("VZD#" + Bytes({3}) + "ABCDEFGH").has_value());
}

TEST(DiscoveryDatagrams, MalformedAnswersAreRefused) {
  const std::string head = "VZD!" + Bytes({1});
  EXPECT_TRUE(DecodeAnswer(head + Bytes({0x90, 0, 0, 0}) + "x").has_value());

  EXPECT_FALSE(DecodeAnswer("").has_value());
  EXPECT_FALSE(DecodeAnswer("VZD?" + Bytes({1, 0x90, 0, 0, 0})).has_value());
  EXPECT_FALSE(DecodeAnswer("VZD!" + Bytes({3, 0x90, 0, 0, 0})).has_value());
  EXPECT_FALSE(DecodeAnswer("VZD!" + Bytes({0, 0x90, 0, 0, 0})).has_value());
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
  // A budget that every remembered sender's share fits in.
  TAnswerLimiter limiter(TAnswerLimiter::MaxSenders * TAnswerLimiter::AnswersPerWindow);
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

// However many addresses ask, the answers to all of them stay within the
// budget; it has room again as the window moves on.
TEST(AnswerLimiter, AnswersToEveryoneStayWithinTheBudget) {
  TAnswerLimiter limiter;
  const uint32_t now = 7000;
  for (uint32_t i = 0; i < TAnswerLimiter::DefaultBudget; ++i)
    ASSERT_TRUE(limiter.Allow(0x0A000000 + i, now + i));
  EXPECT_TRUE(limiter.BudgetSpent(now + 200));
  EXPECT_FALSE(limiter.Allow(0x0B000000, now + 200));
  EXPECT_FALSE(limiter.Allow(0x0A000000, now + 999));
  EXPECT_TRUE(limiter.Allow(0x0B000000, now + 1000));
  EXPECT_FALSE(limiter.Allow(0x0B000001, now + 1000));
}

// A cookie proves one address and port, for its period and the next, to
// the host that made it.
TEST(QueryCookies, ACookieHoldsForItsSenderAndItsHostForTwoPeriodsOnly) {
  TQueryCookies cookies, otherHost;
  const uint32_t alice = 0x7F000001, now = 123456;
  std::string cookie = cookies.Issue(alice, 4000, now);
  EXPECT_EQ(cookie.size(), CookieBytes);
  EXPECT_TRUE(cookies.Valid(cookie, alice, 4000, now));
  EXPECT_TRUE(cookies.Valid(cookie, alice, 4000, now + TQueryCookies::PeriodMs));
  EXPECT_FALSE(cookies.Valid(cookie, alice, 4000, now + 2 * TQueryCookies::PeriodMs));
  EXPECT_FALSE(cookies.Valid(cookie, alice, 4001, now));
  EXPECT_FALSE(cookies.Valid(cookie, alice + 1, 4000, now));
  EXPECT_FALSE(otherHost.Valid(cookie, alice, 4000, now));
  EXPECT_FALSE(cookies.Valid(std::string(CookieBytes, '\0'), alice, 4000, now));
  EXPECT_FALSE(cookies.Valid(cookie.substr(1), alice, 4000, now));
}

}  // namespace
