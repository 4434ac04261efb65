// LZW decoding for TIFF (with early change) and PDF (without).
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <iostream>
#include <memory>
#include <vector>

#include "utility/BitReader.hh"
#include "codecs/Decoders.hh"

namespace {

const unsigned kStorage = 4205056; // bytes of string storage per call
const unsigned kTable = 5120;      // entries; full table resets like Clear
const unsigned kClear = 256, kEOI = 257, kFirst = 258;
const unsigned kFirstFree = 4 * kFirst; // entry i < 258 lives at 4 * i

// A string of the table: where it starts in the storage, and its length.
struct Entry {
  unsigned off;
  int len;
};

bool exhausted(std::istream& in)
{
  const std::streampos pos = in.tellg();
  in.seekg(0, std::ios::end);
  const std::streampos end = in.tellg();
  if (pos != std::streampos(-1))
    in.seekg(pos);
  return pos == end;
}

} // namespace

bool DecodeLZW(std::ostream& out, std::istream& in, bool earlyChange, bool lsbFirst,
               uint64_t maxOutput)
{
  Norvel::Bitstream bits(in, lsbFirst);
  // The string storage grows with the strings up to kStorage: a small
  // stream (a PDF may hold hundreds) never pays for the largest table.
  std::vector<unsigned char> storage(64 << 10);
  std::vector<Entry> table(kTable);
  for (unsigned i = 0; i < kFirst; ++i) {
    storage[4 * i] = (unsigned char)i;
    table[i] = {4 * i, 1};
  }
  const unsigned t10 = earlyChange ? 511 : 512;
  const unsigned t11 = earlyChange ? 1023 : 1024;
  const unsigned t12 = earlyChange ? 2047 : 2048;

  unsigned next = kFirst, width = 9, free = kFirstFree;
  int prev = -1;
  uint64_t written = 0;

  for (;;) {
    const unsigned code = bits(0, (unsigned char)width) & 0xffff;
    // A code cut off by the end of the data: the input is exhausted.
    if (in.eof())
      return true;

    bool bad = code > next;
    // The code that is being defined needs a previous string to build on,
    // and the new string must fit the storage.
    if (!bad && code == next && prev < 0)
      bad = true;
    if (!bad && prev >= 0 && code != kClear && code != kEOI && next < kTable &&
        free + (unsigned)table[prev].len + 1 > kStorage)
      bad = true;
    if (bad) {
      if (exhausted(in))
        return true;
      in.clear();
      const std::streampos pos = in.tellg();
      in.seekg(0, std::ios::end);
      const std::streampos end = in.tellg();
      std::cerr << "Error: bad code " << code << ", dictSize " << next << ", pos "
                << (long long)pos << "/" << (long long)end << std::endl;
      return false;
    }

    if (code == kClear || next >= kTable) {
      // A full table resets as Clear does; the code that found it full is
      // dropped.
      next = kFirst;
      width = 9;
      prev = -1;
      free = kFirstFree;
      continue;
    }
    if (code == kEOI)
      return true;

    if (prev >= 0) {
      const Entry p = table[prev];
      const size_t need = (size_t)free + (size_t)p.len + 1;
      if (need > storage.size())
        storage.resize(std::min<size_t>(kStorage, std::max(need, 2 * storage.size())));
      unsigned char* const base = storage.data();
      unsigned char* s = base + free;
      memcpy(s, base + p.off, (size_t)p.len);
      s[p.len] = code < next ? base[table[code].off] : base[p.off];
      table[next] = {free, p.len + 1};
      free += ((unsigned)p.len + 1 + 3) & ~3u;
      ++next;
      if (next >= t12)
        width = 12;
      else if (next >= t11)
        width = 11;
      else if (next >= t10)
        width = 10;
    }

    const Entry& e = table[code];
    uint64_t n = (uint64_t)e.len;
    if (n > maxOutput - written)
      n = maxOutput - written;
    out.write((const char*)storage.data() + e.off, (std::streamsize)n);
    written += n;
    if (!out)
      return false;
    if (written >= maxOutput)
      return true;
    prev = (int)code;
  }
}

// The same decoding from memory into memory. Every string in the table is a
// run of the output already written (a code's string is its predecessor's
// plus one byte, which is the first byte of what follows), so entries are
// offsets into the output and each code is one copy of its whole string.
bool DecodeLZWToMemory(const unsigned char* in, uint64_t length, bool earlyChange, bool lsbFirst,
                       unsigned char* out, uint64_t cap, uint64_t* produced)
{
  // Kept per thread: a page has a thousand strips, and every entry read is
  // defined first within the call. A single byte's string lives in a table
  // of its own, so every code is the same copy: on noisy scans literals and
  // runs alternate at random and a branch between them mispredicts.
  struct Table {
    const unsigned char* at[kTable];
    uint16_t len[kTable];
    unsigned char bytes[256 + 8];
    Table()
    {
      for (unsigned i = 0; i < 256 + 8; ++i)
        bytes[i] = (unsigned char)i;
      for (unsigned i = 0; i < kFirst; ++i) {
        at[i] = bytes + (i & 255);
        len[i] = 1;
      }
    }
  };
  thread_local std::unique_ptr<Table> kept(new Table);
  const unsigned char** const at = kept->at;
  uint16_t* const lens = kept->len;
  const unsigned t10 = earlyChange ? 511 : 512;
  const unsigned t11 = earlyChange ? 1023 : 1024;
  const unsigned t12 = earlyChange ? 2047 : 2048;
  const uint64_t totalBits = length * 8;

  unsigned next = kFirst, width = 9;
  uint32_t prevLen = 0; // 0: no previous string since a Clear
  uint64_t written = 0, bitPos = 0;
  *produced = 0;
  if (cap == 0)
    return true;

  for (;;) {
    // A code cut off by the end of the data: the input is exhausted.
    if (bitPos + width > totalBits)
      break;
    unsigned code;
    {
      const uint64_t byte = bitPos >> 3;
      const unsigned shift = (unsigned)(bitPos & 7);
      uint32_t w = 0;
      const uint64_t have = length - byte;
      if (!lsbFirst && have >= 3) {
        w = (uint32_t)in[byte] << 16 | (uint32_t)in[byte + 1] << 8 | in[byte + 2];
        code = (w >> (24 - shift - width)) & ((1u << width) - 1);
      } else if (!lsbFirst) {
        w = (uint32_t)in[byte] << 16;
        if (have > 1)
          w |= (uint32_t)in[byte + 1] << 8;
        if (have > 2)
          w |= in[byte + 2];
        code = (w >> (24 - shift - width)) & ((1u << width) - 1);
      } else {
        w = in[byte];
        if (have > 1)
          w |= (uint32_t)in[byte + 1] << 8;
        if (have > 2)
          w |= (uint32_t)in[byte + 2] << 16;
        code = (w >> shift) & ((1u << width) - 1);
      }
      bitPos += width;
    }

    if (code > next || (code == next && prevLen == 0)) {
      const uint64_t pos = (bitPos + 7) / 8;
      if (pos == length)
        break;
      std::cerr << "Error: bad code " << code << ", dictSize " << next << ", pos "
                << (long long)pos << "/" << (long long)length << std::endl;
      *produced = written;
      return false;
    }

    if (code == kClear || next >= kTable) {
      next = kFirst;
      width = 9;
      prevLen = 0;
      continue;
    }
    if (code == kEOI)
      break;

    unsigned char* const dst = out + written;
    if (prevLen != 0) {
      // The previous code's string was the last thing written.
      at[next] = dst - prevLen;
      lens[next] = (uint16_t)(prevLen + 1);
      ++next;
      if (next >= t12)
        width = 12;
      else if (next >= t11)
        width = 11;
      else if (next >= t10)
        width = 10;
    }
    const unsigned char* const src = at[code];
    uint64_t n = lens[code];
    const uint64_t room = cap - written;
    if (n > room)
      n = room;
    // The code just defined ends with its own first byte: the copy
    // overlaps its source by one byte at most, at the very end. Strings
    // at least 8 bytes away go in words while the room allows; the bytes
    // written past the string are overwritten by what follows.
    const uintptr_t gap = (uintptr_t)dst - (uintptr_t)src;
    if (gap >= 8 && n + 8 <= room) {
      memcpy(dst, src, 8);
      for (uint64_t i = 8; i < n; i += 8)
        memcpy(dst + i, src + i, 8);
    } else if (gap >= n) {
      memcpy(dst, src, (size_t)n);
    } else {
      for (uint64_t i = 0; i < n; ++i)
        dst[i] = src[i];
    }
    written += n;
    if (written >= cap)
      break;
    prevLen = (uint32_t)n;
  }
  *produced = written;
  return true;
}
