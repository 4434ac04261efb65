// The scanner protocol's records and constants as the bridge and our source
// manager exchange them: natural alignment, strings with a length byte first
// (and a terminating zero after the text), an 8-byte identity Id. Both sides
// are ours, so this one form holds on every platform; the static_asserts pin
// the offsets the bridge relies on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" {

typedef int8_t TW_INT8;
typedef int16_t TW_INT16;
typedef int32_t TW_INT32;
typedef uint8_t TW_UINT8;
typedef uint16_t TW_UINT16;
typedef uint32_t TW_UINT32;
typedef uint16_t TW_BOOL;
typedef void* TW_HANDLE;
typedef void* TW_MEMREF;
typedef uintptr_t TW_UINTPTR;

typedef uint8_t TW_STR32[34];
typedef uint8_t TW_STR64[66];
typedef uint8_t TW_STR128[130];
typedef uint8_t TW_STR255[256];

struct TW_FIX32 {
  TW_INT16 Whole;
  TW_UINT16 Frac;
};

struct TW_FRAME {
  TW_FIX32 Left, Top, Right, Bottom;
};

struct TW_VERSION {
  TW_UINT16 MajorNum;
  TW_UINT16 MinorNum;
  TW_UINT16 Language;
  TW_UINT16 Country;
  TW_STR32 Info;
};

struct TW_IDENTITY {
  uint64_t Id; // assigned by the source manager
  TW_VERSION Version;
  TW_UINT16 ProtocolMajor;
  TW_UINT16 ProtocolMinor;
  TW_UINT32 SupportedGroups;
  TW_STR32 Manufacturer;
  TW_STR32 ProductFamily;
  TW_STR32 ProductName;
};

struct TW_ONEVALUE {
  TW_UINT16 ItemType;
  TW_UINT32 Item; // larger item types continue past this field
};

struct TW_ARRAY {
  TW_UINT16 ItemType;
  TW_UINT32 NumItems;
  TW_UINT8 ItemList[1];
};

struct TW_ENUMERATION {
  TW_UINT16 ItemType;
  TW_UINT32 NumItems;
  TW_UINT32 CurrentIndex;
  TW_UINT32 DefaultIndex;
  TW_UINT8 ItemList[1];
};

struct TW_RANGE {
  TW_UINT16 ItemType;
  TW_UINT32 MinValue;
  TW_UINT32 MaxValue;
  TW_UINT32 StepSize;
  TW_UINT32 DefaultValue;
  TW_UINT32 CurrentValue;
};

struct TW_CAPABILITY {
  TW_UINT16 Cap;
  TW_UINT16 ConType;
  TW_HANDLE hContainer;
};

struct TW_STATUS {
  TW_UINT16 ConditionCode;
  TW_UINT16 Data;
};

struct TW_USERINTERFACE {
  TW_BOOL ShowUI;
  TW_BOOL ModalUI;
  TW_HANDLE hParent;
};

struct TW_PENDINGXFERS {
  TW_UINT16 Count;
  TW_UINT32 EOJ;
};

struct TW_SETUPMEMXFER {
  TW_UINT32 MinBufSize;
  TW_UINT32 MaxBufSize;
  TW_UINT32 Preferred;
};

struct TW_IMAGEINFO {
  TW_FIX32 XResolution;
  TW_FIX32 YResolution;
  TW_INT32 ImageWidth;
  TW_INT32 ImageLength;
  TW_INT16 SamplesPerPixel;
  TW_INT16 BitsPerSample[8];
  TW_INT16 BitsPerPixel;
  TW_BOOL Planar;
  TW_INT16 PixelType;
  TW_UINT16 Compression;
};

struct TW_IMAGELAYOUT {
  TW_FRAME Frame;
  TW_UINT32 DocumentNumber;
  TW_UINT32 PageNumber;
  TW_UINT32 FrameNumber;
};

struct TW_MEMORY {
  TW_UINT32 Flags;
  TW_UINT32 Length;
  TW_MEMREF TheMem;
};

struct TW_IMAGEMEMXFER {
  TW_UINT16 Compression;
  TW_UINT32 BytesPerRow;
  TW_UINT32 Columns;
  TW_UINT32 Rows;
  TW_UINT32 XOffset;
  TW_UINT32 YOffset;
  TW_UINT32 BytesWritten;
  TW_MEMORY Memory;
};

typedef TW_UINT16 (*DSMENTRYPROC)(TW_IDENTITY* origin, TW_IDENTITY* dest, TW_UINT32 dg,
                                  TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data);
typedef DSMENTRYPROC TWAINCALLBACKPROC;
typedef TW_HANDLE (*DSM_MEMALLOCATE)(TW_UINT32 size);
typedef void (*DSM_MEMFREE)(TW_HANDLE handle);
typedef TW_MEMREF (*DSM_MEMLOCK)(TW_HANDLE handle);
typedef void (*DSM_MEMUNLOCK)(TW_HANDLE handle);

struct TW_ENTRYPOINT {
  TW_UINT32 Size;
  DSMENTRYPROC DSM_Entry;
  DSM_MEMALLOCATE DSM_MemAllocate;
  DSM_MEMFREE DSM_MemFree;
  DSM_MEMLOCK DSM_MemLock;
  DSM_MEMUNLOCK DSM_MemUnlock;
};

struct TW_CALLBACK {
  TW_MEMREF CallBackProc;
  TW_MEMREF RefCon;
  TW_INT16 Message;
};

struct TW_EVENT {
  TW_MEMREF pEvent;
  TW_UINT16 TWMessage;
};

// The source manager's one entry point.
TW_UINT16 DSM_Entry(TW_IDENTITY* origin, TW_IDENTITY* dest, TW_UINT32 dg, TW_UINT16 dat,
                    TW_UINT16 msg, TW_MEMREF data);

} // extern "C"

// Layout the bridge relies on.
static_assert(sizeof(TW_FIX32) == 4 && sizeof(TW_FRAME) == 16, "fix32/frame");
static_assert(sizeof(TW_VERSION) == 42, "version");
static_assert(offsetof(TW_IDENTITY, Version) == 8 && offsetof(TW_IDENTITY, ProtocolMajor) == 50 &&
                  offsetof(TW_IDENTITY, SupportedGroups) == 56 &&
                  offsetof(TW_IDENTITY, Manufacturer) == 60 &&
                  offsetof(TW_IDENTITY, ProductFamily) == 94 &&
                  offsetof(TW_IDENTITY, ProductName) == 128 && sizeof(TW_IDENTITY) == 168,
              "identity");
static_assert(offsetof(TW_ONEVALUE, Item) == 4 && sizeof(TW_ONEVALUE) == 8, "one value");
static_assert(offsetof(TW_ARRAY, ItemList) == 8, "array");
static_assert(offsetof(TW_ENUMERATION, ItemList) == 16, "enumeration");
static_assert(sizeof(TW_RANGE) == 24, "range");
static_assert(offsetof(TW_CAPABILITY, hContainer) == 8 && sizeof(TW_CAPABILITY) == 16, "capability");
static_assert(sizeof(TW_STATUS) == 4, "status");
static_assert(sizeof(TW_USERINTERFACE) == 16, "user interface");
static_assert(sizeof(TW_PENDINGXFERS) == 8, "pending transfers");
static_assert(sizeof(TW_SETUPMEMXFER) == 12, "setup memory transfer");
static_assert(offsetof(TW_IMAGEINFO, BitsPerSample) == 18 && sizeof(TW_IMAGEINFO) == 44, "image info");
static_assert(sizeof(TW_IMAGELAYOUT) == 28, "image layout");
static_assert(sizeof(TW_MEMORY) == 16, "memory");
static_assert(offsetof(TW_IMAGEMEMXFER, BytesWritten) == 24 &&
                  offsetof(TW_IMAGEMEMXFER, Memory) == 32 && sizeof(TW_IMAGEMEMXFER) == 48,
              "memory transfer");
static_assert(sizeof(TW_ENTRYPOINT) == 48, "entry point");
static_assert(sizeof(TW_CALLBACK) == 24, "callback");
static_assert(sizeof(TW_EVENT) == 16, "event");

namespace twain {

enum : TW_UINT16 { ProtocolMajor = 2, ProtocolMinor = 5 };

enum : TW_UINT32 {
  DG_CONTROL = 0x1,
  DG_IMAGE = 0x2,
  DG_AUDIO = 0x4,
  DF_DSM2 = 0x10000000,
  DF_APP2 = 0x20000000,
  DF_DS2 = 0x40000000,
};

enum : TW_UINT16 {
  DAT_NULL = 0x0000,
  DAT_CAPABILITY = 0x0001,
  DAT_EVENT = 0x0002,
  DAT_IDENTITY = 0x0003,
  DAT_PARENT = 0x0004,
  DAT_PENDINGXFERS = 0x0005,
  DAT_SETUPMEMXFER = 0x0006,
  DAT_SETUPFILEXFER = 0x0007,
  DAT_STATUS = 0x0008,
  DAT_USERINTERFACE = 0x0009,
  DAT_XFERGROUP = 0x000A,
  DAT_CALLBACK = 0x0010,
  DAT_CALLBACK2 = 0x0012,
  DAT_IMAGEINFO = 0x0101,
  DAT_IMAGELAYOUT = 0x0102,
  DAT_IMAGEMEMXFER = 0x0103,
  DAT_IMAGENATIVEXFER = 0x0104,
  DAT_IMAGEFILEXFER = 0x0105,
  DAT_ENTRYPOINT = 0x0403,
};

enum : TW_UINT16 {
  MSG_NULL = 0x0000,
  MSG_GET = 0x0001,
  MSG_GETCURRENT = 0x0002,
  MSG_GETDEFAULT = 0x0003,
  MSG_GETFIRST = 0x0004,
  MSG_GETNEXT = 0x0005,
  MSG_SET = 0x0006,
  MSG_RESET = 0x0007,
  MSG_QUERYSUPPORT = 0x0008,
  MSG_XFERREADY = 0x0101,
  MSG_CLOSEDSREQ = 0x0102,
  MSG_CLOSEDSOK = 0x0103,
  MSG_DEVICEEVENT = 0x0104,
  MSG_OPENDSM = 0x0301,
  MSG_CLOSEDSM = 0x0302,
  MSG_OPENDS = 0x0401,
  MSG_CLOSEDS = 0x0402,
  MSG_USERSELECT = 0x0403,
  MSG_DISABLEDS = 0x0501,
  MSG_ENABLEDS = 0x0502,
  MSG_ENABLEDSUIONLY = 0x0503,
  MSG_PROCESSEVENT = 0x0601,
  MSG_ENDXFER = 0x0701,
  MSG_STOPFEEDER = 0x0702,
  MSG_REGISTER_CALLBACK = 0x0902,
  MSG_RESETALL = 0x0A01,
};

enum : TW_UINT16 {
  TWRC_SUCCESS = 0,
  TWRC_FAILURE = 1,
  TWRC_CHECKSTATUS = 2,
  TWRC_CANCEL = 3,
  TWRC_DSEVENT = 4,
  TWRC_NOTDSEVENT = 5,
  TWRC_XFERDONE = 6,
  TWRC_ENDOFLIST = 7,
};

enum : TW_UINT16 {
  TWCC_SUCCESS = 0,
  TWCC_BUMMER = 1,
  TWCC_LOWMEMORY = 2,
  TWCC_NODS = 3,
  TWCC_MAXCONNECTIONS = 4,
  TWCC_OPERATIONERROR = 5,
  TWCC_BADCAP = 6,
  TWCC_BADPROTOCOL = 9,
  TWCC_BADVALUE = 10,
  TWCC_SEQERROR = 11,
  TWCC_BADDEST = 12,
  TWCC_CAPUNSUPPORTED = 13,
  TWCC_CAPBADOPERATION = 14,
  TWCC_CAPSEQERROR = 15,
  TWCC_PAPERJAM = 20,
  TWCC_PAPERDOUBLEFEED = 21,
  TWCC_CHECKDEVICEONLINE = 23,
  TWCC_NOMEDIA = 29,
};

enum : TW_UINT16 {
  TWON_ARRAY = 3,
  TWON_ENUMERATION = 4,
  TWON_ONEVALUE = 5,
  TWON_RANGE = 6,
  TWON_DONTCARE16 = 0xFFFF,
};
constexpr TW_UINT32 TWON_DONTCARE32 = 0xFFFFFFFFu;

enum : TW_UINT16 {
  TWTY_INT8 = 0,
  TWTY_INT16 = 1,
  TWTY_INT32 = 2,
  TWTY_UINT8 = 3,
  TWTY_UINT16 = 4,
  TWTY_UINT32 = 5,
  TWTY_BOOL = 6,
  TWTY_FIX32 = 7,
  TWTY_FRAME = 8,
  TWTY_STR32 = 9,
  TWTY_STR64 = 10,
  TWTY_STR128 = 11,
  TWTY_STR255 = 12,
  TWTY_HANDLE = 15,
};

enum : TW_UINT16 {
  CAP_XFERCOUNT = 0x0001,
  ICAP_COMPRESSION = 0x0100,
  ICAP_PIXELTYPE = 0x0101,
  ICAP_UNITS = 0x0102,
  ICAP_XFERMECH = 0x0103,
  CAP_FEEDERENABLED = 0x1002,
  CAP_FEEDERLOADED = 0x1003,
  CAP_SUPPORTEDCAPS = 0x1005,
  CAP_AUTOFEED = 0x1007,
  CAP_INDICATORS = 0x100B,
  CAP_UICONTROLLABLE = 0x100E,
  CAP_DUPLEXENABLED = 0x1013,
  CAP_SERIALNUMBER = 0x1024,
  ICAP_BRIGHTNESS = 0x1101,
  ICAP_CONTRAST = 0x1103,
  ICAP_IMAGEFILEFORMAT = 0x110C,
  ICAP_PHYSICALWIDTH = 0x1111,
  ICAP_PHYSICALHEIGHT = 0x1112,
  ICAP_FRAMES = 0x1114,
  ICAP_XRESOLUTION = 0x1118,
  ICAP_YRESOLUTION = 0x1119,
  ICAP_BITORDER = 0x111C,
  ICAP_PIXELFLAVOR = 0x111F,
  ICAP_SUPPORTEDSIZES = 0x1122,
  ICAP_BITDEPTH = 0x112B,
};

enum : TW_UINT16 { TWPT_BW = 0, TWPT_GRAY = 1, TWPT_RGB = 2 };
enum : TW_UINT16 { TWSX_NATIVE = 0, TWSX_FILE = 1, TWSX_MEMORY = 2 };
enum : TW_UINT16 { TWCP_NONE = 0, TWCP_GROUP4 = 5 };
enum : TW_UINT16 { TWUN_INCHES = 0, TWUN_CENTIMETERS = 1, TWUN_PIXELS = 5, TWUN_MILLIMETERS = 6 };
enum : TW_UINT16 { TWFF_TIFF = 0, TWFF_BMP = 2, TWFF_PNG = 7 };
enum : TW_UINT16 { TWBO_LSBFIRST = 0, TWBO_MSBFIRST = 1 };
enum : TW_UINT16 { TWPF_CHOCOLATE = 0, TWPF_VANILLA = 1 };
enum : TW_UINT32 {
  TWMF_APPOWNS = 0x1,
  TWMF_DSMOWNS = 0x2,
  TWMF_DSOWNS = 0x4,
  TWMF_POINTER = 0x8,
  TWMF_HANDLE = 0x10,
};

// Bytes of one item of a container, 0 for types that cannot be stepped over.
inline unsigned itemSize(TW_UINT16 type)
{
  switch (type) {
  case TWTY_INT8: case TWTY_UINT8: return 1;
  case TWTY_INT16: case TWTY_UINT16: case TWTY_BOOL: return 2;
  case TWTY_INT32: case TWTY_UINT32: case TWTY_FIX32: return 4;
  case TWTY_FRAME: return 16;
  case TWTY_STR32: return 34;
  case TWTY_STR64: return 66;
  case TWTY_STR128: return 130;
  case TWTY_STR255: return 256;
  case TWTY_HANDLE: return 8;
  default: return 0;
  }
}

// Characters a string item type holds (not counting the length byte).
inline unsigned stringCapacity(TW_UINT16 type)
{
  switch (type) {
  case TWTY_STR32: return 32;
  case TWTY_STR64: return 64;
  case TWTY_STR128: return 128;
  case TWTY_STR255: return 255;
  default: return 0;
  }
}

// FIX32 from a number: v = x * 65536 rounded half away from zero to 32
// bits; the whole part is v's high half (arithmetic), the fraction its low
// half. (Adding 0.5 before truncating toward zero would take -2 to
// -1.99998.)
inline TW_FIX32 toFix32(double x)
{
  double scaled = x * 65536.0;
  scaled += scaled < 0 ? -0.5 : 0.5;
  int32_t v;
  if (!(scaled == scaled))
    v = 0;
  else if (scaled >= 2147483647.0)
    v = INT32_MAX;
  else if (scaled <= -2147483648.0)
    v = INT32_MIN;
  else
    v = int32_t(scaled); // toward zero
  TW_FIX32 f;
  f.Whole = TW_INT16(v >> 16);
  f.Frac = TW_UINT16(v & 0xffff);
  return f;
}
inline double fromFix32(TW_FIX32 f) { return f.Whole + f.Frac / 65536.0; }

// Memory handles: a block header {data, size} followed by the bytes; lock
// gives the data. The source manager's memory functions and the bridge's
// local ones share this form, so the length of a native transfer is always
// known.
struct Block {
  void* data;
  uint64_t size;
};

inline TW_HANDLE blockAllocate(TW_UINT32 size)
{
  Block* b = static_cast<Block*>(calloc(1, sizeof(Block) + size));
  if (!b)
    return nullptr;
  b->data = b + 1;
  b->size = size;
  return b;
}
inline void blockFree(TW_HANDLE h) { free(h); }
inline TW_MEMREF blockLock(TW_HANDLE h) { return h ? static_cast<Block*>(h)->data : nullptr; }
inline void blockUnlock(TW_HANDLE) {}
inline uint64_t blockSize(TW_HANDLE h) { return h ? static_cast<Block*>(h)->size : 0; }

} // namespace twain
