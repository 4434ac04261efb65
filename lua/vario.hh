// VarioCode: the variable-length encoding of every integer, instruction and
// number in a precompiled chunk.
//
// Lead byte, from the most significant bit:
//   11vvvvvv   the integer v (0..63)
//   0xxxxxxx   raw: the lead is the top byte of the value, width-1 bytes follow
//   10ifllrr   filled: ll top and rr bottom bytes are fill (0xFF if f, else
//              0x00); i marks a 32-bit integer standing for a number; the
//              bytes between the runs follow, most significant first
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vario {

// Longest encoding: a prefix byte and eight value bytes.
constexpr int kMaxBytes = 9;

// Encodes the e-byte value `bits` (e = 4 or 8); `intForm` marks a number
// stored as a 32-bit integer. Returns the number of bytes put in `out`.
inline int encodeBits(uint64_t bits, int e, bool intForm, uint8_t out[kMaxBytes]) {
  if (e == 4 && bits <= 63) {  // integers 0..63; negatives are never immediate
    out[0] = uint8_t(0xC0 | bits);
    return 1;
  }
  uint8_t b[8];
  for (int k = 0; k < e; k++) b[k] = uint8_t(bits >> (8 * (e - 1 - k)));
  const uint8_t hi = b[0];
  const uint8_t lo = b[e - 1];
  auto isFill = [](uint8_t x) { return x == 0x00 || x == 0xFF; };
  int n = 0;
  if (!isFill(hi) && !isFill(lo)) {
    if (intForm)
      out[n++] = 0xA0;
    else if (hi & 0x80)
      out[n++] = 0x80;  // a lead below 0x80 is the value's own top byte
    for (int k = 0; k < e; k++) out[n++] = b[k];
    return n;
  }
  int right = 0;
  if (isFill(lo))
    while (right < e && b[e - 1 - right] == lo) right++;
  int left = 0;
  if (isFill(hi))
    while (left < e && b[left] == hi) left++;
  bool useLeft = left > 0;
  bool useRight = right > 0;
  if (useLeft && useRight && hi != lo) {  // different fills: keep the longer run
    if (left >= right)
      useRight = false;
    else
      useLeft = false;
  }
  int ll = useLeft ? (left < 3 ? left : 3) : 0;
  int rr = useRight ? (right < 3 ? right : 3) : 0;
  if (ll + rr > e) rr = e - ll;
  const uint8_t fill = ll >= 1 ? hi : lo;
  out[n++] = uint8_t(0x80 | (intForm ? 0x20 : 0) | (fill == 0xFF ? 0x10 : 0) | (ll << 2) | rr);
  for (int k = ll; k < e - rr; k++) out[n++] = b[k];
  return n;
}

inline int encode4(uint32_t v, uint8_t out[kMaxBytes]) { return encodeBits(v, 4, false, out); }

// Integral numbers in 32-bit range travel as integers (so -0.0 becomes 0).
inline int encode8(double d, uint8_t out[kMaxBytes]) {
  if (d >= -2147483648.0 && d < 2147483648.0 && static_cast<double>(static_cast<int32_t>(d)) == d)
    return encodeBits(static_cast<uint32_t>(static_cast<int32_t>(d)), 4, true, out);
  uint64_t bits;
  std::memcpy(&bits, &d, sizeof bits);
  return encodeBits(bits, 8, false, out);
}

// Decodes one value of width 4 or 8. `get()` returns the next byte or a
// negative value at the end of the input; returns false then.
template <typename Get>
bool decode(int width, Get&& get, uint32_t* v4, double* v8) {
  int lead = get();
  if (lead < 0) return false;
  uint8_t b[8];
  bool intForm = false;
  int e = width;
  if (lead >= 0xC0) {
    if (width == 4)
      *v4 = uint32_t(lead & 0x3F);
    else
      *v8 = double(lead & 0x3F);
    return true;
  }
  if (lead < 0x80) {
    b[0] = uint8_t(lead);
    for (int k = 1; k < width; k++) {
      int c = get();
      if (c < 0) return false;
      b[k] = uint8_t(c);
    }
  } else {
    intForm = (lead & 0x20) != 0;
    if (intForm) e = 4;
    const uint8_t fill = (lead & 0x10) ? 0xFF : 0x00;
    const int ll = (lead >> 2) & 3;
    const int rr = lead & 3;
    for (int k = 0; k < e; k++) b[k] = fill;
    for (int k = ll; k < e - rr; k++) {
      int c = get();
      if (c < 0) return false;
      b[k] = uint8_t(c);
    }
  }
  uint64_t bits = 0;
  for (int k = 0; k < e; k++) bits = (bits << 8) | b[k];
  if (width == 4) {
    *v4 = uint32_t(bits);
  } else if (intForm || e == 4) {
    *v8 = double(static_cast<int32_t>(static_cast<uint32_t>(bits)));
  } else {
    std::memcpy(v8, &bits, sizeof bits);
  }
  return true;
}

}  // namespace vario

// A width other than 4 or 8 is a programming error: the process stops.
[[noreturn]] inline void varioBadWidth() {
  std::fputs("VarioCode: assertion \"0\" failed (width must be 4 or 8)\n", stderr);
  std::abort();
}

// Byte-callback interface. `value` points to a uint32_t (width 4) or a
// double (width 8); any other width stops the process.
typedef void (*VarioPut)(int byte, void* context);
typedef int (*VarioGet)(void* context);  // next byte, or negative at the end
int VarioEnCode(const void* value, int width, VarioPut put, void* context);
const void* VarioDeCode(void* value, int width, VarioGet get, void* context);
