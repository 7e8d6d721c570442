#include "platform/DisplayMode.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>
#include <unistd.h>

#include "platform/Convert.h"
#include "platform/Guardian.h"

std::optional<TDisplayMode> DisplayModeFromArguments(const std::vector<std::string>& arguments) {
  if (arguments.size() < 2) return std::nullopt;
  auto width = TryStrToInt(arguments[0]);
  if (!width) return std::nullopt;
  auto height = TryStrToInt(arguments[1]);
  if (!height) return std::nullopt;
  TDisplayMode mode{*width, *height, 32};
  if (arguments.size() > 2) {
    auto depth = TryStrToInt(arguments[2]);
    if (!depth) return std::nullopt;
    mode.Depth = *depth;
  }
  return mode;
}

// What is needed to put the primary output back as it was: server-side
// ids, valid on any connection to that display.
struct TCrtcSetting {
  RRCrtc Crtc = 0;
  RRMode Mode = 0;
  int X = 0, Y = 0;
  Rotation Rotate = RR_Rotate_0;
  std::vector<RROutput> Outputs;
};

struct TXRandRDisplay::TSaved {
  Display* Connection = nullptr;
  TCrtcSetting Setting;
  // Puts the setting back if the game dies before Restore.
  std::unique_ptr<TGuardian> Guardian;
};

namespace {
RROutput PrimaryOutput(Display* display, Window root, XRRScreenResources* resources) {
  RROutput primary = XRRGetOutputPrimary(display, root);
  if (primary) return primary;
  for (int i = 0; i < resources->noutput; ++i) {
    XRROutputInfo* info = XRRGetOutputInfo(display, resources, resources->outputs[i]);
    bool connected = info && info->connection == RR_Connected && info->crtc;
    if (info) XRRFreeOutputInfo(info);
    if (connected) return resources->outputs[i];
  }
  return 0;
}

RRMode FindMode(XRRScreenResources* resources, XRROutputInfo* output, int width, int height) {
  for (int i = 0; i < output->nmode; ++i)
    for (int k = 0; k < resources->nmode; ++k)
      if (resources->modes[k].id == output->modes[i] && int(resources->modes[k].width) == width &&
          int(resources->modes[k].height) == height)
        return resources->modes[k].id;
  return 0;
}

void Apply(Display* display, const TCrtcSetting& setting) {
  if (XRRScreenResources* resources = XRRGetScreenResources(display, DefaultRootWindow(display))) {
    XRRSetCrtcConfig(display, resources, setting.Crtc, CurrentTime, setting.X, setting.Y, setting.Mode,
                     setting.Rotate, const_cast<RROutput*>(setting.Outputs.data()),
                     static_cast<int>(setting.Outputs.size()));
    XRRFreeScreenResources(resources);
  }
  XSync(display, False);
}

// In the guardian, once the game is gone: a connection of its own, and no
// Xlib handler that would exit() the copy of the game.
void ApplyFromGuardian(const TCrtcSetting& setting) {
  XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
  XSetIOErrorHandler([](Display*) -> int { _exit(0); });
  if (Display* display = XOpenDisplay(nullptr)) {
    Apply(display, setting);
    XCloseDisplay(display);
  }
}

constexpr const char* GuardianName = "varozuvod-mode";
}  // namespace

TXRandRDisplay::TXRandRDisplay() = default;

TXRandRDisplay::~TXRandRDisplay() { Restore(); }

void TXRandRDisplay::Change(const TDisplayMode& mode) {
  Restore();
  Display* display = XOpenDisplay(nullptr);
  if (!display) return;
  int eventBase = 0, errorBase = 0;
  Window root = DefaultRootWindow(display);
  XRRScreenResources* resources =
      XRRQueryExtension(display, &eventBase, &errorBase) ? XRRGetScreenResources(display, root) : nullptr;
  if (!resources) {
    XCloseDisplay(display);
    return;
  }
  RROutput output = PrimaryOutput(display, root, resources);
  XRROutputInfo* outputInfo = output ? XRRGetOutputInfo(display, resources, output) : nullptr;
  XRRCrtcInfo* crtc =
      outputInfo && outputInfo->crtc ? XRRGetCrtcInfo(display, resources, outputInfo->crtc) : nullptr;
  RRMode wanted = outputInfo ? FindMode(resources, outputInfo, mode.Width, mode.Height) : 0;
  if (crtc && wanted) {
    TCrtcSetting setting{outputInfo->crtc, crtc->mode, crtc->x, crtc->y, crtc->rotation, {}};
    setting.Outputs.assign(crtc->outputs, crtc->outputs + crtc->noutput);
    // No guardian, no change: the mode must come back however the game ends.
    auto guardian = std::make_unique<TGuardian>(GuardianName, [setting] { ApplyFromGuardian(setting); });
    if (guardian->Started()) {
      FSaved.reset(new TSaved{display, setting, std::move(guardian)});
      XRRSetCrtcConfig(display, resources, outputInfo->crtc, CurrentTime, crtc->x, crtc->y, wanted,
                       crtc->rotation, crtc->outputs, crtc->noutput);
      XSync(display, False);
    }
  }
  if (crtc) XRRFreeCrtcInfo(crtc);
  if (outputInfo) XRRFreeOutputInfo(outputInfo);
  XRRFreeScreenResources(resources);
  if (!FSaved) XCloseDisplay(display);
}

void TXRandRDisplay::Restore() {
  if (!FSaved) return;
  Apply(FSaved->Connection, FSaved->Setting);
  XCloseDisplay(FSaved->Connection);
  FSaved.reset();  // the mode is back: the guardian stands down
}

TDisplayModeScope::TDisplayModeScope(TDisplaySettings& display, const std::vector<std::string>& arguments)
    : FDisplay(display) {
  if (auto mode = DisplayModeFromArguments(arguments)) FDisplay.Change(*mode);
}

TDisplayModeScope::~TDisplayModeScope() { FDisplay.Restore(); }
