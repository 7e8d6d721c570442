// Writes the seed corpora of the fuzz targets into <folder>/<target>/:
// pictures, models and motions made with the system's own writers, BMP
// variants laid out by hand (core header, 1 and 4 bits, run-length,
// bit fields, top-down rows), scripts of peers speaking game frames and
// web requests, and scripts of a host speaking to a client.  Usage: fuzz_seeds <folder>.
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>
#include <string>

#include "FuzzScript.h"
#include "models/L3DWriter.h"
#include "models/MD2Writer.h"
#include "models/PCX.h"
#include "net/Discovery.h"
#include "net/ZULSockets.h"
#include "platform/Bitmaps.h"

namespace {

std::filesystem::path Root;

void Seed(const std::string& target, const std::string& name, const std::string& bytes) {
  std::filesystem::create_directories(Root / target);
  std::ofstream(Root / target / name, std::ios::binary) << bytes;
}

std::string Saved(const std::function<void(std::ostream&)>& write) {
  std::ostringstream out;
  write(out);
  return out.str();
}

TBitmap Pattern(int width, int height, TPixelFormat format) {
  TBitmap bitmap(width, height, pf24bit);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      bitmap.SetPixel(x, y,
                      static_cast<uint32_t>((x * 37) << 16 | (y * 53) << 8 | ((x + y) * 11)) & 0xFFFFFF);
  bitmap.SetPixelFormat(format);
  return bitmap;
}

// PCX

void PCXSeeds() {
  struct TSize {
    int Width, Height;
  };
  for (TSize size : {TSize{1, 1}, TSize{5, 3}, TSize{33, 17}, TSize{130, 2}}) {
    TPCXImage image;
    image.Assign(Pattern(size.Width, size.Height, pf8bit));
    Seed("pcx", std::to_string(size.Width) + "x" + std::to_string(size.Height) + ".pcx", image.Encode());
  }
  // Long runs, the highest count, and a count of 0 (repeats to the end).
  TPCXImage flat;
  flat.Assign(TBitmap(200, 3, pf8bit));
  std::string runs = flat.Encode();
  Seed("pcx", "runs.pcx", runs);
  std::string zero = runs.substr(0, 128) + std::string{'\xC0', '\x2A'} + runs.substr(runs.size() - 769);
  Seed("pcx", "count-zero.pcx", zero);
}

// BMP

void Put(std::string& out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
}

// A file with a 40-byte information header; palette entries are four bytes.
std::string Bmp(int32_t width, int32_t height, int bits, uint32_t compression, const std::string& palette,
                const std::string& pixels, const std::string& masks = "") {
  std::string info;
  Put(info, 40, 4);
  Put(info, static_cast<uint32_t>(width), 4);
  Put(info, static_cast<uint32_t>(height), 4);
  Put(info, 1, 2);
  Put(info, static_cast<uint32_t>(bits), 2);
  Put(info, compression, 4);
  Put(info, static_cast<uint32_t>(pixels.size()), 4);
  Put(info, 2835, 4);
  Put(info, 2835, 4);
  Put(info, static_cast<uint32_t>(palette.size() / 4), 4);
  Put(info, 0, 4);
  std::string body = info + masks + palette;
  std::string file = "BM";
  Put(file, static_cast<uint32_t>(14 + body.size() + pixels.size()), 4);
  Put(file, 0, 4);
  Put(file, static_cast<uint32_t>(14 + body.size()), 4);
  return file + body + pixels;
}

std::string Greys(int count) {
  std::string palette;
  for (int i = 0; i < count; ++i) {
    auto v = static_cast<char>(i * 255 / (count > 1 ? count - 1 : 1));
    palette += {v, v, v, 0};
  }
  return palette;
}

void BMPSeeds() {
  for (TPixelFormat format : {pf8bit, pf24bit, pf32bit}) {
    TBitmap bitmap = Pattern(5, 3, format);
    Seed("bmp", "pattern" + std::to_string(static_cast<int>(format)) + ".bmp",
         Saved([&](std::ostream& out) { bitmap.SaveToStream(out); }));
  }
  Seed("bmp", "mono.bmp", Bmp(8, 2, 1, 0, Greys(2), std::string{'\xA5', 0, 0, 0, '\x5A', 0, 0, 0}));
  Seed("bmp", "four.bmp",
       Bmp(3, 2, 4, 0, Greys(16), std::string{'\x12', '\x30', 0, 0, '\x45', '\x60', 0, 0}));
  // Run-length: a run, an absolute run, end of line, a jump, end of picture.
  std::string rle8{'\x03', '\x01', '\x00', '\x03', '\x02', '\x03', '\x04', '\x00', '\x00',
                   '\x00', '\x00', '\x02', '\x01', '\x01', '\x02', '\x05', '\x00', '\x01'};
  Seed("bmp", "rle8.bmp", Bmp(4, 4, 8, 1, Greys(8), rle8));
  std::string rle4{'\x04', '\x12', '\x00', '\x00', '\x00', '\x04', '\x34', '\x56', '\x00', '\x01'};
  Seed("bmp", "rle4.bmp", Bmp(4, 2, 4, 2, Greys(16), rle4));
  std::string masks;
  Put(masks, 0xF800, 4);
  Put(masks, 0x07E0, 4);
  Put(masks, 0x001F, 4);
  Seed("bmp", "bitfields565.bmp",
       Bmp(2, 2, 16, 3, "", std::string{'\x1F', 0, '\xE0', '\x07', 0, '\xF8', 0, 0, 1, 2, 3, 4}, masks));
  Seed("bmp", "topdown.bmp", Bmp(2, -2, 24, 0, "", std::string(16, '\x7F')));
  // The 12-byte core header with three-byte palette entries.
  std::string core;
  Put(core, 12, 4);
  Put(core, 2, 2);
  Put(core, 2, 2);
  Put(core, 1, 2);
  Put(core, 8, 2);
  std::string corePalette = std::string{0, 0, 0, '\xFF', '\xFF', '\xFF'};
  std::string corePixels = std::string{0, 1, 0, 0, 1, 0, 0, 0};
  std::string coreFile = "BM";
  Put(coreFile, static_cast<uint32_t>(14 + core.size() + corePalette.size() + corePixels.size()), 4);
  Put(coreFile, 0, 4);
  Put(coreFile, static_cast<uint32_t>(14 + core.size() + corePalette.size()), 4);
  Seed("bmp", "core.bmp", coreFile + core + corePalette + corePixels);
}

// S3D, L3D, M3D

TShortName Name(const char* text) { return TShortName::From(text); }

void ModelSeeds() {
  TSkeleton skeleton;
  skeleton.Bones = {{Name("Bassin"), -1, {0, 9, 0}, 0, {0, 1, 0}},
                    {Name("Torse"), 0, {0, 3, 0}, 15, {1, 0, 0}},
                    {Name("Tete"), 1, {0, 4, 0}, -10, {0, 0, 1}},
                    {Name("Cuisse"), 0, {1, -1, 0}, 90, {0, 1, 0}}};
  Seed("s3d", "biped.S3D", Saved([&](std::ostream& out) { WriteS3D(skeleton, out); }));
  Seed("s3d", "empty.S3D", Saved([&](std::ostream& out) { WriteS3D(TSkeleton(), out); }));

  TMesh mesh;
  mesh.Vertices = {
      {{0, 0, 0}, {0, 1, 0}}, {{1, 0, 0}, {0, 1, 0}}, {{0, 1, 0}, {0, 0, 1}}, {{1, 1, 1}, {1, 0, 0}}};
  mesh.Triangles = {{{{0, 0, 0}, {1, 1, 0}, {2, 0, 1}}}, {{{1, 1, 0}, {3, 1, 1}, {2, 0, 1}}}};
  mesh.Table12 = {TL3DRecord12{}};
  mesh.Groups = {{0, 1}, {1, 0}};
  mesh.Table24 = {TL3DRecord24{}};
  mesh.Bindings = {{Name("Bassin"), 0, 1}, {Name("Torse"), 2, 3}};
  mesh.Weights = {{0, 1}, {1, 0.5f}, {2, 1}, {3, 0.25f}};
  Seed("l3d", "mesh.L3D", Saved([&](std::ostream& out) { WriteL3D(mesh, out); }));
  Seed("l3d", "empty.L3D", Saved([&](std::ostream& out) { WriteL3D(TMesh(), out); }));

  TMotion motion;
  motion.Duration = 1200;
  motion.Tracks = {{Name(""), 0, 0, 0, 0}, {Name("Torse"), 1, 2, 1, 1}, {Name("Tete"), 3, 2, 0, 1}};
  motion.RotationKeys = {{0, 0, 0, 0, 1}, {0, 0, 0.7f, 0, 0.7f}, {1, 0, 0, 0, 1}};
  motion.PositionKeys = {{0, 0, 9, 0}, {1, 0, 9.5f, 0}};
  Seed("m3d", "walk.M3D", Saved([&](std::ostream& out) { WriteM3D(motion, out); }));
  Seed("m3d", "empty.M3D", Saved([&](std::ostream& out) { WriteM3D(TMotion(), out); }));
}

// MD2

void MD2Seeds() {
  TMD2ModelData model;
  model.SkinWidth = 64;
  model.SkinHeight = 32;
  model.SkinNames = {"knight.pcx"};
  model.SkinCoords = {{0, 0}, {63, 0}, {0, 31}, {63, 31}};
  model.Triangles = {
      {{0, 1, 2}, {0, 1, 2}}, {{0, 2, 3}, {0, 2, 3}}, {{0, 3, 1}, {1, 3, 0}}, {{1, 3, 2}, {2, 3, 1}}};
  model.Frames = {MakeMD2Frame("stand01", {{0, 0, 0}, {10, 0, 0}, {0, 10, 0}, {0, 0, 24}}),
                  MakeMD2Frame("stand02", {{0, 0, 1}, {11, 0, 0}, {0, 9, 0}, {1, 1, 25}})};
  model.Commands = {3, 0, 0, 0, 0, 1, 0, 1, 0, 2, 0};
  Seed("md2", "tetra.md2", WriteMD2(model));
  model.Frames.resize(1);
  model.Commands.clear();
  Seed("md2", "one-frame.md2", WriteMD2(model));
  // Found by the fuzzer: frames without vertices (once an index into an
  // empty frame table).
  model.Triangles.clear();
  model.Frames[0].Vertices.clear();
  model.Frames.push_back(model.Frames[0]);
  Seed("md2", "frames-without-vertices.md2", WriteMD2(model));
}

// Game frames and web requests

std::string Frame(int32_t id, const std::string& payload) {
  return EncodeIntegers({id, static_cast<int32_t>(payload.size())}) + payload;
}

void FrameSeeds() {
  std::string join = Frame(3, "Alice");
  std::string walk = Frame(9, EncodeIntegers({130, 128}));
  std::string stop = Frame(8, EncodeIntegers({130, 128, 3}));
  Seed("frames", "login-walk-leave",
       OpConnect() + OpSend(0, join) + OpSend(0, Frame(5, "Bonjour")) + OpSend(0, walk) + OpSend(0, stop) +
           OpSend(0, Frame(7, "")) + OpPeer(TStep::Close, 0));
  Seed("frames", "two-players",
       OpConnect() + OpConnect() + OpSend(0, join) + OpSend(1, Frame(3, "Bob")) +
           OpSend(1, Frame(5, "salut")) + OpSend(0, walk) + OpPeer(TStep::Reset, 1) +
           OpSend(0, Frame(5, "parti ?")));
  Seed("frames", "password",
       OpOption(1) + OpConnect() + OpConnect() + OpSend(0, Frame(1, "mot") + join) +
           OpSend(1, Frame(1, "faux") + Frame(3, "Eve")) + OpSend(0, Frame(5, "ok")));
  std::string split;
  for (char byte : join + walk) split += OpSend(0, std::string(1, byte));
  Seed("frames", "split", OpConnect() + split);
  Seed("frames", "unknown-and-bad",
       OpConnect() + OpSend(0, join + Frame(42, "??") + Frame(8, EncodeInteger(300)) +
                                   std::string{'\x81', '\x80', '\x80', '\x80', '\x80', '\x00'}));
  // The longest chat line a frame may carry, sent in two pieces.
  std::string longest = Frame(5, std::string(MaxPayloadBytes, 'x'));
  Seed("frames", "longest-chat",
       OpConnect() + OpConnect() + OpSend(0, join) + OpSend(1, Frame(3, "Bob")) +
           OpSend(0, longest.substr(0, 40000)) + OpSend(0, longest.substr(40000)));
  Seed("frames", "huge-length", OpConnect() + OpSend(0, EncodeIntegers({5, 0x7FFFFFFF}) + "abc"));
  Seed("frames", "write-events",
       OpConnect() + OpConnect() + OpSend(0, join) + OpPeer(TStep::Write, 0) + OpSend(1, Frame(3, "Bob")) +
           OpPeer(TStep::Write, 1) + OpPeer(TStep::Close, 0));
}

void WebSeeds() {
  Seed("web", "page", OpConnect() + OpSend(0, "GET / HTTP/1.0\r\n\r\n"));
  std::string all;
  int peer = 0;
  for (const char* route : {"/client ", "/client1 ", "/data ", "/data1 ", "/data2 ", "/data3 ", "/data4 "}) {
    Seed("web", std::string("route") + std::to_string(peer),
         OpConnect() + OpSend(0, std::string("GET ") + route + "HTTP/1.0\r\nUser-Agent: seed\r\n\r\n"));
    ++peer;
  }
  Seed("web", "pieces",
       OpConnect() + OpSend(0, "GE") + OpSend(0, "T /data1") + OpSend(0, " HTTP/1.0\r") +
           OpSend(0, "\nHost: x\r\n") + OpSend(0, "Accept: */*\r\n\r\n"));
  Seed("web", "long-line", OpConnect() + OpSend(0, std::string(9000, 'A')));
  Seed("web", "not-get", OpConnect() + OpSend(0, "POST /client HTTP/1.0\r\n\r\n"));
  Seed("web", "reset-mid-download",
       OpConnect() + OpConnect() + OpSend(0, "GET /data1 HTTP/1.0\r\n\r\n") + OpPeer(TStep::Reset, 0) +
           OpSend(1, "GET /client HTTP/1.0\r\n\r\n"));
  Seed("web", "close-before-request", OpConnect() + OpSend(0, "GET /da") + OpPeer(TStep::Close, 0));
}

// A host's frames to a client whose own number is 7.
void ClientSeeds() {
  std::string welcome = Frame(3, EncodeInteger(7)) + Frame(8, EncodeIntegers({7, 0, 127, 126, 0})) +
                        Frame(4, EncodeIntegers({12, 0, 127, 128, 1}) + "Bob") +
                        Frame(4, EncodeIntegers({13, 0, 127, 129, 0}) + "Ann");
  Seed("client", "game",
       OpHost(welcome) + OpSay("salut") + OpHost(Frame(6, "")) +
           OpHost(Frame(5, EncodeInteger(12) + "hello")) + OpHost(Frame(9, EncodeIntegers({12, 130, 128}))) +
           OpTime(50) + OpHost(Frame(8, EncodeIntegers({12, 0, 130, 128, 3}))) +
           OpHost(Frame(9, EncodeIntegers({7, 120, 120}))) + OpTime(100) +
           OpHost(Frame(9, EncodeIntegers({7, 127, 140}))) + OpTime(3) +
           OpHost(Frame(9, EncodeIntegers({7, 100, 100}))) + OpTime(200) +
           OpHost(Frame(7, EncodeIntegers({12, 1}))) + OpHost(Frame(7, EncodeIntegers({13, 0}))));
  std::string split;
  for (char byte : welcome + Frame(5, EncodeInteger(13) + "coupe")) split += OpHost(std::string(1, byte));
  Seed("client", "split", split);
  Seed("client", "unknown-and-bad",
       OpHost(welcome + Frame(42, "??") + Frame(5, EncodeInteger(999) + "x") + Frame(4, EncodeInteger(14)) +
              Frame(7, EncodeIntegers({7, 0})) + Frame(9, EncodeIntegers({12, -1, 70000})) +
              Frame(8, EncodeIntegers({13, 0, 300, -5, 9})) + Frame(6, "")));
  Seed("client", "refused", OpHost(Frame(2, "Mot de passe invalide") + Frame(5, EncodeInteger(12) + "x")));
  Seed("client", "oversized", OpHost(welcome) + OpHost(EncodeIntegers({5, MaxPayloadBytes + 1}) + "abc"));
  Seed("client", "endless-integer",
       OpHost(welcome + std::string{'\x05', '\x80', '\x80', '\x80', '\x80', '\x80', '\x80'}));
  std::string longest = Frame(5, EncodeInteger(12) + std::string(MaxPayloadBytes - 1, 'x'));
  Seed("client", "longest-chat",
       OpHost(welcome) + OpHost(longest.substr(0, 30000)) + OpHost(longest.substr(30000)));
}

}  // namespace

// Discovery datagrams: queries and answers as finders and hosts send them.
void DiscoverySeeds() {
  Seed("discovery", "query", EncodeQuery());
  Seed("discovery", "smallest-query", EncodeQuery({}, MinQueryBytes));
  Seed("discovery", "challenge", EncodeChallenge(std::string(CookieBytes, 'c')));
  TGameAnnounce announce;
  announce.GamePort = 2048;
  announce.Players = 3;
  announce.Password = true;
  announce.HostName = "salon";
  Seed("discovery", "answer", EncodeAnswer(announce, MinQueryBytes));
}

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: fuzz_seeds <folder>\n";
    return 2;
  }
  Root = argv[1];
  PCXSeeds();
  BMPSeeds();
  ModelSeeds();
  MD2Seeds();
  FrameSeeds();
  WebSeeds();
  DiscoverySeeds();
  ClientSeeds();
  return 0;
}
