// Stream decoders shared by the codecs: TIFF/PDF LZW, PackBits and inflate.
// They know nothing of images.
#pragma once

#include <cstdint>
#include <istream>
#include <limits>
#include <ostream>

// TIFF 6.0 LZW with earlyChange, PDF LZWDecode (EarlyChange 0) without.
// Writes at most maxOutput bytes; true at End of Information, at the end of
// the input, or when maxOutput is reached; false on a bad code.
bool DecodeLZW(std::ostream& out, std::istream& in, bool earlyChange, bool lsbFirst,
               uint64_t maxOutput = std::numeric_limits<uint64_t>::max());

// The same from memory into memory: at most cap bytes at out, *produced
// tells how many hold decoded data (the bytes after them, up to cap, may
// have been written too).
bool DecodeLZWToMemory(const unsigned char* in, uint64_t length, bool earlyChange, bool lsbFirst,
                       unsigned char* out, uint64_t cap, uint64_t* produced);

// PackBits into rows rows of rowBytes bytes at dst, from at most srcBytes
// bytes of in.
void UnpackBits(unsigned char* dst, int rowBytes, int rows, std::istream* in, int srcBytes);

// Inflates length bytes at data into out; windowBits 15 for zlib streams,
// negative for raw deflate. At most maxOutput bytes are written: callers
// pass the size they expect, so declared sizes never drive the output.
// False on an initialisation error, corrupt data or a failed output stream;
// true, with what could be inflated, for truncated data.
bool decodeZlibBytes(std::ostream& out, const unsigned char* data, uint64_t length,
                     int windowBits, uint64_t maxOutput);

// The same, straight into memory: at most cap bytes at out; *produced
// tells how many hold inflated data (the bytes after them are left as they
// were, or cleared).
bool inflateToMemory(const unsigned char* data, uint64_t length, int windowBits,
                     unsigned char* out, uint64_t cap, uint64_t* produced);

template <typename Ptr>
bool DecodeZlib(std::ostream& out, const Ptr& data, unsigned long length, int windowBits,
                uint64_t maxOutput)
{
  return decodeZlibBytes(out, (const unsigned char*)data, length, windowBits, maxOutput);
}
