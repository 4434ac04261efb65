#include "twain/Twain.hh"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "host/Host.hh"
#include "image/Image.hh"
#include "platform/Resources.hh"
#include "renderer/Renderer.hh"

using namespace twain;

namespace {

// Strings go in with their length first, at most 32 characters, and a
// terminating zero after them.
void setString(TW_STR32 field, const char* s)
{
  size_t n = std::min<size_t>(std::strlen(s), 32);
  field[0] = TW_UINT8(n);
  std::memcpy(field + 1, s, n);
  field[1 + n] = 0;
}

// Local memory functions, for a manager that gives none.
TW_MEMREF localLock(TW_HANDLE h)
{
  if (!h) {
    std::fprintf(stderr, "_MemLock: 0!\n");
    return nullptr;
  }
  return blockLock(h);
}

uint64_t naturalRowBytes(uint64_t columns, int spp, int bps)
{
  return (columns * uint64_t(spp) * uint64_t(bps) + 7) / 8;
}

} // namespace

std::vector<std::string> twainLibraryCandidates()
{
  std::vector<std::string> out;
  const char* env = std::getenv("TOLM_TWAIN_DSM");
  if (env && *env)
    out.push_back(env);
  std::string dir = platform::resourceDirectory();
  if (!dir.empty())
    out.push_back(dir + (dir == "/" ? "" : "/") + "libtolmdsm.so");
  // beside the executable, when the resource directory is elsewhere
  char exe[4096];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n > 0) {
    std::string path(exe, size_t(n));
    size_t slash = path.rfind('/');
    if (slash != std::string::npos) {
      std::string candidate = path.substr(0, slash + 1) + "libtolmdsm.so";
      if (std::find(out.begin(), out.end(), candidate) == out.end())
        out.push_back(candidate);
    }
  }
  return out;
}

namespace Norvel {

Twain::Twain(TW_HANDLE parentWindow, const char* manufacturer, const char* productFamily,
             const char* productName, TW_UINT16 major, TW_UINT16 minor, const char* info)
    : entryPoint(), newDSM(false), dsmLibrary(nullptr), dsmEntry(nullptr), appIdentity(),
      sourceIdentity(), status(), lastRC(0), parent(nullptr), sourceSelected(false),
      dsmOpen(false), sourceOpen(false), sourceEnabled(false), modalUI(true)
{
  InitTwain(parentWindow, manufacturer ? manufacturer : "Talveri",
            productFamily ? productFamily : "Pellimar", productName ? productName : "Pellimar",
            major, minor, info ? info : "");
}

Twain::~Twain() { ReleaseTwain(); }

bool Twain::InitTwain(TW_HANDLE parentWindow, const char* manufacturer, const char* productFamily,
                      const char* productName, TW_UINT16 major, TW_UINT16 minor, const char* info)
{
  if (dsmLibrary && dsmEntry)
    return true;
  parent = parentWindow;
  appIdentity = TW_IDENTITY();
  appIdentity.Id = 0;
  appIdentity.Version.MajorNum = major;
  appIdentity.Version.MinorNum = minor;
  appIdentity.Version.Language = 13;
  appIdentity.Version.Country = 1;
  setString(appIdentity.Version.Info, info);
  appIdentity.ProtocolMajor = 2;
  appIdentity.ProtocolMinor = 3;
  appIdentity.SupportedGroups = DF_APP2 | DG_CONTROL | DG_IMAGE;
  setString(appIdentity.Manufacturer, manufacturer);
  setString(appIdentity.ProductFamily, productFamily);
  setString(appIdentity.ProductName, productName);

  // Every candidate is our own protocol-2 manager.
  for (const std::string& path : twainLibraryCandidates()) {
    newDSM = true;
    dsmLibrary = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (dsmLibrary) {
      bundle = path;
      break;
    }
    platform::systemLog("Source manager library failed to load: %s", dlerror());
  }
  if (!dsmLibrary) {
    platform::systemLog("Failed to load any scanner source manager library");
    return false;
  }
  dsmEntry = reinterpret_cast<DSMENTRYPROC>(dlsym(dsmLibrary, "DSM_Entry"));
  if (!dsmEntry) {
    dlclose(dsmLibrary);
    dsmLibrary = nullptr;
    bundle.clear();
    return false;
  }

  dsmOpen = CallTwainProc(&appIdentity, nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &parent);
  if (dsmOpen && (appIdentity.SupportedGroups & DF_DSM2)) {
    entryPoint.Size = sizeof(TW_ENTRYPOINT);
    if (CallTwainProc(&appIdentity, nullptr, DG_CONTROL, DAT_ENTRYPOINT, MSG_GET, &entryPoint))
      return true;
  }
  entryPoint.Size = sizeof(TW_ENTRYPOINT);
  entryPoint.DSM_Entry = dsmEntry;
  entryPoint.DSM_MemAllocate = blockAllocate;
  entryPoint.DSM_MemFree = blockFree;
  entryPoint.DSM_MemLock = localLock;
  entryPoint.DSM_MemUnlock = blockUnlock;
  return true;
}

void Twain::ReleaseTwain()
{
  if (dsmLibrary && dsmEntry) {
    CloseDSM();
    setEnabled(false);
    dlclose(dsmLibrary);
    bundle.clear();
    dsmLibrary = nullptr;
    dsmEntry = nullptr;
  }
}

bool Twain::CallTwainProc(TW_IDENTITY* origin, TW_IDENTITY* destination, TW_UINT32 dg,
                          TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data)
{
  if (!dsmLibrary || !dsmEntry) {
    lastRC = TWRC_FAILURE;
    return false;
  }
  lastRC = dsmEntry(origin, destination, dg, dat, msg, data);
  if (lastRC == TWRC_FAILURE) {
    // the status call goes straight to the manager: lastRC stays the failure
    status = TW_STATUS();
    dsmEntry(origin, destination, DG_CONTROL, DAT_STATUS, MSG_GET, &status);
    std::fprintf(stderr, "TwainProc error: %u %u\n", unsigned(lastRC),
                 unsigned(status.ConditionCode));
  }
  return lastRC == TWRC_SUCCESS;
}

TW_HANDLE Twain::memAllocate(TW_UINT32 size)
{
  return entryPoint.DSM_MemAllocate ? entryPoint.DSM_MemAllocate(size) : nullptr;
}

void Twain::memFree(TW_HANDLE handle)
{
  if (handle && entryPoint.DSM_MemFree)
    entryPoint.DSM_MemFree(handle);
}

TW_MEMREF Twain::memLock(TW_HANDLE handle)
{
  return entryPoint.DSM_MemLock ? entryPoint.DSM_MemLock(handle) : nullptr;
}

void Twain::memUnlock(TW_HANDLE handle)
{
  if (entryPoint.DSM_MemUnlock)
    entryPoint.DSM_MemUnlock(handle);
}

bool Twain::SelectSource(int n)
{
  sourceIdentity = TW_IDENTITY();
  TW_UINT16 msg = n == 0 ? MSG_GETDEFAULT : n == 1 ? MSG_GETFIRST : n == 2 ? MSG_GETNEXT
                                                                           : MSG_USERSELECT;
  sourceSelected =
      CallTwainProc(&appIdentity, nullptr, DG_CONTROL, DAT_IDENTITY, msg, &sourceIdentity);
  return sourceSelected;
}

bool Twain::SelectDefaultSource()
{
  sourceSelected = CallTwainProc(&appIdentity, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETDEFAULT,
                                 &sourceIdentity);
  return sourceSelected;
}

bool Twain::OpenSource(TW_IDENTITY* identity)
{
  if (identity)
    sourceIdentity = *identity;
  if (!ready())
    return DSOpen();
  // A second open would fail at the manager and lose track of the open one.
  if (sourceOpen)
    return true;
  if (!sourceSelected)
    SelectDefaultSource();
  sourceOpen = CallTwainProc(&appIdentity, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS,
                             &sourceIdentity);
  // Only an open source takes a callback; registering for a failed one would
  // replace the failure's condition code.
  if (sourceOpen) {
    TW_CALLBACK callback{};
    callback.CallBackProc = reinterpret_cast<TW_MEMREF>(&TWAIN_callback);
    callback.RefCon = nullptr;
    callback.Message = 0;
    if (!CallTwainProc(&appIdentity, newDSM ? &sourceIdentity : nullptr, DG_CONTROL,
                       DAT_CALLBACK, MSG_REGISTER_CALLBACK, &callback))
      std::fprintf(stderr, "Failed to register TWAIN callback\n");
  }
  return DSOpen();
}

bool Twain::CloseDS()
{
  if (!ready() || !sourceOpen)
    return false;
  DisableSource();
  bool ok = CallTwainProc(&appIdentity, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS,
                          &sourceIdentity);
  sourceOpen = false;
  return ok;
}

bool Twain::CloseDSM()
{
  if (!ready())
    return false;
  CloseDS();
  bool ok = CallTwainProc(&appIdentity, nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &parent);
  dsmOpen = false;
  return ok;
}

bool Twain::EnableSource(bool showUI)
{
  if (!ready() || !sourceOpen || sourceEnabled)
    return false;
  TW_USERINTERFACE ui{};
  ui.ShowUI = showUI;
  ui.ModalUI = 0;
  ui.hParent = parent;
  // Held before the call: the source may notify before it returns.
  setEnabled(true);
  if (CallTwainProc(&appIdentity, &sourceIdentity, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS,
                    &ui)) {
    sourceEnabled = true;
    modalUI = ui.ModalUI != 0;
  } else {
    sourceEnabled = false;
    modalUI = true;
    setEnabled(false);
  }
  return sourceEnabled;
}

bool Twain::DisableSource()
{
  if (!sourceEnabled)
    return false;
  TW_USERINTERFACE ui{};
  if (CallTwainProc(&appIdentity, &sourceIdentity, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS,
                    &ui)) {
    sourceEnabled = false;
    setEnabled(false);
  }
  return !sourceEnabled;
}

// While a source is enabled its notifications may still come, so a run loop
// with nothing else to wait for must not end.
void Twain::setEnabled(bool enabled)
{
  if (enabled && !heldLoop && host::parent_renderer) {
    heldLoop = host::parent_renderer;
    heldLoop->addEventSource();
  } else if (!enabled && heldLoop) {
    heldLoop->removeEventSource();
    heldLoop = nullptr;
  }
}

bool Twain::GetCapability(TW_CAPABILITY& record, TW_UINT16 cap, TW_UINT16 conType)
{
  if (!ready() || !sourceOpen)
    return false;
  record.Cap = cap;
  record.ConType = conType;
  record.hContainer = nullptr;
  return CallTwainProc(&appIdentity, &sourceIdentity, DG_CONTROL, DAT_CAPABILITY, MSG_GET, &record);
}

bool Twain::SetCapability(TW_CAPABILITY& record)
{
  if (!ready() || !sourceOpen)
    return false;
  return CallTwainProc(&appIdentity, &sourceIdentity, DG_CONTROL, DAT_CAPABILITY, MSG_SET, &record);
}

bool Twain::ResetCapability(TW_CAPABILITY& record)
{
  if (!ready() || !sourceOpen)
    return false;
  return CallTwainProc(&appIdentity, &sourceIdentity, DG_CONTROL, DAT_CAPABILITY, MSG_RESET,
                       &record);
}

bool Twain::GetCapability(TW_UINT16 cap, TW_UINT32& value)
{
  TW_CAPABILITY record{};
  if (!GetCapability(record, cap))
    return false;
  bool ok = false;
  if (record.hContainer) {
    if (record.ConType == TWON_ONEVALUE && blockSize(record.hContainer) >= sizeof(TW_ONEVALUE)) {
      if (auto* one = static_cast<TW_ONEVALUE*>(memLock(record.hContainer))) {
        value = one->Item;
        ok = true;
      }
      memUnlock(record.hContainer);
    }
    memFree(record.hContainer);
  }
  return ok;
}

bool Twain::SetCapability(TW_UINT16 cap, TW_UINT16 value, bool isSigned)
{
  if (!ready() || !sourceOpen)
    return false;
  TW_CAPABILITY record{};
  record.Cap = cap;
  record.ConType = TWON_ONEVALUE;
  record.hContainer = memAllocate(sizeof(TW_ONEVALUE));
  if (!record.hContainer)
    return false;
  auto* one = static_cast<TW_ONEVALUE*>(memLock(record.hContainer));
  if (!one) {
    memFree(record.hContainer);
    return false;
  }
  one->ItemType = isSigned ? TWTY_INT16 : TWTY_UINT16;
  one->Item = value;
  memUnlock(record.hContainer);
  bool ok = SetCapability(record);
  memFree(record.hContainer);
  return ok;
}

bool Twain::SetImageLayout(TW_IMAGELAYOUT& layout)
{
  if (!DSOpen() && !OpenSource(nullptr))
    return false;
  return CallTwainProc(&appIdentity, &sourceIdentity, DG_IMAGE, DAT_IMAGELAYOUT, MSG_SET, &layout);
}

bool Twain::GetImageInfo(TW_IMAGEINFO& info)
{
  if (!sourceEnabled)
    return false;
  return CallTwainProc(&appIdentity, &sourceIdentity, DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info);
}

bool Twain::SetupMemXfer(TW_SETUPMEMXFER& setup)
{
  if (!sourceEnabled)
    return false;
  return CallTwainProc(&appIdentity, &sourceIdentity, DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET,
                       &setup);
}

int Twain::PendingTransfer(TW_UINT16 msg)
{
  TW_PENDINGXFERS pending{};
  if (!CallTwainProc(&appIdentity, &sourceIdentity, DG_CONTROL, DAT_PENDINGXFERS, msg, &pending))
    return 0;
  return pending.Count == 0xFFFF ? -1 : int(pending.Count);
}

int Twain::memoryXfer(Image& image, int rows)
{
  // Materialises lazily decoded pixels before the geometry changes.
  image.getRawData();
  const int h = image.h > 0 ? image.h : 0;
  const unsigned stride = image.w > 0 && image.spp && image.bps ? image.stride() : 0;
  const uint64_t length = uint64_t(stride) * uint64_t(rows > 0 ? rows : 0);
  if (stride == 0 || rows <= 0 || length > 0xFFFFFFFFu || int64_t(h) + rows > INT32_MAX) {
    std::fprintf(stderr, "memoryXfer: image has no row layout for %d rows\n", rows);
    lastRC = TWRC_FAILURE;
    return TW_INT16(lastRC);
  }

  TW_IMAGEMEMXFER xfer;
  xfer.Compression = 0xFFFF;
  xfer.BytesPerRow = xfer.Columns = xfer.Rows = xfer.XOffset = xfer.YOffset = 0xFFFFFFFF;
  xfer.BytesWritten = 0xFFFFFFFF;
  xfer.Memory.Flags = TWMF_APPOWNS | TWMF_POINTER;
  xfer.Memory.Length = TW_UINT32(length);

  const int width = image.w;
  const unsigned ownStride = image.rowStride;
  try {
    image.resize(width, h + rows, ownStride);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "memoryXfer: %s\n", e.what());
    lastRC = TWRC_FAILURE;
    return TW_INT16(lastRC);
  }
  xfer.Memory.TheMem = image.data + uint64_t(stride) * uint64_t(h);

  int got = h;          // rows the image keeps
  unsigned keep = stride; // their stride
  int keepWidth = width;
  bool relaid = false;    // the first strip set a layout of its own
  CallTwainProc(&appIdentity, &sourceIdentity, DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &xfer);
  if ((lastRC == TWRC_SUCCESS || lastRC == TWRC_XFERDONE) && xfer.BytesWritten != 0 &&
      xfer.BytesWritten != 0xFFFFFFFF) {
    bool usable = true;
    if (xfer.Columns != TW_UINT32(width) || xfer.BytesPerRow != stride) {
      const uint64_t natural = naturalRowBytes(xfer.Columns, image.spp, image.bps);
      // Rows the image cannot describe: keep what came before.
      if (xfer.BytesPerRow == 0 || xfer.Columns == 0 || xfer.Columns > INT32_MAX ||
          xfer.BytesPerRow < natural) {
        std::fprintf(stderr, "Warning: strip of %u columns in rows of %u bytes not usable\n",
                     unsigned(xfer.Columns), unsigned(xfer.BytesPerRow));
        usable = false;
        lastRC = TWRC_FAILURE;
      } else if (h == 0) {
        keep = xfer.BytesPerRow;
        keepWidth = int(xfer.Columns);
        relaid = true;
      } else {
        std::fprintf(stderr, "Warning: image resize not supported after first stripe!\n");
      }
    }
    if (usable) {
      const TW_UINT32 written = std::min(xfer.BytesWritten, xfer.Memory.Length);
      if (xfer.BytesWritten % keep)
        std::fprintf(stderr, "Warning: residual image data not allowed by TWAIN spec\n");
      if (xfer.BytesWritten > xfer.Memory.Length)
        std::fprintf(stderr, "Warning: bytesWitten > bufsize!!! memory clobbered???\n");
      uint64_t received = written / keep; // never past the rows the buffer holds
      // nor past the rows the strip says it holds, when they are rows of ours
      if (xfer.Rows != 0xFFFFFFFF && (relaid || xfer.BytesPerRow == stride))
        received = std::min<uint64_t>(received, xfer.Rows);
      got = h + int(received);
    }
  }
  try {
    image.resize(keepWidth, got, relaid ? keep : ownStride);
  } catch (const std::exception& e) {
    // shrinking within the buffer; only a refused geometry lands here
    std::fprintf(stderr, "memoryXfer: %s\n", e.what());
    image.resize(width, h, ownStride);
  }
  image.setRawData();
  return TW_INT16(lastRC);
}

Image* Twain::nativeXfer()
{
  TW_HANDLE handle = nullptr;
  CallTwainProc(&appIdentity, &sourceIdentity, DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &handle);
  if (lastRC == TWRC_FAILURE) {
    std::fprintf(stderr, "FAILURE !!!\n");
    return nullptr;
  }
  if (lastRC == TWRC_CANCEL) {
    std::fprintf(stderr, "CANCELLED !!!\n");
    return nullptr;
  }
  if (lastRC != TWRC_XFERDONE)
    return nullptr;
  Image* image = CopyImage(handle);
  memFree(handle);
  return image;
}

Image* Twain::CopyImage(TW_HANDLE handle)
{
  Image* image = nullptr;
  const char* bytes = static_cast<const char*>(memLock(handle));
  if (bytes) {
    // On the heap: a reader that decodes lazily (a PDF page) keeps the
    // stream, and a negative result hands it over.
    std::unique_ptr<std::istringstream> blob(
        new std::istringstream(std::string(bytes, size_t(blockSize(handle)))));
    memUnlock(handle);
    image = new Image;
    const int res = ImageCodec::Read(blob.get(), *image, "", "", 0);
    if (res < 0)
      blob.release(); // now the attached reader's
    if (res == 0) {
      std::fprintf(stderr, "failed to read image?\n");
      delete image;
      image = nullptr;
    }
  } else {
    std::fprintf(stderr, "failed to read image?\n");
  }
  std::fprintf(stderr, "copy returning\n");
  return image;
}

void Twain::TranslateMessage(const TW_EVENT& event)
{
  if (event.TWMessage == MSG_XFERREADY || event.TWMessage == MSG_CLOSEDSREQ)
    TWAIN_callback2(event.TWMessage);
}

} // namespace Norvel
