// The scanner bridge: loads the source manager, keeps the protocol state of
// one application and one data source, and sends every operation through
// the manager's single entry point.
#pragma once

#include <string>
#include <vector>

#include "twain/TwainABI.hh"

class Image;
class Renderer;

namespace Norvel {

class Twain {
public:
  // Zeroes the state and initialises; null strings take the defaults
  // ("Talveri", "Pellimar", "Pellimar", "").
  Twain(TW_HANDLE parent, const char* manufacturer, const char* productFamily,
        const char* productName, TW_UINT16 major, TW_UINT16 minor, const char* info);
  virtual ~Twain();
  virtual bool SelectSource(int n);
  virtual bool OpenSource(TW_IDENTITY* identity);
  virtual bool DisableSource();

  bool InitTwain(TW_HANDLE parent, const char* manufacturer, const char* productFamily,
                 const char* productName, TW_UINT16 major, TW_UINT16 minor, const char* info);
  void ReleaseTwain();
  bool CallTwainProc(TW_IDENTITY* origin, TW_IDENTITY* destination, TW_UINT32 dg, TW_UINT16 dat,
                     TW_UINT16 msg, TW_MEMREF data);

  bool SelectDefaultSource();
  bool CloseDS();
  bool CloseDSM();
  bool EnableSource(bool showUI);

  bool GetCapability(TW_CAPABILITY& record, TW_UINT16 cap, TW_UINT16 conType = twain::TWON_DONTCARE16);
  bool SetCapability(TW_CAPABILITY& record);
  bool ResetCapability(TW_CAPABILITY& record);
  // The 32-bit item of a single-value container.
  bool GetCapability(TW_UINT16 cap, TW_UINT32& value);
  // A single INT16 (signed) or UINT16 value.
  bool SetCapability(TW_UINT16 cap, TW_UINT16 value, bool isSigned);

  bool SetImageLayout(TW_IMAGELAYOUT& layout);
  bool GetImageInfo(TW_IMAGEINFO& info);
  bool SetupMemXfer(TW_SETUPMEMXFER& setup);
  // Count of transfers still pending, -1 for "unknown", 0 on failure.
  int PendingTransfer(TW_UINT16 msg);

  // One strip appended to `image`, whose width, stride and pixel format
  // describe the strips; the return code as a signed number.
  int memoryXfer(Image& image, int rows);
  // One page by native transfer, decoded; null when none came.
  Image* nativeXfer();
  Image* CopyImage(TW_HANDLE handle);

  void TranslateMessage(const TW_EVENT& event);

  bool IsValidDriver() const { return dsmLibrary && dsmEntry; }
  bool DSMOpen() const { return IsValidDriver() && dsmOpen; }
  bool DSOpen() const { return IsValidDriver() && sourceOpen; }
  const TW_IDENTITY& GetSourceIdentity() const { return sourceIdentity; }

  // Memory through the manager's functions, or the local ones.
  TW_HANDLE memAllocate(TW_UINT32 size);
  void memFree(TW_HANDLE handle);
  TW_MEMREF memLock(TW_HANDLE handle);
  void memUnlock(TW_HANDLE handle);

  TW_ENTRYPOINT entryPoint;
  std::string bundle;     // path of the loaded manager library, "" when none
  bool newDSM;            // the manager speaks protocol 2 (callbacks per source)
  void* dsmLibrary;       // dlopen handle
  DSMENTRYPROC dsmEntry;  // "DSM_Entry"; every call goes through it
  TW_IDENTITY appIdentity;
  TW_IDENTITY sourceIdentity;
  TW_STATUS status;
  TW_UINT16 lastRC;
  TW_HANDLE parent;
  bool sourceSelected;
  bool dsmOpen;
  bool sourceOpen;
  bool sourceEnabled;
  bool modalUI;

  Twain(const Twain&) = delete;
  Twain& operator=(const Twain&) = delete;

private:
  bool ready() const { return DSMOpen(); }
  void setEnabled(bool enabled);
  Renderer* heldLoop = nullptr; // the loop kept alive while enabled
};

} // namespace Norvel

// Where the manager library is looked for, in order: TOLM_TWAIN_DSM, then
// libtolmdsm.so in the resource directory, then beside the executable.
std::vector<std::string> twainLibraryCandidates();

// Notifications: the manager's procedure (any thread) posts the message to
// the main run loop; there it calls the script global of the message.
extern "C" TW_UINT16 TWAIN_callback(TW_IDENTITY* origin, TW_IDENTITY* destination, TW_UINT32 dg,
                                    TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data);
void TWAIN_callback2(TW_UINT16 msg);
