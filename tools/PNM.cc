#include "tools/PNM.hh"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace pnm {

bool write(const Image& img, std::ostream& out)
{
  const uint8_t* data = img.getRawData();
  if (!data || img.w <= 0 || img.h <= 0)
    return false;
  const unsigned stride = img.stride();
  const unsigned fill = img.stridefill();
  const int maxval = img.bps == 16 ? 65535 : (1 << img.bps) - 1;
  if (img.spp == 1 && img.bps == 1) {
    out << "P4\n" << img.w << " " << img.h << "\n";
    std::string row(fill, 0);
    for (int y = 0; y < img.h; ++y) {
      // PBM's 1 is black.
      for (unsigned i = 0; i < fill; ++i)
        row[i] = (char)~data[(size_t)y * stride + i];
      out.write(row.data(), fill);
    }
    return bool(out);
  }
  if (img.spp == 1 || img.spp == 3)
    out << (img.spp == 1 ? "P5\n" : "P6\n") << img.w << " " << img.h << "\n" << maxval << "\n";
  else if (img.spp == 2 || img.spp == 4)
    out << "P7\nWIDTH " << img.w << "\nHEIGHT " << img.h << "\nDEPTH " << (int)img.spp
        << "\nMAXVAL " << maxval << "\nTUPLTYPE "
        << (img.spp == 2 ? "GRAYSCALE_ALPHA" : "RGB_ALPHA") << "\nENDHDR\n";
  else
    return false;
  for (int y = 0; y < img.h; ++y) {
    const uint8_t* row = data + (size_t)y * stride;
    if (img.bps == 8) {
      out.write((const char*)row, fill);
    } else if (img.bps == 16) {
      for (unsigned i = 0; i < fill; i += 2) {
        uint16_t v;
        memcpy(&v, row + i, 2);
        out.put((char)(v >> 8)).put((char)(v & 0xff));
      }
    } else {
      for (int x = 0; x < img.w; ++x) {
        const int bit = x * img.bps;
        out.put((char)((row[bit / 8] >> (8 - img.bps - bit % 8)) & maxval));
      }
    }
  }
  return bool(out);
}

static bool token(std::istream& in, std::string& tok)
{
  tok.clear();
  int c;
  while ((c = in.get()) != EOF) {
    if (c == '#') {
      while ((c = in.get()) != EOF && c != '\n') {
      }
    } else if (!isspace(c)) {
      tok += (char)c;
      break;
    }
  }
  while ((c = in.peek()) != EOF && !isspace(c))
    tok += (char)in.get();
  return !tok.empty();
}

bool read(Image& img, std::istream& in)
{
  std::string magic, tok;
  if (!token(in, magic))
    return false;
  long w = 0, h = 0, maxval = 1, depth = 1;
  if (magic == "P7") {
    while (token(in, tok) && tok != "ENDHDR") {
      std::string v;
      if (tok == "TUPLTYPE") {
        token(in, v);
        continue;
      }
      if (!token(in, v))
        return false;
      const long n = atol(v.c_str());
      if (tok == "WIDTH") w = n;
      else if (tok == "HEIGHT") h = n;
      else if (tok == "DEPTH") depth = n;
      else if (tok == "MAXVAL") maxval = n;
    }
  } else if (magic == "P4" || magic == "P5" || magic == "P6") {
    if (!token(in, tok)) return false;
    w = atol(tok.c_str());
    if (!token(in, tok)) return false;
    h = atol(tok.c_str());
    if (magic != "P4") {
      if (!token(in, tok)) return false;
      maxval = atol(tok.c_str());
    }
    depth = magic == "P6" ? 3 : 1;
  } else {
    return false;
  }
  in.get(); // the single white-space byte before the samples
  if (w <= 0 || h <= 0 || w > 1 << 20 || h > 1 << 20 || depth < 1 || depth > 4)
    return false;
  int bps;
  switch (maxval) {
  case 1: bps = 1; break;
  case 3: bps = 2; break;
  case 15: bps = 4; break;
  case 255: bps = 8; break;
  case 65535: bps = 16; break;
  default: return false;
  }
  if (bps < 8 && depth != 1)
    return false;
  img.bps = bps;
  img.spp = depth;
  img.resize(w, h);
  const unsigned fill = img.stridefill();
  for (long y = 0; y < h; ++y) {
    uint8_t* row = img.data + (size_t)y * fill;
    if (magic == "P4") {
      in.read((char*)row, fill);
      for (unsigned i = 0; i < fill; ++i)
        row[i] = ~row[i];
    } else if (bps == 8) {
      in.read((char*)row, fill);
    } else if (bps == 16) {
      for (unsigned i = 0; i < fill; i += 2) {
        const int hi = in.get(), lo = in.get();
        const uint16_t v = (uint16_t)((hi << 8) | (lo & 0xff));
        memcpy(row + i, &v, 2);
      }
    } else {
      memset(row, 0, fill);
      for (long x = 0; x < w; ++x) {
        const int bit = x * bps;
        row[bit / 8] |= (uint8_t)((in.get() & maxval) << (8 - bps - bit % 8));
      }
    }
  }
  return bool(in);
}

bool write(const Image& image, const std::string& path)
{
  std::ofstream out(path, std::ios::binary);
  return out && write(image, out) && bool(out.flush());
}

bool read(Image& image, const std::string& path)
{
  std::ifstream in(path, std::ios::binary);
  return in && read(image, in);
}

} // namespace pnm
