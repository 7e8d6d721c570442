// A character's look as it travels between clients through the host: the
// race, the hair style and the beard (human) or ears (elf) chosen on the
// creation page.  A plain value with its wire form; the message that
// carries it (MsgLook) is described beside the catalogue in ZULSockets.h.
// Any thread.
#pragma once

#include <cstdint>
#include <string>

class TZULSocketIO;

// The choices as the wire numbers them: 0 is "none" for the hair and the
// option, and a style is its mesh file's number (hair 3 is Cheveux3).
inline constexpr int32_t LookHuman = 0;
inline constexpr int32_t LookElf = 1;
inline constexpr int32_t LookHairStyles = 8;    // Cheveux1 to Cheveux8
inline constexpr int32_t LookOptionStyles = 3;  // Barbe1 to Barbe3, Oreilles1 to Oreilles3

struct TPlayerLook {
  int32_t Race = LookHuman;
  int32_t Hair = 0;    // 0 for none, else 1 to LookHairStyles
  int32_t Option = 0;  // beard or ears: 0 for none (humans only), else 1 to LookOptionStyles
  friend bool operator==(const TPlayerLook&, const TPlayerLook&) = default;
};

// The creation page's starting choice: a human without hair or beard.  It
// is also how every client draws a player that never sent a look, so a
// player who chose nothing looks the same on every screen.
inline constexpr TPlayerLook DefaultLook{};

// Whether every field is one of the creation page's choices; an elf always
// has ears.
bool ValidLook(const TPlayerLook& look);
// The wire form: race, hair, option as three packed integers.
std::string EncodeLook(const TPlayerLook& look);
// Reads a look at io's read position; it must be the rest of the current
// payload exactly.  A payload too short is "Erreur de flux 2"; bytes left
// over or a value outside the choices is "Apparence invalide".
TPlayerLook ReadLook(TZULSocketIO& io);
