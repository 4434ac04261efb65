// CCITT T.4 / T.6 fax coding. Both directions work on the list of changing
// elements of a row and of its reference row; the decoder reads codes
// through lookup tables indexed by the next bits of the input.
#include "codecs/CCITT.hh"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <istream>
#include <ostream>
#include <sstream>
#include <vector>

#include "utility/BitWriter.hh"

const CCITTCode ttable[104] = {
  {0x35, 8, 0x37, 10}, {0x7, 6, 0x2, 3}, {0x7, 4, 0x3, 2}, {0x8, 4, 0x2, 2},
  {0xB, 4, 0x3, 3}, {0xC, 4, 0x3, 4}, {0xE, 4, 0x2, 4}, {0xF, 4, 0x3, 5},
  {0x13, 5, 0x5, 6}, {0x14, 5, 0x4, 6}, {0x7, 5, 0x4, 7}, {0x8, 5, 0x5, 7},
  {0x8, 6, 0x7, 7}, {0x3, 6, 0x4, 8}, {0x34, 6, 0x7, 8}, {0x35, 6, 0x18, 9},
  {0x2A, 6, 0x17, 10}, {0x2B, 6, 0x18, 10}, {0x27, 7, 0x8, 10}, {0xC, 7, 0x67, 11},
  {0x8, 7, 0x68, 11}, {0x17, 7, 0x6C, 11}, {0x3, 7, 0x37, 11}, {0x4, 7, 0x28, 11},
  {0x28, 7, 0x17, 11}, {0x2B, 7, 0x18, 11}, {0x13, 7, 0xCA, 12}, {0x24, 7, 0xCB, 12},
  {0x18, 7, 0xCC, 12}, {0x2, 8, 0xCD, 12}, {0x3, 8, 0x68, 12}, {0x1A, 8, 0x69, 12},
  {0x1B, 8, 0x6A, 12}, {0x12, 8, 0x6B, 12}, {0x13, 8, 0xD2, 12}, {0x14, 8, 0xD3, 12},
  {0x15, 8, 0xD4, 12}, {0x16, 8, 0xD5, 12}, {0x17, 8, 0xD6, 12}, {0x28, 8, 0xD7, 12},
  {0x29, 8, 0x6C, 12}, {0x2A, 8, 0x6D, 12}, {0x2B, 8, 0xDA, 12}, {0x2C, 8, 0xDB, 12},
  {0x2D, 8, 0x54, 12}, {0x4, 8, 0x55, 12}, {0x5, 8, 0x56, 12}, {0xA, 8, 0x57, 12},
  {0xB, 8, 0x64, 12}, {0x52, 8, 0x65, 12}, {0x53, 8, 0x52, 12}, {0x54, 8, 0x53, 12},
  {0x55, 8, 0x24, 12}, {0x24, 8, 0x37, 12}, {0x25, 8, 0x38, 12}, {0x58, 8, 0x27, 12},
  {0x59, 8, 0x28, 12}, {0x5A, 8, 0x58, 12}, {0x5B, 8, 0x59, 12}, {0x4A, 8, 0x2B, 12},
  {0x4B, 8, 0x2C, 12}, {0x32, 8, 0x5A, 12}, {0x33, 8, 0x66, 12}, {0x34, 8, 0x67, 12},
  {0x1B, 5, 0xF, 10}, {0x12, 5, 0xC8, 12}, {0x17, 6, 0xC9, 12}, {0x37, 7, 0x5B, 12},
  {0x36, 8, 0x33, 12}, {0x37, 8, 0x34, 12}, {0x64, 8, 0x35, 12}, {0x65, 8, 0x6C, 13},
  {0x68, 8, 0x6D, 13}, {0x67, 8, 0x4A, 13}, {0xCC, 9, 0x4B, 13}, {0xCD, 9, 0x4C, 13},
  {0xD2, 9, 0x4D, 13}, {0xD3, 9, 0x72, 13}, {0xD4, 9, 0x73, 13}, {0xD5, 9, 0x74, 13},
  {0xD6, 9, 0x75, 13}, {0xD7, 9, 0x76, 13}, {0xD8, 9, 0x77, 13}, {0xD9, 9, 0x52, 13},
  {0xDA, 9, 0x53, 13}, {0xDB, 9, 0x54, 13}, {0x98, 9, 0x55, 13}, {0x99, 9, 0x5A, 13},
  {0x9A, 9, 0x5B, 13}, {0x18, 6, 0x64, 13}, {0x9B, 9, 0x65, 13}, {0x8, 11, 0x8, 11},
  {0xC, 11, 0xC, 11}, {0xD, 11, 0xD, 11}, {0x12, 12, 0x12, 12}, {0x13, 12, 0x13, 12},
  {0x14, 12, 0x14, 12}, {0x15, 12, 0x15, 12}, {0x16, 12, 0x16, 12}, {0x17, 12, 0x17, 12},
  {0x1C, 12, 0x1C, 12}, {0x1D, 12, 0x1D, 12}, {0x1E, 12, 0x1E, 12}, {0x1F, 12, 0x1F, 12},
};

namespace {

const int kWhite = 0, kBlack = 1;

// Widths beyond this are refused: no fax or scanner row comes near it, and
// it bounds the memory a hostile header can ask for.
const int kMaxWidth = 1 << 20;
// The decoder stops once its output would pass this size.
const size_t kMaxOutput = (size_t)1 << 30;

// ---------------------------------------------------------------- changes

// First position >= x whose coder colour differs from `colour`, or width.
// `inv` turns pixel bits into coder colours (1 = black).
inline int nextChange(const uint8_t* row, int x, int width, int colour, uint8_t inv)
{
  while (x < width) {
    const int bi = x >> 3;
    uint8_t b = (uint8_t)(row[bi] ^ inv);
    if (colour)
      b = (uint8_t)~b;
    b &= (uint8_t)(0xff >> (x & 7));
    if (b) {
      const int pos = (bi << 3) + __builtin_clz((unsigned)b) - 24;
      return pos < width ? pos : width;
    }
    x = (bi + 1) << 3;
  }
  return width;
}

// The changing elements of a row, starting from white, followed by three
// sentinels at `width`.
void rowChanges(const uint8_t* row, int width, uint8_t inv, std::vector<int>& out)
{
  out.clear();
  int x = 0, colour = kWhite;
  while ((x = nextChange(row, x, width, colour, inv)) < width) {
    out.push_back(x);
    colour ^= 1;
  }
  out.insert(out.end(), 3, width);
}

// b1 and b2 on the reference row: the first change after a0 to the colour
// opposite a0's, and the change after it. `lb` is the first index whose
// change lies after a0; it only moves forward, as a0 does.
inline void findB1B2(const int* ref, size_t& lb, int a0, int colour, int& b1, int& b2)
{
  // The sentinels at the end (width > a0) stop the walk.
  while (ref[lb] <= a0)
    ++lb;
  size_t k = lb;
  // A change at an even index switches to black.
  if ((int)(k & 1) != colour)
    ++k;
  b1 = ref[k];
  b2 = ref[k + 1];
}

// ---------------------------------------------------------------- encoder

using Norvel::BitWriter;

void putRun(BitWriter& w, int run, int colour)
{
  while (run >= 64) {
    const int m = std::min(run / 64, 40);
    const CCITTCode& c = ttable[63 + m];
    if (colour == kWhite)
      w.put(c.whiteCode, c.whiteLen);
    else
      w.put(c.blackCode, c.blackLen);
    run -= 64 * m;
  }
  const CCITTCode& c = ttable[run];
  if (colour == kWhite)
    w.put(c.whiteCode, c.whiteLen);
  else
    w.put(c.blackCode, c.blackLen);
}

// Vertical mode codes for a1 - b1 = -3 .. 3.
const struct { uint8_t code, len; } kVertical[7] = {
  {0x02, 7}, {0x02, 6}, {0x02, 3}, {0x01, 1}, {0x03, 3}, {0x03, 6}, {0x03, 7},
};

} // namespace

void EncodeCCITT(std::ostream& out, const unsigned char* rows, int width, int height, int stride,
                 bool blackIs1)
{
  BitWriter w;
  if (width > 0 && width <= kMaxWidth && height > 0 && rows) {
    const size_t rowBytes = stride > 0 ? (size_t)stride : ((size_t)width + 7) / 8;
    const uint8_t inv = blackIs1 ? 0x00 : 0xff;
    std::vector<int> ref(3, width), cur;
    cur.reserve(64);
    for (int y = 0; y < height; ++y) {
      rowChanges(rows + (size_t)y * rowBytes, width, inv, cur);
      int a0 = -1, colour = kWhite;
      size_t ci = 0, lb = 0;
      while (a0 < width) {
        while (cur[ci] <= a0)
          ++ci;
        const int a1 = cur[ci];
        int b1, b2;
        findB1B2(ref.data(), lb, a0, colour, b1, b2);
        if (b2 < a1) {
          w.put(0x1, 4); // pass
          a0 = b2;
        } else if (a1 - b1 >= -3 && a1 - b1 <= 3) {
          w.put(kVertical[a1 - b1 + 3].code, kVertical[a1 - b1 + 3].len);
          a0 = a1;
          colour ^= 1;
        } else {
          const int a2 = cur[ci + 1];
          w.put(0x1, 3); // horizontal
          putRun(w, a1 - std::max(a0, 0), colour);
          putRun(w, a2 - a1, colour ^ 1);
          a0 = a2;
        }
      }
      ref.swap(cur);
      if (w.buf.size() >= 65536) {
        out.write(w.buf.data(), (std::streamsize)w.buf.size());
        w.buf.clear();
      }
    }
  }
  w.put(0x001001, 24); // EOFB
  w.flush();
  out.write(w.buf.data(), (std::streamsize)w.buf.size());
}

// ---------------------------------------------------------------- decoder

namespace {

enum CodeKind : uint8_t { kInvalid = 0, kTerminating, kMakeup };

struct RunEntry {
  uint16_t run;
  uint8_t len;
  uint8_t kind;
};

// Two-dimensional mode codes; the vertical ones carry a1 - b1.
enum Mode : uint8_t { mInvalid = 0, mVertical, mPass, mHorizontal, mZeros };
struct ModeEntry {
  uint8_t mode, len;
  int8_t offset;
};

// Run tables indexed by the next 12 (white) or 13 (black) bits, the mode
// table by the next 7; built once from the code tables.
struct Tables {
  RunEntry white[1 << 12];
  RunEntry black[1 << 13];
  ModeEntry mode[1 << 7];

  Tables()
  {
    memset(white, 0, sizeof white);
    memset(black, 0, sizeof black);
    memset(mode, 0, sizeof mode);
    for (int i = 0; i < 104; ++i) {
      const uint16_t run = (uint16_t)(i < 64 ? i : (i - 63) * 64);
      const uint8_t kind = i < 64 ? kTerminating : kMakeup;
      fill(white, 12, ttable[i].whiteCode, ttable[i].whiteLen, RunEntry{run, (uint8_t)ttable[i].whiteLen, kind});
      fill(black, 13, ttable[i].blackCode, ttable[i].blackLen, RunEntry{run, (uint8_t)ttable[i].blackLen, kind});
    }
    const struct { uint8_t code, len, mode; int8_t offset; } modes[] = {
      {0x1, 1, mVertical, 0},  {0x3, 3, mVertical, 1},  {0x2, 3, mVertical, -1},
      {0x1, 3, mHorizontal, 0}, {0x1, 4, mPass, 0},      {0x3, 6, mVertical, 2},
      {0x2, 6, mVertical, -2}, {0x3, 7, mVertical, 3},  {0x2, 7, mVertical, -3},
    };
    for (auto& m : modes)
      fill(mode, 7, m.code, m.len, ModeEntry{m.mode, m.len, m.offset});
    mode[0] = ModeEntry{mZeros, 7, 0};
  }

  template <typename E>
  static void fill(E* table, int bits, uint32_t code, int len, E e)
  {
    const uint32_t first = code << (bits - len), count = 1u << (bits - len);
    for (uint32_t i = 0; i < count; ++i)
      table[first + i] = e;
  }
};

const Tables& tables()
{
  static const Tables t;
  return t;
}

// Most-significant-first bit source over a buffer, read through a 64-bit
// window; bits past the end read as zero, and ended() tells when a code
// reached past the data.
class BitSource {
public:
  BitSource(const uint8_t* d, size_t n) : data(d), size(n), bits(n * 8) { refill(); }

  uint32_t peek(int n) // n <= 25
  {
    if (avail < 32)
      refill();
    return (uint32_t)(window >> (64 - n));
  }
  void skip(int n) // after a peek of at least n bits
  {
    window <<= n;
    avail -= n;
    pos += (size_t)n;
  }
  bool atEnd() const { return pos >= bits; }
  bool ended() const { return pos > bits; }
  void alignByte() { setBitPos((pos + 7) & ~(size_t)7); }
  size_t bitPos() const { return pos; }
  size_t bitCount() const { return bits; }
  void setBitPos(size_t p)
  {
    pos = p;
    next = p >> 3;
    window = 0;
    avail = 0;
    refill();
    window <<= (p & 7);
    avail -= (int)(p & 7);
  }

private:
  void refill()
  {
    if (next + 8 <= size) {
      // Eight bytes at once: the whole bytes that fit join the window
      // (the bits of a partial one are the same bits the next refill puts
      // in the same place).
      uint64_t v;
      memcpy(&v, data + next, 8);
      v = __builtin_bswap64(v);
      window |= v >> avail;
      const int take = (63 - avail) >> 3;
      next += (size_t)take;
      avail += take * 8;
      return;
    }
    while (avail <= 56) {
      const uint64_t b = next < size ? data[next] : 0;
      ++next;
      window |= b << (56 - avail);
      avail += 8;
    }
  }

  const uint8_t* data;
  size_t size;
  size_t bits;
  size_t pos = 0;     // bits consumed
  size_t next = 0;    // next byte to enter the window
  uint64_t window = 0; // the next bits, most significant first
  int avail = 0;      // valid bits in the window
};

// Sets bits [from, to) of a packed row.
inline void setBits(uint8_t* row, int from, int to)
{
  if (from >= to)
    return;
  const int fb = from >> 3, tb = (to - 1) >> 3;
  const uint8_t first = (uint8_t)(0xff >> (from & 7));
  const uint8_t last = (uint8_t)(0xff << (7 - ((to - 1) & 7)));
  if (fb == tb) {
    row[fb] |= first & last;
    return;
  }
  row[fb] |= first;
  if (tb - fb > 1)
    memset(row + fb + 1, 0xff, (size_t)(tb - fb - 1));
  row[tb] |= last;
}

enum class Step { Ok, Eol, EndRow, Stop };

// The changing elements of the row being decoded. Valid data has at most
// `width` of them; hostile data can repeat a position, so a full list ends
// the row. The 2-D decoder fills it through a cursor of its own.
class ChangeList {
public:
  explicit ChangeList(int width) : v((size_t)width + 4, width), limit((size_t)width + 1) {}
  bool push(int x)
  {
    if (n == limit)
      return false;
    v[n++] = x;
    return true;
  }
  void clear() { n = 0; }
  int* begin() { return v.data(); }
  int* full() { return v.data() + limit; }
  void setEnd(const int* end) { n = (size_t)(end - v.data()); }
  // Terminates the list with the sentinels a reference row needs.
  void seal(int width)
  {
    v[n] = v[n + 1] = v[n + 2] = width;
  }
  const int* data() const { return v.data(); }
  void swap(ChangeList& o)
  {
    v.swap(o.v);
    std::swap(n, o.n);
  }

private:
  std::vector<int> v;
  size_t n = 0;
  size_t limit;
};

// Rows go into a caller's buffer of `rows` rows when one is given, else
// into a string that grows up to kMaxOutput.
class Decoder {
public:
  Decoder(BitSource& s, int w, int h, int k, bool align, bool b1, uint8_t* dst = nullptr,
          size_t dstRows = 0)
    : src(s), width(w), height(h), K(k), byteAlign(align), oneColour(b1 ? kBlack : kWhite),
      mem(dst), memRows(dstRows)
  {
  }

  // Returns the rows produced, the row in progress at an error included.
  size_t run()
  {
    const size_t rowBytes = ((size_t)width + 7) / 8;
    if (!mem && height > 0) {
      // Every row takes at least one bit of input: reserve no more than the
      // data can describe.
      const size_t rows = std::min<size_t>((size_t)height, src.bitCount() + 1);
      out.reserve(std::min(rows * rowBytes, kMaxOutput));
    }
    ChangeList ref(width), cur(width);
    ref.seal(width);
    bool twoD = K != 0; // T.6 always; T.4 2-D until an EOL says otherwise
    size_t produced = 0;
    for (row = 0; height <= 0 || row < height; ++row) {
      if (src.atEnd())
        break;
      uint8_t* rowp;
      if (mem) {
        if ((size_t)row >= memRows)
          break;
        rowp = mem + (size_t)row * rowBytes;
        memset(rowp, 0, rowBytes);
      } else {
        if (out.size() + rowBytes > kMaxOutput) {
          fprintf(stderr, "ccitt: decoded data too large, stopping at line %d\n", row);
          break;
        }
        out.append(rowBytes, '\0');
        rowp = (uint8_t*)&out[out.size() - rowBytes];
      }
      ++produced;
      Step s;
      for (;;) {
        cur.clear();
        s = twoD ? decode2D(rowp, ref, cur) : decode1D(rowp, cur);
        if (s != Step::Eol)
          break;
        // An EOL before the row's first code is skipped; with T.4 2-D its
        // tag bit chooses the coding of the row that follows it.
        if (endOfData) {
          if (!mem)
            out.resize(out.size() - rowBytes);
          return produced - 1;
        }
        if (K > 0) {
          twoD = src.peek(1) == 0;
          src.skip(1);
        }
      }
      if (s == Step::Stop || src.ended())
        break;
      if (byteAlign)
        src.alignByte();
      cur.seal(width);
      ref.swap(cur);
    }
    return produced;
  }

  int rowsDone() const { return row; }
  std::string& output() { return out; }

private:
  BitSource& src;
  const int width, height, K;
  const bool byteAlign;
  const int oneColour;
  uint8_t* const mem;
  const size_t memRows;
  int row = 0;
  bool endOfData = false;
  std::string out;

  void reportError(int a0, int colour)
  {
    const uint32_t bits = src.peek(24);
    std::string digits;
    for (int i = 23; i >= 0; --i)
      digits.push_back((bits >> i) & 1 ? '1' : '0');
    fprintf(stderr, "ccitt decoding error line %d/%d at: %d/%d, color: %d with K: %d align: %d %s(#24)\n", row,
            height, a0, width, colour, K, byteAlign ? 1 : 0, digits.c_str());
  }

  // Eleven or more 0 bits and a 1: consumed, true. Otherwise nothing is
  // consumed.
  bool takeEol()
  {
    const size_t start = src.bitPos();
    int zeros = 0;
    while (!src.atEnd() && src.peek(1) == 0) {
      src.skip(1);
      ++zeros;
    }
    if (zeros >= 11 && !src.atEnd()) {
      src.skip(1);
      return true;
    }
    src.setBitPos(start);
    return false;
  }

  // At a row start an EOL is skipped. Two in a row (the end-of-block mark,
  // or the return-to-control of T.4, whose EOLs carry tag bits) end the
  // data: no row is coded as an EOL alone.
  Step eolAtStart()
  {
    if (!takeEol())
      return Step::Stop;
    const size_t after = src.bitPos();
    if (K > 0)
      src.skip(1);
    if (takeEol()) {
      endOfData = true;
      return Step::Eol;
    }
    src.setBitPos(after);
    return Step::Eol;
  }

  // One run of `colour` from `bits`: make-up codes, then a terminating
  // code. Ok, Eol (the code is all zeros: an EOL, not consumed), or
  // Invalid (nothing consumed) or Stop (the data ended).
  enum class Run { Ok, Eol, Invalid, Stop };
  __attribute__((always_inline)) Run readRun(BitSource& bits, int colour, int& run) const
  {
    const Tables& t = tables();
    run = 0;
    for (;;) {
      if (bits.atEnd())
        return Run::Stop;
      const RunEntry& e = colour == kWhite ? t.white[bits.peek(12)] : t.black[bits.peek(13)];
      if (e.kind == kInvalid)
        return bits.peek(11) == 0 ? Run::Eol : Run::Invalid;
      bits.skip(e.len);
      run += e.run;
      if (e.kind == kTerminating)
        return Run::Ok;
      if (run > width + 2560) // an endless chain of make-up codes
        return Run::Invalid;
    }
  }

  Step midRowEol()
  {
    fprintf(stderr, "EOL in the middle of the line?\n");
    return Step::EndRow;
  }

  Step tooManyChanges(int a0, int colour)
  {
    reportError(a0, colour);
    return Step::Stop;
  }

  Step decode1D(uint8_t* rowp, ChangeList& cur)
  {
    int a0 = 0, colour = kWhite;
    bool started = false;
    while (a0 < width) {
      int run;
      const Run r = readRun(src, colour, run);
      if (r == Run::Eol)
        return started ? midRowEol() : eolAtStart();
      if (r == Run::Invalid)
        reportError(a0, colour);
      if (r != Run::Ok)
        return Step::Stop;
      started = true;
      const int a1 = (int)std::min<int64_t>((int64_t)a0 + run, width);
      if (colour == oneColour)
        setBits(rowp, a0, a1);
      if (a1 < width && !cur.push(a1))
        return tooManyChanges(a0, colour);
      a0 = a1;
      colour ^= 1;
    }
    return src.ended() ? Step::Stop : Step::Ok;
  }

  // The hot loop keeps the bit source, the lists and the row in locals:
  // the row's byte stores may alias any memory, so state kept in members
  // would be reloaded after every run painted.
  Step decode2D(uint8_t* rowp, const ChangeList& ref, ChangeList& cur)
  {
    const Tables& t = tables();
    BitSource bits = src;
    const int* const refp = ref.data();
    int* changes = cur.begin();
    int* const full = cur.full();
    const int w = width, one = oneColour;
    int a0 = -1, colour = kWhite;
    size_t lb = 0;
    bool started = false;
    Step result;
    // Hands the local state back before a slow path or the return.
    auto sync = [&]() {
      src = bits;
      cur.setEnd(changes);
    };
    for (;;) {
      if (a0 >= w) {
        result = bits.ended() ? Step::Stop : Step::Ok;
        break;
      }
      if (bits.atEnd()) {
        result = Step::Stop;
        break;
      }
      int b1, b2;
      findB1B2(refp, lb, a0, colour, b1, b2);
      const ModeEntry& m = t.mode[bits.peek(7)];
      const int start = a0 < 0 ? 0 : a0;
      if (m.mode == mVertical) {
        bits.skip(m.len);
        // Hostile data can point left of a0 or past the row: a backwards
        // move is a decoding error, a move past the end is clipped.
        int a1 = b1 + m.offset;
        if (a1 < start) {
          sync();
          reportError(a0, colour);
          return Step::Stop;
        }
        if (a1 > w)
          a1 = w;
        if (colour == one)
          setBits(rowp, start, a1);
        if (a1 < w) {
          if (changes == full) {
            sync();
            return tooManyChanges(a0, colour);
          }
          *changes++ = a1;
        }
        a0 = a1;
        colour ^= 1;
        started = true;
        continue;
      }
      if (m.mode == mPass) {
        bits.skip(m.len);
        if (colour == one)
          setBits(rowp, start, b2);
        a0 = b2;
        started = true;
        continue;
      }
      if (m.mode == mHorizontal) {
        bits.skip(m.len);
        int r1 = 0, r2 = 0, runColour = colour;
        Run r = readRun(bits, colour, r1);
        if (r == Run::Ok)
          r = readRun(bits, runColour = colour ^ 1, r2);
        if (r != Run::Ok) {
          sync();
          if (r == Run::Eol)
            return midRowEol();
          if (r == Run::Invalid)
            reportError(a0, runColour);
          return Step::Stop;
        }
        const int a1 = (int)std::min<int64_t>((int64_t)start + r1, w);
        const int a2 = (int)std::min<int64_t>((int64_t)a1 + r2, w);
        if (colour == one)
          setBits(rowp, start, a1);
        else
          setBits(rowp, a1, a2);
        if (a1 < w) {
          if (changes == full) {
            sync();
            return tooManyChanges(a0, colour);
          }
          *changes++ = a1;
        }
        if (a2 < w) {
          if (changes == full) {
            sync();
            return tooManyChanges(a0, colour);
          }
          *changes++ = a2;
        }
        a0 = a2;
        started = true;
        continue;
      }
      sync();
      if (m.mode == mZeros && (src.peek(11) == 0 || src.peek(12) == 1))
        return started ? midRowEol() : eolAtStart();
      // Extension codes (uncompressed mode) are not supported.
      reportError(a0, colour);
      return Step::Stop;
    }
    sync();
    return result;
  }
};

} // namespace

size_t DecodeCCITT(const uint8_t* data, size_t size, int width, int height, int K, bool byteAlign,
                   bool blackIs1, uint8_t* dst, size_t dstRows)
{
  if (width <= 0 || width > kMaxWidth || height <= 0 || !dst) {
    if (width > kMaxWidth)
      fprintf(stderr, "ccitt: width %d not supported\n", width);
    return 0;
  }
  BitSource src(data, size);
  Decoder dec(src, width, height, K, byteAlign, blackIs1, dst, dstRows);
  return dec.run();
}

std::string DecodeCCITT(std::istream& in, int width, int height, int K, bool byteAlign, bool blackIs1,
                        bool endOfBlock)
{
  const std::streampos start = in.tellg();
  std::string data;
  {
    std::ostringstream all;
    if (in.rdbuf())
      all << in.rdbuf();
    data = all.str();
  }
  if (width <= 0 || width > kMaxWidth) {
    if (width > kMaxWidth)
      fprintf(stderr, "ccitt: width %d not supported\n", width);
    return std::string();
  }
  BitSource src((const uint8_t*)data.data(), data.size());
  Decoder dec(src, width, height, K, byteAlign, blackIs1);
  dec.run();
  std::string out = std::move(dec.output());

  if (endOfBlock && (height <= 0 || dec.rowsDone() >= height)) {
    const size_t at = src.bitPos();
    const uint32_t v = src.peek(24);
    src.skip(24);
    if (v != 0x001001 || src.ended()) {
      fprintf(stderr, "no EOFB: %x\n", v);
      src.setBitPos(at);
    }
  }

  // Leave the stream after the last byte a code was read from.
  in.clear();
  if (start != std::streampos(-1)) {
    const size_t used = std::min(data.size(), (src.bitPos() + 7) / 8);
    in.seekg(start + (std::streamoff)used);
  }
  return out;
}
