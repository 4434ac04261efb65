// A session with our source manager, loaded the way the bridge loads it,
// for the source manager's tests.
#pragma once

#include "twain/TwainABI.hh"

#include "image/Image.hh"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace dsmtest {

using namespace twain;


inline std::mutex gMutex;
inline std::condition_variable gCond;
inline std::vector<TW_UINT16> gMessages;
inline std::vector<std::thread::id> gThreads;

inline TW_UINT16 onNotify(TW_IDENTITY*, TW_IDENTITY*, TW_UINT32, TW_UINT16, TW_UINT16 msg, TW_MEMREF)
{
  std::lock_guard<std::mutex> lock(gMutex);
  gMessages.push_back(msg);
  gThreads.push_back(std::this_thread::get_id());
  gCond.notify_all();
  return TWRC_SUCCESS;
}

inline bool waitFor(TW_UINT16 msg)
{
  std::unique_lock<std::mutex> lock(gMutex);
  return gCond.wait_for(lock, std::chrono::seconds(10), [&] {
    for (TW_UINT16 m : gMessages)
      if (m == msg)
        return true;
    return false;
  });
}

inline void setString(TW_STR32 field, const char* s)
{
  size_t n = std::strlen(s);
  field[0] = TW_UINT8(n);
  std::memcpy(field + 1, s, n);
  field[1 + n] = 0;
}

inline std::string getString(const TW_STR32 field) { return std::string((const char*)field + 1, field[0]); }

using Env = std::vector<std::pair<const char*, const char*>>;

// One session with the manager: loads it, opens it with the environment
// given, and closes everything at the end.
class Session {
public:
  explicit Session(const Env& env = Env())
  {
    for (const char* name : {"TOLM_DSM_PAGES", "TOLM_DSM_FILES", "TOLM_DSM_FAULTS",
                             "TOLM_DSM_SOURCE", "TOLM_DSM_TRACE", "TOLM_DSM_ROWPAD",
                             "TOLM_DSM_SANE"})
      unsetenv(name);
    setenv("TOLM_DSM_SANE", "0", 1); // no device probing unless a test asks for it
    for (auto& e : env)
      setenv(e.first, e.second, 1);
    lib = dlopen(TOLM_DSM_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    if (lib)
      entry = reinterpret_cast<DSMENTRYPROC>(dlsym(lib, "DSM_Entry"));
    {
      std::lock_guard<std::mutex> lock(gMutex);
      gMessages.clear();
      gThreads.clear();
    }
    app.Version.MajorNum = 1;
    setString(app.Version.Info, "test");
    app.ProtocolMajor = 2;
    app.ProtocolMinor = 3;
    app.SupportedGroups = DF_APP2 | DG_CONTROL | DG_IMAGE;
    setString(app.Manufacturer, "T");
    setString(app.ProductFamily, "T");
    setString(app.ProductName, "T");
  }
  ~Session()
  {
    if (entry) {
      TW_USERINTERFACE ui{};
      TW_PENDINGXFERS p{};
      call(&source, DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &p);
      call(&source, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui);
      call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &source);
      call(nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, nullptr);
    }
    // the library stays loaded: a later session opens it again
  }

  TW_UINT16 call(TW_IDENTITY* dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data)
  {
    return entry(&app, dest, dg, dat, msg, data);
  }
  TW_UINT16 status(TW_IDENTITY* dest = nullptr)
  {
    TW_STATUS st{};
    call(dest, DG_CONTROL, DAT_STATUS, MSG_GET, &st);
    return st.ConditionCode;
  }
  // Open the manager and the default source, register for notifications.
  void openSource()
  {
    ASSERT_EQ(call(nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, nullptr), TWRC_SUCCESS);
    ASSERT_EQ(call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETDEFAULT, &source), TWRC_SUCCESS);
    ASSERT_EQ(call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &source), TWRC_SUCCESS);
    TW_CALLBACK cb{};
    cb.CallBackProc = reinterpret_cast<TW_MEMREF>(&onNotify);
    ASSERT_EQ(call(&source, DG_CONTROL, DAT_CALLBACK, MSG_REGISTER_CALLBACK, &cb), TWRC_SUCCESS);
  }
  TW_UINT16 setOne(TW_UINT16 capCode, TW_UINT16 type, TW_UINT32 value)
  {
    TW_CAPABILITY cap{capCode, TWON_ONEVALUE, alloc(sizeof(TW_ONEVALUE))};
    auto* one = static_cast<TW_ONEVALUE*>(blockLock(cap.hContainer));
    one->ItemType = type;
    one->Item = value;
    TW_UINT16 rc = call(&source, DG_CONTROL, DAT_CAPABILITY, MSG_SET, &cap);
    free(cap.hContainer);
    return rc;
  }
  // A resolution capability, in dots per inch.
  TW_UINT16 setDpi(TW_UINT16 capCode, double dpi)
  {
    const TW_FIX32 f = toFix32(dpi);
    TW_UINT32 raw;
    std::memcpy(&raw, &f, 4);
    return setOne(capCode, TWTY_FIX32, raw);
  }
  // Memory through the manager's own functions, as a 2.x application uses
  // them (the manager refuses containers it did not allocate).
  TW_ENTRYPOINT& memory()
  {
    if (!entryPoint.DSM_MemAllocate) {
      entryPoint.Size = sizeof entryPoint;
      EXPECT_EQ(call(nullptr, DG_CONTROL, DAT_ENTRYPOINT, MSG_GET, &entryPoint), TWRC_SUCCESS);
    }
    return entryPoint;
  }
  TW_HANDLE alloc(TW_UINT32 size)
  {
    return memory().DSM_MemAllocate ? memory().DSM_MemAllocate(size) : nullptr;
  }
  void free(TW_HANDLE h)
  {
    if (memory().DSM_MemFree)
      memory().DSM_MemFree(h);
  }
  TW_UINT16 enable()
  {
    TW_USERINTERFACE ui{0, 1, nullptr};
    return call(&source, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui);
  }
  TW_UINT16 endXfer(int* count = nullptr)
  {
    TW_PENDINGXFERS p{};
    TW_UINT16 rc = call(&source, DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &p);
    if (count)
      *count = p.Count == 0xFFFF ? -1 : p.Count;
    return rc;
  }
  // One page by memory transfer into an Image; returns the last code.
  TW_UINT16 memoryPage(Image& image, TW_IMAGEINFO& info)
  {
    EXPECT_EQ(call(&source, DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info), TWRC_SUCCESS);
    TW_SETUPMEMXFER setup{};
    EXPECT_EQ(call(&source, DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, &setup), TWRC_SUCCESS);
    image.spp = uint8_t(info.SamplesPerPixel);
    image.bps = uint8_t(info.BitsPerSample[0]);
    std::vector<uint8_t> buffer(setup.Preferred);
    std::vector<uint8_t> pixels;
    unsigned bytesPerRow = 0, columns = 0;
    TW_UINT16 rc;
    do {
      TW_IMAGEMEMXFER x{};
      x.Memory.Flags = TWMF_APPOWNS | TWMF_POINTER;
      x.Memory.Length = TW_UINT32(buffer.size());
      x.Memory.TheMem = buffer.data();
      rc = call(&source, DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &x);
      if (rc != TWRC_SUCCESS && rc != TWRC_XFERDONE)
        break;
      EXPECT_LE(x.BytesWritten, x.Memory.Length);
      bytesPerRow = x.BytesPerRow;
      columns = x.Columns;
      pixels.insert(pixels.end(), buffer.begin(), buffer.begin() + x.BytesWritten);
    } while (rc == TWRC_SUCCESS);
    if (rc == TWRC_XFERDONE && bytesPerRow) {
      image.resize(int(columns), int(pixels.size() / bytesPerRow), bytesPerRow);
      std::memcpy(image.getRawData(), pixels.data(), pixels.size());
    }
    return rc;
  }

  void* lib = nullptr;
  DSMENTRYPROC entry = nullptr;
  TW_IDENTITY app{};
  TW_IDENTITY source{};
  TW_ENTRYPOINT entryPoint{};
};

} // namespace dsmtest
