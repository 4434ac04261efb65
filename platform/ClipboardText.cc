#include "platform/ClipboardText.hh"

#include <cstddef>
#include <cstdint>

namespace platform::x11 {

namespace {

// Length of the well-formed UTF-8 sequence at s[i] (shortest form, no
// surrogates, at most U+10FFFF) and its code point; 0 when there is none.
size_t sequenceAt(const std::string& s, size_t i, uint32_t& cp)
{
  const unsigned char c = (unsigned char)s[i];
  if (c < 0x80) {
    cp = c;
    return 1;
  }
  size_t n;
  uint32_t min;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2, min = 0x80, cp = c & 0x1Fu;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3, min = 0x800, cp = c & 0x0Fu;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4, min = 0x10000, cp = c & 0x07u;
  } else {
    return 0;
  }
  if (s.size() - i < n)
    return 0;
  for (size_t k = 1; k < n; ++k) {
    const unsigned char t = (unsigned char)s[i + k];
    if ((t & 0xC0) != 0x80)
      return 0;
    cp = (cp << 6) | (t & 0x3Fu);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
    return 0;
  return n;
}

} // namespace

std::string toLatin1(const std::string& utf8)
{
  std::string latin1;
  latin1.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    uint32_t cp = 0;
    const size_t n = sequenceAt(utf8, i, cp);
    latin1 += n > 0 && cp < 0x100 ? (char)cp : '?';
    i += n > 0 ? n : 1;
  }
  return latin1;
}

std::string fromLatin1(const std::string& latin1)
{
  std::string out;
  out.reserve(latin1.size());
  for (unsigned char c : latin1) {
    if (c < 0x80) {
      out += (char)c;
    } else {
      out += (char)(0xC0 | (c >> 6));
      out += (char)(0x80 | (c & 0x3F));
    }
  }
  return out;
}

bool isUtf8(const std::string& bytes)
{
  for (size_t i = 0; i < bytes.size();) {
    uint32_t cp = 0;
    const size_t n = sequenceAt(bytes, i, cp);
    if (n == 0)
      return false;
    i += n;
  }
  return true;
}

} // namespace platform::x11
