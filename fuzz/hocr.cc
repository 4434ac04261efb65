// Fuzz target: hOCR parsing with the PDF text layer and the text, HTML and
// RTF writers.
#include "hocr/hocr.hh"
#include "codecs/PDF.hh"
#include "fuzz/FuzzTarget.hh"

#include <sstream>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  fuzz::Input input(data, size);
  const uint8_t choice = input.byte();
  const std::string text = input.rest();
  {
    std::ostringstream pdfOut;
    PDFCodec pdf(&pdfOut, "fuzz");
    pdf.beginPage(612, 792);
    std::istringstream in(text);
    hocr2pdf(in, &pdf, 300, 300, nullptr, "", 1);
  }
  static const char* const formats[] = {"txt", "html", "rtf"};
  std::istringstream in(text);
  std::ostringstream out;
  hocr2pdf(in, nullptr, 1 + choice, 1 + choice, &out, formats[choice % 3], 1);
  return 0;
}
