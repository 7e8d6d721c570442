// The file layer.  The system writes file names as "data\qelt-3d\Biped.S3D";
// NativePath turns them into paths this platform opens, and FindFile finds a
// file whatever the letter case of its name on disk, for the places where the
// system matches names without regard to case.  It also holds the stream
// helpers the file readers share, with the system's error texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <istream>
#include <string>
#include <string_view>

// The name with every '\' turned into '/'.
std::string NativePath(std::string_view fileName);

// The native path of the existing file whose name equals fileName without
// regard to letter case, folder by folder (an exact match wins); an empty
// string when there is none.
std::string FindFile(std::string_view fileName);

// Windows-1252 letter case: ASCII letters, the accented letters and the
// few letters of 0x80..0x9F.
char LowerCase1252(char c);
std::string LowerCase(std::string_view text);
// The two texts are equal without regard to letter case.
bool SameText(std::string_view a, std::string_view b);

// Opens a file for reading (others may read and write it meanwhile).
// "Cannot open file <name>" when it is missing, a folder or unreadable.
std::ifstream OpenFileRead(const std::string& fileName);
// Creates or truncates a file for writing; "Cannot create file <name>".
std::ofstream OpenFileWrite(const std::string& fileName);

// Reads exactly count bytes; "Stream read error" when the stream ends first.
void ReadBuffer(std::istream& stream, void* buffer, std::size_t count);
// The number of bytes from the stream's position to its end.
std::uint64_t BytesLeft(std::istream& stream);
// Everything from the stream's position to its end.
std::string ReadToEnd(std::istream& stream);
