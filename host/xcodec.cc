// Multi-page files, whole-file reads and writes, and documents written page
// by page, for scripts.
#include "host/xcodec.hh"

#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>

#include "hocr/hocr.hh"
#include "image/ImageCodec.hh"
#include "codecs/FileOut.hh"
#include "codecs/PDF.hh"
#include "host/XImage.hh"
#include "image/Image.hh"

XCodec::XCodec(const std::string& file)
{
  std::string name = file;
  const std::string codec = ImageCodec::getCodec(name);
  // The prefix only picks the codec, as it does for writeImage: the file
  // is the name after it.
  std::unique_ptr<FileOut> s(
    new FileOut(name, std::ios::in | std::ios::out | std::ios::trunc | std::ios::binary));
  if (!s->isOpen())
    return;
  writer.reset(ImageCodec::MultiWrite(s.get(), codec, ImageCodec::getExtension(name), ""));
  if (writer)
    stream = std::move(s);
}

XCodec::~XCodec()
{
  // The writer completes the file on its stream before the stream closes.
  writer.reset();
  if (!stream)
    return;
  if (pages == 0 || broken) {
    stream->discard();
    return;
  }
  if (!stream->commit())
    std::cerr << "Codec: error writing the file" << std::endl;
}

bool XCodec::writeMultiImage(XImage& image, int quality, const std::string& compression, int index)
{
  if (!writer || broken)
    return false;
  const std::streamoff before = stream->tellp();
  bool ok = false;
  try {
    ok = writer->Write(image, quality, compression, index);
  } catch (const std::exception& e) {
    std::cerr << "Codec: " << e.what() << std::endl;
  }
  if (ok && *stream) {
    ++pages;
    return true;
  }
  // A page refused before anything was written (no pixels) leaves the
  // file as good as it was; one that failed part-way spoils it.
  if (!*stream || stream->tellp() != before)
    broken = true;
  return false;
}

int tolm::readImage(const std::string& file, XImage& image, const std::string& decompress,
                    int index)
{
  return ImageCodec::Read(file, image, decompress, index);
}

int tolm::readFailure(lua_State* L)
{
  const std::string& why = ImageCodec::readFailure();
  lua_pushlstring(L, why.data(), why.size());
  const int page = ImageCodec::readFailurePage();
  if (page < 0)
    return 1;
  lua_pushinteger(L, page + 1);
  return 2;
}

bool tolm::writeImage(const std::string& file, XImage& image, int quality,
                      const std::string& compression)
{
  return ImageCodec::Write(file, image, quality, compression);
}

namespace {

// Passes the bytes on to the file's buffer and remembers a failure: the
// writer clears its stream's state after reporting one, so the state alone
// does not tell whether everything reached the file.
class FailureWatch : public std::streambuf {
public:
  explicit FailureWatch(std::streambuf* inner) : inner(inner) {}
  bool failed = false;
  bool shut = false; // the document was given up: nothing more goes out

protected:
  int_type overflow(int_type c) override
  {
    if (traits_type::eq_int_type(c, traits_type::eof()))
      return traits_type::not_eof(c);
    if (shut)
      return traits_type::eof();
    if (traits_type::eq_int_type(inner->sputc(traits_type::to_char_type(c)), traits_type::eof())) {
      failed = true;
      return traits_type::eof();
    }
    return c;
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override
  {
    if (shut)
      return 0;
    const std::streamsize done = inner->sputn(s, n);
    if (done != n)
      failed = true;
    return done;
  }
  int sync() override
  {
    if (inner->pubsync() != 0) {
      failed = true;
      return -1;
    }
    return 0;
  }
  pos_type seekoff(off_type off, std::ios_base::seekdir dir, std::ios_base::openmode which) override
  {
    return inner->pubseekoff(off, dir, which);
  }
  pos_type seekpos(pos_type pos, std::ios_base::openmode which) override
  {
    return inner->pubseekpos(pos, which);
  }

private:
  std::streambuf* inner;
};

} // namespace

bool XPDFCodec::outputFailed() const
{
  return out->fail() || (watch && static_cast<const FailureWatch*>(watch.get())->failed);
}

XPDFCodec::XPDFCodec(const std::string& file, const std::string& format,
                     const std::string& creator, const std::string& id1, const std::string& id2,
                     unsigned prevXref, unsigned objBase, unsigned pagesRef, unsigned pageCount)
  : format(format)
{
  open(file, creator, id1, id2, prevXref, objBase, pagesRef, pageCount);
}

void XPDFCodec::open(const std::string& file, const std::string& creator, const std::string& id1,
                     const std::string& id2, unsigned prevXref, unsigned objBase, unsigned pagesRef,
                     unsigned pageCount)
{
  std::unique_ptr<FileOut> owned;
  if (file == "-") {
    if (!std::cout)
      throw std::runtime_error("error opening file");
    out = &std::cout;
  } else {
    // An update goes after the bytes of the existing file, which stay as
    // they are. Either way the document is made beside the file and takes
    // its place only when finished whole.
    const std::ios::openmode mode =
      std::ios::in | std::ios::out | std::ios::binary | (prevXref ? std::ios::app : std::ios::trunc);
    owned.reset(new FileOut(file, mode, prevXref != 0));
    if (!owned->isOpen())
      throw std::runtime_error("error opening file");
    // The stream writes through the watch; closing still closes the file.
    watch.reset(new FailureWatch(owned->rdbuf()));
    static_cast<std::ios&>(*owned).rdbuf(watch.get());
    out = owned.get();
  }
  if (format == "pdf") {
    writer.reset(new PDFCodec(out, creator.c_str(), id1, id2, prevXref, objBase, (int)pagesRef,
                              pageCount));
  } else if (format == "rtf") {
    *out << "{\\rtf1\\ansi\n";
  } else if (format == "html") {
    *out << "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01 Transitional//EN\"\n"
            "\"http://www.w3.org/TR/html4/loose.dtd\">\n"
            "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">\n"
            "</head><body>\n";
  }
  owned.release();
}

XPDFCodec::~XPDFCodec() { close(); }

bool XPDFCodec::close()
{
  if (closed)
    return whole;
  closed = true;
  // Each step on its own: a failed one must not keep the others from
  // closing the document. One line tells of a failure.
  bool ok = true;
  try {
    if (format == "rtf")
      *out << "}\n";
    else if (format == "html")
      *out << "\n</body></html>\n";
    if (writer)
      ok = writer->finish();
  } catch (const std::exception&) {
    ok = false;
  }
  writer.reset(); // finished: its destructor writes nothing more
  if (out == &std::cout) {
    out->flush();
  } else {
    FileOut* f = static_cast<FileOut*>(out);
    out->flush();
    ok = ok && !outputFailed() && !failed;
    // A document cut short leaves the old file as it was.
    if (ok)
      ok = f->commit();
    else
      f->discard();
    delete f;
  }
  out = nullptr;
  // A failure the script was already told of is not told again.
  if (!ok && !failed)
    std::cerr << "PDFCodec: error writing the document" << std::endl;
  whole = ok;
  return ok;
}

void XPDFCodec::discard()
{
  if (closed)
    return;
  closed = true;
  // The writer's tail goes nowhere: a reader of a pipe must not get a
  // document that looks whole.
  if (watch)
    static_cast<FailureWatch*>(watch.get())->shut = true;
  try {
    writer.reset();
  } catch (const std::exception&) {
  }
  if (out == &std::cout) {
    out->flush();
  } else {
    FileOut* f = static_cast<FileOut*>(out);
    f->discard();
    delete f;
  }
  out = nullptr;
}

void XPDFCodec::beginPage(double width, double height)
{
  if (writer)
    writer->beginPage(width, height);
}

bool XPDFCodec::showImage(XImage& image, double x, double y, double w, double h, int quality,
                          const std::string& compression)
{
  if (out == nullptr)
    return false;
  if (!writer)
    return true;
  if (failed)
    return false;
  writer->showImage(image, x, y, w, h, quality, compression);
  out->flush();
  if (outputFailed()) {
    out->clear();
    failed = true;
  }
  return !failed;
}

void XPDFCodec::beginText()
{
  if (writer)
    writer->beginText(0);
}

void XPDFCodec::textTo(int x, int y)
{
  if (writer)
    writer->textTo(x, y);
}

void XPDFCodec::showText(const std::string& font, const std::string& text, int size)
{
  if (writer)
    writer->showText(font, text, size, nullptr);
}

void XPDFCodec::endText()
{
  if (writer)
    writer->endText();
}

bool XPDFCodec::hocr2pdf(const std::string& hocr, int resX, int resY, int page)
{
  if (out == nullptr)
    return false;
  std::istringstream in(hocr);
  // Negative resolutions mean "not given", like 0, rather than huge values.
  return ::hocr2pdf(in, writer.get(), resX > 0 ? (unsigned)resX : 0u,
                    resY > 0 ? (unsigned)resY : 0u, out, writer ? std::string() : format, page);
}

using namespace LuaWrapper;

void exportCodecFunctions(lua_State* L)
{
  ExportToLua<XCodec, FunctionWrapper<&tolm::readImage>>(L, "readImage");
  ExportToLua<XCodec, FunctionWrapper<&tolm::readFailure>>(L, "readFailure");
  ExportToLua<XCodec, FunctionWrapper<&tolm::writeImage, Required, Required, OptionalOr<80>,
                                      Optional>>(L, "writeImage");
}

void exportCodecClass(lua_State* L)
{
  ExportToLua<CtorWrapper<XCodec(const std::string&)>>(L, "new");
  ExportToLua<DtorWrapper<XCodec>>(L, "delete");
  ExportToLua<DtorWrapper<XCodec>>(L, "__gc");
  ExportToLua<MethodWrapper<&XCodec::writeMultiImage>>(L, "writeMultiImage");
}

void exportPDFCodecClass(lua_State* L)
{
  typedef const std::string& S;
  ExportToLua<CtorWrapper<XPDFCodec(S, S, S, S, S, unsigned, unsigned, unsigned, unsigned),
                          Required, Required, Required, Optional, Optional, Optional, Optional,
                          Optional, Optional>>(L, "new");
  ExportToLua<DtorWrapper<XPDFCodec>>(L, "delete");
  ExportToLua<DtorWrapper<XPDFCodec>>(L, "__gc");
  ExportToLua<MethodWrapper<&XPDFCodec::beginPage>>(L, "beginPage");
  ExportToLua<MethodWrapper<&XPDFCodec::showImage>>(L, "showImage");
  ExportToLua<MethodWrapper<&XPDFCodec::hocr2pdf, Required, Required, Required, OptionalOr<1>>>(
    L, "hocr2pdf");
  ExportToLua<MethodWrapper<&XPDFCodec::beginText>>(L, "beginText");
  ExportToLua<MethodWrapper<&XPDFCodec::textTo>>(L, "textTo");
  ExportToLua<MethodWrapper<&XPDFCodec::showText>>(L, "showText");
  ExportToLua<MethodWrapper<&XPDFCodec::endText>>(L, "endText");
  ExportToLua<MethodWrapper<&XPDFCodec::close>>(L, "close");
  ExportToLua<MethodWrapper<&XPDFCodec::discard>>(L, "discard");
}
