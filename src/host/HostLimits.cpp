#include "host/HostLimits.h"

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
