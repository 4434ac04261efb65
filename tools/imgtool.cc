// Command-line access to the codec registry for tests and by hand:
//   imgtool read FILE [index] > out.pnm
//   imgtool info FILE [index]          w h spp bps resX resY decoder result
//   imgtool pages FILE                 the read result at index 0
//   imgtool write IN.pnm OUT [-q quality] [-c compress] [-r dpi]
// Its PNM reader and writer (tools/PNM.hh) are independent of the codecs,
// so a codec is never checked only against itself.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "codecs/Codecs.hh"
#include "image/Image.hh"
#include "tools/PNM.hh"

static int usage()
{
  std::cerr << "usage: imgtool read FILE [index] | info FILE [index] | pages FILE |\n"
               "       write IN.pnm OUT [-q quality] [-c compress] [-r dpi]"
            << std::endl;
  return 2;
}

int main(int argc, char** argv)
{
  if (argc < 3)
    return usage();
  const std::string cmd = argv[1];
  if (cmd == "read" || cmd == "info" || cmd == "pages") {
    Image img;
    const int index = argc > 3 ? atoi(argv[3]) : 0;
    const int res = ImageCodec::Read(argv[2], img, "", index);
    if (res == 0 && !ImageCodec::readFailure().empty())
      std::cerr << argv[2] << ": " << ImageCodec::readFailure() << std::endl;
    if (cmd == "pages") {
      std::cout << res << std::endl;
      return res != 0 ? 0 : 1;
    }
    if (res == 0)
      return 1;
    if (cmd == "info") {
      img.getRawData();
      std::cout << img.w << " " << img.h << " " << (int)img.spp << " " << (int)img.bps << " "
                << img.resX << " " << img.resY << " " << img.getDecoderID() << " " << res
                << std::endl;
      return 0;
    }
    return pnm::write(img, std::cout) ? 0 : 1;
  }
  if (cmd == "write" && argc >= 4) {
    int quality = 75, dpi = 0;
    std::string compress;
    for (int i = 4; i + 1 < argc; i += 2) {
      const std::string opt = argv[i];
      if (opt == "-q") quality = atoi(argv[i + 1]);
      else if (opt == "-c") compress = argv[i + 1];
      else if (opt == "-r") dpi = atoi(argv[i + 1]);
      else return usage();
    }
    Image img;
    std::ifstream in(argv[2], std::ios::binary);
    if (!in || !pnm::read(img, in)) {
      std::cerr << "imgtool: cannot read " << argv[2] << std::endl;
      return 1;
    }
    img.setResolution(dpi, dpi);
    return ImageCodec::Write(argv[3], img, quality, compress) ? 0 : 1;
  }
  return usage();
}
