#include "codecs/ZlibEncoder.hh"

#include <cstring>

ZlibEncoder::ZlibEncoder(std::ostream* out) : out(out)
{
  memset(&strm, 0, sizeof strm);
}

ZlibEncoder::ZlibEncoder(std::ostream* out, int level) : ZlibEncoder(out)
{
  init(level);
}

ZlibEncoder::~ZlibEncoder()
{
  finish();
}

bool ZlibEncoder::init(int level)
{
  if (initialised)
    return false;
  memset(&strm, 0, sizeof strm);
  initialised = deflateInit(&strm, level) == Z_OK;
  return initialised;
}

// Runs deflate until it leaves room in the buffer. Z_BUF_ERROR only means
// "no progress possible", which a call after an exactly filled buffer
// reports; it is not a failure.
bool ZlibEncoder::drain(int flush)
{
  int ret;
  do {
    strm.next_out = buffer;
    strm.avail_out = sizeof buffer;
    ret = deflate(&strm, flush);
    const size_t produced = sizeof buffer - strm.avail_out;
    if (produced && out)
      out->write((const char*)buffer, (std::streamsize)produced);
    if (ret == Z_BUF_ERROR)
      ret = Z_OK;
    if (ret != Z_OK && ret != Z_STREAM_END)
      return false;
  } while (strm.avail_out == 0 && ret != Z_STREAM_END);
  return !out || out->good();
}

bool ZlibEncoder::write(const char* data, uint64_t n)
{
  if (!initialised)
    return false;
  while (n) {
    const uInt k = n > 0x40000000u ? 0x40000000u : (uInt)n;
    strm.next_in = (Bytef*)data;
    strm.avail_in = k;
    if (!drain(Z_NO_FLUSH))
      return false;
    data += k;
    n -= k;
  }
  return true;
}

bool ZlibEncoder::write(const char* data, int n)
{
  return n <= 0 ? initialised : write(data, (uint64_t)n);
}

bool ZlibEncoder::finish()
{
  if (!initialised)
    return false;
  strm.next_in = nullptr;
  strm.avail_in = 0;
  const bool ok = drain(Z_FINISH);
  deflateEnd(&strm);
  initialised = false;
  return ok;
}
