// The visual the X11 windows draw through, chosen among the screen's.
#pragma once

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <string>

namespace platform::x11 {

// A true-colour visual for opaque windows: the default one when it is
// true-colour, else one of 24 bits, else the deepest below 24, else any
// other (32 bits). Null when the screen has none.
const XVisualInfo* chooseTrueColor(const XVisualInfo* visuals, int n, VisualID defaultVisual);

// Why a screen without one cannot be used, e.g. "8-bit PseudoColor visual
// not supported (no TrueColor visual)".
std::string unsupportedVisual(int depth, int visualClass);

} // namespace platform::x11
