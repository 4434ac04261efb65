// PNG reading and writing.
#include "codecs/PNG.hh"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <vector>

#include "codecs/Args.hh"
#include "codecs/Decoders.hh"
#include "codecs/MemoryStream.hh"
#include "codecs/PNGPredict.hh"
#include "codecs/Resolution.hh"
#include "codecs/parallel_deflate.hh"
#include "image/Image.hh"
#include "math/CRC32.hh"
#include "utility/ByteOrder.hh"
#include "utility/Saturate.hh"

namespace {

const unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

using byteorder::loadBE32;
using byteorder::storeBE32;

bool is(const unsigned char* type, const char* name)
{
  return memcmp(type, name, 4) == 0;
}

// Reads n bytes of chunk data into out, as far as the stream holds them;
// declared lengths are not trusted for allocation.
bool readInto(std::istream& in, GrowBuf& out, uint64_t n)
{
  const uint64_t kStep = (uint64_t)1 << 20;
  while (n) {
    const uint64_t k = n < kStep ? n : kStep;
    unsigned char* p = out.room(k);
    if (!p)
      return false;
    in.read((char*)p, (std::streamsize)k);
    const std::streamsize got = in.gcount();
    out.commit(got > 0 ? (uint64_t)got : 0);
    if ((uint64_t)got != k)
      return false;
    n -= k;
  }
  return true;
}

// Bytes left in a seekable stream, or 0 when unknown.
uint64_t bytesLeft(std::istream& in)
{
  const std::streampos pos = in.tellg();
  if (pos == std::streampos(-1))
    return 0;
  in.seekg(0, std::ios::end);
  const std::streampos end = in.tellg();
  in.seekg(pos);
  if (end == std::streampos(-1) || !in)
    return 0;
  return end > pos ? (uint64_t)(end - pos) : 0;
}

// Reads a small chunk body of up to max bytes, skipping the rest and the CRC.
std::vector<unsigned char> readSmall(std::istream& in, uint32_t len, uint32_t max)
{
  std::vector<unsigned char> v(len < max ? len : max);
  if (!v.empty())
    in.read((char*)v.data(), (std::streamsize)v.size());
  v.resize((size_t)in.gcount() < v.size() ? (size_t)in.gcount() : v.size());
  in.ignore((std::streamsize)(len - (uint32_t)v.size()) + 4);
  return v;
}

// Adam7: seven passes over the pixel grid, each stored as a small image
// with its own filtered rows.
struct Pass {
  unsigned x0, y0, dx, dy;
};
const Pass kAdam7[7] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                        {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};

uint64_t passSize(uint64_t n, unsigned start, unsigned step)
{
  return n > start ? (n - start + step - 1) / step : 0;
}

// Unfilters every pass of data in place and places its pixels in out (rows
// of rowBytes, zeroed).
void deinterlace(unsigned char* data, unsigned char* out, uint64_t width, uint64_t height,
                 uint64_t rowBytes, unsigned bitsPerPixel, int bpp, bool swapRedBlue)
{
  for (const Pass& p : kAdam7) {
    const uint64_t pw = passSize(width, p.x0, p.dx), ph = passSize(height, p.y0, p.dy);
    if (!pw || !ph)
      continue;
    const uint64_t passRow = (pw * bitsPerPixel + 7) / 8;
    unfilterPNG(data, nullptr, ph, passRow, bpp, swapRedBlue);
    for (uint64_t py = 0; py < ph; ++py) {
      const unsigned char* src = data + py * passRow;
      unsigned char* dst = out + (p.y0 + py * p.dy) * rowBytes;
      for (uint64_t px = 0; px < pw; ++px) {
        const uint64_t x = p.x0 + px * p.dx;
        if (bitsPerPixel >= 8) {
          const unsigned n = bitsPerPixel / 8;
          memcpy(dst + x * n, src + px * n, n);
        } else {
          // Sub-byte gray: move one bit group, most significant first.
          const unsigned mask = (1u << bitsPerPixel) - 1;
          const uint64_t sb = px * bitsPerPixel, db = x * bitsPerPixel;
          const unsigned v = (src[sb / 8] >> (8 - bitsPerPixel - sb % 8)) & mask;
          dst[db / 8] |= (unsigned char)(v << (8 - bitsPerPixel - db % 8));
        }
      }
    }
    data += (passRow + 1) * ph;
  }
}

} // namespace

namespace {

// What the chunks around the image data say.
struct Header {
  uint32_t width = 0, height = 0;
  int bps = 0, spp = 0, colorType = 0;
  bool haveIHDR = false, palette = false, interlaced = false, cgbi = false, havePHYs = false;
  uint32_t ppuX = 0, ppuY = 0;
  std::vector<unsigned char> plte;
};

// How reading goes on after a chunk.
enum class Next { Chunk, Stop, Refuse };

Next readIHDR(std::istream& in, uint32_t len, Header& h)
{
  if (len != 13) {
    std::cerr << "length mismatch" << std::endl;
    return Next::Refuse;
  }
  std::vector<unsigned char> d = readSmall(in, len, 13);
  if (d.size() != 13)
    return Next::Stop;
  h.width = loadBE32(&d[0]);
  h.height = loadBE32(&d[4]);
  h.bps = d[8];
  h.colorType = d[9];
  h.spp = (h.colorType & 2) ? 3 : 1;
  if (h.colorType & 4)
    ++h.spp;
  h.palette = (h.colorType & 1) != 0;
  if (h.palette)
    h.spp = 1; // one index per pixel
  h.haveIHDR = true;
  const int bps = h.bps, colorType = h.colorType;
  const bool depthOK =
      colorType == 0 ? (bps == 1 || bps == 2 || bps == 4 || bps == 8 || bps == 16)
      : colorType == 3 ? (bps == 1 || bps == 2 || bps == 4 || bps == 8)
      : (colorType == 2 || colorType == 4 || colorType == 6) ? (bps == 8 || bps == 16)
      : false;
  if (!depthOK) {
    std::cerr << "unsupported PNG colour type " << colorType << " with bit depth " << bps
              << std::endl;
    return Next::Refuse;
  }
  if (h.width == 0 || h.height == 0 || h.width > 0x7fffffffu || h.height > 0x7fffffffu) {
    std::cerr << "invalid PNG size " << h.width << "x" << h.height << std::endl;
    return Next::Refuse;
  }
  if (d[12] > 1) {
    std::cerr << "unsupported PNG interlace method " << (int)d[12] << std::endl;
    return Next::Refuse;
  }
  h.interlaced = d[12] == 1;
  return Next::Chunk;
}

Next readPHYs(std::istream& in, uint32_t len, Header& h)
{
  if (len != 9) {
    std::cerr << "length mismatch" << std::endl;
    return Next::Refuse;
  }
  std::vector<unsigned char> d = readSmall(in, len, 9);
  if (d.size() != 9)
    return Next::Stop;
  h.ppuX = loadBE32(&d[0]);
  h.ppuY = loadBE32(&d[4]);
  // Unit 0 gives only the pixels' aspect ratio, not a resolution.
  h.havePHYs = d[8] != 0;
  return Next::Chunk;
}

// Chunks that need no more than skipping, or a line on what is ignored.
void skipChunk(std::istream& in, const unsigned char* type, uint32_t len, const Header& h)
{
  if (is(type, "sBIT")) {
    std::vector<unsigned char> d = readSmall(in, len, 4);
    if (len != (uint32_t)h.spp)
      std::cerr << "Warning: PNG sBIT length != spp" << std::endl;
    for (size_t i = 0; i < d.size(); ++i)
      if (d[i] != h.bps)
        std::cerr << "Warning: NYI: sBIT ch: " << i << " " << (int)d[i] << std::endl;
    return;
  }
  if (is(type, "tRNS")) {
    std::cerr << "tRNS!" << std::endl;
  } else {
    static const char* const quiet[] = {"bKGD", "cHRM", "gAMA", "hIST", "iCCP", "iTXt",
                                        "sPLT", "sRGB", "tEXt", "tIME", "zTXt"};
    bool known = false;
    for (const char* q : quiet)
      known = known || is(type, q);
    if (!known)
      std::cerr << "unknown / unimplemented chunk type: " << std::string((const char*)type, 4)
                << ", length: " << len << std::endl;
  }
  in.ignore((std::streamsize)len + 4);
}

// One chunk, its compressed image data appended to idat.
Next readChunk(std::istream& in, Header& h, GrowBuf& idat)
{
  unsigned char head[8];
  in.read((char*)head, sizeof head);
  if (in.gcount() != (std::streamsize)sizeof head)
    return Next::Stop;
  const uint32_t len = loadBE32(head);
  const unsigned char* type = head + 4;
  Next next = Next::Chunk;
  if (is(type, "IHDR")) {
    next = readIHDR(in, len, h);
  } else if (is(type, "IDAT")) {
    if (!readInto(in, idat, len))
      return Next::Stop;
    in.ignore(4);
  } else if (is(type, "PLTE")) {
    h.plte = readSmall(in, len, 3 * 256);
  } else if (is(type, "pHYs")) {
    next = readPHYs(in, len, h);
  } else if (is(type, "IEND")) {
    if (len != 0) {
      std::cerr << "length mismatch" << std::endl;
      return Next::Refuse;
    }
    in.ignore(4);
  } else if (is(type, "CgBI")) {
    h.cgbi = true;
    in.ignore((std::streamsize)len + 4);
  } else {
    skipChunk(in, type, len, h);
  }
  if (next == Next::Chunk && !in)
    return Next::Stop;
  return next;
}

// Every chunk up to the end of the stream; false when the file is refused.
bool readChunks(std::istream& in, Header& h, GrowBuf& idat)
{
  for (;;) {
    const Next next = readChunk(in, h, idat);
    if (next == Next::Refuse)
      return false;
    if (next == Next::Stop)
      break;
  }
  if (!h.haveIHDR) {
    std::cerr << "PNG without IHDR" << std::endl;
    return false;
  }
  if (h.palette && h.plte.size() < 3) {
    std::cerr << "indexed PNG but no palette" << std::endl;
    return false;
  }
  return true;
}

// Bytes of the filtered rows (a filter byte each), over all passes when
// interlaced.
uint64_t filteredSize(const Header& h, uint64_t rowBytes)
{
  if (!h.interlaced)
    return (rowBytes + 1) * (uint64_t)h.height;
  const uint64_t bitsPerPixel = (uint64_t)h.spp * (uint64_t)h.bps;
  uint64_t size = 0;
  for (const Pass& p : kAdam7) {
    const uint64_t pw = passSize(h.width, p.x0, p.dx), ph = passSize(h.height, p.y0, p.dy);
    if (pw && ph)
      size += ((pw * bitsPerPixel + 7) / 8 + 1) * ph;
  }
  return size;
}

// The inflated, still filtered rows of a read, kept per thread from one
// read to the next: a fresh block of a page's size costs a page fault per
// 4 KiB on every read, more than inflating into it (a job reads page after
// page). Blocks above kKeep are given back after each read.
class Scratch {
public:
  ~Scratch() { free(block); }
  // Room for n bytes; null when there is no memory for it.
  unsigned char* get(uint64_t n)
  {
    if (n > size) {
      release();
      if (n <= (uint64_t)SIZE_MAX)
        block = (unsigned char*)malloc((size_t)n);
      size = block ? n : 0;
    }
    return block;
  }
  void done()
  {
    if (size > kKeep)
      release();
  }

private:
  static const uint64_t kKeep = (uint64_t)64 << 20;
  void release()
  {
    free(block);
    block = nullptr;
    size = 0;
  }
  unsigned char* block = nullptr;
  uint64_t size = 0;
};

Scratch& scratch()
{
  thread_local Scratch s;
  return s;
}

// Inflates the image data into the scratch block; null (with a message)
// when it does not hold the rows of the image.
unsigned char* inflateRows(const Header& h, GrowBuf& idat, uint64_t expected)
{
  // Deflate expands by at most 1032:1: whatever IHDR says, data that cannot
  // fill the image is refused before anything is allocated for it.
  if (expected / 1032 > idat.size() + 1024) {
    std::cerr << "uncompressed deflate stream too short?" << std::endl;
    return nullptr;
  }
  unsigned char* dst = scratch().get(expected);
  if (!dst)
    throw std::bad_alloc();
  uint64_t produced = 0;
  // CgBI data is raw deflate (with a full window, whatever its writers claim).
  if (!inflateToMemory(idat.data(), idat.size(), h.cgbi ? -15 : 15, dst, expected, &produced)) {
    std::cerr << "error in defalte stream" << std::endl;
    return nullptr;
  }
  if (produced < expected) {
    std::cerr << "uncompressed deflate stream too short?" << std::endl;
    return nullptr;
  }
  return dst;
}

// The image's rows as stored (palette indices of 1, 2 or 4 bits stay
// packed), malloc'd; null (with a message) when the data does not make
// them.
unsigned char* decodeRows(const Header& h, GrowBuf& idat, uint64_t rowBytes)
{
  struct Done {
    ~Done() { scratch().done(); }
  } done;
  unsigned char* raw = inflateRows(h, idat, filteredSize(h, rowBytes));
  if (!raw)
    return nullptr;
  const uint64_t size = rowBytes * h.height;
  unsigned char* pixels =
      (unsigned char*)(h.interlaced ? calloc((size_t)size, 1) : malloc((size_t)size));
  if (!pixels)
    throw std::bad_alloc();
  const int bpp = (h.bps * h.spp + 7) / 8;
  const bool swapRedBlue = h.cgbi && h.spp == 4;
  if (h.interlaced)
    deinterlace(raw, pixels, h.width, h.height, rowBytes, (unsigned)(h.spp * h.bps), bpp,
                swapRedBlue);
  else
    unfilterPNG(raw, pixels, h.height, rowBytes, bpp, swapRedBlue);
  return pixels;
}

// 16-bit samples from file order to host order.
void swapSixteen(unsigned char* pixels, uint64_t size)
{
  for (uint64_t i = 0; i + 1 < size; i += 2) {
    const unsigned char t = pixels[i];
    pixels[i] = pixels[i + 1];
    pixels[i + 1] = t;
  }
}

// Palette indices to gray (when every entry is gray) or RGB; indices beyond
// the palette's entries read as black. Frees pixels, returns the new rows
// and sets spp.
unsigned char* expandPalette(unsigned char* pixels, const Header& h, uint64_t rowBytes, int& spp)
{
  const unsigned entries = (unsigned)(h.plte.size() / 3);
  unsigned char table[256][3] = {};
  bool gray = true;
  for (unsigned i = 0; i < entries; ++i) {
    memcpy(table[i], &h.plte[3 * i], 3);
    gray = gray && table[i][0] == table[i][1] && table[i][1] == table[i][2];
  }
  const int outSpp = gray ? 1 : 3;
  const uint64_t count = (uint64_t)h.width * h.height;
  unsigned char* expanded = (unsigned char*)malloc((size_t)(count * outSpp));
  if (!expanded) {
    free(pixels);
    throw std::bad_alloc();
  }
  const int bps = h.bps;
  const unsigned mask = (1u << bps) - 1;
  unsigned char* o = expanded;
  for (uint64_t y = 0; y < h.height; ++y) {
    const unsigned char* row = pixels + y * rowBytes;
    for (uint64_t x = 0; x < h.width; ++x, o += outSpp) {
      const uint64_t bit = x * bps;
      const unsigned index = (row[bit / 8] >> (8 - bps - bit % 8)) & mask;
      memcpy(o, table[index], (size_t)outSpp);
    }
  }
  free(pixels);
  spp = outSpp;
  return expanded;
}

// pHYs pixels per metre in dots per inch.
int dpiFromPerMetre(uint32_t perMetre)
{
  return dpiFromInches((double)perMetre * 254 / 10000);
}

} // namespace

PNG2Codec::PNG2Codec()
{
  registerCodec("png", this);
}

PNG2Codec::~PNG2Codec() {}

int PNG2Codec::readImage(std::istream* stream, Image& image, const std::string& decompress)
{
  unsigned char sig[8];
  stream->read((char*)sig, sizeof sig);
  if (stream->gcount() != (std::streamsize)sizeof sig || memcmp(sig, kSignature, 8) != 0) {
    stream->clear();
    stream->seekg(0);
    return 0;
  }

  Header h;
  GrowBuf idat;
  if (Args(decompress).count("count")) {
    // One page; the header must be one this reader takes.
    stream->clear();
    Next next = Next::Chunk;
    while (!h.haveIHDR && next == Next::Chunk)
      next = readChunk(*stream, h, idat);
    return h.haveIHDR && next == Next::Chunk ? 1 : 0;
  }
  // One allocation for the compressed data when the stream tells its size.
  idat.reserve(bytesLeft(*stream));
  stream->clear();
  if (!readChunks(*stream, h, idat))
    return 0;

  // The image's rows must fit its 32-bit stride.
  const uint64_t rowBytes = ((uint64_t)h.width * (uint64_t)h.spp * (uint64_t)h.bps + 7) / 8;
  if (rowBytes > 0xffffffffu) {
    std::cerr << "PNG too large: stride overflow" << std::endl;
    return 0;
  }
  unsigned char* pixels = decodeRows(h, idat, rowBytes);
  if (!pixels)
    return 0;
  if (h.bps == 16)
    swapSixteen(pixels, rowBytes * h.height);
  int spp = h.spp, bps = h.bps;
  if (h.palette) {
    pixels = expandPalette(pixels, h, rowBytes, spp);
    bps = 8;
  }

  image.w = (int)h.width;
  image.h = (int)h.height;
  image.bps = (uint8_t)bps;
  image.spp = (uint8_t)spp;
  image.rowStride = 0;
  image.setRawData(pixels);
  if (h.havePHYs)
    image.setResolution(dpiFromPerMetre(h.ppuX), dpiFromPerMetre(h.ppuY));
  else
    image.setResolution(0, 0);
  return 1;
}

namespace {

void writeChunk(std::ostream& out, const char* type, const unsigned char* data, uint64_t n)
{
  unsigned char head[8];
  storeBE32(head, (uint32_t)n);
  memcpy(head + 4, type, 4);
  out.write((const char*)head, 8);
  if (n)
    out.write((const char*)data, (std::streamsize)n);
  unsigned char crc[4];
  storeBE32(crc, crc32Update(crc32Update(0, type, 4), data, (size_t)n));
  out.write((const char*)crc, 4);
}

} // namespace

bool PNG2Codec::writeImage(std::ostream* stream, Image& image, int quality,
                           const std::string& compress)
{
  (void)compress;
  const unsigned char* data = image.getRawData();
  if (!stream || !data || image.w <= 0 || image.h <= 0)
    return false;

  int colorType;
  switch (image.spp) {
  case 1: colorType = 0; break;
  case 2: colorType = 4; break;
  case 3: colorType = 2; break;
  case 4: colorType = 6; break;
  default:
    std::cerr << "unsupported PNG sample count" << std::endl;
    return false;
  }
  const int bps = image.bps;
  const bool depthOK = bps == 8 || bps == 16 || (image.spp == 1 && (bps == 1 || bps == 2 || bps == 4));
  if (!depthOK) {
    std::cerr << "unsupported PNG bit depth" << std::endl;
    return false;
  }

  stream->write((const char*)kSignature, sizeof kSignature);
  unsigned char ihdr[13];
  storeBE32(ihdr, (uint32_t)image.w);
  storeBE32(ihdr + 4, (uint32_t)image.h);
  ihdr[8] = (unsigned char)bps;
  ihdr[9] = (unsigned char)colorType;
  ihdr[10] = ihdr[11] = ihdr[12] = 0;
  writeChunk(*stream, "IHDR", ihdr, sizeof ihdr);

  if (image.resX > 0 && image.resY > 0) {
    unsigned char phys[9];
    storeBE32(phys, (uint32_t)((int64_t)image.resX * 10000 / 254));
    storeBE32(phys + 4, (uint32_t)((int64_t)image.resY * 10000 / 254));
    phys[8] = 1; // metre
    writeChunk(*stream, "pHYs", phys, sizeof phys);
  }

  // Quality 0..100 runs from level 9 to 0; anything outside still gives a
  // valid level.
  const int level = clamp_int(saturate_cast<int>(quality / (-100.0 / 9) + 9), 0, 9);

  // Rows are copied out for byte swapping, so the caller's 16-bit samples
  // stay in host order, then Up-filtered against the previous raw row.
  const uint64_t fill = image.stridefill();
  const uint64_t stride = image.stride();
  const int bpp = (bps * image.spp + 7) / 8;
  const uint64_t line = fill + 1;
  std::vector<unsigned char> cur(fill), prev(fill);
  // The filtered rows are gathered whole so that large images deflate on
  // every core.
  std::vector<unsigned char> filtered(line * (uint64_t)image.h);
  for (int y = 0; y < image.h; ++y) {
    const unsigned char* row = data + (uint64_t)y * stride;
    if (bps == 16) {
      for (uint64_t i = 0; i + 1 < fill; i += 2) {
        cur[i] = row[i + 1];
        cur[i + 1] = row[i];
      }
    } else {
      memcpy(cur.data(), row, (size_t)fill);
    }
    unsigned char* out = filtered.data() + line * (uint64_t)y;
    out[0] = 2;
    filterPNGRow(2, cur.data(), y ? prev.data() : nullptr, fill, bpp, out + 1);
    cur.swap(prev);
  }
  GrowBuf comp;
  std::ostream compStream(&comp);
  const bool ok = paralleldeflate::deflate(compStream, filtered.data(), filtered.size(), level);
  std::vector<unsigned char>().swap(filtered);
  if (!ok) {
    std::cerr << "PNG: deflate failed" << std::endl;
    return false;
  }

  // A chunk holds at most 2^31 - 1 bytes.
  const uint64_t kMaxChunk = (uint64_t)1 << 30;
  uint64_t done = 0;
  do {
    const uint64_t n = comp.size() - done < kMaxChunk ? comp.size() - done : kMaxChunk;
    writeChunk(*stream, "IDAT", comp.data() + done, n);
    done += n;
  } while (done < comp.size());
  writeChunk(*stream, "IEND", nullptr, 0);
  stream->flush();
  return stream->good();
}
