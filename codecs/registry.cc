// The registry of codec prototypes and the file and stream entry points.
#include "image/ImageCodec.hh"

#include <cctype>
#include <cstdio>
#include <exception>
#include <iostream>
#include <memory>
#include <sstream>

#include "codecs/FileIn.hh"
#include "codecs/FileOut.hh"
#include "codecs/Loaders.hh"
#include "codecs/PDF.hh"
#include "image/Image.hh"

ImageCodec::loader_ref* ImageCodec::loader = nullptr;
ImageCodec* ImageCodec::last_loader = nullptr;

void ImageCodec::registerCodec(const char* extension, ImageCodec* codec, bool explicitOnly,
                               bool atBack)
{
  loader_ref* e = new loader_ref{extension, codec, codec != last_loader, explicitOnly,
                                 nullptr, nullptr};
  if (!loader) {
    loader = e;
  } else if (atBack) {
    loader_ref* last = loader;
    while (last->next)
      last = last->next;
    last->next = e;
    e->prev = last;
  } else {
    e->next = loader;
    loader->prev = e;
    loader = e;
  }
  last_loader = codec;
  unregisterHook = &unregisterCodec;
}

void ImageCodec::unregisterCodec(ImageCodec* codec)
{
  if (!loader) {
    std::cerr << "unregisterCodec: no codecs, unregister impossible!" << std::endl;
    return;
  }
  for (loader_ref* e = loader; e;) {
    loader_ref* next = e->next;
    if (e->prototype == codec) {
      if (e->prev)
        e->prev->next = e->next;
      else
        loader = e->next;
      if (e->next)
        e->next->prev = e->prev;
      delete e;
    }
    e = next;
  }
}

const ImageCodec::loader_ref* ImageCodec::firstLoader()
{
  linkCodecLoaders();
  return loader;
}

std::string ImageCodec::getCodec(std::string& filename)
{
  const std::string::size_type i = filename.find_first_of(":/");
  if (i == std::string::npos || i == 0 || filename[i] != ':')
    return "";
  std::string codec = filename.substr(0, i);
  filename.erase(0, i + 1);
  return codec;
}

std::string ImageCodec::getExtension(const std::string& filename)
{
  const std::string::size_type i = filename.rfind('.');
  if (i == std::string::npos || i == 0)
    return "";
  return filename.substr(i + 1);
}

static void lowercase(std::string& s)
{
  for (char& c : s)
    c = (char)tolower((unsigned char)c);
}

// One line for an exception that reached an entry point; the entry point
// then returns its failure result.
static void report(const char* where, const std::exception& e)
{
  std::cerr << "ImageCodec::" << where << ": " << e.what() << std::endl;
}

static std::string& failureText()
{
  static std::string text;
  return text;
}

static int failurePage = -1;

static void clearFailure()
{
  failureText().clear();
  failurePage = -1;
}

const std::string& ImageCodec::readFailure()
{
  return failureText();
}

int ImageCodec::readFailurePage()
{
  return failurePage;
}

void ImageCodec::refuseRead(const std::string& why, int page)
{
  failureText() = why;
  failurePage = page;
}

// A JPEG file starts with the start-of-image marker and a further marker.
static bool isJpeg(std::istream& stream)
{
  unsigned char head[3] = {};
  stream.read(reinterpret_cast<char*>(head), sizeof head);
  const bool jpeg = stream.gcount() == (std::streamsize)sizeof head && head[0] == 0xFF &&
                    head[1] == 0xD8 && head[2] == 0xFF;
  stream.clear();
  stream.seekg(0);
  return jpeg;
}

int ImageCodec::Read(std::istream* stream, Image& image, std::string codec,
                     const std::string& decompress, int index)
{
  linkCodecLoaders();
  clearFailure();
  lowercase(codec);
  if (!loader || !stream)
    return 0;
  try {
    if (!codec.empty()) {
      for (loader_ref* e = loader; e; e = e->next)
        if (e->isPrimary && codec == e->extension)
          return e->prototype->readImage(stream, image, decompress, index);
      return 0;
    }
    for (loader_ref* e = loader; e; e = e->next) {
      if (!e->isPrimary || e->explicitOnly)
        continue;
      const int res = e->prototype->readImage(stream, image, decompress, index);
      if (res != 0) {
        clearFailure();
        image.setDecoderID(e->prototype->getID());
        return res;
      }
      stream->clear();
      stream->seekg(0);
    }
    if (failureText().empty() && isJpeg(*stream))
      refuseRead(kJpegNotRead);
  } catch (const std::exception& e) {
    report("Read", e);
  }
  return 0;
}

int ImageCodec::Read(std::string filename, Image& image, const std::string& decompress,
                     int index)
{
  const std::string codec = getCodec(filename);
  std::unique_ptr<std::istream> owned;
  try {
    if (filename == "-") {
      // Probing seeks back to the start after each codec, which a pipe
      // cannot do: read standard input whole first.
      auto* s = new std::stringstream(std::ios::in | std::ios::out | std::ios::binary);
      owned.reset(s);
      *s << std::cin.rdbuf();
      s->clear();
      s->seekg(0);
    } else {
      owned.reset(new FileIn(filename));
    }
  } catch (const std::exception& e) {
    report("Read", e);
    return 0;
  }
  if (!*owned)
    return 0;
  struct Reading {
    explicit Reading(const std::string& file) : saved(PDFCodec::readingFile)
    {
      PDFCodec::readingFile = file;
    }
    ~Reading() { PDFCodec::readingFile.swap(saved); }
    std::string saved;
  } reading(filename == "-" ? std::string() : filename);
  const int res = Read(owned.get(), image, codec, decompress, index);
  if (res < 0)
    owned.release(); // now the attached reader's
  return res;
}

// The first entry that writes codec (by primary name) or, without a codec
// name, files with extension ext.
static ImageCodec::loader_ref* findWriter(ImageCodec::loader_ref* e, std::string& codec,
                                          std::string& ext)
{
  lowercase(codec);
  lowercase(ext);
  for (; e; e = e->next) {
    if (codec.empty() ? ext == e->extension : (e->isPrimary && codec == e->extension))
      return e;
  }
  return nullptr;
}

bool ImageCodec::Write(std::ostream* stream, Image& image, std::string codec, std::string ext,
                       int quality, const std::string& compress)
{
  linkCodecLoaders();
  if (!stream)
    return false;
  loader_ref* e = findWriter(loader, codec, ext);
  if (!e)
    return false;
  try {
    ImageCodec* attached = image.getCodec();
    // Unchanged pixels of the same format: the attached codec may pass its
    // still-encoded data through.
    if (attached && !image.pixelsDirty && attached->getID() == e->prototype->getID())
      return attached->writeImage(stream, image, quality, compress);
    return e->prototype->writeImage(stream, image, quality, compress);
  } catch (const std::exception& ex) {
    report("Write", ex);
  }
  return false;
}

bool ImageCodec::canWrite(std::string filename)
{
  linkCodecLoaders();
  std::string codec = getCodec(filename);
  std::string ext = getExtension(filename);
  return findWriter(loader, codec, ext) != nullptr;
}

bool ImageCodec::Write(std::string filename, Image& image, int quality,
                       const std::string& compress)
{
  linkCodecLoaders();
  std::string codec = getCodec(filename);
  std::string ext = getExtension(filename);
  // Find the codec before opening: an unknown format must not truncate an
  // existing file.
  if (!findWriter(loader, codec, ext))
    return false;
  if (filename == "-") {
    const bool ok = Write(&std::cout, image, codec, ext, quality, compress);
    std::cout.flush();
    return ok && std::cout.good();
  }
  // Beside the old file, which stays as it was unless the write succeeds.
  std::unique_ptr<FileOut> s;
  try {
    s.reset(new FileOut(filename, std::ios::out | std::ios::binary | std::ios::trunc));
  } catch (const std::exception& e) {
    report("Write", e);
    return false;
  }
  if (!s->isOpen())
    return false;
  if (!Write(s.get(), image, codec, ext, quality, compress))
    return false;
  return s->commit();
}

ImageCodec* ImageCodec::MultiWrite(std::ostream* stream, std::string codec, std::string ext,
                                   const std::string& compress)
{
  linkCodecLoaders();
  loader_ref* e = findWriter(loader, codec, ext);
  if (!e)
    return nullptr;
  try {
    return e->prototype->instanciateForWrite(stream, compress);
  } catch (const std::exception& ex) {
    report("MultiWrite", ex);
  }
  return nullptr;
}
