// The virtual scanner's page feed: image files or generated pages.
#pragma once

#include "twain/dsm/Source.hh"

#include <string>
#include <vector>

namespace twaindsm {

class VirtualFeed : public PageFeed {
public:
  // Generated pages, from a word list such as
  // "count=3,skew=2.5,border,separator=2:5,blank=4,seed=7,endless".
  struct Config {
    int sheets = 3;
    double skew = 0;
    bool border = false;
    bool endless = false;
    uint32_t seed = 1;
    std::vector<int> separators; // sheet numbers (1-based) carrying a barcode
    std::vector<int> blanks;     // sheet numbers left empty
    static Config parse(const std::string& words);
  };

  VirtualFeed(const Config& config, std::vector<std::string> files);

  void start(const ScanSettings& settings) override;
  bool more() override;
  int remaining() const override;
  bool next(Image& page, TW_UINT16& cc, bool& cancelled) override;
  void stop() override { stopped = true; }

private:
  void generate(Image& g, int pageNumber);
  bool readFile(Image& page, const std::string& path, TW_UINT16& cc);
  int totalPages() const;
  int pageIndex() const;
  void advance();

  Config config;
  std::vector<std::string> files;
  ScanSettings settings;
  int sheet = 0, side = 0;
  bool stopped = false;
};

} // namespace twaindsm
