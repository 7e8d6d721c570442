#include "shell/CommandLine.h"

#include <QString>

#include "host/HostLimits.h"
#include "net/Sockets.h"
#include "platform/Convert.h"
#include "platform/Text1252.h"

const char* const UsageText =
    "Usage: varozuvod [debug] [WIDTH HEIGHT [DEPTH]] [--mute] [--volume N] [--fps N]\n"
    "       varozuvod --serve [--port N] [--password P] [--web] [--web-port N]\n"
    "                 [--max-players N] [--max-per-address N] [--chat-limit N]\n"
    "                 [--no-discovery] [--discovery-port N] [--upnp]\n"
    "       varozuvod --join HOST[:PORT] [--name NAME] [--password P] [debug]\n"
    "                 [--mute] [--volume N] [--fps N]\n"
    "       varozuvod --bots HOST[:PORT] [--count N] [--name PREFIX] [--password P]\n"
    "                 [--walk] [--chat PER_MINUTE] [--seconds S]\n"
    "       varozuvod --find [--broadcast ADDRESS] [--seconds S] [--discovery-port N]\n"
    "       varozuvod --help | --version\n"
    "\n"
    "Without options the main window opens: host a game or join one.\n"
    "  WIDTH HEIGHT [DEPTH]  full-screen display mode while the game runs; the\n"
    "                        display's own mode comes back however it ends\n"
    "  debug                 the game client in a normal 320 x 400 window\n"
    "  --mute                start the game without sound; F9 in the game window\n"
    "                        turns all sound off and on again\n"
    "  --volume N            sound volume, 0 to 100 (default 100)\n"
    "  --fps N               frames the game draws a second, 10 to 120 (default\n"
    "                        25); walks and motions keep their pace at any rate\n"
    "  --serve               run the game host without a window; the connection\n"
    "                        list goes to standard output, SIGTERM or SIGINT ends it\n"
    "  --port N              game port (default 2048; 0 picks a free one)\n"
    "  --password P          connection password (default none)\n"
    "  --web, --web-port N   also run the download server (default port 80): at\n"
    "                        most 64 connections, 8 per address; a request line\n"
    "                        within 10 s, a download idle 60 s is closed\n"
    "  --max-players N       at most N game connections; the next is told\n"
    "                        \"Serveur complet\" and closed (default 0: no limit)\n"
    "  --max-per-address N   at most N game connections from one address, an\n"
    "                        IPv6 /64 counting as one (default 0: no limit)\n"
    "  --chat-limit N        of the chat lines a player sends within any 10 s,\n"
    "                        those past N are dropped and the player shows as\n"
    "                        muted until it slows down (default 0: no limit)\n"
    "  --no-discovery        do not answer the games search of the local network\n"
    "                        (the host answers it on UDP port 2048 otherwise, at\n"
    "                        most 10 answers a second per address and 100 in\n"
    "                        all, never longer than the query)\n"
    "  --discovery-port N    UDP port of the games search (default 2048; for tests)\n"
    "  --upnp                ask the router (UPnP, else NAT-PMP) to open the game\n"
    "                        port and the web port to the Internet while the host\n"
    "                        runs; the listing then tells the public address to\n"
    "                        give, or why there is none (default: off)\n"
    "  --join HOST[:PORT]    open the game client connected to that host: a name,\n"
    "                        an IPv4 address, an IPv6 address bare or in brackets\n"
    "                        with the port ([2001:db8::7]:2048); a name's\n"
    "                        addresses are tried in turn until one answers\n"
    "  --name NAME           player name (default guest)\n"
    "  --bots HOST[:PORT]    headless bot players for tests and load runs (a host\n"
    "                        on 127.0.0.0/8 or ::1: [::1]:PORT)\n"
    "  --find                list the games of the local network, one line each:\n"
    "                        ADDRESS:PORT, players, password or open, host name\n"
    "  --broadcast ADDRESS   ask that address only (default: the broadcast\n"
    "                        address of every interface that is up)\n"
    "  --seconds S           how long --find listens (default 2)\n"
    "  --help                show this help and exit\n"
    "  --version             show the version and exit\n"
    "\n"
    "SIGTERM, SIGINT or SIGHUP end the game in order, display mode included,\n"
    "then by that signal (exit status 143, 130 or 129).\n"
    "\n"
    "The host's game connections use TCP keepalive: a player whose machine\n"
    "vanished without closing is released within about two minutes.\n"
    "\n"
    "A connection hears nothing and is heard of by nobody until its login passes\n"
    "the password, checked once per connection; an address (IPv6: its /64) with\n"
    "5 refused logins within a minute is turned away for a minute, doubling up\n"
    "to 15 minutes while the guessing goes on.  Names are cut to 24 bytes and\n"
    "must be unique, chat lines to 255 bytes; walks must be cells of the map,\n"
    "at most 10 a second.\n";

const char* const VersionText = "varozuvod 1.0\n";

namespace {
// The largest --max-players and --max-per-address: more connections than a
// process can hold descriptors for.
constexpr int MaxConnectionLimit = 1000000;

bool IsOption(const std::string& word) {
  return word.size() > 1 && word[0] == '-' && !(word[1] >= '0' && word[1] <= '9');
}

std::string Text(const std::string& local) { return FromQString(QString::fromLocal8Bit(local.c_str())); }

bool ParsePort(const std::string& text, uint16_t& port) {
  auto value = TryStrToInt(text);
  if (!value || *value < 0 || *value > 65535) return false;
  port = static_cast<uint16_t>(*value);
  return true;
}

// A limit: 0 (none) to most.
bool ParseLimit(const std::string& text, int most, int& limit) {
  auto value = TryStrToInt(text);
  if (!value || *value < 0 || *value > most) return false;
  limit = *value;
  return true;
}

// --mute, or --volume with the next word (i moves past it); false when the
// word is neither, or the volume is not 0..100 (why says so).
bool ParseSound(const std::vector<std::string>& words, std::size_t& i, TSoundSettings& sound,
                std::string& why) {
  const std::string& option = words[i];
  if (option == "--mute") {
    sound.Muted = true;
    return true;
  }
  if (option != "--volume") return false;
  if (i + 1 >= words.size()) {
    why = "--volume needs a number from 0 to 100";
    return false;
  }
  auto value = TryStrToInt(words[++i]);
  if (!value || *value < 0 || *value > TSoundSettings::MaxVolume) {
    why = "invalid --volume: " + words[i];
    return false;
  }
  sound.Volume = *value;
  return true;
}

// --fps with the next word (i moves past it); false when the word is not
// --fps, or the rate is not MinFrameRate..MaxFrameRate (why says so).
bool ParseFrameRate(const std::vector<std::string>& words, std::size_t& i, int& rate, std::string& why) {
  if (words[i] != "--fps") return false;
  if (i + 1 >= words.size()) {
    why = "--fps needs a number from 10 to 120";
    return false;
  }
  auto value = TryStrToInt(words[++i]);
  if (!value || *value < MinFrameRate || *value > MaxFrameRate) {
    why = "invalid --fps: " + words[i];
    return false;
  }
  rate = *value;
  return true;
}

TCommandLine Only(TCommandKind kind) {
  TCommandLine line;
  line.Kind = kind;
  return line;
}

TCommandLine Refuse(std::string why) {
  TCommandLine line;
  line.Kind = TCommandKind::Error;
  line.Error = std::move(why);
  return line;
}

// Reads the options of --serve; the first word is the option itself.
TCommandLine ParseServe(const std::vector<std::string>& words) {
  TCommandLine line;
  line.Kind = TCommandKind::Serve;
  for (std::size_t i = 1; i < words.size(); ++i) {
    const std::string& option = words[i];
    bool hasValue = i + 1 < words.size();
    if (option == "--web") {
      line.Serve.Web = true;
    } else if ((option == "--port" || option == "--web-port") && hasValue) {
      uint16_t& port = option == "--port" ? line.Serve.Port : line.Serve.WebPort;
      if (!ParsePort(words[++i], port)) return Refuse("invalid port: " + words[i]);
    } else if (option == "--password" && hasValue) {
      line.Serve.Password = Text(words[++i]);
    } else if ((option == "--max-players" || option == "--max-per-address") && hasValue) {
      int& limit = option == "--max-players" ? line.Serve.MaxPlayers : line.Serve.MaxPerAddress;
      if (!ParseLimit(words[++i], MaxConnectionLimit, limit))
        return Refuse("invalid " + option + ": " + words[i]);
    } else if (option == "--chat-limit" && hasValue) {
      if (!ParseLimit(words[++i], TChatGate::MaxLimit, line.Serve.ChatLimit))
        return Refuse("invalid --chat-limit: " + words[i]);
    } else if (option == "--upnp") {
      line.Serve.Upnp = true;
    } else if (option == "--no-discovery") {
      line.Serve.Discovery = false;
    } else if (option == "--discovery-port" && hasValue) {
      if (!ParsePort(words[++i], line.Serve.DiscoveryPort)) return Refuse("invalid port: " + words[i]);
    } else {
      return Refuse("unknown or incomplete option for --serve: " + option);
    }
  }
  return line;
}

// Reads the options of --find; the first word is the option itself.
TCommandLine ParseFind(const std::vector<std::string>& words) {
  constexpr int32_t MaxFindSeconds = 3600;
  TCommandLine line;
  line.Kind = TCommandKind::Find;
  for (std::size_t i = 1; i < words.size(); ++i) {
    const std::string& option = words[i];
    bool hasValue = i + 1 < words.size();
    if (option == "--broadcast" && hasValue) {
      uint32_t address = ResolveHost(words[++i]);
      if (address == ws::AddressNone) return Refuse("invalid address: " + words[i]);
      line.Find.Targets.push_back((ws::ntohl)(address));
    } else if (option == "--seconds" && hasValue) {
      auto seconds = TryStrToInt(words[++i]);
      if (!seconds || *seconds < 0 || *seconds > MaxFindSeconds)
        return Refuse("invalid seconds: " + words[i]);
      line.Find.Seconds = *seconds;
    } else if (option == "--discovery-port" && hasValue) {
      if (!ParsePort(words[++i], line.Find.DiscoveryPort)) return Refuse("invalid port: " + words[i]);
    } else {
      return Refuse("unknown or incomplete option for --find: " + option);
    }
  }
  return line;
}

TCommandLine ParseJoin(const std::vector<std::string>& words) {
  TCommandLine line;
  line.Kind = TCommandKind::Join;
  if (words.size() < 2 || IsOption(words[1])) return Refuse("--join needs HOST[:PORT]");
  if (!ParseHostAndPort(words[1], line.Join.Host, line.Join.Port))
    return Refuse("invalid port in " + words[1]);
  for (std::size_t i = 2; i < words.size(); ++i) {
    const std::string& option = words[i];
    bool hasValue = i + 1 < words.size();
    if (option == "--name" && hasValue) {
      line.Join.Name = Text(words[++i]);
    } else if (option == "--password" && hasValue) {
      line.Join.Password = Text(words[++i]);
    } else if (std::string why; ParseSound(words, i, line.Sound, why) || !why.empty()) {
      if (!why.empty()) return Refuse(why);
    } else if (ParseFrameRate(words, i, line.FrameRate, why) || !why.empty()) {
      if (!why.empty()) return Refuse(why);
    } else if (IsOption(option)) {
      return Refuse("unknown or incomplete option for --join: " + option);
    } else {
      line.GameArguments.push_back(option);
    }
  }
  return line;
}
}  // namespace

QStringList WithoutSoundOptions(const QStringList& arguments) {
  QStringList kept;
  for (qsizetype i = 0; i < arguments.size(); ++i) {
    if (i > 0 && arguments[i] == QLatin1String("--mute")) continue;
    if (i > 0 && (arguments[i] == QLatin1String("--volume") || arguments[i] == QLatin1String("--fps"))) {
      ++i;  // and its number
      continue;
    }
    kept << arguments[i];
  }
  return kept;
}

TCommandLine ParseCommandLine(const std::vector<std::string>& words) {
  if (words.empty()) return {};
  const std::string& first = words[0];
  if (first == "--help" || first == "-h") return Only(TCommandKind::Help);
  if (first == "--version") return Only(TCommandKind::Version);
  if (first == "--serve") return ParseServe(words);
  if (first == "--join") return ParseJoin(words);
  if (first == "--find") return ParseFind(words);
  if (first == "--bots") return Only(TCommandKind::Bots);
  TCommandLine line;
  for (std::size_t i = 0; i < words.size(); ++i) {
    std::string why;
    if (ParseSound(words, i, line.Sound, why) || ParseFrameRate(words, i, line.FrameRate, why)) continue;
    if (!why.empty()) return Refuse(why);
    if (IsOption(words[i])) return Refuse("unknown option: " + words[i]);
    line.GameArguments.push_back(words[i]);
  }
  return line;
}
