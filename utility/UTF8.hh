// UTF-8 coding of text: the PDF writer's text, hOCR words, glyph runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

const uint32_t kReplacementCharacter = 0xFFFD;

// Code points of n bytes of UTF-8. A byte that starts no well-formed
// sequence (a stray continuation byte, an overlong form, a surrogate, a
// value past U+10FFFF), or the start of a sequence cut short, becomes one
// U+FFFD, and decoding goes on with the next byte, whatever it is. Nothing
// is printed: `malformed`, when given, is increased by the number of bytes
// replaced, for the caller to say once.
std::vector<uint32_t> DecodeUtf8(const char* text, size_t n, size_t* malformed = nullptr);
// Replaces the malformed bytes of text as DecodeUtf8 does; returns their
// number (0: text is good UTF-8 and unchanged).
size_t RepairUtf8(std::string& text);
// One code point; beyond U+10FFFF it is reported and nothing is written.
void EncodeUtf8(std::ostream& s, unsigned int codePoint);
std::string EncodeUtf8(const std::vector<uint32_t>& codePoints);
