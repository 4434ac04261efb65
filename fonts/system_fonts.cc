// Font names to installed files through fontconfig; faces through FreeType.
#include "fonts/system_fonts.hh"

#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <limits>
#include <map>
#include <tuple>
#include <utility>

#if defined(__SANITIZE_ADDRESS__)
#define TOLM_LEAK_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TOLM_LEAK_CHECKED 1
#endif
#endif

namespace fonts {

namespace {

FcConfig* fontConfig()
{
  static FcConfig* config = startFontconfig() ? FcConfigGetCurrent() : nullptr;
  return config;
}

std::string lower(std::string s)
{
  for (char& c : s)
    c = (char)std::tolower((unsigned char)c);
  return s;
}

bool sameName(const std::string& a, const std::string& b) { return lower(a) == lower(b); }

std::string patternString(FcPattern* p, const char* object, int n = 0)
{
  FcChar8* s = nullptr;
  if (FcPatternGetString(p, object, n, &s) == FcResultMatch && s)
    return (const char*)s;
  return std::string();
}

bool scalable(FcPattern* p)
{
  FcBool outline = FcFalse, scalable = FcFalse;
  FcPatternGetBool(p, FC_OUTLINE, 0, &outline);
  FcPatternGetBool(p, FC_SCALABLE, 0, &scalable);
  return outline && scalable && !patternString(p, FC_FILE).empty();
}

FontLocation locationOf(FcPattern* p)
{
  FontLocation loc;
  loc.file = patternString(p, FC_FILE);
  FcPatternGetInteger(p, FC_INDEX, 0, &loc.index);
  loc.postscriptName = patternString(p, FC_POSTSCRIPT_NAME);
  loc.family = patternString(p, FC_FAMILY);
  loc.style = patternString(p, FC_STYLE);
  return loc;
}

// Several installed files can answer one query (the same family as OpenType
// and as Type 1, a condensed variant listing the plain family second):
// prefer the face that names the query first, of normal width, in an
// sfnt format, then the file name for a stable choice.
auto rankOf(FcPattern* p, const std::string& family, const std::string& style)
{
  int width = FC_WIDTH_NORMAL;
  FcPatternGetInteger(p, FC_WIDTH, 0, &width);
  std::string format = patternString(p, FC_FONTFORMAT);
  int formatRank = format == "TrueType" ? 0 : format == "CFF" ? 1 : 2;
  int index = 0;
  FcPatternGetInteger(p, FC_INDEX, 0, &index);
  return std::make_tuple(!family.empty() && !sameName(patternString(p, FC_FAMILY), family),
                         !style.empty() && !sameName(patternString(p, FC_STYLE), style),
                         width != FC_WIDTH_NORMAL, formatRank, patternString(p, FC_FILE), index);
}

// True when one of the pattern's values of `object` is `value` (fontconfig's
// own comparison also ignores blanks: "DejaVu Sans-Bold" is no PostScript
// name).
bool hasValue(FcPattern* p, const char* object, const std::string& value)
{
  FcChar8* s = nullptr;
  for (int i = 0; FcPatternGetString(p, object, i, &s) == FcResultMatch; ++i)
    if (s && sameName((const char*)s, value))
      return true;
  return false;
}

// Lists installed scalable faces whose `object` has the value `value` (and
// whose style is `style` when given); picks the best ranked.
bool listed(const char* object, const std::string& value, const std::string& style,
            FontLocation& out)
{
  FcConfig* config = fontConfig();
  if (!config || value.empty())
    return false;
  FcPattern* query = FcPatternCreate();
  FcPatternAddString(query, object, (const FcChar8*)value.c_str());
  if (!style.empty())
    FcPatternAddString(query, FC_STYLE, (const FcChar8*)style.c_str());
  FcPatternAddBool(query, FC_OUTLINE, FcTrue);
  FcPatternAddBool(query, FC_SCALABLE, FcTrue);
  FcObjectSet* objects =
      FcObjectSetBuild(FC_FILE, FC_INDEX, FC_POSTSCRIPT_NAME, FC_FULLNAME, FC_FAMILY, FC_STYLE, FC_WIDTH,
                       FC_FONTFORMAT, FC_OUTLINE, FC_SCALABLE, (char*)nullptr);
  FcFontSet* set = FcFontList(config, query, objects);
  FcObjectSetDestroy(objects);
  FcPatternDestroy(query);
  bool found = false;
  if (set) {
    std::string family = std::string(object) == FC_FAMILY ? value : std::string();
    FcPattern* best = nullptr;
    for (int i = 0; i < set->nfont; ++i) {
      FcPattern* p = set->fonts[i];
      if (!scalable(p) || !hasValue(p, object, value) ||
          (!style.empty() && !hasValue(p, FC_STYLE, style)))
        continue;
      if (!best || rankOf(p, family, style) < rankOf(best, family, style))
        best = p;
    }
    if (best) {
      out = locationOf(best);
      found = true;
    }
    FcFontSetDestroy(set);
  }
  return found;
}

// Weight and slant a style word asks for, so that a best match lands on the
// nearest face when the family has no face of exactly that style name.
void addStyleHints(FcPattern* p, const std::string& style)
{
  static const std::pair<const char*, int> weights[] = {
      {"extrabold", FC_WEIGHT_EXTRABOLD}, {"ultrabold", FC_WEIGHT_EXTRABOLD},
      {"semibold", FC_WEIGHT_DEMIBOLD},   {"demibold", FC_WEIGHT_DEMIBOLD},
      {"extralight", FC_WEIGHT_EXTRALIGHT}, {"ultralight", FC_WEIGHT_EXTRALIGHT},
      {"bold", FC_WEIGHT_BOLD},           {"black", FC_WEIGHT_BLACK},
      {"heavy", FC_WEIGHT_HEAVY},         {"demi", FC_WEIGHT_DEMIBOLD},
      {"medium", FC_WEIGHT_MEDIUM},       {"light", FC_WEIGHT_LIGHT},
      {"thin", FC_WEIGHT_THIN},
  };
  std::string s = lower(style);
  s.erase(std::remove_if(s.begin(), s.end(), [](char c) { return c == ' ' || c == '-'; }),
          s.end());
  if (s.empty())
    return;
  FcPatternAddString(p, FC_STYLE, (const FcChar8*)style.c_str());
  for (const auto& w : weights)
    if (s.find(w.first) != std::string::npos) {
      FcPatternAddInteger(p, FC_WEIGHT, w.second);
      break;
    }
  if (s.find("italic") != std::string::npos)
    FcPatternAddInteger(p, FC_SLANT, FC_SLANT_ITALIC);
  else if (s.find("oblique") != std::string::npos)
    FcPatternAddInteger(p, FC_SLANT, FC_SLANT_OBLIQUE);
}

// fontconfig's best match for a family and style, after its configuration's
// substitutions. With `requireFamily` the match must be of that family.
bool bestMatch(const std::string& family, const std::string& style, bool requireFamily,
               FontLocation& out)
{
  FcConfig* config = fontConfig();
  if (!config)
    return false;
  FcPattern* query = FcPatternCreate();
  if (!family.empty())
    FcPatternAddString(query, FC_FAMILY, (const FcChar8*)family.c_str());
  addStyleHints(query, style);
  FcPatternAddBool(query, FC_OUTLINE, FcTrue);
  FcPatternAddBool(query, FC_SCALABLE, FcTrue);
  FcConfigSubstitute(config, query, FcMatchPattern);
  FcDefaultSubstitute(query);
  FcResult result = FcResultNoMatch;
  FcPattern* match = FcFontMatch(config, query, &result);
  FcPatternDestroy(query);
  bool found = false;
  if (match) {
    bool familyOk = !requireFamily;
    for (int i = 0; !familyOk; ++i) {
      FcChar8* f = nullptr;
      if (FcPatternGetString(match, FC_FAMILY, i, &f) != FcResultMatch)
        break;
      familyOk = sameName((const char*)f, family);
    }
    if (familyOk && scalable(match)) {
      out = locationOf(match);
      found = true;
    }
    FcPatternDestroy(match);
  }
  return found;
}

// Names written on other desktops, each with installed stand-ins in order
// of preference (metric-compatible first) and a generic family last.
struct Alias {
  const char* name;
  std::initializer_list<const char*> families;
};
const Alias aliases[] = {
    {"Helvetica", {"Nimbus Sans", "Liberation Sans", "Arimo", "sans-serif"}},
    {"Arial", {"Liberation Sans", "Arimo", "Nimbus Sans", "sans-serif"}},
    {"Helvetica Neue", {"Nimbus Sans", "Liberation Sans", "sans-serif"}},
    {"Lucida Grande", {"DejaVu Sans", "sans-serif"}},
    {"Geneva", {"DejaVu Sans", "sans-serif"}},
    {"Verdana", {"DejaVu Sans", "sans-serif"}},
    {"Times", {"Nimbus Roman", "Liberation Serif", "Tinos", "serif"}},
    {"Times New Roman", {"Liberation Serif", "Tinos", "Nimbus Roman", "serif"}},
    {"Times-Roman", {"Nimbus Roman", "Liberation Serif", "Tinos", "serif"}},
    {"Georgia", {"DejaVu Serif", "serif"}},
    {"Palatino", {"P052", "serif"}},
    {"Courier", {"Nimbus Mono PS", "Liberation Mono", "Cousine", "monospace"}},
    {"Courier New", {"Liberation Mono", "Cousine", "Nimbus Mono PS", "monospace"}},
    {"Monaco", {"DejaVu Sans Mono", "monospace"}},
    {"Menlo", {"DejaVu Sans Mono", "monospace"}},
    {"Andale Mono", {"DejaVu Sans Mono", "monospace"}},
};

bool aliased(const std::string& family, const std::string& style, FontLocation& out)
{
  for (const Alias& a : aliases) {
    if (!sameName(family, a.name))
      continue;
    for (const char* f : a.families) {
      std::string candidate(f);
      bool generic = candidate == "sans-serif" || candidate == "serif" || candidate == "monospace";
      if (bestMatch(candidate, style, !generic, out))
        return true;
    }
    return false;
  }
  return false;
}

bool resolveUncached(const std::string& name, const std::string& style, FontLocation& out,
                     Resolution& how)
{
  std::string full = style.empty() ? name : name + "-" + style;
  if (listed(FC_POSTSCRIPT_NAME, full, std::string(), out)) {
    how = Resolution::PostScriptName;
    return true;
  }
  if (listed(FC_FULLNAME, full, std::string(), out)) {
    how = Resolution::FullName;
    return true;
  }
  std::string family = full, familyStyle;
  size_t dash = full.rfind('-');
  if (dash != std::string::npos && dash > 0 && dash + 1 < full.size()) {
    family = full.substr(0, dash);
    familyStyle = full.substr(dash + 1);
    if (listed(FC_FAMILY, family, familyStyle, out)) {
      how = Resolution::FamilyStyle;
      return true;
    }
  }
  if (aliased(family, familyStyle, out) || (family != full && aliased(full, "", out))) {
    how = Resolution::Alias;
    return true;
  }
  if (bestMatch(family, familyStyle, false, out)) {
    how = Resolution::BestMatch;
    return true;
  }
  return false;
}

} // namespace

bool resolveFont(const std::string& name, const std::string& style, FontLocation& out,
                 Resolution* how)
{
  struct Entry {
    bool found;
    FontLocation location;
    Resolution how;
  };
  // Names come from scripts: keep the cache bounded.
  static std::map<std::pair<std::string, std::string>, Entry> cache;
  auto key = std::make_pair(name, style);
  auto it = cache.find(key);
  if (it == cache.end()) {
    if (cache.size() >= 1024)
      cache.clear();
    Entry e{false, FontLocation(), Resolution::None};
    e.found = resolveUncached(name, style, e.location, e.how);
    it = cache.emplace(key, e).first;
  }
  if (how)
    *how = it->second.how;
  if (it->second.found)
    out = it->second.location;
  return it->second.found;
}

std::string systemFontName()
{
  FontLocation loc;
  if (bestMatch("system-ui", std::string(), false, loc) ||
      bestMatch("sans-serif", std::string(), false, loc))
    return loc.postscriptName.empty() ? loc.family : loc.postscriptName;
  return std::string();
}

// ---------------------------------------------------------------------------

struct FontFace::Library {
  FT_Library library = nullptr;
  ~Library()
  {
    if (library)
      FT_Done_FreeType(library);
  }
  static std::shared_ptr<Library> shared()
  {
    static std::shared_ptr<Library> instance = [] {
      auto lib = std::make_shared<Library>();
      if (FT_Init_FreeType(&lib->library) != 0)
        lib->library = nullptr;
      return lib;
    }();
    return instance;
  }
};

FontFace::~FontFace()
{
  if (ftFace)
    FT_Done_Face(ftFace);
}

namespace {

// Only faces with scalable outlines and a sane em can give outlines.
bool usable(FT_Face face)
{
  return face && FT_IS_SCALABLE(face) && face->units_per_EM > 0;
}

} // namespace

std::shared_ptr<FontFace> FontFace::openFile(const std::string& file, int index)
{
  static std::map<std::pair<std::string, int>, std::weak_ptr<FontFace>> open;
  auto key = std::make_pair(file, index);
  auto it = open.find(key);
  if (it != open.end())
    if (auto face = it->second.lock())
      return face;
  std::shared_ptr<Library> lib = Library::shared();
  if (!lib->library)
    return nullptr;
  std::shared_ptr<FontFace> face(new FontFace);
  face->library = lib;
  if (FT_New_Face(lib->library, file.c_str(), index, &face->ftFace) != 0) {
    face->ftFace = nullptr;
    return nullptr;
  }
  if (!usable(face->ftFace))
    return nullptr;
  for (auto i = open.begin(); i != open.end();)
    i = i->second.expired() ? open.erase(i) : std::next(i);
  open[key] = face;
  return face;
}

std::shared_ptr<FontFace> FontFace::openMemory(const char* data, size_t size)
{
  if (!data || size == 0 || size > (size_t)std::numeric_limits<FT_Long>::max())
    return nullptr;
  std::shared_ptr<Library> lib = Library::shared();
  if (!lib->library)
    return nullptr;
  std::shared_ptr<FontFace> face(new FontFace);
  face->library = lib;
  face->bytes = std::make_shared<const std::string>(data, size);
  if (FT_New_Memory_Face(lib->library, (const FT_Byte*)face->bytes->data(), (FT_Long)size, 0,
                         &face->ftFace) != 0) {
    face->ftFace = nullptr;
    return nullptr;
  }
  if (!usable(face->ftFace))
    return nullptr;
  return face;
}

bool startFontconfig()
{
  static const bool started = [] {
    if (!FcInit())
      return false;
#if TOLM_LEAK_CHECKED
    // fontconfig keeps its parsed configuration behind offsets a leak
    // checker cannot follow: hand it back at exit, once. Only under the
    // checker: other libraries in the process may still hold its objects.
    std::atexit([] { FcFini(); });
#endif
    return true;
  }();
  return started;
}

} // namespace fonts
