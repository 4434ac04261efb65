// LZW decoding for TIFF (with early change) and PDF (without).
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <vector>

#include "utility/BitReader.hh"
#include "codecs/Decoders.hh"

namespace {

const unsigned kStorage = 4205056; // bytes of string storage per call
const unsigned kTable = 5120;      // entries; full table resets like Clear
const unsigned kClear = 256, kEOI = 257, kFirst = 258;
const unsigned kFirstFree = 4 * kFirst; // entry i < 258 lives at 4 * i

struct Entry {
  unsigned char* s;
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
  std::vector<unsigned char> storage(kStorage);
  std::vector<Entry> table(kTable);
  for (unsigned i = 0; i < kFirst; ++i) {
    storage[4 * i] = (unsigned char)i;
    table[i] = {&storage[4 * i], 1};
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
      const Entry& p = table[prev];
      unsigned char* s = &storage[free];
      memcpy(s, p.s, (size_t)p.len);
      s[p.len] = code < next ? table[code].s[0] : p.s[0];
      table[next] = {s, p.len + 1};
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
    out.write((const char*)e.s, (std::streamsize)n);
    written += n;
    if (!out)
      return false;
    if (written >= maxOutput)
      return true;
    prev = (int)code;
  }
}
