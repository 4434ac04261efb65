// Reads the barcodes of a PNM image and prints one line per symbol:
// type <TAB> text <TAB> x <TAB> y. Control characters, backslash and DEL in
// the text are written as \xNN so that every line stays one line.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bardecode/read_barcodes.hh"
#include "image/Image.hh"
#include "tools/PNM.hh"

namespace {

const char* const kTypes[] = {"ean", "code128", "code39", "code25", "any"};

int usage()
{
  fprintf(stderr, "usage: bartool FILE [--types ean|code128|code39|code25|any] [--lines N] "
                  "[--skip N] [--directions N]\n");
  return 2;
}

bool knownTypes(const std::string& word)
{
  for (const char* t : kTypes)
    if (word == t)
      return true;
  return false;
}

bool number(const char* s, int& out)
{
  char* end = nullptr;
  const long v = strtol(s, &end, 10);
  if (!*s || *end || v < -2147483647L || v > 2147483647L)
    return false;
  out = (int)v;
  return true;
}

} // namespace

int main(int argc, char** argv)
{
  if (argc < 2)
    return usage();
  std::string types = "any";
  int lines = 3, skip = 8, directions = 15;
  for (int i = 2; i < argc; ++i) {
    const char* opt = argv[i];
    if (i + 1 >= argc)
      return usage();
    const char* val = argv[++i];
    if (!strcmp(opt, "--types"))
      types = val;
    else if (!(!strcmp(opt, "--lines") && number(val, lines)) &&
             !(!strcmp(opt, "--skip") && number(val, skip)) &&
             !(!strcmp(opt, "--directions") && number(val, directions)))
      return usage();
  }
  // A mistyped word would read as "no barcode here".
  if (!knownTypes(types)) {
    fprintf(stderr, "bartool: unknown barcode type '%s' (ean, code128, code39, code25 or any)\n",
            types.c_str());
    return 2;
  }
  Image image;
  if (!pnm::read(image, std::string(argv[1]))) {
    fprintf(stderr, "bartool: cannot read %s\n", argv[1]);
    return 1;
  }
  const unsigned mask = BarDecode::bardecode_types(types);
  for (const auto& r :
       BarDecode::read_barcodes(image, mask, 150, lines, skip, (unsigned)directions)) {
    std::string text;
    for (unsigned char c : r.code) {
      if (c < 32 || c == 127 || c == '\\') {
        char buf[8];
        snprintf(buf, sizeof buf, "\\x%02x", c);
        text += buf;
      } else {
        text += (char)c;
      }
    }
    printf("%s\t%s\t%d\t%d\n", BarDecode::bartype2string(r.type), text.c_str(), r.x, r.y);
  }
  return 0;
}
