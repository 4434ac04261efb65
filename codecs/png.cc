// PNG reading and writing.
#include "codecs/PNG.hh"

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <vector>

#include "codecs/Decoders.hh"
#include "codecs/MemoryStream.hh"
#include "codecs/PNGPredict.hh"
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

PNG2Codec::PNG2Codec()
{
  registerCodec("png", this);
}

PNG2Codec::~PNG2Codec() {}

int PNG2Codec::readImage(std::istream* stream, Image& image, const std::string& decompress)
{
  (void)decompress;
  unsigned char sig[8];
  stream->read((char*)sig, sizeof sig);
  if (stream->gcount() != (std::streamsize)sizeof sig || memcmp(sig, kSignature, 8) != 0) {
    stream->clear();
    stream->seekg(0);
    return 0;
  }

  bool haveIHDR = false, palette = false, cgbi = false, havePHYs = false, interlaced = false;
  uint32_t width = 0, height = 0, ppuX = 0, ppuY = 0;
  int bps = 0, spp = 0, colorType = 0;
  std::vector<unsigned char> plte;
  GrowBuf idat;
  // One allocation for the compressed data when the stream tells its size.
  idat.reserve(bytesLeft(*stream));
  stream->clear();

  for (;;) {
    unsigned char head[8];
    stream->read((char*)head, sizeof head);
    if (stream->gcount() != (std::streamsize)sizeof head)
      break;
    const uint32_t len = loadBE32(head);
    const unsigned char* type = head + 4;

    if (is(type, "IHDR")) {
      if (len != 13) {
        std::cerr << "length mismatch" << std::endl;
        return 0;
      }
      std::vector<unsigned char> d = readSmall(*stream, len, 13);
      if (d.size() != 13)
        break;
      width = loadBE32(&d[0]);
      height = loadBE32(&d[4]);
      bps = d[8];
      colorType = d[9];
      spp = (colorType & 2) ? 3 : 1;
      if (colorType & 4)
        ++spp;
      palette = (colorType & 1) != 0;
      haveIHDR = true;
      const bool depthOK =
          colorType == 0 ? (bps == 1 || bps == 2 || bps == 4 || bps == 8 || bps == 16)
          : colorType == 3 ? (bps == 1 || bps == 2 || bps == 4 || bps == 8)
          : (colorType == 2 || colorType == 4 || colorType == 6) ? (bps == 8 || bps == 16)
          : false;
      if (!depthOK) {
        std::cerr << "unsupported PNG colour type " << colorType << " with bit depth " << bps
                  << std::endl;
        return 0;
      }
      if (width == 0 || height == 0 || width > 0x7fffffffu || height > 0x7fffffffu) {
        std::cerr << "invalid PNG size " << width << "x" << height << std::endl;
        return 0;
      }
      if (d[12] > 1) {
        std::cerr << "unsupported PNG interlace method " << (int)d[12] << std::endl;
        return 0;
      }
      interlaced = d[12] == 1;
    } else if (is(type, "IDAT")) {
      if (!readInto(*stream, idat, len))
        break;
      stream->ignore(4);
    } else if (is(type, "PLTE")) {
      plte = readSmall(*stream, len, 3 * 256);
    } else if (is(type, "pHYs")) {
      if (len != 9) {
        std::cerr << "length mismatch" << std::endl;
        return 0;
      }
      std::vector<unsigned char> d = readSmall(*stream, len, 9);
      if (d.size() != 9)
        break;
      ppuX = loadBE32(&d[0]);
      ppuY = loadBE32(&d[4]);
      havePHYs = true;
    } else if (is(type, "IEND")) {
      if (len != 0) {
        std::cerr << "length mismatch" << std::endl;
        return 0;
      }
      stream->ignore(4);
    } else if (is(type, "sBIT")) {
      std::vector<unsigned char> d = readSmall(*stream, len, 4);
      if (len != (uint32_t)spp)
        std::cerr << "Warning: PNG sBIT length != spp" << std::endl;
      for (size_t i = 0; i < d.size(); ++i)
        if (d[i] != bps)
          std::cerr << "Warning: NYI: sBIT ch: " << i << " " << (int)d[i] << std::endl;
    } else if (is(type, "tRNS")) {
      std::cerr << "tRNS!" << std::endl;
      stream->ignore((std::streamsize)len + 4);
    } else if (is(type, "CgBI")) {
      cgbi = true;
      stream->ignore((std::streamsize)len + 4);
    } else {
      static const char* const quiet[] = {"bKGD", "cHRM", "gAMA", "hIST", "iCCP", "iTXt",
                                          "sPLT", "sRGB", "tEXt", "tIME", "zTXt"};
      bool known = false;
      for (const char* q : quiet)
        known = known || is(type, q);
      if (!known)
        std::cerr << "unknown / unimplemented chunk type: " << std::string((const char*)type, 4)
                  << ", length: " << len << std::endl;
      stream->ignore((std::streamsize)len + 4);
    }
    if (!*stream)
      break;
  }

  if (!haveIHDR) {
    std::cerr << "PNG without IHDR" << std::endl;
    return 0;
  }
  if (palette && plte.size() < 3) {
    std::cerr << "indexed PNG but no palette" << std::endl;
    return 0;
  }

  // Palette images are read with one byte per index.
  const uint64_t rowBytes =
      palette ? (uint64_t)width : ((uint64_t)width * (uint64_t)spp * (uint64_t)bps + 7) / 8;
  // The image's rows must fit its 32-bit stride.
  if (((uint64_t)width * (uint64_t)spp * (uint64_t)bps + 7) / 8 > 0xffffffffu) {
    std::cerr << "PNG too large: stride overflow" << std::endl;
    return 0;
  }
  const uint64_t bitsPerPixel = palette ? 8 : (uint64_t)spp * (uint64_t)bps;
  uint64_t expected = (rowBytes + 1) * (uint64_t)height;
  if (interlaced) {
    expected = 0;
    for (const Pass& p : kAdam7) {
      const uint64_t pw = passSize(width, p.x0, p.dx), ph = passSize(height, p.y0, p.dy);
      if (pw && ph)
        expected += ((pw * bitsPerPixel + 7) / 8 + 1) * ph;
    }
  }
  // Deflate expands by at most 1032:1: whatever IHDR says, data that cannot
  // fill the image is refused before anything is allocated for it.
  if (expected / 1032 > idat.size() + 1024) {
    std::cerr << "uncompressed deflate stream too short?" << std::endl;
    return 0;
  }

  GrowBuf raw(expected);
  unsigned char* dst = raw.room(expected);
  if (!dst)
    throw std::bad_alloc();
  uint64_t produced = 0;
  // CgBI data is raw deflate (with a full window, whatever its writers claim).
  if (!inflateToMemory(idat.data(), idat.size(), cgbi ? -15 : 15, dst, expected, &produced)) {
    std::cerr << "error in defalte stream" << std::endl;
    return 0;
  }
  if (produced < expected) {
    std::cerr << "uncompressed deflate stream too short?" << std::endl;
    return 0;
  }
  raw.commit(produced);

  const int bpp = palette ? 1 : (bps * spp + 7) / 8;
  unsigned char* pixels;
  const uint64_t size = rowBytes * height;
  if (!interlaced) {
    unfilterPNG(raw.data(), nullptr, height, rowBytes, bpp, cgbi && spp == 4);
    pixels = raw.release();
  } else {
    pixels = (unsigned char*)calloc((size_t)size, 1);
    if (!pixels)
      throw std::bad_alloc();
    deinterlace(raw.data(), pixels, width, height, rowBytes, (unsigned)bitsPerPixel, bpp,
                cgbi && spp == 4);
  }

  if (bps == 16)
    for (uint64_t i = 0; i + 1 < size; i += 2) {
      const unsigned char t = pixels[i];
      pixels[i] = pixels[i + 1];
      pixels[i + 1] = t;
    }

  if (palette) {
    // Indices beyond the palette's entries read as black.
    const unsigned entries = (unsigned)(plte.size() / 3);
    unsigned char table[256][3] = {};
    bool gray = true;
    for (unsigned i = 0; i < entries; ++i) {
      memcpy(table[i], &plte[3 * i], 3);
      gray = gray && table[i][0] == table[i][1] && table[i][1] == table[i][2];
    }
    const int outSpp = gray ? 1 : 3;
    unsigned char* expanded = (unsigned char*)malloc((size_t)(size * outSpp));
    if (!expanded) {
      free(pixels);
      throw std::bad_alloc();
    }
    for (uint64_t i = 0; i < size; ++i)
      memcpy(expanded + i * outSpp, table[pixels[i]], (size_t)outSpp);
    free(pixels);
    pixels = expanded;
    spp = outSpp;
    bps = 8;
  } else {
    unsigned char* shrunk = (unsigned char*)realloc(pixels, (size_t)size);
    if (shrunk)
      pixels = shrunk;
  }

  image.w = (int)width;
  image.h = (int)height;
  image.bps = (uint8_t)bps;
  image.spp = (uint8_t)spp;
  image.rowStride = 0;
  image.setRawData(pixels);
  if (havePHYs) {
    const uint64_t x = (uint64_t)ppuX * 254 / 10000, y = (uint64_t)ppuY * 254 / 10000;
    image.setResolution((int)(x > 0x7fffffff ? 0x7fffffff : x),
                        (int)(y > 0x7fffffff ? 0x7fffffff : y));
  } else {
    image.setResolution(0, 0);
  }
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
