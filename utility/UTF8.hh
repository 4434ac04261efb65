// UTF-8 coding of text: the PDF writer's text, hOCR words, glyph runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

// Code points of n bytes of UTF-8. A bad lead or continuation byte is
// reported on stderr and its bits are taken as they are.
std::vector<uint32_t> DecodeUtf8(const char* text, size_t n);
// One code point; beyond U+10FFFF it is reported and nothing is written.
void EncodeUtf8(std::ostream& s, unsigned int codePoint);
std::string EncodeUtf8(const std::vector<uint32_t>& codePoints);
