// The PDF reader: opening a document through the PDF reading script, the
// lazy placeholder, and drawing the page on first access.
#include "pdfreader/pdf_reader.hh"

#include <cstdio>
#include <iostream>
#include <stdexcept>

#include "bind/LuaWrapper.hh"
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

} // namespace

std::string PDFReader::scriptPath()
{
  return platform::resourceDirectory() + "/PDF.bcz";
}

int PDFReader::open(std::istream* stream, Image& image, const std::string& decompress,
                    int index)
{
  (void)decompress;
  if (!stream)
    return 0;
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
    const char* msg = lua_tostring(L, -1);
    std::cerr << "there were errors loading " << path << ":\n" << (msg ? msg : "") << std::endl;
    return giveUp(L, setup.objectRef, stream);
  }

  LuaTable document;
  int pages = 0;
  try {
    OpenCall open(setup.objectRef);
    document = LuaWrapper::Call_1<LuaTable>(L, open);
    if (document.empty())
      return giveUp(L, setup.objectRef, stream);
    Global info("pdfInfo");
    LuaWrapper::Call_0(L, info, document);
    Global count("pdfPages");
    pages = LuaWrapper::Call_1<int>(L, count, document);
  } catch (const std::exception& e) {
    std::cerr << "failed to open PDF: " << e.what() << std::endl;
    return giveUp(L, setup.objectRef, stream);
  }
  if (pages < 1 || index < 0 || index >= pages)
    return giveUp(L, setup.objectRef, stream);

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

  image.setRawData(nullptr);
  image.w = 1;
  image.h = 1;
  image.bps = 1;
  image.spp = 1;
  image.rowStride = 0;
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

std::istream* PDFReader::openStream()
{
  LuaIstream* object = istreamObject(luaState, istreamRef);
  return object ? object->stream : nullptr;
}

bool PDFReader::renderNatively(Image& image)
{
  lua_State* L = luaState;
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
  if (!image || failed || !luaState)
    return;
  try {
    if (nativeRaster && renderNatively(*image))
      return;
    platform::systemLog("falling back to poppler PDF");
    std::istream* in = openStream();
    if (!in) {
      std::fprintf(stderr, "PDF page %d: the document's stream was closed\n", page + 1);
      failed = true;
      image->setRawData(nullptr);
      image->resize(0, 0);
      return;
    }
    if (!pdfreader::renderPage(*in, *image, page + 1, dpi))
      failed = true;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "PDF page %d: %s\n", page + 1, e.what());
    failed = true;
  }
}

namespace {

// Linked whole into the program: the PDF codec reads through this reader.
struct InstallReader {
  InstallReader() { PDFCodec::readHook = &PDFReader::open; }
} installReader;

} // namespace
