// Scanner devices through SANE: one data source per device, its options
// behind the protocol's capabilities, its frames read into pages.
//
// Pages are read whole on a worker thread and waited for with a deadline
// (TOLM_SANE_TIMEOUT seconds, 120 by default): a device that stops
// answering is cancelled and the transfer fails instead of hanging. A read
// that does not come back even then is left to itself: the device is not
// called again, nor is SANE ended, since either may wait for that read.
#include "twain/dsm/Source.hh"

#include "utility/Saturate.hh"

#include <sane/sane.h>
#include <sane/saneopts.h>

#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace twaindsm {

namespace {

bool gSaneInitialised = false;
// A read was left behind: SANE may be waiting for it anywhere.
bool gReadAbandoned = false;

// Bytes a page may take: a hostile or broken device cannot make us
// allocate without end.
constexpr uint64_t kMaxPageBytes = uint64_t(1) << 31;

std::string lower(std::string s)
{
  for (char& c : s)
    c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

TW_UINT16 conditionOf(SANE_Status st)
{
  switch (st) {
  case SANE_STATUS_JAMMED: return twain::TWCC_PAPERJAM;
  case SANE_STATUS_NO_DOCS: return twain::TWCC_NOMEDIA;
  case SANE_STATUS_COVER_OPEN: return twain::TWCC_OPERATIONERROR;
  case SANE_STATUS_NO_MEM: return twain::TWCC_LOWMEMORY;
  case SANE_STATUS_DEVICE_BUSY: return twain::TWCC_OPERATIONERROR;
  case SANE_STATUS_IO_ERROR: return twain::TWCC_CHECKDEVICEONLINE;
  default: return twain::TWCC_OPERATIONERROR;
  }
}

struct Option {
  int index = -1;
  const SANE_Option_Descriptor* d = nullptr;
  explicit operator bool() const { return d != nullptr; }
};

double toDouble(const SANE_Option_Descriptor* d, SANE_Word w)
{
  return d->type == SANE_TYPE_FIXED ? SANE_UNFIX(w) : double(w);
}

SANE_Word fromDouble(const SANE_Option_Descriptor* d, double v)
{
  return d->type == SANE_TYPE_FIXED ? SANE_FIX(v) : SANE_Word(saturate_cast<int>(std::lround(v)));
}

// SIGINT, SIGTERM and SIGHUP are the application's: it stops a job with
// them where the job can clean up. A backend may set their actions when a
// scan starts (SANE's test backend resets SIGTERM to its default in the
// thread it reads with, as soon as that thread starts), and the next
// signal would then end the process. A scan runs on a thread of its own
// under a filter that turns such a change, by that thread or any it
// starts, into a call that succeeds and does nothing; where the filter
// cannot be had, the actions in place before each call into SANE are put
// back after it, which leaves a short window while a backend thread
// starts.
const int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

class KeptSignals {
public:
  KeptSignals()
  {
    for (int i = 0; i < kCount; ++i)
      held[i] = sigaction(kStopSignals[i], nullptr, &kept[i]) == 0;
  }
  ~KeptSignals() { restore(); }
  // Puts back every action a backend changed since.
  void restore() const
  {
    for (int i = 0; i < kCount; ++i) {
      struct sigaction now;
      if (held[i] && sigaction(kStopSignals[i], nullptr, &now) == 0 &&
          (now.sa_handler != kept[i].sa_handler || now.sa_flags != kept[i].sa_flags))
        sigaction(kStopSignals[i], &kept[i], nullptr);
    }
  }

private:
  static constexpr int kCount = sizeof kStopSignals / sizeof kStopSignals[0];
  struct sigaction kept[kCount];
  bool held[kCount];
};

// The filter on the calling thread and the threads and processes it
// starts: rt_sigaction setting a new action for one of the stop signals
// returns 0 without effect. Reading an action stays as it is. False where
// the kernel or the architecture offers no such filter.
bool keepStopSignalActions()
{
#if defined(__x86_64__)
  const uint32_t arch = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
  const uint32_t arch = AUDIT_ARCH_AARCH64;
#else
  const uint32_t arch = 0;
#endif
  if (arch == 0)
    return false;
  const uint32_t allow = SECCOMP_RET_ALLOW, refuse = SECCOMP_RET_ERRNO | 0;
  // arguments are 64-bit; the low half comes first on these little-endian machines
  const uint32_t nr = offsetof(seccomp_data, nr), archAt = offsetof(seccomp_data, arch),
                 sig = offsetof(seccomp_data, args[0]), act = offsetof(seccomp_data, args[1]);
  sock_filter code[] = {
    BPF_STMT(BPF_LD | BPF_W | BPF_ABS, archAt),
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, arch, 1, 0),
    BPF_STMT(BPF_RET | BPF_K, allow),
    BPF_STMT(BPF_LD | BPF_W | BPF_ABS, nr),
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_rt_sigaction, 1, 0),
    BPF_STMT(BPF_RET | BPF_K, allow),
    BPF_STMT(BPF_LD | BPF_W | BPF_ABS, sig + 4),
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 0, 1, 0),
    BPF_STMT(BPF_RET | BPF_K, allow),
    BPF_STMT(BPF_LD | BPF_W | BPF_ABS, sig),
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SIGINT, 3, 0),
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SIGTERM, 2, 0),
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SIGHUP, 1, 0),
    BPF_STMT(BPF_RET | BPF_K, allow),
    // a query (no new action) is allowed
    BPF_STMT(BPF_LD | BPF_W | BPF_ABS, act),
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 0, 0, 3),
    BPF_STMT(BPF_LD | BPF_W | BPF_ABS, act + 4),
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 0, 0, 1),
    BPF_STMT(BPF_RET | BPF_K, allow),
    BPF_STMT(BPF_RET | BPF_K, refuse),
  };
  sock_fprog prog{(unsigned short)(sizeof code / sizeof code[0]), code};
  return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
         prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &prog, 0, 0) == 0;
}

class SaneFeed : public PageFeed {
public:
  SaneFeed(const std::string& dev) : device(dev) {}
  ~SaneFeed() override { close(); }

  bool open(std::string& why) override
  {
    const KeptSignals kept;
    if (handle)
      return true;
    SANE_Status st = sane_open(device.c_str(), &handle);
    if (st != SANE_STATUS_GOOD) {
      why = sane_strstatus(st);
      handle = nullptr;
      return false;
    }
    readOptions();
    return true;
  }

  void close() override
  {
    const KeptSignals kept;
    if (handle) {
      if (!abandoned) {
        sane_cancel(handle);
        sane_close(handle);
      }
      handle = nullptr;
    }
  }

  // Options are described before the device is opened by a probe open.
  void describe()
  {
    std::string why;
    if (open(why)) {
      probed = true;
      close();
    }
  }

  void start(const ScanSettings& s) override
  {
    const KeptSignals kept;
    settings = s;
    pages = 0;
    stopped = abandoned;
    noDocs = false;
    pending.reset();
    if (!handle || abandoned)
      return;
    sane_cancel(handle);
    apply();
  }

  bool more() override
  {
    if (stopped || noDocs || !handle)
      return false;
    if (pending)
      return true;
    if (!feeding() && pages >= 1)
      return false;
    // What the device holds is only known by asking it for a page.
    pending = std::make_unique<Result>(scan());
    if (pending->status == SANE_STATUS_NO_DOCS) {
      noDocs = true;
      pending.reset();
      return false;
    }
    return true;
  }

  int remaining() const override { return feeding() ? -1 : (pages >= 1 ? 0 : 1); }

  bool next(Image& page, TW_UINT16& cc, bool& cancelled) override
  {
    const KeptSignals kept;
    cancelled = false;
    if (!more()) {
      cc = twain::TWCC_NOMEDIA;
      return false;
    }
    std::unique_ptr<Result> r = std::move(pending);
    ++pages;
    if (!feeding() && !abandoned)
      sane_cancel(handle);
    if (r->status == SANE_STATUS_CANCELLED) {
      cancelled = true;
      return false;
    }
    if (r->status != SANE_STATUS_GOOD) {
      std::fprintf(stderr, "SANE %s: %s\n", device.c_str(), sane_strstatus(r->status));
      cc = conditionOf(r->status);
      if (r->status == SANE_STATUS_JAMMED || r->status == SANE_STATUS_IO_ERROR)
        stopped = true;
      return false;
    }
    page.copyTransferOwnership(*r->image);
    page.setResolution(saturate_cast<int>(settings.xres), saturate_cast<int>(settings.yres));
    return true;
  }

  void stop() override
  {
    const KeptSignals kept;
    stopped = true;
    pending.reset();
    if (handle && !abandoned)
      sane_cancel(handle);
  }

  double sheetWidth() const override { return maxWidth; }
  double sheetHeight() const override { return maxHeight; }
  std::vector<double> resolutions() const override { return resList; }
  bool resolutionRange(double& min, double& max, double& step) const override
  {
    if (!resIsRange)
      return false;
    min = resMin;
    max = resMax;
    step = resStep > 0 ? resStep : 1;
    return true;
  }
  std::vector<int> pixelTypes() const override { return types; }
  bool canDuplex() const override { return !duplexSource.empty(); }
  bool canFeed() const override { return !feederSource.empty(); }
  bool hasBrightness() const override { return bool(brightness); }

private:
  struct Result {
    SANE_Status status = SANE_STATUS_GOOD;
    std::unique_ptr<Image> image = std::make_unique<Image>();
  };

  bool feeding() const { return settings.feeder && !feederSource.empty(); }

  Option find(const char* name) const
  {
    Option o;
    for (int i = 1;; ++i) {
      const SANE_Option_Descriptor* d = sane_get_option_descriptor(handle, i);
      if (!d)
        break;
      if (d->name && std::strcmp(d->name, name) == 0 && SANE_OPTION_IS_ACTIVE(d->cap)) {
        o.index = i;
        o.d = d;
        break;
      }
    }
    return o;
  }

  void readOptions()
  {
    mode = find(SANE_NAME_SCAN_MODE);
    depth = find(SANE_NAME_BIT_DEPTH);
    resolution = find(SANE_NAME_SCAN_RESOLUTION);
    source = find(SANE_NAME_SCAN_SOURCE);
    tlx = find(SANE_NAME_SCAN_TL_X);
    tly = find(SANE_NAME_SCAN_TL_Y);
    brx = find(SANE_NAME_SCAN_BR_X);
    bry = find(SANE_NAME_SCAN_BR_Y);
    brightness = find(SANE_NAME_BRIGHTNESS);

    types.clear();
    modes.clear();
    if (mode && mode.d->constraint_type == SANE_CONSTRAINT_STRING_LIST)
      for (const SANE_String_Const* s = mode.d->constraint.string_list; *s; ++s)
        modes.push_back(*s);
    auto hasMode = [&](const char* m) {
      for (auto& x : modes)
        if (lower(x) == lower(m))
          return true;
      return false;
    };
    bool depth1 = false;
    if (depth && depth.d->constraint_type == SANE_CONSTRAINT_WORD_LIST)
      for (int i = 1; i <= depth.d->constraint.word_list[0]; ++i)
        if (depth.d->constraint.word_list[i] == 1)
          depth1 = true;
    if (hasMode(SANE_VALUE_SCAN_MODE_LINEART) || (hasMode(SANE_VALUE_SCAN_MODE_GRAY) && depth1))
      types.push_back(twain::TWPT_BW);
    if (hasMode(SANE_VALUE_SCAN_MODE_GRAY) || modes.empty())
      types.push_back(twain::TWPT_GRAY);
    if (hasMode(SANE_VALUE_SCAN_MODE_COLOR))
      types.push_back(twain::TWPT_RGB);

    resList.clear();
    resIsRange = false;
    if (resolution) {
      const SANE_Option_Descriptor* d = resolution.d;
      if (d->constraint_type == SANE_CONSTRAINT_RANGE) {
        resIsRange = true;
        resMin = toDouble(d, d->constraint.range->min);
        resMax = toDouble(d, d->constraint.range->max);
        resStep = toDouble(d, d->constraint.range->quant);
      } else if (d->constraint_type == SANE_CONSTRAINT_WORD_LIST) {
        for (int i = 1; i <= d->constraint.word_list[0]; ++i)
          resList.push_back(toDouble(d, d->constraint.word_list[i]));
      }
    }
    if (!resIsRange && resList.empty())
      resList = {300};

    feederSource.clear();
    duplexSource.clear();
    flatbedSource.clear();
    if (source && source.d->constraint_type == SANE_CONSTRAINT_STRING_LIST)
      for (const SANE_String_Const* s = source.d->constraint.string_list; *s; ++s) {
        std::string l = lower(*s);
        if (l.find("duplex") != std::string::npos)
          duplexSource = *s;
        else if (l.find("adf") != std::string::npos || l.find("feeder") != std::string::npos)
          feederSource = *s;
        else if (flatbedSource.empty())
          flatbedSource = *s;
      }

    // the sheet: the largest area the geometry options allow
    auto extent = [](const Option& o, double& out) {
      if (o && o.d->constraint_type == SANE_CONSTRAINT_RANGE) {
        double v = toDouble(o.d, o.d->constraint.range->max);
        out = o.d->unit == SANE_UNIT_MM ? v / 25.4 : v / 300.0;
      }
    };
    extent(brx, maxWidth);
    extent(bry, maxHeight);
  }

  void setWord(const Option& o, double v)
  {
    if (!o || !SANE_OPTION_IS_SETTABLE(o.d->cap))
      return;
    if (o.d->constraint_type == SANE_CONSTRAINT_RANGE) {
      double lo = toDouble(o.d, o.d->constraint.range->min);
      double hi = toDouble(o.d, o.d->constraint.range->max);
      v = std::max(lo, std::min(hi, v));
    }
    SANE_Word w = fromDouble(o.d, v);
    SANE_Int info = 0;
    sane_control_option(handle, o.index, SANE_ACTION_SET_VALUE, &w, &info);
  }

  void setString(const Option& o, const std::string& v)
  {
    if (!o || !SANE_OPTION_IS_SETTABLE(o.d->cap) || v.empty())
      return;
    std::vector<char> buf(std::max<size_t>(size_t(o.d->size), v.size() + 1), 0);
    std::memcpy(buf.data(), v.data(), v.size());
    SANE_Int info = 0;
    sane_control_option(handle, o.index, SANE_ACTION_SET_VALUE, buf.data(), &info);
  }

  // The batch's settings into the device's options; options are looked up
  // again after each change, since setting one may change the others.
  void apply()
  {
    readOptions();
    std::string m;
    auto pick = [&](const char* want) {
      for (auto& x : modes)
        if (lower(x) == lower(want))
          return x;
      return std::string();
    };
    int wantDepth = 8;
    if (settings.pixelType == twain::TWPT_RGB) {
      m = pick(SANE_VALUE_SCAN_MODE_COLOR);
    } else if (settings.pixelType == twain::TWPT_BW) {
      m = pick(SANE_VALUE_SCAN_MODE_LINEART);
      if (m.empty()) {
        m = pick(SANE_VALUE_SCAN_MODE_GRAY);
        wantDepth = 1;
      }
    } else {
      m = pick(SANE_VALUE_SCAN_MODE_GRAY);
    }
    setString(mode, m);
    readOptions();
    setWord(depth, wantDepth);
    readOptions();
    setWord(resolution, settings.xres);
    if (Option y = find(SANE_NAME_SCAN_Y_RESOLUTION))
      setWord(y, settings.yres);
    if (Option x = find(SANE_NAME_SCAN_X_RESOLUTION))
      setWord(x, settings.xres);
    readOptions();
    if (settings.feeder && settings.duplex && !duplexSource.empty())
      setString(source, duplexSource);
    else if (settings.feeder && !feederSource.empty())
      setString(source, feederSource);
    else
      setString(source, flatbedSource);
    readOptions();
    // the area: inches to the options' unit
    auto unit = [&](const Option& o, double inches) {
      return o && o.d->unit == SANE_UNIT_MM ? inches * 25.4 : inches * settings.xres;
    };
    double right = settings.right > settings.left ? settings.right : maxWidth;
    double bottom = settings.bottom > settings.top ? settings.bottom : maxHeight;
    setWord(tlx, unit(tlx, settings.left));
    setWord(tly, unit(tly, settings.top));
    setWord(brx, unit(brx, right));
    setWord(bry, unit(bry, bottom));
    if (brightness && settings.brightness != 0) {
      const SANE_Option_Descriptor* d = brightness.d;
      if (d->constraint_type == SANE_CONSTRAINT_RANGE) {
        double lo = toDouble(d, d->constraint.range->min), hi = toDouble(d, d->constraint.range->max);
        setWord(brightness, lo + (settings.brightness + 1000) / 2000 * (hi - lo));
      }
    }
  }

  // One frame, read on a worker thread with a deadline.
  Result scan()
  {
    int seconds = 120;
    if (const char* t = std::getenv("TOLM_SANE_TIMEOUT"))
      seconds = std::max(1, std::atoi(t));
    SANE_Handle h = handle;
    const KeptSignals kept;
    // A thread of its own, not std::async: a read that never ends must not
    // hold whoever lets go of its future.
    std::packaged_task<Result()> task([h, kept] {
      keepStopSignalActions();
      return readFrame(h, kept);
    });
    std::future<Result> job = task.get_future();
    std::thread(std::move(task)).detach();
    if (job.wait_for(std::chrono::seconds(seconds)) != std::future_status::ready) {
      std::fprintf(stderr, "SANE %s: no answer in %d s, cancelling\n", device.c_str(), seconds);
      sane_cancel(h);
      if (job.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        // A device that ignores the cancel: the read stays blocked; the page
        // fails, the batch ends and the device is not called again.
        std::fprintf(stderr, "SANE %s: the read did not end; the device is left as it is\n",
                     device.c_str());
        stopped = true;
        abandoned = true;
        gReadAbandoned = true;
        Result r;
        r.status = SANE_STATUS_IO_ERROR;
        return r;
      }
      Result r = job.get();
      r.status = SANE_STATUS_IO_ERROR;
      return r;
    }
    return job.get();
  }

  static Result readFrame(SANE_Handle h, const KeptSignals& kept)
  {
    Result r;
    SANE_Status st = sane_start(h);
    kept.restore();
    if (st != SANE_STATUS_GOOD) {
      r.status = st;
      return r;
    }
    SANE_Parameters p;
    st = sane_get_parameters(h, &p);
    kept.restore();
    if (st != SANE_STATUS_GOOD) {
      r.status = st;
      return r;
    }
    if ((p.format != SANE_FRAME_GRAY && p.format != SANE_FRAME_RGB) || !p.last_frame ||
        p.bytes_per_line <= 0 || p.pixels_per_line <= 0 ||
        (p.depth != 1 && p.depth != 8 && p.depth != 16)) {
      std::fprintf(stderr, "SANE: unsupported frame (format %d, depth %d)\n", int(p.format),
                   p.depth);
      r.status = SANE_STATUS_UNSUPPORTED;
      return r;
    }
    std::vector<uint8_t> data;
    if (p.lines > 0 && uint64_t(p.lines) * uint64_t(p.bytes_per_line) <= kMaxPageBytes)
      data.reserve(size_t(p.lines) * size_t(p.bytes_per_line));
    std::vector<uint8_t> buf(64 * 1024);
    while (true) {
      SANE_Int n = 0;
      st = sane_read(h, buf.data(), SANE_Int(buf.size()), &n);
      kept.restore();
      if (st == SANE_STATUS_EOF)
        break;
      if (st != SANE_STATUS_GOOD) {
        r.status = st;
        return r;
      }
      if (n < 0 || size_t(n) > buf.size() || data.size() + size_t(n) > kMaxPageBytes) {
        r.status = SANE_STATUS_NO_MEM;
        return r;
      }
      data.insert(data.end(), buf.begin(), buf.begin() + n);
    }
    const size_t bpl = size_t(p.bytes_per_line);
    const int rows = int(data.size() / bpl);
    const int spp = p.format == SANE_FRAME_RGB ? 3 : 1;
    Image& img = *r.image;
    img.spp = uint8_t(spp);
    img.bps = uint8_t(p.depth == 1 ? 1 : 8);
    img.resize(p.pixels_per_line, rows);
    const unsigned fill = img.stridefill();
    uint8_t* out = img.getRawData();
    for (int y = 0; y < rows && out; ++y) {
      const uint8_t* src = data.data() + size_t(y) * bpl;
      uint8_t* dst = out + size_t(y) * img.stride();
      if (p.depth == 1) {
        // SANE line art: a set bit is black; ours: a set bit is white
        for (unsigned i = 0; i < fill; ++i)
          dst[i] = uint8_t(~src[i]);
        if (unsigned pad = unsigned(p.pixels_per_line) % 8)
          dst[fill - 1] &= uint8_t(0xff << (8 - pad));
      } else if (p.depth == 8) {
        std::memcpy(dst, src, fill);
      } else {
        // 16-bit samples in host order: keep the high byte
        for (unsigned i = 0; i < fill; ++i) {
          uint16_t v;
          std::memcpy(&v, src + 2 * i, 2);
          dst[i] = uint8_t(v >> 8);
        }
      }
    }
    img.setRawData();
    return r;
  }

  std::string device;
  SANE_Handle handle = nullptr;
  bool probed = false;
  ScanSettings settings;
  int pages = 0;
  bool stopped = false, noDocs = false;
  bool abandoned = false; // a read of ours is still inside the backend
  std::unique_ptr<Result> pending;

  Option mode, depth, resolution, source, tlx, tly, brx, bry, brightness;
  std::vector<std::string> modes;
  std::vector<int> types{twain::TWPT_GRAY};
  std::vector<double> resList{300};
  bool resIsRange = false;
  double resMin = 0, resMax = 0, resStep = 1;
  std::string feederSource, duplexSource, flatbedSource;
  double maxWidth = 8.5, maxHeight = 11.69;
};

std::string clip(const char* s) { return s ? std::string(s).substr(0, 32) : std::string(); }

} // namespace

// Adds one source per SANE device, after our own. SANE is started here,
// the first time something asks for a device.
void addSaneSources(std::vector<std::unique_ptr<Source>>& out, const Faults& faults)
{
  const KeptSignals kept;
  if (!gSaneInitialised) {
    SANE_Int version = 0;
    if (sane_init(&version, nullptr) != SANE_STATUS_GOOD)
      return;
    gSaneInitialised = true;
  }
  const SANE_Device** devices = nullptr;
  if (sane_get_devices(&devices, SANE_FALSE) != SANE_STATUS_GOOD || !devices)
    return;
  for (const SANE_Device** d = devices; *d; ++d) {
    auto feed = std::make_unique<SaneFeed>((*d)->name);
    feed->describe(); // the capability table is built from the options
    out.push_back(std::make_unique<Source>(std::move(feed), clip((*d)->vendor),
                                           clip((*d)->model), clip((*d)->name), faults));
  }
}

void endSane()
{
  const KeptSignals kept;
  if (gSaneInitialised && !gReadAbandoned) {
    sane_exit();
    gSaneInitialised = false;
  }
}

} // namespace twaindsm
