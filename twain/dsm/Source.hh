// A data source of our source manager: the protocol state machine, the
// capability table and the two transfer mechanisms, over a page feed that
// supplies the pages (generated or read from files, or a scanner device).
#pragma once

#include "twain/TwainABI.hh"
#include "image/Image.hh"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace twaindsm {

// What the source asks of the page feed, in the units the protocol uses.
struct ScanSettings {
  int pixelType = twain::TWPT_RGB; // TWPT_BW, TWPT_GRAY, TWPT_RGB
  int bitDepth = 8;
  double xres = 300, yres = 300;
  bool duplex = false;
  bool feeder = true;
  double brightness = 0; // -1000..1000
  // Area in inches from the top-left corner of the sheet; right/bottom 0
  // mean the whole sheet.
  double left = 0, top = 0, right = 0, bottom = 0;
};

class PageFeed {
public:
  virtual ~PageFeed() = default;
  virtual bool open(std::string& why) { (void)why; return true; }
  virtual void close() {}
  // Starts a batch with these settings.
  virtual void start(const ScanSettings& settings) { (void)settings; }
  // Whether another page can come, and how many (-1: not known).
  virtual bool more() = 0;
  virtual int remaining() const { return -1; }
  // The next page in the settings' pixel type and resolution; false with a
  // condition code when the device fails (TWCC_*), or with TWRC_CANCEL
  // semantics when `cancelled` is set.
  virtual bool next(Image& page, TW_UINT16& cc, bool& cancelled) = 0;
  // Stops feeding after the current page.
  virtual void stop() {}
  // The sheet size in inches.
  virtual double sheetWidth() const { return 8.27; }
  virtual double sheetHeight() const { return 11.69; }
  virtual std::vector<double> resolutions() const { return {75, 100, 150, 200, 300, 400, 600}; }
  // A device that takes any resolution in a range says so here instead.
  virtual bool resolutionRange(double& min, double& max, double& step) const
  {
    (void)min, (void)max, (void)step;
    return false;
  }
  virtual bool hasBrightness() const { return true; }
  virtual bool canFeed() const { return true; }
  virtual std::vector<int> pixelTypes() const
  {
    return {twain::TWPT_BW, twain::TWPT_GRAY, twain::TWPT_RGB};
  }
  virtual bool canDuplex() const { return true; }
};

// The manager's memory functions (given to applications as its entry
// points). Lock and size give null and 0 for a handle the manager did not
// allocate (or already freed); free ignores such a handle.
TW_HANDLE dsmAllocate(TW_UINT32 size);
void dsmFree(TW_HANDLE h);
TW_MEMREF dsmLock(TW_HANDLE h);
void dsmUnlock(TW_HANDLE h);
bool dsmOwns(TW_HANDLE h);
uint64_t dsmSize(TW_HANDLE h);

// A notification thread the source no longer waits for: the manager joins
// it after releasing its lock (the thread may be calling into the manager).
// Called with the manager's lock held.
void retireThread(std::thread&& t);

// Calls `each(key, value)` for every "key" or "key=value" of a comma list,
// the form the switches of the source manager take.
void forEachWord(const std::string& words,
                 const std::function<void(const std::string&, const std::string&)>& each);

// Fault injection for tests, parsed from a word list such as
// "open,strip=3,cancel=2,close=1,widthchange,overreport".
struct Faults {
  bool openFails = false;
  int stripFailsAt = 0;  // the Nth memory strip of the batch fails (1-based)
  int cancelAt = 0;      // the transfer of page N is cancelled
  int closeAfter = 0;    // after page N's end of transfer, ask to close
  bool widthChange = false; // Columns change after the first strip of a page
  bool overReport = false;  // BytesWritten claims more than the buffer holds
  static Faults parse(const std::string& words);
};

struct Capability;

class Source {
public:
  Source(std::unique_ptr<PageFeed> feed, const std::string& manufacturer,
         const std::string& family, const std::string& product, const Faults& faults);
  ~Source();

  TW_IDENTITY identity{};
  TW_IDENTITY appIdentity{};
  // The application's notification procedure.
  void setCallback(TWAINCALLBACKPROC proc) { notifier->callback = proc; }

  bool isOpen() const { return state >= 4; }
  TW_UINT16 open(TW_UINT16& cc);
  void close();

  // One triplet addressed to this source; cc is set on failure.
  TW_UINT16 entry(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data, TW_UINT16& cc);

  int currentState() const { return state; }

private:
  TW_UINT16 capability(TW_UINT16 msg, TW_CAPABILITY* cap, TW_UINT16& cc);
  TW_UINT16 userInterface(TW_UINT16 msg, TW_USERINTERFACE* ui, TW_UINT16& cc);
  TW_UINT16 imageInfo(TW_IMAGEINFO* info, TW_UINT16& cc);
  TW_UINT16 imageLayout(TW_UINT16 msg, TW_IMAGELAYOUT* layout, TW_UINT16& cc);
  TW_UINT16 setupMemXfer(TW_SETUPMEMXFER* setup, TW_UINT16& cc);
  TW_UINT16 beginTransfer(bool haveData, bool stateOk, TW_UINT16 mechanism, TW_UINT16& cc);
  TW_UINT16 memXfer(TW_IMAGEMEMXFER* xfer, TW_UINT16& cc);
  TW_UINT16 nativeXfer(TW_HANDLE* handle, TW_UINT16& cc);
  TW_UINT16 pendingXfers(TW_UINT16 msg, TW_PENDINGXFERS* pending, TW_UINT16& cc);

  Capability* find(TW_UINT16 cap);
  ScanSettings settings() const;
  bool ensurePage(TW_UINT16& cc, bool& cancelled);
  unsigned naturalRowBytes() const;
  void notifyLater(TW_UINT16 msg);
  // Drops the notifications not yet delivered and hands their thread to
  // the manager.
  void dropNotifications();
  int pagesAllowed() const;

  std::unique_ptr<PageFeed> feed;
  Faults faults;
  std::vector<std::unique_ptr<Capability>> caps;
  int state = 3; // 3 closed, 4 open, 5 enabled, 6 transfer ready, 7 transferring

  // What a notification thread shares with the source; it reads it without
  // the manager's lock and may outlive the source. A notification made in
  // an earlier epoch is no longer delivered: its state has passed.
  struct Notifier {
    std::atomic<TWAINCALLBACKPROC> callback{nullptr};
    std::atomic<uint64_t> epoch{0};
  };
  std::shared_ptr<Notifier> notifier = std::make_shared<Notifier>();
  std::thread worker;

  // The batch in progress.
  Image page;
  bool havePage = false;
  int pagesDone = 0;    // pages whose transfer ended in this batch
  int stripsSent = 0;   // memory strips of the batch
  int pageRow = 0;      // next row of the page for memory transfers
  bool stopRequested = false;
  unsigned rowPad = 1;  // memory rows padded to a multiple of this
};

} // namespace twaindsm
