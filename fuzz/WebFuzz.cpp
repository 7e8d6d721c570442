// Requests to the built-in web server: up to four peers send any bytes to
// the web port of a host whose folder holds some of the offered files
// (names in other letter cases, one empty, one larger than the peers'
// receive buffers).  Beyond the sanitizers it checks that a connection never
// holds much more than one request line, that every answer is an HTTP/1.0
// answer, and that a download the peer received to its end carries exactly
// the file its header names, as long as its header says.  The target works
// in the host's folder: name its inputs and corpora by absolute paths.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "FuzzSupport.h"
#include "HostDriver.h"
#include "host/WebSessions.h"

namespace {

constexpr int32_t MaxHeldBytes = TWebSession::MaxRequestLineBytes + TSocketIO::ReceiveChunkBytes;

// The files in the host's folder, by the name a download's header gives.
std::map<std::string, std::string> MakeFolder() {
  std::string folder = ScratchFolder() + "/web";
  std::filesystem::create_directories(folder + "/data");
  std::map<std::string, std::string> files;
  auto make = [&](const std::string& path, const std::string& name, std::size_t size, char seed) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(seed + i * 7 + i / 251);
    std::ofstream(folder + "/" + path, std::ios::binary) << bytes;
    files[name] = bytes;
  };
  make("VAROzuvod.ZIP", "VAROZUVOD.ZIP", 3000, 'z');
  make("VAROzuvod.exe", "VAROZUVOD.EXE", 0, 'e');
  make("data/Tris.md2", "TRIS.MD2", 70000, 'm');
  make("data/knight.pcx", "KNIGHT.PCX", 1500, 'k');
  Require(::chdir(folder.c_str()) == 0, "the host's folder is there");
  return files;
}

class TWebDriver : public THostDriver {
 public:
  TWebDriver() : THostDriver(true), FFiles(MakeFolder()) { PeerReceiveBufferBytes = 4096; }

 protected:
  bool HasOutput(TSessionItem& session) override {
    return !static_cast<TWebSession&>(session).IO().OutBuffer().empty();
  }

  void Received(TFuzzPeer& peer) override {
    const std::string& got = peer.Received;
    static const std::string Status = "HTTP/1.0 ";
    Require(got.compare(0, std::min(got.size(), Status.size()), Status, 0,
                        std::min(got.size(), Status.size())) == 0,
            "an answer opens with its HTTP/1.0 status line");
    if (!peer.HostClosed) return;
    static const std::string Download = "HTTP/1.0 200 OK\r\nContent-type: application/octet-stream\r\n";
    if (got.compare(0, Download.size(), Download) != 0) return;
    std::size_t headerEnd = got.find("\r\n\r\n");
    Require(headerEnd != std::string::npos, "a download's header ends with an empty line");
    std::size_t lengthAt = got.find("Content-length: ");
    std::size_t nameAt = got.find("filename=");
    Require(lengthAt < headerEnd && nameAt < headerEnd, "a download's header gives its length and name");
    std::size_t length = std::stoul(got.substr(lengthAt + 16, got.find("\r\n", lengthAt) - lengthAt - 16));
    std::string name = got.substr(nameAt + 9, got.find("\r\n", nameAt) - nameAt - 9);
    std::string body = got.substr(headerEnd + 4);
    Require(body.size() == length, "a download carries as many bytes as its header says");
    auto file = FFiles.find(name);
    Require(file != FFiles.end() && file->second == body, "a download carries the file it names");
  }

  void CheckHost() override {
    TSessionList& sessions = Server().Connections();
    for (int i = 0; i < sessions.Count(); ++i)
      Require(static_cast<TWebSession*>(sessions[i])->IO().InCount() <= MaxHeldBytes,
              "a web connection holds at most one request line unread");
    Require(List.Count() == sessions.Count(), "one row per connection");
  }

 private:
  std::map<std::string, std::string> FFiles;
};

TWebDriver* Driver = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  Driver = new TWebDriver;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  Driver->Run(data, size);
  return 0;
}
