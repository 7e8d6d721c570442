// Text to integer conversion as the dialogs and the command line do it:
// optional blanks, an optional sign, decimal digits or a $ hexadecimal
// number, and nothing after it.  StrToInt raises the standard conversion
// error "'<text>' is not a valid integer value".
#pragma once

#include <cstdint>
#include <optional>
#include <string>

std::optional<int32_t> TryStrToInt(const std::string& text);
int32_t StrToInt(const std::string& text);
