// Writes bit fields of up to 32 bits into a byte string, most significant
// bit first; flush() pads the last byte with 0-bits.
#pragma once

#include <cstdint>
#include <string>

namespace Norvel {

class BitWriter {
public:
  std::string buf;

  void put(uint32_t code, int len)
  {
    acc = (acc << len) | (code & (uint32_t)((1ull << len) - 1));
    n += len;
    while (n >= 8) {
      n -= 8;
      buf.push_back((char)(acc >> n));
    }
    acc &= (1u << n) - 1;
  }

  void flush()
  {
    if (n)
      buf.push_back((char)(acc << (8 - n)));
    n = 0;
    acc = 0;
  }

private:
  uint64_t acc = 0;
  int n = 0;
};

} // namespace Norvel
