// icctool PROFILE [-16] [-general]          "r g b" lines on stdin -> converted triples
// icctool PROFILE [-general] IN.pnm OUT.pnm  converts a PNM image
// Converts to sRGB with applyICC; the parse trace goes to standard error.
// With -16 the triples are 16-bit; -general skips the 8-bit fast paths.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "color/ColorManagement.hh"
#include "color/ICC.hh"
#include "image/Image.hh"
#include "tools/PNM.hh"

// Sample i of a one-row 8- or 16-bit image (16-bit in host order).
static int sample(const Image& image, int i)
{
  const uint8_t* row = image.getRawData();
  if (image.bps == 8)
    return row[i];
  uint16_t v;
  memcpy(&v, row + 2 * i, 2);
  return v;
}

static void setSample(Image& image, int i, long value)
{
  if (image.bps == 8) {
    image.data[i] = (uint8_t)value;
  } else {
    const uint16_t v = (uint16_t)value;
    memcpy(image.data + 2 * i, &v, 2);
  }
}

int main(int argc, char** argv)
{
  std::vector<std::string> args;
  bool wide = false, general = false;
  for (int i = 1; i < argc; ++i) {
    if (!strcmp(argv[i], "-16"))
      wide = true;
    else if (!strcmp(argv[i], "-general"))
      general = true;
    else
      args.push_back(argv[i]);
  }
  if (args.size() != 1 && args.size() != 3) {
    fprintf(stderr, "usage: icctool PROFILE [-16] [-general] [IN.pnm OUT.pnm]\n");
    return 2;
  }
  std::ifstream f(args[0], std::ios::binary);
  if (!f) {
    fprintf(stderr, "cannot open %s\n", args[0].c_str());
    return 2;
  }
  std::stringstream profile;
  profile << f.rdbuf();

  Image image;
  if (args.size() == 3) {
    if (!pnm::read(image, args[1])) {
      fprintf(stderr, "cannot read %s\n", args[1].c_str());
      return 2;
    }
  } else {
    std::vector<long> v;
    long x;
    while (std::cin >> x)
      v.push_back(x);
    const int n = (int)(v.size() / 3);
    image.spp = 3;
    image.bps = wide ? 16 : 8;
    image.resize(n, 1);
    for (int i = 0; i < 3 * n; ++i)
      setSample(image, i, v[i]);
  }
  const bool ok = general ? applyICCGeneral(image, profile) : applyICC(image, profile);
  if (args.size() == 3) {
    if (!pnm::write(image, args[2])) {
      fprintf(stderr, "cannot write %s\n", args[2].c_str());
      return 2;
    }
  } else {
    for (int i = 0; i < image.w; ++i)
      printf("%d %d %d\n", sample(image, 3 * i), sample(image, 3 * i + 1), sample(image, 3 * i + 2));
  }
  return ok ? 0 : 1;
}
