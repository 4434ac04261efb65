#include "platform/Snapshot.hh"

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>

namespace platform {

namespace {

void pngError(png_structp png, png_const_charp message)
{
  std::fprintf(stderr, "snapshot: %s\n", message);
  png_longjmp(png, 1);
}

void pngWarning(png_structp, png_const_charp) {}

} // namespace

bool writePNG(const std::string& path, const uint8_t* rgba, uint32_t w, uint32_t h)
{
  if (!rgba || w == 0 || h == 0)
    return false;
  const std::string temporary = path + ".part";
  FILE* file = std::fopen(temporary.c_str(), "wb");
  if (!file) {
    std::fprintf(stderr, "snapshot: %s: %s\n", temporary.c_str(), std::strerror(errno));
    return false;
  }
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, pngError, pngWarning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  volatile bool ok = false; // read after a longjmp
  if (png && info) {
    if (setjmp(png_jmpbuf(png)) == 0) {
      png_init_io(png, file);
      png_set_compression_level(png, 1); // fast: written on every update
      png_set_IHDR(png, info, w, h, 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
                   PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
      png_write_info(png, info);
      for (uint32_t y = 0; y < h; ++y)
        png_write_row(png, const_cast<png_bytep>(rgba + (size_t)y * w * 4));
      png_write_end(png, nullptr);
      ok = true;
    }
  }
  png_destroy_write_struct(png ? &png : nullptr, info ? &info : nullptr);
  if (std::fclose(file) != 0)
    ok = false;
  if (ok && std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::fprintf(stderr, "snapshot: %s: %s\n", path.c_str(), std::strerror(errno));
    ok = false;
  }
  if (!ok)
    std::remove(temporary.c_str());
  return ok;
}

} // namespace platform
