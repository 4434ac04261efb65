// The PDF reader: opening a document through the PDF reading script and
// poppler, the page's image before it is drawn, and drawing it on first
// access.
#include "pdfreader/pdf_reader.hh"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <iostream>
#include <map>
#include <stdexcept>
#include <vector>

#include "bind/LuaWrapper.hh"
#include "codecs/Args.hh"
#include "codecs/MemoryStream.hh"
#include "codecs/PDF.hh"
#include "host/Modules.hh"
#include "host/Interrupt.hh"
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

// The input goes back to the caller at position 0 for the next codec's
// probe.
int handBack(std::istream* stream)
{
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

// The strings of the table field `key` of the document table under
// whole-number keys (pages) from 1 to 100,000.
std::map<int, std::string> documentReasons(lua_State* L, const LuaTable& document,
                                           const char* key)
{
  std::map<int, std::string> out;
  const int top = lua_gettop(L);
  if (lua_checkstack(L, 4)) {
    document.push(L);
    if (lua_istable(L, -1)) {
      lua_getfield(L, -1, key);
      if (lua_istable(L, -1)) {
        lua_pushnil(L);
        while (lua_next(L, -2) != 0) {
          if (lua_type(L, -2) == LUA_TNUMBER && lua_type(L, -1) == LUA_TSTRING) {
            const lua_Number n = lua_tonumber(L, -2);
            if (n >= 1 && n <= 100000 && n == lua_Number(int(n)))
              out[int(n)] = lua_tostring(L, -1);
          }
          lua_pop(L, 1);
        }
      }
    }
  }
  lua_settop(L, top);
  return out;
}

} // namespace

namespace pdfreader {

// One PDF input as the job has it open: its bytes (poppler's copy, the
// script reads the same memory), the script's state with its parse, and
// poppler's document.
class OpenDocument {
public:
  OpenDocument() = default;
  ~OpenDocument();
  OpenDocument(const OpenDocument&) = delete;
  OpenDocument& operator=(const OpenDocument&) = delete;

  // Reads and parses the document; false (with the caller's stream
  // rewound by the caller) when it is no PDF document this reader opens.
  bool open(std::istream* stream);

  lua_State* L = nullptr;
  LuaTable table;
  int istreamRef = LUA_NOREF;
  std::shared_ptr<PopplerDocument> poppler;
  int pages = 0;

  // The file it was read from, to know it again.
  struct FileId {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    int64_t mtimeSec = 0, mtimeNsec = 0;
    bool operator==(const FileId& o) const
    {
      return dev == o.dev && ino == o.ino && size == o.size && mtimeSec == o.mtimeSec &&
             mtimeNsec == o.mtimeNsec;
    }
  };
  bool fromFile = false;
  FileId file;
  // Why open() refused a document it recognised, for the caller to say.
  std::string refusal;
  // The pages handed to readers; a document is held for its job until each
  // has been.
  std::vector<bool> handed;
  int handedCount = 0;

private:
  void closeScript();
  bool complete = false; // opened: the script's document is closed with it
  // The script's input: the file's bytes in memory.
  std::unique_ptr<MemoryIn> scriptBuf;
  std::unique_ptr<std::istream> scriptIn;
};

} // namespace pdfreader

namespace {

using pdfreader::OpenDocument;

int opened = 0;

// The file the registry is reading, when it names one.
bool fileIdOf(const std::string& path, OpenDocument::FileId& id)
{
  struct stat st;
  if (path.empty() || stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
    return false;
  id.dev = st.st_dev;
  id.ino = st.st_ino;
  id.size = st.st_size;
  id.mtimeSec = int64_t(st.st_mtim.tv_sec);
  id.mtimeNsec = int64_t(st.st_mtim.tv_nsec);
  return true;
}

// Documents open in the program: known while any reader holds one, held
// here while a job has pages of it still to read. What is held is bounded:
// past it the oldest is let go (and read again should its pages come).
constexpr size_t kHeldBytes = size_t(1) << 30;

struct Documents {
  std::vector<std::weak_ptr<OpenDocument>> known;
  std::deque<std::shared_ptr<OpenDocument>> held;
};

Documents* documents = nullptr;

void releaseDocuments()
{
  Documents* d = documents;
  documents = nullptr;
  delete d;
}

Documents& registry()
{
  if (!documents) {
    documents = new Documents;
    // Before the teardown that poppler's first document arranged (fonts).
    std::atexit(releaseDocuments);
  }
  return *documents;
}

std::shared_ptr<OpenDocument> knownDocument(const OpenDocument::FileId& id)
{
  Documents& d = registry();
  std::shared_ptr<OpenDocument> found;
  for (auto it = d.known.begin(); it != d.known.end();) {
    std::shared_ptr<OpenDocument> doc = it->lock();
    if (!doc) {
      it = d.known.erase(it);
      continue;
    }
    if (!found && doc->fromFile && doc->file == id)
      found = doc;
    ++it;
  }
  return found;
}

void hold(const std::shared_ptr<OpenDocument>& doc)
{
  Documents& d = registry();
  for (const auto& h : d.held)
    if (h == doc)
      return;
  d.held.push_back(doc);
  size_t bytes = 0;
  for (const auto& h : d.held)
    bytes += h->poppler ? h->poppler->data().size() : 0;
  while (d.held.size() > 1 && bytes > kHeldBytes) {
    bytes -= d.held.front()->poppler ? d.held.front()->poppler->data().size() : 0;
    d.held.pop_front();
  }
}

void letGo(const std::shared_ptr<OpenDocument>& doc)
{
  if (!documents)
    return;
  auto& held = documents->held;
  for (auto it = held.begin(); it != held.end(); ++it)
    if (*it == doc) {
      held.erase(it);
      return;
    }
}

} // namespace

namespace pdfreader {

OpenDocument::~OpenDocument()
{
  closeScript();
}

void OpenDocument::closeScript()
{
  if (!L)
    return;
  try {
    Global close("pdfClose");
    if (complete && !table.empty())
      LuaWrapper::Call_0(L, close, table);
  } catch (const std::exception& e) {
    std::cerr << "failed to close PDF: " << e.what() << std::endl;
  }
  if (LuaIstream* object = istreamObject(L, istreamRef))
    object->stream = nullptr;
  lua_close(L);
  L = nullptr;
}

bool OpenDocument::open(std::istream* stream)
{
  // Read whole, once: the script parses the bytes in memory, poppler
  // draws from them.
  std::vector<char> bytes;
  if (!readAll(*stream, bytes)) {
    std::cerr << "PDF: cannot read the document" << std::endl;
    return false;
  }
  ++opened;
  const size_t fileSize = bytes.size();

  L = luaL_newstate();
  if (!L)
    return false;
  scriptBuf = std::make_unique<MemoryIn>(reinterpret_cast<const unsigned char*>(bytes.data()),
                                         fileSize);
  scriptIn = std::make_unique<std::istream>(scriptBuf.get());
  Setup setup{scriptIn.get(), LUA_NOREF};
  if (lua_cpcall(L, setupState, &setup) != 0) {
    std::cerr << "PDF reader: cannot set up the script state" << std::endl;
    return false;
  }
  istreamRef = setup.objectRef;

  const std::string path = PDFReader::scriptPath();
  if (luaL_loadfile(L, path.c_str()) != 0 || lua_pcall(L, 0, 0, 0) != 0) {
    std::cerr << "there were errors loading " << path << ":\n" << LuaWrapper::errorText(L, -1) << std::endl;
    return false;
  }

  int scriptPages = 0;
  std::string update, note;
  // A PDF document whose structure the script cannot read (its objects
  // encrypted in object streams, or inflating past the script's bound) is
  // counted by poppler, which draws it.
  bool popplerCounts = false;
  try {
    OpenCall call(istreamRef);
    table = LuaWrapper::Call_1<LuaTable>(L, call);
    if (table.empty())
      return false;
    Global info("pdfInfo");
    LuaWrapper::Call_0(L, info, table);
    Global count("pdfPages");
    scriptPages = LuaWrapper::Call_1<int>(L, count, table);
    update = documentString(L, table, "update");
    note = documentString(L, table, "note");
    popplerCounts = documentFlag(L, table, "rasteriserCounts");
  } catch (const std::exception& e) {
    std::cerr << "failed to open PDF: " << e.what() << std::endl;
    return false;
  }
  if (scriptPages < 1 && !popplerCounts)
    return false;

  // the script's incremental update: the page tree mended, calibrated gray
  // made device gray
  try {
    if (!update.empty()) {
      bytes.reserve(bytes.size() + update.size());
      bytes.insert(bytes.end(), update.begin(), update.end());
    }
    poppler = std::make_shared<PopplerDocument>(std::move(bytes));
  } catch (const std::exception& e) {
    std::cerr << "PDF: " << e.what() << std::endl;
    return false;
  }
  // The script reads on from poppler's copy, whose start is the file.
  scriptBuf = std::make_unique<MemoryIn>(
      reinterpret_cast<const unsigned char*>(poppler->data().data()), fileSize);
  scriptIn->rdbuf(scriptBuf.get());
  scriptIn->clear();

  if (!note.empty())
    poppler->say(note);
  if (poppler->status() == PopplerDocument::NeedsPassword) {
    // the caller says it, in its own words and with the file's name
    refusal = "the document is encrypted and needs a password";
    return false;
  }
  if (poppler->status() != PopplerDocument::Open) {
    std::string line = "PDF: poppler cannot open the document";
    if (scriptPages > 0)
      line += " (" + std::to_string(scriptPages) + " pages found in it)";
    poppler->say(line + "; not read");
    return false;
  }
  // The pages are those the rasteriser can draw.
  pages = poppler->pages();
  if (!popplerCounts && scriptPages != pages) {
    // pages that show nothing, each with its cause, when they are the
    // ones missing
    const std::map<int, std::string> empty = documentReasons(L, table, "emptyPages");
    if (scriptPages - int(empty.size()) == pages)
      for (const auto& [page, why] : empty)
        poppler->say("PDF: page " + std::to_string(page) + " of " + std::to_string(scriptPages) +
                     " left out: " + why);
    else
      poppler->say("PDF: the page tree holds " + std::to_string(scriptPages) +
                   " pages, poppler finds " + std::to_string(pages) + "; reading " +
                   std::to_string(pages));
  } else if (popplerCounts && pages > 0 && poppler->promisedPages() > pages) {
    poppler->say("PDF: the document has " + std::to_string(poppler->promisedPages()) +
                 " pages, poppler can open " + std::to_string(pages) + "; reading " +
                 std::to_string(pages));
  }
  if (pages < 1) {
    refusal = "the document has no page";
    return false;
  }
  handed.assign(size_t(pages), false);
  complete = true;
  return true;
}

} // namespace pdfreader

int PDFReader::readDpi = 300;
int64_t PDFReader::readMaxPixels = 0;

std::string PDFReader::scriptPath()
{
  return platform::resourceDirectory() + "/PDF.bcz";
}

int PDFReader::documentsOpened()
{
  return opened;
}

int PDFReader::open(std::istream* stream, Image& image, const std::string& decompress,
                    int index)
{
  if (!stream)
    return 0;
  // Counting only: the document is opened and its pages counted, no page
  // is looked at and nothing stays attached to the image.
  const bool countOnly = Args(decompress).count("count") > 0;
  // The same file again (its next page, after its count): the document
  // open already, and the input is not read again.
  OpenDocument::FileId id;
  const bool fromFile = fileIdOf(PDFCodec::readingFile, id);
  std::shared_ptr<OpenDocument> doc;
  if (fromFile)
    doc = knownDocument(id);
  if (!doc) {
    // the script decides on anything starting with "%", and on a header
    // after other bytes, where poppler finds it
    const bool percent = stream->peek() == '%';
    stream->clear();
    if (!percent && !PDFCodec::hasHeader(*stream))
      return 0;
    try {
      doc = std::make_shared<OpenDocument>();
    } catch (const std::exception&) {
      return handBack(stream);
    }
    if (!doc->open(stream)) {
      if (!doc->refusal.empty())
        refuseRead(doc->refusal);
      return handBack(stream);
    }
    doc->fromFile = fromFile;
    doc->file = id;
    if (fromFile) {
      registry().known.push_back(doc);
      hold(doc);
    }
  }
  const int pages = doc->pages;
  if (index < 0 || index >= pages)
    return handBack(stream);
  if (countOnly) {
    handBack(stream);
    return pages;
  }
  // Once each page has gone to a reader, the readers alone hold the
  // document.
  if (!doc->handed[size_t(index)]) {
    doc->handed[size_t(index)] = true;
    if (++doc->handedCount == pages)
      letGo(doc);
  }

  bool native = false;
  try {
    Global rasterize("pdfRasterize");
    native = LuaWrapper::Call_1<bool>(doc->L, rasterize, doc->table, index + 1, readDpi, false,
                                      true, true, 10);
  } catch (const std::exception& e) {
    std::cerr << "failed to get PDF image natively: " << e.what() << std::endl;
  }

  PDFReader* reader;
  try {
    reader = new PDFReader(stream, doc, index);
  } catch (const std::exception&) {
    return handBack(stream);
  }
  reader->nativeRaster = native;
  reader->dpi = readDpi;
  reader->poppler = doc->poppler;

  // The page is drawn now, once: its format (gray when every pixel drawn
  // is gray) is known only from the drawing, and whatever looks at the
  // image sees the page it is. A page the script draws is drawn by it.
  Image drawn;
  if (native && reader->renderNatively(drawn)) {
    image.copyTransferOwnership(drawn);
    image.setCodec(reader);
    image.pixelsDirty = false;
    return -pages;
  }
  if (!reader->poppler->pageSize(index + 1, reader->dpi, reader->pageW, reader->pageH) ||
      (readMaxPixels > 0 && int64_t(reader->pageW) * reader->pageH > readMaxPixels)) {
    reader->stream = nullptr; // still the caller's
    delete reader;
    return handBack(stream);
  }
  bool done = false;
  try {
    done = reader->poppler->draw(index + 1, reader->dpi, pdfreader::PopplerDocument::Decide,
                                 drawn);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "PDF page %d: %s\n", index + 1, e.what());
  }
  // Not drawn: a stopped drawing is tried again when the pixels are
  // asked for (the job ends first); a page poppler cannot draw comes back
  // white, in colour.
  reader->gray = done && drawn.spp == 1;
  reader->failed = !done && host::signalPending() == 0;

  image.setRawData(nullptr);
  image.w = reader->pageW;
  image.h = reader->pageH;
  image.bps = 8;
  image.spp = reader->gray ? 1 : 3;
  image.rowStride = 0;
  image.resX = image.resY = reader->dpi;
  image.setCodec(reader);
  if (done) {
    image.copyTransferOwnership(drawn);
    image.pixelsDirty = false;
  }
  return -pages;
}

PDFReader::PDFReader(std::istream* stream, std::shared_ptr<pdfreader::OpenDocument> document,
                     int page)
  : stream(stream), document(std::move(document)), page(page)
{
}

PDFReader::~PDFReader()
{
  poppler.reset();
  document.reset();
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
  lua_State* L = document ? document->L : nullptr;
  if (!L)
    return false;
  const int top = lua_gettop(L);
  try {
    Global rasterize("pdfRasterize");
    LuaWrapper::detail::reserve(L, 10);
    if (!rasterize.prepareStack(L))
      return false;
    document->table.push(L);
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
  if (!image || !poppler || pageW <= 0 || pageH <= 0)
    return;
  // Drawn again, in the format announced, only when the pixels drawn at
  // opening were dropped or their drawing stopped.
  if (!failed) {
    try {
      if (poppler->draw(page + 1, dpi,
                        gray ? pdfreader::PopplerDocument::Gray : pdfreader::PopplerDocument::RGB,
                        *image))
        return;
    } catch (const std::exception& e) {
      std::fprintf(stderr, "PDF page %d: %s\n", page + 1, e.what());
    }
    failed = true;
  }
  // The page stays what it was announced as: white.
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
