// What zbarimg reads, in the reader's terms: the peer the barcode tests
// check against.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "bardecode/bardecode.hh"
#include "tests/support/TestSupport.hh"

namespace bartest {

using BarDecode::scanner_result_t;

inline std::string base64(const std::string& in)
{
  std::string out;
  uint32_t acc = 0;
  int bits = 0;
  for (char c : in) {
    int v;
    if (c >= 'A' && c <= 'Z') v = c - 'A';
    else if (c >= 'a' && c <= 'z') v = c - 'a' + 26;
    else if (c >= '0' && c <= '9') v = c - '0' + 52;
    else if (c == '+') v = 62;
    else if (c == '/') v = 63;
    else continue;
    acc = (acc << 6) | (uint32_t)v;
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += (char)((acc >> bits) & 0xFF);
    }
  }
  return out;
}

inline std::string attribute(const std::string& tag, const std::string& name)
{
  const size_t a = tag.find(name + "='");
  if (a == std::string::npos)
    return "";
  const size_t b = a + name.size() + 2;
  return tag.substr(b, tag.find('\'', b) - b);
}

// zbarimg's symbols in our terms: EAN check digits dropped, an EAN-13
// with a leading 0 is a UPC-A, GS1 marks a leading FNC1.
inline scanner_result_t fromZbar(const std::string& symbol)
{
  const std::string type = attribute(symbol, "type");
  const size_t c = symbol.find("<![CDATA[") + 9;
  std::string text = symbol.substr(c, symbol.find("]]>", c) - c);
  if (attribute(symbol, "format") == "base64")
    text = base64(text);
  scanner_result_t r;
  r.valid = true;
  r.code = text;
  if (type == "EAN-8" || type == "EAN-13") {
    r.code.pop_back();
    r.type = type == "EAN-8" ? BarDecode::ean8 : BarDecode::ean13;
    if (type == "EAN-13" && r.code[0] == '0') {
      r.type = BarDecode::upca;
      r.code.erase(0, 1);
    }
  } else if (type == "CODE-128") {
    r.type = attribute(symbol, "modifiers") == "GS1" ? BarDecode::gs1_128 : BarDecode::code128;
  } else if (type == "CODE-39") {
    r.type = BarDecode::code39;
  } else if (type == "I2/5") {
    r.type = BarDecode::code25i;
  }
  return r;
}

// Symbols per file from one zbarimg --xml run.
inline std::map<std::string, std::vector<scanner_result_t>>
zbarRead(const std::string& zbarimg, const std::string& dir, const std::vector<std::string>& files)
{
  std::string cmd = "cd '" + dir + "' && '" + zbarimg + "' --xml -q";
  for (const auto& f : files)
    cmd += " " + f;
  cmd += " 2>/dev/null";
  std::string out;
  testsupport::run(cmd, &out);
  std::map<std::string, std::vector<scanner_result_t>> found;
  size_t pos = 0;
  while ((pos = out.find("<source href='", pos)) != std::string::npos) {
    const size_t end = out.find("</source>", pos);
    const std::string source = out.substr(pos, end - pos);
    auto& list = found[attribute(source, "href")];
    size_t s = 0;
    while ((s = source.find("<symbol ", s)) != std::string::npos) {
      const size_t e = source.find("</symbol>", s);
      list.push_back(fromZbar(source.substr(s, e - s)));
      s = e;
    }
    pos = end;
  }
  return found;
}


} // namespace bartest
