// Auxiliary library: the native-side toolkit of the standard libraries and
// of the host's bindings.
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "lauxlib.h"

// First byte of the precompiled-chunk signature; a file whose first
// significant byte is this one is read in binary mode.
static const int kChunkLead = 0xB7;

static int abs_index(lua_State* L, int i) {
  return (i > 0 || i <= LUA_REGISTRYINDEX) ? i : lua_gettop(L) + i + 1;
}

// ---- errors ---------------------------------------------------------------

int luaL_argerror(lua_State* L, int narg, const char* extramsg) {
  lua_Debug ar;
  if (!lua_getstack(L, 0, &ar))
    return luaL_error(L, "bad argument #%d (%s)", narg, extramsg);
  lua_getinfo(L, "n", &ar);
  if (ar.namewhat && std::strcmp(ar.namewhat, "method") == 0) {
    narg--;  // self is not counted
    if (narg == 0)
      return luaL_error(L, "calling '%s' on bad self (%s)", ar.name ? ar.name : "?", extramsg);
  }
  return luaL_error(L, "bad argument #%d to '%s' (%s)", narg, ar.name ? ar.name : "?", extramsg);
}

int luaL_typerror(lua_State* L, int narg, const char* tname) {
  const char* msg = lua_pushfstring(L, "%s expected, got %s", tname, luaL_typename(L, narg));
  return luaL_argerror(L, narg, msg);
}

static void tag_error(lua_State* L, int narg, int tag) {
  luaL_typerror(L, narg, lua_typename(L, tag));
}

void luaL_where(lua_State* L, int level) {
  lua_Debug ar;
  if (lua_getstack(L, level, &ar)) {
    lua_getinfo(L, "Sl", &ar);
    if (ar.currentline > 0) {
      lua_pushfstring(L, "%s:%d: ", ar.short_src, ar.currentline);
      return;
    }
  }
  lua_pushliteral(L, "");
}

int luaL_error(lua_State* L, const char* fmt, ...) {
  va_list argp;
  va_start(argp, fmt);
  luaL_where(L, 1);
  lua_pushvfstring(L, fmt, argp);
  va_end(argp);
  lua_concat(L, 2);
  return lua_error(L);
}

// ---- argument checks ------------------------------------------------------

int luaL_checkoption(lua_State* L, int narg, const char* def, const char* const lst[]) {
  const char* name = def ? luaL_optstring(L, narg, def) : luaL_checkstring(L, narg);
  for (int i = 0; lst[i]; i++)
    if (std::strcmp(lst[i], name) == 0) return i;
  return luaL_argerror(L, narg, lua_pushfstring(L, "invalid option '%s'", name));
}

int luaL_newmetatable(lua_State* L, const char* tname) {
  lua_getfield(L, LUA_REGISTRYINDEX, tname);
  if (!lua_isnil(L, -1)) return 0;
  lua_pop(L, 1);
  lua_newtable(L);
  lua_pushvalue(L, -1);
  lua_setfield(L, LUA_REGISTRYINDEX, tname);
  return 1;
}

void* luaL_checkudata(lua_State* L, int ud, const char* tname) {
  void* p = lua_touserdata(L, ud);
  if (p != nullptr && lua_getmetatable(L, ud)) {
    lua_getfield(L, LUA_REGISTRYINDEX, tname);
    if (lua_rawequal(L, -1, -2)) {
      lua_pop(L, 2);
      return p;
    }
    lua_pop(L, 2);
  }
  luaL_typerror(L, ud, tname);
  return nullptr;
}

void luaL_checkstack(lua_State* L, int space, const char* mes) {
  if (!lua_checkstack(L, space)) luaL_error(L, "stack overflow (%s)", mes);
}

void luaL_checktype(lua_State* L, int narg, int t) {
  if (lua_type(L, narg) != t) tag_error(L, narg, t);
}

void luaL_checkany(lua_State* L, int narg) {
  if (lua_type(L, narg) == LUA_TNONE) luaL_argerror(L, narg, "value expected");
}

const char* luaL_checklstring(lua_State* L, int narg, size_t* len) {
  const char* s = lua_tolstring(L, narg, len);
  if (!s) tag_error(L, narg, LUA_TSTRING);
  return s;
}

const char* luaL_optlstring(lua_State* L, int narg, const char* def, size_t* len) {
  if (lua_isnoneornil(L, narg)) {
    if (len) *len = def ? std::strlen(def) : 0;
    return def;
  }
  return luaL_checklstring(L, narg, len);
}

lua_Number luaL_checknumber(lua_State* L, int narg) {
  lua_Number d = lua_tonumber(L, narg);
  if (d == 0 && !lua_isnumber(L, narg)) tag_error(L, narg, LUA_TNUMBER);
  return d;
}

lua_Number luaL_optnumber(lua_State* L, int narg, lua_Number def) {
  return luaL_opt(L, luaL_checknumber, narg, def);
}

lua_Integer luaL_checkinteger(lua_State* L, int narg) {
  lua_Integer d = lua_tointeger(L, narg);
  if (d == 0 && !lua_isnumber(L, narg)) tag_error(L, narg, LUA_TNUMBER);
  return d;
}

lua_Integer luaL_optinteger(lua_State* L, int narg, lua_Integer def) {
  return luaL_opt(L, luaL_checkinteger, narg, def);
}

int luaL_getmetafield(lua_State* L, int obj, const char* event) {
  if (!lua_getmetatable(L, obj)) return 0;
  lua_pushstring(L, event);
  lua_rawget(L, -2);
  if (lua_isnil(L, -1)) {
    lua_pop(L, 2);
    return 0;
  }
  lua_remove(L, -2);
  return 1;
}

int luaL_callmeta(lua_State* L, int obj, const char* event) {
  obj = abs_index(L, obj);
  if (!luaL_getmetafield(L, obj, event)) return 0;
  lua_pushvalue(L, obj);
  lua_call(L, 1, 1);
  return 1;
}

// ---- registration ---------------------------------------------------------

void luaL_register(lua_State* L, const char* libname, const luaL_Reg* l) {
  luaI_openlib(L, libname, l, 0);
}

void luaI_openlib(lua_State* L, const char* libname, const luaL_Reg* l, int nup) {
  if (libname) {
    int size = 0;
    for (const luaL_Reg* r = l; r->name; r++) size++;
    luaL_findtable(L, LUA_REGISTRYINDEX, "_LOADED", 1);
    lua_getfield(L, -1, libname);
    if (!lua_istable(L, -1)) {
      lua_pop(L, 1);
      if (luaL_findtable(L, LUA_GLOBALSINDEX, libname, size) != nullptr)
        luaL_error(L, "name conflict for module '%s'", libname);
      lua_pushvalue(L, -1);
      lua_setfield(L, -3, libname);
    }
    lua_remove(L, -2);
    lua_insert(L, -(nup + 1));
  }
  for (; l->name; l++) {
    for (int i = 0; i < nup; i++) lua_pushvalue(L, -nup);
    lua_pushcclosure(L, l->func, nup);
    lua_setfield(L, -(nup + 2), l->name);
  }
  lua_pop(L, nup);
}

const char* luaL_gsub(lua_State* L, const char* s, const char* p, const char* r) {
  size_t l = std::strlen(p);
  luaL_Buffer b;
  luaL_buffinit(L, &b);
  const char* wild;
  while ((wild = std::strstr(s, p)) != nullptr) {
    luaL_addlstring(&b, s, size_t(wild - s));
    luaL_addstring(&b, r);
    s = wild + l;
  }
  luaL_addstring(&b, s);
  luaL_pushresult(&b);
  return lua_tostring(L, -1);
}

const char* luaL_findtable(lua_State* L, int idx, const char* fname, int szhint) {
  lua_pushvalue(L, idx);
  do {
    const char* e = std::strchr(fname, '.');
    if (e == nullptr) e = fname + std::strlen(fname);
    lua_pushlstring(L, fname, size_t(e - fname));
    lua_rawget(L, -2);
    if (lua_isnil(L, -1)) {
      lua_pop(L, 1);
      lua_createtable(L, 0, (*e == '.' ? 1 : szhint));
      lua_pushlstring(L, fname, size_t(e - fname));
      lua_pushvalue(L, -2);
      lua_settable(L, -4);
    } else if (!lua_istable(L, -1)) {
      lua_pop(L, 2);
      return fname;  // the element that is in the way
    }
    lua_remove(L, -2);
    fname = e + 1;
    if (*e != '.') break;
  } while (true);
  return nullptr;
}

// ---- string buffers -------------------------------------------------------

static size_t bufflen(const luaL_Buffer* B) { return size_t(B->p - B->buffer); }
static size_t bufffree(const luaL_Buffer* B) { return LUAL_BUFFERSIZE - bufflen(B); }

static const int kBufferPieceLimit = LUA_MINSTACK / 2;

static int emptybuffer(luaL_Buffer* B) {
  size_t l = bufflen(B);
  if (l == 0) return 0;
  lua_pushlstring(B->L, B->buffer, l);
  B->p = B->buffer;
  B->lvl++;
  return 1;
}

// Keeps the pieces on the stack few and of decreasing length: the top
// piece swallows those below it while it is longer, or while too many
// pieces would remain.
static void adjuststack(luaL_Buffer* B) {
  if (B->lvl <= 1) return;
  lua_State* L = B->L;
  int toget = 1;
  size_t toplen = lua_objlen(L, -1);
  do {
    size_t l = lua_objlen(L, -(toget + 1));
    if (B->lvl - toget + 1 >= kBufferPieceLimit || toplen > l) {
      toplen += l;
      toget++;
    } else {
      break;
    }
  } while (toget < B->lvl);
  lua_concat(L, toget);
  B->lvl = B->lvl - toget + 1;
}

char* luaL_prepbuffer(luaL_Buffer* B) {
  if (emptybuffer(B)) adjuststack(B);
  return B->buffer;
}

void luaL_addlstring(luaL_Buffer* B, const char* s, size_t l) {
  while (l > 0) {
    size_t room = bufffree(B);
    if (room == 0) {
      luaL_prepbuffer(B);
      room = bufffree(B);
    }
    size_t n = l < room ? l : room;
    std::memcpy(B->p, s, n);
    B->p += n;
    s += n;
    l -= n;
  }
}

void luaL_addstring(luaL_Buffer* B, const char* s) { luaL_addlstring(B, s, std::strlen(s)); }

void luaL_pushresult(luaL_Buffer* B) {
  emptybuffer(B);
  lua_concat(B->L, B->lvl);
  B->lvl = 1;
}

void luaL_addvalue(luaL_Buffer* B) {
  lua_State* L = B->L;
  size_t vl;
  const char* s = lua_tolstring(L, -1, &vl);
  if (vl <= bufffree(B)) {
    if (vl) std::memcpy(B->p, s, vl);
    B->p += vl;
    lua_pop(L, 1);
  } else {
    if (emptybuffer(B)) lua_insert(L, -2);  // the value stays on top
    B->lvl++;
    adjuststack(B);
  }
}

void luaL_buffinit(lua_State* L, luaL_Buffer* B) {
  B->L = L;
  B->p = B->buffer;
  B->lvl = 0;
}

// ---- references -----------------------------------------------------------

// Key 0 of a reference table heads the list of freed references.
static const int kFreeList = 0;

int luaL_ref(lua_State* L, int t) {
  t = abs_index(L, t);
  if (lua_isnil(L, -1)) {
    lua_pop(L, 1);
    return LUA_REFNIL;
  }
  lua_rawgeti(L, t, kFreeList);
  int ref = int(lua_tointeger(L, -1));
  lua_pop(L, 1);
  if (ref != 0) {
    lua_rawgeti(L, t, ref);
    lua_rawseti(L, t, kFreeList);
  } else {
    ref = int(lua_objlen(L, t)) + 1;
  }
  lua_rawseti(L, t, ref);
  return ref;
}

void luaL_unref(lua_State* L, int t, int ref) {
  if (ref < 0) return;
  t = abs_index(L, t);
  lua_rawgeti(L, t, kFreeList);
  lua_rawseti(L, t, ref);
  lua_pushinteger(L, ref);
  lua_rawseti(L, t, kFreeList);
}

// ---- loading --------------------------------------------------------------

namespace {

struct FileReader {
  int extraline;
  FILE* f;
  char buff[LUAL_BUFFERSIZE];
};

const char* readFile(lua_State*, void* ud, size_t* size) {
  FileReader* lf = static_cast<FileReader*>(ud);
  if (lf->extraline) {
    lf->extraline = 0;
    *size = 1;
    return "\n";
  }
  if (std::feof(lf->f)) return nullptr;
  *size = std::fread(lf->buff, 1, sizeof(lf->buff), lf->f);
  return *size > 0 ? lf->buff : nullptr;
}

int fileError(lua_State* L, const char* what, int fnameindex) {
  const char* serr = std::strerror(errno);
  const char* filename = lua_tostring(L, fnameindex) + 1;
  lua_pushfstring(L, "cannot %s %s: %s", what, filename, serr);
  lua_remove(L, fnameindex);
  return LUA_ERRFILE;
}

struct StringReader {
  const char* s;
  size_t size;
};

const char* readString(lua_State*, void* ud, size_t* size) {
  StringReader* ls = static_cast<StringReader*>(ud);
  if (ls->size == 0) return nullptr;
  *size = ls->size;
  ls->size = 0;
  return ls->s;
}

}  // namespace

int luaL_loadfile(lua_State* L, const char* filename) {
  FileReader lf;
  int fnameindex = lua_gettop(L) + 1;
  lf.extraline = 0;
  if (filename == nullptr) {
    lua_pushliteral(L, "=stdin");
    lf.f = stdin;
  } else {
    lua_pushfstring(L, "@%s", filename);
    lf.f = std::fopen(filename, "r");
    if (lf.f == nullptr) return fileError(L, "open", fnameindex);
  }
  int c = std::getc(lf.f);
  if (c == '#') {  // a first line such as "#!/usr/bin/tlua" is skipped
    lf.extraline = 1;
    while ((c = std::getc(lf.f)) != EOF && c != '\n') {
    }
    if (c == '\n') c = std::getc(lf.f);
  }
  if (c == kChunkLead && filename) {
    lf.f = std::freopen(filename, "rb", lf.f);
    if (lf.f == nullptr) return fileError(L, "reopen", fnameindex);
    while ((c = std::getc(lf.f)) != EOF && c != kChunkLead) {
    }
    lf.extraline = 0;
  }
  std::ungetc(c, lf.f);
  int status = lua_load(L, readFile, &lf, lua_tostring(L, -1));
  int readstatus = std::ferror(lf.f);
  if (filename) std::fclose(lf.f);
  if (readstatus) {
    lua_settop(L, fnameindex);
    return fileError(L, "read", fnameindex);
  }
  lua_remove(L, fnameindex);
  return status;
}

int luaL_loadbuffer(lua_State* L, const char* buff, size_t size, const char* name) {
  StringReader ls{buff, size};
  return lua_load(L, readString, &ls, name);
}

int luaL_loadstring(lua_State* L, const char* s) { return luaL_loadbuffer(L, s, std::strlen(s), s); }
