// Builds TIFF files field by field, including damaged ones, for the TIFF
// reader tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TiffField {
  uint16_t tag, type;
  std::vector<uint32_t> values; // RATIONAL: numerator, denominator pairs
  uint32_t count = 0;           // 0: derived from values
  int64_t offset = -1;          // >= 0: the entry points there, nothing is written
};

class TiffBuilder {
public:
  explicit TiffBuilder(bool bigEndian = false) : be(bigEndian)
  {
    bytes = bigEndian ? "MM" : "II";
    put(42, 2);
    put(0, 4);
  }

  // Appends raw bytes, returns their offset.
  uint32_t data(const std::string& d)
  {
    const uint32_t at = (uint32_t)bytes.size();
    bytes += d;
    return at;
  }

  // Appends an IFD and links it from the previous one (or the header).
  uint32_t ifd(const std::vector<TiffField>& fields)
  {
    if (bytes.size() % 2)
      bytes += '\0';
    const uint32_t at = (uint32_t)bytes.size();
    patch(link, at);
    put((uint32_t)fields.size(), 2);
    std::vector<std::pair<size_t, const TiffField*>> later;
    for (const TiffField& f : fields) {
      const uint32_t count = f.count ? f.count : derivedCount(f);
      put(f.tag, 2);
      put(f.type, 2);
      put(count, 4);
      if (f.offset >= 0) {
        put((uint32_t)f.offset, 4);
      } else if (valueBytes(f) <= 4) {
        const size_t start = bytes.size();
        putValues(f);
        while (bytes.size() < start + 4)
          bytes += '\0';
      } else {
        later.push_back({bytes.size(), &f});
        put(0, 4);
      }
    }
    link = (uint32_t)bytes.size();
    put(0, 4);
    for (auto& l : later) {
      patch((uint32_t)l.first, (uint32_t)bytes.size());
      putValues(*l.second);
    }
    return at;
  }

  // Overwrites the u32 at offset (e.g. a next-IFD link).
  void patch(uint32_t offset, uint32_t value)
  {
    for (int i = 0; i < 4; ++i) {
      const int shift = be ? 8 * (3 - i) : 8 * i;
      bytes[offset + i] = (char)(value >> shift);
    }
  }
  uint32_t lastLink() const { return link; }
  const std::string& str() const { return bytes; }

private:
  static int size(uint16_t type)
  {
    switch (type) {
    case 3: case 8: return 2;
    case 4: case 9: case 11: return 4;
    case 5: case 10: case 12: return 8;
    default: return 1;
    }
  }
  static uint32_t derivedCount(const TiffField& f)
  {
    return (uint32_t)(f.type == 5 || f.type == 10 ? f.values.size() / 2 : f.values.size());
  }
  static uint64_t valueBytes(const TiffField& f)
  {
    return (uint64_t)size(f.type) * (f.count ? f.count : derivedCount(f));
  }
  void putValues(const TiffField& f)
  {
    const int n = f.type == 5 || f.type == 10 ? 4 : size(f.type);
    for (uint32_t v : f.values)
      put(v, n);
  }
  void put(uint32_t v, int n)
  {
    for (int i = 0; i < n; ++i) {
      const int shift = be ? 8 * (n - 1 - i) : 8 * i;
      bytes += (char)(v >> shift);
    }
  }

  bool be;
  std::string bytes;
  uint32_t link = 4;
};
