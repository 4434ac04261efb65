// UTF-8 to code points and back. Malformed input is decoded byte by byte
// into replacement characters; nothing past the given length is read.
#include "utility/UTF8.hh"

#include <iostream>
#include <sstream>

namespace {

// The bytes that the sequence at text[i] takes: its whole length when it
// is well formed (lead bytes C2..F4, the second byte's range narrowed after
// E0, ED, F0 and F4, so that neither overlong forms, surrogates nor values
// past U+10FFFF pass), else the length of its longest well-formed start
// (at least the lead byte), with `wellFormed` false.
size_t sequenceLength(const unsigned char* text, size_t i, size_t n, bool& wellFormed)
{
  wellFormed = false;
  const unsigned char c = text[i];
  size_t length;
  unsigned char low = 0x80, high = 0xBF; // range of the second byte
  if (c >= 0xC2 && c <= 0xDF) {
    length = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    length = 3;
    if (c == 0xE0)
      low = 0xA0;
    else if (c == 0xED)
      high = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    length = 4;
    if (c == 0xF0)
      low = 0x90;
    else if (c == 0xF4)
      high = 0x8F;
  } else {
    return 1;
  }
  for (size_t k = 1; k < length; ++k) {
    if (i + k >= n)
      return k;
    const unsigned char b = text[i + k];
    if (k == 1 ? (b < low || b > high) : (b & 0xC0) != 0x80)
      return k;
  }
  wellFormed = true;
  return length;
}

} // namespace

std::vector<uint32_t> DecodeUtf8(const char* text, size_t n, size_t* malformed)
{
  const unsigned char* t = reinterpret_cast<const unsigned char*>(text);
  std::vector<uint32_t> out;
  out.reserve(n);
  size_t bad = 0;
  for (size_t i = 0; i < n;) {
    const unsigned char c = t[i];
    if (c < 0x80) {
      out.push_back(c);
      ++i;
      continue;
    }
    bool wellFormed;
    const size_t length = sequenceLength(t, i, n, wellFormed);
    if (!wellFormed) {
      // One replacement for the bad byte, or for the start of a sequence
      // cut short; decoding goes on with the byte after it, whatever it is.
      out.push_back(kReplacementCharacter);
      bad += length;
      i += length;
      continue;
    }
    uint32_t value = c & (0xFF >> (length + 1));
    for (size_t k = 1; k < length; ++k)
      value = value * 64 + (t[i + k] & 63);
    out.push_back(value);
    i += length;
  }
  if (malformed)
    *malformed += bad;
  return out;
}

size_t RepairUtf8(std::string& text)
{
  size_t bad = 0;
  const std::vector<uint32_t> codePoints = DecodeUtf8(text.data(), text.size(), &bad);
  if (bad > 0)
    text = EncodeUtf8(codePoints);
  return bad;
}

void EncodeUtf8(std::ostream& s, unsigned int c)
{
  if (c < 0x80) {
    s.put((char)c);
  } else if (c < 0x800) {
    s.put((char)(0xC0 | c >> 6));
    s.put((char)(0x80 | (c & 63)));
  } else if (c < 0x10000) {
    s.put((char)(0xE0 | c >> 12));
    s.put((char)(0x80 | (c >> 6 & 63)));
    s.put((char)(0x80 | (c & 63)));
  } else if (c <= 0x10FFFF) {
    s.put((char)(0xF0 | c >> 18));
    s.put((char)(0x80 | (c >> 12 & 63)));
    s.put((char)(0x80 | (c >> 6 & 63)));
    s.put((char)(0x80 | (c & 63)));
  } else {
    std::cerr << "invalid glyph_code: " << c << std::endl;
  }
}

std::string EncodeUtf8(const std::vector<uint32_t>& codePoints)
{
  std::ostringstream s;
  for (uint32_t c : codePoints)
    EncodeUtf8(s, c);
  return s.str();
}
