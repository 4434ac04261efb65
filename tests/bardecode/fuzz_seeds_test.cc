// The barcode fuzz target's seeds (fuzz/corpus/barcode, listed with their
// texts in fuzz/barcode-seeds.txt) are symbols the reader reads: each seed
// through the target's own input reading gives its one value, every
// symbology is there in all four directions, and zbarimg reads the same.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <set>

#include "bardecode/read_barcodes.hh"
#include "fuzz/barcode_input.hh"
#include "image/Colorspace.hh"
#include "symbols.hh"
#include "zbar.hh"

using namespace BarDecode;

namespace {

struct Seed {
  std::string name, family, text;
  std::string bytes;
};

std::vector<Seed> seeds()
{
  std::vector<Seed> out;
  const std::string dir = testsupport::sourceDir() + "/fuzz/";
  std::ifstream list(dir + "barcode-seeds.txt");
  std::string line;
  while (std::getline(list, line)) {
    if (line.empty() || line[0] == '#')
      continue;
    const size_t a = line.find('\t'), b = line.find('\t', a + 1);
    Seed s{line.substr(0, a), line.substr(a + 1, b - a - 1), bartest::unescape(line.substr(b + 1)), ""};
    std::ifstream f(dir + "corpus/barcode/" + s.name, std::ios::binary);
    s.bytes.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    out.push_back(s);
  }
  return out;
}

bool inputOf(const Seed& s, fuzz::BarcodeInput& in)
{
  return fuzz::barcodeInput(reinterpret_cast<const uint8_t*>(s.bytes.data()), s.bytes.size(), in);
}

} // namespace

TEST(BarcodeSeeds, ReadTheirValues)
{
  const auto all = seeds();
  ASSERT_GE(all.size(), 28u);
  // every seed is listed, so none goes unchecked
  std::set<std::string> files, listed;
  if (DIR* d = opendir((testsupport::sourceDir() + "/fuzz/corpus/barcode").c_str())) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.')
        files.insert(e->d_name);
    closedir(d);
  }
  for (const Seed& s : all)
    listed.insert(s.name);
  EXPECT_EQ(files, listed);
  std::map<std::string, unsigned> directions; // per symbology, the directions of its seeds
  for (const Seed& s : all) {
    ASSERT_FALSE(s.bytes.empty()) << s.name << ": no such seed";
    fuzz::BarcodeInput in;
    ASSERT_TRUE(inputOf(s, in)) << s.name;
    const auto hits = read_barcodes(in.image, in.types, in.threshold, in.concurrentLines,
                                    in.lineSkip, in.directions);
    EXPECT_EQ(hits.size(), 1u) << s.name;
    if (hits.size() != 1)
      continue;
    EXPECT_EQ(hits[0].type, bartest::familyType(s.family)) << s.name;
    EXPECT_EQ(hits[0].code, s.text) << s.name;
    directions[s.family] |= in.directions;
  }
  for (const char* family : {"ean8", "ean13", "upca", "code128", "gs1_128", "code39", "code25"})
    EXPECT_EQ(directions[family], unsigned(any_direction)) << family;
}

TEST(BarcodeSeeds, ZbarReadsTheSame)
{
  REQUIRE_TOOL(zbarimg, "zbarimg");
  testsupport::TempDir tmp;
  std::vector<std::string> files;
  std::map<std::string, const Seed*> byFile;
  const auto all = seeds();
  for (const Seed& s : all) {
    fuzz::BarcodeInput in;
    ASSERT_TRUE(inputOf(s, in)) << s.name;
    if (in.image.bps == 4) { // PNM has no 4-bit gray
      ASSERT_TRUE(colorspace_by_name(in.image, "gray")) << s.name;
    }
    const std::string file = s.name + ".pnm";
    ASSERT_TRUE(testsupport::writePNM(in.image, tmp.file(file))) << s.name;
    files.push_back(file);
    byFile[file] = &s;
  }
  const auto zbar = bartest::zbarRead(zbarimg, tmp.path(), files);
  size_t read = 0;
  for (const auto& z : zbar) {
    const Seed& s = *byFile.at(z.first);
    read += !z.second.empty();
    for (const auto& r : z.second) {
      EXPECT_EQ(r.type, bartest::familyType(s.family)) << s.name;
      EXPECT_EQ(r.code, s.text) << s.name;
    }
  }
  std::cout << "zbarimg read " << read << " of " << all.size() << " seeds\n";
  EXPECT_EQ(read, all.size());
}
