// Generic value functions: number text, formatted messages, chunk names.
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "lua/do.hh"
#include "lua/mem.hh"
#include "lua/string.hh"
#include "lua/vm.hh"

const TValue luaO_nilobject_ = {{nullptr}, LUA_TNIL};

// x = (8 + mantissa) * 2^(exp - 1) when exp > 0, the smallest form not below x
int luaO_int2fb(unsigned int x) {
  int e = 0;
  while (x >= 16) {
    x = (x + 1) >> 1;
    e++;
  }
  if (x < 8) return static_cast<int>(x);
  return ((e + 1) << 3) | (static_cast<int>(x) - 8);
}

int luaO_fb2int(int x) {
  int e = (x >> 3) & 31;
  if (e == 0) return x;
  return ((x & 7) + 8) << (e - 1);
}

int luaO_log2(unsigned int x) {
  int l = -1;
  while (x >= 256) {
    l += 8;
    x >>= 8;
  }
  while (x) {
    l++;
    x >>= 1;
  }
  return l;
}

int luaO_rawequalObj(const TValue* t1, const TValue* t2) {
  if (ttype(t1) != ttype(t2)) return 0;
  switch (ttype(t1)) {
    case LUA_TNIL: return 1;
    case LUA_TNUMBER: return nvalue(t1) == nvalue(t2);
    case LUA_TBOOLEAN: return bvalue(t1) == bvalue(t2);
    case LUA_TLIGHTUSERDATA: return pvalue(t1) == pvalue(t2);
    default: return gcvalue(t1) == gcvalue(t2);
  }
}

int luaO_str2d(const char* s, lua_Number* result) {
  char* endptr;
  *result = strtod(s, &endptr);
  if (endptr == s) return 0;  // conversion failed
  int base = 0;
  const char* from = nullptr;
  switch (*endptr) {
    case 'b': case 'B': base = 2; from = endptr + 1; break;
    case 'o': case 'O': base = 8; from = endptr + 1; break;
    case 'x': case 'X': base = 16; from = s; break;
    default: break;
  }
  if (base) {
    // what strtod read before the letter is dropped on purpose
    *result = static_cast<lua_Number>(strtoul(from, &endptr, base));
  }
  if (*endptr == '\0') return 1;
  while (isspace(static_cast<unsigned char>(*endptr))) endptr++;
  if (*endptr != '\0') return 0;
  return 1;
}

int luaO_num2str(char* buff, lua_Number n) {
  // integers of up to 14 digits print the same under "%.14g"; skip printf
  if (n != 0 && n > -1e14 && n < 1e14 && n == static_cast<lua_Number>(static_cast<int64_t>(n))) {
    int64_t v = static_cast<int64_t>(n);
    char tmp[24];
    int len = 0;
    bool neg = v < 0;
    uint64_t u = neg ? static_cast<uint64_t>(-v) : static_cast<uint64_t>(v);
    while (u) {
      tmp[len++] = static_cast<char>('0' + u % 10);
      u /= 10;
    }
    int out = 0;
    if (neg) buff[out++] = '-';
    while (len) buff[out++] = tmp[--len];
    buff[out] = '\0';
    return out;
  }
  return snprintf(buff, 32, LUA_NUMBER_FMT, n);
}

static void pushstr(lua_State* L, const char* str) {
  setsvalue2s(L, L->top, luaS_new(L, str));
  incr_top(L);
}

// Formats only %s %c %d %f %p %%; other pairs are copied unchanged.
const char* luaO_pushvfstring(lua_State* L, const char* fmt, va_list argp) {
  int n = 1;
  pushstr(L, "");
  for (;;) {
    const char* e = strchr(fmt, '%');
    if (e == nullptr) break;
    setsvalue2s(L, L->top, luaS_newlstr(L, fmt, e - fmt));
    incr_top(L);
    switch (*(e + 1)) {
      case 's': {
        const char* s = va_arg(argp, char*);
        if (s == nullptr) s = "(null)";
        pushstr(L, s);
        break;
      }
      case 'c': {
        char buff[2];
        buff[0] = static_cast<char>(va_arg(argp, int));
        buff[1] = '\0';
        pushstr(L, buff);
        break;
      }
      case 'd': {
        setnvalue(L->top, va_arg(argp, int));
        incr_top(L);
        break;
      }
      case 'f': {
        setnvalue(L->top, va_arg(argp, lua_Number));
        incr_top(L);
        break;
      }
      case 'p': {
        char buff[4 * sizeof(void*) + 8];
        snprintf(buff, sizeof buff, "%p", va_arg(argp, void*));
        pushstr(L, buff);
        break;
      }
      case '%': {
        pushstr(L, "%");
        break;
      }
      default: {
        char buff[3];
        buff[0] = '%';
        buff[1] = *(e + 1);
        buff[2] = '\0';
        pushstr(L, buff);
        break;
      }
    }
    n += 2;
    fmt = e + 2;
  }
  pushstr(L, fmt);
  luaV_concat(L, n + 1, static_cast<int>(L->top - L->base) - 1);
  L->top -= n;
  return svalue(L->top - 1);
}

const char* luaO_pushfstring(lua_State* L, const char* fmt, ...) {
  va_list argp;
  va_start(argp, fmt);
  const char* msg = luaO_pushvfstring(L, fmt, argp);
  va_end(argp);
  return msg;
}

void luaO_chunkid(char* out, const char* source, size_t bufflen) {
  if (*source == '=') {
    strncpy(out, source + 1, bufflen);  // remove first char
    out[bufflen - 1] = '\0';
  } else {
    if (*source == '@') {
      size_t l;
      source++;
      bufflen -= sizeof(" '...' ");
      l = strlen(source);
      strcpy(out, "");
      if (l > bufflen) {
        source += (l - bufflen);  // get last part of file name
        strcat(out, "...");
      }
      strcat(out, source);
    } else {
      size_t len = strcspn(source, "\n\r");
      bufflen -= sizeof(" [string \"...\"] ");
      if (len > bufflen) len = bufflen;
      strcpy(out, "[string \"");
      if (source[len] != '\0') {
        strncat(out, source, len);
        strcat(out, "...");
      } else {
        strcat(out, source);
      }
      strcat(out, "\"]");
    }
  }
}
