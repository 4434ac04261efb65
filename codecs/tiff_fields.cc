// TIFF field input and output in either byte order.
#include <cmath>
#include <cstring>
#include <iostream>
#include <limits>
#include <stdexcept>

#include "codecs/TIFF.hh"
#include "codecs/TIFFTags.hh"
#include "utility/ByteOrder.hh"

int typeSize(int type)
{
  switch (type) {
  case tifftype::BYTE: case tifftype::ASCII: case tifftype::SBYTE: case tifftype::UNDEFINED:
    return 1;
  case tifftype::SHORT: case tifftype::SSHORT:
    return 2;
  case tifftype::LONG: case tifftype::SLONG: case tifftype::FLOAT:
    return 4;
  case tifftype::RATIONAL: case tifftype::SRATIONAL: case tifftype::DOUBLE:
    return 8;
  }
  throw std::runtime_error("unkown type: " + std::to_string(type));
}

template <typename T> T tiffRead(std::istream* s, bool bigEndian, int size)
{
  if (size != 0 && size != (int)sizeof(T))
    std::cerr << "warning: unimplemented short read!" << std::endl;
  unsigned char b[sizeof(T)];
  if (!s->read((char*)b, sizeof(T)))
    throw std::runtime_error("read error");
  if (bigEndian)
    byteorder::reverse(b, sizeof(T));
  T v;
  memcpy(&v, b, sizeof(T));
  return v;
}

template uint8_t tiffRead<uint8_t>(std::istream*, bool, int);
template int8_t tiffRead<int8_t>(std::istream*, bool, int);
template uint16_t tiffRead<uint16_t>(std::istream*, bool, int);
template int16_t tiffRead<int16_t>(std::istream*, bool, int);
template uint32_t tiffRead<uint32_t>(std::istream*, bool, int);
template int32_t tiffRead<int32_t>(std::istream*, bool, int);
template float tiffRead<float>(std::istream*, bool, int);
template double tiffRead<double>(std::istream*, bool, int);

std::vector<double> tiffReadArray(std::istream* s, bool bigEndian, int type, uint32_t count)
{
  std::vector<double> values;
  values.reserve(count < 4096 ? count : 4096); // counts are the file's: grow as bytes arrive
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (uint32_t i = 0; i < count; ++i) {
    double v;
    switch (type) {
    case tifftype::BYTE: v = tiffRead<uint8_t>(s, bigEndian); break;
    case tifftype::SHORT: v = tiffRead<uint16_t>(s, bigEndian); break;
    case tifftype::LONG: v = tiffRead<uint32_t>(s, bigEndian); break;
    case tifftype::RATIONAL: {
      const uint32_t n = tiffRead<uint32_t>(s, bigEndian);
      const uint32_t d = tiffRead<uint32_t>(s, bigEndian);
      v = d ? (double)(n / d) : 0; // a zero denominator is no number: 0
      break;
    }
    case tifftype::SBYTE: v = tiffRead<int8_t>(s, bigEndian); break;
    case tifftype::UNDEFINED: v = nan; break;
    case tifftype::SSHORT: v = tiffRead<int16_t>(s, bigEndian); break;
    case tifftype::SLONG: v = tiffRead<int32_t>(s, bigEndian); break;
    case tifftype::SRATIONAL: {
      const int64_t n = tiffRead<int32_t>(s, bigEndian);
      const int64_t d = tiffRead<int32_t>(s, bigEndian);
      v = d ? (double)(n / d) : 0;
      break;
    }
    case tifftype::FLOAT: v = tiffRead<float>(s, bigEndian); break;
    case tifftype::DOUBLE: v = tiffRead<double>(s, bigEndian); break;
    default:
      std::cerr << "unsupported vector type " << type << std::endl;
      v = nan;
    }
    values.push_back(v);
  }
  return values;
}

std::vector<std::string> tiffReadStrArray(std::istream* s, bool bigEndian, int type,
                                          uint32_t count)
{
  (void)bigEndian;
  (void)type;
  std::vector<std::string> strings;
  std::string cur;
  for (uint32_t i = 0; i < count; ++i) {
    const char c = (char)tiffRead<uint8_t>(s, false);
    if (c == 0) {
      strings.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) {
    std::cerr << "last str not 0-terminated?" << std::endl;
    strings.push_back(cur);
  }
  return strings;
}

unsigned seekNextIFD(std::istream* s, bool bigEndian, bool)
{
  const uint16_t entries = tiffRead<uint16_t>(s, bigEndian);
  s->seekg((std::streamoff)entries * 12, std::ios::cur);
  const uint32_t next = tiffRead<uint32_t>(s, bigEndian);
  if (next) {
    s->seekg((std::streamoff)next);
    if (!s->good()) {
      std::cerr << "seek error for next IFD" << std::endl;
      return 0;
    }
  }
  return next;
}

template <typename T>
std::streamoff tiffWrite(std::ostream* s, bool bigEndian, const T& value, int size)
{
  if (size != 0 && size != (int)sizeof(T))
    std::cerr << "warning: unimplemented short write!" << std::endl;
  const std::streamoff at = s->tellp();
  unsigned char b[sizeof(T)];
  memcpy(b, &value, sizeof(T));
  if (bigEndian)
    byteorder::reverse(b, sizeof(T));
  if (!s->write((const char*)b, sizeof(T)))
    throw std::runtime_error("write error");
  return at;
}

template std::streamoff tiffWrite<uint8_t>(std::ostream*, bool, const uint8_t&, int);
template std::streamoff tiffWrite<int8_t>(std::ostream*, bool, const int8_t&, int);
template std::streamoff tiffWrite<uint16_t>(std::ostream*, bool, const uint16_t&, int);
template std::streamoff tiffWrite<int16_t>(std::ostream*, bool, const int16_t&, int);
template std::streamoff tiffWrite<uint32_t>(std::ostream*, bool, const uint32_t&, int);
template std::streamoff tiffWrite<int32_t>(std::ostream*, bool, const int32_t&, int);
template std::streamoff tiffWrite<float>(std::ostream*, bool, const float&, int);
template std::streamoff tiffWrite<double>(std::ostream*, bool, const double&, int);

// Integer part of v, wrapped the way a cast through 64 bits wraps; NaN and
// out-of-range values become 0 rather than undefined behaviour.
static int64_t integerPart(double v)
{
  if (!(v > -9.2e18 && v < 9.2e18))
    return 0;
  return (int64_t)v;
}

std::streamoff tiffWriteArray(std::ostream* s, bool bigEndian, int type,
                              const std::vector<double>& values)
{
  const std::streamoff at = s->tellp();
  for (double v : values) {
    const int64_t i = integerPart(v);
    switch (type) {
    case tifftype::BYTE: tiffWrite<uint8_t>(s, bigEndian, (uint8_t)i); break;
    case tifftype::SHORT: tiffWrite<uint16_t>(s, bigEndian, (uint16_t)i); break;
    case tifftype::LONG: tiffWrite<uint32_t>(s, bigEndian, (uint32_t)i); break;
    case tifftype::RATIONAL:
      tiffWrite<uint32_t>(s, bigEndian, (uint32_t)i);
      tiffWrite<uint32_t>(s, bigEndian, 1u);
      break;
    case tifftype::SBYTE: tiffWrite<int8_t>(s, bigEndian, (int8_t)i); break;
    case tifftype::SSHORT: tiffWrite<int16_t>(s, bigEndian, (int16_t)i); break;
    case tifftype::SLONG: tiffWrite<int32_t>(s, bigEndian, (int32_t)i); break;
    case tifftype::SRATIONAL:
      tiffWrite<int32_t>(s, bigEndian, (int32_t)i);
      tiffWrite<int32_t>(s, bigEndian, 1);
      break;
    case tifftype::FLOAT: tiffWrite<float>(s, bigEndian, (float)v); break;
    case tifftype::DOUBLE: tiffWrite<double>(s, bigEndian, v); break;
    default:
      std::cerr << "unsupported vector type " << type << std::endl;
    }
  }
  return at;
}
