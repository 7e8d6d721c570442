#include "platform/DisplayMode.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include "platform/Convert.h"

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

// What is needed to put the primary output back as it was.
struct TXRandRDisplay::TSaved {
  Display* Connection = nullptr;
  RRCrtc Crtc = 0;
  RRMode Mode = 0;
  int X = 0, Y = 0;
  Rotation Rotate = RR_Rotate_0;
  std::vector<RROutput> Outputs;
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
  XRRCrtcInfo* crtc = outputInfo && outputInfo->crtc ? XRRGetCrtcInfo(display, resources, outputInfo->crtc) : nullptr;
  RRMode wanted = outputInfo ? FindMode(resources, outputInfo, mode.Width, mode.Height) : 0;
  if (crtc && wanted) {
    FSaved.reset(new TSaved{display, outputInfo->crtc, crtc->mode, crtc->x, crtc->y, crtc->rotation,
                            std::vector<RROutput>(crtc->outputs, crtc->outputs + crtc->noutput)});
    XRRSetCrtcConfig(display, resources, outputInfo->crtc, CurrentTime, crtc->x, crtc->y, wanted,
                     crtc->rotation, crtc->outputs, crtc->noutput);
    XSync(display, False);
  }
  if (crtc) XRRFreeCrtcInfo(crtc);
  if (outputInfo) XRRFreeOutputInfo(outputInfo);
  XRRFreeScreenResources(resources);
  if (!FSaved) XCloseDisplay(display);
}

void TXRandRDisplay::Restore() {
  if (!FSaved) return;
  Display* display = FSaved->Connection;
  if (XRRScreenResources* resources = XRRGetScreenResources(display, DefaultRootWindow(display))) {
    XRRSetCrtcConfig(display, resources, FSaved->Crtc, CurrentTime, FSaved->X, FSaved->Y, FSaved->Mode,
                     FSaved->Rotate, FSaved->Outputs.data(), static_cast<int>(FSaved->Outputs.size()));
    XRRFreeScreenResources(resources);
  }
  XSync(display, False);
  XCloseDisplay(display);
  FSaved.reset();
}

TDisplayModeScope::TDisplayModeScope(TDisplaySettings& display, const std::vector<std::string>& arguments)
    : FDisplay(display) {
  if (auto mode = DisplayModeFromArguments(arguments)) FDisplay.Change(*mode);
}

TDisplayModeScope::~TDisplayModeScope() { FDisplay.Restore(); }
