#include "bots/BotReport.h"

void TBotCounts::Add(const TBotCounts& other) {
  for (int i = 0; i < BotMessageSlots; ++i) {
    Sent[i] += other.Sent[i];
    Received[i] += other.Received[i];
  }
  BytesSent += other.BytesSent;
  BytesReceived += other.BytesReceived;
  ChatSent += other.ChatSent;
  ChatAcked += other.ChatAcked;
  ChatHeldBack += other.ChatHeldBack;
  ChatReceived += other.ChatReceived;
  ChatGaps += other.ChatGaps;
  ChatOutOfOrder += other.ChatOutOfOrder;
  RelayedWhilePlaying += other.RelayedWhilePlaying;
  Walks += other.Walks;
}

bool TBotReport::Sound() const {
  return Joined == Bots && ChatLost == 0 && Totals.ChatGaps == 0 && Totals.ChatOutOfOrder == 0 &&
         DeparturesSeen == DeparturesExpected && DepartureWrongFlag == 0 && ClosedByHost == 0;
}

namespace {
// A number as printf's %.<digits>f writes it.
std::string Fixed(double value, int digits) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", digits, value);
  return text;
}
}  // namespace

std::vector<std::pair<const char*, std::string>> TBotReport::SummaryFields() const {
  using std::to_string;
  return {{"bots", to_string(Bots)},
          {"joined", to_string(Joined)},
          {"refused", to_string(Refused)},
          {"failed", to_string(Failed)},
          {"closed", to_string(ClosedByHost)},
          {"play_s", Fixed(PlaySeconds, 3)},
          {"rate", Fixed(RelayRate(), 1)},
          {"lat_median_us", to_string(Latency.Percentile(0.5))},
          {"lat_p99_us", to_string(Latency.Percentile(0.99))},
          {"said", to_string(Totals.ChatSent)},
          {"acked", to_string(Totals.ChatAcked)},
          {"held", to_string(Totals.ChatHeldBack)},
          {"lost", to_string(ChatLost)},
          {"gaps", to_string(Totals.ChatGaps)},
          {"departures", to_string(DeparturesSeen) + "/" + to_string(DeparturesExpected)},
          {"wrong_flags", to_string(DepartureWrongFlag)},
          {"walks", to_string(Totals.Walks)},
          {"sound", Sound() ? "1" : "0"}};
}

void TBotReport::Print(std::FILE* out) const {
  auto ids = [out](const char* title, const std::array<uint64_t, BotMessageSlots>& counts) {
    std::fprintf(out, "%s", title);
    for (int id = 1; id < BotMessageSlots; ++id)
      if (counts[id]) std::fprintf(out, "  %d: %llu", id, static_cast<unsigned long long>(counts[id]));
    if (counts[0]) std::fprintf(out, "  unknown: %llu", static_cast<unsigned long long>(counts[0]));
    std::fprintf(out, "\n");
  };
  auto u = [](uint64_t value) { return static_cast<unsigned long long>(value); };
  std::fprintf(out, "bots: %d, joined %d, refused %d, failed %d, closed by the host %d\n", Bots, Joined,
               Refused, Failed, ClosedByHost);
  std::fprintf(out, "stages: joining %.2f s, playing %.2f s, draining %.2f s, leaving %.2f s\n", JoinSeconds,
               PlaySeconds, DrainSeconds, LeaveSeconds);
  ids("sent by id:", Totals.Sent);
  ids("received by id:", Totals.Received);
  std::fprintf(out, "bytes: sent %llu, received %llu\n", u(Totals.BytesSent), u(Totals.BytesReceived));
  std::fprintf(out, "walks: %llu\n", u(Totals.Walks));
  std::fprintf(out,
               "chat: said %llu, acknowledged %llu, held back %llu, received %llu, lost %llu, "
               "gaps %llu, out of order %llu\n",
               u(Totals.ChatSent), u(Totals.ChatAcked), u(Totals.ChatHeldBack), u(Totals.ChatReceived),
               u(ChatLost), u(Totals.ChatGaps), u(Totals.ChatOutOfOrder));
  std::fprintf(out, "relay: %llu deliveries of 5, 8 and 9 while playing, %.1f per second\n",
               u(Totals.RelayedWhilePlaying), RelayRate());
  std::fprintf(out, "latency: median %llu us, p99 %llu us, max %llu us, %llu samples\n",
               u(Latency.Percentile(0.5)), u(Latency.Percentile(0.99)), u(Latency.Max()), u(Latency.Count()));
  std::fprintf(out,
               "departures: %llu expected, %llu heard, %llu with a wrong flag; %d said goodbye, %d dropped\n",
               u(DeparturesExpected), u(DeparturesSeen), u(DepartureWrongFlag), SaidGoodbye, Dropped);
  for (const std::string& text : Errors) std::fprintf(out, "error: %s\n", text.c_str());
  std::fprintf(out, "summary:");
  for (const auto& [name, value] : SummaryFields()) std::fprintf(out, " %s=%s", name, value.c_str());
  std::fprintf(out, "\n");
  std::fflush(out);
}
