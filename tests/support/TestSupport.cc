#include "tests/support/TestSupport.hh"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace testsupport {

Image makeImage(int w, int h, int spp, int bps, unsigned stride, uint8_t pad)
{
  Image img;
  img.spp = spp;
  img.bps = bps;
  img.resize(w, h, stride);
  if (img.data)
    memset(img.data, pad, (size_t)img.stride() * h);
  const unsigned fill = img.stridefill();
  for (int y = 0; y < h; ++y)
    memset(img.data + (size_t)y * img.stride(), 0, fill);
  return img;
}

Image imageFromBytes(int w, int h, int spp, std::initializer_list<int> samples, unsigned stride)
{
  return imageFromSamples(w, h, spp, 8, std::vector<int>(samples), stride);
}

Image imageFromSamples(int w, int h, int spp, int bps, const std::vector<int>& samples,
                       unsigned stride)
{
  if ((int64_t)samples.size() != (int64_t)w * h * spp)
    throw std::invalid_argument("sample count does not match the geometry");
  Image img = makeImage(w, h, spp, bps, stride);
  size_t i = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < spp; ++c)
        setSampleAt(img, x, y, c, samples[i++]);
  return img;
}

Image uniform(int w, int h, int spp, int bps, int value)
{
  Image img = makeImage(w, h, spp, bps, 0);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < spp; ++c)
        setSampleAt(img, x, y, c, value);
  return img;
}

int sampleAt(const Image& image, int x, int y, int channel)
{
  const uint8_t* row = image.data + (size_t)y * image.stride();
  const int64_t index = (int64_t)x * image.spp + channel;
  switch (image.bps) {
  case 16: {
    uint16_t v;
    memcpy(&v, row + 2 * index, 2);
    return v;
  }
  case 8: return row[index];
  default: {
    const int64_t bit = index * image.bps;
    const int shift = 8 - image.bps - (int)(bit % 8);
    return (row[bit / 8] >> shift) & ((1 << image.bps) - 1);
  }
  }
}

void setSampleAt(Image& image, int x, int y, int channel, int value)
{
  uint8_t* row = image.data + (size_t)y * image.stride();
  const int64_t index = (int64_t)x * image.spp + channel;
  switch (image.bps) {
  case 16: {
    const uint16_t v = (uint16_t)value;
    memcpy(row + 2 * index, &v, 2);
  } break;
  case 8: row[index] = (uint8_t)value; break;
  default: {
    const int64_t bit = index * image.bps;
    const int shift = 8 - image.bps - (int)(bit % 8);
    const int mask = ((1 << image.bps) - 1) << shift;
    row[bit / 8] = (uint8_t)((row[bit / 8] & ~mask) | ((value << shift) & mask));
  }
  }
}

bool samePixels(const Image& a, const Image& b)
{
  if (a.w != b.w || a.h != b.h || a.spp != b.spp || a.bps != b.bps)
    return false;
  const uint8_t* pa = a.getRawData();
  const uint8_t* pb = b.getRawData();
  if (!pa || !pb)
    return pa == pb;
  for (int y = 0; y < a.h; ++y)
    for (int x = 0; x < a.w; ++x)
      for (int c = 0; c < a.spp; ++c)
        if (sampleAt(a, x, y, c) != sampleAt(b, x, y, c))
          return false;
  return true;
}

void fillPattern(Image& image, uint32_t seed)
{
  uint32_t s = seed * 2654435761u + 12345;
  const unsigned fill = image.stridefill();
  for (int y = 0; y < image.h; ++y) {
    uint8_t* row = image.data + (size_t)y * image.stride();
    for (unsigned i = 0; i < fill; ++i) {
      s = s * 1103515245u + 12345u;
      row[i] = (uint8_t)(s >> 16);
    }
  }
  // Clear the unused low bits of a sub-byte row's last byte.
  const int64_t bits = (int64_t)image.w * image.spp * image.bps;
  if (bits % 8)
    for (int y = 0; y < image.h; ++y)
      image.data[(size_t)y * image.stride() + fill - 1] &= (uint8_t)(0xff << (8 - bits % 8));
}

std::string typeName(const PixelType& t)
{
  const char* colour = t.spp == 1 ? "gray" : t.spp == 3 ? "rgb" : t.spp == 4 ? "rgba" : "?";
  return colour + std::to_string(t.bps);
}

Image patterned(int w, int h, const PixelType& t, uint32_t seed, unsigned padding)
{
  Image probe;
  probe.spp = t.spp;
  probe.bps = t.bps;
  probe.w = w;
  Image im = makeImage(w, h, t.spp, t.bps, padding ? probe.stridefill() + padding : 0);
  fillPattern(im, seed);
  return im;
}

Image::iterator whiteBackground(Image& image)
{
  Image::iterator it(&image, false);
  const int max = image.bps == 16 ? 65535 : 255;
  for (int i = 0; i < 4; ++i)
    it.value[i] = max;
  it.value[3] = 255;
  return it;
}

std::vector<int> samplesOf(const Image& image)
{
  std::vector<int> s;
  for (int y = 0; y < image.h; ++y)
    for (int x = 0; x < image.w; ++x)
      for (int c = 0; c < image.spp; ++c)
        s.push_back(sampleAt(image, x, y, c));
  return s;
}

std::vector<int> pixelAt(const Image& image, int x, int y)
{
  std::vector<int> r;
  for (int c = 0; c < image.spp; ++c)
    r.push_back(sampleAt(image, x, y, c));
  return r;
}

bool encodePNM(const Image& image, std::string& out)
{
  const uint8_t* p = image.getRawData();
  if (!p || image.w <= 0 || image.h <= 0)
    return false;
  std::ostringstream os;
  if (image.spp == 1 && image.bps == 1) {
    os << "P4\n" << image.w << " " << image.h << "\n";
    std::string s = os.str();
    const unsigned fill = image.stridefill();
    for (int y = 0; y < image.h; ++y)
      for (unsigned i = 0; i < fill; ++i)
        s.push_back((char)~p[(size_t)y * image.stride() + i]); // PBM: 1 = black
    out = s;
    return true;
  }
  if ((image.spp != 1 && image.spp != 3) || (image.bps != 8 && image.bps != 16))
    return false;
  os << (image.spp == 1 ? "P5" : "P6") << "\n" << image.w << " " << image.h << "\n"
     << (image.bps == 8 ? 255 : 65535) << "\n";
  std::string s = os.str();
  for (int y = 0; y < image.h; ++y)
    for (int x = 0; x < image.w; ++x)
      for (int c = 0; c < image.spp; ++c) {
        const int v = sampleAt(image, x, y, c);
        if (image.bps == 16)
          s.push_back((char)(v >> 8));
        s.push_back((char)(v & 0xff));
      }
  out = s;
  return true;
}

static bool pnmToken(const std::string& in, size_t& pos, long& value)
{
  while (pos < in.size()) {
    if (in[pos] == '#') {
      while (pos < in.size() && in[pos] != '\n')
        ++pos;
    } else if (isspace((unsigned char)in[pos])) {
      ++pos;
    } else {
      break;
    }
  }
  if (pos >= in.size() || !isdigit((unsigned char)in[pos]))
    return false;
  value = 0;
  while (pos < in.size() && isdigit((unsigned char)in[pos])) {
    value = value * 10 + (in[pos++] - '0');
    if (value > 1000000)
      return false;
  }
  return true;
}

bool decodePNM(Image& image, const std::string& in)
{
  if (in.size() < 2 || in[0] != 'P')
    return false;
  const char kind = in[1];
  if (kind != '4' && kind != '5' && kind != '6')
    return false;
  size_t pos = 2;
  long w, h, maxval = 1;
  if (!pnmToken(in, pos, w) || !pnmToken(in, pos, h))
    return false;
  if (kind != '4' && !pnmToken(in, pos, maxval))
    return false;
  if (pos >= in.size() || w <= 0 || h <= 0 || maxval <= 0 || maxval > 65535)
    return false;
  ++pos; // the single whitespace after the header
  Image img;
  img.spp = kind == '6' ? 3 : 1;
  img.bps = kind == '4' ? 1 : (maxval > 255 ? 16 : 8);
  img.resize((int)w, (int)h);
  const unsigned fill = img.stridefill();
  if (kind == '4') {
    if (in.size() - pos < (size_t)fill * h)
      return false;
    for (long y = 0; y < h; ++y)
      for (unsigned i = 0; i < fill; ++i)
        img.data[y * fill + i] = (uint8_t)~in[pos + y * fill + i];
  } else {
    const size_t bytes = (size_t)w * h * img.spp * (img.bps / 8);
    if (in.size() - pos < bytes)
      return false;
    for (long y = 0; y < h; ++y)
      for (long x = 0; x < w; ++x)
        for (int c = 0; c < img.spp; ++c) {
          int v = (uint8_t)in[pos++];
          if (img.bps == 16)
            v = (v << 8) | (uint8_t)in[pos++];
          setSampleAt(img, (int)x, (int)y, c, v);
        }
  }
  image = img;
  return true;
}

bool writePNM(const Image& image, const std::string& path)
{
  std::string s;
  return encodePNM(image, s) && writeFile(path, s);
}

bool readPNM(Image& image, const std::string& path)
{
  std::ifstream f(path, std::ios::binary);
  if (!f)
    return false;
  std::stringstream ss;
  ss << f.rdbuf();
  return decodePNM(image, ss.str());
}

} // namespace testsupport
