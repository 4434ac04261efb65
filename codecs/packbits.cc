// PackBits decoding (TIFF compression 32773).
#include <iostream>

#include "codecs/Decoders.hh"

void UnpackBits(unsigned char* dst, int rowBytes, int rows, std::istream* in, int srcBytes)
{
  if (!dst || !in || rowBytes <= 0 || rows <= 0)
    return;
  for (int row = 0; row < rows; ++row, dst += rowBytes) {
    int x = 0;
    while (x < rowBytes) {
      if (srcBytes < 1)
        return;
      const int c = in->get();
      if (c == EOF)
        return;
      const int n = (signed char)c;
      if (n >= 0) {
        // Literal run; never read past the bytes the caller declared.
        int count = n + 1;
        if (count > srcBytes - 1)
          count = srcBytes - 1;
        for (int i = 0; i < count; ++i, ++x) {
          const int b = in->get();
          if (b == EOF)
            return;
          if (x < rowBytes)
            dst[x] = (unsigned char)b;
        }
        x += n + 1 - count;
        srcBytes -= n + 2;
      } else if (n == -128) {
        srcBytes -= 1;
      } else {
        const int b = in->get();
        if (b == EOF)
          return;
        for (int i = 0; i < 1 - n; ++i, ++x)
          if (x < rowBytes)
            dst[x] = (unsigned char)b;
        srcBytes -= 2;
      }
    }
  }
  if (srcBytes >= 1)
    std::cerr << "unpackBits src left?" << srcBytes << std::endl;
}
