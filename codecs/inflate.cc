// Inflating zlib and raw deflate data held in memory.
#include <cstring>
#include <memory>

#include <libdeflate.h>
#include <zlib.h>

#include "codecs/Decoders.hh"

namespace {

// zlib counts in 32 bits: large buffers go in slices.
uInt slice(uint64_t n)
{
  return n > 0x40000000u ? 0x40000000u : (uInt)n;
}

void feedSlice(z_stream& strm, uint64_t& remaining)
{
  strm.avail_in = slice(remaining);
  remaining -= strm.avail_in;
}

// The one inflate loop. The sink hands out output windows (false: the
// output is complete) and takes what each call produced, told whether the
// call failed. Input runs out without error when inflate makes no more
// progress; a window filled to the brim is followed by another, since
// zlib may hold more output.
template <typename Sink>
bool inflateInto(const unsigned char* data, uint64_t length, int windowBits, Sink& sink)
{
  z_stream strm;
  memset(&strm, 0, sizeof strm);
  if (inflateInit2(&strm, windowBits) != Z_OK)
    return false;
  uint64_t remaining = data ? length : 0;
  strm.next_in = (Bytef*)data;
  int ret = Z_OK;
  bool full = false;
  while (ret != Z_STREAM_END) {
    if (strm.avail_in == 0 && remaining)
      feedSlice(strm, remaining);
    if (strm.avail_in == 0 && !full)
      break;
    unsigned char* window;
    uInt room;
    if (!sink.window(window, room))
      break;
    strm.next_out = window;
    strm.avail_out = room;
    ret = inflate(&strm, Z_SYNC_FLUSH);
    full = strm.avail_out == 0;
    // No progress with no input left is not an error: the data just ended.
    if (ret == Z_BUF_ERROR && strm.avail_in == 0 && !remaining)
      break;
    const bool failed = ret < 0 || ret > Z_STREAM_END;
    if (!sink.took(room - strm.avail_out, failed) || failed) {
      inflateEnd(&strm);
      return false;
    }
  }
  inflateEnd(&strm);
  return true;
}

} // namespace

bool decodeZlibBytes(std::ostream& out, const unsigned char* data, uint64_t length,
                     int windowBits, uint64_t maxOutput)
{
  struct {
    std::ostream& out;
    uint64_t maxOutput;
    uint64_t written = 0;
    unsigned char buffer[16384];
    bool window(unsigned char*& at, uInt& room)
    {
      at = buffer;
      room = sizeof buffer;
      return written < maxOutput;
    }
    bool took(uint64_t produced, bool failed)
    {
      if (failed)
        return false;
      if (produced > maxOutput - written)
        produced = maxOutput - written;
      out.write((const char*)buffer, (std::streamsize)produced);
      written += produced;
      return (bool)out;
    }
  } sink{out, maxOutput, 0, {}};
  return inflateInto(data, length, windowBits, sink);
}

namespace {

// One whole-buffer decompressor per thread, kept between calls: a TIFF
// file may hold thousands of strips.
libdeflate_decompressor* wholeBufferDecompressor()
{
  struct Free {
    void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
  };
  thread_local std::unique_ptr<libdeflate_decompressor, Free> d(libdeflate_alloc_decompressor());
  return d.get();
}

} // namespace

bool inflateToMemory(const unsigned char* data, uint64_t length, int windowBits,
                     unsigned char* out, uint64_t cap, uint64_t* produced)
{
  *produced = 0;
  // A stream that is whole and fits is inflated in one pass by the
  // whole-buffer decoder. Anything else (damaged, truncated, longer than
  // the room, or a window size it does not take) goes through zlib, which
  // gives what can be recovered; the bytes the first attempt wrote past
  // what zlib recovers are cleared.
  libdeflate_decompressor* whole = data && (windowBits == 15 || windowBits == -15)
                                       ? wholeBufferDecompressor() : nullptr;
  bool tried = false;
  if (whole && length <= SIZE_MAX && cap <= SIZE_MAX) {
    size_t n = 0;
    const libdeflate_result r =
        windowBits > 0 ? libdeflate_zlib_decompress(whole, data, (size_t)length, out, (size_t)cap, &n)
                       : libdeflate_deflate_decompress(whole, data, (size_t)length, out, (size_t)cap, &n);
    if (r == LIBDEFLATE_SUCCESS) {
      *produced = n;
      return true;
    }
    tried = true;
  }
  struct {
    unsigned char* out;
    uint64_t cap;
    uint64_t* produced;
    bool window(unsigned char*& at, uInt& room)
    {
      at = out + *produced;
      room = slice(cap - *produced);
      return *produced < cap;
    }
    bool took(uint64_t n, bool)
    {
      *produced += n;
      return true;
    }
  } sink{out, cap, produced};
  const bool ok = inflateInto(data, length, windowBits, sink);
  if (tried && *produced < cap)
    memset(out + *produced, 0, cap - *produced);
  return ok;
}
