// The shipped jobs end to end: the real tolm with the scripts beside it, on
// generated scans, checked with independent PDF tools.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <glob.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/TestSupport.hh"

namespace {

namespace fs = std::filesystem;

struct Result {
  int status = -1; // exit status; -1 when killed or signalled
  std::string out, err;
};

std::vector<std::string> lines(const std::string& text)
{
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);)
    out.push_back(l);
  return out;
}

// The jobs' progress lines ("tolm JOB: page N of M: ...") of standard error.
std::vector<std::string> progressLines(const std::string& err)
{
  std::vector<std::string> out;
  for (const std::string& l : lines(err))
    if (l.find(": page ") != std::string::npos)
      out.push_back(l);
  return out;
}

// The jobs' own lines ("tolm JOB: ...") of standard error, without what
// codecs and libraries add beside them.
std::vector<std::string> jobLines(const std::string& err)
{
  std::vector<std::string> out;
  for (const std::string& l : lines(err))
    if (l.rfind("tolm ", 0) == 0)
      out.push_back(l);
  return out;
}

// What a job says of the run as a whole: its own lines but the progress.
std::vector<std::string> closingLines(const std::string& err)
{
  std::vector<std::string> out;
  for (const std::string& l : jobLines(err))
    if (l.find(": page ") == std::string::npos)
      out.push_back(l);
  return out;
}

class Jobs : public ::testing::Test {
protected:
  void SetUp() override
  {
    char tmpl[] = "/tmp/tolm-jobs-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = fs::canonical(tmpl).string();
    fixtures = testsupport::sourceDir() + "/tests/jobs/job_fixtures.py";
  }
  void TearDown() override { fs::remove_all(dir); }

  // Runs a program in the test's directory, headless, bounded in time.
  Result run(std::vector<std::string> args, const std::map<std::string, std::string>& env = {},
             int seconds = 120)
  {
    const std::string outPath = dir + "/.stdout", errPath = dir + "/.stderr";
    pid_t pid = fork();
    if (pid == 0) {
      if (chdir(dir.c_str()) != 0)
        _exit(126);
      int o = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      int e = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(o, 1);
      dup2(e, 2);
      setenv("TOLM_HEADLESS", "1", 1);
      setenv("TOLM_DSM_SANE", "0", 1);
      unsetenv("DISPLAY");
      if (fileLimit > 0) {
        // a write past the limit fails with EFBIG instead of killing
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit lim = {fileLimit, fileLimit};
        setrlimit(RLIMIT_FSIZE, &lim);
      }
      for (const auto& kv : env)
        setenv(kv.first.c_str(), kv.second.c_str(), 1);
      std::vector<char*> argv;
      for (std::string& a : args)
        argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    Result r;
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    for (;;) {
      if (waitpid(pid, &status, WNOHANG) == pid)
        break;
      if (std::chrono::steady_clock::now() > deadline) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        ADD_FAILURE() << args[0] << " did not end";
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (WIFEXITED(status))
      r.status = WEXITSTATUS(status);
    r.out = testsupport::readFile(outPath);
    r.err = testsupport::readFile(errPath);
    fs::remove(outPath);
    fs::remove(errPath);
    return r;
  }

  Result tolm(std::vector<std::string> args, const std::map<std::string, std::string>& env = {})
  {
    args.insert(args.begin(), TOLM_EXE);
    return run(args, env);
  }

  Result python(std::vector<std::string> args)
  {
    args.insert(args.begin(), {"/usr/bin/python3", fixtures});
    return run(args);
  }

  // Files of the test directory, by name (hidden ones left out).
  std::vector<std::string> files(const std::string& sub = "")
  {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(dir + (sub.empty() ? "" : "/" + sub)))
      if (e.path().filename().string()[0] != '.')
        out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
  }

  int pageCount(const std::string& pdf)
  {
    Result r = run({qpdf, "--show-npages", pdf});
    return r.status == 0 ? std::atoi(r.out.c_str()) : -1;
  }

  // Rows of `pdfimages -list` as {width, height, color, bpc, enc}.
  std::vector<std::vector<std::string>> images(const std::string& pdf)
  {
    std::vector<std::vector<std::string>> out;
    for (const std::string& l : lines(run({pdfimages, "-list", pdf}).out)) {
      std::istringstream in(l);
      std::vector<std::string> f;
      for (std::string w; in >> w;)
        f.push_back(w);
      if (f.size() >= 10 && std::isdigit((unsigned char)f[0][0]))
        out.push_back({f[3], f[4], f[5], f[7], f[8]});
    }
    return out;
  }

  // The skew of each page's text lines as rendered by poppler.
  std::vector<double> renderedSkew(const std::string& pdf, int pages)
  {
    std::vector<double> out;
    EXPECT_EQ(run({pdftoppm, "-r", "75", "-gray", pdf, dir + "/.render"}).status, 0);
    for (int p = 1; p <= pages; ++p) {
      const std::string page = dir + "/.render-" + std::to_string(p) + ".pgm";
      Result r = python({"skew", page});
      out.push_back(r.status == 0 ? std::atof(r.out.c_str()) : NAN);
      fs::remove(page);
    }
    return out;
  }

  bool hasPartial()
  {
    for (const auto& e : fs::recursive_directory_iterator(dir))
      if (e.path().filename().string().find(".part-") != std::string::npos)
        return true;
    return false;
  }

  void requireTools()
  {
    if (!fs::exists("/usr/bin/python3")) {
      if (testsupport::underCI())
        FAIL() << "required tool missing: /usr/bin/python3";
      GTEST_SKIP() << "no /usr/bin/python3";
    }
    REQUIRE_TOOL(q, "qpdf");
    REQUIRE_TOOL(i, "pdfimages");
    REQUIRE_TOOL(t, "pdftotext");
    REQUIRE_TOOL(p, "pdftoppm");
    qpdf = q;
    pdfimages = i;
    pdftotext = t;
    pdftoppm = p;
  }

  // A stack.tif of one page per letter of `kinds` (t: a text page, a digit:
  // the separator carrying that code's Code 128 symbol, made by zint).
  void makeSheets(const std::string& kinds, const std::vector<std::string>& codes)
  {
    REQUIRE_TOOL(zint, "zint");
    std::vector<std::string> args = {"sheets", "stack.tif", kinds};
    for (const std::string& code : codes) {
      const std::string png = dir + "/." + code + ".png";
      ASSERT_EQ(run({zint, "-b", "20", "--scale=2", "--height=40", "-d", code, "-o", png}).status, 0);
      args.push_back(png);
    }
    ASSERT_EQ(python(args).status, 0);
  }

  // The environment that makes SANE's test backend the one device.
  //
  // The backend reads each page on a thread of its own and, once the last
  // byte has been read, cancels that thread asynchronously. A cancel that
  // lands while the thread frees its picture buffer leaves the allocator's
  // lock held by a dead thread, and the scan hangs for good (seen on a
  // loaded two-core machine, with pages larger than the pipe between the
  // threads). The sheet is kept narrow enough that the buffer, ten rows of
  // 8-bit gray, is at most 1,032 bytes: freed into the thread's own cache,
  // which takes no lock. 12 mm wide at 200 dpi is 94 pixels. `options`
  // end the configuration.
  std::map<std::string, std::string> saneTestDevice(const std::string& options = "")
  {
    const std::string conf = dir + "/.sane";
    fs::create_directories(conf);
    std::ofstream(conf + "/dll.conf") << "test\n";
    std::ofstream(conf + "/test.conf") << "number_of_devices 1\nmode Gray\ndepth 8\n"
                                          "test-picture \"Color pattern\"\n"
                                          "geometry_min 0.0\ngeometry_max 12.0\n"
                                          "tl_x 0.0\ntl_y 0.0\nbr_x 12.0\nbr_y 12.0\n"
                                       << options;
    // SANE's test backend keeps allocations it never frees; in a sanitizer
    // build the leak checker would fail tolm's exit for them (not ours).
    const std::string supp = conf + "/lsan.supp";
    std::ofstream(supp) << "leak:libsane\n";
    const char* lsan = getenv("LSAN_OPTIONS");
    const std::string lsanOptions =
        (lsan && *lsan ? std::string(lsan) + ":" : std::string()) + "suppressions=" + supp;
    return {{"SANE_CONFIG_DIR", conf}, {"TOLM_DSM_SANE", "1"}, {"LSAN_OPTIONS", lsanOptions}};
  }

  std::string dir, fixtures, qpdf, pdfimages, pdftotext, pdftoppm;
  rlim_t fileLimit = 0; // the largest file the programs run may write, 0: no limit
};

// Four skewed pages (the second blank, the fourth on a light flatbed lid),
// text layers for pages 1 and 3; options before and after the names.
TEST_F(Jobs, Doc2pdfStraightensBinarisesDropsAndAddsText)
{
  requireTools();
  if (HasFatalFailure() || IsSkipped())
    return;
  ASSERT_EQ(python({"scan", "scan.tif"}).status, 0);
  fs::create_directories(dir + "/ocr");
  ASSERT_EQ(python({"hocr", "ocr", "1", "Alpha", "Bravo", "Charlie"}).status, 0);
  ASSERT_EQ(python({"hocr", "ocr", "3", "Delta", "Echo"}).status, 0);

  // the fixture is skewed as meant: the measurement sees it
  {
    Result r = run({"/usr/bin/python3", "-c",
                    "from PIL import Image; im = Image.open('scan.tif'); im.seek(0); "
                    "im.save('.page1.png')"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NEAR(std::atof(python({"skew", ".page1.png"}).out.c_str()), 2.0, 0.2);
  }

  Result r = tolm({"doc2pdf", "--deskew", "scan.tif", "out.pdf", "--bw", "--drop-empty", "--hocr",
                   "ocr"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(files(), (std::vector<std::string>{"ocr", "out.pdf", "scan.tif"}));

  // one progress line per input page, saying what was done
  const std::vector<std::string> progress = progressLines(r.err);
  ASSERT_EQ(progress.size(), 4u) << r.err;
  for (int p = 0; p < 4; ++p) {
    EXPECT_NE(progress[p].find("page " + std::to_string(p + 1) + " of 4"), std::string::npos);
    EXPECT_NE(progress[p].find("straightened"), std::string::npos) << progress[p];
  }
  EXPECT_NE(progress[1].find("dropped"), std::string::npos) << progress[1];

  EXPECT_EQ(run({qpdf, "--check", "out.pdf"}).status, 0);
  ASSERT_EQ(pageCount("out.pdf"), 3);
  auto imgs = images("out.pdf");
  ASSERT_EQ(imgs.size(), 3u);
  for (const auto& img : imgs) {
    EXPECT_EQ(img[3], "1");
    EXPECT_EQ(img[4], "ccitt");
  }

  std::string text = run({pdftotext, "out.pdf", "-"}).out, squeezed;
  for (char c : text)
    if (!std::isspace((unsigned char)c))
      squeezed += c;
  EXPECT_EQ(squeezed, "AlphaBravoCharlieDeltaEcho") << text;

  for (double skew : renderedSkew("out.pdf", 3))
    EXPECT_LT(std::fabs(skew), 0.3);

  // PDF and PNG inputs: every page of each, in the order given
  ASSERT_EQ(run({"/usr/bin/python3", "-c",
                 "from PIL import Image; Image.new('RGB', (300, 200), 'white').save('p.png', "
                 "dpi=(150, 150))"}).status, 0);
  r = tolm({"doc2pdf", "out.pdf", "p.png", "both.pdf"});
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(pageCount("both.pdf"), 4);
  EXPECT_EQ(run({qpdf, "--check", "both.pdf"}).status, 0);
  // the PNG's page keeps its size: 300 x 200 pixels at 150 dpi
  Result info = run({"/usr/bin/pdfinfo", "-f", "4", "-l", "4", "both.pdf"});
  EXPECT_NE(info.out.find("144 x 96 pts"), std::string::npos) << info.out;
}

// --drop-empty on pages left as scanned: a blank sheet on a dark scanner
// background is judged by the sheet, not by the background around it.
TEST_F(Jobs, Doc2pdfDropsBlankSheetsWithoutStraightening)
{
  requireTools();
  if (HasFatalFailure() || IsSkipped())
    return;
  ASSERT_EQ(python({"scan", "scan.tif"}).status, 0);
  for (const char* bw : {"", "--bw"}) {
    SCOPED_TRACE(bw);
    std::vector<std::string> args = {"doc2pdf", "scan.tif", "out.pdf", "--drop-empty"};
    if (*bw)
      args.push_back(bw);
    Result r = tolm(args);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> progress = progressLines(r.err);
    ASSERT_EQ(progress.size(), 4u) << r.err;
    for (int p = 0; p < 4; ++p) {
      EXPECT_EQ(progress[p].find("dropped") != std::string::npos, p == 1) << progress[p];
      EXPECT_EQ(progress[p].find("straightened"), std::string::npos) << progress[p];
    }
    ASSERT_EQ(pageCount("out.pdf"), 3);
    // the pages kept are the scans as they were, background and all
    auto imgs = images("out.pdf");
    ASSERT_EQ(imgs.size(), 3u);
    Result size = run({"/usr/bin/python3", "-c",
                       "from PIL import Image; im = Image.open('scan.tif'); im.seek(0); "
                       "print(im.size[0])"});
    EXPECT_EQ(imgs[0][0] + "\n", size.out);
    fs::remove(dir + "/out.pdf");
  }
}

TEST_F(Jobs, Scan2pdfWritesTheVirtualScannersPages)
{
  requireTools();
  if (HasFatalFailure() || IsSkipped())
    return;
  Result r = tolm({"scan2pdf", "scan.pdf", "--bw", "--dpi", "150"}, {{"TOLM_DSM_PAGES", "count=3"}});
  if (r.status != 0 && r.err.find("not available in this build") != std::string::npos)
    GTEST_SKIP() << "no scanner module in this build";
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(files(), std::vector<std::string>{"scan.pdf"});
  EXPECT_EQ(run({qpdf, "--check", "scan.pdf"}).status, 0);
  ASSERT_EQ(pageCount("scan.pdf"), 3);
  auto imgs = images("scan.pdf");
  ASSERT_EQ(imgs.size(), 3u);
  for (const auto& img : imgs) {
    EXPECT_EQ(img[0], "1240"); // A4 at 150 dpi
    EXPECT_EQ(img[4], "ccitt");
  }
  // a progress line per page as it arrives
  for (int p = 1; p <= 3; ++p)
    EXPECT_NE(r.err.find("page " + std::to_string(p) + ": black and white"), std::string::npos)
      << r.err;

  // a device that is not there: a message, no output
  r = tolm({"scan2pdf", "none.pdf", "--source", "no such scanner"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("no scanner named no such scanner"), std::string::npos) << r.err;
  EXPECT_EQ(files(), std::vector<std::string>{"scan.pdf"});
}

// A scanner that ends the batch early, and a cancel on the scanner: said in
// the job's own words; the pages scanned before are kept.
TEST_F(Jobs, Scan2pdfScannerStopsOrIsCancelled)
{
  requireTools();
  if (HasFatalFailure() || IsSkipped())
    return;
  const struct {
    const char* faults;
    int status;
    int pages; // in the PDF; 0: no PDF
    const char* said;
  } cases[] = {
    {"", 0, 3, nullptr},
    {"close=2", 0, 2, "the scanner stopped after 2 pages"},
    {"close=1", 0, 1, "the scanner stopped after 1 page"},
    {"cancel=2", 0, 1, "the scan was cancelled after 1 page"},
    {"cancel=3", 0, 2, "the scan was cancelled after 2 pages"},
    {"cancel=1", 1, 0, "the scan was cancelled before the first page: nothing written"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.faults);
    Result r = tolm({"scan2pdf", "scan.pdf", "--dpi", "75"},
                    {{"TOLM_DSM_PAGES", "count=3"}, {"TOLM_DSM_FAULTS", c.faults}});
    if (r.status != 0 && r.err.find("not available in this build") != std::string::npos)
      GTEST_SKIP() << "no scanner module in this build";
    EXPECT_EQ(r.status, c.status) << r.err;
    if (c.said)
      EXPECT_NE(r.err.find(std::string("tolm scan2pdf: ") + c.said + "\n"), std::string::npos) << r.err;
    else
      EXPECT_EQ(r.err.find("stopped"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("delivered no page"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("TwainProc error"), std::string::npos) << r.err;
    if (c.pages) {
      EXPECT_EQ(files(), std::vector<std::string>{"scan.pdf"});
      EXPECT_EQ(pageCount("scan.pdf"), c.pages);
      EXPECT_EQ(run({qpdf, "--check", "scan.pdf"}).status, 0);
      EXPECT_NE(r.err.find("wrote scan.pdf: " + std::to_string(c.pages) + " page"), std::string::npos);
    } else {
      EXPECT_TRUE(files().empty()) << r.err;
    }
    fs::remove(dir + "/scan.pdf");
  }
}

// Every sheet empty and dropped: said as doc2pdf says it, also when the
// scanner ends the batch itself; nothing written.
TEST_F(Jobs, Scan2pdfEveryPageEmpty)
{
  requireTools();
  if (HasFatalFailure() || IsSkipped())
    return;
  const struct {
    const char* faults;
    const char* stopped;
  } cases[] = {
    {"", nullptr},
    {"close=2", "the scanner stopped after 2 pages"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.faults);
    Result r = tolm({"scan2pdf", "scan.pdf", "--dpi", "75", "--drop-empty"},
                    {{"TOLM_DSM_PAGES", "count=3,blank=1:2:3"}, {"TOLM_DSM_FAULTS", c.faults}});
    if (r.status != 0 && r.err.find("not available in this build") != std::string::npos)
      GTEST_SKIP() << "no scanner module in this build";
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("empty, dropped"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("tolm scan2pdf: every page was empty: nothing to write\n"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find("no page was scanned"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("before the first page"), std::string::npos) << r.err;
    if (c.stopped) {
      EXPECT_NE(r.err.find(c.stopped), std::string::npos) << r.err;
    }
    EXPECT_TRUE(files().empty()) << r.err;
  }
}

// Straightening never costs content: generated scans (a page without
// background, sheets running off the scan, a framed sheet, a blank sheet,
// sheets whose print as dark as the background reaches an edge, sheets
// under a band at the background's own level, backgrounds drifting down the
// scan, sheets turned by a hair, sheets on gray and light backgrounds)
// through doc2pdf and, as the virtual scanner's files, scan2pdf; each
// written page measured by deskew_cases.py. Then the virtual scanner's own
// skewed pages, some turned so far that their corners graze its border.
TEST_F(Jobs, DeskewKeepsEveryPagesContent)
{
  requireTools();
  if (HasFatalFailure() || IsSkipped())
    return;
  const std::string cases = testsupport::sourceDir() + "/tests/jobs/deskew_cases.py";
  auto helper = [&](std::vector<std::string> args) {
    args.insert(args.begin(), {"/usr/bin/python3", cases});
    return run(args);
  };
  std::vector<std::string> names;
  {
    std::istringstream in(helper({"list"}).out);
    for (std::string n; in >> n;)
      names.push_back(n);
  }
  ASSERT_GE(names.size(), 18u);
  std::set<std::string> scanned;
  {
    std::istringstream in(helper({"scanner"}).out);
    for (std::string n; in >> n;)
      scanned.insert(n);
  }
  bool scanner = true;
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    ASSERT_EQ(helper({"make", name, name + ".png"}).status, 0);
    Result r = tolm({"doc2pdf", "--deskew", name + ".png", name + ".pdf"});
    ASSERT_EQ(r.status, 0) << r.err;
    // A sheet under a band at the background's own level (or within a few
    // levels of a gray or light one) may be kept as scanned; the check
    // tells which and that nothing was lost.
    const bool kept = name == "white-page";
    if (name.rfind("level-", 0) != 0) {
      EXPECT_EQ(r.err.find("no sheet edges found, not straightened") != std::string::npos, kept)
        << r.err;
    }
    // Turned by a hair: the angle found to the hundredth, and the line
    // says what was done with it (left as it is up to 0.05 degree, sheared
    // up to 0.1, turned beyond).
    std::string note = helper({"note", name}).out;
    while (!note.empty() && note.back() == '\n')
      note.pop_back();
    if (!note.empty()) {
      EXPECT_NE(r.err.find(note), std::string::npos) << note << "\n" << r.err;
    }
    // A page made black and white is straightened (or kept) as its gray
    // scan is: on a gray or light background too.
    if (name.rfind("level-gray", 0) == 0) {
      Result bw = tolm({"doc2pdf", "--deskew", "--bw", name + ".png", name + "-bw.pdf"});
      ASSERT_EQ(bw.status, 0) << bw.err;
      const std::string line = r.err.substr(0, r.err.find('\n'));
      EXPECT_NE(bw.err.find(line + ", black and white"), std::string::npos) << line << "\n" << bw.err;
    }
    // the detectors themselves say nothing on the console
    EXPECT_EQ(r.err.find("deskew"), std::string::npos) << r.err;
    // an angle under a hundredth of a degree is no proof of a straight sheet
    EXPECT_EQ(r.err.find("straight ("), std::string::npos) << r.err;
    ASSERT_EQ(run({pdfimages, "-png", name + ".pdf", name + "-out"}).status, 0);
    Result c = helper({"check", name, name + "-out-000.png"});
    EXPECT_EQ(c.status, 0) << c.out << c.err << r.err;

    // The scanner's window is the sheet's size at 150 dpi: the blank sheet
    // runs off it (the virtual scanner's own blank pages are measured
    // below), as do the larger scans.
    if (!scanner || !scanned.count(name))
      continue;
    r = tolm({"scan2pdf", name + "-scan.pdf", "--deskew", "--dpi", "150"},
             {{"TOLM_DSM_FILES", dir + "/" + name + ".png"}});
    if (r.status != 0 && r.err.find("not available in this build") != std::string::npos) {
      scanner = false;
      continue;
    }
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(run({pdfimages, "-png", name + "-scan.pdf", name + "-scan"}).status, 0);
    c = helper({"check", name, name + "-scan-000.png"});
    EXPECT_EQ(c.status, 0) << c.out << c.err << r.err;
  }
  if (!scanner)
    return;

  // The virtual scanner's own skewed pages, with a background all around
  // and with a window only the sheet's size, measured against the same
  // sheets scanned straight.
  Result r = tolm({"scan2pdf", "ref.pdf", "--dpi", "150"}, {{"TOLM_DSM_PAGES", "count=3,blank=2"}});
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(run({pdfimages, "-png", "ref.pdf", "ref"}).status, 0);
  for (const char* pages : {"count=3,skew=2,border,blank=2", "count=3,skew=-2,tight,blank=2"}) {
    SCOPED_TRACE(pages);
    r = tolm({"scan2pdf", "v.pdf", "--deskew", "--dpi", "150"}, {{"TOLM_DSM_PAGES", pages}});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.find("not straightened"), std::string::npos) << r.err;
    ASSERT_EQ(run({pdfimages, "-png", "v.pdf", "v"}).status, 0);
    const bool tight = std::string(pages).find("tight") != std::string::npos;
    for (int p = 0; p < 3; ++p) {
      const std::string n = "-00" + std::to_string(p) + ".png";
      // a blank sheet running off a tight window is cut at the window
      if (tight && p == 1)
        continue;
      Result c = helper({"check", p == 1 ? "blank" : "sheet", "v" + n, "ref" + n});
      EXPECT_EQ(c.status, 0) << c.out << c.err;
    }
  }
  // Turned so far that its corners graze the scan's border (and, in a tight
  // window, run off it): the angle comes from the edges in view.
  for (const char* pages : {"count=1,skew=3,border", "count=1,skew=-3,border",
                            "count=1,skew=3,tight", "count=1,skew=-3,tight"}) {
    SCOPED_TRACE(pages);
    r = tolm({"scan2pdf", "g.pdf", "--deskew", "--gray", "--dpi", "150"},
             {{"TOLM_DSM_PAGES", pages}});
    ASSERT_EQ(r.status, 0) << r.err;
    const bool tight = std::string(pages).find("tight") != std::string::npos;
    const bool left = std::string(pages).find("-3") != std::string::npos;
    EXPECT_NE(r.err.find(left ? "straightened by 3.00 degrees" : "straightened by -3.00 degrees"),
              std::string::npos)
      << r.err;
    ASSERT_EQ(run({pdfimages, "-png", "g.pdf", "g"}).status, 0);
    Result c = helper({"check", tight ? "sheet" : "whole", "g-000.png", "ref-000.png"});
    EXPECT_EQ(c.status, 0) << c.out << c.err;
  }
}

// The same job on a scanner device: SANE's test backend, chosen by name.
TEST_F(Jobs, Scan2pdfOnASaneDevice)
{
  requireTools();
  if (HasFatalFailure() || IsSkipped())
    return;
  Result r = tolm({"scan2pdf", "device.pdf", "--source", "test:0", "--gray", "--dpi", "75"},
                  saneTestDevice());
  if (r.status != 0 && r.err.find("not available in this build") != std::string::npos)
    GTEST_SKIP() << "no scanner module in this build";
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(run({qpdf, "--check", "device.pdf"}).status, 0);
  EXPECT_GE(pageCount("device.pdf"), 1);
}

// A device that stops answering in the middle of a page, ignores the
// cancel and would hold whoever closes it: the job fails once the deadline
// has passed instead of hanging, and writes nothing.
TEST_F(Jobs, Scan2pdfEndsWhenTheDeviceStopsAnswering)
{
  requireTools();
  if (HasFatalFailure() || IsSkipped())
    return;
  const std::string conf = dir + "/.sane";
  fs::create_directories(conf);
  std::ofstream(conf + "/dll.conf") << "stuck\n";
  const std::vector<std::string> inputs = files();
  Result r = tolm({"scan2pdf", "out.pdf", "--source", "stuck:0"},
                  {{"SANE_CONFIG_DIR", conf},
                   {"LD_LIBRARY_PATH", SANE_STUCK_DIR},
                   {"TOLM_DSM_SANE", "1"},
                   {"TOLM_SANE_TIMEOUT", "1"}});
  if (r.status != 0 && r.err.find("not available in this build") != std::string::npos)
    GTEST_SKIP() << "no scanner module in this build";
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("SANE stuck:0: no answer in 1 s, cancelling\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("SANE stuck:0: the read did not end; the device is left as it is\n"),
            std::string::npos)
      << r.err;
  EXPECT_FALSE(hasPartial());
  EXPECT_EQ(files(), inputs);
}

// A signal a few pages into a scan from a SANE device: SANE's test backend
// resets SIGTERM to its default in the thread it reads with, each time a
// page starts; the job must still stop cleanly, whichever signal it is.
TEST_F(Jobs, SaneScanStopsCleanlyOnEverySignal)
{
  requireTools();
  if (HasFatalFailure() || IsSkipped())
    return;
  glob_t g{};
  const bool backend = glob("/usr/lib/*/sane/libsane-test.so*", 0, nullptr, &g) == 0;
  globfree(&g);
  if (!backend) {
    // scripts/install-deps brings it
    if (testsupport::underCI())
      FAIL() << "SANE's test backend (libsane1) is not installed";
    GTEST_SKIP() << "SANE's test backend (libsane1) is not installed";
  }
  // the device waits 50 ms before each ten rows: the signal comes while a
  // page is read, well before the tenth
  std::map<std::string, std::string> env =
      saneTestDevice("read-delay true\nread-delay-duration 50000\n");
  env["TOLM_HEADLESS"] = "1";
  const std::vector<std::string> inputs = files();
  for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGTERM, SIGTERM}) {
    SCOPED_TRACE(strsignal(sig));
    testsupport::Child job({TOLM_EXE, "scan2pdf", "out.pdf", "--source", "test:0", "--dpi", "200"},
                           dir, env);
    if (!job.waitForErr(": page ", 3, 120)) {
      if (job.err().find("not available in this build") != std::string::npos)
        GTEST_SKIP() << "no scanner module in this build";
      FAIL() << job.err();
    }
    job.signal(sig);
    int signalled = 0;
    EXPECT_EQ(job.wait(120, &signalled), 128 + sig) << job.err();
    EXPECT_EQ(signalled, 0) << "ended by the signal itself";
    EXPECT_NE(job.err().find("tolm scan2pdf: interrupted: nothing written\n"), std::string::npos)
        << job.err();
    EXPECT_FALSE(hasPartial());
    EXPECT_EQ(files(), inputs);
  }
}

TEST_F(Jobs, SplitByBarcodeCutsAtSeparators)
{
  requireTools();
  if (HasFatalFailure() || IsSkipped())
    return;
  REQUIRE_TOOL(zint, "zint");
  ASSERT_EQ(run({zint, "-b", "20", "--scale=2", "--height=40", "-d", "INVOICE-17", "-o",
                 dir + "/.c1.png"}).status, 0);
  ASSERT_EQ(run({zint, "-b", "8", "--scale=2", "--height=40", "-d", "LETTER 2", "-o",
                 dir + "/.c2.png"}).status, 0);
  ASSERT_EQ(python({"stack", "stack.tif", ".c1.png", ".c2.png"}).status, 0);
  fs::create_directories(dir + "/parts");

  Result r = tolm({"split-by-barcode", "stack.tif", "parts/doc-"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(files("parts"),
            (std::vector<std::string>{"doc-0.pdf", "doc-INVOICE-17.pdf", "doc-LETTER_2.pdf"}));
  EXPECT_EQ(pageCount("parts/doc-0.pdf"), 2);
  EXPECT_EQ(pageCount("parts/doc-INVOICE-17.pdf"), 3);
  EXPECT_EQ(pageCount("parts/doc-LETTER_2.pdf"), 1);
  for (const char* f : {"parts/doc-0.pdf", "parts/doc-INVOICE-17.pdf", "parts/doc-LETTER_2.pdf"})
    EXPECT_EQ(run({qpdf, "--check", f}).status, 0) << f;

  // only the types asked for separate: with code 39 alone, the code 128
  // sheet is an ordinary page
  fs::remove_all(dir + "/parts");
  fs::create_directories(dir + "/parts");
  r = tolm({"split-by-barcode", "--types", "code39", "stack.tif", "parts/doc-"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(files("parts"), (std::vector<std::string>{"doc-0.pdf", "doc-LETTER_2.pdf"}));
  EXPECT_EQ(pageCount("parts/doc-0.pdf"), 6);
}

// Separators at the start, side by side and at the end: the documents
// between them without pages are skipped, every other one is written.
TEST_F(Jobs, SplitByBarcodeSkipsEmptyDocuments)
{
  requireTools();
  if (HasFatalFailure() || IsSkipped())
    return;
  const std::vector<std::string> codes = {"A1", "B2", "C3", "D4", "E5"};
  makeSheets("0t12tt3t4", codes);
  if (HasFatalFailure() || IsSkipped())
    return;
  fs::create_directories(dir + "/parts");

  Result r = tolm({"split-by-barcode", "stack.tif", "parts/d-"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(files("parts"), (std::vector<std::string>{"d-A1.pdf", "d-C3.pdf", "d-D4.pdf"}));
  EXPECT_EQ(pageCount("parts/d-A1.pdf"), 1);
  EXPECT_EQ(pageCount("parts/d-C3.pdf"), 2);
  EXPECT_EQ(pageCount("parts/d-D4.pdf"), 1);
  EXPECT_FALSE(hasPartial());

  // the same stack ending in a separator
  fs::remove_all(dir + "/parts");
  fs::create_directories(dir + "/parts");
  makeSheets("0t12tt3", codes);
  r = tolm({"split-by-barcode", "stack.tif", "parts/d-"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(files("parts"), (std::vector<std::string>{"d-A1.pdf", "d-C3.pdf"}));
  EXPECT_EQ(pageCount("parts/d-C3.pdf"), 2);
  EXPECT_FALSE(hasPartial());
}

// Black and white from a gray page is worked on the gray channel alone: the
// pages come out as the same page given in RGB gives them, bit for bit,
// straightened or not, read from PNG or from TIFF.
TEST_F(Jobs, BlackAndWhiteOfGrayEqualsItsRGBTwin)
{
  requireTools();
  if (HasFatalFailure() || IsSkipped())
    return;
  ASSERT_EQ(python({"scan", "scan.tif"}).status, 0);
  Result made = run({"/usr/bin/python3", "-c",
                     "from PIL import Image, ImageSequence\n"
                     "pages = [p.convert('L') for p in ImageSequence.Iterator(Image.open('scan.tif'))]\n"
                     "for n in (0, 2):\n"
                     "    pages[n].save('gray%d.png' % n, dpi=(150, 150))\n"
                     "    pages[n].convert('RGB').save('rgb%d.png' % n, dpi=(150, 150))\n"
                     "pages[0].save('gray.tif', compression='tiff_lzw', dpi=(150, 150))\n"
                     "pages[0].convert('RGB').save('rgb.tif', compression='tiff_lzw', dpi=(150, 150))\n"});
  ASSERT_EQ(made.status, 0) << made.err;
  auto pixels = [&](const std::string& pdf) {
    fs::create_directories(dir + "/.img");
    EXPECT_EQ(run({pdfimages, "-png", pdf, dir + "/.img/" + pdf}).status, 0);
    std::string all;
    for (const std::string& f : files(".img"))
      all += testsupport::readFile(dir + "/.img/" + f);
    fs::remove_all(dir + "/.img");
    return all;
  };
  const struct {
    std::vector<std::string> gray, rgb;
  } inputs[] = {{{"gray0.png", "gray2.png"}, {"rgb0.png", "rgb2.png"}}, {{"gray.tif"}, {"rgb.tif"}}};
  for (const auto& in : inputs)
    for (const std::vector<std::string>& opts :
         {std::vector<std::string>{"--bw"}, std::vector<std::string>{"--bw", "--deskew"}}) {
      SCOPED_TRACE(in.gray[0] + " " + opts.back());
      std::vector<std::string> a{"doc2pdf"}, b{"doc2pdf"};
      a.insert(a.end(), in.gray.begin(), in.gray.end());
      b.insert(b.end(), in.rgb.begin(), in.rgb.end());
      a.push_back("gray.pdf");
      b.push_back("rgb.pdf");
      a.insert(a.end(), opts.begin(), opts.end());
      b.insert(b.end(), opts.begin(), opts.end());
      ASSERT_EQ(tolm(a).status, 0);
      ASSERT_EQ(tolm(b).status, 0);
      ASSERT_EQ(images("gray.pdf").size(), in.gray.size());
      EXPECT_EQ(images("gray.pdf")[0][4], "ccitt");
      const std::string g = pixels("gray.pdf");
      EXPECT_FALSE(g.empty());
      EXPECT_TRUE(g == pixels("rgb.pdf"));
    }
}

// Every failure: a message, a non-zero status, and nothing under the final
// name (an existing file there keeps its bytes).
TEST_F(Jobs, FailuresLeaveNoOutput)
{
  requireTools();
  if (HasFatalFailure() || IsSkipped())
    return;
  ASSERT_EQ(python({"scan", "scan.tif"}).status, 0);
  std::ofstream(dir + "/notes.txt") << "not an image\n";
  std::ofstream(dir + "/old.pdf") << "old bytes";
  fs::create_directories(dir + "/folder.pdf");

  const struct {
    std::vector<std::string> args;
    int status;
    const char* message;
  } cases[] = {
    {{"nosuch"}, 2, "unknown job: nosuch"},
    {{"../jobs/doc2pdf"}, 2, "not a job name"},
    {{"_lib"}, 2, "not a job name"},
    {{"doc2pdf", "missing.tif", "old.pdf"}, 1, "cannot read missing.tif: No such file"},
    {{"doc2pdf", "notes.txt", "old.pdf"}, 1, "cannot read notes.txt"},
    {{"doc2pdf", "scan.tif", "no/such/dir/out.pdf"}, 1, "cannot write no/such/dir/out.pdf"},
    {{"doc2pdf", "scan.tif", "folder.pdf"}, 1, "cannot write folder.pdf: it is a directory"},
    {{"doc2pdf", "scan.tif", "old.pdf", "--hocr", "nowhere"}, 1, "hOCR folder nowhere not found"},
    {{"doc2pdf", "scan.tif"}, 2, "needs at least one input"},
    {{"doc2pdf", "scan.tif", "old.pdf", "--frobnicate"}, 2, "unknown option --frobnicate"},
    {{"doc2pdf", "scan.tif", "scan.tif"}, 2, "must be the output PDF"},
    {{"split-by-barcode", "missing.tif", "old-"}, 1, "cannot read missing.tif"},
    {{"split-by-barcode", "scan.tif", "no/such/dir/x-"}, 1, "cannot write no/such/dir/x-0.pdf"},
    {{"split-by-barcode", "scan.tif", "p-", "--types", "qr"}, 2, "unknown barcode type qr"},
    {{"scan2pdf", "out.pdf", "--dpi", "lots"}, 2, "--dpi takes a whole number"},
    {{"scan2pdf", "no/such/dir/out.pdf"}, 1, "no/such/dir/out.pdf"},
  };
  for (const auto& c : cases) {
    std::string line;
    for (const auto& a : c.args)
      line += a + " ";
    SCOPED_TRACE(line);
    Result r = tolm(c.args);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_FALSE(hasPartial());
    EXPECT_EQ(testsupport::readFile(dir + "/old.pdf"), "old bytes");
    EXPECT_EQ(files(), (std::vector<std::string>{"folder.pdf", "notes.txt", "old.pdf", "scan.tif"}));
  }
}

// A multi-page TIFF cut short fails the job like any unreadable input,
// before anything is written: one job line naming the first page the file
// lost (found by the fixture's own walk of the chain), status 1, no output
// and no part file; the page count never shrinks to the pages before the
// cut. Files by Pillow (LZW), libtiff (G4) and ImageMagick (uncompressed),
// whose IFDs follow their strips, and one with every IFD first, whose
// strips are what a cut loses; whole, each reads every page.
TEST_F(Jobs, CutShortMultiPageTiffsFailTheJob)
{
  requireTools();
  if (HasFatalFailure() || IsSkipped())
    return;
  REQUIRE_TOOL(tiffcp, "tiffcp");
  REQUIRE_TOOL(tiffinfo, "tiffinfo");
  REQUIRE_TOOL(convert, "convert");
  auto cutLine = [](const std::string& job, int page) {
    return "tolm " + job + ": page " + std::to_string(page) +
           " of cut.tif cannot be read: the file is cut short";
  };
  const int pages = 6;
  const std::string n = std::to_string(pages);
  ASSERT_EQ(python({"small", ".lzw.tif", n, "L", "tiff_lzw"}).status, 0);
  ASSERT_EQ(python({"small", ".bw.tif", n, "1", "raw"}).status, 0);
  ASSERT_EQ(run({tiffcp, "-c", "g4", ".bw.tif", ".g4.tif"}).status, 0);
  ASSERT_EQ(run({convert, ".lzw.tif", "-compress", "None", ".none.tif"}).status, 0);
  ASSERT_EQ(python({"ifds-first", ".front.tif", n}).status, 0);
  for (const char* source : {".lzw.tif", ".g4.tif", ".none.tif", ".front.tif"}) {
    SCOPED_TRACE(source);
    Result r = run({tiffinfo, source});
    EXPECT_EQ(r.status, 0) << r.err;
    size_t dirs = 0;
    for (size_t at = r.out.find("TIFF Directory"); at != std::string::npos;
         at = r.out.find("TIFF Directory", at + 1))
      ++dirs;
    EXPECT_EQ(dirs, (size_t)pages) << r.out;
    r = tolm({"doc2pdf", source, "out.pdf"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(pageCount("out.pdf"), pages);
    fs::remove(dir + "/out.pdf");

    for (const char* percent : {"5", "30", "60", "99"}) {
      SCOPED_TRACE(std::string(percent) + " %");
      r = python({"cut", source, "cut.tif", percent});
      ASSERT_EQ(r.status, 0) << r.err;
      const int lost = std::atoi(r.out.c_str());
      ASSERT_GT(lost, 0);
      r = tolm({"doc2pdf", "cut.tif", "out.pdf"});
      EXPECT_EQ(r.status, 1) << r.err;
      EXPECT_EQ(jobLines(r.err), (std::vector<std::string>{cutLine("doc2pdf", lost)})) << r.err;
      EXPECT_FALSE(hasPartial());
      EXPECT_EQ(files(), (std::vector<std::string>{"cut.tif"}));
    }
  }

  // split-by-barcode leaves out no document after the cut: it writes none.
  fs::remove(dir + "/cut.tif");
  makeSheets("tt0t1tt", {"A1", "B2"});
  if (HasFatalFailure() || IsSkipped())
    return;
  fs::create_directories(dir + "/parts");
  for (const char* percent : {"50", "97"}) {
    SCOPED_TRACE(std::string("stack cut at ") + percent + " %");
    Result r = python({"cut", "stack.tif", "cut.tif", percent});
    ASSERT_EQ(r.status, 0) << r.err;
    const int lost = std::atoi(r.out.c_str());
    ASSERT_GT(lost, 1);
    r = tolm({"split-by-barcode", "cut.tif", "parts/d-"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(jobLines(r.err), (std::vector<std::string>{cutLine("split-by-barcode", lost)}))
        << r.err;
    EXPECT_FALSE(hasPartial());
    EXPECT_TRUE(files("parts").empty());
  }
}

// A write error (a full disk, a file size limit) stops the job at the first
// page that does not fit: one job line, status 1, nothing left.
TEST_F(Jobs, WriteErrorStopsTheJob)
{
  requireTools();
  if (HasFatalFailure() || IsSkipped())
    return;
  ASSERT_EQ(python({"scan", "scan.tif"}).status, 0);
  const std::vector<std::string> before = files();

  auto check = [&](const Result& r, const std::string& output) {
    EXPECT_EQ(r.status, 1) << r.err;
    int progress = 0, jobLines = 0;
    for (const std::string& l : lines(r.err)) {
      if (l.rfind("tolm doc2pdf: page ", 0) == 0)
        ++progress;
      else if (l.rfind("tolm doc2pdf: ", 0) == 0)
        ++jobLines;
    }
    EXPECT_EQ(jobLines, 1) << r.err;
    EXPECT_NE(r.err.find("cannot write " + output + ": write error"), std::string::npos) << r.err;
    EXPECT_LT(progress, 4) << "went on after the failure\n" << r.err;
    EXPECT_EQ(r.err.find("error writing the document"), std::string::npos) << r.err;
    EXPECT_FALSE(hasPartial());
  };

  // the file size limit: every page of three copies would be 12 pages
  fileLimit = 200 * 1024;
  Result r = tolm({"doc2pdf", "scan.tif", "scan.tif", "scan.tif", "out.pdf"});
  fileLimit = 0;
  check(r, "out.pdf");
  EXPECT_EQ(files(), before);

  // a small file system that fills up
  const std::string small = dir + "/small";
  fs::create_directories(small);
  if (mount("tmpfs", small.c_str(), "tmpfs", 0, "size=200k") != 0) {
    fs::remove(small);
    GTEST_SKIP() << "cannot mount a small tmpfs here (" << std::strerror(errno)
                 << "); the file size limit case ran";
  }
  r = tolm({"doc2pdf", "scan.tif", "scan.tif", "scan.tif", "small/out.pdf"});
  check(r, "small/out.pdf");
  EXPECT_TRUE(fs::is_empty(small));
  umount2(small.c_str(), MNT_DETACH);
  fs::remove(small);
}

// An output that cannot be opened is refused with the system's reason,
// for a new name and for a file already there (kept as it was), on a file
// system mounted read-only.
TEST_F(Jobs, UnwritableOutputsSayWhy)
{
  requireTools();
  if (HasFatalFailure() || IsSkipped())
    return;
  ASSERT_EQ(python({"scan", "scan.tif"}).status, 0);
  const std::string ro = dir + "/ro";
  fs::create_directories(ro);
  if (mount("tmpfs", ro.c_str(), "tmpfs", 0, "size=64k") != 0) {
    fs::remove(ro);
    if (testsupport::underCI() && geteuid() == 0)
      FAIL() << "cannot mount a tmpfs as root: " << std::strerror(errno);
    GTEST_SKIP() << "cannot mount a tmpfs here (" << std::strerror(errno) << ")";
  }
  std::ofstream(ro + "/old.pdf") << "old bytes";
  ASSERT_EQ(mount(nullptr, ro.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0)
      << std::strerror(errno);
  const struct {
    std::vector<std::string> args;
    const char* line;
  } cases[] = {
    {{"doc2pdf", "scan.tif", "ro/new.pdf"}, "cannot write ro/new.pdf: Read-only file system"},
    {{"doc2pdf", "scan.tif", "ro/old.pdf"}, "cannot write ro/old.pdf: Read-only file system"},
    {{"split-by-barcode", "scan.tif", "ro/d-"}, "cannot write ro/d-0.pdf: Read-only file system"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    Result r = tolm(c.args);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find(c.line), std::string::npos) << r.err;
  }
  EXPECT_EQ(testsupport::readFile(ro + "/old.pdf"), "old bytes");
  EXPECT_EQ(files("ro"), std::vector<std::string>{"old.pdf"});
  umount2(ro.c_str(), MNT_DETACH);
  fs::remove_all(ro);
}

TEST_F(Jobs, HelpAndUsage)
{
  Result r = tolm({});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("usage: tolm JOB"), std::string::npos);
  r = tolm({"help"});
  EXPECT_EQ(r.status, 0);
  for (const char* job : {"doc2pdf", "scan2pdf", "split-by-barcode"})
    EXPECT_NE(r.out.find(job), std::string::npos) << job;
  EXPECT_EQ(r.out.find("_lib"), std::string::npos);
  for (const char* job : {"doc2pdf", "scan2pdf", "split-by-barcode"}) {
    r = tolm({job, "--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind(std::string("usage: tolm ") + job, 0), 0u) << r.out;
    EXPECT_EQ(tolm({"help", job}).out, r.out);
  }
}
// The jobs beside the build tree's tolm are those of the source and no
// others: the step that places them removes a job the source no longer
// has, so that tolm neither lists nor runs it. Checked on the build tree
// itself and on the placing step run over folders of its own.
TEST(JobsFolder, BuildTreeMirrorsTheSource)
{
  auto luaFiles = [](const std::string& folder) {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(folder))
      if (e.path().extension() == ".lua")
        out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
  };
  const std::string source = testsupport::sourceDir() + "/jobs";
  EXPECT_EQ(luaFiles(fs::path(TOLM_EXE).parent_path().string() + "/jobs"), luaFiles(source));

  REQUIRE_TOOL(cmake, "cmake");
  testsupport::TempDir tmp;
  fs::create_directories(tmp.file("src"));
  fs::create_directories(tmp.file("out"));
  std::ofstream(tmp.file("src/kept.lua")) << "new";
  std::ofstream(tmp.file("src/added.lua")) << "added";
  std::ofstream(tmp.file("out/kept.lua")) << "old";
  std::ofstream(tmp.file("out/removed.lua")) << "gone from the source";
  std::ofstream(tmp.file("out/notes.txt")) << "no job";
  ASSERT_EQ(testsupport::run(cmake + " -DSOURCE='" + tmp.file("src") + "' -DTARGET='" +
                             tmp.file("out") + "' -P '" + testsupport::sourceDir() +
                             "/resources/MirrorJobs.cmake'"),
            0);
  EXPECT_EQ(luaFiles(tmp.file("out")), (std::vector<std::string>{"added.lua", "kept.lua"}));
  EXPECT_EQ(testsupport::readFile(tmp.file("out/kept.lua")), "new");
  EXPECT_TRUE(fs::exists(tmp.file("out/notes.txt")));
}

// Inputs the system does not read, told as what they are: JPEG files and
// JPEG-compressed TIFF files (new style by Pillow and by libtiff in YCbCr,
// old style built field by field), and an hOCR page that is a folder.
TEST_F(Jobs, JpegInputsAndHocrFoldersAreNamed)
{
  requireTools();
  if (HasFatalFailure() || IsSkipped())
    return;
  REQUIRE_TOOL(tiffcp, "tiffcp");
  ASSERT_EQ(run({"/usr/bin/python3", "-c",
                 "import struct\n"
                 "from PIL import Image\n"
                 "im = Image.new('RGB', (64, 48), (200, 30, 30))\n"
                 "im.save('photo.jpg')\n"
                 "im.save('pillow.tif', compression='jpeg')\n"
                 "im.save('plain.tif')\n"
                 "# old style: Compression 6 and the offset of a gray JPEG stream\n"
                 "im.convert('L').save('gray.jpg')\n"
                 "jpeg = open('gray.jpg', 'rb').read()\n"
                 "tags = [(256, 3, 64), (257, 3, 48), (258, 3, 8), (259, 3, 6), (262, 3, 1),\n"
                 "        (273, 4, 8), (277, 3, 1), (279, 4, len(jpeg)), (513, 4, 8),\n"
                 "        (514, 4, len(jpeg))]\n"
                 "ifd = struct.pack('<H', len(tags)) + b''.join(\n"
                 "    struct.pack('<HHI', t, k, 1) + struct.pack('<H2x' if k == 3 else '<I', v)\n"
                 "    for t, k, v in tags) + b'\\0' * 4\n"
                 "pad = len(jpeg) % 2\n"
                 "open('old.tif', 'wb').write(b'II*\\0' + struct.pack('<I', 8 + len(jpeg) + pad)\n"
                 "                             + jpeg + b'\\0' * pad + ifd)\n"})
                .status,
            0);
  ASSERT_EQ(run({tiffcp, "-c", "jpeg", "-r", "16", "plain.tif", "ycbcr.tif"}).status, 0);
  for (const char* name : {"photo.jpg", "pillow.tif", "ycbcr.tif", "old.tif"}) {
    SCOPED_TRACE(name);
    Result r = tolm({"doc2pdf", name, "out.pdf"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "tolm doc2pdf: cannot read " + std::string(name) + ": JPEG images are not read\n");
    EXPECT_FALSE(fs::exists(dir + "/out.pdf"));
  }

  // A page's hOCR file that is a folder: the page has no text layer, and
  // the job line says why.
  fs::create_directories(dir + "/hocr/page-1.hocr");
  Result r = tolm({"doc2pdf", "plain.tif", "out.pdf", "--hocr", "hocr"});
  EXPECT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> progress = progressLines(r.err);
  ASSERT_EQ(progress.size(), 1u) << r.err;
  EXPECT_NE(progress[0].find("no text layer (hocr/page-1.hocr is a folder)"), std::string::npos)
    << r.err;
  EXPECT_EQ(r.err.find("cannot convert"), std::string::npos) << r.err;
  EXPECT_EQ(pageCount(dir + "/out.pdf"), 1);
}


// Pages keep their size whatever unit their file gives the resolution in:
// Whole pixels at 300 dpi are whole hundredths of a point: 1240 x 1754 is
// 297.6 x 420.96 pt (not 421, one more row when drawn; the width written a
// hair below, 297.59999999), and the job's own output read again is the
// same pixel grid.
TEST_F(Jobs, Doc2pdfOwnOutputKeepsThePixelGrid)
{
  requireTools();
  if (HasFatalFailure() || IsSkipped())
    return;
  REQUIRE_TOOL(mutool, "mutool");
  ASSERT_EQ(run({"/usr/bin/python3", "-c",
                 "from PIL import Image, ImageDraw\n"
                 "import random\n"
                 "random.seed(3)\n"
                 "im = Image.new('L', (1240, 1754), 255)\n"
                 "d = ImageDraw.Draw(im)\n"
                 "for i in range(300):\n"
                 "    x, y = random.randrange(1200), random.randrange(1700)\n"
                 "    d.rectangle([x, y, x + random.randrange(1, 30), y + random.randrange(1, 8)],\n"
                 "                fill=random.randrange(0, 200))\n"
                 "im.save('page.png', dpi=(300, 300))\n"})
                .status,
            0);
  Result r = tolm({"doc2pdf", "page.png", "a.pdf"});
  ASSERT_EQ(r.status, 0) << r.err;
  r = tolm({"doc2pdf", "a.pdf", "b.pdf"});
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* pdf : {"a.pdf", "b.pdf"}) {
    const Result info = run({"/usr/bin/pdfinfo", pdf});
    EXPECT_NE(info.out.find("size:       297.6 x 420.96 pts"), std::string::npos) << info.out;
    const auto imgs = images(pdf);
    ASSERT_EQ(imgs.size(), 1u) << pdf;
    EXPECT_EQ(imgs[0][0] + " " + imgs[0][1], "1240 1754") << pdf;
  }
  // the page as stored, and as an exact renderer draws it, is the image
  ASSERT_EQ(run({pdfimages, "-png", "a.pdf", "a"}).status, 0);
  ASSERT_EQ(run({mutool, "draw", "-q", "-r", "300", "-c", "gray", "-o", "m.pgm", "a.pdf"}).status,
            0);
  ASSERT_EQ(run({pdftoppm, "-r", "300", "-gray", "-singlefile", "b.pdf", "p"}).status, 0);
  Result same = run({"/usr/bin/python3", "-c",
                     "from PIL import Image\n"
                     "import numpy as np\n"
                     "src = np.asarray(Image.open('page.png').convert('L'))\n"
                     "for f in ['a-000.png', 'm.pgm']:\n"
                     "    im = np.asarray(Image.open(f).convert('L'))\n"
                     "    print(f, im.shape, im.shape == src.shape and (im != src).sum())\n"
                     "print('p.pgm', np.asarray(Image.open('p.pgm')).shape)\n"});
  EXPECT_EQ(same.out, "a-000.png (1754, 1240) 0\nm.pgm (1754, 1240) 0\np.pgm (1754, 1240)\n")
      << same.err;
}

// ImageMagick's TIFF at 59.06 px/cm is 150 dpi, Pillow's 300 dpi PNG holds
// 11811 px/m, and a TIFF without unit has no resolution (the job's 300).
TEST_F(Jobs, Doc2pdfPagesKeepTheirSizeWhateverTheResolutionUnit)
{
  requireTools();
  if (HasFatalFailure() || IsSkipped())
    return;
  REQUIRE_TOOL(convert, "convert");
  ASSERT_EQ(run({convert, "-size", "1240x1754", "xc:white", "-fill", "black", "-draw",
                 "rectangle 100,100 600,200", "-alpha", "off", "-type", "Grayscale", "-units",
                 "PixelsPerCentimeter", "-density", "59.06", "-compress", "lzw", "cm.tif"})
                .status,
            0);
  ASSERT_EQ(run({convert, "-size", "200x100", "xc:white", "-alpha", "off", "-type", "Grayscale",
                 "-units", "Undefined", "-density", "150", "none.tif"})
                .status,
            0);
  ASSERT_EQ(run({"/usr/bin/python3", "-c",
                 "from PIL import Image; Image.new('L', (2480, 3508), 255).save('a4.png', "
                 "dpi=(300, 300))"})
                .status,
            0);
  // Resolutions between whole dpi round to the nearest (truncated, the
  // page grew); a PNG pHYs of unit 0 is an aspect ratio, no resolution.
  ASSERT_EQ(run({"/usr/bin/python3", "-c",
                 "from PIL import Image, PngImagePlugin\n"
                 "import struct\n"
                 "Image.new('L', (600, 400), 255).save('r2999.tif', dpi=(299.9, 299.9))\n"
                 "Image.new('L', (300, 200), 255).save('r1497.tif', dpi=(149.7, 149.7))\n"
                 "Image.new('L', (600, 400), 255).save('m11800.png', dpi=(299.72, 299.72))\n"
                 "info = PngImagePlugin.PngInfo()\n"
                 "info.add(b'pHYs', struct.pack('>IIB', 2835, 2835, 0))\n"
                 "Image.new('L', (200, 100), 255).save('unit0.png', pnginfo=info)\n"
                 // resolutions that would make no page (under 3 points, over 14,400)
                 "Image.new('L', (200, 100), 255).save('giga.tif', dpi=(1e9, 1e9))\n"
                 // 4e9 pixels per metre (Pillow leaves out a pHYs given as a chunk)
                 "Image.new('L', (200, 100), 255).save('giga.png', dpi=(101600000, 101600000))\n"
                 "Image.new('L', (2000, 100), 255).save('d5.tif', dpi=(5, 5))\n"})
                .status,
            0);
  Result r = tolm({"doc2pdf", "cm.tif", "a4.png", "none.tif", "r2999.tif", "r1497.tif",
                   "m11800.png", "unit0.png", "giga.tif", "giga.png", "d5.tif", "out.pdf"});
  ASSERT_EQ(r.status, 0) << r.err;
  Result info = run({"/usr/bin/pdfinfo", "-f", "1", "-l", "10", "out.pdf"});
  const std::vector<std::string> sizes = {"Page    1 size:  595.2 x 841.92 pts",
                                          "Page    2 size:  595.2 x 841.92 pts",
                                          "Page    3 size:  48 x 24 pts",
                                          "Page    4 size:  144 x 96 pts",
                                          "Page    5 size:  144 x 96 pts",
                                          "Page    6 size:  144 x 96 pts",
                                          "Page    7 size:  48 x 24 pts",
                                          "Page    8 size:  48 x 24 pts",
                                          "Page    9 size:  48 x 24 pts",
                                          "Page   10 size:  480 x 24 pts"};
  for (const std::string& s : sizes)
    EXPECT_NE(info.out.find(s), std::string::npos) << s << "\n" << info.out;
  const std::vector<std::string> progress = progressLines(r.err);
  ASSERT_EQ(progress.size(), 10u) << r.err;
  // a stored resolution that is replaced is named
  const std::map<size_t, std::string> notes = {
    {2, "no resolution, taken as 300 dpi"},
    {6, "no resolution, taken as 300 dpi"},
    {7, "stored resolution 1000000000 dpi out of range, taken as 300 dpi"},
    {8, "stored resolution 101600000 dpi out of range, taken as 300 dpi"},
    {9, "stored resolution 5 dpi out of range, taken as 300 dpi"},
  };
  for (size_t p = 0; p < progress.size(); ++p) {
    const bool replaced = notes.count(p) != 0;
    EXPECT_EQ(progress[p].find("taken as 300 dpi") != std::string::npos, replaced) << progress[p];
    if (replaced) {
      EXPECT_NE(progress[p].find(notes.at(p)), std::string::npos) << progress[p];
    }
  }
}

// The resolution is replaced only where 300 dpi brings the page into range
// (or makes a page where the stored one makes none), and a page that stays
// out of range says so: a 1 x 1 pixel image at 72 dpi is a 1 x 1 pt page,
// not 0.24; a 100000 x 10 pixel one at 300 dpi is 24,000 pt long.
TEST_F(Jobs, Doc2pdfPagesOutOfRangeSayWhy)
{
  requireTools();
  if (HasFatalFailure() || IsSkipped())
    return;
  REQUIRE_TOOL(convert, "convert");
  ASSERT_EQ(run({"/usr/bin/python3", "-c",
                 "from PIL import Image\n"
                 "Image.new('L', (1, 1), 0).save('dot.png', dpi=(72, 72))\n"
                 "Image.new('L', (1, 1), 0).save('dot-giga.tif', dpi=(1e9, 1e9))\n"
                 "Image.new('L', (100000, 10), 255).save('long.png', dpi=(300, 300))\n"
                 "Image.new('L', (3, 50000), 255).save('tall.tif', dpi=(2, 2))\n"})
                .status,
            0);
  ASSERT_EQ(run({convert, "-size", "1000x1000", "xc:white", "-units", "PixelsPerInch",
                 "-density", "0.5", "half.tif"})
                .status,
            0);
  const struct {
    const char* file;
    const char* size; // by pdfinfo
    const char* note; // on the job's line
  } cases[] = {
    {"dot.png", "1 x 1 pts", "page 1 x 1 pt, outside the 3 to 14,400 pt a PDF page may have"},
    {"dot-giga.tif", "0.24 x 0.24 pts",
     "stored resolution 1000000000 dpi out of range, taken as 300 dpi, page 0.24 x 0.24 pt, "
     "outside the 3 to 14,400 pt a PDF page may have"},
    {"long.png", "24000 x 2.4 pts",
     "page 24000 x 2.4 pt, outside the 3 to 14,400 pt a PDF page may have"},
    {"tall.tif", "108 x 1.8e+06 pts",
     "page 108 x 1.8e+06 pt, outside the 3 to 14,400 pt a PDF page may have"},
    // under 1 dpi counts as 1
    {"half.tif", "240 x 240 pts", "stored resolution 1 dpi out of range, taken as 300 dpi"},
  };
  std::vector<std::string> args = {"doc2pdf"};
  for (const auto& c : cases)
    args.push_back(c.file);
  args.push_back("out.pdf");
  Result r = tolm(args);
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string n = std::to_string(std::size(cases));
  const Result info = run({"/usr/bin/pdfinfo", "-f", "1", "-l", n, "out.pdf"});
  const std::vector<std::string> progress = progressLines(r.err);
  ASSERT_EQ(progress.size(), std::size(cases)) << r.err;
  for (size_t i = 0; i < std::size(cases); ++i) {
    const std::string page = std::to_string(i + 1);
    EXPECT_NE(info.out.find("Page " + std::string(4 - page.size(), ' ') + page +
                            " size:  " + cases[i].size),
              std::string::npos)
      << cases[i].file << "\n" << info.out;
    EXPECT_EQ(progress[i], "tolm doc2pdf: page " + page + " of " + n + ": " + cases[i].note)
      << cases[i].file;
  }
}

// split-by-barcode lays its pages out by the same rule: a page without a
// resolution was 3.4e38 pt a side, one at 1e9 dpi 0 x 0 (a letter sheet in
// poppler).
TEST_F(Jobs, SplitByBarcodePagesTakeTheResolutionRule)
{
  requireTools();
  if (HasFatalFailure() || IsSkipped())
    return;
  ASSERT_EQ(run({"/usr/bin/python3", "-c",
                 "from PIL import Image\n"
                 "Image.new('L', (200, 100), 255).save('none.png')\n"
                 "Image.new('L', (200, 100), 255).save('giga.tif', dpi=(1e9, 1e9))\n"
                 "Image.new('L', (1, 1), 0).save('dot.png', dpi=(72, 72))\n"})
                .status,
            0);
  const struct {
    const char* file;
    const char* size;
    const char* note;
  } cases[] = {
    {"none.png", "48 x 24 pts", "no resolution, taken as 300 dpi"},
    {"giga.tif", "48 x 24 pts", "stored resolution 1000000000 dpi out of range, taken as 300 dpi"},
    {"dot.png", "1 x 1 pts", "page 1 x 1 pt, outside the 3 to 14,400 pt a PDF page may have"},
  };
  for (const auto& c : cases) {
    const Result r = tolm({"split-by-barcode", c.file, "d"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string line = std::string("tolm split-by-barcode: page 1 of 1: to d0.pdf, ") + c.note;
    EXPECT_EQ(progressLines(r.err), std::vector<std::string>{line}) << c.file;
    EXPECT_NE(run({"/usr/bin/pdfinfo", "d0.pdf"}).out.find(std::string("size:       ") + c.size),
              std::string::npos)
      << c.file;
    fs::remove(dir + "/d0.pdf");
  }
}

// A page of whole pixels is drawn at those pixels by pdftoppm and mutool at
// its own resolution, and our reader (the job reading its output again, at
// 300 dpi) draws it as they do at 300 dpi. Poppler reads "50.16" a hair above
// 50.16: 834 x 209 px at 300 dpi written as 200.16 x 50.16 pt was 834 x 210.
TEST_F(Jobs, Doc2pdfPagesDrawAtTheirPixelsInEveryReader)
{
  requireTools();
  if (HasFatalFailure() || IsSkipped())
    return;
  REQUIRE_TOOL(mutool, "mutool");
  const struct {
    int w, h, dpi;
  } cases[] = {
    {834, 209, 300},  {1240, 1754, 300}, {101, 138, 75},  {102, 107, 100}, {112, 138, 150},
    {116, 152, 200},  {108, 268, 600},   {148, 156, 1200}, {1000, 333, 301},
  };
  std::string make = "from PIL import Image\n";
  std::vector<std::string> args = {"doc2pdf"};
  for (size_t i = 0; i < std::size(cases); ++i) {
    const std::string name = "p" + std::to_string(i) + ".tif";
    make += "Image.new('L', (" + std::to_string(cases[i].w) + ", " + std::to_string(cases[i].h) +
            "), 255).save('" + name + "', dpi=(" + std::to_string(cases[i].dpi) + ", " +
            std::to_string(cases[i].dpi) + "))\n";
    args.push_back(name);
  }
  args.push_back("out.pdf");
  ASSERT_EQ(run({"/usr/bin/python3", "-c", make}).status, 0);
  Result r = tolm(args);
  ASSERT_EQ(r.status, 0) << r.err;
  r = tolm({"doc2pdf", "out.pdf", "back.pdf"});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto ours = images("back.pdf");
  ASSERT_EQ(ours.size(), std::size(cases));
  // The size in a PGM header, "P5 W H 255".
  const auto pgmSize = [&](const std::string& file) {
    std::istringstream in(testsupport::readFile(dir + "/" + file));
    std::string magic, w, h;
    in >> magic >> w >> h;
    fs::remove(dir + "/" + file);
    return w + "x" + h;
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    const std::string page = std::to_string(i + 1);
    const auto drawn = [&](int dpi) {
      const std::string res = std::to_string(dpi);
      EXPECT_EQ(run({pdftoppm, "-r", res, "-f", page, "-l", page, "-gray", "-singlefile",
                     "out.pdf", "p"})
                  .status,
                0);
      EXPECT_EQ(
        run({mutool, "draw", "-q", "-r", res, "-c", "gray", "-o", "m.pgm", "out.pdf", page})
          .status,
        0);
      return "pdftoppm " + pgmSize("p.pgm") + ", mutool " + pgmSize("m.pgm");
    };
    const std::string own = std::to_string(cases[i].w) + "x" + std::to_string(cases[i].h);
    EXPECT_EQ(drawn(cases[i].dpi), "pdftoppm " + own + ", mutool " + own)
      << own << " at " << cases[i].dpi << " dpi";
    const std::string at300 = ours[i][0] + "x" + ours[i][1];
    EXPECT_EQ(drawn(300), "pdftoppm " + at300 + ", mutool " + at300)
      << own << " at " << cases[i].dpi << " dpi, read at 300 dpi";
    if (cases[i].w * 300 % cases[i].dpi == 0 && cases[i].h * 300 % cases[i].dpi == 0) {
      EXPECT_EQ(at300, std::to_string(cases[i].w * 300 / cases[i].dpi) + "x" +
                         std::to_string(cases[i].h * 300 / cases[i].dpi));
    }
  }
}

// Gray and colour pages draw neutral in poppler, mupdf and ghostscript:
// white paper white, a mid gray R = G = B, in colour and in gray; and the
// job's own gray output read again stays gray.
TEST_F(Jobs, Doc2pdfPagesDrawNeutralInEveryRenderer)
{
  requireTools();
  if (HasFatalFailure() || IsSkipped())
    return;
  REQUIRE_TOOL(mutool, "mutool");
  REQUIRE_TOOL(gs, "gs");
  // 300 x 200 at 150 dpi: white, a 128 square at (100..200, 50..150), and on
  // the colour page a red square at the top left
  ASSERT_EQ(run({"/usr/bin/python3", "-c",
                 "from PIL import Image\n"
                 "g = Image.new('L', (300, 200), 255)\n"
                 "g.paste(128, (100, 50, 200, 150))\n"
                 "g.save('gray.png', dpi=(150, 150))\n"
                 "c = Image.new('RGB', (300, 200), 'white')\n"
                 "c.paste((128, 128, 128), (100, 50, 200, 150))\n"
                 "c.paste((200, 30, 30), (0, 0, 50, 50))\n"
                 "c.save('colour.png', dpi=(150, 150))\n"})
                .status,
            0);
  for (const char* name : {"gray", "colour"}) {
    Result r = tolm({"doc2pdf", std::string(name) + ".png", std::string(name) + ".pdf"});
    ASSERT_EQ(r.status, 0) << r.err;
  }
  const std::string pdf = "{pdf}", out = "{out}";
  const struct {
    const char* renderer;
    std::vector<std::string> args; // {pdf} and {out} replaced
  } renderers[] = {
      {"pdftoppm", {pdftoppm, "-r", "150", "-singlefile", pdf, "{base}"}},
      {"pdftoppm gray", {pdftoppm, "-r", "150", "-gray", "-singlefile", pdf, "{base}"}},
      {"mutool", {mutool, "draw", "-q", "-r", "150", "-o", out, pdf}},
      {"mutool gray", {mutool, "draw", "-q", "-r", "150", "-c", "gray", "-o", out, pdf}},
      {"gs", {gs, "-q", "-dNOPAUSE", "-dBATCH", "-sDEVICE=ppmraw", "-r150", "-o", out, pdf}},
      {"gs gray", {gs, "-q", "-dNOPAUSE", "-dBATCH", "-sDEVICE=pgmraw", "-r150", "-o", out, pdf}},
  };
  for (const char* name : {"gray", "colour"}) {
    for (const auto& rd : renderers) {
      SCOPED_TRACE(std::string(name) + " by " + rd.renderer);
      const bool grayOut = std::string(rd.renderer).find("gray") != std::string::npos;
      const std::string base = dir + "/.drawn";
      const std::string file = base + (grayOut ? ".pgm" : ".ppm");
      std::vector<std::string> args = rd.args;
      for (std::string& a : args) {
        if (a == pdf) a = std::string(name) + ".pdf";
        else if (a == out) a = file;
        else if (a == "{base}") a = base;
      }
      Result d = run(args);
      ASSERT_EQ(d.status, 0) << d.err;
      Image img;
      ASSERT_TRUE(testsupport::readPNM(img, file));
      ASSERT_EQ(img.w, 300);
      ASSERT_EQ(img.h, 200);
      const int channels = img.spp;
      for (int k = 0; k < channels; ++k) {
        EXPECT_EQ(testsupport::sampleAt(img, 250, 180, k), 255) << "white, channel " << k;
        EXPECT_NEAR(testsupport::sampleAt(img, 150, 100, k), 128, 1) << "gray, channel " << k;
        EXPECT_EQ(testsupport::sampleAt(img, 150, 100, k), testsupport::sampleAt(img, 150, 100, 0));
      }
      if (std::string(name) == "colour" && channels == 3) {
        EXPECT_NEAR(testsupport::sampleAt(img, 20, 20, 0), 200, 1);
        EXPECT_NEAR(testsupport::sampleAt(img, 20, 20, 1), 30, 1);
      }
      fs::remove(file);
    }
  }
  // the job's gray page read again: still one gray image
  Result r = tolm({"doc2pdf", "gray.pdf", "again.pdf"});
  ASSERT_EQ(r.status, 0) << r.err;
  auto imgs = images("again.pdf");
  ASSERT_EQ(imgs.size(), 1u);
  EXPECT_EQ(imgs[0][2], "gray");
  EXPECT_EQ(images("gray.pdf")[0][2], "gray");
  EXPECT_EQ(images("colour.pdf")[0][2], "rgb");
}


// An output that names an input in another spelling (a "./" path, an
// absolute one, a symbolic or a hard link) is refused before anything is
// written; the input keeps its bytes.
TEST_F(Jobs, OutputNamingAnInputIsRefused)
{
  requireTools();
  if (HasFatalFailure() || IsSkipped())
    return;
  ASSERT_EQ(python({"scan", "scan.tif"}).status, 0);
  ASSERT_EQ(tolm({"doc2pdf", "scan.tif", "s.pdf"}).status, 0);
  const std::string before = testsupport::readFile(dir + "/s.pdf");
  fs::create_symlink("s.pdf", dir + "/link.pdf");
  fs::create_hard_link(dir + "/s.pdf", dir + "/hard.pdf");
  const std::vector<std::string> listed = files();
  for (const std::string& output : {std::string("s.pdf"), std::string("./s.pdf"), dir + "/s.pdf",
                                    std::string("link.pdf"), std::string("hard.pdf")}) {
    SCOPED_TRACE(output);
    Result r = tolm({"doc2pdf", "scan.tif", "s.pdf", output, "--bw"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "tolm doc2pdf: the output " + output + " is also an input\n");
    EXPECT_EQ(testsupport::readFile(dir + "/s.pdf"), before);
    EXPECT_EQ(files(), listed);
  }
}

// A separator whose code names the scan being split, into the scan's own
// folder: that document gets the next number that names no file (the
// user's DOC-2.pdf is no document of this run), the scan and that file
// stay as they were.
TEST_F(Jobs, SplitByBarcodeNeverWritesOverItsInput)
{
  requireTools();
  if (HasFatalFailure() || IsSkipped())
    return;
  REQUIRE_TOOL(zint, "zint");
  ASSERT_EQ(run({zint, "-b", "20", "--scale=2", "--height=40", "-d", "DOC", "-o", dir + "/.c1.png"})
              .status, 0);
  ASSERT_EQ(run({zint, "-b", "20", "--scale=2", "--height=40", "-d", "NEXT", "-o", dir + "/.c2.png"})
              .status, 0);
  ASSERT_EQ(python({"stack", ".stack.tif", ".c1.png", ".c2.png"}).status, 0);
  ASSERT_EQ(tolm({"doc2pdf", ".stack.tif", "DOC.pdf"}).status, 0);
  const std::string before = testsupport::readFile(dir + "/DOC.pdf");

  Result r = tolm({"split-by-barcode", "DOC.pdf", "./"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(testsupport::readFile(dir + "/DOC.pdf"), before);
  EXPECT_EQ(files(), (std::vector<std::string>{"0.pdf", "DOC-2.pdf", "DOC.pdf", "NEXT.pdf"}));
  EXPECT_EQ(pageCount("DOC-2.pdf"), 3);
  EXPECT_NE(r.err.find("wrote ./DOC-2.pdf: 3 pages"), std::string::npos) << r.err;

  fs::remove(dir + "/0.pdf");
  fs::remove(dir + "/NEXT.pdf");
  std::ofstream(dir + "/DOC-2.pdf") << "the user's own file\n";
  r = tolm({"split-by-barcode", "DOC.pdf", "./"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(testsupport::readFile(dir + "/DOC.pdf"), before);
  EXPECT_EQ(testsupport::readFile(dir + "/DOC-2.pdf"), "the user's own file\n");
  EXPECT_EQ(files(),
            (std::vector<std::string>{"0.pdf", "DOC-2.pdf", "DOC-3.pdf", "DOC.pdf", "NEXT.pdf"}));
  EXPECT_EQ(pageCount("DOC-3.pdf"), 3);
  EXPECT_NE(r.err.find("wrote ./DOC-3.pdf: 3 pages"), std::string::npos) << r.err;
}

// A write error part-way through a split (a file size limit, a full disk):
// the documents complete before it are kept and named, the one being
// written is removed, status 1.
TEST_F(Jobs, SplitByBarcodeKeepsTheDocumentsBeforeAWriteError)
{
  requireTools();
  if (HasFatalFailure() || IsSkipped())
    return;
  // documents of 1, 1 and 8 pages: about 10, 10 and 75 KB
  makeSheets("t0t1tttttttt", {"A1", "B2"});
  if (HasFatalFailure() || IsSkipped())
    return;

  auto check = [&](const Result& r, const std::string& parts) {
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(closingLines(r.err), (std::vector<std::string>{
                      "tolm split-by-barcode: cannot write " + parts +
                        "/d-B2.pdf: write error (is the disk full?)",
                      "tolm split-by-barcode: wrote " + parts + "/d-0.pdf, " + parts +
                        "/d-A1.pdf, nothing else"}))
      << r.err;
    EXPECT_EQ(files(parts), (std::vector<std::string>{"d-0.pdf", "d-A1.pdf"}));
    for (const char* f : {"/d-0.pdf", "/d-A1.pdf"}) {
      EXPECT_EQ(run({qpdf, "--check", parts + f}).status, 0) << f;
      EXPECT_EQ(pageCount(parts + f), 1) << f;
    }
    EXPECT_FALSE(hasPartial());
  };

  fs::create_directories(dir + "/parts");
  fileLimit = 30 * 1024;
  Result r = tolm({"split-by-barcode", "stack.tif", "parts/d-"});
  fileLimit = 0;
  check(r, "parts");

  const std::string small = dir + "/small";
  fs::create_directories(small);
  if (mount("tmpfs", small.c_str(), "tmpfs", 0, "size=48k") != 0) {
    fs::remove(small);
    if (testsupport::underCI() && geteuid() == 0)
      FAIL() << "cannot mount a small tmpfs as root: " << std::strerror(errno);
    GTEST_SKIP() << "cannot mount a small tmpfs here (" << std::strerror(errno)
                 << "); the file size limit case ran";
  }
  r = tolm({"split-by-barcode", "stack.tif", "small/d-"});
  check(r, "small");
  umount2(small.c_str(), MNT_DETACH);
  fs::remove(small);
}

// SIGINT and SIGTERM a few pages into a long job: every part file removed,
// nothing under the final name, the scanner session ended, one line, and
// the status of a process ended by the signal. A split keeps the documents
// that were complete.
TEST_F(Jobs, InterruptedJobsLeaveNoPartFiles)
{
  requireTools();
  if (HasFatalFailure() || IsSkipped())
    return;
  ASSERT_EQ(python({"pages", "p40.tif", "40", "100"}).status, 0);
  makeSheets("t0tt1" + std::string(30, 't'), {"A1", "B2"});
  if (HasFatalFailure() || IsSkipped())
    return;
  fs::create_directories(dir + "/parts");
  const std::vector<std::string> inputs = files();

  const struct {
    std::vector<std::string> args;
    const char* waitFor; // the progress line to interrupt after, then how many
    int lines;
    const char* said;
    std::vector<std::string> written;
  } cases[] = {
    {{"doc2pdf", "p40.tif", "out.pdf", "--bw"}, ": page ", 3, "interrupted: nothing written", {}},
    {{"scan2pdf", "scan.pdf"}, ": page ", 3, "interrupted: nothing written", {}},
    {{"split-by-barcode", "stack.tif", "parts/d-"}, "page 6 of 35", 1,
     "interrupted: wrote parts/d-0.pdf, parts/d-A1.pdf, nothing else",
     {"parts/d-0.pdf", "parts/d-A1.pdf"}},
  };
  for (const auto& c : cases) {
    for (int sig : {SIGINT, SIGTERM}) {
      SCOPED_TRACE(c.args[0] + " " + strsignal(sig));
      std::vector<std::string> argv = c.args;
      argv.insert(argv.begin(), TOLM_EXE);
      testsupport::Child job(argv, dir,
                             {{"TOLM_HEADLESS", "1"}, {"TOLM_DSM_SANE", "0"},
                              {"TOLM_DSM_PAGES", "count=40"}});
      ASSERT_TRUE(job.waitForErr(c.waitFor, c.lines, 120)) << job.err();
      job.signal(sig);
      int signalled = 0;
      EXPECT_EQ(job.wait(120, &signalled), 128 + sig) << job.err();
      const std::string err = job.err();
      EXPECT_EQ(closingLines(err), std::vector<std::string>{"tolm " + c.args[0] + ": " + c.said})
          << err;
      EXPECT_EQ(err.find("TwainProc error"), std::string::npos) << err;
      EXPECT_FALSE(hasPartial());
      std::vector<std::string> expected = inputs;
      if (!c.written.empty()) {
        EXPECT_EQ(files("parts"), (std::vector<std::string>{"d-0.pdf", "d-A1.pdf"}));
        EXPECT_EQ(pageCount("parts/d-0.pdf"), 1);
        EXPECT_EQ(pageCount("parts/d-A1.pdf"), 2);
        for (const std::string& f : c.written)
          EXPECT_EQ(run({qpdf, "--check", f}).status, 0) << f;
        fs::remove_all(dir + "/parts");
        fs::create_directories(dir + "/parts");
      }
      EXPECT_EQ(files(), expected);
    }
  }
}

// Every job and every script write keeps what the user set on its output:
// a link stays a link and the file it names gets the document; a private
// file of another user stays private and theirs; the reader of a pipe gets
// the document. Each time the bytes are those written to a new file, and
// no temporary name is left anywhere.
TEST_F(Jobs, OutputsKeepWhatTheUserSet)
{
  requireTools();
  if (HasFatalFailure() || IsSkipped())
    return;
  ASSERT_EQ(python({"pages", "page.tif", "1", "100"}).status, 0);
  std::ofstream(dir + "/write.lua")
    << "local Tolm = require('Tolm')\n"
       "local how, out = arg[1], arg[2]\n"
       "local img = Tolm.Image.new()\n"
       "assert(Tolm.Codec.readImage('page.tif', img, '', 0) ~= 0)\n"
       "local ok\n"
       "if how == 'writeImage' then ok = Tolm.Codec.writeImage(out, img)\n"
       "elseif how == 'PDFCodec' then\n"
       "  local pdf = Tolm.PDFCodec.new(out, 'pdf', 'test')\n"
       "  pdf:beginPage(72, 72)\n"
       "  ok = pdf:showImage(img, 0, 0, 72, 72, 75, '')\n"
       "  pdf:delete()\n"
       "else\n"
       "  local c = Tolm.Codec.new(out)\n"
       "  ok = c:writeMultiImage(img, 75, '', 0)\n"
       "  c:delete()\n"
       "end\n"
       "print(ok and 'written' or 'failed')\n";
  const struct {
    std::vector<std::string> args;
    std::string output;
    bool pipe; // a TIFF needs to seek in its file: no pipe for it
  } writers[] = {
    {{"doc2pdf", "page.tif", "out.pdf"}, "out.pdf", true},
    {{"scan2pdf", "out.pdf"}, "out.pdf", true},
    {{"split-by-barcode", "page.tif", "d-"}, "d-0.pdf", true},
    {{"--script", "write.lua", "writeImage", "out.pdf"}, "out.pdf", true},
    {{"--script", "write.lua", "PDFCodec", "out.pdf"}, "out.pdf", true},
    {{"--script", "write.lua", "Codec", "out.tif"}, "out.tif", false},
  };
  const std::map<std::string, std::string> env = {{"TOLM_DSM_PAGES", "count=1"}};
  auto ran = [&](const Result& r) {
    EXPECT_EQ(r.status, 0) << r.err;
    if (!r.out.empty()) {
      EXPECT_EQ(r.out, "written\n") << r.err;
    }
  };
  for (const auto& w : writers) {
    SCOPED_TRACE(w.args[0] + " " + w.args[w.args.size() - 2]);
    const std::string out = dir + "/" + w.output;
    ran(tolm(w.args, env));
    const std::string written = testsupport::readFile(out);
    ASSERT_GT(written.size(), 100u);
    fs::remove(out);

    // a link into another folder
    fs::create_directories(dir + "/other");
    std::ofstream(dir + "/other/kept") << "the old document\n";
    fs::create_symlink("other/kept", out);
    ran(tolm(w.args, env));
    EXPECT_TRUE(fs::is_symlink(out));
    EXPECT_EQ(fs::read_symlink(out).string(), "other/kept");
    EXPECT_TRUE(testsupport::readFile(dir + "/other/kept") == written);
    EXPECT_EQ(files("other"), std::vector<std::string>{"kept"});
    EXPECT_FALSE(hasPartial());
    fs::remove(out);
    fs::remove_all(dir + "/other");

    // a private file of another user
    if (geteuid() == 0) {
      std::ofstream(out) << "private\n";
      ASSERT_EQ(chown(out.c_str(), 1000, 1000), 0);
      ASSERT_EQ(chmod(out.c_str(), 0600), 0);
      ran(tolm(w.args, env));
      struct stat st {};
      ASSERT_EQ(lstat(out.c_str(), &st), 0);
      EXPECT_TRUE(S_ISREG(st.st_mode));
      EXPECT_EQ(st.st_mode & 07777, 0600u);
      EXPECT_EQ(st.st_uid, 1000u);
      EXPECT_EQ(st.st_gid, 1000u);
      EXPECT_TRUE(testsupport::readFile(out) == written);
      EXPECT_FALSE(hasPartial());
      fs::remove(out);
    } else if (testsupport::underCI()) {
      ADD_FAILURE() << "the tests run as root under CI";
    }

    // a pipe with a reader
    if (w.pipe) {
      ASSERT_EQ(mkfifo(out.c_str(), 0644), 0);
      testsupport::Child reader({"/bin/sh", "-c", "cat '" + w.output + "' > .got"}, dir);
      ran(tolm(w.args, env));
      EXPECT_EQ(reader.wait(60), 0);
      struct stat st {};
      ASSERT_EQ(lstat(out.c_str(), &st), 0);
      EXPECT_TRUE(S_ISFIFO(st.st_mode));
      EXPECT_TRUE(testsupport::readFile(dir + "/.got") == written);
      EXPECT_FALSE(hasPartial());
      fs::remove(out);
      fs::remove(dir + "/.got");
    }
    // a device, through a link (a job's output ends in .pdf)
    if (w.pipe) {
      fs::create_symlink("/dev/null", out);
      ran(tolm(w.args, env));
      EXPECT_EQ(fs::read_symlink(out).string(), "/dev/null");
      EXPECT_TRUE(fs::is_character_file("/dev/null"));
      for (const auto& e : fs::directory_iterator("/dev"))
        EXPECT_EQ(e.path().filename().string().find("null."), std::string::npos) << e.path();
      fs::remove(out);
    }
    EXPECT_EQ(files(), (std::vector<std::string>{"page.tif", "write.lua"}));
  }
  // the documents written are whole
  ASSERT_EQ(tolm({"doc2pdf", "page.tif", "out.pdf"}).status, 0);
  EXPECT_EQ(run({qpdf, "--check", "out.pdf"}).status, 0);
}

// A name a split may take is one under which nothing stands at all: a link
// that leads nowhere (a share not mounted) is neither written through nor
// replaced, whether it is a numbered name or the document's own.
TEST_F(Jobs, SplitByBarcodeTakesLinksToNothingAsNames)
{
  requireTools();
  if (HasFatalFailure() || IsSkipped())
    return;
  makeSheets("0t0t", {"DOC"});
  if (HasFatalFailure() || IsSkipped())
    return;
  const struct {
    std::vector<std::string> links;
    std::vector<std::string> written;
  } cases[] = {
    {{"DOC-2.pdf"}, {"DOC.pdf", "DOC-3.pdf"}},
    {{"DOC.pdf"}, {"DOC-2.pdf", "DOC-3.pdf"}},
    {{"DOC.pdf", "DOC-2.pdf", "DOC-3.pdf"}, {"DOC-4.pdf", "DOC-5.pdf"}},
  };
  fs::create_directories(dir + "/share");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.links[0] + " and " + std::to_string(c.links.size() - 1) + " more");
    fs::create_directories(dir + "/out");
    for (const std::string& l : c.links)
      fs::create_symlink("../share/" + l, dir + "/out/" + l);
    Result r = tolm({"split-by-barcode", "stack.tif", "out/"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> expected = c.links;
    for (const std::string& f : c.written) {
      expected.push_back(f);
      EXPECT_NE(r.err.find("wrote out/" + f + ": 1 page\n"), std::string::npos) << r.err;
      EXPECT_EQ(pageCount("out/" + f), 1) << f;
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(files("out"), expected);
    for (const std::string& l : c.links)
      EXPECT_EQ(fs::read_symlink(dir + "/out/" + l).string(), "../share/" + l);
    EXPECT_TRUE(fs::is_empty(dir + "/share"));
    EXPECT_FALSE(hasPartial());
    fs::remove_all(dir + "/out");
  }
}

// A stop lands within two seconds even where native work never looks at
// it: a page whose JBIG2 image poppler decodes for minutes (it checks for
// a stop only between drawing operators), and a script blocked in a call
// that a signal does not end (opening a pipe no one writes to). Both are
// killed from the side: part files removed, the job's line naming what
// was put in place before, the status of the signal (with the signals'
// default actions when tolm started).
TEST_F(Jobs, StopLandsWhileNativeWorkIgnoresIt)
{
  requireTools();
  if (HasFatalFailure() || IsSkipped())
    return;
  fs::copy_file(testsupport::sourceDir() + "/tests/jobs/data/bomb_giant.pdf",
                dir + "/bomb_giant.pdf");
  ASSERT_EQ(mkfifo((dir + "/never").c_str(), 0644), 0);
  std::ofstream(dir + "/stuck.lua")
    << "local Tolm = require('Tolm')\n"
       "Tolm.catchSignals(function() end, 'tolm stuck: ')\n"
       // a document finished before the stop (as a split's) is named
       "local done = arg[1]\n"
       "if done then\n"
       "  local d = Tolm.PDFCodec.new(done, 'pdf', 'test')\n"
       "  d:beginPage(72, 72)\n"
       "  assert(d:close())\n"
       "end\n"
       "local pdf = Tolm.PDFCodec.new('out.pdf', 'pdf', 'test')\n"
       "io.stderr:write('waiting\\n')\n"
       "local ok, err, sig = Tolm.interruptible(function() return io.open('never', 'rb') end)\n"
       // reached only when the signal came before the open began
       "pdf:discard()\n"
       "io.stderr:write('tolm stuck: interrupted: ' ..\n"
       "                (done and 'wrote ' .. done .. ', nothing else' or 'nothing written') .. '\\n')\n"
       "os.exit(128 + (sig or 0))\n";
  const std::vector<std::string> inputs = files();

  // How much memory a process holds, in kB.
  auto resident = [](pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string l; std::getline(in, l);)
      if (l.rfind("VmRSS:", 0) == 0)
        return std::atol(l.c_str() + 6);
    return 0L;
  };
  const struct {
    std::vector<std::string> args;
    const char* line;
    const char* kept;
  } cases[] = {
    {{"doc2pdf", "bomb_giant.pdf", "out.pdf"}, "tolm doc2pdf: interrupted: nothing written", ""},
    {{"--script", "stuck.lua"}, "tolm stuck: interrupted: nothing written", ""},
    {{"--script", "stuck.lua", "A.pdf"}, "tolm stuck: interrupted: wrote A.pdf, nothing else",
     "A.pdf"},
  };
  for (const auto& c : cases) {
    for (int sig : {SIGINT, SIGTERM}) {
      SCOPED_TRACE(c.args[0] + " " + strsignal(sig));
      std::vector<std::string> argv = c.args;
      argv.insert(argv.begin(), TOLM_EXE);
      testsupport::Child job(argv, dir, {{"TOLM_HEADLESS", "1"}, {"TOLM_DSM_SANE", "0"}});
      if (c.args[0] == "doc2pdf") {
        // inside the decoding: the page's image takes memory by the 100 MB
        for (int i = 0; i < 6000 && resident(job.id()) < 300 * 1024; ++i)
          std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_GE(resident(job.id()), 300 * 1024) << job.err();
        ASSERT_TRUE(hasPartial());
      } else {
        ASSERT_TRUE(job.waitForErr("waiting", 1, 60)) << job.err();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
      }
      const auto sent = std::chrono::steady_clock::now();
      job.signal(sig);
      int signalled = 0;
      EXPECT_EQ(job.wait(60, &signalled), 128 + sig) << job.err();
      const double took =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - sent).count();
      EXPECT_LT(took, 2.0);
      EXPECT_EQ(jobLines(job.err()), std::vector<std::string>{c.line}) << job.err();
      EXPECT_FALSE(hasPartial());
      std::vector<std::string> expected = inputs;
      if (*c.kept) {
        expected.push_back(c.kept);
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(run({qpdf, "--check", c.kept}).status, 0);
      }
      EXPECT_EQ(files(), expected);
      if (*c.kept)
        fs::remove(dir + "/" + c.kept);
    }
  }
}

} // namespace
