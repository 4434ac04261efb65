// Writes an RGBA buffer as a PNG file, for looking at what an off-screen
// window shows.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// 8-bit RGBA, rows of w * 4 bytes. Written to a temporary name and renamed,
// so a viewer never sees half a file. False (with one line on standard
// error) on failure.
bool writePNG(const std::string& path, const uint8_t* rgba, uint32_t w, uint32_t h);

} // namespace platform
