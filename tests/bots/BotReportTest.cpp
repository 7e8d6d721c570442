// The bots' report as scripts read it: the account line by line, then one
// "summary:" line of key=value pairs (bench/HostLoad.sh and the end-to-end
// scripts pick their figures from it by name).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "bots/BotReport.h"

namespace {

// What Print writes, as text.
std::string Printed(const TBotReport& report) {
  char* buffer = nullptr;
  std::size_t size = 0;
  std::FILE* out = ::open_memstream(&buffer, &size);
  report.Print(out);
  std::fclose(out);
  std::string text(buffer, size);
  std::free(buffer);
  return text;
}

TEST(BotReport, PrintsTheAccountAndOneSummaryLineOfNamedFigures) {
  TBotReport report;
  report.Bots = 3;
  report.Joined = 2;
  report.Refused = 1;
  report.JoinSeconds = 0.25;
  report.PlaySeconds = 2;
  report.DrainSeconds = 0.4;
  report.LeaveSeconds = 1.5;
  report.Totals.Sent[3] = 2;
  report.Totals.Sent[5] = 7;
  report.Totals.Sent[0] = 1;
  report.Totals.Received[4] = 2;
  report.Totals.Received[6] = 7;
  report.Totals.BytesSent = 120;
  report.Totals.BytesReceived = 340;
  report.Totals.Walks = 4;
  report.Totals.ChatSent = 7;
  report.Totals.ChatAcked = 7;
  report.Totals.ChatHeldBack = 1;
  report.Totals.ChatReceived = 7;
  report.Totals.RelayedWhilePlaying = 9;
  report.DeparturesExpected = 1;
  report.DeparturesSeen = 1;
  report.SaidGoodbye = 1;
  report.Dropped = 1;
  for (uint64_t us : {10, 20, 30}) report.Latency.Add(us);
  report.Errors = {"bot3: Serveur complet"};

  EXPECT_EQ(
      Printed(report),
      "bots: 3, joined 2, refused 1, failed 0, closed by the host 0\n"
      "stages: joining 0.25 s, playing 2.00 s, draining 0.40 s, leaving 1.50 s\n"
      "sent by id:  3: 2  5: 7  unknown: 1\n"
      "received by id:  4: 2  6: 7\n"
      "bytes: sent 120, received 340\n"
      "walks: 4\n"
      "chat: said 7, acknowledged 7, held back 1, received 7, lost 0, gaps 0, out of order 0\n"
      "relay: 9 deliveries of 5, 8 and 9 while playing, 4.5 per second\n"
      "latency: median 20 us, p99 30 us, max 30 us, 3 samples\n"
      "departures: 1 expected, 1 heard, 0 with a wrong flag; 1 said goodbye, 1 dropped\n"
      "error: bot3: Serveur complet\n"
      "summary: bots=3 joined=2 refused=1 failed=0 closed=0 play_s=2.000 rate=4.5 lat_median_us=20 "
      "lat_p99_us=30 said=7 acked=7 held=1 lost=0 gaps=0 departures=1/1 wrong_flags=0 walks=4 sound=0\n");

  // Every bot in: the report is sound, and the summary ends so.
  report.Joined = 3;
  report.Refused = 0;
  report.Errors.clear();
  const std::string text = Printed(report);
  EXPECT_EQ(
      text.substr(text.rfind("summary:")),
      "summary: bots=3 joined=3 refused=0 failed=0 closed=0 play_s=2.000 rate=4.5 lat_median_us=20 "
      "lat_p99_us=30 said=7 acked=7 held=1 lost=0 gaps=0 departures=1/1 wrong_flags=0 walks=4 sound=1\n");
}

}  // namespace
