// Discovery datagrams from anyone on the network: any bytes are either a
// query, whose answer never outgrows it by more than MaxAnswerGrowthBytes
// and reads back, or not; and any bytes either decode as an answer that
// encodes and decodes to the same fields, or are refused.
#include "FuzzSupport.h"
#include "net/Discovery.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  if (IsQuery(bytes, size)) {
    TGameAnnounce announce;
    announce.GamePort = 65535;
    announce.Players = 0x7FFFFFFF;
    announce.Password = true;
    announce.HostName = std::string(MaxHostNameBytes + 10, 'n');
    std::string answer = EncodeAnswer(announce, size);
    Require(answer.size() <= size + MaxAnswerGrowthBytes, "an answer outgrows its query");
    Require(DecodeAnswer(answer).has_value(), "the answer to a query reads back");
  }
  if (auto announce = DecodeAnswer(bytes)) {
    Require(announce->HostName.size() <= MaxHostNameBytes, "a decoded name is at most 63 bytes");
    auto again = DecodeAnswer(EncodeAnswer(*announce, FinderQueryBytes));
    Require(again && again->GamePort == announce->GamePort && again->Players == announce->Players &&
                again->Password == announce->Password && again->HostName == announce->HostName,
            "an answer encodes and decodes to the same fields");
  }
  return 0;
}
