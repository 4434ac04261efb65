// The TWAIN script module and its bridge, driven by scripts against our own
// source manager: item conversions, the results before init, the protocol
// states, capabilities, layout, both transfer mechanisms, pending transfers,
// injected faults and notifications on the main loop.
#include "twain/TwainModule.hh"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bind/LuaWrapper.hh"
#include "host/Host.hh"
#include "host/XImage.hh"
#include "lua/lauxlib.h"
#include "lua/lualib.h"
#include "renderer/RendererAppKit.hh"
#include "tests/support/TestSupport.hh"

using namespace twain;

namespace {

std::thread::id mainThreadId;

// Script prelude: an opened source.
const char* kOpen = R"(
  TWAIN.init()
  assert(TWAIN.open(), "open")
)";

// Script helpers of every test.
const char* kHelpers = R"(
  function set(cap, v) assert(TWAIN.setCapability(cap, v), "set " .. cap) end
  -- one page by memory transfer, strips of `rows` rows
  function memoryPage(rows)
    local info = TWAIN.getImageInfo()
    local img = Tolm.Image.new()
    img:setImageData(info.ImageWidth, 0, info.SamplesPerPixel, info.BitsPerSample[1], "")
    local rc, strips = 0, 0
    repeat rc = TWAIN.xferImageMemory(img, rows or 100) strips = strips + 1 until rc ~= 0
    return rc, img, info, strips
  end
)";

// Script helpers: quit(code) ends the loop; onMain() tells whether it runs
// on the thread that runs the loop.
int quitLoop(lua_State* L)
{
  host::parent_renderer->quit(int(luaL_optinteger(L, 1, 0)));
  return 0;
}
int onMain(lua_State* L)
{
  lua_pushboolean(L, std::this_thread::get_id() == mainThreadId);
  return 1;
}
bool giveUp(void*)
{
  host::parent_renderer->quit(99);
  return false;
}

// A headless root renderer, a script state with the Image class and the
// module, and the environment of our source manager.
class Scan : public ::testing::Test {
protected:
  void SetUp() override { start({}); }

  void start(const std::vector<std::pair<const char*, const char*>>& env)
  {
    for (const char* name : {"TOLM_DSM_PAGES", "TOLM_DSM_FILES", "TOLM_DSM_FAULTS",
                             "TOLM_DSM_SOURCE", "TOLM_DSM_TRACE", "TOLM_DSM_ROWPAD"})
      unsetenv(name);
    for (auto& e : env)
      setenv(e.first, e.second, 1);
    setenv("TOLM_TWAIN_DSM", TOLM_DSM_LIBRARY, 1);
    setenv("TOLM_DSM_SANE", "0", 1); // our virtual scanner alone
    setenv("TOLM_HEADLESS", "1", 1);
    mainThreadId = std::this_thread::get_id();
    if (!root) {
      root = new RendererAppKit;
      ASSERT_TRUE(root->init(nullptr));
      host::parent_renderer = root;
    }
    if (!L) {
      L = luaL_newstate();
      luaL_openlibs(L);
      LuaWrapper::DeclareToLua<XImage>(L, "Tolm");
      exportImageClass(L);
      lua_pushcfunction(L, luaopen_twain);
      ASSERT_EQ(lua_pcall(L, 0, 0, 0), 0);
      lua_register(L, "quit", quitLoop);
      lua_register(L, "onMain", onMain);
      ASSERT_EQ(exec(kHelpers), "");
    }
    // The module's bridge lives for the process; each test gets a freshly
    // opened manager that reads the environment above.
    if (Norvel::Twain* t = twainmodule::bridge()) {
      if (t->sourceEnabled)
        t->PendingTransfer(MSG_RESET);
      t->ReleaseTwain();
      t->sourceSelected = false;
      t->InitTwain(nullptr, "Talveri", "Pellimar", "Pellimar", 0, 0, "");
    }
  }

  void TearDown() override
  {
    if (Norvel::Twain* t = twainmodule::bridge()) {
      if (t->sourceEnabled)
        t->PendingTransfer(MSG_RESET);
      t->ReleaseTwain();
    }
    lua_close(L);
    L = nullptr;
    host::parent_renderer = nullptr;
    unsetenv("TOLM_DSM_SANE");
    delete root;
    root = nullptr;
  }

  // Runs a chunk; "" or the error.
  std::string exec(const std::string& code)
  {
    if (luaL_loadbuffer(L, code.data(), code.size(), "=test") || lua_pcall(L, 0, 0, 0)) {
      std::string message = lua_tostring(L, -1) ? lua_tostring(L, -1) : "(no message)";
      lua_pop(L, 1);
      return message;
    }
    return "";
  }

  // Runs the loop until the script quits it (10 s at most); its code.
  int runLoop()
  {
    root->addTimer(giveUp, 10, nullptr);
    return root->run();
  }

  // The image held by a script global.
  XImage* global(const char* name)
  {
    lua_getglobal(L, name);
    XImage** slot = LuaWrapper::LuaClass<XImage>::getRawPtr(L, -1);
    lua_pop(L, 1);
    return slot ? *slot : nullptr;
  }

  lua_State* L = nullptr;
  RendererAppKit* root = nullptr;
};

// Rows of two images agree, padding aside.
void expectSamePixels(const Image& a, const Image& b, const std::string& what)
{
  ASSERT_EQ(a.w, b.w) << what;
  ASSERT_EQ(a.h, b.h) << what;
  ASSERT_EQ(a.spp, b.spp) << what;
  ASSERT_EQ(a.bps, b.bps) << what;
  const unsigned fill = a.stridefill();
  for (int y = 0; y < a.h; ++y)
    if (std::memcmp(a.getRawData() + uint64_t(y) * a.stride(),
                    b.getRawData() + uint64_t(y) * b.stride(), fill) != 0) {
      ADD_FAILURE() << what << ": row " << y << " differs";
      return;
    }
}

} // namespace

// Runs first in a fresh process (ctest runs every case alone).
TEST_F(Scan, BeforeInit)
{
  if (twainmodule::bridge())
    GTEST_SKIP() << "a bridge exists already in this process";
  EXPECT_EQ(exec(R"(
    local function same(a, b, what) assert(a == b, what .. ": " .. tostring(a)) end
    same(TWAIN.getStatus(), -1, "getStatus")
    same(TWAIN.getRC(), -1, "getRC")
    same(TWAIN.close(), false, "close")
    same(TWAIN.disable(), false, "disable")
    same(select('#', TWAIN.getImageInfo()), 0, "getImageInfo")
    same(select('#', TWAIN.setupMemXfer()), 0, "setupMemXfer")
    same(select('#', TWAIN.pendingXfers()), 0, "pendingXfers")
    local img = Tolm.Image.new()
    same(TWAIN.xferImageMemory(img, 10), -1, "xferImageMemory")
    same(TWAIN.selectSource(0), false, "selectSource")
    same(TWAIN.open(), false, "open")
    same(TWAIN.enable(false), false, "enable")
    same(TWAIN.getCapability(1), false, "getCapability")
    same(TWAIN.setCapability(1, 1), false, "setCapability")
    same(TWAIN.resetCapability(1), false, "resetCapability")
    same(TWAIN.setImageLayout{}, false, "setImageLayout")
    same(TWAIN.xferImageNative(), nil, "xferImageNative")
    -- arguments still convert
    assert(not pcall(TWAIN.selectSource, "x"))
    assert(not pcall(TWAIN.enable))
    assert(not pcall(TWAIN.setCapability, 1))
  )"),
            "");
  // init twice: one bridge, with the defaults for missing names
  ASSERT_EQ(exec("TWAIN.init('A', nil, nil, 1, 2, 'x')"), "");
  Norvel::Twain* first = twainmodule::bridge();
  ASSERT_NE(first, nullptr);
  ASSERT_EQ(exec("TWAIN.init('B', 'C', 'D', 3, 4)"), "");
  EXPECT_EQ(twainmodule::bridge(), first);
  const TW_IDENTITY& app = first->appIdentity;
  EXPECT_EQ(std::string((const char*)app.Manufacturer + 1, app.Manufacturer[0]), "A");
  EXPECT_EQ(std::string((const char*)app.ProductFamily + 1, app.ProductFamily[0]), "Pellimar");
  EXPECT_EQ(std::string((const char*)app.ProductName + 1, app.ProductName[0]), "Pellimar");
  EXPECT_EQ(std::string((const char*)app.Version.Info + 1, app.Version.Info[0]), "x");
  EXPECT_EQ(app.Version.MajorNum, 1);
  EXPECT_EQ(app.Version.MinorNum, 2);
  EXPECT_EQ(app.ProtocolMajor, 2);
  EXPECT_EQ(app.ProtocolMinor, 3);
  EXPECT_TRUE(first->dsmOpen);
  EXPECT_NE(app.Id, 0u) << "the manager gave an id";
}

TEST(TwainFix32, BothWays)
{
  struct Case {
    double number;
    int16_t whole;
    uint16_t frac;
  } cases[] = {{1.5, 1, 32768}, {-0.5, -1, 32768}, {-2.5, -3, 32768}, {0, 0, 0}, {300, 300, 0},
               {8.5, 8, 32768}, {11, 11, 0},      {-2, -2, 0}, {1.0 / 65536, 0, 1}};
  for (const Case& c : cases) {
    TW_FIX32 f = toFix32(c.number);
    EXPECT_EQ(f.Whole, c.whole) << c.number;
    EXPECT_EQ(f.Frac, c.frac) << c.number;
  }
  EXPECT_EQ(fromFix32(TW_FIX32{-1, 32768}), -0.5);
  EXPECT_EQ(fromFix32(TW_FIX32{1, 32768}), 1.5);
  EXPECT_EQ(fromFix32(TW_FIX32{-32768, 0}), -32768);
  // out of range saturates instead of wrapping
  EXPECT_EQ(toFix32(1e9).Whole, 32767);
  EXPECT_EQ(toFix32(-1e9).Whole, -32768);
}

TEST(TwainConv, ItemsToScriptValues)
{
  lua_State* L = luaL_newstate();
  luaL_openlibs(L);
  lua_newtable(L);
  const int t = lua_gettop(L);
  auto bytes = [](std::initializer_list<int> v) {
    std::vector<uint8_t> out;
    for (int b : v)
      out.push_back(uint8_t(b));
    return out;
  };
  struct Case {
    TW_UINT16 type;
    std::vector<uint8_t> item;
    const char* expect; // tostring of the stored value, or the frame / nil
  } cases[] = {
      {TWTY_INT8, bytes({0xfe}), "-2"},
      {TWTY_UINT8, bytes({200}), "200"},
      {TWTY_INT16, bytes({0x00, 0x80}), "-32768"},
      {TWTY_UINT16, bytes({0xff, 0xff}), "65535"},
      {TWTY_INT32, bytes({0xff, 0xff, 0xff, 0xff}), "-1"},
      {TWTY_UINT32, bytes({0xff, 0xff, 0xff, 0xff}), "4294967295"},
      {TWTY_BOOL, bytes({0x00, 0x01}), "true"},
      {TWTY_BOOL, bytes({0x00, 0x00}), "false"},
      {TWTY_FIX32, bytes({0xff, 0xff, 0x00, 0x80}), "-0.5"},
      {TWTY_FRAME, bytes({0, 0, 0, 0, 1, 0, 0, 0x80, 8, 0, 0, 0x80, 11, 0, 0, 0}), "0 1.5 8.5 11"},
      {TWTY_STR32, bytes({3, 'a', 'b', 'c', 0}), "abc"},
      // a length byte past the type's capacity reads no further than it
      {TWTY_STR32, [] { std::vector<uint8_t> v(34, 'x'); v[0] = 200; return v; }(),
       "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"},
      // nor past the bytes there
      {TWTY_STR255, bytes({50, 'a', 'b'}), "ab"},
      // cut short, or types that do not convert: nothing stored
      {TWTY_INT32, bytes({1, 2}), "nil"},
      {TWTY_FRAME, bytes({0, 0, 0, 0}), "nil"},
      {TWTY_HANDLE, bytes({0, 0, 0, 0, 0, 0, 0, 0}), "nil"},
      {13, bytes({0, 0}), "nil"},
  };
  int key = 0;
  testing::internal::CaptureStderr();
  for (const Case& c : cases) {
    ++key;
    twainmodule::conv2lt(L, t, key, c.type, c.item.data(), c.item.size());
    twainmodule::conv2lt(L, -1, "k", c.type, c.item.data(), c.item.size());
    ASSERT_EQ(lua_gettop(L), t) << "stack balanced";
    lua_rawgeti(L, t, key);
    std::string got;
    if (lua_istable(L, -1)) {
      for (const char* edge : {"left", "top", "right", "bottom"}) {
        lua_getfield(L, -1, edge);
        got += (got.empty() ? "" : " ") + std::string(lua_tostring(L, -1));
        lua_pop(L, 1);
      }
    } else {
      lua_getglobal(L, "tostring");
      lua_pushvalue(L, -2);
      lua_call(L, 1, 1);
      got = lua_tostring(L, -1);
      lua_pop(L, 1);
    }
    lua_pop(L, 1);
    EXPECT_EQ(got, c.expect) << "type " << c.type;
    lua_getfield(L, t, "k");
    EXPECT_EQ(lua_isnil(L, -1), std::string(c.expect) == "nil") << "string key, type " << c.type;
    lua_pop(L, 1);
    lua_pushnil(L);
    lua_setfield(L, t, "k");
  }
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("unhandled ItemTypeT: 15\n"), std::string::npos) << err;
  EXPECT_NE(err.find("unhandled ItemTypeT: 13\n"), std::string::npos) << err;
  lua_close(L);

  const unsigned sizes[] = {1, 2, 4, 1, 2, 4, 2, 4, 16, 34, 66, 130, 256, 0, 0, 8, 0, 0};
  for (unsigned type = 0; type < sizeof sizes / sizeof *sizes; ++type)
    EXPECT_EQ(twainmodule::conv2size(TW_UINT16(type)), sizes[type]) << type;
}

// Every container type through the module, and SET / RESET of the
// capabilities our source offers.
TEST_F(Scan, Capabilities)
{
  EXPECT_EQ(exec(std::string(kOpen) + R"(
    local ok, v = TWAIN.getCapability(0x0001)              -- transfer count, INT16 one value
    assert(ok and v == -1, "xfercount " .. tostring(v))
    ok, v = TWAIN.getCapability(0x1002)                    -- feeder, BOOL
    assert(ok and v == true, "feeder")
    ok, v = TWAIN.getCapability(0x1111)                    -- physical width, FIX32
    assert(ok and math.abs(v - 8.27) < 1e-4, "width " .. tostring(v))
    ok, v = TWAIN.getCapability(0x1114)                    -- frames, FRAME
    assert(ok and v.left == 0 and v.top == 0 and math.abs(v.right - 8.27) < 1e-4, "frame")
    ok, v = TWAIN.getCapability(0x1024)                    -- serial number, STR255
    assert(ok and v == "TOLM-0001", "serial " .. tostring(v))
    ok, v = TWAIN.getCapability(0x0101)                    -- pixel types, enumeration
    assert(ok and #v == 3 and v[1] == 0 and v[3] == 2, "pixel types")
    assert(v.current == 2 and v.default == 2, "0-based indexes " .. v.current)
    ok, v = TWAIN.getCapability(0x1118)                    -- resolutions, FIX32 enumeration
    assert(ok and v[v.current + 1] == 300, "resolution")
    ok, v = TWAIN.getCapability(0x1101)                    -- brightness, range
    assert(ok and v.min == -1000 and v.max == 1000 and v.step == 1 and v.current == 0
           and v.default == 0, "range")
    ok, v = TWAIN.getCapability(0x1005)                    -- supported caps, array
    assert(ok and #v > 10, "array")
    local seen = {} for _, c in ipairs(v) do seen[c] = true end
    assert(seen[0x0101] and seen[0x1005], "array items")
    ok, v = TWAIN.getCapability(0x1234)                    -- unknown
    assert(ok == false and v == nil and TWAIN.getRC() == 1 and TWAIN.getStatus() == 13, "unknown")

    -- SET by item type: UINT16, FIX32, BOOL, INT16
    set(0x0101, 1)
    ok, v = TWAIN.getCapability(0x0101)
    assert(v.current == 1, "gray")
    set(0x1118, 150)
    ok, v = TWAIN.getCapability(0x1118)
    assert(v[v.current + 1] == 150, "150 dpi")
    set(0x1013, true)
    assert(select(2, TWAIN.getCapability(0x1013)) == true, "duplex")
    set(0x0001, 2)
    assert(select(2, TWAIN.getCapability(0x0001)) == 2, "count")
    set(0x1101, -2.5)
    assert(select(2, TWAIN.getCapability(0x1101)).current == -2.5, "brightness")
    -- refused values and types
    assert(TWAIN.setCapability(0x0101, 9) == false and TWAIN.getStatus() == 10, "bad value")
    assert(TWAIN.setCapability(0x1234, 1) == false, "unknown cap")
    assert(not pcall(TWAIN.setCapability, 0x0101, "gray"), "type error")
    -- RESET brings the defaults back
    assert(TWAIN.resetCapability(0x0101), "reset")
    assert(select(2, TWAIN.getCapability(0x0101)).current == 2, "reset pixel type")
    assert(TWAIN.resetCapability(0x1118))
    ok, v = TWAIN.getCapability(0x1118)
    assert(v[v.current + 1] == 300, "reset resolution")
    assert(TWAIN.resetCapability(0x1234) == false)
  )"),
            "");

  // Items a single-value container cannot carry are not sent.
  testing::internal::CaptureStderr();
  EXPECT_EQ(exec("assert(TWAIN.setCapability(0x1024, 1) == false)\n"
                 "assert(TWAIN.setCapability(0x1114, 1) == false)"),
            "");
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("unhandled ItemTypeS2: 12\n"), std::string::npos) << err;
  EXPECT_NE(err.find("unhandled ItemTypeS2: 8\n"), std::string::npos) << err;
}

TEST_F(Scan, StatesAndSequenceErrors)
{
  testing::internal::CaptureStderr();
  EXPECT_EQ(exec(R"(
    TWAIN.init()
    -- nothing to transfer before the source is enabled
    assert(select('#', TWAIN.getImageInfo()) == 0)
    assert(select('#', TWAIN.setupMemXfer()) == 0)
    assert(TWAIN.enable(false) == false, "enable before open")
    local ok, id = TWAIN.selectSource(1)
    assert(ok and id.ProductName == "Tolm Virtual Scanner" and id.Manufacturer == "Tolm"
           and id.ProtocolMajor == 2 and id.Version == "1.0" and id.Id >= 1, "first")
    assert(TWAIN.selectSource(2) == false and TWAIN.getRC() == 7, "end of list")
    ok, id = TWAIN.selectSource(7)                          -- user select
    assert(ok and id.ProductName == "Tolm Virtual Scanner", "user select")
    assert(TWAIN.selectSource(0))
    assert(TWAIN.open() and TWAIN.open(), "open, and again")
    assert(TWAIN.pendingXfers() == 0 and TWAIN.getRC() == 1 and TWAIN.getStatus() == 11,
           "end of transfer before enable")
    assert(TWAIN.enable(false), "enable")
    assert(TWAIN.enable(false) == false, "enabled already")
    assert(TWAIN.setCapability(0x0101, 1) == false and TWAIN.getStatus() == 11,
           "no negotiation while enabled")
    assert(TWAIN.pendingXfers(0x0007) == 0, "drop the batch")
    assert(TWAIN.disable() and TWAIN.close(), "disable, close")
    assert(TWAIN.close() == true, "close again: true with a bridge")
    assert(TWAIN.getCapability(0x0101) == false, "closed")
  )"),
            "");
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("TwainProc error: 1 11\n"), std::string::npos) << err;
  EXPECT_FALSE(twainmodule::bridge()->sourceEnabled);
}

TEST_F(Scan, LayoutOpensTheSourceAndCutsTheArea)
{
  EXPECT_EQ(exec(R"(
    TWAIN.init()
    assert(TWAIN.close() == true)
    -- returns the manager's answer: cut to the sheet is "check status"
    assert(TWAIN.setImageLayout{Right = 8.5, Bottom = 11} == false and TWAIN.getRC() == 2)
    assert(TWAIN.setImageLayout{Right = 4, Bottom = 5}, "layout")
    assert(TWAIN.setImageLayout{Left = 5, Right = 4, Bottom = 5} == false and TWAIN.getStatus() == 10)
    local ok, f = TWAIN.getCapability(0x1114)
    assert(f.right == 4 and f.bottom == 5, "frame")
    set(0x1118, 100) set(0x1119, 100)
    assert(TWAIN.enable(false))
  )"),
            "");
  // the page has the area's size
  ASSERT_TRUE(twainmodule::bridge()->sourceOpen);
  EXPECT_EQ(exec(R"(
    local info
    for i = 1, 500 do info = TWAIN.getImageInfo() if info then break end end
    assert(info and info.ImageWidth == 400 and info.ImageLength == 500,
           "size " .. tostring(info and info.ImageWidth))
    assert(info.XResolution == 100 and info.SamplesPerPixel == 3 and info.BitsPerPixel == 24
           and #info.BitsPerSample == 3 and info.Planar == false and info.Compression == 0)
  )"),
            "");
}

// Memory strips into rows padded by the source (828 bytes for 827 gray
// pixels), then the same pages by native transfer: the pixels agree.
TEST_F(Scan, MemoryAndNativeTransfers)
{
  start({{"TOLM_DSM_PAGES", "count=1,seed=9"}, {"TOLM_DSM_ROWPAD", "4"}});
  ASSERT_EQ(exec(std::string(kOpen) + R"(
    set(0x0101, 1) set(0x1118, 100) set(0x1119, 100) set(0x1013, true) set(0x0103, 2)
    assert(TWAIN.enable(false))
    local setup = TWAIN.setupMemXfer()
    assert(setup.MinBufSize > 0 and setup.Preferred >= setup.MinBufSize)
    local rc, strips
    rc, mem1, info, strips = memoryPage(100)
    assert(rc == 6, "done " .. rc)
    assert(strips == 12, "strips " .. strips)
    assert(mem1:width() == 827 and mem1:height() == 1169 and info.ImageLength == 1169)
    assert(TWAIN.pendingXfers() == 1, "one more side")
    rc, mem2 = memoryPage(1000)
    assert(rc == 6)
    assert(TWAIN.pendingXfers() == 0, "batch done")
    assert(TWAIN.disable())
    set(0x0103, 0)
    assert(TWAIN.enable(false))
    nat1 = TWAIN.xferImageNative()
    assert(nat1 and nat1:width() == 827, "native")
    assert(TWAIN.pendingXfers(0x701) == 1)
    nat2 = TWAIN.xferImageNative()
    assert(TWAIN.pendingXfers() == 0)
    -- nothing more: nil, not an image without pixels
    assert(TWAIN.xferImageNative() == nil and TWAIN.getRC() == 1)
  )"),
            "");
  XImage* mem1 = global("mem1");
  ASSERT_NE(mem1, nullptr);
  EXPECT_EQ(mem1->stride(), 828u) << "rows as the source padded them";
  expectSamePixels(*mem1, *global("nat1"), "front");
  expectSamePixels(*global("mem2"), *global("nat2"), "back");
}

TEST_F(Scan, PendingTransfers)
{
  start({{"TOLM_DSM_PAGES", "count=5"}});
  EXPECT_EQ(exec(std::string(kOpen) + R"(
    set(0x0001, 3) set(0x1118, 75) set(0x1119, 75)
    assert(TWAIN.enable(false))
    assert(TWAIN.pendingXfers(0x0001) == 3, "get")
    assert(TWAIN.xferImageNative())
    assert(TWAIN.pendingXfers() == 2)
    assert(TWAIN.xferImageNative())
    -- the rest is dropped
    assert(TWAIN.pendingXfers(0x0007) == 0, "reset")
    assert(TWAIN.pendingXfers() == 0 and TWAIN.getRC() == 1, "nothing pending")
    assert(TWAIN.disable() and TWAIN.close())
  )"),
            "");
  // an endless feeder cannot say how many: -1
  start({{"TOLM_DSM_PAGES", "endless"}});
  EXPECT_EQ(exec(std::string(kOpen) + R"(
    set(0x1118, 75) set(0x1119, 75)
    assert(TWAIN.enable(false))
    local page = TWAIN.xferImageNative()
    assert(page and page:width() > 0)
    assert(TWAIN.pendingXfers() == -1, "unknown")
    assert(TWAIN.xferImageNative())
    assert(TWAIN.pendingXfers() == -1)
  )"),
            "");
}

// Strips the image cannot take, and what the image keeps.
TEST_F(Scan, MemoryTransferEdges)
{
  start({{"TOLM_DSM_PAGES", "count=1"}});
  testing::internal::CaptureStderr();
  EXPECT_EQ(exec(std::string(kOpen) + R"(
    set(0x0101, 1) set(0x1118, 75) set(0x1119, 75) set(0x0103, 2)
    assert(TWAIN.enable(false))
    local info = TWAIN.getImageInfo()
    -- an image without a row layout: the transfer fails at once
    local img = Tolm.Image.new()
    assert(TWAIN.xferImageMemory(img, 10) == 1, "no layout")
    assert(img:height() == 0)
    -- an image of another width and no rows takes the strip's layout
    -- (1000 bytes of room: one row of the page)
    img:setImageData(10, 0, 1, 8, "")
    assert(TWAIN.xferImageMemory(img, 100) == 0)
    assert(img:width() == info.ImageWidth and img:height() == 1, "resized " .. img:width())
    -- rows of another layout after the first: appended in the image's own
    -- (70000 bytes of room: 112 rows of the page, cut in rows of 100 bytes)
    img:setImageData(100, 3, 1, 8, string.rep("x", 300))
    assert(TWAIN.xferImageMemory(img, 700) == 0)
    assert(img:width() == 100, "own width")
    local rows = math.floor(math.floor(70000 / info.ImageWidth) * info.ImageWidth / 100)
    assert(img:height() == 3 + rows, "rows " .. img:height())
    -- gray rows are too narrow for an RGB image's: the strip fails, the
    -- image keeps what it had
    img:setImageData(200, 2, 3, 8, string.rep("y", 1200))
    assert(TWAIN.xferImageMemory(img, 2) == 1, "narrow")
    assert(img:height() == 2 and img:width() == 200)
  )"),
            "");
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("Warning: image resize not supported after first stripe!\n"), std::string::npos) << err;
  EXPECT_NE(err.find("Warning: residual image data not allowed by TWAIN spec\n"), std::string::npos) << err;
}

TEST_F(Scan, FaultOpenKeepsItsCondition)
{
  start({{"TOLM_DSM_FAULTS", "open"}});
  testing::internal::CaptureStderr();
  EXPECT_EQ(exec("TWAIN.init()\n"
                 "assert(TWAIN.open() == false)\n"
                 "assert(TWAIN.getRC() == 1 and TWAIN.getStatus() == 5, 'status ' .. TWAIN.getStatus())\n"
                 "assert(TWAIN.enable(false) == false)"),
            "");
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err.find("Failed to register"), std::string::npos) << err;
}

TEST_F(Scan, FaultStripKeepsTheRowsSoFar)
{
  start({{"TOLM_DSM_FAULTS", "strip=3"}, {"TOLM_DSM_PAGES", "count=1"}});
  EXPECT_EQ(exec(std::string(kOpen) + R"(
    set(0x0103, 2) set(0x1118, 75) set(0x1119, 75)
    assert(TWAIN.enable(false))
    local rc, img, info, strips = memoryPage(50)
    assert(rc == 1 and strips == 3, "failed at 3: " .. rc .. " " .. strips)
    assert(img:height() == 100, "two strips kept " .. img:height())
    assert(TWAIN.getStatus() == 5)
  )"),
            "");
}

TEST_F(Scan, FaultWidthChangeAndOverReport)
{
  for (const char* fault : {"widthchange", "overreport"}) {
    start({{"TOLM_DSM_FAULTS", fault}, {"TOLM_DSM_PAGES", "count=1"}});
    testing::internal::CaptureStderr();
    EXPECT_EQ(exec(std::string(kOpen) + R"(
      set(0x0103, 2) set(0x1118, 75) set(0x1119, 75)
      assert(TWAIN.enable(false))
      local rc, img, info = memoryPage(100)
      assert(rc == 6, "done " .. rc)
      -- never more rows than the image was given room for
      assert(img:height() == info.ImageLength, "rows " .. img:height())
      assert(img:width() == info.ImageWidth)
    )"),
              "")
        << fault;
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find(std::string(fault) == "widthchange"
                           ? "Warning: image resize not supported after first stripe!"
                           : "Warning: bytesWitten > bufsize!!! memory clobbered???"),
              std::string::npos)
        << err;
    TearDown();
    SetUp();
  }
}

// Notifications come from the source's own thread; they reach the script
// on the main thread while the loop waits, and the pending scan keeps a
// loop with nothing else to wait for alive.
TEST_F(Scan, NotificationsOnTheMainLoop)
{
  start({{"TOLM_DSM_PAGES", "count=2"}, {"TOLM_DSM_FAULTS", "close=2"}});
  ASSERT_EQ(exec(std::string(kOpen) + R"(
    set(0x1118, 75) set(0x1119, 75)
    pages, events, main = 0, {}, true
    function twainXferReady()
      events[#events + 1] = "ready"
      main = main and onMain()
      repeat
        assert(TWAIN.xferImageNative())
        pages = pages + 1
      until TWAIN.pendingXfers() == 0
    end
    function twainCloseRequest()
      events[#events + 1] = "close"
      main = main and onMain()
      TWAIN.close()
      quit(5)
    end
    assert(TWAIN.enable(false))
  )"),
            "");
  // No timer: only the enabled source keeps the loop; a watchdog bounds it.
  std::atomic<bool> done{false};
  std::thread watchdog([&] {
    for (int i = 0; i < 1000 && !done; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!done)
      root->quit(99);
  });
  int code = root->run();
  done = true;
  watchdog.join();
  EXPECT_EQ(code, 5);
  EXPECT_EQ(exec("assert(pages == 2, 'pages ' .. pages)\n"
                 "assert(table.concat(events, ' ') == 'ready close', table.concat(events, ' '))\n"
                 "assert(main, 'on the main thread')"),
            "");
  EXPECT_FALSE(twainmodule::bridge()->sourceEnabled);
}

TEST_F(Scan, CancelAndScriptErrors)
{
  start({{"TOLM_DSM_FAULTS", "cancel=1"}});
  ASSERT_EQ(exec(std::string(kOpen) + R"(
    function twainXferReady()
      assert(TWAIN.xferImageNative() == nil, "cancelled")
      error("no page")
    end
    function twainCloseRequest()
      TWAIN.pendingXfers(0x0007)  -- the cancelled transfer ends the batch
      TWAIN.close()
      quit(TWAIN.getRC() == 0 and 3 or 4)
    end
    assert(TWAIN.enable(false))
  )"),
            "");
  testing::internal::CaptureStderr();
  EXPECT_EQ(runLoop(), 3);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("CANCELLED !!!\n"), std::string::npos) << err;
  EXPECT_NE(err.find("twainXferReady: test:"), std::string::npos) << err;
  EXPECT_NE(err.find("no page"), std::string::npos) << err;
}

// Without a source manager the bridge still exists and every call fails
// with return code 1.
TEST_F(Scan, NoSourceManager)
{
  ASSERT_EQ(exec("TWAIN.init()"), "");
  setenv("TOLM_RESOURCE_DIR", "/nonexistent", 1);
  setenv("TOLM_DEBUG", "1", 1);
  start({});
  setenv("TOLM_TWAIN_DSM", "/nonexistent/libtolmdsm.so", 1);
  testing::internal::CaptureStderr();
  Norvel::Twain* t = twainmodule::bridge();
  t->ReleaseTwain();
  EXPECT_FALSE(t->InitTwain(nullptr, "A", "B", "C", 1, 0, ""));
  std::string err = testing::internal::GetCapturedStderr();
  unsetenv("TOLM_RESOURCE_DIR");
  unsetenv("TOLM_DEBUG");
  EXPECT_NE(err.find("Failed to load any scanner source manager library"), std::string::npos) << err;
  EXPECT_FALSE(t->IsValidDriver());
  EXPECT_EQ(exec(R"(
    assert(TWAIN.selectSource(0) == false and TWAIN.getRC() == 1)
    assert(TWAIN.open() == false and TWAIN.getRC() == 1)
    assert(TWAIN.close() == true and TWAIN.disable() == true)
    assert(TWAIN.pendingXfers() == 0 and TWAIN.getRC() == 1)
    assert(TWAIN.xferImageNative() == nil)
  )"),
            "");
}
