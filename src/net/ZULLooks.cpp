#include "net/ZULLooks.h"

#include "net/ZULSockets.h"
#include "platform/Errors.h"

bool ValidLook(const TPlayerLook& look) {
  if (look.Race != LookHuman && look.Race != LookElf) return false;
  if (look.Hair < 0 || look.Hair > LookHairStyles) return false;
  const int32_t fewestOptions = look.Race == LookElf ? 1 : 0;
  return look.Option >= fewestOptions && look.Option <= LookOptionStyles;
}

std::string EncodeLook(const TPlayerLook& look) {
  return EncodeIntegers({look.Race, look.Hair, look.Option});
}

TPlayerLook ReadLook(TZULSocketIO& io) {
  TPlayerLook look;
  look.Race = io.ReadInteger();
  look.Hair = io.ReadInteger();
  look.Option = io.ReadInteger();
  // ReadPos stands just past the payload once every byte was read.
  if (io.Message.ReadPos != io.Message.PayloadEnd + 1 || !ValidLook(look))
    throw Exception("Apparence invalide");
  return look;
}
