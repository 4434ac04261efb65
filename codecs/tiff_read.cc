// TIFF reading: one page (IFD) into an Image, the page count, and the walk
// to the end of the IFD chain that appending needs.
#include <cmath>
#include <cstring>
#include <iostream>
#include <limits>
#include <memory>
#include <set>
#include <sstream>
#include <stdexcept>

#include "codecs/Args.hh"
#include "codecs/CCITT.hh"
#include "codecs/Decoders.hh"
#include "codecs/MemoryStream.hh"
#include "codecs/PNGPredict.hh"
#include "codecs/TIFF.hh"
#include "image/Colorspace.hh"
#include "image/Image.hh"
#include "image/Tonal.hh"
#include "utility/ByteOrder.hh"
#include "utility/Saturate.hh"

namespace {

const char* tagName(unsigned tag)
{
  switch (tag) {
  case 254: return "NewSubfileType";
  case 255: return "SubfileType";
  case 256: return "ImageWidth";
  case 257: return "ImageLength";
  case 258: return "BitsPerSample";
  case 259: return "Compression";
  case 262: return "Photometric";
  case 266: return "FillOrder";
  case 269: return "DocumentName";
  case 270: return "ImageDescription";
  case 273: return "StripOffsets";
  case 274: return "Orientation";
  case 277: return "SamplesPerPixel";
  case 278: return "RowsPerStrip";
  case 279: return "StripByteCounts";
  case 282: return "XResolution";
  case 283: return "YResolution";
  case 284: return "PlanarConfiguration";
  case 292: return "T4Options";
  case 293: return "T6Options";
  case 296: return "ResolutionUnit";
  case 297: return "PageNumber";
  case 305: return "Software";
  case 306: return "DateTime";
  case 315: return "Artist";
  case 316: return "HostComputer";
  case 317: return "Predictor";
  case 318: return "WhitePoint";
  case 319: return "PrimaryChromatics";
  case 320: return "ColorMap";
  case 338: return "ExtraSamples";
  case 339: return "SampleFormat";
  }
  return nullptr;
}

const char* typeName(unsigned type)
{
  static const char* names[] = {"BYTE", "ASCII", "SHORT", "LONG", "RATIONAL", "SBYTE",
                                "UNDEFINED", "SSHORT", "SLONG", "SRATIONAL", "FLOAT", "DOUBLE"};
  return type >= 1 && type <= 12 ? names[type - 1] : nullptr;
}

void dumpEntry(std::ostream& o, unsigned tag, unsigned type, uint32_t count, bool elsewhere,
               uint32_t offset, const std::vector<double>& values,
               const std::vector<std::string>& strings)
{
  if (const char* n = tagName(tag))
    o << n << "(" << tag << ")";
  else
    o << tag;
  o << "\ttype: ";
  if (const char* n = typeName(type))
    o << n << "(" << type << ")";
  else
    o << type;
  const int size = typeSize((int)type);
  o << "\tsize: " << size << " #" << count << " =" << (uint64_t)size * count << " ";
  if (elsewhere)
    o << "\t@" << offset;
  const size_t n = type == 2 ? strings.size() : values.size();
  if (n == 0) {
    o << "\tnot read?\n";
  } else if (n == 1) {
    if (type == 2)
      o << "\t" << strings[0];
    else
      o << "\t" << values[0];
  } else {
    o << "\t[";
    for (size_t i = 0; i < n && i < 10; ++i) {
      if (i)
        o << ", ";
      if (type == 2)
        o << strings[i];
      else
        o << values[i];
    }
    o << (n > 10 ? ", ...]\n" : "]\n");
  }
  o << "\n";
}

// The tag state of one page, with the defaults of absent tags.
struct Page {
  double width = 0, length = 0;
  std::vector<double> bps{1};
  double compression = 1, photometric = 0, fillOrder = 1, spp = 1;
  double rowsPerStrip = 4294967295.0, planar = 1, predictor = 1, sampleFormat = 1;
  double tileWidth = 0, tileLength = 0, t4Options = 0;
  std::vector<double> offsets, byteCounts;
  bool haveStripOffsets = false, haveStripByteCounts = false, haveRowsPerStrip = false;
  std::vector<uint16_t> colorMap;
};

double first(const std::vector<double>& v, double fallback = 0)
{
  return v.empty() ? fallback : v[0];
}

uint32_t toU32(double v)
{
  return saturate_cast<uint32_t>(v);
}

unsigned char reversedBits[256];
bool initReversedBits()
{
  static const unsigned char reverse4table[16] = {0, 8, 4, 12, 2, 10, 6, 14,
                                                  1, 9, 5, 13, 3, 11, 7, 15};
  for (int b = 0; b < 256; ++b)
    reversedBits[b] = (unsigned char)(reverse4table[b & 15] * 16 + reverse4table[b >> 4]);
  return true;
}
const bool reversedBitsReady = initReversedBits();

// Reads up to count bytes at offset, in bounded steps so a declared count
// never decides an allocation by itself.
std::string readBlock(std::istream* s, uint64_t offset, uint64_t count)
{
  std::string out;
  s->clear();
  s->seekg((std::streamoff)offset);
  if (!*s)
    return out;
  const uint64_t step = 4 << 20;
  while (out.size() < count) {
    const uint64_t want = std::min<uint64_t>(step, count - out.size());
    const size_t at = out.size();
    out.resize(at + want);
    s->read(&out[at], (std::streamsize)want);
    const uint64_t got = (uint64_t)s->gcount();
    if (got < want) {
      out.resize(at + got);
      break;
    }
  }
  s->clear();
  return out;
}

// Next IFD of the chain starting at the current IFD, stream positioned
// there; 0 at the end of the chain. A repeated offset ends the chain (a
// cycle), as does an offset outside the file. When 0 is returned the stream
// stands right after the next-IFD field.
uint32_t nextIFD(std::istream* s, bool bigEndian, std::set<uint32_t>& visited, uint64_t fileSize)
{
  const uint16_t entries = tiffRead<uint16_t>(s, bigEndian);
  s->seekg((std::streamoff)entries * 12, std::ios::cur);
  const uint32_t next = tiffRead<uint32_t>(s, bigEndian);
  if (!next)
    return 0;
  if (!visited.insert(next).second) {
    std::cerr << "cyclic IFD chain at " << next << std::endl;
    return 0;
  }
  if ((uint64_t)next + 2 > fileSize) {
    std::cerr << "seek error for next IFD" << std::endl;
    return 0;
  }
  const std::streamoff here = s->tellg();
  s->seekg((std::streamoff)next);
  if (!s->good()) {
    std::cerr << "seek error for next IFD" << std::endl;
    s->clear();
    s->seekg(here);
    return 0;
  }
  return next;
}

} // namespace

int TIFF2Codec::readImage(std::istream* stream, Image& image, const std::string& decompress,
                          int index)
{
  return readImageImpl(stream, image, decompress, index, false);
}

// The body of one page read; 0 on refusal (message printed). Separated so
// every refusal leaves through one place that rewinds the stream.
namespace {

struct Reader {
  std::istream* s;
  bool bigEndian;
  bool debug;
  uint64_t fileSize;
  Page p;
  bool legacyWarned = false;

  bool readTags(Image& image);
  bool decode(Image& image);
  bool decodeChunk(unsigned char* dst, uint64_t rowBytes, uint32_t rows, uint32_t width,
                   uint64_t offset, uint64_t count, bool declared);
  void fixChunk(unsigned char* dst, uint64_t rowBytes, uint32_t rows, int distance);
};

bool Reader::readTags(Image& image)
{
  const uint16_t entries = tiffRead<uint16_t>(s, bigEndian);
  for (unsigned e = 0; e < entries; ++e) {
    const uint16_t tag = tiffRead<uint16_t>(s, bigEndian);
    const uint16_t type = tiffRead<uint16_t>(s, bigEndian);
    const uint32_t count = tiffRead<uint32_t>(s, bigEndian);
    const std::streamoff next = (std::streamoff)s->tellg() + 4;
    const uint64_t bytes = (uint64_t)typeSize(type) * count;
    const bool elsewhere = bytes >= 5;
    uint32_t offset = 0;
    bool readable = true;
    if (elsewhere) {
      offset = tiffRead<uint32_t>(s, bigEndian);
      // Counts come from the file: values that cannot all lie in it are
      // not read at all.
      if (bytes > fileSize || offset > fileSize - bytes) {
        std::cerr << "seek failed @" << offset << std::endl;
        readable = false;
      } else {
        s->seekg((std::streamoff)offset);
        if (!*s) {
          std::cerr << "seek failed @" << offset << std::endl;
          s->clear();
          readable = false;
        }
      }
    }
    std::vector<double> values;
    std::vector<std::string> strings;
    if (readable) {
      if (type == 2)
        strings = tiffReadStrArray(s, bigEndian, type, count);
      else
        values = tiffReadArray(s, bigEndian, type, count);
    }
    const double v = first(values);

    bool handled = true;
    switch (tag) {
    case 254: case 255: case 263: case 269: case 270: case 271: case 272: case 274:
    case 280: case 281: case 296: case 297: case 305: case 306: case 315: case 316:
    case 318: case 319: case 321: case 532: case 32995: case 32996: case 32997:
    case 32998: case 33432: case 34675:
      break;
    case 256: p.width = v; break;
    case 257: p.length = v; break;
    case 258: p.bps = values; break;
    case 259: p.compression = v; break;
    case 262: p.photometric = v; break;
    case 266:
      p.fillOrder = v;
      if (v != 1 && p.compression != 2 && p.compression != 3 && p.compression != 4)
        std::cerr << "FillOrder: " << v << std::endl;
      break;
    case 273:
      p.offsets = values;
      p.haveStripOffsets = true;
      break;
    case 277: p.spp = v; break;
    case 278:
      p.rowsPerStrip = v;
      p.haveRowsPerStrip = true;
      break;
    case 279:
      p.byteCounts = values;
      p.haveStripByteCounts = true;
      break;
    case 282:
    case 283: {
      const int r = saturate_cast<int>(v);
      int& res = tag == 282 ? image.resX : image.resY;
      if (r != res)
        image.metaDirty = true;
      res = r;
      break;
    }
    case 284: p.planar = v; break;
    case 286:
      if (v != 0)
        std::cerr << "NYI: XPosition: " << v << std::endl;
      break;
    case 287:
      if (v != 0)
        std::cerr << "NYI: YPosition: " << v << std::endl;
      break;
    case 292:
      // Bit 0: two-dimensional coding, decoded; bit 1 (uncompressed mode) is
      // not supported by the decoder.
      p.t4Options = v;
      if (toU32(v) & ~5u)
        std::cerr << "NYI: T4Options " << v << std::endl;
      break;
    case 293:
      if (v != 0)
        std::cerr << "NYI: T6Options " << v << std::endl;
      break;
    case 317: p.predictor = v; break;
    case 320:
      // Checked against the final BitsPerSample when it is applied: the
      // tags need not come in order.
      p.colorMap.clear();
      for (double c : values)
        p.colorMap.push_back(saturate_cast<uint16_t>(c));
      break;
    case 322: p.tileWidth = v; break;
    case 323:
      p.tileLength = v;
      // libtiff writes no RowsPerStrip for tiles: only a contradiction is
      // worth a line.
      if (p.haveRowsPerStrip && v != p.rowsPerStrip)
        std::cerr << "Warning: TileLength does not match RowsPerStrip?" << std::endl;
      break;
    case 324:
      if (p.haveStripOffsets)
        std::cerr << "Warning: StripOffsets should not be combined with TileOffsets" << std::endl;
      p.offsets = values;
      break;
    case 325:
      if (p.haveStripByteCounts)
        std::cerr << "Warning: StripByteCounts should not be combined with TileByteCounts"
                  << std::endl;
      p.byteCounts = values;
      break;
    case 326: std::cerr << "NYI: BadFaxLines " << v << std::endl; break;
    case 327: std::cerr << "NYI: CleanFaxData " << v << std::endl; break;
    case 328: std::cerr << "NYI: ConsecutiveBadFaxlines " << v << std::endl; break;
    case 332:
      if (v != 1)
        std::cerr << "NYI: InkSet: " << v << std::endl;
      break;
    case 338:
      if (v != 0 && v != 1 && v != 2)
        std::cerr << "NYI: ExtraSamples " << v << std::endl;
      break;
    case 339:
      p.sampleFormat = v;
      if (v != 1 && v != 3)
        std::cerr << "NYI: SampleFormat: " << v << std::endl;
      break;
    case 347:
      std::cerr << "NYI: JPEGTables" << std::endl;
      return false;
    case 512: std::cerr << "NYI: JPEGProc" << std::endl; break;
    case 513: case 514: std::cerr << "NYI: JPEGInterchangeFormat" << std::endl; break;
    case 515: std::cerr << "NYI: JPEGRestartInterval" << std::endl; break;
    case 519: std::cerr << "NYI: JPEGQTables" << std::endl; break;
    case 520: std::cerr << "NYI: JPEGDCTables" << std::endl; break;
    case 521: std::cerr << "NYI: JPEGACTables" << std::endl; break;
    case 529: {
      std::cerr << "NYI: YCbCrCoefficients";
      for (size_t i = 0; i < 3; ++i)
        std::cerr << " " << (i < values.size() ? values[i] : 0);
      std::cerr << std::endl;
      break;
    }
    case 530:
      std::cerr << "NYI: YCbCrSubSampling " << v << " "
                << (values.size() > 1 ? values[1] : 0) << std::endl;
      break;
    case 531: std::cerr << "NYI: YCbCrPositioning " << v << std::endl; break;
    case 34665: std::cerr << "NYI: EXIF" << std::endl; break;
    default:
      handled = false;
    }
    if (!handled) {
      std::cerr << "UNHANDLED: ";
      dumpEntry(std::cerr, tag, type, count, elsewhere, offset, values, strings);
    } else if (debug) {
      dumpEntry(std::cerr, tag, type, count, elsewhere, offset, values, strings);
    }
    s->clear();
    s->seekg(next);
  }
  return true;
}

// Byte order and predictor of one decoded chunk (rows of rowBytes bytes):
// 16-bit samples end in host order, float samples too.
void Reader::fixChunk(unsigned char* dst, uint64_t rowBytes, uint32_t rows, int distance)
{
  const int bps = (int)p.bps[0];
  const uint64_t n = rowBytes * rows;
  const bool predict = p.predictor == 2 && (bps == 8 || bps == 16);
  if (bps == 16) {
    // The unpredictor takes 16-bit samples in the reverse of host order.
    if (predict ? !bigEndian : bigEndian)
      byteorder::reverseSamples(dst, n, 2);
  } else if (bps == 32 || bps == 64) {
    if (bigEndian)
      byteorder::reverseSamples(dst, n, bps / 8);
  }
  if (predict && rowBytes <= (uint64_t)std::numeric_limits<int>::max())
    for (uint32_t r = 0; r < rows; ++r)
      unpredictPNG(dst + r * rowBytes, nullptr, (int)rowBytes, (int)rowBytes, -8, distance, 0,
                   bps);
}

// False when the strip does not lie in the file (a truncated or damaged
// file); damage inside the data only prints, the pixels stay as decoded.
bool Reader::decodeChunk(unsigned char* dst, uint64_t rowBytes, uint32_t rows, uint32_t width,
                         uint64_t offset, uint64_t count, bool declared)
{
  const uint64_t expected = rowBytes * rows;
  const int compression = (int)p.compression;
  if (offset >= fileSize || (declared && count > fileSize - offset)) {
    std::cerr << "strip beyond the end of the file: " << offset << " + " << count << std::endl;
    return false;
  }
  if (count > fileSize - offset)
    count = fileSize - offset;

  if (compression == 1) {
    s->clear();
    s->seekg((std::streamoff)offset);
    s->read((char*)dst, (std::streamsize)std::min(count, expected));
    s->clear();
    return true;
  }
  if (compression == 32773) {
    s->clear();
    s->seekg((std::streamoff)offset);
    UnpackBits(dst, (int)rowBytes, (int)rows, s,
               (int)std::min<uint64_t>(count, std::numeric_limits<int>::max()));
    s->clear();
    return true;
  }

  std::string raw = readBlock(s, offset, count);
  const unsigned char* in = (const unsigned char*)raw.data();
  if (compression == 2 || compression == 3 || compression == 4) {
    if (p.fillOrder == 2)
      for (char& c : raw)
        c = (char)reversedBits[(unsigned char)c];
    MemoryIn buf(in, raw.size());
    std::istream is(&buf);
    // Modified Huffman rows start on byte boundaries; T4Options bit 0 marks
    // two-dimensional Group 3 data. Coder black is sample value 1 whatever
    // the photometric interpretation, which decides the inversion later.
    const int K = compression == 4 ? -1 : (compression == 3 && (toU32(p.t4Options) & 1)) ? 1 : 0;
    const std::string out = DecodeCCITT(is, (int)width, (int)rows, K, compression == 2, true,
                                        false);
    if (out.size() < expected)
      std::cerr << "decompression error!? " << out.size() << " " << expected << std::endl;
    memcpy(dst, out.data(), std::min<uint64_t>(out.size(), expected));
    return true;
  }

  bool ok;
  uint64_t produced;
  if (compression == 5) {
    const bool legacy = raw.size() >= 2 && in[0] == 0 && (in[1] & 1);
    if (legacy && !legacyWarned) {
      std::cerr << "Warning: legacy TIFF LZW compression not recommended" << std::endl;
      legacyWarned = true;
    }
    MemoryIn ibuf(in, raw.size());
    std::istream is(&ibuf);
    MemoryOut obuf(dst, expected);
    std::ostream os(&obuf);
    ok = DecodeLZW(os, is, !legacy, legacy, expected);
    produced = obuf.written();
  } else {
    ok = inflateToMemory(in, raw.size(), 15, dst, expected, &produced);
  }
  if (!ok)
    std::cerr << "decompression error!" << std::endl;
  if (produced < expected)
    std::cerr << "not enough decompressed data: " << produced << " " << expected << std::endl;
  return true;
}

bool Reader::decode(Image& image)
{
  if (p.width == 0) {
    std::cerr << "ImageWidth zero" << std::endl;
    return false;
  }
  if (p.length == 0) {
    std::cerr << "ImageLength zero" << std::endl;
    return false;
  }
  if (p.spp != 1 && p.spp != 3 && p.spp != 4) {
    std::cerr << "NYI SamplesPerPixel: " << p.spp << std::endl;
    return false;
  }
  const int compression = (int)p.compression;
  if (p.compression != compression ||
      (compression != 1 && compression != 2 && compression != 3 && compression != 4 &&
       compression != 5 && compression != 8 && compression != 32773 && compression != 32946)) {
    std::cerr << "NYI Compression: " << p.compression << std::endl;
    return false;
  }
  if (p.bps.empty())
    p.bps.push_back(1);
  for (double b : p.bps)
    if (b != p.bps[0]) {
      std::cerr << "NYI varing BitsPerSample" << std::endl;
      return false;
    }

  // What the image model can hold.
  const double b0 = p.bps[0];
  const bool isFloat = p.sampleFormat == 3;
  if (isFloat ? (b0 != 32 && b0 != 64)
              : (b0 != 1 && b0 != 2 && b0 != 4 && b0 != 8 && b0 != 16)) {
    std::cerr << "NYI BitsPerSample: " << b0 << std::endl;
    return false;
  }
  const int bps = (int)b0, spp = (int)p.spp;
  const bool ccitt = compression >= 2 && compression <= 4;
  if (ccitt && (bps != 1 || spp != 1)) {
    std::cerr << "NYI CCITT with BitsPerSample " << bps << " SamplesPerPixel " << spp
              << std::endl;
    return false;
  }
  if (!(p.width <= std::numeric_limits<int>::max() && p.length <= std::numeric_limits<int>::max() &&
        p.width > 0 && p.length > 0)) {
    std::cerr << "image too large: " << p.width << "x" << p.length << std::endl;
    return false;
  }
  const uint32_t width = (uint32_t)p.width, length = (uint32_t)p.length;
  const bool planar = p.planar == 2 && spp > 1;
  if (planar && bps < 8) {
    std::cerr << "NYI planar BitsPerSample: " << bps << std::endl;
    return false;
  }
  const int planes = planar ? spp : 1;
  const int chunkSpp = planar ? 1 : spp;

  // Pixel data is bounded by what the file could expand to (CCITT codes a
  // blank row in one bit), so a small hostile file cannot claim gigabytes.
  const uint64_t fileLimit = (uint64_t)256 << 20;
  const uint64_t limit = fileSize > (uint64_t(1) << 40) ? std::numeric_limits<uint64_t>::max()
                                                        : fileLimit + fileSize * 4096;
  const uint64_t rowBytes = ((uint64_t)width * spp * bps + 7) / 8;
  if (rowBytes > std::numeric_limits<uint32_t>::max() / 2 || rowBytes * length > limit) {
    std::cerr << "image too large for its file: " << width << "x" << length << std::endl;
    return false;
  }

  const bool tiled = p.tileWidth != 0 && p.tileLength != 0;
  uint32_t chunkW, chunkH;
  if (tiled) {
    chunkW = toU32(p.tileWidth);
    chunkH = toU32(p.tileLength);
    if (((uint64_t)chunkW * chunkSpp * bps) % 8) {
      std::cerr << "NYI TileWidth: " << chunkW << std::endl;
      return false;
    }
  } else {
    chunkW = width;
    chunkH = toU32(p.rowsPerStrip);
    if (chunkH == 0 || chunkH > length)
      chunkH = length;
  }
  const uint64_t chunkRowBytes = ((uint64_t)chunkW * chunkSpp * bps + 7) / 8;
  if (chunkRowBytes > limit || chunkH > limit / chunkRowBytes ||
      chunkRowBytes * chunkH > (uint64_t)std::numeric_limits<int>::max() ||
      (ccitt && chunkW > (1u << 20))) {
    std::cerr << "strip or tile too large: " << chunkW << "x" << chunkH << std::endl;
    return false;
  }
  const uint64_t across = tiled ? ((uint64_t)width + chunkW - 1) / chunkW : 1;
  const uint64_t down = ((uint64_t)length + chunkH - 1) / chunkH;
  const uint64_t needed = across * down * planes;
  if (p.offsets.size() < needed) {
    std::cerr << "not enough strip offsets: " << p.offsets.size() << " " << needed << std::endl;
    return false;
  }

  // Everything is decoded into `out` (or, planar, into one gray image
  // holding the planes one below the other) and handed to the image only
  // on success: a refused file leaves the caller's pixels alone.
  Image out, planesImage;
  Image& target = planar ? planesImage : out;
  target.spp = (uint8_t)chunkSpp;
  target.bps = (uint8_t)bps;
  target.resize((int)width, (int)((uint64_t)length * planes));
  const uint64_t stride = target.stride();
  memset(target.getRawData(), 0, stride * target.h);
  const bool direct = !tiled && chunkRowBytes == stride;
  std::unique_ptr<unsigned char[]> chunk;
  if (!direct)
    chunk.reset(new unsigned char[chunkRowBytes * chunkH]);

  uint64_t index = 0;
  for (int plane = 0; plane < planes; ++plane) {
    for (uint64_t ty = 0; ty < down; ++ty) {
      const uint64_t y0 = ty * chunkH;
      const uint32_t rows = (uint32_t)std::min<uint64_t>(chunkH, length - y0);
      for (uint64_t tx = 0; tx < across; ++tx, ++index) {
        const uint64_t offset = toU32(p.offsets[index]);
        // Without a byte count, a strip may run to the end of the file.
        const bool declared = index < p.byteCounts.size();
        const uint64_t count = declared ? toU32(p.byteCounts[index]) : fileSize;
        // Strips hold only their rows; tiles are always whole.
        const uint32_t decodeRows = tiled ? chunkH : rows;
        unsigned char* rowsAt = target.getRawData() + ((uint64_t)plane * length + y0) * stride;
        unsigned char* dst = direct ? rowsAt : chunk.get();
        if (!direct)
          memset(dst, 0, chunkRowBytes * decodeRows);
        if (!decodeChunk(dst, chunkRowBytes, decodeRows, chunkW, offset, count, declared))
          return false;
        fixChunk(dst, chunkRowBytes, decodeRows, chunkSpp);
        if (direct)
          continue;
        // Clipped to the image.
        const uint64_t xBits = tx * chunkW * (uint64_t)chunkSpp * bps;
        const uint64_t cols = std::min<uint64_t>(chunkW, width - tx * chunkW);
        const uint64_t bytes = (cols * chunkSpp * bps + 7) / 8;
        for (uint32_t r = 0; r < rows; ++r)
          memcpy(rowsAt + r * stride + xBits / 8, dst + r * chunkRowBytes, bytes);
      }
    }
  }
  chunk.reset();

  if (isFloat)
    colorspace_de_ieee(target);

  if (planar) {
    out.spp = (uint8_t)spp;
    out.bps = target.bps;
    out.resize((int)width, (int)length);
    const uint64_t planeRow = target.stride();
    const uint64_t outStride = out.stride();
    for (uint32_t y = 0; y < length; ++y) {
      unsigned char* row = out.getRawData() + y * outStride;
      for (int c = 0; c < spp; ++c)
        memcpy(row + c * planeRow, target.getRawData() + ((uint64_t)c * length + y) * planeRow,
               planeRow);
      colorspace_pack_line(out, (int)y, (int)y);
    }
    planesImage.setRawData(nullptr);
  }

  if (p.predictor != 1 && !(p.predictor == 2 && (bps == 8 || bps == 16)))
    std::cerr << "unsupported predictor: " << p.predictor << std::endl;

  if (out.spp == 1 && (!p.colorMap.empty() || p.photometric == 3)) {
    const uint64_t entries = (uint64_t)1 << out.bps;
    if (out.bps > 16 || p.colorMap.size() < 3 * entries) {
      std::cerr << "non matching cmap count " << (int)out.bps << " " << p.colorMap.size() << " "
                << 3 * entries << std::endl;
      // Palette indices shown as gray levels would be a wrong picture.
      if (p.photometric == 3)
        return false;
    } else {
      const size_t n = p.colorMap.size() / 3;
      colorspace_de_palette(out, (int)n, &p.colorMap[0], &p.colorMap[n], &p.colorMap[2 * n]);
    }
  }
  // Palette images have had their colours applied (or are kept as their
  // indices); only gray data follows WhiteIsZero / BlackIsZero.
  if (out.spp == 1 && p.photometric != 1 && p.photometric != 3)
    invert(out);
  if (p.photometric == 5 && out.spp == 4)
    colorspace_cmyk_to_rgb(out);
  out.resX = image.resX;
  out.resY = image.resY;
  image.copyTransferOwnership(out);
  return true;
}

} // namespace

int TIFF2Codec::readImageImpl(std::istream* stream, Image& image, const std::string& decompress,
                              int index, bool forAppend)
{
  if (!stream || index < 0)
    return 0;
  char bo[2];
  if (!stream->read(bo, 2) || (bo[0] != 'I' && bo[0] != 'M' && bo[1] != 'I' && bo[1] != 'M')) {
    stream->clear();
    stream->seekg(0);
    return 0;
  }
  Reader r;
  r.s = stream;
  r.bigEndian = bo[0] == 'M';
  Args args(decompress);
  r.debug = args.containsAndRemove("debug");

  {
    const std::streamoff here = stream->tellg();
    stream->seekg(0, std::ios::end);
    const std::streamoff end = stream->tellg();
    r.fileSize = end > 0 ? (uint64_t)end : std::numeric_limits<uint64_t>::max();
    stream->clear();
    stream->seekg(here);
  }

  if (tiffRead<uint16_t>(stream, r.bigEndian) != 42) {
    stream->clear();
    stream->seekg(0);
    return 0;
  }
  const uint32_t firstIFD = tiffRead<uint32_t>(stream, r.bigEndian);
  if (firstIFD == 0 || (uint64_t)firstIFD + 2 > r.fileSize) {
    std::cerr << "seek error for first IFD" << std::endl;
    stream->clear();
    stream->seekg(0);
    return 0;
  }
  stream->seekg((std::streamoff)firstIFD);
  std::set<uint32_t> visited{firstIFD};
  uint32_t ifd = firstIFD;
  bool chainEnded = false;
  for (int i = 0; i < index; ++i) {
    const uint32_t next = nextIFD(stream, r.bigEndian, visited, r.fileSize);
    if (!next) {
      chainEnded = true;
      break;
    }
    ifd = next;
  }
  int pages = index; // IFDs before the one reached
  if (chainEnded) {
    if (!forAppend)
      return 0;
    // Already after the last IFD's next-IFD field.
    stream->clear();
    return pages;
  }

  if (!forAppend) {
    if (image.resX != 0 || image.resY != 0)
      image.metaDirty = true;
    image.resX = image.resY = 0;
    bool ok = false;
    try {
      ok = r.readTags(image) && r.decode(image);
    } catch (...) {
      stream->clear();
      stream->seekg(0);
      throw;
    }
    if (!ok) {
      stream->clear();
      stream->seekg(0);
      return 0;
    }
    if (!stream->good())
      std::cerr << "stream error!" << std::endl;
    stream->clear();
    if (index > 0) {
      stream->seekg(0);
      return 1;
    }
  }

  // Count this IFD and those after it. A broken link ends the count.
  stream->clear();
  stream->seekg((std::streamoff)ifd);
  try {
    ++pages;
    while (nextIFD(stream, r.bigEndian, visited, r.fileSize))
      ++pages;
  } catch (const std::runtime_error&) {
    if (forAppend)
      throw; // no place to link a new page to
    std::cerr << "IFD chain ends in a damaged IFD" << std::endl;
  }
  stream->clear();
  if (!forAppend)
    stream->seekg(0);
  return pages;
}
