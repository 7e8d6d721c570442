#include "host/HostLimits.h"

#include <algorithm>

#include "platform/Text1252.h"

const std::string ServerFullText = "Serveur complet"_cp;
const std::string AddressFullText = "Trop de connexions depuis votre adresse"_cp;
const std::string MutedText = "Muet : trop de messages"_cp;

bool TChatGate::Admit(uint32_t now) {
  if (FLimit <= 0) return true;
  auto kept = static_cast<std::size_t>(FLimit) + 1;
  if (FTimes.size() < kept) {
    FTimes.push_back(now);
  } else {
    FTimes[FOldest] = now;
    FOldest = (FOldest + 1) % kept;
  }
  return !Muted(now);
}

// More than Limit lines within the window: the oldest of the last Limit + 1
// is still inside it.
bool TChatGate::Muted(uint32_t now) const {
  if (FLimit <= 0 || FTimes.size() <= static_cast<std::size_t>(FLimit)) return false;
  return static_cast<uint32_t>(now - FTimes[FOldest]) < WindowMs;
}

const std::string TooManyGuessesText = "Trop d'essais : réessayez dans une minute"_cp;
const std::string NameTakenText = "Nom déjà utilisé"_cp;

bool TRateGate::Admit(uint32_t now) {
  if (FLimit == 0) return true;
  if (FTimes.size() < FLimit) {
    FTimes.push_back(now);
    return true;
  }
  if (now - FTimes[FOldest] < FWindowMs) return false;
  FTimes[FOldest] = now;
  FOldest = (FOldest + 1) % FLimit;
  return true;
}

uint32_t TGuessGate::Refused(const std::string& source, uint32_t now) {
  if (FSources.size() >= MaxSources && FSources.find(source) == FSources.end()) MakeRoom(now);
  if (FSources.size() >= MaxSources) return 0;
  TSource& entry = FSources[source];
  std::vector<uint32_t>& refusals = entry.Refusals;
  refusals.push_back(now);
  if (refusals.size() > static_cast<std::size_t>(RefusalsAllowed)) refusals.erase(refusals.begin());
  if (refusals.size() < static_cast<std::size_t>(RefusalsAllowed) ||
      now - refusals.front() >= RefusalWindowMs)
    return 0;
  refusals.clear();
  // Guessing again soon after a hold ended (or during it, through a
  // connection opened before it) doubles the hold.
  const bool again = entry.HoldMs > 0 && now - entry.HoldStart < entry.HoldMs + LongestHoldMs;
  entry.HoldMs = again ? std::min(entry.HoldMs * 2, LongestHoldMs) : FirstHoldMs;
  entry.HoldStart = now;
  return entry.HoldMs;
}

bool TGuessGate::HeldBack(const std::string& source, uint32_t now) const {
  auto entry = FSources.find(source);
  return entry != FSources.end() && Holding(entry->second, now);
}

// Sources whose refusals are all older than the window and that are not
// held have nothing left to count.
void TGuessGate::MakeRoom(uint32_t now) {
  for (auto entry = FSources.begin(); entry != FSources.end();) {
    const TSource& source = entry->second;
    const bool counting = !source.Refusals.empty() && now - source.Refusals.back() < RefusalWindowMs;
    if (!Holding(source, now) && !counting)
      entry = FSources.erase(entry);
    else
      ++entry;
  }
}

bool ConstantTimeEquals(std::string_view a, std::string_view b) {
  // Every byte of a is read whatever b holds; the lengths are compared too,
  // without an early return.
  unsigned difference = a.size() == b.size() ? 0u : 1u;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const unsigned char other = i < b.size() ? static_cast<unsigned char>(b[i]) : 0u;
    difference |= static_cast<unsigned char>(a[i]) ^ other;
  }
  return difference == 0;
}

std::string CleanName(std::string_view name) {
  std::string clean;
  for (char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte != 0x7F) clean += c;
  }
  const std::size_t first = clean.find_first_not_of(' ');
  if (first == std::string::npos) return "guest";
  clean = clean.substr(first, MaxNameBytes);
  clean.erase(clean.find_last_not_of(' ') + 1);
  return clean;
}

// ASCII only, whatever the process's locale: names travel in cp1252.
static char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  return true;
}
