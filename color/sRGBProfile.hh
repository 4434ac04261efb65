// The sRGB profile the engine embeds where output declares its colours
// (ICC version 2, display class, RGB, XYZ connection space).
#pragma once

#include <cstddef>

extern const unsigned char srgbProfile[];
extern const size_t srgbProfileSize;
