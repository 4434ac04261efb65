// UTF-8 to code points and back. Malformed input is reported on stderr
// and decoded as far as it goes; nothing past the given length is read.
#include "utility/UTF8.hh"

#include <iostream>
#include <sstream>

std::vector<uint32_t> DecodeUtf8(const char* text, size_t n)
{
  std::vector<uint32_t> out;
  out.reserve(n);
  for (size_t i = 0; i < n;) {
    const unsigned char c = (unsigned char)text[i++];
    if (c < 128) {
      out.push_back(c);
      continue;
    }
    int count = 0;
    while (count < 8 && (c & (0x80 >> count)))
      ++count;
    if (count < 2 || count > 4)
      std::cerr << "invalid utf-8 count: " << count << std::string(text, n) << std::endl;
    uint32_t value = c & (0xFF >> count);
    // A sequence cut off by the end keeps what it has; nothing past n is read.
    for (int k = 1; k < count && i < n; ++k) {
      const unsigned char b = (unsigned char)text[i++];
      if ((b & 0xC0) != 0x80)
        std::cerr << "incorrect utf-8 multi-byte mark: " << std::string(text, n) << std::endl;
      value = value * 64 + (b & 63);
    }
    out.push_back(value);
  }
  return out;
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
