// The virtual scanner's page feed: image files or generated pages.
#pragma once

#include "twain/dsm/Source.hh"

#include <string>
#include <vector>

namespace twaindsm {

class VirtualFeed : public PageFeed {
public:
  // Generated pages, from a word list such as
  // "count=3,skew=2.5,border,separator=2:5,blank=4,seed=7,endless":
  //   count=N      sheets in the feeder
  //   skew=D       every sheet fed turned by D degrees
  //   border       the scanner's dark background a quarter inch around the
  //                sheet on all four sides (the scan is that much larger)
  //   tight        the background drawn, but the scan window only the
  //                sheet's size from its top-left: background at the top and
  //                left, the sheet running off the bottom and right
  //   separator=N:M, blank=N:M   sheets with a barcode, empty sheets
  //   seed=N, endless            other pages; a feeder that never runs dry
  struct Config {
    int sheets = 3;
    double skew = 0;
    bool border = false;
    bool tight = false;
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
  double sheetWidth() const override;
  double sheetHeight() const override;

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
