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
#include "codecs/PNGPredict.hh"
#include "codecs/Resolution.hh"
#include "codecs/TIFF.hh"
#include "codecs/TIFFTags.hh"
#include "image/Colorspace.hh"
#include "image/Image.hh"
#include "image/Tonal.hh"
#include "utility/ByteOrder.hh"
#include "utility/Saturate.hh"

namespace {

const char* tagName(unsigned tag)
{
  switch (tag) {
  case tifftag::NewSubfileType: return "NewSubfileType";
  case tifftag::SubfileType: return "SubfileType";
  case tifftag::ImageWidth: return "ImageWidth";
  case tifftag::ImageLength: return "ImageLength";
  case tifftag::BitsPerSample: return "BitsPerSample";
  case tifftag::Compression: return "Compression";
  case tifftag::Photometric: return "Photometric";
  case tifftag::FillOrder: return "FillOrder";
  case tifftag::DocumentName: return "DocumentName";
  case tifftag::ImageDescription: return "ImageDescription";
  case tifftag::StripOffsets: return "StripOffsets";
  case tifftag::Orientation: return "Orientation";
  case tifftag::SamplesPerPixel: return "SamplesPerPixel";
  case tifftag::RowsPerStrip: return "RowsPerStrip";
  case tifftag::StripByteCounts: return "StripByteCounts";
  case tifftag::XResolution: return "XResolution";
  case tifftag::YResolution: return "YResolution";
  case tifftag::PlanarConfiguration: return "PlanarConfiguration";
  case tifftag::T4Options: return "T4Options";
  case tifftag::T6Options: return "T6Options";
  case tifftag::ResolutionUnit: return "ResolutionUnit";
  case tifftag::PageNumber: return "PageNumber";
  case tifftag::Software: return "Software";
  case tifftag::DateTime: return "DateTime";
  case tifftag::Artist: return "Artist";
  case tifftag::HostComputer: return "HostComputer";
  case tifftag::Predictor: return "Predictor";
  case tifftag::WhitePoint: return "WhitePoint";
  case tifftag::PrimaryChromaticities: return "PrimaryChromatics";
  case tifftag::ColorMap: return "ColorMap";
  case tifftag::ExtraSamples: return "ExtraSamples";
  case tifftag::SampleFormat: return "SampleFormat";
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
  const size_t n = type == tifftype::ASCII ? strings.size() : values.size();
  if (n == 0) {
    o << "\tnot read?\n";
  } else if (n == 1) {
    if (type == tifftype::ASCII)
      o << "\t" << strings[0];
    else
      o << "\t" << values[0];
  } else {
    o << "\t[";
    for (size_t i = 0; i < n && i < 10; ++i) {
      if (i)
        o << ", ";
      if (type == tifftype::ASCII)
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
  double xResolution = 0, yResolution = 0, resolutionUnit = tiffvalue::ResolutionUnitInch;
  bool haveXResolution = false, haveYResolution = false;
};

// The page's geometry and sample layout as the decoder uses them, checked.
struct Geometry {
  uint32_t width = 0, length = 0, tileWidth = 0, tileLength = 0, rowsPerStrip = 0;
  int spp = 1, bps = 1, planes = 1, chunkSpp = 1;
  bool isFloat = false, ccitt = false, planar = false, tiled = false;
  uint64_t limit = 0; // bytes of pixel data the file may expand to
  uint32_t chunkW = 0, chunkH = 0;
  uint64_t chunkRowBytes = 0, across = 0, down = 0;
};

double first(const std::vector<double>& v, double fallback = 0)
{
  return v.empty() ? fallback : v[0];
}

bool isCCITT(double compression)
{
  return compression == tiffvalue::CompressionCCITTRLE ||
         compression == tiffvalue::CompressionCCITTFax3 ||
         compression == tiffvalue::CompressionCCITTFax4;
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
// Reads up to count bytes at offset into buf, which is kept between
// strips and only grows; returns how many bytes were there.
uint64_t readBlock(std::istream* s, uint64_t offset, uint64_t count, std::vector<unsigned char>& buf)
{
  if (buf.empty())
    buf.resize(1); // data() is never null
  s->clear();
  s->seekg((std::streamoff)offset);
  if (!*s)
    return 0;
  const uint64_t step = 4 << 20;
  uint64_t have = 0;
  while (have < count) {
    const uint64_t want = std::min<uint64_t>(step, count - have);
    if (buf.size() < have + want)
      buf.resize(have + want);
    s->read((char*)buf.data() + have, (std::streamsize)want);
    const uint64_t got = (uint64_t)s->gcount();
    have += got;
    if (got < want)
      break;
  }
  s->clear();
  return have;
}

// Whether the whole IFD at offset (entry count, entries, next-IFD field)
// lies in the file; the stream then stands at its start.
bool ifdInFile(std::istream* s, bool bigEndian, uint32_t offset, uint64_t fileSize)
{
  if ((uint64_t)offset + 2 > fileSize)
    return false;
  s->clear();
  s->seekg((std::streamoff)offset);
  const uint16_t entries = tiffRead<uint16_t>(s, bigEndian);
  s->seekg((std::streamoff)offset);
  return (uint64_t)offset + 2 + 12ull * entries + 4 <= fileSize;
}

// A link of the IFD chain: to the next IFD, the end of the chain, or an
// IFD the file does not hold whole (the file is cut short).
enum class Link { Next, End, Cut };

// From the IFD the stream stands at (one that lies in the file), to the
// next one: the stream then stands there. At the end of the chain (a next
// offset of 0, or one seen before: a cycle) and at a cut, the stream stands
// right after the next-IFD field.
Link nextIFD(std::istream* s, bool bigEndian, std::set<uint32_t>& visited, uint64_t fileSize,
             uint32_t& next)
{
  const uint16_t entries = tiffRead<uint16_t>(s, bigEndian);
  s->seekg((std::streamoff)entries * 12, std::ios::cur);
  next = tiffRead<uint32_t>(s, bigEndian);
  if (!next)
    return Link::End;
  if (!visited.insert(next).second) {
    std::cerr << "cyclic IFD chain at " << next << std::endl;
    return Link::End;
  }
  const std::streamoff here = s->tellg();
  if (!ifdInFile(s, bigEndian, next, fileSize)) {
    s->clear();
    s->seekg(here);
    return Link::Cut;
  }
  return Link::Next;
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

// One IFD entry: its values (numbers, or strings for ASCII), read where
// they lie; none when they cannot all lie in the file.
struct Entry {
  uint16_t tag, type;
  uint32_t count;
  bool elsewhere;  // values stored at offset, not in the entry
  uint32_t offset;
  std::vector<double> values;
  std::vector<std::string> strings;
};

struct Reader {
  std::istream* s;
  bool bigEndian;
  bool debug;
  uint64_t fileSize;
  Page p;
  Geometry g;
  bool legacyWarned = false;
  bool jpeg = false; // refused as JPEG data, which the caller says
  // Something the page needs lies past the end of the file: a file cut
  // short, not one the reader refuses for what it holds.
  bool cutShort = false;
  std::vector<unsigned char> rawBuf; // one strip's coded bytes

  bool readTags(Image& image);
  bool chunksInFile(uint32_t ifd);
  // Whether a strip at `offset` lies in the file: it starts before the
  // end and, when its byte count is `declared`, ends there at the latest.
  bool chunkInFile(uint64_t offset, uint64_t count, bool declared) const
  {
    return offset < fileSize && !(declared && count > fileSize - offset);
  }
  void readEntry(Entry& e);
  bool applyTag(const Entry& e);
  void applyResolution(Image& image) const;
  bool decode(Image& image);
  bool readGeometry();
  bool checkLayout();
  bool planChunks();
  bool readChunks(Image& target);
  void interleavePlanes(Image& planesImage, Image& out);
  bool applyPhotometric(Image& out);
  bool decodeChunk(unsigned char* dst, uint64_t rowBytes, uint32_t rows, uint32_t width,
                   uint64_t offset, uint64_t count, bool declared);
  void fixChunk(unsigned char* dst, uint64_t rowBytes, uint32_t rows, int distance);
};

void Reader::readEntry(Entry& e)
{
  e.tag = tiffRead<uint16_t>(s, bigEndian);
  e.type = tiffRead<uint16_t>(s, bigEndian);
  e.count = tiffRead<uint32_t>(s, bigEndian);
  const uint64_t bytes = (uint64_t)typeSize(e.type) * e.count;
  e.elsewhere = bytes >= 5;
  e.offset = 0;
  if (e.elsewhere) {
    e.offset = tiffRead<uint32_t>(s, bigEndian);
    // Counts come from the file: values that cannot all lie in it are
    // not read at all.
    if (bytes > fileSize || e.offset > fileSize - bytes) {
      std::cerr << "seek failed @" << e.offset << std::endl;
      // Without them the page has no strips to read.
      if (e.tag == tifftag::StripOffsets || e.tag == tifftag::StripByteCounts ||
          e.tag == tifftag::TileOffsets || e.tag == tifftag::TileByteCounts)
        cutShort = true;
      return;
    }
    s->seekg((std::streamoff)e.offset);
    if (!*s) {
      std::cerr << "seek failed @" << e.offset << std::endl;
      s->clear();
      return;
    }
  }
  if (e.type == tifftype::ASCII) {
    e.strings = tiffReadStrArray(s, bigEndian, e.type, e.count);
  } else if (e.type == tifftype::RATIONAL &&
             (e.tag == tifftag::XResolution || e.tag == tifftag::YResolution)) {
    // Not the integer quotient: 118.11 pixels per centimetre is 300 dpi,
    // 118 is 299.72.
    for (uint32_t i = 0; i < e.count; ++i) {
      const uint32_t n = tiffRead<uint32_t>(s, bigEndian);
      const uint32_t d = tiffRead<uint32_t>(s, bigEndian);
      e.values.push_back(d ? (double)n / d : 0);
    }
  } else {
    e.values = tiffReadArray(s, bigEndian, e.type, e.count);
  }
}

bool Reader::readTags(Image& image)
{
  const uint16_t entries = tiffRead<uint16_t>(s, bigEndian);
  for (unsigned i = 0; i < entries; ++i) {
    // Entries are 12 bytes, wherever their values lie.
    const std::streamoff next = (std::streamoff)s->tellg() + 12;
    Entry e;
    readEntry(e);
    const bool known = applyTag(e);
    if (e.tag == tifftag::JPEGTables) {
      applyResolution(image);
      jpeg = true;
      return false;
    }
    if (!known) {
      std::cerr << "UNHANDLED: ";
      dumpEntry(std::cerr, e.tag, e.type, e.count, e.elsewhere, e.offset, e.values, e.strings);
    } else if (debug) {
      dumpEntry(std::cerr, e.tag, e.type, e.count, e.elsewhere, e.offset, e.values, e.strings);
    }
    s->clear();
    s->seekg(next);
  }
  applyResolution(image);
  return true;
}

// Whether every strip (or tile) the IFD at `ifd` lists lies in the file,
// as far as their offsets and byte counts tell, by the rule the decoding
// follows for each strip it reads. Only those entries are read: the page
// is not checked further.
bool Reader::chunksInFile(uint32_t ifd)
{
  const bool pageCut = cutShort; // of the page read, if any: kept
  cutShort = false;
  s->clear();
  s->seekg((std::streamoff)ifd);
  const uint16_t entries = tiffRead<uint16_t>(s, bigEndian);
  std::vector<double> offsets, counts;
  bool tiled = false;
  for (unsigned i = 0; i < entries; ++i) {
    const std::streamoff at = (std::streamoff)ifd + 2 + 12 * (std::streamoff)i;
    s->clear();
    s->seekg(at);
    const uint16_t tag = tiffRead<uint16_t>(s, bigEndian);
    const bool tile = tag == tifftag::TileOffsets || tag == tifftag::TileByteCounts;
    if (tag != tifftag::StripOffsets && tag != tifftag::StripByteCounts && !tile)
      continue;
    s->seekg(at);
    Entry e;
    readEntry(e);
    if (tiled && !tile)
      continue; // tiles win, as when the page is read
    if (tile && !tiled) {
      tiled = true;
      offsets.clear();
      counts.clear();
    }
    if (tag == tifftag::StripOffsets || tag == tifftag::TileOffsets)
      offsets = e.values;
    else
      counts = e.values;
  }
  bool inFile = !cutShort;
  for (size_t i = 0; inFile && i < offsets.size(); ++i) {
    const uint64_t offset = toU32(offsets[i]);
    inFile = chunkInFile(offset, i < counts.size() ? toU32(counts[i]) : 0, i < counts.size());
  }
  cutShort = pageCut;
  return inFile;
}

// The resolution in dots per inch, whatever unit the file gives it in; a
// file that says it has no unit has no resolution.
void Reader::applyResolution(Image& image) const
{
  const double unit = p.resolutionUnit;
  const double scale = unit == tiffvalue::ResolutionUnitCentimetre ? 2.54 : 1.0;
  const auto set = [&](bool have, double value, int& res) {
    if (!have)
      return;
    const int r = unit == tiffvalue::ResolutionUnitNone ? 0 : dpiFromInches(value * scale);
    if (r != res)
      image.metaDirty = true;
    res = r;
  };
  set(p.haveXResolution, p.xResolution, image.resX);
  set(p.haveYResolution, p.yResolution, image.resY);
}

// One entry into the page state; false for a tag the reader does not know.
bool Reader::applyTag(const Entry& e)
{
  const uint16_t tag = e.tag;
  const std::vector<double>& values = e.values;
  const double v = first(values);
  switch (tag) {
  case tifftag::NewSubfileType: case tifftag::SubfileType: case tifftag::Threshholding:
  case tifftag::DocumentName: case tifftag::ImageDescription: case tifftag::Make:
  case tifftag::Model: case tifftag::Orientation:
  case tifftag::MinSampleValue: case tifftag::MaxSampleValue:
  case tifftag::PageNumber: case tifftag::Software: case tifftag::DateTime: case tifftag::Artist:
  case tifftag::HostComputer:
  case tifftag::WhitePoint: case tifftag::PrimaryChromaticities: case tifftag::HalftoneHints:
  case tifftag::ReferenceBlackWhite: case tifftag::Matteing: case tifftag::DataType:
  case tifftag::ImageDepth:
  case tifftag::TileDepth: case tifftag::Copyright: case tifftag::ICCProfile:
    break;
  case tifftag::ImageWidth: p.width = v; break;
  case tifftag::ImageLength: p.length = v; break;
  case tifftag::BitsPerSample: p.bps = values; break;
  case tifftag::Compression: p.compression = v; break;
  case tifftag::Photometric: p.photometric = v; break;
  case tifftag::FillOrder:
    p.fillOrder = v;
    if (v != 1 && !isCCITT(p.compression))
      std::cerr << "FillOrder: " << v << std::endl;
    break;
  case tifftag::StripOffsets:
    p.offsets = values;
    p.haveStripOffsets = true;
    break;
  case tifftag::SamplesPerPixel: p.spp = v; break;
  case tifftag::RowsPerStrip:
    p.rowsPerStrip = v;
    p.haveRowsPerStrip = true;
    break;
  case tifftag::StripByteCounts:
    p.byteCounts = values;
    p.haveStripByteCounts = true;
    break;
  case tifftag::XResolution:
    p.xResolution = v;
    p.haveXResolution = true;
    break;
  case tifftag::YResolution:
    p.yResolution = v;
    p.haveYResolution = true;
    break;
  case tifftag::ResolutionUnit: p.resolutionUnit = v; break;
  case tifftag::PlanarConfiguration: p.planar = v; break;
  case tifftag::XPosition:
    if (v != 0)
      std::cerr << "NYI: XPosition: " << v << std::endl;
    break;
  case tifftag::YPosition:
    if (v != 0)
      std::cerr << "NYI: YPosition: " << v << std::endl;
    break;
  case tifftag::T4Options:
    // Bit 0: two-dimensional coding, decoded; bit 1 (uncompressed mode) is
    // not supported by the decoder.
    p.t4Options = v;
    if (toU32(v) & ~5u)
      std::cerr << "NYI: T4Options " << v << std::endl;
    break;
  case tifftag::T6Options:
    if (v != 0)
      std::cerr << "NYI: T6Options " << v << std::endl;
    break;
  case tifftag::Predictor: p.predictor = v; break;
  case tifftag::ColorMap:
    // Checked against the final BitsPerSample when it is applied: the
    // tags need not come in order.
    p.colorMap.clear();
    for (double c : values)
      p.colorMap.push_back(saturate_cast<uint16_t>(c));
    break;
  case tifftag::TileWidth: p.tileWidth = v; break;
  case tifftag::TileLength:
    p.tileLength = v;
    // libtiff writes no RowsPerStrip for tiles: only a contradiction is
    // worth a line.
    if (p.haveRowsPerStrip && v != p.rowsPerStrip)
      std::cerr << "Warning: TileLength does not match RowsPerStrip?" << std::endl;
    break;
  case tifftag::TileOffsets:
    if (p.haveStripOffsets)
      std::cerr << "Warning: StripOffsets should not be combined with TileOffsets" << std::endl;
    p.offsets = values;
    break;
  case tifftag::TileByteCounts:
    if (p.haveStripByteCounts)
      std::cerr << "Warning: StripByteCounts should not be combined with TileByteCounts"
                << std::endl;
    p.byteCounts = values;
    break;
  case tifftag::BadFaxLines: std::cerr << "NYI: BadFaxLines " << v << std::endl; break;
  case tifftag::CleanFaxData: std::cerr << "NYI: CleanFaxData " << v << std::endl; break;
  case tifftag::ConsecutiveBadFaxLines:
    std::cerr << "NYI: ConsecutiveBadFaxlines " << v << std::endl;
    break;
  case tifftag::InkSet:
    if (v != 1)
      std::cerr << "NYI: InkSet: " << v << std::endl;
    break;
  case tifftag::ExtraSamples:
    if (v != 0 && v != 1 && v != 2)
      std::cerr << "NYI: ExtraSamples " << v << std::endl;
    break;
  case tifftag::SampleFormat:
    p.sampleFormat = v;
    if (v != 1 && v != 3)
      std::cerr << "NYI: SampleFormat: " << v << std::endl;
    break;
  // Fields of JPEG compression, which is refused with its reason (the
  // caller says it): nothing to say about them one by one.
  case tifftag::JPEGTables:
  case tifftag::JPEGProc:
  case tifftag::JPEGInterchangeFormat:
  case tifftag::JPEGInterchangeFormatLength:
  case tifftag::JPEGRestartInterval:
  case tifftag::JPEGQTables:
  case tifftag::JPEGDCTables:
  case tifftag::JPEGACTables:
    break;
  case tifftag::YCbCrCoefficients: {
    std::cerr << "NYI: YCbCrCoefficients";
    for (size_t i = 0; i < 3; ++i)
      std::cerr << " " << (i < values.size() ? values[i] : 0);
    std::cerr << std::endl;
    break;
  }
  case tifftag::YCbCrSubSampling:
    std::cerr << "NYI: YCbCrSubSampling " << v << " "
              << (values.size() > 1 ? values[1] : 0) << std::endl;
    break;
  case tifftag::YCbCrPositioning: std::cerr << "NYI: YCbCrPositioning " << v << std::endl; break;
  case tifftag::ExifIFD: std::cerr << "NYI: EXIF" << std::endl; break;
  default:
    return false;
  }
  return true;
}

// Byte order and predictor of one decoded chunk (rows of rowBytes bytes):
// 16-bit samples end in host order, float samples too.
void Reader::fixChunk(unsigned char* dst, uint64_t rowBytes, uint32_t rows, int distance)
{
  const int bps = (int)p.bps[0];
  const uint64_t n = rowBytes * rows;
  const bool predict = p.predictor == tiffvalue::PredictorHorizontal && (bps == 8 || bps == 16);
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
  const int compression = saturate_cast<int>(p.compression);
  if (!chunkInFile(offset, count, declared)) {
    std::cerr << "strip beyond the end of the file: " << offset << " + " << count << std::endl;
    cutShort = true;
    return false;
  }
  if (count > fileSize - offset)
    count = fileSize - offset;

  if (compression == tiffvalue::CompressionNone) {
    s->clear();
    s->seekg((std::streamoff)offset);
    s->read((char*)dst, (std::streamsize)std::min(count, expected));
    const uint64_t got = (uint64_t)s->gcount();
    if (got < expected)
      memset(dst + got, 0, expected - got);
    s->clear();
    return true;
  }
  if (compression == tiffvalue::CompressionPackBits) {
    memset(dst, 0, expected);
    s->clear();
    s->seekg((std::streamoff)offset);
    UnpackBits(dst, (int)rowBytes, (int)rows, s,
               (int)std::min<uint64_t>(count, std::numeric_limits<int>::max()));
    s->clear();
    return true;
  }

  const uint64_t rawSize = readBlock(s, offset, count, rawBuf);
  unsigned char* const in = rawBuf.data();
  if (isCCITT(compression)) {
    if (p.fillOrder == 2)
      for (uint64_t i = 0; i < rawSize; ++i)
        in[i] = reversedBits[in[i]];
    // Modified Huffman rows start on byte boundaries; T4Options bit 0 marks
    // two-dimensional Group 3 data. Coder black is sample value 1 whatever
    // the photometric interpretation, which decides the inversion later.
    const bool twoD = compression == tiffvalue::CompressionCCITTFax3 && (toU32(p.t4Options) & 1);
    const int K = compression == tiffvalue::CompressionCCITTFax4 ? -1 : twoD ? 1 : 0;
    const bool rle = compression == tiffvalue::CompressionCCITTRLE;
    const uint64_t done =
        DecodeCCITT(in, rawSize, (int)width, (int)rows, K, rle, true, dst, rows) * rowBytes;
    if (done < expected) {
      std::cerr << "decompression error!? " << done << " " << expected << std::endl;
      memset(dst + done, 0, expected - done);
    }
    return true;
  }

  bool ok;
  uint64_t produced;
  if (compression == tiffvalue::CompressionLZW) {
    const bool legacy = rawSize >= 2 && in[0] == 0 && (in[1] & 1);
    if (legacy && !legacyWarned) {
      std::cerr << "Warning: legacy TIFF LZW compression not recommended" << std::endl;
      legacyWarned = true;
    }
    ok = DecodeLZWToMemory(in, rawSize, !legacy, legacy, dst, expected, &produced);
  } else {
    ok = inflateToMemory(in, rawSize, 15, dst, expected, &produced);
  }
  if (!ok)
    std::cerr << "decompression error!" << std::endl;
  if (produced < expected) {
    std::cerr << "not enough decompressed data: " << produced << " " << expected << std::endl;
    memset(dst + produced, 0, expected - produced);
  }
  return true;
}

// A geometry field as the whole number it must be. Stored as FLOAT, DOUBLE,
// RATIONAL or a signed type it may be anything: only whole values from 0
// to 2^32 - 1 pass, so nothing downstream divides by a truncated zero.
bool wholeField(const char* name, double v, uint32_t& out)
{
  if (!(v >= 0 && v <= 4294967295.0) || v != std::floor(v)) {
    std::cerr << "invalid " << name << ": " << v << std::endl;
    return false;
  }
  out = (uint32_t)v;
  return true;
}

bool Reader::readGeometry()
{
  if (!wholeField("ImageWidth", p.width, g.width) || !wholeField("ImageLength", p.length, g.length))
    return false;
  if (g.width == 0) {
    std::cerr << "ImageWidth zero" << std::endl;
    return false;
  }
  if (g.length == 0) {
    std::cerr << "ImageLength zero" << std::endl;
    return false;
  }
  // RowsPerStrip only groups rows: 0 or a fraction means one strip.
  g.rowsPerStrip = toU32(p.rowsPerStrip);
  return wholeField("TileWidth", p.tileWidth, g.tileWidth) &&
         wholeField("TileLength", p.tileLength, g.tileLength);
}

// Sample layout and compression the reader handles, and an image the
// model can hold.
bool Reader::checkLayout()
{
  if (p.spp != 1 && p.spp != 3 && p.spp != 4) {
    std::cerr << "NYI SamplesPerPixel: " << p.spp << std::endl;
    return false;
  }
  const int compression = saturate_cast<int>(p.compression);
  using namespace tiffvalue;
  if (p.compression == CompressionOJPEG || p.compression == CompressionJPEG) {
    jpeg = true;
    return false;
  }
  if (p.compression != compression ||
      (compression != CompressionNone && !isCCITT(compression) && compression != CompressionLZW &&
       compression != CompressionDeflate && compression != CompressionPackBits &&
       compression != CompressionDeflateOld)) {
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

  const double b0 = p.bps[0];
  g.isFloat = p.sampleFormat == tiffvalue::SampleFormatIEEEFloat;
  if (g.isFloat ? (b0 != 32 && b0 != 64)
                : (b0 != 1 && b0 != 2 && b0 != 4 && b0 != 8 && b0 != 16)) {
    std::cerr << "NYI BitsPerSample: " << b0 << std::endl;
    return false;
  }
  g.bps = (int)b0;
  g.spp = (int)p.spp;
  g.ccitt = isCCITT(compression);
  if (g.ccitt && (g.bps != 1 || g.spp != 1)) {
    std::cerr << "NYI CCITT with BitsPerSample " << g.bps << " SamplesPerPixel " << g.spp
              << std::endl;
    return false;
  }
  if (g.width > (uint32_t)std::numeric_limits<int>::max() ||
      g.length > (uint32_t)std::numeric_limits<int>::max()) {
    std::cerr << "image too large: " << g.width << "x" << g.length << std::endl;
    return false;
  }
  g.planar = p.planar == tiffvalue::PlanarSeparate && g.spp > 1;
  if (g.planar && g.bps < 8) {
    std::cerr << "NYI planar BitsPerSample: " << g.bps << std::endl;
    return false;
  }
  g.planes = g.planar ? g.spp : 1;
  g.chunkSpp = g.planar ? 1 : g.spp;

  // Pixel data is bounded by what the file could expand to (CCITT codes a
  // blank row in one bit), so a small hostile file cannot claim gigabytes.
  const uint64_t fileLimit = (uint64_t)256 << 20;
  g.limit = fileSize > (uint64_t(1) << 40) ? std::numeric_limits<uint64_t>::max()
                                           : fileLimit + fileSize * 4096;
  // A colour map turns each index into up to three samples: the image it
  // gives is what must fit.
  const bool mapped = g.spp == 1 && !p.colorMap.empty();
  const uint64_t rowBytes =
      mapped ? (uint64_t)g.width * 3 : ((uint64_t)g.width * g.spp * g.bps + 7) / 8;
  if (rowBytes > std::numeric_limits<uint32_t>::max() / 2 || rowBytes * g.length > g.limit) {
    std::cerr << "image too large for its file: " << g.width << "x" << g.length << std::endl;
    return false;
  }
  return true;
}

// Strips or tiles: their size and how many there are.
bool Reader::planChunks()
{
  g.tiled = g.tileWidth != 0 && g.tileLength != 0;
  if (g.tiled) {
    g.chunkW = g.tileWidth;
    g.chunkH = g.tileLength;
    if (((uint64_t)g.chunkW * g.chunkSpp * g.bps) % 8) {
      std::cerr << "NYI TileWidth: " << g.chunkW << std::endl;
      return false;
    }
  } else {
    g.chunkW = g.width;
    g.chunkH = g.rowsPerStrip;
    if (g.chunkH == 0 || g.chunkH > g.length)
      g.chunkH = g.length;
  }
  g.chunkRowBytes = ((uint64_t)g.chunkW * g.chunkSpp * g.bps + 7) / 8;
  if (g.chunkRowBytes > g.limit || g.chunkH > g.limit / g.chunkRowBytes ||
      g.chunkRowBytes * g.chunkH > (uint64_t)std::numeric_limits<int>::max() ||
      (g.ccitt && g.chunkW > (1u << 20))) {
    std::cerr << "strip or tile too large: " << g.chunkW << "x" << g.chunkH << std::endl;
    return false;
  }
  g.across = g.tiled ? ((uint64_t)g.width + g.chunkW - 1) / g.chunkW : 1;
  g.down = ((uint64_t)g.length + g.chunkH - 1) / g.chunkH;
  const uint64_t needed = g.across * g.down * g.planes;
  if (p.offsets.size() < needed) {
    std::cerr << "not enough strip offsets: " << p.offsets.size() << " " << needed << std::endl;
    return false;
  }
  return true;
}

// Every strip or tile into target: the image, or for planar data one gray
// image holding the planes one below the other.
bool Reader::readChunks(Image& target)
{
  target.spp = (uint8_t)g.chunkSpp;
  target.bps = (uint8_t)g.bps;
  target.resize((int)g.width, (int)((uint64_t)g.length * g.planes));
  const uint64_t stride = target.stride();
  // Strips decoded in place cover every row and clear what their data does
  // not fill; tiles and padded rows go through a chunk buffer.
  const bool direct = !g.tiled && g.chunkRowBytes == stride;
  if (!direct)
    memset(target.getRawData(), 0, stride * target.h);
  std::unique_ptr<unsigned char[]> chunk;
  if (!direct)
    chunk.reset(new unsigned char[g.chunkRowBytes * g.chunkH]);

  uint64_t index = 0;
  for (int plane = 0; plane < g.planes; ++plane) {
    for (uint64_t ty = 0; ty < g.down; ++ty) {
      const uint64_t y0 = ty * g.chunkH;
      const uint32_t rows = (uint32_t)std::min<uint64_t>(g.chunkH, g.length - y0);
      for (uint64_t tx = 0; tx < g.across; ++tx, ++index) {
        const uint64_t offset = toU32(p.offsets[index]);
        // Without a byte count, a strip may run to the end of the file.
        const bool declared = index < p.byteCounts.size();
        const uint64_t count = declared ? toU32(p.byteCounts[index]) : fileSize;
        // Strips hold only their rows; tiles are always whole.
        const uint32_t decodeRows = g.tiled ? g.chunkH : rows;
        unsigned char* rowsAt = target.getRawData() + ((uint64_t)plane * g.length + y0) * stride;
        unsigned char* dst = direct ? rowsAt : chunk.get();
        if (!direct)
          memset(dst, 0, g.chunkRowBytes * decodeRows);
        if (!decodeChunk(dst, g.chunkRowBytes, decodeRows, g.chunkW, offset, count, declared))
          return false;
        fixChunk(dst, g.chunkRowBytes, decodeRows, g.chunkSpp);
        if (direct)
          continue;
        // Clipped to the image.
        const uint64_t xBits = tx * g.chunkW * (uint64_t)g.chunkSpp * g.bps;
        const uint64_t cols = std::min<uint64_t>(g.chunkW, g.width - tx * g.chunkW);
        const uint64_t bytes = (cols * g.chunkSpp * g.bps + 7) / 8;
        for (uint32_t r = 0; r < rows; ++r)
          memcpy(rowsAt + r * stride + xBits / 8, dst + r * g.chunkRowBytes, bytes);
      }
    }
  }
  return true;
}

// The planes, one below the other in planesImage, interleaved into out.
void Reader::interleavePlanes(Image& planesImage, Image& out)
{
  out.spp = (uint8_t)g.spp;
  out.bps = planesImage.bps;
  out.resize((int)g.width, (int)g.length);
  const uint64_t planeRow = planesImage.stride();
  const uint64_t outStride = out.stride();
  for (uint32_t y = 0; y < g.length; ++y) {
    unsigned char* row = out.getRawData() + y * outStride;
    for (int c = 0; c < g.spp; ++c)
      memcpy(row + c * planeRow,
             planesImage.getRawData() + ((uint64_t)c * g.length + y) * planeRow, planeRow);
    colorspace_pack_line(out, (int)y, (int)y);
  }
  planesImage.setRawData(nullptr);
}

// Palette, WhiteIsZero and CMYK samples to the model's colours. False for
// a palette image whose colour map does not fit.
bool Reader::applyPhotometric(Image& out)
{
  if (out.spp == 1 && (!p.colorMap.empty() || p.photometric == tiffvalue::PhotometricPalette)) {
    const uint64_t entries = (uint64_t)1 << out.bps;
    if (out.bps > 16 || p.colorMap.size() < 3 * entries) {
      std::cerr << "non matching cmap count " << (int)out.bps << " " << p.colorMap.size() << " "
                << 3 * entries << std::endl;
      // Palette indices shown as gray levels would be a wrong picture.
      if (p.photometric == tiffvalue::PhotometricPalette)
        return false;
    } else {
      const size_t n = p.colorMap.size() / 3;
      colorspace_de_palette(out, (int)n, &p.colorMap[0], &p.colorMap[n], &p.colorMap[2 * n]);
    }
  }
  // Palette images have had their colours applied (or are kept as their
  // indices); only gray data follows WhiteIsZero / BlackIsZero.
  if (out.spp == 1 && p.photometric != tiffvalue::PhotometricBlackIsZero &&
      p.photometric != tiffvalue::PhotometricPalette)
    invert(out);
  if (p.photometric == tiffvalue::PhotometricSeparated && out.spp == 4)
    colorspace_cmyk_to_rgb(out);
  return true;
}

// Everything is decoded into `out` and handed to the image only on
// success: a refused file leaves the caller's pixels alone.
bool Reader::decode(Image& image)
{
  if (!readGeometry() || !checkLayout() || !planChunks())
    return false;
  Image out, planesImage;
  if (!readChunks(g.planar ? planesImage : out))
    return false;
  if (g.isFloat)
    colorspace_de_ieee(g.planar ? planesImage : out);
  if (g.planar)
    interleavePlanes(planesImage, out);
  if (p.predictor != tiffvalue::PredictorNone &&
      !(p.predictor == tiffvalue::PredictorHorizontal && (g.bps == 8 || g.bps == 16)))
    std::cerr << "unsupported predictor: " << p.predictor << std::endl;
  if (!applyPhotometric(out))
    return false;
  out.resX = image.resX;
  out.resY = image.resY;
  image.copyTransferOwnership(out);
  return true;
}

} // namespace

namespace {

// The pages from the IFD at `ifd` (the index-th of the file, lying in it)
// to the end of the chain; `cutAt` the first page the file does not hold,
// -1 when it holds them all. checkChunks: a page whose strips do not lie
// in the file is not held either. At the end the stream stands right
// after the last IFD's next-IFD field.
struct Count {
  int pages = 0;
  int cutAt = -1;
};

Count countPages(Reader& r, uint32_t ifd, int index, std::set<uint32_t>& visited,
                 bool checkChunks)
{
  Count c;
  c.pages = index;
  for (;;) {
    if (checkChunks && !r.chunksInFile(ifd)) {
      c.cutAt = c.pages;
      return c;
    }
    ++c.pages;
    r.s->clear();
    r.s->seekg((std::streamoff)ifd);
    uint32_t next = 0;
    const Link link = nextIFD(r.s, r.bigEndian, visited, r.fileSize, next);
    if (link == Link::End)
      return c;
    if (link == Link::Cut) {
      c.cutAt = c.pages;
      return c;
    }
    ifd = next;
  }
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
  const bool countOnly = args.containsAndRemove("count");

  {
    const std::streamoff here = stream->tellg();
    stream->seekg(0, std::ios::end);
    const std::streamoff end = stream->tellg();
    r.fileSize = end > 0 ? (uint64_t)end : std::numeric_limits<uint64_t>::max();
    stream->clear();
    stream->seekg(here);
  }

  const auto rewind = [stream] {
    stream->clear();
    stream->seekg(0);
  };
  // A file that ends before a page it has is refused as a whole, naming
  // the page: reading on would take it for a file of fewer pages.
  const auto cutShort = [&](int page) {
    std::cerr << "TIFF: the file ends inside page " << page + 1 << std::endl;
    refuseRead("the file is cut short", page);
    rewind();
    return 0;
  };

  if (tiffRead<uint16_t>(stream, r.bigEndian) != 42) {
    rewind();
    return 0;
  }
  if (r.fileSize < 8)
    return cutShort(index);
  const uint32_t firstIFD = tiffRead<uint32_t>(stream, r.bigEndian);
  if (firstIFD == 0) {
    std::cerr << "seek error for first IFD" << std::endl;
    rewind();
    return 0;
  }
  if (!ifdInFile(stream, r.bigEndian, firstIFD, r.fileSize))
    return cutShort(index);
  std::set<uint32_t> visited{firstIFD};
  uint32_t ifd = firstIFD;
  for (int i = 0; i < index; ++i) {
    uint32_t next = 0;
    const Link link = nextIFD(stream, r.bigEndian, visited, r.fileSize, next);
    if (link == Link::Cut)
      return cutShort(index);
    if (link == Link::End) {
      if (!forAppend)
        return 0;
      // Already after the last IFD's next-IFD field.
      stream->clear();
      return i + 1;
    }
    ifd = next;
  }

  // Every page from the one reached on must be there: a count that
  // stopped at a cut would drop the pages after it unnoticed.
  int pages = index;
  const auto count = [&] {
    Count c;
    try {
      c = countPages(r, ifd, index, visited, countOnly);
    } catch (...) {
      if (!forAppend)
        rewind();
      throw;
    }
    pages = c.pages;
    return c.cutAt;
  };
  if (forAppend) {
    const int cutAt = count();
    if (cutAt >= 0)
      return cutShort(cutAt);
    stream->clear();
    return pages;
  }
  // A page read is handed over only once the whole file could be counted.
  // Counting, which hands nothing over, checks page 0 first and then walks
  // on from its IFD.
  if (index == 0 && !countOnly) {
    const int cutAt = count();
    if (cutAt >= 0)
      return cutShort(cutAt);
  }

  if (!countOnly) {
    if (image.resX != 0 || image.resY != 0)
      image.metaDirty = true;
    image.resX = image.resY = 0;
  }
  stream->clear();
  stream->seekg((std::streamoff)ifd);
  bool ok = false;
  try {
    // Counting checks the page as far as decoding it would, short of the
    // strips; the image is not touched.
    Image unused;
    ok = countOnly ? r.readTags(unused) && r.readGeometry() && r.checkLayout() && r.planChunks()
                   : r.readTags(image) && r.decode(image);
  } catch (...) {
    rewind();
    throw;
  }
  if (!ok) {
    if (r.cutShort)
      return cutShort(index);
    if (r.jpeg)
      refuseRead(kJpegNotRead);
    rewind();
    return 0;
  }
  if (!stream->good())
    std::cerr << "stream error!" << std::endl;
  if (index == 0 && countOnly) {
    const int cutAt = count();
    if (cutAt >= 0)
      return cutShort(cutAt);
  }
  rewind();
  return index == 0 ? pages : 1;
}
