// Command-line script runner: tlua [-l] script.lua [args...]
//   -l  list the compiled instructions (with constants, locals, upvalues) instead of running
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "lua/lua.h"
#include "lua/object.hh"
#include "lua/print.hh"
#if __has_include("lua/lualib.h")
#include "lua/lauxlib.h"
#include "lua/lualib.h"
#define TLUA_HAVE_LIBS 1
#endif

namespace {

struct FileReader {
  FILE* f;
  char buf[4096];
};

const char* readFile(lua_State*, void* ud, size_t* size) {
  FileReader* r = static_cast<FileReader*>(ud);
  if (feof(r->f)) return nullptr;
  *size = fread(r->buf, 1, sizeof r->buf, r->f);
  return *size ? r->buf : nullptr;
}

int loadFile(lua_State* L, const char* path) {
  FileReader r;
  r.f = fopen(path, "rb");
  if (!r.f) {
    lua_pushfstring(L, "cannot open %s", path);
    return LUA_ERRRUN;
  }
  // a first line starting with '#' is skipped (kept as an empty line)
  int c = getc(r.f);
  if (c == '#') {
    while ((c = getc(r.f)) != EOF && c != '\n') {
    }
    ungetc('\n', r.f);
  } else if (c != EOF) {
    ungetc(c, r.f);
  }
  lua_pushfstring(L, "@%s", path);
  int status = lua_load(L, readFile, &r, lua_tostring(L, -1));
  lua_remove(L, -2);
  fclose(r.f);
  return status;
}

#ifndef TLUA_HAVE_LIBS
int minimalPrint(lua_State* L) {
  int n = lua_gettop(L);
  for (int i = 1; i <= n; i++) {
    if (i > 1) fputs("\t", stdout);
    if (lua_isstring(L, i)) {
      size_t len;
      const char* s = lua_tolstring(L, i, &len);
      fwrite(s, 1, len, stdout);
    } else if (lua_isnil(L, i)) {
      fputs("nil", stdout);
    } else if (lua_isboolean(L, i)) {
      fputs(lua_toboolean(L, i) ? "true" : "false", stdout);
    } else {
      printf("%s: %p", lua_typename(L, lua_type(L, i)), lua_topointer(L, i));
    }
  }
  fputs("\n", stdout);
  return 0;
}
#endif

}  // namespace

int main(int argc, char** argv) {
  bool list = false;
  int first = 1;
  if (first < argc && strcmp(argv[first], "-l") == 0) {
    list = true;
    first++;
  }
  if (first >= argc) {
    fprintf(stderr, "usage: %s [-l] script.lua [args...]\n", argv[0]);
    return 1;
  }
  lua_State* L = luaL_newstate();
  if (!L) {
    fprintf(stderr, "%s: cannot create state\n", argv[0]);
    return 1;
  }
  const char* script = argv[first];
  if (loadFile(L, script) != 0) {
    fprintf(stderr, "%s: %s\n", argv[0], lua_tostring(L, -1));
    lua_close(L);
    return 1;
  }
  if (list) {
    const LClosure* cl = static_cast<const LClosure*>(static_cast<const Closure*>(lua_topointer(L, -1)));
    luaU_print(stdout, cl->p, 1);
    lua_close(L);
    return 0;
  }
#ifdef TLUA_HAVE_LIBS
  luaL_openlibs(L);
#else
  lua_pushcfunction(L, minimalPrint);
  lua_setglobal(L, "print");
#endif
  // arg table: script at 0, the words after it at 1..n
  lua_createtable(L, argc - first - 1, 2);
  for (int i = 0; i < argc; i++) {
    lua_pushstring(L, argv[i]);
    lua_rawseti(L, -2, i - first);
  }
  lua_setglobal(L, "arg");
  int nargs = argc - first - 1;
  for (int i = first + 1; i < argc; i++) lua_pushstring(L, argv[i]);
  int status = lua_pcall(L, nargs, 0, 0);
  int code = 0;
  if (status != 0) {
    const char* msg = lua_tostring(L, -1);
    fflush(stdout);
    fprintf(stderr, "%s: %s\n", argv[0], msg ? msg : "(error object is not a string)");
    code = 1;
  }
  lua_close(L);
  return code;
}
