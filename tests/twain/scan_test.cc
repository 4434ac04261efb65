// Whole scan jobs through the tolm executable and the source manager found
// beside it: pages from the duplex feeder into a PDF file, by native and by
// memory transfer, the triplets they sent, and a cancelled scan.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/support/TestSupport.hh"

#ifdef TOLM_EXE

namespace {

struct Job {
  int status;
  std::string out;
  std::string trace;
};

// Runs the scan script with a clean scanner environment plus `env`.
Job scan(const testsupport::TempDir& dir, const std::string& pdf, const std::string& mech,
         const std::string& env)
{
  const std::string trace = dir.file(mech + "-trace.txt");
  std::string command =
      "env -u TOLM_TWAIN_DSM -u TOLM_DSM_FILES -u TOLM_DSM_FAULTS -u TOLM_DSM_SOURCE"
      " -u TOLM_DSM_ROWPAD -u TOLM_RESOURCE_DIR TOLM_HEADLESS=1 TOLM_DSM_SANE=0 TOLM_DSM_TRACE=" + trace + " " +
      env + " timeout 60 " + TOLM_EXE + " --script " + testsupport::sourceDir() +
      "/tests/twain/scripts/scan.lua " + pdf + " " + mech + " 3 2>&1";
  Job job;
  job.status = testsupport::run(command, &job.out);
  job.trace = testsupport::readFile(trace);
  return job;
}

// The lines of `trace` contain `expected` in this order.
void expectSequence(const std::string& trace, const std::vector<std::string>& expected)
{
  std::istringstream in(trace);
  std::string line;
  size_t next = 0;
  while (next < expected.size() && std::getline(in, line))
    if (line == expected[next])
      ++next;
  EXPECT_EQ(next, expected.size()) << "missing: " << (next < expected.size() ? expected[next] : "")
                                   << "\n" << trace;
}

} // namespace

TEST(ScanJob, DuplexFeederIntoPDF)
{
  REQUIRE_TOOL(qpdf, "qpdf");
  REQUIRE_TOOL(pdfimages, "pdfimages");
  testsupport::TempDir dir;
  const std::string native = dir.file("native.pdf"), memory = dir.file("memory.pdf");

  // two sheets both sides, of which three pages are asked for
  Job job = scan(dir, native, "native", "TOLM_DSM_PAGES=count=2,seed=3");
  ASSERT_EQ(job.status, 0) << job.out;
  EXPECT_NE(job.out.find("scan: 3 pages, batch done"), std::string::npos) << job.out;
  std::string pages;
  EXPECT_EQ(testsupport::run(qpdf + " --check " + native + " >/dev/null 2>&1"), 0);
  EXPECT_EQ(testsupport::run(qpdf + " --show-npages " + native, &pages), 0);
  EXPECT_EQ(pages, "3\n");
  const std::string xfer = "DS DG_IMAGE DAT_IMAGENATIVEXFER MSG_GET -> 6";
  const std::string end = "DS DG_CONTROL DAT_PENDINGXFERS MSG_ENDXFER -> 0";
  expectSequence(job.trace, {"DSM DG_CONTROL DAT_PARENT MSG_OPENDSM -> 0",
                             "DSM DG_CONTROL DAT_ENTRYPOINT MSG_GET -> 0",
                             "DSM DG_CONTROL DAT_IDENTITY MSG_GETDEFAULT -> 0",
                             "DSM DG_CONTROL DAT_IDENTITY MSG_OPENDS -> 0",
                             "DS DG_CONTROL DAT_CALLBACK MSG_REGISTER_CALLBACK -> 0",
                             "DS DG_CONTROL DAT_CAPABILITY MSG_SET -> 0",
                             "DS DG_CONTROL DAT_USERINTERFACE MSG_ENABLEDS -> 0", xfer, end, xfer,
                             end, xfer, end,
                             "DS DG_CONTROL DAT_USERINTERFACE MSG_DISABLEDS -> 0",
                             "DSM DG_CONTROL DAT_IDENTITY MSG_CLOSEDS -> 0"});
  EXPECT_EQ(job.trace.find("-> 1"), std::string::npos) << "no call failed\n" << job.trace;

  // the same pages by memory transfer in rows the source pads
  job = scan(dir, memory, "memory", "TOLM_DSM_PAGES=count=2,seed=3 TOLM_DSM_ROWPAD=4");
  ASSERT_EQ(job.status, 0) << job.out;
  EXPECT_NE(job.trace.find("DS DG_IMAGE DAT_IMAGEMEMXFER MSG_GET -> 6"), std::string::npos);
  EXPECT_EQ(job.trace.find("-> 1"), std::string::npos) << job.trace;
  ASSERT_EQ(testsupport::run(pdfimages + " " + native + " " + dir.file("n")), 0);
  ASSERT_EQ(testsupport::run(pdfimages + " " + memory + " " + dir.file("m")), 0);
  for (const char* page : {"-000", "-001", "-002"}) {
    // gray or colour PNM, as the reader sees the page's colour space
    auto read = [&](const std::string& prefix) {
      std::string data = testsupport::readFile(dir.file(prefix + page + ".pgm"));
      return data.empty() ? testsupport::readFile(dir.file(prefix + page + ".ppm")) : data;
    };
    std::string a = read("n"), b = read("m");
    EXPECT_GT(a.size(), 827u * 1169u) << page;
    EXPECT_TRUE(a == b) << "page " << page << " differs between the mechanisms";
  }
}

TEST(ScanJob, CancelledScanEndsWithItsCloseRequest)
{
  testsupport::TempDir dir;
  Job job = scan(dir, dir.file("cancelled.pdf"), "native", "TOLM_DSM_FAULTS=cancel=1");
  // the script's own failure code: not a crash, not the time limit
  EXPECT_EQ(job.status, 2) << job.out;
  EXPECT_NE(job.out.find("CANCELLED !!!"), std::string::npos) << job.out;
  EXPECT_NE(job.out.find("scan: 0 pages, close request"), std::string::npos) << job.out;
  expectSequence(job.trace, {"DS DG_CONTROL DAT_USERINTERFACE MSG_ENABLEDS -> 0",
                             "DS DG_IMAGE DAT_IMAGENATIVEXFER MSG_GET -> 3",
                             "DS DG_CONTROL DAT_PENDINGXFERS MSG_RESET -> 0",
                             "DS DG_CONTROL DAT_USERINTERFACE MSG_DISABLEDS -> 0",
                             "DSM DG_CONTROL DAT_IDENTITY MSG_CLOSEDS -> 0"});
}

#endif
