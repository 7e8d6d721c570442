#include "bots/BotOptions.h"

#include <QString>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "net/Sockets.h"
#include "platform/Text1252.h"

namespace {

bool ParseInt(const char* text, long low, long high, long& value) {
  char* end = nullptr;
  value = std::strtol(text, &end, 10);
  return end != text && *end == '\0' && value >= low && value <= high;
}

// 127.0.0.0/8 or ::1.
bool IsLoopback(const ws::TAddress& address) {
  constexpr uint8_t IPv4Loopback = 127;
  if (address.Family != ws::AddressFamilyInet6) return address.Bytes[0] == IPv4Loopback;
  ws::TAddress one;
  one.Family = ws::AddressFamilyInet6;
  one.Bytes[15] = 1;
  return address == one;
}

}  // namespace

const char* const BotUsage =
    "       varozuvod --bots HOST[:PORT] [--count N] [--name PREFIX] [--password TEXT]\n"
    "                 [--walk] [--chat PER_MINUTE] [--seconds S] [--drop PERCENT] [--window N]\n"
    "                 [--lab ADDRESS]\n"
    "  --bots        headless bot players against the host at HOST (127.0.0.0/8\n"
    "                or ::1 only; [::1]:PORT with a port), port 2048 unless\n"
    "                given; they join, play S seconds\n"
    "                (default 10), leave, and print what they sent and received\n"
    "  --count N     number of bots (default 1)\n"
    "  --name PREFIX bots are named PREFIX1, PREFIX2, ... (default bot)\n"
    "  --walk        walk to random cells nearby, reported with 9 and 8\n"
    "  --chat R      chat lines per minute and bot (default 0); max: a line\n"
    "                whenever the window has room\n"
    "  --drop P      percent of the bots that drop their connection instead of\n"
    "                saying goodbye (default 0)\n"
    "  --window N    most unacknowledged chat lines per bot (default 8)\n"
    "  --lab ADDRESS also allow a host at that address, and that one only: a\n"
    "                test network of its own (network namespaces)\n";

bool ParseBotOptions(int argc, char** argv, TBotOptions& options, std::string& error) {
  constexpr long MaxBots = 4096;
  constexpr long MaxSeconds = 24 * 3600;
  if (argc < 3) {
    error = "--bots needs HOST[:PORT]";
    return false;
  }
  std::string target = argv[2];
  if (!ParseHostAndPort(target, options.Host, options.Port) || options.Port == 0) {
    error = "bad port in " + target;
    return false;
  }
  for (int i = 3; i < argc; ++i) {
    std::string option = argv[i];
    long value = 0;
    if (option == "--walk") {
      options.Walk = true;
      continue;
    }
    if (i + 1 >= argc) {
      error = "missing value after " + option;
      return false;
    }
    const char* text = argv[++i];
    bool ok = true;
    if (option == "--count") {
      ok = ParseInt(text, 1, MaxBots, value);
      options.Count = static_cast<int>(value);
    } else if (option == "--name") {
      options.NamePrefix = FromQString(QString::fromLocal8Bit(text));
    } else if (option == "--password") {
      options.Password = FromQString(QString::fromLocal8Bit(text));
    } else if (option == "--chat") {
      char* end = nullptr;
      options.ChatPerMinute = std::strtod(text, &end);
      ok = end != text && *end == '\0' && options.ChatPerMinute >= 0 && std::isfinite(options.ChatPerMinute);
      if (std::strcmp(text, "max") == 0) {
        options.ChatPerMinute = TBotOptions::AsFastAsAcknowledged;
        ok = true;
      }
    } else if (option == "--seconds") {
      ok = ParseInt(text, 0, MaxSeconds, value);
      options.Seconds = static_cast<int>(value);
    } else if (option == "--drop") {
      ok = ParseInt(text, 0, 100, value);
      options.DropPercent = static_cast<int>(value);
    } else if (option == "--window") {
      ok = ParseInt(text, 1, 1 << 20, value);
      options.Window = static_cast<int>(value);
    } else if (option == "--lab") {
      options.LabAddress = ResolveHost(text);
      ok = options.LabAddress != ws::AddressNone;
    } else {
      error = "unknown option " + option;
      return false;
    }
    if (!ok) {
      error = "bad value for " + option + ": " + text;
      return false;
    }
  }
  // Every address the bots might try must be allowed, not only the first.
  std::vector<ws::TAddress> addresses = ResolveAddresses(options.Host);
  bool allowed = !addresses.empty();
  for (const ws::TAddress& address : addresses)
    allowed = allowed && (IsLoopback(address) || (options.LabAddress != ws::AddressNone &&
                                                  address == ws::InetAddress(options.LabAddress)));
  if (!allowed) {
    error = "bots connect only to a host on this machine (127.0.0.0/8, ::1): " + options.Host;
    return false;
  }
  return true;
}
