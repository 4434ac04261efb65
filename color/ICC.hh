// ICC input profiles: the parsed form that the per-pixel transform works
// from, and the parser that fills it. The parser writes every header field,
// tag entry and table size it meets as a trace line on standard error.
#pragma once

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

// Profile connection space of the parsed table.
enum { ICC_PCS_DEVICE = 0, ICC_PCS_LAB = 1, ICC_PCS_XYZ = 2 };

struct ICCProfileState {
  // Data colour space signature of the header ("RGB ", "GRAY", "Lab "...),
  // empty when there is no valid header.
  std::string dataSpace;
  int pcs = ICC_PCS_DEVICE;
  // Lab tables of version-4 lutAtoB tags use the full-range Lab encoding.
  bool labV4 = false;

  float whiteX = 0.917f, whiteY = 0.965f, whiteZ = 0.771f;

  // Input curves, lutInSize entries per channel, three channels side by
  // side, values 0..1; lutInSize 0 = none.
  std::vector<float> lutIn;
  int lutInSize = 0;

  // Colour lookup table: lut3DDims[k] grid points along input channel k
  // (the first varies slowest), three outputs per point on the raw 16-bit
  // encoding scale (0..65535). lut3DSize is the first dimension, 0 = none.
  std::vector<float> lut3D;
  int lut3DSize = 0;
  int lut3DDims[3] = {0, 0, 0};

  // Curves and matrix between the table and the output curves (lutAtoB
  // only); values 0..1.
  std::vector<float> lutM;
  int lutMSize = 0;
  bool hasMatrix = false;
  float matrix[12] = {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0};

  // Output curves, laid out like lutIn.
  std::vector<float> lutOut;
  int lutOutSize = 0;

  float rXYZ[3] = {0, 0, 0}, gXYZ[3] = {0, 0, 0}, bXYZ[3] = {0, 0, 0};

  // Tone curves, raw 0..65535; size 0 = none (absent or identity).
  std::vector<uint16_t> rTRC, gTRC, bTRC;
  int rTRCSize = 0, gTRCSize = 0, bTRCSize = 0;

  bool hasLUT() const { return lut3DSize > 0; }
  bool hasTRC() const { return rTRCSize > 0 && gTRCSize > 0 && bTRCSize > 0; }
};

// A profile held in memory; every read is bounded by the bytes present.
class ICCBytes {
public:
  explicit ICCBytes(std::string bytes) : data(std::move(bytes)) {}
  uint64_t size() const { return data.size(); }
  bool has(uint64_t off, uint64_t len) const { return off <= size() && len <= size() - off; }
  // Callers check has() first.
  uint8_t u8(uint64_t off) const { return (uint8_t)data[off]; }
  uint16_t u16(uint64_t off) const { return (uint16_t)(u8(off) << 8 | u8(off + 1)); }
  uint32_t u32(uint64_t off) const { return (uint32_t)u16(off) << 16 | u16(off + 2); }
  float s15f16(uint64_t off) const { return float((int32_t)u32(off)) * (1.0f / 65536.0f); }
  bool sigIs(uint64_t off, const char* sig) const { return has(off, 4) && data.compare(off, 4, sig) == 0; }
  std::string sig(uint64_t off) const;

private:
  std::string data;
};

// Profiles larger than this are refused: no real input profile comes close.
constexpr uint64_t ICC_MAX_PROFILE = 16u << 20;

// Reads the whole stream, stopping soon after ICC_MAX_PROFILE bytes.
std::string readICCStream(std::istream& in);

// Parses a profile into `state` (which starts from its defaults).
void parseICC(const ICCBytes& profile, ICCProfileState& state);

// One curve element (curv or para) at `pos`. On return `pos` is the end of
// the element's data, `table` the curve (empty for the identity) and `count`
// its entries (unchanged for the identity). Returns false for an element
// that is neither type or does not fit in the profile; `pos` then points
// past its 12-byte header.
bool readCurv(const ICCBytes& profile, uint64_t& pos, std::vector<uint16_t>& table, int& count);

// Entries a para curve is sampled to.
constexpr int ICC_PARA_ENTRIES = 4096;

class Image;

// applyICC without the fast paths of the 8-bit pixel types: the reference
// they are tested against.
bool applyICCGeneral(Image& image, std::istream& profile);
