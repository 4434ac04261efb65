// Input/output library: files as userdata of the class "FILE*".
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "lauxlib.h"
#include "lualib.h"
#include "lib_result.hh"

namespace {

// The FILE pointer comes first so that the block reads as a FILE** too.
struct LStream {
  FILE* f;  // NULL once closed
  int kind;
};

enum { kRegular = 0, kStandard = 1 };

// Slots of the default files in the table shared by the io functions.
enum { IO_INPUT = 1, IO_OUTPUT = 2 };
const char* const fnames[] = {"input", "output"};

}  // namespace

#define IO_ENV lua_upvalueindex(1)

static void fileerror(lua_State* L, int arg, const char* filename) {
  lua_pushfstring(L, "%s: %s", filename, std::strerror(errno));
  luaL_argerror(L, arg, lua_tostring(L, -1));
}

static LStream* tostream(lua_State* L) {
  return static_cast<LStream*>(luaL_checkudata(L, 1, LUA_FILEHANDLE));
}

static int io_type(lua_State* L) {
  luaL_checkany(L, 1);
  void* ud = lua_touserdata(L, 1);
  lua_getfield(L, LUA_REGISTRYINDEX, LUA_FILEHANDLE);
  if (ud == nullptr || !lua_getmetatable(L, 1) || !lua_rawequal(L, -2, -1))
    lua_pushnil(L);
  else if (static_cast<LStream*>(ud)->f == nullptr)
    lua_pushliteral(L, "closed file");
  else
    lua_pushliteral(L, "file");
  return 1;
}

static FILE* tofile(lua_State* L) {
  LStream* s = tostream(L);
  if (s->f == nullptr) luaL_error(L, "attempt to use a closed file");
  return s->f;
}

// Pushes a new, not yet opened file object.
static LStream* newfile(lua_State* L) {
  LStream* s = static_cast<LStream*>(lua_newuserdata(L, sizeof(LStream)));
  s->f = nullptr;
  s->kind = kRegular;
  luaL_getmetatable(L, LUA_FILEHANDLE);
  lua_setmetatable(L, -2);
  return s;
}

// Closes the file object at index 1.
static int aux_close(lua_State* L) {
  LStream* s = tostream(L);
  if (s->kind == kStandard) {
    lua_pushnil(L);
    lua_pushliteral(L, "cannot close standard file");
    return 2;
  }
  int ok = std::fclose(s->f) == 0;
  s->f = nullptr;
  return lib_pushresult(L, ok, nullptr);
}

static int io_close(lua_State* L) {
  if (lua_isnone(L, 1)) lua_rawgeti(L, IO_ENV, IO_OUTPUT);
  tofile(L);
  return aux_close(L);
}

static int f_close(lua_State* L) {
  tofile(L);
  return aux_close(L);
}

static int io_gc(lua_State* L) {
  LStream* s = tostream(L);
  if (s->f != nullptr && s->kind != kStandard) aux_close(L);
  return 0;
}

static int io_tostring(lua_State* L) {
  LStream* s = tostream(L);
  if (s->f == nullptr)
    lua_pushliteral(L, "file (closed)");
  else
    lua_pushfstring(L, "file (%p)", static_cast<void*>(s->f));
  return 1;
}

static int io_open(lua_State* L) {
  const char* filename = luaL_checkstring(L, 1);
  const char* mode = luaL_optstring(L, 2, "r");
  LStream* s = newfile(L);
  s->f = std::fopen(filename, mode);
  return s->f == nullptr ? lib_pushresult(L, 0, filename) : 1;
}

// No process pipes on this platform: the arguments are checked, then the
// call fails.
static int io_popen(lua_State* L) {
  luaL_checkstring(L, 1);
  luaL_optstring(L, 2, "r");
  return luaL_error(L, "'popen' not supported");
}

static int io_tmpfile(lua_State* L) {
  LStream* s = newfile(L);
  s->f = std::tmpfile();
  return s->f == nullptr ? lib_pushresult(L, 0, nullptr) : 1;
}

static FILE* getiofile(lua_State* L, int findex) {
  lua_rawgeti(L, IO_ENV, findex);
  LStream* s = static_cast<LStream*>(lua_touserdata(L, -1));
  if (s == nullptr || s->f == nullptr)
    luaL_error(L, "standard %s file is closed", fnames[findex - 1]);
  return s->f;
}

static int g_iofile(lua_State* L, int f, const char* mode) {
  if (!lua_isnoneornil(L, 1)) {
    const char* filename = lua_tostring(L, 1);
    if (filename) {
      LStream* s = newfile(L);
      s->f = std::fopen(filename, mode);
      if (s->f == nullptr) fileerror(L, 1, filename);
    } else {
      tofile(L);  // must be a file
      lua_pushvalue(L, 1);
    }
    lua_rawseti(L, IO_ENV, f);
  }
  lua_rawgeti(L, IO_ENV, f);
  return 1;
}

static int io_input(lua_State* L) { return g_iofile(L, IO_INPUT, "r"); }
static int io_output(lua_State* L) { return g_iofile(L, IO_OUTPUT, "w"); }

static int io_readline(lua_State* L);

static void aux_lines(lua_State* L, int idx, int toclose) {
  lua_pushvalue(L, idx);
  lua_pushboolean(L, toclose);
  lua_pushcclosure(L, io_readline, 2);
}

static int f_lines(lua_State* L) {
  tofile(L);
  aux_lines(L, 1, 0);
  return 1;
}

static int io_lines(lua_State* L) {
  if (lua_isnoneornil(L, 1)) {
    lua_rawgeti(L, IO_ENV, IO_INPUT);
    lua_replace(L, 1);
    return f_lines(L);
  }
  const char* filename = luaL_checkstring(L, 1);
  LStream* s = newfile(L);
  s->f = std::fopen(filename, "r");
  if (s->f == nullptr) fileerror(L, 1, filename);
  aux_lines(L, lua_gettop(L), 1);
  return 1;
}

// ---- reading --------------------------------------------------------------

static int read_number(lua_State* L, FILE* f) {
  double d;
  if (std::fscanf(f, "%lf", &d) == 1) {
    lua_pushnumber(L, d);
    return 1;
  }
  lua_pushnil(L);  // replaced by the caller
  return 0;
}

static int test_eof(lua_State* L, FILE* f) {
  int c = std::getc(f);
  std::ungetc(c, f);
  lua_pushliteral(L, "");
  return c != EOF;
}

// A line is every byte up to the newline or the end of the file, zero bytes
// included. Each piece is read with fgets into an area pre-filled with
// newlines, so the first newline in the area is either the line's own
// (followed by the zero fgets stores) or the filler behind that zero.
static const int kLinePiece = 80;
static const int kLineArea = kLinePiece + 2;

static int read_line(lua_State* L, FILE* f) {
  luaL_Buffer b;
  luaL_buffinit(L, &b);
  size_t total = 0;
  for (;;) {
    if (size_t(LUAL_BUFFERSIZE - (b.p - b.buffer)) < size_t(kLineArea)) luaL_prepbuffer(&b);
    char* area = b.p;
    std::memset(area, '\n', kLineArea);
    if (std::fgets(area, kLinePiece + 1, f) == nullptr) break;  // end of file or error
    char* nl = static_cast<char*>(std::memchr(area, '\n', kLineArea));
    ptrdiff_t j = nl - area;
    if (j + 1 < kLineArea && area[j + 1] == '\0') {  // the line's own newline
      luaL_addsize(&b, size_t(j));
      luaL_pushresult(&b);
      return 1;
    }
    size_t got = size_t(j - 1);  // bytes before the zero stored by fgets
    luaL_addsize(&b, got);
    total += got;
    if (got < size_t(kLinePiece)) break;  // a short piece without newline: end of file
  }
  luaL_pushresult(&b);
  return total > 0;
}

static int read_chars(lua_State* L, FILE* f, size_t n) {
  size_t rlen = LUAL_BUFFERSIZE;
  size_t nr;
  luaL_Buffer b;
  luaL_buffinit(L, &b);
  do {
    char* p = luaL_prepbuffer(&b);
    if (rlen > n) rlen = n;
    nr = std::fread(p, 1, rlen, f);
    luaL_addsize(&b, nr);
    n -= nr;
  } while (n > 0 && nr == rlen);
  luaL_pushresult(&b);
  return n == 0 || lua_objlen(L, -1) > 0;
}

static int g_read(lua_State* L, FILE* f, int first) {
  int nargs = lua_gettop(L) - 1;
  int success;
  int n;
  std::clearerr(f);
  if (nargs == 0) {
    success = read_line(L, f);
    n = first + 1;
  } else {
    luaL_checkstack(L, nargs + LUA_MINSTACK, "too many arguments");
    success = 1;
    for (n = first; nargs-- && success; n++) {
      if (lua_type(L, n) == LUA_TNUMBER) {
        size_t l = size_t(lua_tointeger(L, n));
        success = (l == 0) ? test_eof(L, f) : read_chars(L, f, l);
      } else {
        const char* p = lua_tostring(L, n);
        luaL_argcheck(L, p && p[0] == '*', n, "invalid option");
        switch (p[1]) {
          case 'n':
            success = read_number(L, f);
            break;
          case 'l':
            success = read_line(L, f);
            break;
          case 'a':
            read_chars(L, f, ~size_t(0));
            success = 1;  // always succeeds
            break;
          default:
            return luaL_argerror(L, n, "invalid format");
        }
      }
    }
  }
  if (std::ferror(f)) return lib_pushresult(L, 0, nullptr);
  if (!success) {
    lua_pop(L, 1);
    lua_pushnil(L);
  }
  return n - first;
}

static int io_read(lua_State* L) { return g_read(L, getiofile(L, IO_INPUT), 1); }
static int f_read(lua_State* L) { return g_read(L, tofile(L), 2); }

static int io_readline(lua_State* L) {
  LStream* s = static_cast<LStream*>(lua_touserdata(L, lua_upvalueindex(1)));
  if (s->f == nullptr) luaL_error(L, "file is already closed");
  int success = read_line(L, s->f);
  if (std::ferror(s->f)) return luaL_error(L, "%s", std::strerror(errno));
  if (success) return 1;
  if (lua_toboolean(L, lua_upvalueindex(2))) {  // opened by io.lines: close it
    lua_settop(L, 0);
    lua_pushvalue(L, lua_upvalueindex(1));
    aux_close(L);
  }
  return 0;
}

// ---- writing and positioning ------------------------------------------------

static int g_write(lua_State* L, FILE* f, int arg) {
  int nargs = lua_gettop(L) - 1;
  int status = 1;
  for (; nargs--; arg++) {
    if (lua_type(L, arg) == LUA_TNUMBER) {
      status = status && std::fprintf(f, LUA_NUMBER_FMT, lua_tonumber(L, arg)) > 0;
    } else {
      size_t l;
      const char* s = luaL_checklstring(L, arg, &l);
      status = status && (std::fwrite(s, 1, l, f) == l);
    }
  }
  return lib_pushresult(L, status, nullptr);
}

static int io_write(lua_State* L) { return g_write(L, getiofile(L, IO_OUTPUT), 1); }
static int f_write(lua_State* L) { return g_write(L, tofile(L), 2); }

static int f_seek(lua_State* L) {
  static const int mode[] = {SEEK_SET, SEEK_CUR, SEEK_END};
  static const char* const modenames[] = {"set", "cur", "end", nullptr};
  FILE* f = tofile(L);
  int op = luaL_checkoption(L, 2, "cur", modenames);
  long offset = luaL_optlong(L, 3, 0);
  if (std::fseek(f, offset, mode[op]) != 0) return lib_pushresult(L, 0, nullptr);
  lua_pushinteger(L, std::ftell(f));
  return 1;
}

static int f_setvbuf(lua_State* L) {
  static const int mode[] = {_IONBF, _IOFBF, _IOLBF};
  static const char* const modenames[] = {"no", "full", "line", nullptr};
  FILE* f = tofile(L);
  int op = luaL_checkoption(L, 2, nullptr, modenames);
  lua_Integer sz = luaL_optinteger(L, 3, LUAL_BUFFERSIZE);
  int res = std::setvbuf(f, nullptr, mode[op], size_t(sz));
  return lib_pushresult(L, res == 0, nullptr);
}

static int io_flush(lua_State* L) {
  return lib_pushresult(L, std::fflush(getiofile(L, IO_OUTPUT)) == 0, nullptr);
}

static int f_flush(lua_State* L) { return lib_pushresult(L, std::fflush(tofile(L)) == 0, nullptr); }

static const luaL_Reg iolib[] = {
    {"close", io_close}, {"flush", io_flush},     {"input", io_input}, {"lines", io_lines},
    {"open", io_open},   {"output", io_output},   {"popen", io_popen}, {"read", io_read},
    {"tmpfile", io_tmpfile}, {"type", io_type},   {"write", io_write}, {nullptr, nullptr}};

static const luaL_Reg flib[] = {
    {"close", f_close},     {"flush", f_flush}, {"lines", f_lines}, {"read", f_read},
    {"seek", f_seek},       {"setvbuf", f_setvbuf}, {"write", f_write},
    {"__gc", io_gc},        {"__tostring", io_tostring}, {nullptr, nullptr}};

static void createmeta(lua_State* L) {
  luaL_newmetatable(L, LUA_FILEHANDLE);
  lua_pushvalue(L, -1);
  lua_setfield(L, -2, "__index");
  luaL_register(L, nullptr, flib);
  lua_pop(L, 1);
}

// Stack: io table, env table.
static void createstdfile(lua_State* L, FILE* f, int k, const char* fname) {
  LStream* s = newfile(L);
  s->f = f;
  s->kind = kStandard;
  if (k > 0) {
    lua_pushvalue(L, -1);
    lua_rawseti(L, -3, k);
  }
  lua_setfield(L, -3, fname);
}

int luaopen_io(lua_State* L) {
  createmeta(L);
  lua_createtable(L, 2, 0);  // default input and output, shared by the io functions
  lua_pushvalue(L, -1);
  luaI_openlib(L, LUA_IOLIBNAME, iolib, 1);  // stack: env, io
  lua_insert(L, -2);
  createstdfile(L, stdin, IO_INPUT, "stdin");
  createstdfile(L, stdout, IO_OUTPUT, "stdout");
  createstdfile(L, stderr, 0, "stderr");
  lua_pop(L, 1);
  return 1;
}
