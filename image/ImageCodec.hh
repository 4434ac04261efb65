// The codec interface and the process-wide registry of codec prototypes.
// Every image file read or written goes through the static entry points
// here; a codec attached to an image still holds the encoded source and may
// perform some operations on it directly.
#pragma once

#include <iosfwd>
#include <string>

class Image;

class ImageCodec {
public:
  ImageCodec() : boundImage(nullptr) {}
  explicit ImageCodec(Image* image) : boundImage(image) {}
  // An unbound instance removes its registry entries, if it has any. Every
  // member is inline so that the image core, which holds codecs, links
  // without the registry.
  virtual ~ImageCodec()
  {
    if (!boundImage && unregisterHook)
      unregisterHook(this);
  }

  // The codec's identity ("TIF", "PNG", "PDF"), also stored as an image's
  // decoder id after a successful probe.
  virtual std::string getID() { return std::string(); }

  // 0: not this format or failed; > 0: success (page count for multi-page
  // formats read at index 0); < 0: success, the image is decoded later by
  // the codec attached to it, which keeps the stream.
  // The option "count" reads no pixels: the file's structure is checked as
  // far as its page count needs and the image is left alone; the result is
  // 0 or the page count (positive for every format).
  virtual int readImage(std::istream* stream, Image& image, const std::string& decompress)
  { (void)stream; (void)image; (void)decompress; return 0; }
  // Single-page formats: only index 0 exists.
  virtual int readImage(std::istream* stream, Image& image, const std::string& decompress,
                        int index)
  { return index == 0 ? readImage(stream, image, decompress) : 0; }
  virtual bool writeImage(std::ostream* stream, Image& image, int quality,
                          const std::string& compress)
  { (void)stream; (void)image; (void)quality; (void)compress; return false; }

  // A new multi-page writer on stream, owned by the caller, or null.
  virtual ImageCodec* instanciateForWrite(std::ostream* stream, const std::string& compress)
  { (void)stream; (void)compress; return nullptr; }
  // One page through a writer made by instanciateForWrite.
  virtual bool Write(Image& image, int quality, const std::string& compress, int index)
  { (void)image; (void)quality; (void)compress; (void)index; return false; }

  // Fills the image's buffer and geometry from the encoded source.
  virtual void decodeNow(Image* image) { (void)image; }

  // Operations on still-encoded data; true = done, the caller touches no
  // pixels. Offered only while the image's pixels are unchanged.
  virtual bool flipX(Image& image) { (void)image; return false; }
  virtual bool flipY(Image& image) { (void)image; return false; }
  virtual bool rotate(Image& image, double angle) { (void)image; (void)angle; return false; }
  virtual bool crop(Image& image, unsigned x, unsigned y, unsigned w, unsigned h)
  { (void)image; (void)x; (void)y; (void)w; (void)h; return false; }
  virtual bool toGray(Image& image) { (void)image; return false; }
  // sx, sy are factors, or the new width and height when fixed is true.
  virtual bool scale(Image& image, double sx, double sy, bool fixed)
  { (void)image; (void)sx; (void)sy; (void)fixed; return false; }

  // Registry. Names are lower case; the first name a codec registers is its
  // primary one, further names registered right after it only serve as
  // file extensions for writing.
  static void registerCodec(const char* extension, ImageCodec* codec, bool explicitOnly = false,
                            bool atBack = false);
  static void unregisterCodec(ImageCodec* codec);

  // Splits a leading "name:" codec prefix off filename and returns it.
  static std::string getCodec(std::string& filename);
  static std::string getExtension(const std::string& filename);

  // Entry points. They never throw: a codec's exception is reported on
  // stderr as one line and becomes the failure result.
  static int Read(std::istream* stream, Image& image, std::string codec,
                  const std::string& decompress = "", int index = 0);
  static int Read(std::string filename, Image& image, const std::string& decompress = "",
                  int index = 0);
  static bool Write(std::ostream* stream, Image& image, std::string codec, std::string ext,
                    int quality = 75, const std::string& compress = "");
  static bool Write(std::string filename, Image& image, int quality = 75,
                    const std::string& compress = "");
  static ImageCodec* MultiWrite(std::ostream* stream, std::string codec, std::string ext,
                                const std::string& compress = "");
  // Whether a codec writes filename (by its "name:" prefix, else its
  // extension).
  static bool canWrite(std::string filename);

  // Why the last Read found nothing: "" unless a codec recognised the data
  // and refused it for a reason of its own ("the document is encrypted and
  // needs a password"), which it then leaves to the caller to say.
  static const std::string& readFailure();
  // The page (from 0) that refusal is about, or -1 when it is about the
  // file as a whole: "the file is cut short" at the first page it lost.
  static int readFailurePage();

  struct loader_ref {
    const char* extension; // not copied
    ImageCodec* prototype; // not owned
    bool isPrimary;
    bool explicitOnly;
    loader_ref* prev;
    loader_ref* next;
  };

  // First entry in probing order, or null; for inspection and tests.
  static const loader_ref* firstLoader();

protected:
  Image* boundImage;

  // A reading codec's refusal of data it recognised, for readFailure.
  static void refuseRead(const std::string& why, int page = -1);
  // The refusal of JPEG data, alone or inside another format.
  static constexpr const char* kJpegNotRead = "JPEG images are not read";

private:
  // Set by the first registration; null while the registry is not linked.
  static inline void (*unregisterHook)(ImageCodec*) = nullptr;
  static loader_ref* loader;
  static ImageCodec* last_loader;
};
