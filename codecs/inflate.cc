// Inflating zlib and raw deflate data held in memory.
#include <cstring>

#include <zlib.h>

#include "codecs/Decoders.hh"

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
    // zlib counts input in 32 bits: feed large buffers in slices.
    if (strm.avail_in == 0 && remaining) {
      const uInt n = remaining > 0x40000000u ? 0x40000000u : (uInt)remaining;
      strm.avail_in = n;
      remaining -= n;
    }
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
      const uInt n = remaining > 0x40000000u ? 0x40000000u : (uInt)remaining;
      strm.avail_in = n;
      remaining -= n;
    }
    const uint64_t room = cap - *produced;
    strm.next_out = out + *produced;
    strm.avail_out = room > 0x40000000u ? 0x40000000u : (uInt)room;
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
