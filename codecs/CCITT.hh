// CCITT fax coding of packed 1-bit rows (most significant bit first): the
// Group 4 (T.6) encoder and a decoder for T.4 one- and two-dimensional and
// T.6 data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>

// One row of the run-length code table: white code and length, black code
// and length, codes right-aligned. Rows 0..63 are terminating codes, row
// 63 + m the make-up code for 64 * m pixels (m = 1..40).
struct CCITTCode {
  uint16_t whiteCode, whiteLen, blackCode, blackLen;
};
extern const CCITTCode ttable[104];

// Encodes `height` rows of `width` pixels as T.6, ending with EOFB. `stride`
// 0 means (width + 7) / 8. With blackIs1 false a 1 bit is white.
void EncodeCCITT(std::ostream& out, const unsigned char* rows, int width, int height, int stride,
                 bool blackIs1);

// Decodes rows of (width + 7) / 8 bytes until `height` rows are done (height
// <= 0: until the data end). K < 0: T.6; K == 0: T.4 one-dimensional; K > 0:
// T.4 two-dimensional with a tag bit after each EOL. The stream is left
// after the last byte a code was read from. Malformed data ends decoding
// with the rows completed so far and the row in progress.
std::string DecodeCCITT(std::istream& in, int width, int height, int K, bool byteAlign, bool blackIs1,
                        bool endOfBlock);

// The same decoder over bytes in memory, into `dstRows` rows of
// (width + 7) / 8 bytes at `dst` (height > 0). Returns the rows produced,
// the one in progress at an error included; rows after them hold no
// decoded data.
size_t DecodeCCITT(const uint8_t* data, size_t size, int width, int height, int K, bool byteAlign,
                   bool blackIs1, uint8_t* dst, size_t dstRows);
