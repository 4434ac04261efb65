// Deflates what is written to it into an output stream, in 16 KiB chunks.
// Shared by every deflate user (PNG, TIFF, PDF writers, the script coder).
#pragma once

#include <ostream>

#include <zlib.h>

class ZlibEncoder {
public:
  // Not initialised: call init before write.
  explicit ZlibEncoder(std::ostream* out);
  // Initialised at level (0..9, or -1 for zlib's default); see good().
  ZlibEncoder(std::ostream* out, int level);
  // Finishes the stream when that was not done yet.
  ~ZlibEncoder();
  ZlibEncoder(const ZlibEncoder&) = delete;
  ZlibEncoder& operator=(const ZlibEncoder&) = delete;

  bool init(int level);
  bool good() const { return initialised; }

  // Deflates n bytes without flushing; false on a deflate error or when the
  // output stream failed.
  bool write(const char* data, int n);
  bool write(const char* data, uint64_t n);
  // Ends the deflate stream and releases its state; false when deflate or
  // the output failed. Further writes fail.
  bool finish();

  std::ostream* out;
  z_stream strm;

private:
  bool drain(int flush);

  unsigned char buffer[16384];
  bool initialised = false;
};
