// Discovery datagrams from anyone on the network: any bytes are either a
// query, whose answer and challenge never outgrow it and read back, or not;
// and any bytes either decode as an answer that encodes and decodes to the
// same fields, or are refused.
#include "FuzzSupport.h"
#include "net/Discovery.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  std::string cookie;
  if (IsQuery(bytes, size, &cookie)) {
    Require(cookie.empty() || cookie.size() == CookieBytes, "a cookie has its size");
    TGameAnnounce announce;
    announce.GamePort = 65535;
    announce.Players = 0x7FFFFFFF;
    announce.Password = true;
    announce.HostName = std::string(MaxHostNameBytes + 10, 'n');
    std::string answer = EncodeAnswer(announce, size);
    Require(answer.size() <= size, "an answer outgrows its query");
    Require(DecodeAnswer(answer).has_value(), "the answer to a query reads back");
    std::string challenge = EncodeChallenge(std::string(CookieBytes, 'c'));
    Require(challenge.size() < size && DecodeChallenge(challenge).has_value(),
            "a challenge is short and reads back");
  }
  if (auto announce = DecodeAnswer(bytes)) {
    Require(announce->HostName.size() <= MaxHostNameBytes, "a decoded name is at most 63 bytes");
    auto again = DecodeAnswer(EncodeAnswer(*announce, MinQueryBytes));
    Require(again && again->GamePort == announce->GamePort && again->Players == announce->Players &&
                again->Password == announce->Password && again->HostName == announce->HostName,
            "an answer encodes and decodes to the same fields");
  }
  return 0;
}
