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
#include "tests/support/TestSupport.hh"

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
    if (!testsupport::readPNM(image, args[1])) {
      fprintf(stderr, "cannot read %s\n", args[1].c_str());
      return 2;
    }
  } else {
    std::vector<long> v;
    long x;
    while (std::cin >> x)
      v.push_back(x);
    const int n = (int)(v.size() / 3);
    image = testsupport::makeImage(n, 1, 3, wide ? 16 : 8);
    for (int i = 0; i < n; ++i)
      for (int c = 0; c < 3; ++c)
        testsupport::setSampleAt(image, i, 0, c, (int)v[3 * i + c]);
  }
  const bool ok = general ? applyICCGeneral(image, profile) : applyICC(image, profile);
  if (args.size() == 3) {
    if (!testsupport::writePNM(image, args[2])) {
      fprintf(stderr, "cannot write %s\n", args[2].c_str());
      return 2;
    }
  } else {
    for (int i = 0; i < image.w; ++i)
      printf("%d %d %d\n", testsupport::sampleAt(image, i, 0, 0), testsupport::sampleAt(image, i, 0, 1),
             testsupport::sampleAt(image, i, 0, 2));
  }
  return ok ? 0 : 1;
}
