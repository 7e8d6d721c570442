#include "platform/Files.h"

#include <filesystem>
#include <system_error>

#include "platform/Errors.h"

namespace fs = std::filesystem;

std::string NativePath(std::string_view fileName) {
  std::string path(fileName);
  for (char& c : path)
    if (c == '\\') c = '/';
  return path;
}

char LowerCase1252(char c) {
  auto byte = static_cast<unsigned char>(c);
  if (byte >= 'A' && byte <= 'Z') return static_cast<char>(byte + 0x20);
  // À..Þ except the multiplication sign.
  if (byte >= 0xC0 && byte <= 0xDE && byte != 0xD7) return static_cast<char>(byte + 0x20);
  switch (byte) {
    case 0x8A:
      return static_cast<char>(0x9A);  // Š
    case 0x8C:
      return static_cast<char>(0x9C);  // Œ
    case 0x8E:
      return static_cast<char>(0x9E);  // Ž
    case 0x9F:
      return static_cast<char>(0xFF);  // Ÿ
    default:
      return c;
  }
}

std::string LowerCase(std::string_view text) {
  std::string result(text);
  for (char& c : result) c = LowerCase1252(c);
  return result;
}

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (LowerCase1252(a[i]) != LowerCase1252(b[i])) return false;
  return true;
}

namespace {

// The entry of folder whose name equals part without regard to case; an
// exact match is taken without listing the folder.
bool FindEntry(const fs::path& folder, const std::string& part, fs::path& found) {
  std::error_code error;
  fs::path exact = folder / part;
  if (fs::exists(exact, error)) {
    found = exact;
    return true;
  }
  fs::directory_iterator it(folder.empty() ? fs::path(".") : folder, error);
  if (error) return false;
  for (const fs::directory_entry& entry : it) {
    if (SameText(entry.path().filename().string(), part)) {
      found = folder / entry.path().filename();
      return true;
    }
  }
  return false;
}

}  // namespace

std::string FindFile(std::string_view fileName) {
  std::string native = NativePath(fileName);
  if (native.empty()) return {};
  fs::path current = native.front() == '/' ? fs::path("/") : fs::path();
  std::size_t start = 0;
  while (start <= native.size()) {
    std::size_t end = native.find('/', start);
    if (end == std::string::npos) end = native.size();
    std::string part = native.substr(start, end - start);
    start = end + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      current /= part;
      continue;
    }
    fs::path next;
    if (!FindEntry(current, part, next)) return {};
    current = next;
  }
  return current.string();
}

std::ifstream OpenFileRead(const std::string& fileName) {
  std::string path = NativePath(fileName);
  std::error_code error;
  std::ifstream stream;
  if (!fs::is_directory(path, error)) stream.open(path, std::ios::binary);
  if (!stream.is_open()) throw Exception("Cannot open file " + fileName);
  return stream;
}

std::ofstream OpenFileWrite(const std::string& fileName) {
  std::ofstream stream(NativePath(fileName), std::ios::binary | std::ios::trunc);
  if (!stream.is_open()) throw Exception("Cannot create file " + fileName);
  return stream;
}

void ReadBuffer(std::istream& stream, void* buffer, std::size_t count) {
  if (count == 0) return;
  stream.read(static_cast<char*>(buffer), static_cast<std::streamsize>(count));
  if (static_cast<std::size_t>(stream.gcount()) != count) throw Exception("Stream read error");
}

std::uint64_t BytesLeft(std::istream& stream) {
  std::istream::pos_type here = stream.tellg();
  if (here == std::istream::pos_type(-1)) return 0;
  stream.seekg(0, std::ios::end);
  std::istream::pos_type end = stream.tellg();
  stream.seekg(here);
  return end > here ? static_cast<std::uint64_t>(end - here) : 0;
}

std::string ReadToEnd(std::istream& stream) {
  std::string data;
  char chunk[4096];
  while (stream.read(chunk, sizeof chunk) || stream.gcount() > 0)
    data.append(chunk, static_cast<std::size_t>(stream.gcount()));
  return data;
}
