// Fuzz target: PDF input through the registry to the PDF reader and its
// script (page count from the cross-reference data), then drawn through
// poppler as a document's pages are when their pixels are wanted: the first
// page by the reader, and a later one of the same document, gray or colour
// as the input says. The resolution is small (10 to 20 dpi) so that a run
// stays short; a page of more than 4 million pixels even so is not drawn.
#include "fuzz/FuzzTarget.hh"
#include "image/Image.hh"
#include "image/ImageCodec.hh"
#include "pdfreader/pdf_reader.hh"
#include "pdfreader/poppler_page.hh"

#include <cstdlib>
#include <sstream>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
  // the script beside the sources
  setenv("TOLM_RESOURCE_DIR", TOLM_SOURCE_DIR "/resources", 0);
  return 0;
}

namespace {

constexpr int64_t kMaxPixels = int64_t(1) << 22;

bool smallEnough(const pdfreader::PopplerDocument& doc, int page, int dpi, int& w, int& h)
{
  return doc.pageSize(page, dpi, w, h) && int64_t(w) * h <= kMaxPixels;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  std::string bytes(reinterpret_cast<const char*>(data), size);
  if (bytes.empty() || bytes[0] != '%')
    bytes = "%PDF-1.4\n" + bytes;
  const int dpi = 10 + int(size % 11);
  // a reader that keeps the stream takes it over (negative result)
  auto* in = new std::istringstream(bytes);
  Image image;
  const int result = ImageCodec::Read(in, image, "", "", 0);
  if (result >= 0) {
    delete in;
    return 0;
  }
  auto* reader = dynamic_cast<PDFReader*>(image.getCodec());
  if (!reader || !reader->poppler)
    return 0;
  const pdfreader::PopplerDocument& doc = *reader->poppler;
  int w = 0, h = 0;
  // A page the script drew has its pixels; any other is drawn on first
  // access at the resolution the reader holds, which becomes dpi here.
  if (!image.data && smallEnough(doc, 1, dpi, w, h)) {
    reader->dpi = dpi;
    reader->pageW = image.w = w;
    reader->pageH = image.h = h;
    image.resX = image.resY = dpi;
    image.getRawData();
  }
  const int pages = -result;
  if (pages > 1) {
    const int later = 2 + int(size % unsigned(pages - 1));
    Image drawn;
    if (smallEnough(doc, later, dpi, w, h))
      doc.draw(later, dpi, (size & 1) != 0, drawn);
  }
  return 0;
}
