// The client's side of the game protocol: a TZULClient with its player
// list, its handlers and a chat panel (no window, no OpenGL) takes whatever
// bytes a host sends, in pieces of any size, between walks of the players
// and chat lines of its own.  The input is a script of TClientStep steps
// (FuzzScript.h); a Time step is of 40 ms frames.  Beyond the sanitizers it checks that the local player
// stays first in the list, that the client's unread input stays within one frame and one receive, and that
// after a stream failure the connection is over.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "FuzzScript.h"
#include "FuzzSupport.h"
#include "client/Clients.h"
#include "effects/GLGui.h"
#include "models/L3D.h"
#include "models/L3DWriter.h"
#include "platform/Files.h"
#include "platform/Messages.h"
#include "platform/SocketEvents.h"
#include "platform/Tick.h"
#include "world/ZULPathFinder.h"

namespace {

constexpr int FrameMs = 40;
// Receives per host step before the driver gives up on the client taking
// the bytes (each takes up to a receive's worth).
constexpr int MostReceives = 256;
constexpr int LingerPumpTurns = 200;
constexpr int32_t MaxHeldBytes = 2 * MaxPackedBytes + MaxPayloadBytes + TSocketIO::ReceiveChunkBytes;

// The character files a player is built from, small: a one-bone skeleton,
// empty meshes, one-track motions, 8 by 8 textures.
void WriteCharacterFiles(const std::string& folder) {
  QDir(QString::fromStdString(folder)).mkpath("data/qelt-3d");
  QDir::setCurrent(QString::fromStdString(folder));
  auto file = [](const std::string& stem) { return NativePath("data\\qelt-3d\\" + stem); };
  auto stamp = [](auto& header, uint32_t version) {
    std::memcpy(header.Magic, QELTMagic, sizeof header.Magic);
    header.Version = version;
  };
  TSkeleton skeleton;
  stamp(skeleton, S3DVersion);
  TS3DBone root{};
  root.Name = TShortName::From("root");
  root.Parent = -1;
  root.Axis = {0, 1, 0};
  skeleton.Bones.push_back(root);
  SaveS3D(skeleton, file("Biped.S3D"));
  for (const char* name : {"Corps", "Humain", "Barbe1", "Cheveux5"}) {
    TMesh mesh;
    stamp(mesh, L3DVersion);
    SaveL3D(mesh, file(std::string(name) + ".L3D"));
  }
  for (const char* name : {"Arret", "Parle", "Marche", "Course", "att_poing", "Chute"}) {
    TMotion motion;
    stamp(motion, M3DVersion);
    motion.Duration = 1000;
    TM3DTrack track{};
    track.BoneName = TShortName::From("root");
    motion.Tracks.push_back(track);
    motion.RotationKeys.push_back({0, 0, 0, 0, 1});
    motion.PositionKeys.push_back({0, 0, 0, 0});
    SaveM3D(motion, file(std::string(name) + ".M3D"));
  }
  QImage picture(8, 8, QImage::Format_RGB32);
  picture.fill(Qt::gray);
  for (const char* name : {"Chevalier", "Humain", "Poils"})
    picture.save(QString::fromStdString(file(std::string(name) + ".BMP")), "BMP");
}

// Stands for the client window: the map and the chat panel.
class TFuzzWindow : public TClientOwner {
 public:
  explicit TFuzzWindow(TGLFont& font) : Chat(font) {}
  TMap& SharedMap() override { return Map; }
  TGLMemo* ChatPanel() override { return &Chat; }
  void CloseWindow() override { Closed = true; }

  TMap256 Map;
  TGLMemo Chat;
  bool Closed = false;
};

int Listen(uint16_t& port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), size) != 0 || ::listen(fd, 4) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0)
    Require(false, "the host's listening socket could not be made");
  port = ntohs(address.sin_port);
  return fd;
}

// Bytes the host sent that the client has not received yet.
bool Waiting(int clientFd) {
  char byte;
  return ::recv(clientFd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) > 0;
}

class TClientDriver {
 public:
  TClientDriver() {
    WriteCharacterFiles(ScratchFolder());
    FListening = Listen(FPort);
    SetMessageHook([](const std::string&) {});
  }

  void Run(const uint8_t* data, std::size_t size) {
    TTestClock clock;
    Window = std::make_unique<TFuzzWindow>(FFont);
    auto client = std::make_unique<TZULClient>(*Window, WM_USER, htonl(INADDR_LOOPBACK), FPort);
    int host = ::accept(FListening, nullptr, nullptr);
    Require(host >= 0, "the client connects");
    client->SetPassword("mot");
    client->SetName("guest");
    TScript script(data, size);
    while (!script.AtEnd() && !Window->Closed) {
      switch (static_cast<TClientStep>(script.Byte() % 4)) {
        case TClientStep::Time:
          for (int frames = script.Byte(); frames > 0; --frames) {
            clock.Advance(FrameMs);
            Step([&] { client->Players.Update(GetTickCount()); });
          }
          break;
        case TClientStep::Say: {
          std::string line = script.Bytes();
          Step([&] { client->Say(line); });
          break;
        }
        default:
          Host(*client, host, script.Bytes());
      }
      Require(client->Players.Count() > 0 && client->Players[0] == client->LocalPlayer,
              "the local player stays first");
      Require(client->IO->InCount() <= MaxHeldBytes, "the client holds at most one frame unread");
      Drain(host);
    }
    Step([&] { client->Close(); });
    client.reset();
    Window.reset();
    ::close(host);
    ReleaseSharedMotions();
    // The closed socket lingers until it reads the host's end, and the
    // event source deletes its notifiers from the event loop.
    for (int turn = 0; turn < LingerPumpTurns && LingeringSockets() > 0; ++turn)
      QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    Require(LingeringSockets() == 0, "the client's socket closes");
    // The notifiers left for the event loop go now, so that a run ends with
    // what it allocated freed (libFuzzer looks for leaks otherwise).
    socket_events::CloseAll();
    QCoreApplication::processEvents();
  }

  std::unique_ptr<TFuzzWindow> Window;

 private:
  // Send errors end nothing here: the window would show them.
  template <class TAction>
  void Step(TAction action) {
    try {
      action();
    } catch (const Exception&) {
    }
  }

  void Host(TZULClient& client, int host, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
      ssize_t n = ::send(host, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n <= 0) break;
      sent += static_cast<std::size_t>(n);
    }
    // Read events while bytes wait, as the event source would post them.
    for (int round = 0; round < MostReceives && Waiting(client.Handle()) && !Window->Closed; ++round)
      Step([&] { client.Receive(); });
    if (Window->Closed) Require(client.Disconnected, "a connection that closed its window is over");
  }

  // What the client sent: read and dropped, so its sends never block.
  void Drain(int host) {
    char sink[4096];
    while (::recv(host, sink, sizeof sink, MSG_DONTWAIT) > 0) {
    }
  }

  TGLFont FFont;  // drawn once: the glyph atlas takes a while
  int FListening = -1;
  uint16_t FPort = 0;
};

TClientDriver* Driver = nullptr;

}  // namespace

// The font library keeps its configuration for the life of the process;
// the application that made it is never destroyed (FuzzSupport.h).
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig\n"; }

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  static int argc = 1;
  static char name[] = "varozuvod-fuzz";
  static char* argv[] = {name, nullptr};
  new QGuiApplication(argc, argv);
  StartApplication();
  Driver = new TClientDriver;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  Driver->Run(data, size);
  return 0;
}
