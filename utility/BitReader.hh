// Reads bit fields of up to 32 bits from a byte stream, most or least
// significant bit of each byte first. Past the end of the stream it
// delivers 1-bits (the low byte of EOF); callers check the stream.
#pragma once

#include <istream>

namespace Norvel {

class Bitstream {
public:
  Bitstream(std::istream& in, bool lsbFirst = false) : in(in), lsbFirst(lsbFirst) {}

  // Reads n bits and merges them into value (callers pass 0).
  unsigned operator()(unsigned value, unsigned char n)
  {
    unsigned taken = 0;
    if (n > 32)
      n = 32;
    while (n) {
      if (bitsLeft == 0) {
        current = (unsigned char)in.get();
        bitsLeft = 8;
      }
      const unsigned k = n < bitsLeft ? n : bitsLeft;
      if (!lsbFirst) {
        value = (value << k) | (unsigned)(current >> (8 - k));
        current = (unsigned char)(current << k);
      } else {
        value |= (unsigned)(current & ((1u << k) - 1)) << taken;
        current = (unsigned char)(current >> k);
      }
      bitsLeft -= k;
      n -= k;
      taken += k;
    }
    return value;
  }

private:
  std::istream& in;
  unsigned char bitsLeft = 0;
  unsigned char current = 0;
  bool lsbFirst;
};

} // namespace Norvel
