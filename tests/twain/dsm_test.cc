// Our source manager driven through its one entry point, loaded the way the
// bridge loads it: the protocol states, capabilities, layout, transfers,
// pending transfers, notifications and injected faults.
#include "tests/twain/DsmSession.hh"

#include "codecs/Codecs.hh"
#include "image/Image.hh"
#include "tests/support/TestSupport.hh"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <mutex>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <vector>

using namespace twain;
using namespace dsmtest;


TEST(SourceManager, LoadsAndExportsOneEntry)
{
  Session s;
  ASSERT_NE(s.lib, nullptr) << dlerror();
  ASSERT_NE(s.entry, nullptr);
  EXPECT_EQ(dlsym(s.lib, "blockAllocate"), nullptr);
}

TEST(SourceManager, ManagerStatesAndSequenceErrors)
{
  Session s;
  TW_IDENTITY id{};
  // nothing works before the manager is open
  EXPECT_EQ(s.call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &id), TWRC_FAILURE);
  EXPECT_EQ(s.call(nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, nullptr), TWRC_FAILURE);
  ASSERT_EQ(s.call(nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, nullptr), TWRC_SUCCESS);
  EXPECT_TRUE(s.app.SupportedGroups & DF_DSM2) << "a 2.x manager says so";
  EXPECT_EQ(s.call(nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, nullptr), TWRC_FAILURE);
  EXPECT_EQ(s.status(), TWCC_SEQERROR);

  TW_ENTRYPOINT ep{};
  ep.Size = sizeof ep;
  ASSERT_EQ(s.call(nullptr, DG_CONTROL, DAT_ENTRYPOINT, MSG_GET, &ep), TWRC_SUCCESS);
  EXPECT_EQ(ep.DSM_Entry, s.entry);
  TW_HANDLE h = ep.DSM_MemAllocate(10);
  EXPECT_EQ(blockSize(h), 10u);
  ep.DSM_MemFree(h);

  // identities: first, next, end of list; the default one
  ASSERT_EQ(s.call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &id), TWRC_SUCCESS);
  EXPECT_EQ(getString(id.ProductName), "Tolm Virtual Scanner");
  EXPECT_NE(id.Id, 0u);
  TW_UINT16 rc;
  int n = 1;
  while ((rc = s.call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETNEXT, &id)) == TWRC_SUCCESS)
    ++n;
  EXPECT_EQ(rc, TWRC_ENDOFLIST);
  EXPECT_GE(n, 1);

  // a source cannot be closed before it is open; the manager cannot close
  // while a source is open
  ASSERT_EQ(s.call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETDEFAULT, &s.source), TWRC_SUCCESS);
  EXPECT_EQ(s.call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &s.source), TWRC_FAILURE);
  ASSERT_EQ(s.call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &s.source), TWRC_SUCCESS);
  EXPECT_EQ(s.call(nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, nullptr), TWRC_FAILURE);
  // source operations out of order
  TW_IMAGEINFO info{};
  EXPECT_EQ(s.call(&s.source, DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info), TWRC_FAILURE);
  EXPECT_EQ(s.status(&s.source), TWCC_SEQERROR);
  int count;
  EXPECT_EQ(s.endXfer(&count), TWRC_FAILURE);
  TW_USERINTERFACE ui{};
  EXPECT_EQ(s.call(&s.source, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui), TWRC_FAILURE);
  // an unknown triplet
  EXPECT_EQ(s.call(&s.source, DG_IMAGE, 0x0777, MSG_GET, &info), TWRC_FAILURE);
  EXPECT_EQ(s.status(&s.source), TWCC_BADPROTOCOL);
}

TEST(SourceManager, UserSelectTakesTheNamedSource)
{
  {
    Session s(Env{{"TOLM_DSM_SOURCE", "Tolm Virtual Scanner"}});
    ASSERT_EQ(s.call(nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, nullptr), TWRC_SUCCESS);
    TW_IDENTITY id{};
    ASSERT_EQ(s.call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_USERSELECT, &id), TWRC_SUCCESS);
    EXPECT_EQ(getString(id.ProductName), "Tolm Virtual Scanner");
  }
  {
    Session s(Env{{"TOLM_DSM_SOURCE", "no such scanner"}});
    ASSERT_EQ(s.call(nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, nullptr), TWRC_SUCCESS);
    TW_IDENTITY id{};
    EXPECT_EQ(s.call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_USERSELECT, &id), TWRC_CANCEL);
  }
}

TEST(SourceManager, Capabilities)
{
  Session s;
  s.openSource();
  struct Case {
    TW_UINT16 cap;
    TW_UINT16 conType;
    TW_UINT16 itemType;
  } cases[] = {
      {CAP_XFERCOUNT, TWON_ONEVALUE, TWTY_INT16},
      {ICAP_PIXELTYPE, TWON_ENUMERATION, TWTY_UINT16},
      {ICAP_BITDEPTH, TWON_ENUMERATION, TWTY_UINT16},
      {ICAP_XRESOLUTION, TWON_ENUMERATION, TWTY_FIX32},
      {ICAP_YRESOLUTION, TWON_ENUMERATION, TWTY_FIX32},
      {ICAP_XFERMECH, TWON_ENUMERATION, TWTY_UINT16},
      {ICAP_COMPRESSION, TWON_ENUMERATION, TWTY_UINT16},
      {CAP_FEEDERENABLED, TWON_ONEVALUE, TWTY_BOOL},
      {CAP_DUPLEXENABLED, TWON_ONEVALUE, TWTY_BOOL},
      {ICAP_PHYSICALWIDTH, TWON_ONEVALUE, TWTY_FIX32},
      {ICAP_BRIGHTNESS, TWON_RANGE, TWTY_FIX32},
      {ICAP_FRAMES, TWON_ONEVALUE, TWTY_FRAME},
      {CAP_SERIALNUMBER, TWON_ONEVALUE, TWTY_STR255},
      {CAP_SUPPORTEDCAPS, TWON_ARRAY, TWTY_UINT16},
  };
  for (const Case& c : cases) {
    TW_CAPABILITY cap{c.cap, TWON_DONTCARE16, nullptr};
    ASSERT_EQ(s.call(&s.source, DG_CONTROL, DAT_CAPABILITY, MSG_GET, &cap), TWRC_SUCCESS) << c.cap;
    EXPECT_EQ(cap.ConType, c.conType) << c.cap;
    ASSERT_NE(cap.hContainer, nullptr);
    TW_UINT16 itemType;
    std::memcpy(&itemType, blockLock(cap.hContainer), 2);
    EXPECT_EQ(itemType, c.itemType) << c.cap;
    if (c.cap == ICAP_XRESOLUTION) {
      auto* e = static_cast<TW_ENUMERATION*>(blockLock(cap.hContainer));
      TW_FIX32 cur;
      std::memcpy(&cur, e->ItemList + 4 * e->CurrentIndex, 4);
      EXPECT_EQ(fromFix32(cur), 300);
    }
    if (c.cap == CAP_SERIALNUMBER) {
      auto* p = static_cast<uint8_t*>(blockLock(cap.hContainer)) + 4;
      EXPECT_EQ(std::string((char*)p + 1, p[0]), "TOLM-0001");
    }
    s.free(cap.hContainer);
  }
  // an unknown capability
  TW_CAPABILITY unknown{0x1234, TWON_DONTCARE16, nullptr};
  EXPECT_EQ(s.call(&s.source, DG_CONTROL, DAT_CAPABILITY, MSG_GET, &unknown), TWRC_FAILURE);
  EXPECT_EQ(s.status(&s.source), TWCC_CAPUNSUPPORTED);

  // setting: a good value, a bad one, the wrong type, a read-only one
  EXPECT_EQ(s.setOne(ICAP_PIXELTYPE, TWTY_UINT16, TWPT_GRAY), TWRC_SUCCESS);
  EXPECT_EQ(s.setOne(ICAP_PIXELTYPE, TWTY_UINT16, 9), TWRC_FAILURE);
  EXPECT_EQ(s.status(&s.source), TWCC_BADVALUE);
  EXPECT_EQ(s.setOne(ICAP_PIXELTYPE, TWTY_INT32, TWPT_GRAY), TWRC_FAILURE);
  EXPECT_EQ(s.setOne(CAP_SERIALNUMBER, TWTY_STR255, 0), TWRC_FAILURE);
  EXPECT_EQ(s.status(&s.source), TWCC_CAPBADOPERATION);
  EXPECT_EQ(s.setDpi(ICAP_XRESOLUTION, 150), TWRC_SUCCESS);
  EXPECT_EQ(s.setDpi(ICAP_XRESOLUTION, 151), TWRC_FAILURE);
  EXPECT_EQ(s.setOne(CAP_XFERCOUNT, TWTY_INT16, 0), TWRC_FAILURE);
  // the current value reads back; reset brings the default
  TW_CAPABILITY cur{ICAP_PIXELTYPE, TWON_DONTCARE16, nullptr};
  ASSERT_EQ(s.call(&s.source, DG_CONTROL, DAT_CAPABILITY, MSG_GETCURRENT, &cur), TWRC_SUCCESS);
  EXPECT_EQ(static_cast<TW_ONEVALUE*>(blockLock(cur.hContainer))->Item & 0xffff, TWPT_GRAY);
  s.free(cur.hContainer);
  TW_CAPABILITY reset{ICAP_PIXELTYPE, TWON_DONTCARE16, nullptr};
  ASSERT_EQ(s.call(&s.source, DG_CONTROL, DAT_CAPABILITY, MSG_RESET, &reset), TWRC_SUCCESS);
  s.free(reset.hContainer);
  // negotiation is over once the source is enabled
  ASSERT_EQ(s.enable(), TWRC_SUCCESS);
  EXPECT_EQ(s.setOne(ICAP_PIXELTYPE, TWTY_UINT16, TWPT_BW), TWRC_FAILURE);
  EXPECT_EQ(s.status(&s.source), TWCC_SEQERROR);
}

TEST(SourceManager, LayoutIsCutToTheSheet)
{
  Session s;
  s.openSource();
  TW_IMAGELAYOUT layout{};
  layout.Frame.Right = toFix32(4);
  layout.Frame.Bottom = toFix32(50);
  EXPECT_EQ(s.call(&s.source, DG_IMAGE, DAT_IMAGELAYOUT, MSG_SET, &layout), TWRC_CHECKSTATUS);
  TW_IMAGELAYOUT back{};
  ASSERT_EQ(s.call(&s.source, DG_IMAGE, DAT_IMAGELAYOUT, MSG_GET, &back), TWRC_SUCCESS);
  EXPECT_EQ(fromFix32(back.Frame.Right), 4);
  EXPECT_NEAR(fromFix32(back.Frame.Bottom), 11.69, 1e-4);
  layout.Frame.Left = toFix32(5); // right of its own right edge
  EXPECT_EQ(s.call(&s.source, DG_IMAGE, DAT_IMAGELAYOUT, MSG_SET, &layout), TWRC_FAILURE);
  EXPECT_EQ(s.status(&s.source), TWCC_BADVALUE);

  // the page comes out with the area's size
  ASSERT_EQ(s.setDpi(ICAP_XRESOLUTION, 100), TWRC_SUCCESS);
  ASSERT_EQ(s.setDpi(ICAP_YRESOLUTION, 100), TWRC_SUCCESS);
  ASSERT_EQ(s.enable(), TWRC_SUCCESS);
  ASSERT_TRUE(waitFor(MSG_XFERREADY));
  TW_IMAGEINFO info{};
  ASSERT_EQ(s.call(&s.source, DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info), TWRC_SUCCESS);
  EXPECT_EQ(info.ImageWidth, 400);
  EXPECT_EQ(info.ImageLength, 1169);
}

// Pages by memory transfer, with padded rows, and the same page by native
// transfer: the pixels agree; three sheets in duplex are six pages.
TEST(SourceManager, MemoryAndNativeTransfersGiveTheSamePages)
{
  Session s(Env{{"TOLM_DSM_PAGES", "count=3,seed=5"}, {"TOLM_DSM_ROWPAD", "4"}});
  s.openSource();
  ASSERT_EQ(s.setDpi(ICAP_XRESOLUTION, 75), TWRC_SUCCESS);
  ASSERT_EQ(s.setDpi(ICAP_YRESOLUTION, 75), TWRC_SUCCESS);
  ASSERT_EQ(s.setOne(ICAP_PIXELTYPE, TWTY_UINT16, TWPT_RGB), TWRC_SUCCESS);
  ASSERT_EQ(s.setOne(CAP_DUPLEXENABLED, TWTY_BOOL, 1), TWRC_SUCCESS);
  ASSERT_EQ(s.setOne(ICAP_XFERMECH, TWTY_UINT16, TWSX_MEMORY), TWRC_SUCCESS);
  ASSERT_EQ(s.enable(), TWRC_SUCCESS);
  ASSERT_TRUE(waitFor(MSG_XFERREADY));
  {
    std::lock_guard<std::mutex> lock(gMutex);
    EXPECT_NE(gThreads.at(0), std::this_thread::get_id()) << "notifications come from a worker";
  }
  struct Page {
    int w, h;
    std::vector<int> samples;
  };
  std::vector<Page> pages;
  int count = 0;
  do {
    Image page;
    TW_IMAGEINFO info{};
    ASSERT_EQ(s.memoryPage(page, info), TWRC_XFERDONE);
    EXPECT_EQ(page.w, info.ImageWidth);
    EXPECT_EQ(page.h, info.ImageLength);
    EXPECT_EQ(page.stride() % 4, 0u);
    EXPECT_EQ(info.PixelType, TWPT_RGB);
    EXPECT_EQ(fromFix32(info.XResolution), 75);
    pages.push_back({page.w, page.h, testsupport::samplesOf(page)});
    ASSERT_EQ(s.endXfer(&count), TWRC_SUCCESS);
  } while (count != 0);
  EXPECT_EQ(pages.size(), 6u);

  // the same pages again through native transfers (a new batch)
  TW_USERINTERFACE ui{};
  ASSERT_EQ(s.call(&s.source, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui), TWRC_SUCCESS);
  ASSERT_EQ(s.setOne(ICAP_XFERMECH, TWTY_UINT16, TWSX_NATIVE), TWRC_SUCCESS);
  ASSERT_EQ(s.enable(), TWRC_SUCCESS);
  for (size_t i = 0; i < pages.size(); ++i) {
    TW_HANDLE h = nullptr;
    ASSERT_EQ(s.call(&s.source, DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &h), TWRC_XFERDONE);
    std::string blob(static_cast<char*>(blockLock(h)), blockSize(h));
    s.free(h);
    std::istringstream in(blob);
    Image native;
    ASSERT_GT(ImageCodec::Read(&in, native, ""), 0);
    EXPECT_EQ(native.getDecoderID(), "TIF");
    ASSERT_EQ(native.w, pages[i].w);
    ASSERT_EQ(native.h, pages[i].h);
    EXPECT_EQ(testsupport::samplesOf(native), pages[i].samples) << "page " << i;
    ASSERT_EQ(s.endXfer(&count), TWRC_SUCCESS);
    EXPECT_EQ(count, int(pages.size() - i - 1));
  }
}

// `border` scans the scanner's background all around the sheet; `tight`
// draws it but scans a sheet-sized window, so the sheet runs off the bottom
// and right.
TEST(SourceManager, VirtualScannerBorderAndTightWindow)
{
  for (const char* pages : {"count=1,border", "count=1,tight"}) {
    SCOPED_TRACE(pages);
    const bool tight = std::string(pages).find("tight") != std::string::npos;
    Session s(Env{{"TOLM_DSM_PAGES", pages}});
    s.openSource();
    ASSERT_EQ(s.setDpi(ICAP_XRESOLUTION, 75), TWRC_SUCCESS);
    ASSERT_EQ(s.setDpi(ICAP_YRESOLUTION, 75), TWRC_SUCCESS);
    ASSERT_EQ(s.setOne(ICAP_PIXELTYPE, TWTY_UINT16, TWPT_GRAY), TWRC_SUCCESS);
    ASSERT_EQ(s.enable(), TWRC_SUCCESS);
    TW_HANDLE h = nullptr;
    ASSERT_EQ(s.call(&s.source, DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &h), TWRC_XFERDONE);
    std::string blob(static_cast<char*>(blockLock(h)), blockSize(h));
    blockFree(h);
    std::istringstream in(blob);
    Image page;
    ASSERT_GT(ImageCodec::Read(&in, page, ""), 0);
    // A4 at 75 dpi is 620 x 876; a quarter inch is 18 px
    EXPECT_EQ(page.w, tight ? 620 : 656);
    EXPECT_EQ(page.h, tight ? 876 : 912);
    auto darkShare = [&](bool row, int i) {
      int dark = 0, n = row ? page.w : page.h;
      for (int k = 0; k < n; ++k)
        dark += (row ? testsupport::sampleAt(page, k, i) : testsupport::sampleAt(page, i, k)) < 100;
      return (double)dark / n;
    };
    EXPECT_GT(darkShare(true, 0), 0.99);
    EXPECT_GT(darkShare(false, 0), 0.99);
    if (tight) {
      EXPECT_LT(darkShare(true, page.h - 1), 0.1);
      EXPECT_LT(darkShare(false, page.w - 1), 0.1);
    } else {
      EXPECT_GT(darkShare(true, page.h - 1), 0.99);
      EXPECT_GT(darkShare(false, page.w - 1), 0.99);
    }
  }
}

TEST(SourceManager, TransferCountLimitsTheBatch)
{
  Session s(Env{{"TOLM_DSM_PAGES", "count=5"}});
  s.openSource();
  ASSERT_EQ(s.setOne(CAP_XFERCOUNT, TWTY_INT16, 2), TWRC_SUCCESS);
  ASSERT_EQ(s.enable(), TWRC_SUCCESS);
  int count = 0, pages = 0;
  do {
    TW_HANDLE h = nullptr;
    ASSERT_EQ(s.call(&s.source, DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &h), TWRC_XFERDONE);
    s.free(h);
    ++pages;
    ASSERT_EQ(s.endXfer(&count), TWRC_SUCCESS);
  } while (count != 0);
  EXPECT_EQ(pages, 2);
}

TEST(SourceManager, InjectedFaults)
{
  {
    Session s(Env{{"TOLM_DSM_FAULTS", "open"}});
    ASSERT_EQ(s.call(nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, nullptr), TWRC_SUCCESS);
    ASSERT_EQ(s.call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETDEFAULT, &s.source), TWRC_SUCCESS);
    EXPECT_EQ(s.call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &s.source), TWRC_FAILURE);
    EXPECT_EQ(s.status(), TWCC_OPERATIONERROR);
  }
  {
    Session s(Env{{"TOLM_DSM_FAULTS", "strip=2"}, {"TOLM_DSM_PAGES", "count=1"}});
    s.openSource();
    ASSERT_EQ(s.setOne(ICAP_XFERMECH, TWTY_UINT16, TWSX_MEMORY), TWRC_SUCCESS);
    ASSERT_EQ(s.enable(), TWRC_SUCCESS);
    Image page;
    TW_IMAGEINFO info{};
    EXPECT_EQ(s.memoryPage(page, info), TWRC_FAILURE);
    EXPECT_EQ(s.status(&s.source), TWCC_OPERATIONERROR);
  }
  {
    Session s(Env{{"TOLM_DSM_FAULTS", "cancel=1"}});
    s.openSource();
    ASSERT_EQ(s.enable(), TWRC_SUCCESS);
    TW_HANDLE h = nullptr;
    EXPECT_EQ(s.call(&s.source, DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &h), TWRC_CANCEL);
    EXPECT_TRUE(waitFor(MSG_CLOSEDSREQ));
  }
  {
    Session s(Env{{"TOLM_DSM_FAULTS", "close=1"}, {"TOLM_DSM_PAGES", "count=3"}});
    s.openSource();
    ASSERT_EQ(s.enable(), TWRC_SUCCESS);
    TW_HANDLE h = nullptr;
    ASSERT_EQ(s.call(&s.source, DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &h), TWRC_XFERDONE);
    s.free(h);
    int count = -5;
    ASSERT_EQ(s.endXfer(&count), TWRC_SUCCESS);
    EXPECT_EQ(count, 0);
    EXPECT_TRUE(waitFor(MSG_CLOSEDSREQ));
  }
  for (const char* fault : {"widthchange", "overreport"}) {
    Session s(Env{{"TOLM_DSM_FAULTS", fault}, {"TOLM_DSM_PAGES", "count=1"}});
    s.openSource();
    ASSERT_EQ(s.setOne(ICAP_XFERMECH, TWTY_UINT16, TWSX_MEMORY), TWRC_SUCCESS);
    ASSERT_EQ(s.enable(), TWRC_SUCCESS);
    std::vector<uint8_t> buffer(64 * 1024);
    bool sawFault = false;
    TW_UINT16 rc;
    unsigned firstColumns = 0;
    do {
      TW_IMAGEMEMXFER x{};
      x.Memory.Flags = TWMF_APPOWNS | TWMF_POINTER;
      x.Memory.Length = TW_UINT32(buffer.size());
      x.Memory.TheMem = buffer.data();
      rc = s.call(&s.source, DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &x);
      if (!firstColumns)
        firstColumns = x.Columns;
      if (x.Columns != firstColumns || x.BytesWritten > x.Memory.Length)
        sawFault = true;
    } while (rc == TWRC_SUCCESS);
    EXPECT_EQ(rc, TWRC_XFERDONE) << fault;
    EXPECT_TRUE(sawFault) << fault;
  }
}

TEST(SourceManager, TraceRecordsEveryTriplet)
{
  testsupport::TempDir dir;
  std::string path = dir.file("trace.txt");
  {
    Session s(Env{{"TOLM_DSM_TRACE", path.c_str()}, {"TOLM_DSM_PAGES", "count=1"}});
    s.openSource();
    ASSERT_EQ(s.enable(), TWRC_SUCCESS);
    TW_HANDLE h = nullptr;
    ASSERT_EQ(s.call(&s.source, DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &h), TWRC_XFERDONE);
    s.free(h);
    ASSERT_EQ(s.endXfer(), TWRC_SUCCESS);
  }
  std::string trace = testsupport::readFile(path);
  for (const char* line :
       {"DSM DG_CONTROL DAT_PARENT MSG_OPENDSM -> 0", "DSM DG_CONTROL DAT_IDENTITY MSG_OPENDS -> 0",
        "DS DG_CONTROL DAT_USERINTERFACE MSG_ENABLEDS -> 0",
        "DS DG_IMAGE DAT_IMAGENATIVEXFER MSG_GET -> 6",
        "DS DG_CONTROL DAT_PENDINGXFERS MSG_ENDXFER -> 0",
        "DSM DG_CONTROL DAT_PARENT MSG_CLOSEDSM -> 0"})
    EXPECT_NE(trace.find(line), std::string::npos) << line << "\n" << trace;
}

// The manager's status is there in every state: after a failed call before
// the manager is open, and after it closed.
TEST(SourceManager, StatusBeforeOpenAndAfterClose)
{
  Session s;
  TW_IDENTITY id{};
  ASSERT_EQ(s.call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &id), TWRC_FAILURE);
  TW_STATUS st{0xffff, 0xffff};
  ASSERT_EQ(s.call(nullptr, DG_CONTROL, DAT_STATUS, MSG_GET, &st), TWRC_SUCCESS);
  EXPECT_EQ(st.ConditionCode, TWCC_SEQERROR);
  EXPECT_EQ(s.status(), TWCC_SUCCESS) << "read once, then cleared";

  ASSERT_EQ(s.call(nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, nullptr), TWRC_SUCCESS);
  ASSERT_EQ(s.call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETDEFAULT, &s.source), TWRC_SUCCESS);
  ASSERT_EQ(s.call(nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, nullptr), TWRC_SUCCESS);
  EXPECT_EQ(s.call(nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, nullptr), TWRC_FAILURE);
  EXPECT_EQ(s.status(), TWCC_SEQERROR);
  // what the bridge asks after a failed call to a source that is gone
  EXPECT_EQ(s.call(&s.source, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, nullptr), TWRC_FAILURE);
  EXPECT_EQ(s.status(&s.source), TWCC_SEQERROR);
  // a status request without a record is refused, not written through
  EXPECT_EQ(s.call(nullptr, DG_CONTROL, DAT_STATUS, MSG_GET, nullptr), TWRC_FAILURE);
}

// A container the application made with its own allocator (not the
// manager's memory functions) is refused, not read past its end.
TEST(SourceManager, ForeignContainersAreRefused)
{
  Session s;
  s.openSource();
  const struct {
    const char* what;
    size_t size;
  } cases[] = {{"a bare single value", sizeof(TW_ONEVALUE)}, {"two bytes", 2}, {"one byte", 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    void* mine = std::calloc(1, c.size);
    ASSERT_NE(mine, nullptr);
    if (c.size >= sizeof(TW_ONEVALUE)) {
      TW_ONEVALUE one{TWTY_INT16, 2};
      std::memcpy(mine, &one, sizeof one);
    }
    TW_CAPABILITY cap{CAP_XFERCOUNT, TWON_ONEVALUE, mine};
    EXPECT_EQ(s.call(&s.source, DG_CONTROL, DAT_CAPABILITY, MSG_SET, &cap), TWRC_FAILURE);
    EXPECT_EQ(s.status(&s.source), TWCC_BADVALUE);
    std::free(mine);
  }
  // the same value in the manager's memory is taken; once freed it is not
  EXPECT_EQ(s.setOne(CAP_XFERCOUNT, TWTY_INT16, 2), TWRC_SUCCESS);
  TW_HANDLE h = s.alloc(sizeof(TW_ONEVALUE));
  TW_ONEVALUE one{TWTY_INT16, 3};
  std::memcpy(blockLock(h), &one, sizeof one);
  TW_CAPABILITY cap{CAP_XFERCOUNT, TWON_ONEVALUE, h};
  EXPECT_EQ(s.call(&s.source, DG_CONTROL, DAT_CAPABILITY, MSG_SET, &cap), TWRC_SUCCESS);
  s.free(h);
  EXPECT_EQ(s.memory().DSM_MemLock(h), nullptr);
}

// A C application whose notification procedure calls the manager while the
// main thread disables the source, 50 rounds: no hang (the time limit), no
// notification after the disable returned, every call answered.
TEST(SourceManager, ProcedureCallsBackWhileTheSourceIsDisabled)
{
  testsupport::TempDir dir;
  const std::string out = dir.file("out.txt");
  const std::string command = std::string("timeout -s KILL 60 '") + TOLM_DSM_CLIENT + "' '" +
                              TOLM_DSM_LIBRARY + "' 50 > '" + out + "' 2>&1";
  const int rc = std::system(command.c_str());
  const std::string said = testsupport::readFile(out);
  ASSERT_TRUE(WIFEXITED(rc)) << said;
  ASSERT_NE(WEXITSTATUS(rc), 137) << "the client hung\n" << said;
  EXPECT_EQ(WEXITSTATUS(rc), 0) << said;
  EXPECT_NE(said.find("50 rounds"), std::string::npos) << said;
}
