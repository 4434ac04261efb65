// TIFF writing: one page per call, chained onto the pages already on the
// stream, or appended to an existing file.
#include <cstring>
#include <iostream>
#include <stdexcept>
#include <vector>

#include "codecs/Args.hh"
#include "codecs/CCITT.hh"
#include "codecs/ZlibEncoder.hh"
#include "codecs/parallel_deflate.hh"
#include "codecs/TIFF.hh"
#include "codecs/TIFFTags.hh"
#include "image/Image.hh"
#include "utility/Saturate.hh"

namespace {

struct Entry {
  uint16_t tag;
  uint16_t type;
  uint32_t count;
  uint32_t value;
};

} // namespace

TIFF2Codec::TIFF2Codec() : stream(nullptr)
{
  registerCodec("tif", this);
}

TIFF2Codec::TIFF2Codec(std::ostream* s) : stream(s) {}

TIFF2Codec::~TIFF2Codec()
{
  if (memory && target) {
    *target << memory->rdbuf();
    target->flush();
  }
}

bool TIFF2Codec::writeImage(std::ostream* s, Image& image, int quality, const std::string& compress)
{
  if (!s)
    return false;
  if (s->tellp() < 0) {
    // A pipe: the IFD link needs seeking back, so the file is built in
    // memory first.
    s->clear();
    std::stringstream mem(std::ios::in | std::ios::out | std::ios::binary);
    Args args(compress);
    if (args.count("append")) {
      std::cerr << "TIFF: cannot append to an output that cannot seek" << std::endl;
      return false;
    }
    if (!writeImageImpl(&mem, image, quality, compress, 0))
      return false;
    *s << mem.rdbuf();
    return bool(*s);
  }
  return writeImageImpl(s, image, quality, compress, 0);
}

ImageCodec* TIFF2Codec::instanciateForWrite(std::ostream* s, const std::string& compress)
{
  if (!s)
    return nullptr;
  Args args(compress);
  const bool append = args.count("append") > 0;
  if (s->tellp() < 0) {
    s->clear();
    if (append) {
      std::cerr << "TIFF: cannot append to an output that cannot seek" << std::endl;
      return nullptr;
    }
    TIFF2Codec* c = new TIFF2Codec(nullptr);
    c->memory.reset(new std::stringstream(std::ios::in | std::ios::out | std::ios::binary));
    c->stream = c->memory.get();
    c->target = s;
    return c;
  }
  if (append) {
    // The walk reads the file: only a stream open for reading as well.
    std::iostream* io = dynamic_cast<std::iostream*>(s);
    if (!io) {
      std::cerr << "TIFF: cannot append to an output that cannot be read" << std::endl;
      return nullptr;
    }
    io->seekg(0, std::ios::end);
    const std::streamoff end = io->tellg();
    io->clear();
    if (end > 0) {
      io->seekg(0);
      Image scratch;
      refuseRead("");
      if (!readImageImpl(io, scratch, "", 0, true)) {
        // A file cut short would lose the pages after the cut.
        if (readFailure().empty())
          std::cerr << "TIFF: cannot append to a file that is not TIFF" << std::endl;
        else
          std::cerr << "TIFF: cannot append: " << readFailure() << std::endl;
        io->clear();
        return nullptr;
      }
      const std::streamoff at = io->tellg();
      io->seekg(0);
      const int c = io->get();
      io->clear();
      io->seekp(at);
      TIFF2Codec* codec = new TIFF2Codec(s);
      codec->fileBigEndian = c == 'M';
      codec->appending = true;
      return codec;
    } else {
      io->seekp(0);
    }
  }
  return new TIFF2Codec(s);
}

bool TIFF2Codec::Write(Image& image, int quality, const std::string& compress, int index)
{
  if (!stream)
    return false;
  return writeImageImpl(stream, image, quality, compress, index);
}

bool TIFF2Codec::writeImageImpl(std::ostream* s, const Image& image, int quality,
                                const std::string& compress, int index)
{
  if (!s || image.w <= 0 || image.h <= 0 || !image.getRawData())
    return false;
  Args args(compress);
  const bool append = args.containsAndRemove("append");
  bool bigEndian = false;
  if (args.containsAndRemove("littleendian"))
    bigEndian = false;
  else if (args.containsAndRemove("bigendian"))
    bigEndian = true;

  const std::streamoff start = s->tellp();
  if (start < 0)
    throw std::runtime_error("write error");
  if (start == 0) {
    if (index != 0 && !append)
      std::cerr << "Warning: TIFF file not started with page 0, is: " << index << std::endl;
    s->write(bigEndian ? "MM" : "II", 2);
    tiffWrite<uint16_t>(s, bigEndian, 42);
    tiffWrite<uint32_t>(s, bigEndian, 0);
    fileBigEndian = bigEndian;
  } else if (fileBigEndian >= 0) {
    bigEndian = fileBigEndian;
  } else if (append) {
    // The pages of a file share its byte order.
    if (std::iostream* io = dynamic_cast<std::iostream*>(s)) {
      const std::streamoff back = io->tellg();
      io->seekg(0);
      const int c = io->get();
      io->clear();
      io->seekg(back < 0 ? 0 : back);
      if (c == 'M' || c == 'I')
        bigEndian = c == 'M';
      fileBigEndian = bigEndian;
    }
  }
  const std::streamoff link = (std::streamoff)s->tellp() - 4;
  if (append)
    s->seekp(0, std::ios::end);

  const int spp = image.spp, bps = image.bps;
  int compression = bps == 1 && spp == 1 ? (int)tiffvalue::CompressionCCITTFax4
                                          : (int)tiffvalue::CompressionDeflate;
  if (args.containsAndRemove("g4") || args.containsAndRemove("group4"))
    compression = tiffvalue::CompressionCCITTFax4;
  else if (args.containsAndRemove("deflate") || args.containsAndRemove("zip"))
    compression = tiffvalue::CompressionDeflate;
  else if (args.containsAndRemove("none"))
    compression = tiffvalue::CompressionNone;
  if (compression == tiffvalue::CompressionCCITTFax4 && (bps != 1 || spp != 1)) {
    // Group 4 codes only bilevel rows; anything else would be unreadable.
    std::cerr << "Warning: TIFF Group 4 needs a 1-bit image, writing deflate" << std::endl;
    compression = tiffvalue::CompressionDeflate;
  }

  const uint64_t rowLength = image.stridefill();
  const uint64_t pitch = image.stride();
  const uint8_t* data = image.getRawData();
  const std::streamoff stripOffset = s->tellp();

  // 16-bit samples are in host order in memory and in the file's order on
  // disk.
  std::vector<uint8_t> swapped;
  const bool swap16 = bps == 16 && bigEndian;
  if (swap16)
    swapped.resize(rowLength);
  auto rowAt = [&](int y) -> const char* {
    const uint8_t* row = data + (uint64_t)y * pitch;
    if (!swap16)
      return (const char*)row;
    for (uint64_t i = 0; i + 1 < rowLength; i += 2) {
      swapped[i] = row[i + 1];
      swapped[i + 1] = row[i];
    }
    return (const char*)swapped.data();
  };

  if (compression == tiffvalue::CompressionDeflate) {
    const int level = saturate_cast<int>(9 + quality / (-100.0 / 9));
    if (level < 0 || level > 9) {
      std::cerr << "failed to init zlib encoder" << std::endl;
      return false;
    }
    const uint64_t total = rowLength * (uint64_t)image.h;
    if (total >= 2 * paralleldeflate::kBlockSize && paralleldeflate::defaultThreads() > 1) {
      // Large strips are gathered once and deflated on every core.
      std::vector<unsigned char> rows(total);
      for (int y = 0; y < image.h; ++y)
        memcpy(rows.data() + rowLength * (uint64_t)y, rowAt(y), rowLength);
      if (!paralleldeflate::deflate(*s, rows.data(), total, level))
        throw std::runtime_error("write error");
    } else {
      ZlibEncoder enc(s);
      if (!enc.init(level)) {
        std::cerr << "failed to init zlib encoder" << std::endl;
        return false;
      }
      for (int y = 0; y < image.h; ++y)
        if (!enc.write(rowAt(y), rowLength))
          throw std::runtime_error("write error");
      if (!enc.finish())
        throw std::runtime_error("write error");
    }
  } else if (compression == tiffvalue::CompressionCCITTFax4) {
    EncodeCCITT(*s, data, image.w, image.h, (int)pitch, false);
  } else {
    for (int y = 0; y < image.h; ++y)
      s->write(rowAt(y), (std::streamsize)rowLength);
  }
  if (!*s)
    throw std::runtime_error("write error");
  const std::streamoff stripBytes = (std::streamoff)s->tellp() - stripOffset;

  std::vector<Entry> entries;
  if (append || appending || index > 0)
    entries.push_back({tifftag::NewSubfileType, tifftype::LONG, 1, 2});
  entries.push_back({tifftag::ImageWidth, tifftype::LONG, 1, (uint32_t)image.w});
  entries.push_back({tifftag::ImageLength, tifftype::LONG, 1, (uint32_t)image.h});
  if (spp == 1)
    entries.push_back({tifftag::BitsPerSample, tifftype::SHORT, 1, (uint32_t)bps});
  else
    entries.push_back(
        {tifftag::BitsPerSample, tifftype::SHORT, (uint32_t)spp,
         (uint32_t)tiffWriteArray(s, bigEndian, tifftype::SHORT, std::vector<double>(spp, bps))});
  if (compression != tiffvalue::CompressionNone)
    entries.push_back({tifftag::Compression, tifftype::SHORT, 1, (uint32_t)compression});
  const uint32_t photometric = compression == tiffvalue::CompressionCCITTFax4
                                 ? tiffvalue::PhotometricWhiteIsZero
                               : spp == 1 ? tiffvalue::PhotometricBlackIsZero
                                          : tiffvalue::PhotometricRGB;
  entries.push_back({tifftag::Photometric, tifftype::SHORT, 1, photometric});
  entries.push_back({tifftag::StripOffsets, tifftype::LONG, 1, (uint32_t)stripOffset});
  if (spp > 1)
    entries.push_back({tifftag::SamplesPerPixel, tifftype::SHORT, 1, (uint32_t)spp});
  // The default says the same, but ImageMagick misreads compressed 16-bit
  // strips without it.
  entries.push_back({tifftag::RowsPerStrip, tifftype::LONG, 1, (uint32_t)image.h});
  entries.push_back({tifftag::StripByteCounts, tifftype::LONG, 1, (uint32_t)stripBytes});
  if (image.resX > 0)
    entries.push_back({tifftag::XResolution, tifftype::RATIONAL, 1,
                       (uint32_t)tiffWriteArray(s, bigEndian, tifftype::RATIONAL,
                                                {(double)image.resX})});
  if (image.resY > 0)
    entries.push_back({tifftag::YResolution, tifftype::RATIONAL, 1,
                       (uint32_t)tiffWriteArray(s, bigEndian, tifftype::RATIONAL,
                                                {(double)image.resY})});
  if (spp == 4)
    entries.push_back({tifftag::ExtraSamples, tifftype::SHORT, 1, 2}); // unassociated alpha

  if (s->tellp() % 2)
    tiffWrite<uint8_t>(s, bigEndian, 0);
  const std::streamoff ifd = s->tellp();
  if (ifd > (std::streamoff)0xffffffffu)
    throw std::runtime_error("TIFF file larger than 4 GiB");
  tiffWrite<uint16_t>(s, bigEndian, (uint16_t)entries.size());
  for (const Entry& e : entries) {
    tiffWrite<uint16_t>(s, bigEndian, e.tag);
    tiffWrite<uint16_t>(s, bigEndian, e.type);
    tiffWrite<uint32_t>(s, bigEndian, e.count);
    if (e.count == 1 && typeSize(e.type) == 1) {
      tiffWrite<uint8_t>(s, bigEndian, (uint8_t)e.value);
      tiffWrite<uint8_t>(s, bigEndian, 0);
      tiffWrite<uint16_t>(s, bigEndian, 0);
    } else if (e.count == 1 && typeSize(e.type) == 2) {
      tiffWrite<uint16_t>(s, bigEndian, (uint16_t)e.value);
      tiffWrite<uint16_t>(s, bigEndian, 0);
    } else {
      tiffWrite<uint32_t>(s, bigEndian, e.value);
    }
  }
  tiffWrite<uint32_t>(s, bigEndian, 0);

  const std::streamoff end = s->tellp();
  s->seekp(link);
  tiffWrite<uint32_t>(s, bigEndian, (uint32_t)ifd);
  s->seekp(end);
  return bool(*s);
}
