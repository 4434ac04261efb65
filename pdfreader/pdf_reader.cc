// The PDF reader: opening a document through the PDF reading script and
// poppler, the page's image before it is drawn, and drawing it on first
// access.
#include "pdfreader/pdf_reader.hh"

#include <cstdio>
#include <cstring>
#include <iostream>
#include <stdexcept>
#include <vector>

#include "bind/LuaWrapper.hh"
#include "codecs/Args.hh"
#include "codecs/PDF.hh"
#include "host/Modules.hh"
#include "host/XImage.hh"
#include "image/Image.hh"
#include "lua/lualib.h"
#include "pdfreader/lua_istream.hh"
#include "pdfreader/poppler_page.hh"
#include "platform/Resources.hh"

using LuaWrapper::Global;
using LuaWrapper::LuaTable;

namespace {

// pdfOpen takes the script's "istream" object, which no handle type of the
// call family carries: it is pushed after the function as an extra leading
// argument.
class OpenCall : public Global {
public:
  explicit OpenCall(int objectRef) : Global("pdfOpen", 1), objectRef(objectRef) {}
  bool prepareStack(lua_State* L) override
  {
    if (!Global::prepareStack(L))
      return false;
    lua_rawgeti(L, LUA_REGISTRYINDEX, objectRef);
    return true;
  }
  int objectRef;
};

// Everything that can raise a memory error while the state is set up runs
// protected: libraries, the built-in loader, the class and the wrapped
// input.
struct Setup {
  std::istream* stream;
  int objectRef;
};

int setupState(lua_State* L)
{
  Setup* s = static_cast<Setup*>(lua_touserdata(L, 1));
  luaL_openlibs(L);
  LuaWrapper::insertLoader(L, builtin_loader_entry);
  exportIstreamClass(L);
  // The input stays the registry's caller's until a reader takes it.
  LuaWrapper::LuaClass<LuaIstream>::packPtr(L, new LuaIstream(s->stream, false));
  s->objectRef = luaL_ref(L, LUA_REGISTRYINDEX);
  return 0;
}

// The "istream" object of ref, or null once the script deleted it.
LuaIstream* istreamObject(lua_State* L, int ref)
{
  if (ref == LUA_NOREF || ref == LUA_REFNIL)
    return nullptr;
  lua_rawgeti(L, LUA_REGISTRYINDEX, ref);
  LuaIstream** slot = LuaWrapper::LuaClass<LuaIstream>::getRawPtr(L, -1);
  lua_pop(L, 1);
  return slot ? *slot : nullptr;
}

// A failed open: the script loses its access to the input before the state
// goes, and the input goes back to the caller at position 0 for the next
// codec's probe.
int giveUp(lua_State* L, int objectRef, std::istream* stream)
{
  if (L) {
    if (LuaIstream* object = istreamObject(L, objectRef))
      object->stream = nullptr;
    lua_close(L);
  }
  stream->clear();
  stream->seekg(0);
  return 0;
}

// The string field `key` of the document table, or "".
std::string documentString(lua_State* L, const LuaTable& document, const char* key)
{
  std::string out;
  const int top = lua_gettop(L);
  if (lua_checkstack(L, 2)) {
    document.push(L);
    if (lua_istable(L, -1)) {
      lua_getfield(L, -1, key);
      size_t n = 0;
      if (lua_type(L, -1) == LUA_TSTRING)
        if (const char* p = lua_tolstring(L, -1, &n))
          out.assign(p, n);
    }
  }
  lua_settop(L, top);
  return out;
}

// The boolean field `key` of the document table.
bool documentFlag(lua_State* L, const LuaTable& document, const char* key)
{
  bool out = false;
  const int top = lua_gettop(L);
  if (lua_checkstack(L, 2)) {
    document.push(L);
    if (lua_istable(L, -1)) {
      lua_getfield(L, -1, key);
      out = lua_toboolean(L, -1) != 0;
    }
  }
  lua_settop(L, top);
  return out;
}

} // namespace

std::string PDFReader::scriptPath()
{
  return platform::resourceDirectory() + "/PDF.bcz";
}

int PDFReader::open(std::istream* stream, Image& image, const std::string& decompress,
                    int index)
{
  if (!stream)
    return 0;
  // Counting only: the document is opened and its pages counted, no page
  // is looked at and nothing stays attached to the image.
  const bool countOnly = Args(decompress).count("count") > 0;
  if (stream->peek() != '%') {
    stream->clear();
    return 0;
  }

  lua_State* L = luaL_newstate();
  if (!L)
    return 0;
  Setup setup{stream, LUA_NOREF};
  if (lua_cpcall(L, setupState, &setup) != 0) {
    std::cerr << "PDF reader: cannot set up the script state" << std::endl;
    return giveUp(L, setup.objectRef, stream);
  }

  const std::string path = scriptPath();
  if (luaL_loadfile(L, path.c_str()) != 0 || lua_pcall(L, 0, 0, 0) != 0) {
    std::cerr << "there were errors loading " << path << ":\n" << LuaWrapper::errorText(L, -1) << std::endl;
    return giveUp(L, setup.objectRef, stream);
  }

  LuaTable document;
  int scriptPages = 0;
  std::string update, note;
  // A PDF document whose structure the script cannot read (its objects
  // encrypted in object streams, or inflating past the script's bound) is
  // counted by poppler, which draws it.
  bool popplerCounts = false;
  try {
    OpenCall open(setup.objectRef);
    document = LuaWrapper::Call_1<LuaTable>(L, open);
    if (document.empty())
      return giveUp(L, setup.objectRef, stream);
    Global info("pdfInfo");
    LuaWrapper::Call_0(L, info, document);
    Global count("pdfPages");
    scriptPages = LuaWrapper::Call_1<int>(L, count, document);
    update = documentString(L, document, "pageTreeUpdate");
    note = documentString(L, document, "note");
    popplerCounts = documentFlag(L, document, "rasteriserCounts");
  } catch (const std::exception& e) {
    std::cerr << "failed to open PDF: " << e.what() << std::endl;
    return giveUp(L, setup.objectRef, stream);
  }
  if (scriptPages < 1 && !popplerCounts)
    return giveUp(L, setup.objectRef, stream);

  std::vector<char> bytes;
  if (!pdfreader::readAll(*stream, bytes)) {
    std::cerr << "PDF: cannot read the document" << std::endl;
    return giveUp(L, setup.objectRef, stream);
  }
  // the script's repair of a page tree whose /Count is wrong
  bytes.insert(bytes.end(), update.begin(), update.end());
  std::unique_ptr<pdfreader::PopplerDocument> poppler;
  try {
    poppler = std::make_unique<pdfreader::PopplerDocument>(std::move(bytes));
  } catch (const std::exception& e) {
    std::cerr << "PDF: " << e.what() << std::endl;
    return giveUp(L, setup.objectRef, stream);
  }
  // Lines about the document are said once, however often it is opened
  // (for its page count, then for each page).
  if (!note.empty())
    poppler->say(note);
  if (poppler->status() == pdfreader::PopplerDocument::NeedsPassword) {
    // the caller says it, in its own words and with the file's name
    refuseRead("the document is encrypted and needs a password");
    return giveUp(L, setup.objectRef, stream);
  }
  if (poppler->status() != pdfreader::PopplerDocument::Open) {
    std::string line = "PDF: poppler cannot open the document";
    if (scriptPages > 0)
      line += " (" + std::to_string(scriptPages) + " pages found in it)";
    poppler->say(line + "; not read");
    return giveUp(L, setup.objectRef, stream);
  }
  // The pages are those the rasteriser can draw.
  const int pages = poppler->pages();
  if (!popplerCounts && scriptPages != pages)
    poppler->say("PDF: the page tree holds " + std::to_string(scriptPages) +
                 " pages, poppler finds " + std::to_string(pages) + "; reading " +
                 std::to_string(pages));
  if (pages < 1 || index < 0 || index >= pages)
    return giveUp(L, setup.objectRef, stream);
  if (countOnly) {
    giveUp(L, setup.objectRef, stream);
    return pages;
  }

  bool native = false;
  try {
    Global rasterize("pdfRasterize");
    native = LuaWrapper::Call_1<bool>(L, rasterize, document, index + 1, 300, false, true, true,
                                      10);
  } catch (const std::exception& e) {
    std::cerr << "failed to get PDF image natively: " << e.what() << std::endl;
  }

  PDFReader* reader;
  try {
    reader = new PDFReader(stream, L, document, setup.objectRef, index);
  } catch (const std::exception&) {
    return giveUp(L, setup.objectRef, stream);
  }
  reader->nativeRaster = native;
  reader->dpi = 300;
  reader->poppler = std::move(poppler);

  // A page the script draws is drawn now: only then is its size known.
  // Any other page gets its size and format up front, so that whatever
  // looks at the image before its pixels sees the page it will be.
  Image drawn;
  if (native && reader->renderNatively(drawn)) {
    image.copyTransferOwnership(drawn);
    image.setCodec(reader);
    image.pixelsDirty = false;
    return -pages;
  }
  if (!reader->poppler->pageSize(index + 1, reader->dpi, reader->pageW, reader->pageH)) {
    reader->stream = nullptr; // still the caller's
    delete reader;
    stream->clear();
    stream->seekg(0);
    return 0;
  }
  reader->gray = reader->poppler->pageIsGray(index + 1);

  image.setRawData(nullptr);
  image.w = reader->pageW;
  image.h = reader->pageH;
  image.bps = 8;
  image.spp = reader->gray ? 1 : 3;
  image.rowStride = 0;
  image.resX = image.resY = reader->dpi;
  image.setCodec(reader);
  return -pages;
}

PDFReader::PDFReader(std::istream* stream, lua_State* state, LuaTable document, int istreamRef,
                     int page)
  : luaState(state), stream(stream), document(document), istreamRef(istreamRef), page(page)
{
}

PDFReader::~PDFReader()
{
  if (luaState) {
    try {
      Global close("pdfClose");
      if (!document.empty())
        LuaWrapper::Call_0(luaState, close, document);
    } catch (const std::exception& e) {
      std::cerr << "failed to close PDF: " << e.what() << std::endl;
    }
    if (LuaIstream* object = istreamObject(luaState, istreamRef))
      object->stream = nullptr;
    lua_close(luaState);
    luaState = nullptr;
  }
  if (stream != &std::cin)
    delete stream;
  stream = nullptr;
}

bool PDFReader::writeImage(std::ostream* out, Image& image, int quality,
                           const std::string& compress)
{
  for (const loader_ref* e = firstLoader(); e; e = e->next)
    if (e->prototype != this && e->isPrimary && e->prototype->getID() == getID())
      return e->prototype->writeImage(out, image, quality, compress);
  return false;
}

bool PDFReader::renderNatively(Image& image)
{
  lua_State* L = luaState;
  if (!L)
    return false;
  const int top = lua_gettop(L);
  try {
    Global rasterize("pdfRasterize");
    LuaWrapper::detail::reserve(L, 10);
    if (!rasterize.prepareStack(L))
      return false;
    document.push(L);
    lua_pushinteger(L, page + 1);
    lua_pushinteger(L, dpi);
    lua_pushboolean(L, 0);
    lua_pushboolean(L, 1);
    lua_pushboolean(L, 0);
    lua_pushinteger(L, 10);
    LuaWrapper::detail::pcallOrThrow(L, 7, 1);
  } catch (const std::exception& e) {
    lua_settop(L, top);
    std::cerr << "failed to get PDF image natively: " << e.what() << std::endl;
    return false;
  }
  // The result stays on the stack while its pixels are taken, so the
  // collector cannot free the image under us.
  XImage** slot = LuaWrapper::LuaClass<XImage>::getRawPtr(L, -1);
  XImage* result = slot ? *slot : nullptr;
  bool done = false;
  if (result && result != &image && !result->empty()) {
    image.copyTransferOwnership(*result);
    done = true;
  }
  lua_settop(L, top);
  return done;
}

void PDFReader::decodeNow(Image* image)
{
  if (!image || failed || !poppler || pageW <= 0 || pageH <= 0)
    return;
  try {
    platform::systemLog("drawing PDF page %d with poppler", page + 1);
    if (poppler->draw(page + 1, dpi, gray, *image))
      return;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "PDF page %d: %s\n", page + 1, e.what());
  }
  // The page stays what it was announced as: white.
  failed = true;
  Image white;
  white.bps = 8;
  white.spp = gray ? 1 : 3;
  try {
    white.resize(pageW, pageH);
  } catch (const std::exception&) {
    return;
  }
  if (uint8_t* p = white.getRawData()) {
    std::memset(p, 0xff, size_t(white.stride()) * size_t(pageH));
    white.setResolution(dpi, dpi);
    image->copyTransferOwnership(white);
  }
}

namespace {

// Linked whole into the program: the PDF codec reads through this reader.
struct InstallReader {
  InstallReader() { PDFCodec::readHook = &PDFReader::open; }
} installReader;

} // namespace
