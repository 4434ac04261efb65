// PDF page drawing through poppler's C++ interface.
#include "pdfreader/poppler_page.hh"

#include "fonts/system_fonts.hh"

#include "image/Image.hh"
#include "utility/Saturate.hh"

#include <poppler/cpp/poppler-document.h>
#include <poppler/cpp/poppler-global.h>
#include <poppler/cpp/poppler-image.h>
#include <poppler/cpp/poppler-page-renderer.h>
#include <poppler/cpp/poppler-page.h>


#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace pdfreader {
namespace {

// A page larger than this many pixels is refused rather than allocated: a
// hostile media box can ask for terabytes.
constexpr int64_t kMaxPixels = int64_t(1) << 28;
constexpr std::streamsize kReadChunk = 1 << 20;

void popplerMessage(const std::string& msg, void*)
{
  std::fprintf(stderr, "poppler: %s\n", msg.c_str());
}

bool readAll(std::istream& in, std::vector<char>& out)
{
  in.clear();
  in.seekg(0, std::ios::beg);
  if (!in)
    return false;
  while (in) {
    size_t old = out.size();
    if (old > size_t(std::numeric_limits<int>::max()) - size_t(kReadChunk))
      return false; // poppler takes the length as an int
    out.resize(old + size_t(kReadChunk));
    in.read(out.data() + old, kReadChunk);
    out.resize(old + size_t(in.gcount()));
  }
  return !in.bad() && !out.empty();
}

bool fail(Image& image, const char* why, int page)
{
  std::fprintf(stderr, "PDF page %d: %s\n", page, why);
  image.setRawData(nullptr);
  image.resize(0, 0);
  return false;
}

} // namespace

bool renderPage(std::istream& in, Image& image, int page, int dpi)
{
  static bool hooked = false;
  if (!hooked) {
    poppler::set_debug_error_function(popplerMessage, nullptr);
    // poppler finds fonts through fontconfig: started (and, under the leak
    // checker, handed back at exit) in one place for the process.
    fonts::startFontconfig();
    hooked = true;
  }
  if (dpi <= 0)
    return fail(image, "bad resolution", page);

  std::vector<char> bytes;
  if (!readAll(in, bytes))
    return fail(image, "cannot read the document", page);

  std::unique_ptr<poppler::document> doc(
      poppler::document::load_from_raw_data(bytes.data(), int(bytes.size())));
  if (!doc || doc->is_locked())
    return fail(image, "poppler cannot open the document", page);
  if (page < 1 || page > doc->pages())
    return fail(image, "no such page", page);
  std::unique_ptr<poppler::page> p(doc->create_page(page - 1));
  if (!p)
    return fail(image, "poppler cannot open the page", page);

  // The bitmap is sized from the crop box as a viewer shows it: poppler turns
  // the page by its own /Rotate, so a quarter turn swaps the sides.
  poppler::rectf box = p->page_rect(poppler::crop_box);
  double bw = box.width(), bh = box.height();
  poppler::page::orientation_enum o = p->orientation();
  if (o == poppler::page::landscape || o == poppler::page::seascape)
    std::swap(bw, bh);
  int64_t w = saturate_cast<int64_t>(bw * dpi / 72);
  int64_t h = saturate_cast<int64_t>(dpi * bh / 72);
  if (w <= 0 || h <= 0 || w > std::numeric_limits<int>::max() / 3 ||
      h > std::numeric_limits<int>::max() || w * h > kMaxPixels)
    return fail(image, "page size out of range", page);

  poppler::page_renderer renderer;
  renderer.set_render_hint(poppler::page_renderer::antialiasing, true);
  renderer.set_render_hint(poppler::page_renderer::text_antialiasing, true);
  renderer.set_paper_color(0xffffffff);
  renderer.set_image_format(poppler::image::format_argb32);
  poppler::image drawn = renderer.render_page(p.get(), dpi, dpi);
  if (!drawn.is_valid() || drawn.format() != poppler::image::format_argb32)
    return fail(image, "poppler cannot draw the page", page);

  Image out;
  out.bps = 8;
  out.spp = 3;
  try {
    out.resize(int(w), int(h));
  } catch (const std::exception&) {
    return fail(image, "out of memory", page);
  }
  uint8_t* dst = out.getRawData();
  if (!dst)
    return fail(image, "out of memory", page);
  const size_t rowBytes = size_t(w) * 3;
  std::memset(dst, 0xff, rowBytes * size_t(h));
  // poppler rounds its bitmap size its own way; copy what overlaps and keep
  // white where its bitmap is a pixel short.
  const int cw = std::min<int>(int(w), drawn.width());
  const int ch = std::min<int>(int(h), drawn.height());
  const char* src = drawn.const_data();
  const int srcStride = drawn.bytes_per_row();
  for (int y = 0; y < ch; ++y) {
    const uint8_t* s = reinterpret_cast<const uint8_t*>(src + size_t(y) * size_t(srcStride));
    uint8_t* d = dst + size_t(y) * rowBytes;
    for (int x = 0; x < cw; ++x, s += 4, d += 3) {
      // 32-bit 0xAARRGGBB words, little-endian in memory: B G R A
      d[0] = s[2];
      d[1] = s[1];
      d[2] = s[0];
    }
  }
  out.setResolution(dpi, dpi);
  bool metaChanged = image.resX != dpi || image.resY != dpi;
  image.copyTransferOwnership(out);
  image.setResolution(dpi, dpi);
  if (metaChanged)
    image.metaDirty = true;
  image.setRawData();
  return true;
}

} // namespace pdfreader
