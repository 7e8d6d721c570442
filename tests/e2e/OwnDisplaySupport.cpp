#include "OwnDisplaySupport.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include <cstring>

namespace {
constexpr int StartWaitMs = 10000;
constexpr unsigned long ModeClockHz = 40000000;
}  // namespace

struct TOwnDisplay::TConnection {
  Display* X = nullptr;
  RROutput Output = 0;
};

TOwnDisplay::TOwnDisplay(int width, int height) : FConnection(std::make_unique<TConnection>()) {
  // -displayfd 1: the server picks a free display and writes its number.
  FServer.start("Xvfb", {"-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"});
  while (!FServer.canReadLine() && FServer.waitForReadyRead(StartWaitMs)) {
  }
  QString number = QString::fromLatin1(FServer.readLine()).trimmed();
  if (number.isEmpty()) return;
  FConnection->X = XOpenDisplay((":" + number).toLatin1().constData());
  if (!FConnection->X) return;
  FName = ":" + number;
  Display* x = FConnection->X;
  Window root = DefaultRootWindow(x);
  XRRScreenResources* resources = XRRGetScreenResources(x, root);
  FConnection->Output = resources->outputs[0];
  std::string name = std::to_string(width) + "x" + std::to_string(height);
  XRRModeInfo mode{};
  mode.width = width;
  mode.height = height;
  mode.dotClock = ModeClockHz;
  mode.hTotal = width + 1;
  mode.vTotal = height + 1;
  mode.name = name.data();
  mode.nameLength = static_cast<unsigned>(name.size());
  XRRAddOutputMode(x, FConnection->Output, XRRCreateMode(x, root, &mode));
  XRRFreeScreenResources(resources);
  XSync(x, False);
}

TOwnDisplay::~TOwnDisplay() {
  if (FConnection->X) XCloseDisplay(FConnection->X);
  FServer.terminate();
  FServer.waitForFinished(StartWaitMs);
}

std::string TOwnDisplay::CurrentMode() {
  Display* x = FConnection->X;
  if (!x) return "";
  XRRScreenResources* resources = XRRGetScreenResources(x, DefaultRootWindow(x));
  XRROutputInfo* output = XRRGetOutputInfo(x, resources, FConnection->Output);
  XRRCrtcInfo* crtc = output->crtc ? XRRGetCrtcInfo(x, resources, output->crtc) : nullptr;
  std::string size = crtc ? std::to_string(crtc->width) + "x" + std::to_string(crtc->height) : "off";
  if (crtc) XRRFreeCrtcInfo(crtc);
  XRRFreeOutputInfo(output);
  XRRFreeScreenResources(resources);
  return size;
}
