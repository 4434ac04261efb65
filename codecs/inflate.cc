// Inflating zlib and raw deflate data held in memory.
#include <cstring>

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

} // namespace

bool decodeZlibBytes(std::ostream& out, const unsigned char* data, uint64_t length,
                     int windowBits, uint64_t maxOutput)
{
  z_stream strm;
  memset(&strm, 0, sizeof strm);
  if (inflateInit2(&strm, windowBits) != Z_OK)
    return false;
  const uInt kChunk = 16384;
  unsigned char window[kChunk];
  uint64_t remaining = data ? length : 0;
  uint64_t written = 0;
  int ret = Z_OK;
  bool full = false;
  strm.next_in = (Bytef*)data;
  while (ret != Z_STREAM_END && written < maxOutput) {
    if (strm.avail_in == 0 && remaining)
      feedSlice(strm, remaining);
    if (strm.avail_in == 0 && !full)
      break;
    strm.next_out = window;
    strm.avail_out = kChunk;
    ret = inflate(&strm, Z_SYNC_FLUSH);
    // No progress with no input left is not an error: the data just ended.
    if (ret == Z_BUF_ERROR && strm.avail_in == 0 && !remaining)
      break;
    if (ret < 0 || ret > Z_STREAM_END) {
      inflateEnd(&strm);
      return false;
    }
    uint64_t produced = kChunk - strm.avail_out;
    full = strm.avail_out == 0;
    if (produced > maxOutput - written)
      produced = maxOutput - written;
    out.write((const char*)window, (std::streamsize)produced);
    written += produced;
    if (!out) {
      inflateEnd(&strm);
      return false;
    }
  }
  inflateEnd(&strm);
  return true;
}

bool inflateToMemory(const unsigned char* data, uint64_t length, int windowBits,
                     unsigned char* out, uint64_t cap, uint64_t* produced)
{
  *produced = 0;
  z_stream strm;
  memset(&strm, 0, sizeof strm);
  if (inflateInit2(&strm, windowBits) != Z_OK)
    return false;
  uint64_t remaining = data ? length : 0;
  strm.next_in = (Bytef*)data;
  int ret = Z_OK;
  while (ret != Z_STREAM_END && *produced < cap) {
    if (strm.avail_in == 0) {
      if (!remaining)
        break;
      feedSlice(strm, remaining);
    }
    const uint64_t room = cap - *produced;
    strm.next_out = out + *produced;
    strm.avail_out = slice(room);
    const uInt before = strm.avail_out;
    ret = inflate(&strm, Z_SYNC_FLUSH);
    *produced += before - strm.avail_out;
    if (ret == Z_BUF_ERROR && strm.avail_in == 0 && !remaining)
      break;
    if (ret < 0 || ret > Z_STREAM_END) {
      inflateEnd(&strm);
      return false;
    }
  }
  inflateEnd(&strm);
  return true;
}
