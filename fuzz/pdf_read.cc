// Fuzz target: PDF input through the registry to the PDF reader and its
// script (page count from the cross-reference data), then drawn through
// poppler as a document's pages are when read: the first page by the
// reader, and a later one of the same document, gray, colour or as drawn,
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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  std::string bytes(reinterpret_cast<const char*>(data), size);
  if (bytes.empty() || bytes[0] != '%')
    bytes = "%PDF-1.4\n" + bytes;
  // The resolution from the header's version digit, which bytes added or
  // taken out further on do not move: "%PDF-1.4" draws at 18 dpi, where a
  // pixel is 4 points and an image placed on 4-point steps at 4 points a
  // sample lands on whole pixels at its own size (copied, not resampled).
  const int dpi = 10 + (bytes.size() > 7 ? (unsigned char)bytes[7] : 0) % 11;
  PDFReader::readDpi = dpi;
  PDFReader::readMaxPixels = kMaxPixels;
  // a reader that keeps the stream takes it over (negative result)
  auto* in = new std::istringstream(bytes);
  Image image;
  const int result = ImageCodec::Read(in, image, "", "", 0);
  if (result >= 0) {
    delete in;
    return 0;
  }
  // the first page is drawn by the reader when read, a later one of the
  // same document here, in a format the input chooses
  auto* reader = dynamic_cast<PDFReader*>(image.getCodec());
  if (!reader || !reader->poppler)
    return 0;
  const pdfreader::PopplerDocument& doc = *reader->poppler;
  const int pages = -result;
  if (pages > 1) {
    const int later = 2 + int(size % unsigned(pages - 1));
    int w = 0, h = 0;
    Image drawn;
    if (doc.pageSize(later, dpi, w, h) && int64_t(w) * h <= kMaxPixels)
      doc.draw(later, dpi, pdfreader::PopplerDocument::Format(size % 3), drawn);
  }
  return 0;
}
