// Shared bits of the fuzz targets: a reader over the input's bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzz {

// Takes small fields off the front of the input; whatever is left is the
// payload.
class Input {
public:
  Input(const uint8_t* d, size_t n) : data(d), size(n) {}
  uint8_t byte() { return size ? (--size, *data++) : 0; }
  uint16_t u16() { uint16_t hi = byte(); return uint16_t(hi << 8 | byte()); }
  std::string rest() const { return std::string(reinterpret_cast<const char*>(data), size); }
  const uint8_t* restData() const { return data; }
  size_t restSize() const { return size; }

private:
  const uint8_t* data;
  size_t size;
};

} // namespace fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
