// The data source state machine: capabilities, user interface, image
// information and layout, memory and native transfers, pending transfers.
#include "twain/dsm/Source.hh"

#include "codecs/Codecs.hh"
#include "utility/Saturate.hh"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <sstream>

using namespace twain;

namespace twaindsm {

// One capability: its item type, how GET presents it, its values.
struct Capability {
  enum Kind { OneValue, Enumeration, Range, Array };
  TW_UINT16 cap;
  TW_UINT16 itemType;
  Kind kind;
  bool readOnly;
  std::vector<double> items; // enumeration or array items
  double min = 0, max = 0, step = 1;
  double current = 0, def = 0;
  std::string text;     // string items
  TW_FRAME frame{};     // frame items
  TW_FRAME frameDef{};
};

void forEachWord(const std::string& words,
                 const std::function<void(const std::string&, const std::string&)>& each)
{
  std::stringstream in(words);
  std::string w;
  while (std::getline(in, w, ',')) {
    const size_t eq = w.find('=');
    if (eq == std::string::npos)
      each(w, "");
    else
      each(w.substr(0, eq), w.substr(eq + 1));
  }
}

Faults Faults::parse(const std::string& words)
{
  Faults f;
  forEachWord(words, [&f](const std::string& key, const std::string& value) {
    int n = std::atoi(value.c_str());
    if (key == "open")
      f.openFails = true;
    else if (key == "strip")
      f.stripFailsAt = n > 0 ? n : 1;
    else if (key == "cancel")
      f.cancelAt = n > 0 ? n : 1;
    else if (key == "close")
      f.closeAfter = n > 0 ? n : 1;
    else if (key == "widthchange")
      f.widthChange = true;
    else if (key == "overreport")
      f.overReport = true;
  });
  return f;
}

namespace {

void setString(TW_UINT8* field, unsigned capacity, const std::string& s)
{
  size_t n = std::min<size_t>(s.size(), capacity);
  field[0] = TW_UINT8(n);
  std::memcpy(field + 1, s.data(), n);
  field[1 + n] = 0;
}

TW_UINT32 encodeItem(TW_UINT16 type, double v)
{
  switch (type) {
  case TWTY_FIX32: {
    TW_FIX32 f = toFix32(v);
    TW_UINT32 out;
    std::memcpy(&out, &f, 4);
    return out;
  }
  case TWTY_BOOL:
    return v != 0 ? 1 : 0;
  default:
    return TW_UINT32(saturate_cast<int64_t>(v));
  }
}

// Writes one item of a numeric type at p.
void putItem(uint8_t* p, TW_UINT16 type, double v)
{
  TW_UINT32 raw = encodeItem(type, v);
  switch (itemSize(type)) {
  case 1: *p = uint8_t(raw); break;
  case 2: { uint16_t x = uint16_t(raw); std::memcpy(p, &x, 2); break; }
  case 4: std::memcpy(p, &raw, 4); break;
  default: break;
  }
}

// Reads a numeric item at p as a number.
bool getItem(const uint8_t* p, TW_UINT16 type, double& v)
{
  switch (type) {
  case TWTY_INT8: v = int8_t(*p); return true;
  case TWTY_UINT8: v = *p; return true;
  case TWTY_INT16: { int16_t x; std::memcpy(&x, p, 2); v = x; return true; }
  case TWTY_UINT16: case TWTY_BOOL: { uint16_t x; std::memcpy(&x, p, 2); v = x; return true; }
  case TWTY_INT32: { int32_t x; std::memcpy(&x, p, 4); v = x; return true; }
  case TWTY_UINT32: { uint32_t x; std::memcpy(&x, p, 4); v = x; return true; }
  case TWTY_FIX32: { TW_FIX32 f; std::memcpy(&f, p, 4); v = fromFix32(f); return true; }
  default: return false;
  }
}

bool sameValue(TW_UINT16 type, double a, double b)
{
  if (type == TWTY_FIX32)
    return std::fabs(a - b) < 1.0 / 65536 * 2;
  return a == b;
}

std::unique_ptr<Capability> enumCap(TW_UINT16 cap, TW_UINT16 type, std::vector<double> items,
                                    double def)
{
  auto c = std::make_unique<Capability>();
  c->cap = cap;
  c->itemType = type;
  c->kind = Capability::Enumeration;
  c->readOnly = false;
  c->items = std::move(items);
  c->current = c->def = def;
  return c;
}

std::unique_ptr<Capability> oneCap(TW_UINT16 cap, TW_UINT16 type, double def, bool readOnly)
{
  auto c = std::make_unique<Capability>();
  c->cap = cap;
  c->itemType = type;
  c->kind = Capability::OneValue;
  c->readOnly = readOnly;
  c->current = c->def = def;
  return c;
}

TW_HANDLE allocate(size_t size)
{
  if (size > 0xffffffffu)
    return nullptr;
  return dsmAllocate(TW_UINT32(size));
}

} // namespace

Source::Source(std::unique_ptr<PageFeed> f, const std::string& manufacturer,
               const std::string& family, const std::string& product, const Faults& fl)
    : feed(std::move(f)), faults(fl)
{
  identity.Version.MajorNum = 1;
  identity.Version.MinorNum = 0;
  identity.Version.Language = 13;
  identity.Version.Country = 1;
  setString(identity.Version.Info, 32, "1.0");
  identity.ProtocolMajor = ProtocolMajor;
  identity.ProtocolMinor = ProtocolMinor;
  identity.SupportedGroups = DG_CONTROL | DG_IMAGE | DF_DS2;
  setString(identity.Manufacturer, 32, manufacturer);
  setString(identity.ProductFamily, 32, family);
  setString(identity.ProductName, 32, product);

  if (const char* pad = std::getenv("TOLM_DSM_ROWPAD")) {
    int n = std::atoi(pad);
    if (n >= 1 && n <= 64)
      rowPad = unsigned(n);
  }

  std::vector<double> types;
  for (int t : feed->pixelTypes())
    types.push_back(t);
  std::vector<double> res = feed->resolutions();
  double rmin = 0, rmax = 0, rstep = 1;
  const bool resRange = feed->resolutionRange(rmin, rmax, rstep);
  double defRes = 300;
  if (resRange)
    defRes = std::max(rmin, std::min(rmax, 300.0));
  else if (std::find(res.begin(), res.end(), 300.0) == res.end())
    defRes = res.empty() ? 300 : res.front();

  caps.push_back(oneCap(CAP_XFERCOUNT, TWTY_INT16, -1, false));
  caps.push_back(enumCap(ICAP_COMPRESSION, TWTY_UINT16, {TWCP_NONE}, TWCP_NONE));
  caps.push_back(enumCap(ICAP_PIXELTYPE, TWTY_UINT16, types, types.empty() ? 0 : types.back()));
  caps.push_back(enumCap(ICAP_UNITS, TWTY_UINT16, {TWUN_INCHES, TWUN_CENTIMETERS, TWUN_PIXELS},
                         TWUN_INCHES));
  caps.push_back(enumCap(ICAP_XFERMECH, TWTY_UINT16, {TWSX_NATIVE, TWSX_MEMORY}, TWSX_NATIVE));
  caps.push_back(enumCap(ICAP_BITDEPTH, TWTY_UINT16, {caps[2]->def == TWPT_BW ? 1.0 : 8.0},
                         caps[2]->def == TWPT_BW ? 1.0 : 8.0));
  for (TW_UINT16 resCap : {ICAP_XRESOLUTION, ICAP_YRESOLUTION}) {
    if (resRange) {
      auto c = std::make_unique<Capability>();
      c->cap = resCap;
      c->itemType = TWTY_FIX32;
      c->kind = Capability::Range;
      c->readOnly = false;
      c->min = rmin;
      c->max = rmax;
      c->step = rstep;
      c->current = c->def = defRes;
      caps.push_back(std::move(c));
    } else {
      caps.push_back(enumCap(resCap, TWTY_FIX32, res, defRes));
    }
  }
  caps.push_back(oneCap(CAP_FEEDERENABLED, TWTY_BOOL, feed->canFeed() ? 1 : 0, !feed->canFeed()));
  caps.push_back(oneCap(CAP_FEEDERLOADED, TWTY_BOOL, 1, true));
  caps.push_back(oneCap(CAP_AUTOFEED, TWTY_BOOL, 1, false));
  caps.push_back(oneCap(CAP_DUPLEXENABLED, TWTY_BOOL, 0, !feed->canDuplex()));
  caps.push_back(oneCap(CAP_INDICATORS, TWTY_BOOL, 0, false));
  caps.push_back(oneCap(CAP_UICONTROLLABLE, TWTY_BOOL, 1, true));
  caps.push_back(oneCap(ICAP_PHYSICALWIDTH, TWTY_FIX32, feed->sheetWidth(), true));
  caps.push_back(oneCap(ICAP_PHYSICALHEIGHT, TWTY_FIX32, feed->sheetHeight(), true));
  caps.push_back(enumCap(ICAP_IMAGEFILEFORMAT, TWTY_UINT16, {TWFF_TIFF, TWFF_PNG}, TWFF_TIFF));
  caps.push_back(enumCap(ICAP_PIXELFLAVOR, TWTY_UINT16, {TWPF_CHOCOLATE}, TWPF_CHOCOLATE));
  if (feed->hasBrightness()) {
    auto c = std::make_unique<Capability>();
    c->cap = ICAP_BRIGHTNESS;
    c->itemType = TWTY_FIX32;
    c->kind = Capability::Range;
    c->readOnly = false;
    c->min = -1000;
    c->max = 1000;
    c->step = 1;
    caps.push_back(std::move(c));
  }
  {
    auto c = std::make_unique<Capability>();
    c->cap = ICAP_FRAMES;
    c->itemType = TWTY_FRAME;
    c->kind = Capability::OneValue;
    c->readOnly = false;
    c->frame.Right = toFix32(feed->sheetWidth());
    c->frame.Bottom = toFix32(feed->sheetHeight());
    c->frameDef = c->frame;
    caps.push_back(std::move(c));
  }
  {
    auto c = std::make_unique<Capability>();
    c->cap = CAP_SERIALNUMBER;
    c->itemType = TWTY_STR255;
    c->kind = Capability::OneValue;
    c->readOnly = true;
    c->text = "TOLM-0001";
    caps.push_back(std::move(c));
  }
  {
    auto c = std::make_unique<Capability>();
    c->cap = CAP_SUPPORTEDCAPS;
    c->itemType = TWTY_UINT16;
    c->kind = Capability::Array;
    c->readOnly = true;
    for (auto& other : caps)
      c->items.push_back(other->cap);
    c->items.push_back(CAP_SUPPORTEDCAPS);
    caps.push_back(std::move(c));
  }
}

Source::~Source()
{
  ++notifier->epoch;
  // close() handed the thread to the manager already; one still here is
  // left only at process exit, when no lock is held.
  if (worker.joinable()) {
    if (worker.get_id() == std::this_thread::get_id())
      worker.detach();
    else
      worker.join();
  }
  if (feed)
    feed->close();
}

void Source::dropNotifications()
{
  ++notifier->epoch;
  if (worker.joinable())
    retireThread(std::move(worker));
}

// Notifications come from a thread of their own, as a device's would. The
// thread never takes the manager's lock itself and is never waited for
// under it: the application's procedure may call the manager.
void Source::notifyLater(TW_UINT16 msg)
{
  if (worker.joinable())
    retireThread(std::move(worker));
  worker = std::thread([shared = notifier, epoch = notifier->epoch.load(), msg,
                        origin = identity, app = appIdentity]() mutable {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    if (shared->epoch.load() != epoch)
      return;
    if (TWAINCALLBACKPROC proc = shared->callback.load())
      proc(&origin, &app, DG_CONTROL, DAT_NULL, msg, nullptr);
  });
}

Capability* Source::find(TW_UINT16 cap)
{
  for (auto& c : caps)
    if (c->cap == cap)
      return c.get();
  return nullptr;
}

TW_UINT16 Source::open(TW_UINT16& cc)
{
  if (state != 3) {
    cc = TWCC_SEQERROR;
    return TWRC_FAILURE;
  }
  std::string why;
  if (faults.openFails || !feed->open(why)) {
    cc = TWCC_OPERATIONERROR;
    return TWRC_FAILURE;
  }
  state = 4;
  return TWRC_SUCCESS;
}

void Source::close()
{
  dropNotifications();
  feed->close();
  havePage = false;
  page = Image();
  state = 3;
}

ScanSettings Source::settings() const
{
  ScanSettings s;
  auto value = [this](TW_UINT16 cap) {
    for (auto& c : caps)
      if (c->cap == cap)
        return c->current;
    return 0.0;
  };
  s.pixelType = int(value(ICAP_PIXELTYPE));
  s.bitDepth = int(value(ICAP_BITDEPTH));
  s.xres = value(ICAP_XRESOLUTION);
  s.yres = value(ICAP_YRESOLUTION);
  s.duplex = value(CAP_DUPLEXENABLED) != 0;
  s.feeder = value(CAP_FEEDERENABLED) != 0;
  s.brightness = value(ICAP_BRIGHTNESS);
  for (auto& c : caps)
    if (c->cap == ICAP_FRAMES) {
      s.left = fromFix32(c->frame.Left);
      s.top = fromFix32(c->frame.Top);
      s.right = fromFix32(c->frame.Right);
      s.bottom = fromFix32(c->frame.Bottom);
    }
  // frames are kept in inches
  return s;
}

int Source::pagesAllowed() const
{
  for (auto& c : caps)
    if (c->cap == CAP_XFERCOUNT)
      return int(c->current);
  return -1;
}

unsigned Source::naturalRowBytes() const
{
  unsigned fill = page.stridefill();
  return (fill + rowPad - 1) / rowPad * rowPad;
}

TW_UINT16 Source::entry(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data, TW_UINT16& cc)
{
  if (state < 4) {
    cc = TWCC_SEQERROR;
    return TWRC_FAILURE;
  }
  if (dg == DG_CONTROL) {
    switch (dat) {
    case DAT_CAPABILITY:
      return capability(msg, static_cast<TW_CAPABILITY*>(data), cc);
    case DAT_USERINTERFACE:
      return userInterface(msg, static_cast<TW_USERINTERFACE*>(data), cc);
    case DAT_SETUPMEMXFER:
      if (msg == MSG_GET)
        return setupMemXfer(static_cast<TW_SETUPMEMXFER*>(data), cc);
      break;
    case DAT_PENDINGXFERS:
      return pendingXfers(msg, static_cast<TW_PENDINGXFERS*>(data), cc);
    case DAT_EVENT:
      if (msg == MSG_PROCESSEVENT) {
        if (data)
          static_cast<TW_EVENT*>(data)->TWMessage = MSG_NULL;
        return TWRC_NOTDSEVENT;
      }
      break;
    case DAT_XFERGROUP:
      if (msg == MSG_GET && data) {
        *static_cast<TW_UINT32*>(data) = DG_IMAGE;
        return TWRC_SUCCESS;
      }
      break;
    }
  } else if (dg == DG_IMAGE) {
    switch (dat) {
    case DAT_IMAGEINFO:
      if (msg == MSG_GET)
        return imageInfo(static_cast<TW_IMAGEINFO*>(data), cc);
      break;
    case DAT_IMAGELAYOUT:
      return imageLayout(msg, static_cast<TW_IMAGELAYOUT*>(data), cc);
    case DAT_IMAGEMEMXFER:
      if (msg == MSG_GET)
        return memXfer(static_cast<TW_IMAGEMEMXFER*>(data), cc);
      break;
    case DAT_IMAGENATIVEXFER:
      if (msg == MSG_GET)
        return nativeXfer(static_cast<TW_HANDLE*>(data), cc);
      break;
    }
  }
  cc = TWCC_BADPROTOCOL;
  return TWRC_FAILURE;
}

namespace {

// A capability's answer to the GET-like messages: its frame or text as one
// value, with full (MSG_GET, MSG_RESET) its list or range, else its current
// value (its default for MSG_GETDEFAULT).
TW_UINT16 answerCapability(const Capability* c, TW_UINT16 msg, bool full, TW_CAPABILITY* rec,
                           TW_UINT16& cc)
{
  TW_HANDLE h = nullptr;
  const unsigned isz = itemSize(c->itemType);
  if (c->itemType == TWTY_FRAME) {
    h = allocate(offsetof(TW_ONEVALUE, Item) + sizeof(TW_FRAME));
    if (!h) { cc = TWCC_LOWMEMORY; return TWRC_FAILURE; }
    uint8_t* p = static_cast<uint8_t*>(blockLock(h));
    TW_UINT16 t = TWTY_FRAME;
    std::memcpy(p, &t, 2);
    std::memcpy(p + offsetof(TW_ONEVALUE, Item), full || msg != MSG_GETDEFAULT ? &c->frame : &c->frameDef,
                sizeof(TW_FRAME));
    rec->ConType = TWON_ONEVALUE;
  } else if (stringCapacity(c->itemType)) {
    h = allocate(offsetof(TW_ONEVALUE, Item) + isz);
    if (!h) { cc = TWCC_LOWMEMORY; return TWRC_FAILURE; }
    uint8_t* p = static_cast<uint8_t*>(blockLock(h));
    std::memcpy(p, &c->itemType, 2);
    setString(p + offsetof(TW_ONEVALUE, Item), stringCapacity(c->itemType), c->text);
    rec->ConType = TWON_ONEVALUE;
  } else if (full && c->kind == Capability::Enumeration) {
    h = allocate(offsetof(TW_ENUMERATION, ItemList) + c->items.size() * isz);
    if (!h) { cc = TWCC_LOWMEMORY; return TWRC_FAILURE; }
    auto* e = static_cast<TW_ENUMERATION*>(blockLock(h));
    e->ItemType = c->itemType;
    e->NumItems = TW_UINT32(c->items.size());
    e->CurrentIndex = e->DefaultIndex = 0;
    for (size_t i = 0; i < c->items.size(); ++i) {
      putItem(e->ItemList + i * isz, c->itemType, c->items[i]);
      if (sameValue(c->itemType, c->items[i], c->current))
        e->CurrentIndex = TW_UINT32(i);
      if (sameValue(c->itemType, c->items[i], c->def))
        e->DefaultIndex = TW_UINT32(i);
    }
    rec->ConType = TWON_ENUMERATION;
  } else if (full && c->kind == Capability::Array) {
    h = allocate(offsetof(TW_ARRAY, ItemList) + c->items.size() * isz);
    if (!h) { cc = TWCC_LOWMEMORY; return TWRC_FAILURE; }
    auto* a = static_cast<TW_ARRAY*>(blockLock(h));
    a->ItemType = c->itemType;
    a->NumItems = TW_UINT32(c->items.size());
    for (size_t i = 0; i < c->items.size(); ++i)
      putItem(a->ItemList + i * isz, c->itemType, c->items[i]);
    rec->ConType = TWON_ARRAY;
  } else if (full && c->kind == Capability::Range) {
    h = allocate(sizeof(TW_RANGE));
    if (!h) { cc = TWCC_LOWMEMORY; return TWRC_FAILURE; }
    auto* r = static_cast<TW_RANGE*>(blockLock(h));
    r->ItemType = c->itemType;
    r->MinValue = encodeItem(c->itemType, c->min);
    r->MaxValue = encodeItem(c->itemType, c->max);
    r->StepSize = encodeItem(c->itemType, c->step);
    r->DefaultValue = encodeItem(c->itemType, c->def);
    r->CurrentValue = encodeItem(c->itemType, c->current);
    rec->ConType = TWON_RANGE;
  } else {
    h = allocate(sizeof(TW_ONEVALUE));
    if (!h) { cc = TWCC_LOWMEMORY; return TWRC_FAILURE; }
    auto* o = static_cast<TW_ONEVALUE*>(blockLock(h));
    o->ItemType = c->itemType;
    double v = msg == MSG_GETDEFAULT ? c->def : c->current;
    putItem(reinterpret_cast<uint8_t*>(&o->Item), c->itemType, v);
    rec->ConType = TWON_ONEVALUE;
  }
  rec->hContainer = h;
  return TWRC_SUCCESS;
}

// MSG_QUERYSUPPORT: the messages the capability takes.
TW_UINT16 querySupport(const Capability* c, TW_CAPABILITY* rec, TW_UINT16& cc)
{
  TW_HANDLE h = allocate(sizeof(TW_ONEVALUE));
  if (!h) { cc = TWCC_LOWMEMORY; return TWRC_FAILURE; }
  auto* o = static_cast<TW_ONEVALUE*>(blockLock(h));
  o->ItemType = TWTY_INT32;
  // get, set, get default, get current, reset
  o->Item = c->readOnly ? (0x1 | 0x4 | 0x8) : (0x1 | 0x2 | 0x4 | 0x8 | 0x10);
  rec->ConType = TWON_ONEVALUE;
  rec->hContainer = h;
  return TWRC_SUCCESS;
}

// The bit depths follow the pixel type.
void followPixelType(Capability* depth, double pixelType)
{
  depth->items = {pixelType == TWPT_BW ? 1.0 : 8.0};
  depth->current = depth->def = depth->items[0];
}

// MSG_SET of a frame: inside the sheet, not empty.
TW_UINT16 setFrame(Capability* c, const uint8_t* item, uint64_t avail, TW_UINT16 type, double sheetWidth,
                   double sheetHeight, TW_UINT16& cc)
{
  if (type != TWTY_FRAME || avail < offsetof(TW_ONEVALUE, Item) + sizeof(TW_FRAME)) {
    cc = TWCC_BADVALUE;
    return TWRC_FAILURE;
  }
  TW_FRAME f;
  std::memcpy(&f, item, sizeof f);
  double l = fromFix32(f.Left), t = fromFix32(f.Top), r = fromFix32(f.Right),
         b = fromFix32(f.Bottom);
  if (l < 0 || t < 0 || r <= l || b <= t || r > sheetWidth + 1e-3 || b > sheetHeight + 1e-3) {
    cc = TWCC_BADVALUE;
    return TWRC_FAILURE;
  }
  c->frame = f;
  return TWRC_SUCCESS;
}

// Whether MSG_SET may store v: one of an enumeration's items, inside a
// range, a transfer count of -1 or at least 1, a boolean of 0 or 1.
bool acceptable(const Capability* c, TW_UINT16 type, double v)
{
  switch (c->kind) {
  case Capability::Enumeration:
    return std::any_of(c->items.begin(), c->items.end(),
                       [&](double x) { return sameValue(type, x, v); });
  case Capability::Range:
    return v >= c->min && v <= c->max;
  default:
    return c->cap == CAP_XFERCOUNT ? (v == -1 || v >= 1) : (c->itemType != TWTY_BOOL || v <= 1);
  }
}

} // namespace

TW_UINT16 Source::capability(TW_UINT16 msg, TW_CAPABILITY* rec, TW_UINT16& cc)
{
  if (!rec) {
    cc = TWCC_BADVALUE;
    return TWRC_FAILURE;
  }
  Capability* c = find(rec->Cap);
  if (!c) {
    cc = TWCC_CAPUNSUPPORTED;
    return TWRC_FAILURE;
  }
  if (c->cap == CAP_FEEDERLOADED)
    c->current = feed->more() ? 1 : 0;

  switch (msg) {
  case MSG_GET:
    return answerCapability(c, msg, true, rec, cc);
  case MSG_GETCURRENT:
  case MSG_GETDEFAULT:
    return answerCapability(c, msg, false, rec, cc);
  case MSG_QUERYSUPPORT:
    return querySupport(c, rec, cc);
  case MSG_SET:
  case MSG_RESET:
    break;
  default:
    cc = TWCC_CAPBADOPERATION;
    return TWRC_FAILURE;
  }

  // Negotiation happens while the source is open but not enabled.
  if (state != 4) {
    cc = TWCC_SEQERROR;
    return TWRC_FAILURE;
  }
  if (c->readOnly) {
    cc = TWCC_CAPBADOPERATION;
    return TWRC_FAILURE;
  }
  if (msg == MSG_RESET) {
    c->current = c->def;
    c->frame = c->frameDef;
    if (c->cap == ICAP_PIXELTYPE)
      followPixelType(find(ICAP_BITDEPTH), c->current);
    return answerCapability(c, msg, true, rec, cc);
  }

  // MSG_SET: a single value of the capability's own item type.
  if (rec->ConType != TWON_ONEVALUE || !rec->hContainer) {
    cc = TWCC_BADVALUE;
    return TWRC_FAILURE;
  }
  // Only a container from the manager's memory functions has a known length.
  const uint8_t* p = static_cast<const uint8_t*>(dsmLock(rec->hContainer));
  uint64_t avail = dsmSize(rec->hContainer);
  if (!p || avail < sizeof(TW_ONEVALUE)) {
    cc = TWCC_BADVALUE;
    return TWRC_FAILURE;
  }
  TW_UINT16 type;
  std::memcpy(&type, p, 2);
  const uint8_t* item = p + offsetof(TW_ONEVALUE, Item);
  if (c->itemType == TWTY_FRAME)
    return setFrame(c, item, avail, type, feed->sheetWidth(), feed->sheetHeight(), cc);
  double v;
  if (type != c->itemType || !getItem(item, type, v) || !acceptable(c, type, v)) {
    cc = TWCC_BADVALUE;
    return TWRC_FAILURE;
  }
  c->current = v;
  if (c->cap == ICAP_PIXELTYPE)
    followPixelType(find(ICAP_BITDEPTH), v);
  return TWRC_SUCCESS;
}

TW_UINT16 Source::userInterface(TW_UINT16 msg, TW_USERINTERFACE* ui, TW_UINT16& cc)
{
  if (msg == MSG_ENABLEDS || msg == MSG_ENABLEDSUIONLY) {
    if (state != 4) {
      cc = TWCC_SEQERROR;
      return TWRC_FAILURE;
    }
    if (ui)
      ui->ModalUI = 0; // no dialogue of our own
    state = 5;
    pagesDone = 0;
    stripsSent = 0;
    stopRequested = false;
    havePage = false;
    feed->start(settings());
    if (msg == MSG_ENABLEDS) {
      if (feed->more() && pagesAllowed() != 0) {
        state = 6;
        notifyLater(MSG_XFERREADY);
      } else {
        notifyLater(MSG_CLOSEDSREQ);
      }
    }
    return TWRC_SUCCESS;
  }
  if (msg == MSG_DISABLEDS) {
    if (state != 5) {
      cc = TWCC_SEQERROR;
      return TWRC_FAILURE;
    }
    dropNotifications();
    feed->stop();
    state = 4;
    return TWRC_SUCCESS;
  }
  cc = TWCC_BADPROTOCOL;
  return TWRC_FAILURE;
}

// Fetches the next page from the feed when none is in progress.
bool Source::ensurePage(TW_UINT16& cc, bool& cancelled)
{
  cancelled = false;
  if (havePage)
    return true;
  if (faults.cancelAt && pagesDone + 1 == faults.cancelAt) {
    cancelled = true;
    return false;
  }
  if (!feed->more()) {
    cc = TWCC_NOMEDIA;
    return false;
  }
  page = Image();
  if (!feed->next(page, cc, cancelled) || page.empty()) {
    if (!cancelled && cc == TWCC_SUCCESS)
      cc = TWCC_OPERATIONERROR;
    return false;
  }
  havePage = true;
  pageRow = 0;
  return true;
}

TW_UINT16 Source::imageInfo(TW_IMAGEINFO* info, TW_UINT16& cc)
{
  if (state < 6 || !info) {
    cc = state < 6 ? TWCC_SEQERROR : TWCC_BADVALUE;
    return TWRC_FAILURE;
  }
  bool cancelled;
  if (!ensurePage(cc, cancelled)) {
    if (cancelled) {
      cc = TWCC_OPERATIONERROR;
    }
    return TWRC_FAILURE;
  }
  std::memset(info, 0, sizeof *info);
  info->XResolution = toFix32(page.resX);
  info->YResolution = toFix32(page.resY);
  info->ImageWidth = page.w;
  info->ImageLength = page.h;
  info->SamplesPerPixel = page.spp;
  for (int i = 0; i < page.spp && i < 8; ++i)
    info->BitsPerSample[i] = page.bps;
  info->BitsPerPixel = TW_INT16(page.bps * page.spp);
  info->Planar = 0;
  info->PixelType = TW_INT16(page.spp == 3 ? TWPT_RGB : page.bps == 1 ? TWPT_BW : TWPT_GRAY);
  info->Compression = TWCP_NONE;
  return TWRC_SUCCESS;
}

TW_UINT16 Source::imageLayout(TW_UINT16 msg, TW_IMAGELAYOUT* layout, TW_UINT16& cc)
{
  Capability* frames = find(ICAP_FRAMES);
  if (!layout) {
    cc = TWCC_BADVALUE;
    return TWRC_FAILURE;
  }
  switch (msg) {
  case MSG_GET:
  case MSG_GETDEFAULT:
    std::memset(layout, 0, sizeof *layout);
    layout->Frame = msg == MSG_GET ? frames->frame : frames->frameDef;
    layout->DocumentNumber = 1;
    layout->PageNumber = TW_UINT32(pagesDone + 1);
    layout->FrameNumber = 1;
    return TWRC_SUCCESS;
  case MSG_SET:
  case MSG_RESET: {
    if (state != 4) {
      cc = TWCC_SEQERROR;
      return TWRC_FAILURE;
    }
    if (msg == MSG_RESET) {
      frames->frame = frames->frameDef;
      layout->Frame = frames->frame;
      return TWRC_SUCCESS;
    }
    double l = fromFix32(layout->Frame.Left), t = fromFix32(layout->Frame.Top);
    double r = fromFix32(layout->Frame.Right), b = fromFix32(layout->Frame.Bottom);
    // An area reaching past the sheet is cut to it, as devices do.
    r = std::min(r, feed->sheetWidth());
    b = std::min(b, feed->sheetHeight());
    if (l < 0 || t < 0 || r <= l || b <= t) {
      cc = TWCC_BADVALUE;
      return TWRC_FAILURE;
    }
    frames->frame.Left = toFix32(l);
    frames->frame.Top = toFix32(t);
    frames->frame.Right = toFix32(r);
    frames->frame.Bottom = toFix32(b);
    bool cut = r != fromFix32(layout->Frame.Right) || b != fromFix32(layout->Frame.Bottom);
    layout->Frame = frames->frame;
    return cut ? TWRC_CHECKSTATUS : TWRC_SUCCESS;
  }
  default:
    cc = TWCC_BADPROTOCOL;
    return TWRC_FAILURE;
  }
}

TW_UINT16 Source::setupMemXfer(TW_SETUPMEMXFER* setup, TW_UINT16& cc)
{
  if (!setup) {
    cc = TWCC_BADVALUE;
    return TWRC_FAILURE;
  }
  setup->MinBufSize = 16 * 1024;
  setup->MaxBufSize = 1024 * 1024;
  setup->Preferred = 64 * 1024;
  return TWRC_SUCCESS;
}

// What both transfer mechanisms check first: the state, the negotiated
// mechanism, a page to send. 0 to go on, else the return code (a cancelled
// page asks the application to close the source).
TW_UINT16 Source::beginTransfer(bool haveData, bool stateOk, TW_UINT16 mechanism, TW_UINT16& cc)
{
  if (!stateOk || !haveData) {
    cc = !stateOk ? TWCC_SEQERROR : TWCC_BADVALUE;
    return TWRC_FAILURE;
  }
  if (find(ICAP_XFERMECH)->current != mechanism) {
    cc = TWCC_SEQERROR;
    return TWRC_FAILURE;
  }
  bool cancelled;
  if (!ensurePage(cc, cancelled)) {
    if (cancelled) {
      state = 7;
      notifyLater(MSG_CLOSEDSREQ);
      return TWRC_CANCEL;
    }
    return TWRC_FAILURE;
  }
  return 0;
}

TW_UINT16 Source::memXfer(TW_IMAGEMEMXFER* x, TW_UINT16& cc)
{
  if (TW_UINT16 rc = beginTransfer(x != nullptr, state >= 6, TWSX_MEMORY, cc))
    return rc;
  state = 7;
  const unsigned rowBytes = naturalRowBytes();
  const unsigned fill = page.stridefill();
  ++stripsSent;
  if (faults.stripFailsAt && stripsSent == faults.stripFailsAt) {
    cc = TWCC_OPERATIONERROR;
    return TWRC_FAILURE;
  }
  if (!x->Memory.TheMem || x->Memory.Length < rowBytes) {
    cc = TWCC_BADVALUE;
    return TWRC_FAILURE;
  }
  uint8_t* dst = static_cast<uint8_t*>(x->Memory.TheMem);
  if (x->Memory.Flags & TWMF_HANDLE) {
    dst = static_cast<uint8_t*>(dsmLock(x->Memory.TheMem));
    if (dst && dsmSize(x->Memory.TheMem) < x->Memory.Length)
      dst = nullptr;
  }
  if (!dst) {
    cc = TWCC_BADVALUE;
    return TWRC_FAILURE;
  }
  unsigned rows = std::min<unsigned>(x->Memory.Length / rowBytes, unsigned(page.h - pageRow));
  const uint8_t* src = page.getRawData();
  for (unsigned r = 0; r < rows; ++r) {
    uint8_t* d = dst + size_t(r) * rowBytes;
    std::memcpy(d, src + size_t(pageRow + r) * page.stride(), fill);
    if (rowBytes > fill)
      std::memset(d + fill, 0, rowBytes - fill);
  }
  x->Compression = TWCP_NONE;
  x->BytesPerRow = rowBytes;
  x->Columns = TW_UINT32(page.w);
  if (faults.widthChange && pageRow > 0)
    x->Columns = TW_UINT32(page.w) / 2;
  x->Rows = rows;
  x->XOffset = 0;
  x->YOffset = TW_UINT32(pageRow);
  x->BytesWritten = TW_UINT32(size_t(rows) * rowBytes);
  if (faults.overReport)
    x->BytesWritten = x->Memory.Length + rowBytes;
  pageRow += int(rows);
  return pageRow >= page.h ? TWRC_XFERDONE : TWRC_SUCCESS;
}

TW_UINT16 Source::nativeXfer(TW_HANDLE* handle, TW_UINT16& cc)
{
  if (TW_UINT16 rc = beginTransfer(handle != nullptr, state == 6, TWSX_NATIVE, cc))
    return rc;
  const bool png = find(ICAP_IMAGEFILEFORMAT)->current == TWFF_PNG;
  std::ostringstream out;
  if (!ImageCodec::Write(&out, page, png ? "png" : "tif", png ? "png" : "tif", 75,
                         page.bps == 1 && !png ? "g4" : "")) {
    cc = TWCC_OPERATIONERROR;
    return TWRC_FAILURE;
  }
  const std::string blob = out.str();
  TW_HANDLE h = allocate(blob.size());
  if (!h) {
    cc = TWCC_LOWMEMORY;
    return TWRC_FAILURE;
  }
  std::memcpy(blockLock(h), blob.data(), blob.size());
  *handle = h;
  state = 7;
  return TWRC_XFERDONE;
}

TW_UINT16 Source::pendingXfers(TW_UINT16 msg, TW_PENDINGXFERS* pending, TW_UINT16& cc)
{
  if (!pending) {
    cc = TWCC_BADVALUE;
    return TWRC_FAILURE;
  }
  auto remaining = [this]() -> TW_UINT16 {
    if (stopRequested || !feed->more())
      return 0;
    int left = feed->remaining();
    int allowed = pagesAllowed();
    if (allowed > 0) {
      int n = std::max(0, allowed - pagesDone);
      return TW_UINT16(left >= 0 ? std::min(n, left) : n);
    }
    return left >= 0 ? TW_UINT16(std::min(left, 0xFFFE)) : 0xFFFF; // unknown: as the feeder holds
  };
  switch (msg) {
  case MSG_GET:
    if (state < 4) {
      cc = TWCC_SEQERROR;
      return TWRC_FAILURE;
    }
    pending->Count = state >= 6 ? remaining() : 0;
    if (state >= 6 && pending->Count == 0)
      pending->Count = 1; // the page at hand
    return TWRC_SUCCESS;
  case MSG_ENDXFER: {
    if (state != 6 && state != 7) {
      cc = TWCC_SEQERROR;
      return TWRC_FAILURE;
    }
    ++pagesDone;
    havePage = false;
    page = Image();
    pending->Count = remaining();
    if (faults.closeAfter && pagesDone == faults.closeAfter) {
      pending->Count = 0;
      stopRequested = true;
    }
    if (pending->Count == 0) {
      state = 5;
      if (faults.closeAfter && pagesDone == faults.closeAfter)
        notifyLater(MSG_CLOSEDSREQ);
    } else {
      state = 6;
    }
    return TWRC_SUCCESS;
  }
  case MSG_RESET:
    if (state != 6 && state != 7) {
      cc = TWCC_SEQERROR;
      return TWRC_FAILURE;
    }
    havePage = false;
    page = Image();
    feed->stop();
    stopRequested = true;
    pending->Count = 0;
    state = 5;
    return TWRC_SUCCESS;
  case MSG_STOPFEEDER:
    if (state != 6) {
      cc = TWCC_SEQERROR;
      return TWRC_FAILURE;
    }
    feed->stop();
    stopRequested = true;
    pending->Count = 1;
    return TWRC_SUCCESS;
  default:
    cc = TWCC_BADPROTOCOL;
    return TWRC_FAILURE;
  }
}

} // namespace twaindsm
