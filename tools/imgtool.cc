// Command-line access to the codec registry for tests and by hand:
//   imgtool read FILE [index] > out.pnm
//   imgtool info FILE [index]          w h spp bps resX resY decoder result
//   imgtool pages FILE                 the page count
//   imgtool write IN.pnm OUT [-q quality] [-c compress] [-r dpi]
// Its PNM reader and writer (tools/PNM.hh) are independent of the codecs,
// so a codec is never checked only against itself.
#include <cerrno>
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

namespace {

// One line on why FILE was not read: the reader's own reason when one
// recognised it, else what the system says of the file, else that no
// reader knows it.
int readFailed(const std::string& file, int index)
{
  std::string why = ImageCodec::readFailure();
  if (why.empty() && index != 0) {
    Image first;
    const long long pages = std::llabs((long long)ImageCodec::Read(file, first, "count", 0));
    if (pages > 0)
      why = "there is no page " + std::to_string(index) + " (it has " + std::to_string(pages) +
            (pages == 1 ? " page, counted from 0)" : " pages, counted from 0)");
  }
  if (why.empty()) {
    std::string name = file;
    ImageCodec::getCodec(name);
    std::ifstream probe;
    if (name != "-")
      probe.open(name, std::ios::binary);
    why = name != "-" && !probe ? std::strerror(errno)
                                : "not an image file this system reads";
  }
  std::cerr << "imgtool: cannot read " << file << ": " << why << std::endl;
  return 1;
}

} // namespace

int main(int argc, char** argv)
{
  if (argc < 3)
    return usage();
  const std::string cmd = argv[1];
  if (cmd == "read" || cmd == "info" || cmd == "pages") {
    Image img;
    const int index = argc > 3 ? atoi(argv[3]) : 0;
    // Counting reads no page.
    const int res = ImageCodec::Read(argv[2], img, cmd == "pages" ? "count" : "", index);
    if (res == 0)
      return readFailed(argv[2], index);
    if (cmd == "pages") {
      std::cout << (res < 0 ? -(long long)res : res) << std::endl;
      return 0;
    }
    if (cmd == "info") {
      img.getRawData();
      std::cout << img.w << " " << img.h << " " << (int)img.spp << " " << (int)img.bps << " "
                << img.resX << " " << img.resY << " " << img.getDecoderID() << " " << res
                << std::endl;
      return 0;
    }
    if (pnm::write(img, std::cout))
      return 0;
    std::cerr << "imgtool: cannot write " << argv[2] << " as PNM: "
              << (!img.getRawData() || img.w <= 0 || img.h <= 0 ? "no pixels could be decoded"
                                                                  : "the output failed")
              << std::endl;
    return 1;
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
      std::cerr << "imgtool: cannot read " << argv[2] << ": "
                << (!in ? std::strerror(errno) : "not a PNM file") << std::endl;
      return 1;
    }
    img.setResolution(dpi, dpi);
    if (!ImageCodec::canWrite(argv[3])) {
      std::cerr << "imgtool: cannot write " << argv[3] << ": no image format by that name"
                << std::endl;
      return 1;
    }
    errno = 0;
    if (ImageCodec::Write(argv[3], img, quality, compress))
      return 0;
    std::cerr << "imgtool: cannot write " << argv[3] << ": "
              << (errno != 0 ? std::strerror(errno) : "the format cannot hold this image")
              << std::endl;
    return 1;
  }
  return usage();
}
