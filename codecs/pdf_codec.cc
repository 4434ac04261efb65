// The PDF codec: its registry entry, the writer lifecycle, image placement
// and the one-page writeImage.
#include <algorithm>
#include <iostream>

#include "codecs/PDF.hh"
#include "codecs/Resolution.hh"

PDFCodec::PDFCodec()
{
  registerCodec("pdf", this);
}

PDFCodec::PDFCodec(std::ostream* out, const char* creator, const std::string& id1,
                   const std::string& id2, unsigned prevXref, unsigned objBase, int pagesRef,
                   unsigned pageCount)
{
  context = new PDFContext(out, creator, id1, id2, prevXref, objBase, pagesRef, pageCount);
}

PDFCodec::~PDFCodec()
{
  finish();
  delete context;
  context = nullptr;
}

bool PDFCodec::finish()
{
  if (context && !context->finish())
    failed = true;
  return context && !failed;
}

int PDFCodec::readImage(std::istream* stream, Image& image, const std::string& decompress,
                        int index)
{
  if (readHook)
    return readHook(stream, image, decompress, index);
  // No reader linked: recognise PDF and decline, so a PDF file fails with
  // one clear line and other data goes on to the next codec.
  if (hasHeader(*stream))
    std::cerr << "unsupported: reading PDF files" << std::endl;
  return 0;
}

bool PDFCodec::hasHeader(std::istream& stream)
{
  // poppler takes "%PDF-" starting within its first 1024 bytes less the
  // marker's own length
  static const char marker[] = "%PDF-";
  char head[1023];
  stream.read(head, sizeof head);
  const std::streamsize n = stream.gcount();
  stream.clear();
  stream.seekg(0);
  const char* end = head + n;
  return std::search(static_cast<const char*>(head), end, marker, marker + 5) != end;
}

bool PDFCodec::showImage(Image& image, double x, double y, double w, double h, int quality,
                         const std::string& options)
{
  PDFContentStream* c = page("showImage");
  if (!c)
    return false;
  if (image.empty()) {
    std::cerr << "PDFCodec: image without pixels not written" << std::endl;
    return false;
  }
  PDFXObject* object = new PDFXObject(context->xref, image, options, quality);
  context->images.push_back(object);
  object->write(context->out());
  c->operators << "q " << sizeText(w) << " 0 0 " << sizeText(h) << " "
               << quantize(x, kSizeDigits) << " " << quantize(y, kSizeDigits) << " cm "
               << object->resourceName() << " Do Q\n";
  c->procSet |= image.spp < 2 ? 1 : 2;
  context->currentPage->addResource(object);
  return context->good();
}

bool PDFCodec::writeImage(std::ostream* stream, Image& image, int quality,
                          const std::string& compress)
{
  if (image.empty()) {
    std::cerr << "PDFCodec: image without pixels not written" << std::endl;
    return false;
  }
  PDFContext context(stream, "Talveri", "", "", 0, 0, 0, 0);
  PDFXObject* object = new PDFXObject(context.xref, image, compress, quality);
  context.images.push_back(object);
  object->write(context.out());
  // No resolution is 72 dpi, and so is an absurd one where that makes a
  // page readers take.
  int resX = image.resX, resY = image.resY;
  pageResolution(image.w, image.h, resX, resY, 72);
  const double width = image.w * 72.0 / resX, height = image.h * 72.0 / resY;
  if (!pageFits(image.w, image.h, resX, resY))
    std::cerr << "PDFCodec: page of " << quantize(width, kSizeDigits) << " x "
              << quantize(height, kSizeDigits)
              << " pt, outside the 3 to 14,400 pt a PDF page may have" << std::endl;
  context.beginPage(width, height);
  PDFContentStream& c = context.currentPage->content;
  c.operators << "q " << sizeText(width) << " 0 0 " << sizeText(height)
              << " 0 0 cm " << object->resourceName() << " Do Q\n";
  c.procSet |= image.spp < 2 ? 1 : 2;
  context.currentPage->addResource(object);
  return context.finish();
}
