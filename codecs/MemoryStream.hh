// Stream buffers over memory: reading a block in place, writing into a
// fixed block, and collecting output in a growing block.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <streambuf>

// Reads a block of memory in place, seekable (the CCITT decoder seeks).
class MemoryIn : public std::streambuf {
public:
  MemoryIn(const unsigned char* p, uint64_t n)
  {
    char* b = (char*)p;
    setg(b, b, b + n);
  }

protected:
  pos_type seekoff(off_type off, std::ios_base::seekdir dir, std::ios_base::openmode) override
  {
    char* base = dir == std::ios_base::beg ? eback() : dir == std::ios_base::cur ? gptr() : egptr();
    if (off < eback() - base || off > egptr() - base)
      return pos_type(off_type(-1));
    setg(eback(), base + off, egptr());
    return pos_type(gptr() - eback());
  }
  pos_type seekpos(pos_type pos, std::ios_base::openmode which) override
  {
    return seekoff(off_type(pos), std::ios_base::beg, which);
  }
};

// Writes into a fixed block; bytes past its end fail.
class MemoryOut : public std::streambuf {
public:
  MemoryOut(unsigned char* p, uint64_t n) { setp((char*)p, (char*)p + n); }
  uint64_t written() const { return (uint64_t)(pptr() - pbase()); }
};

// Collects bytes in one malloc'd block, which can be handed to an Image
// without a copy. A cap bounds what it accepts: writes past it fail the
// stream.
class GrowBuf : public std::streambuf {
public:
  explicit GrowBuf(uint64_t cap = std::numeric_limits<uint64_t>::max()) : cap(cap) {}
  ~GrowBuf() override { ::free(buf); }
  GrowBuf(const GrowBuf&) = delete;
  GrowBuf& operator=(const GrowBuf&) = delete;

  // Allocates room for n bytes ahead (bounded by the cap).
  void reserve(uint64_t n)
  {
    if (n > cap)
      n = cap;
    if (n > capacity)
      grow(n);
  }
  unsigned char* data() { return buf; }
  // Room for n more bytes at the end, to be filled directly and then
  // counted with commit(); null when the cap or memory does not allow it.
  unsigned char* room(uint64_t n)
  {
    if (n > cap - used || !fit(n))
      return nullptr;
    return buf + used;
  }
  void commit(uint64_t n) { used += n; }
  uint64_t size() const { return used; }
  // Hands the block over (malloc'd; null when empty).
  unsigned char* release()
  {
    unsigned char* p = buf;
    buf = nullptr;
    used = capacity = 0;
    return p;
  }

protected:
  std::streamsize xsputn(const char* s, std::streamsize n) override
  {
    if (n <= 0)
      return 0;
    uint64_t k = (uint64_t)n;
    if (k > cap - used)
      k = cap - used;
    if (!fit(k))
      return 0;
    memcpy(buf + used, s, k);
    used += k;
    return (std::streamsize)k;
  }
  int_type overflow(int_type c) override
  {
    if (traits_type::eq_int_type(c, traits_type::eof()))
      return traits_type::not_eof(c);
    const char ch = traits_type::to_char_type(c);
    return xsputn(&ch, 1) == 1 ? c : traits_type::eof();
  }

private:
  // Capacity for n more bytes (n within the cap), doubling as it grows.
  bool fit(uint64_t n)
  {
    if (used + n <= capacity)
      return true;
    uint64_t want = capacity ? capacity * 2 : 65536;
    if (want < used + n)
      want = used + n;
    if (want > cap)
      want = cap;
    return grow(want);
  }
  bool grow(uint64_t n)
  {
    if (n > (uint64_t)std::numeric_limits<size_t>::max())
      return false;
    unsigned char* p = (unsigned char*)::realloc(buf, (size_t)n);
    if (!p)
      return false;
    buf = p;
    capacity = n;
    return true;
  }

  unsigned char* buf = nullptr;
  uint64_t used = 0, capacity = 0;
  uint64_t cap;
};
