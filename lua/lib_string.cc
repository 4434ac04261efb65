// String library: byte strings, formatting and pattern matching.
#include <cctype>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "lauxlib.h"
#include "lua/mem.hh"
#include "lua/string.hh"
#include "lualib.h"
#include "utility/Saturate.hh"

#define uchar(c) (static_cast<unsigned char>(c))

// Relative string position: negative counts from the end.
static ptrdiff_t posrelat(ptrdiff_t pos, size_t len) {
  if (pos < 0) pos += ptrdiff_t(len) + 1;
  return pos >= 0 ? pos : 0;
}

static int str_len(lua_State* L) {
  size_t l;
  luaL_checklstring(L, 1, &l);
  lua_pushinteger(L, lua_Integer(l));
  return 1;
}

static int str_sub(lua_State* L) {
  size_t l;
  const char* s = luaL_checklstring(L, 1, &l);
  ptrdiff_t start = posrelat(ptrdiff_t(luaL_checkinteger(L, 2)), l);
  ptrdiff_t end = posrelat(ptrdiff_t(luaL_optinteger(L, 3, -1)), l);
  if (start < 1) start = 1;
  if (end > ptrdiff_t(l)) end = ptrdiff_t(l);
  if (start <= end)
    lua_pushlstring(L, s + start - 1, size_t(end - start + 1));
  else
    lua_pushliteral(L, "");
  return 1;
}

// Pushes a result of known length written in place by fill(char*): one
// allocation of the final size instead of a buffer's pieces joined at the end.
template <class Fill>
static void pushfilled(lua_State* L, size_t l, Fill fill) {
  luaC_checkGC(L);
  TString* ts = luaS_reserve(L, l);
  fill(getstr(ts));  // must not allocate: the string is not yet known to the collector
  setsvalue2s(L, L->top, luaS_intern(L, ts));
  L->top++;
}

static int str_reverse(lua_State* L) {
  size_t l;
  const char* s = luaL_checklstring(L, 1, &l);
  pushfilled(L, l, [s, l](char* d) {
    for (size_t i = 0; i < l; i++) d[i] = s[l - 1 - i];
  });
  return 1;
}

// Maps every byte through the C library's case function (so the locale
// still rules), looked up in a table of all 256 answers for long strings.
template <int (*Map)(int)>
static int mapcase(lua_State* L) {
  size_t l;
  const char* s = luaL_checklstring(L, 1, &l);
  pushfilled(L, l, [s, l](char* d) {
    if (l < 256) {
      for (size_t i = 0; i < l; i++) d[i] = char(Map(uchar(s[i])));
      return;
    }
    unsigned char table[256];
    for (int c = 0; c < 256; c++) table[c] = uchar(Map(c));
    for (size_t i = 0; i < l; i++) d[i] = char(table[uchar(s[i])]);
  });
  return 1;
}

static int str_lower(lua_State* L) { return mapcase<std::tolower>(L); }
static int str_upper(lua_State* L) { return mapcase<std::toupper>(L); }

static int str_rep(lua_State* L) {
  size_t l;
  const char* s = luaL_checklstring(L, 1, &l);
  int n = luaL_checkint(L, 2);  // a C int: counts of 2^31 and more wrap, as scripts have always seen
  size_t total = (n <= 0 || l == 0) ? 0 : l * size_t(n);
  if (n > 0 && l > 0 && total / size_t(n) != l) luaM_toobig(L);
  pushfilled(L, total, [s, l, total](char* d) {
    if (total == 0) return;
    std::memcpy(d, s, l);
    for (size_t done = l; done < total;) {  // double what is written
      size_t k = done < total - done ? done : total - done;
      std::memcpy(d + done, d, k);
      done += k;
    }
  });
  return 1;
}

static int str_byte(lua_State* L) {
  size_t l;
  const char* s = luaL_checklstring(L, 1, &l);
  ptrdiff_t posi = posrelat(ptrdiff_t(luaL_optinteger(L, 2, 1)), l);
  ptrdiff_t pose = posrelat(ptrdiff_t(luaL_optinteger(L, 3, posi)), l);
  if (posi <= 0) posi = 1;
  if (pose > ptrdiff_t(l)) pose = ptrdiff_t(l);
  if (posi > pose) return 0;
  ptrdiff_t n = pose - posi + 1;
  if (n >= 0x7fffffff) luaL_error(L, "string slice too long");
  luaL_checkstack(L, int(n), "string slice too long");
  for (ptrdiff_t i = 0; i < n; i++) lua_pushinteger(L, uchar(s[posi + i - 1]));
  return int(n);
}

static int str_char(lua_State* L) {
  int n = lua_gettop(L);
  luaL_Buffer b;
  luaL_buffinit(L, &b);
  for (int i = 1; i <= n; i++) {
    int c = luaL_checkint(L, i);
    luaL_argcheck(L, uchar(c) == c, i, "invalid value");
    luaL_addchar(&b, uchar(c));
  }
  luaL_pushresult(&b);
  return 1;
}

static int writer(lua_State*, const void* b, size_t size, void* B) {
  luaL_addlstring(static_cast<luaL_Buffer*>(B), static_cast<const char*>(b), size);
  return 0;
}

static int str_dump(lua_State* L) {
  luaL_checktype(L, 1, LUA_TFUNCTION);
  lua_settop(L, 1);
  luaL_Buffer b;
  luaL_buffinit(L, &b);
  if (lua_dump(L, writer, &b) != 0) luaL_error(L, "unable to dump given function");
  luaL_pushresult(&b);
  return 1;
}

// ---- pattern matching -----------------------------------------------------

#define LUA_MAXCAPTURES 32
#define CAP_UNFINISHED (-1)
#define CAP_POSITION (-2)
#define L_ESC '%'
#define SPECIALS "^$*+?.([%-"

// Each nested pattern item costs a native frame; a pattern from a script
// must not be able to exhaust the native stack.
static const int kMaxMatchDepth = 1000;

namespace {

struct MatchState {
  const char* src_init;  // subject start
  const char* src_end;   // end ('\0') of subject
  lua_State* L;
  int level;  // captures so far
  int depth;  // nesting of match()
  struct {
    const char* init;
    ptrdiff_t len;
  } capture[LUA_MAXCAPTURES];
};

}  // namespace

static int check_capture(MatchState* ms, int l) {
  l -= '1';
  if (l < 0 || l >= ms->level || ms->capture[l].len == CAP_UNFINISHED)
    return luaL_error(ms->L, "invalid capture index");
  return l;
}

static int capture_to_close(MatchState* ms) {
  int level = ms->level;
  for (level--; level >= 0; level--)
    if (ms->capture[level].len == CAP_UNFINISHED) return level;
  return luaL_error(ms->L, "invalid pattern capture");
}

static const char* classEnd(MatchState* ms, const char* p) {
  switch (*p++) {
    case L_ESC:
      if (*p == '\0') luaL_error(ms->L, "malformed pattern (ends with '%%')");
      return p + 1;
    case '[':
      if (*p == '^') p++;
      do {  // the first character after '[' (or "[^") is never the end
        if (*p == '\0') luaL_error(ms->L, "malformed pattern (missing ']')");
        if (*(p++) == L_ESC && *p != '\0') p++;
      } while (*p != ']');
      return p + 1;
    default:
      return p;
  }
}

static int match_class(int c, int cl) {
  int res;
  switch (std::tolower(cl)) {
    case 'a': res = std::isalpha(c); break;
    case 'c': res = std::iscntrl(c); break;
    case 'd': res = std::isdigit(c); break;
    case 'l': res = std::islower(c); break;
    case 'p': res = std::ispunct(c); break;
    case 's': res = std::isspace(c); break;
    case 'u': res = std::isupper(c); break;
    case 'w': res = std::isalnum(c); break;
    case 'x': res = std::isxdigit(c); break;
    case 'z': res = (c == 0); break;
    default: return cl == c;
  }
  if (std::isupper(cl)) res = !res;
  return res;
}

// p points at '[', ec at the closing ']'.
static int matchbracketclass(int c, const char* p, const char* ec) {
  int sig = 1;
  if (*(p + 1) == '^') {
    sig = 0;
    p++;
  }
  while (++p < ec) {
    if (*p == L_ESC) {
      p++;
      if (match_class(c, uchar(*p))) return sig;
    } else if (*(p + 1) == '-' && (p + 2 < ec)) {
      p += 2;
      if (uchar(*(p - 2)) <= c && c <= uchar(*p)) return sig;
    } else if (uchar(*p) == c) {
      return sig;
    }
  }
  return !sig;
}

static int singlematch(int c, const char* p, const char* ep) {
  switch (*p) {
    case '.': return 1;
    case L_ESC: return match_class(c, uchar(*(p + 1)));
    case '[': return matchbracketclass(c, p, ep - 1);
    default: return uchar(*p) == c;
  }
}

static const char* match(MatchState* ms, const char* s, const char* p);

namespace {
// Counts the nesting of match() for the depth limit.
struct DepthGuard {
  MatchState* ms;
  explicit DepthGuard(MatchState* m) : ms(m) {
    if (++ms->depth > kMaxMatchDepth) luaL_error(ms->L, "pattern too complex");
  }
  ~DepthGuard() { ms->depth--; }
};
}  // namespace

static const char* matchbalance(MatchState* ms, const char* s, const char* p) {
  if (*p == 0 || *(p + 1) == 0) luaL_error(ms->L, "unbalanced pattern");
  if (*s != *p) return nullptr;
  int b = *p;
  int e = *(p + 1);
  int cont = 1;
  while (++s < ms->src_end) {
    if (*s == e) {
      if (--cont == 0) return s + 1;
    } else if (*s == b) {
      cont++;
    }
  }
  return nullptr;
}

static const char* max_expand(MatchState* ms, const char* s, const char* p, const char* ep) {
  ptrdiff_t i = 0;
  while ((s + i) < ms->src_end && singlematch(uchar(*(s + i)), p, ep)) i++;
  while (i >= 0) {  // try the longest run first
    const char* res = match(ms, s + i, ep + 1);
    if (res) return res;
    i--;
  }
  return nullptr;
}

static const char* min_expand(MatchState* ms, const char* s, const char* p, const char* ep) {
  for (;;) {
    const char* res = match(ms, s, ep + 1);
    if (res != nullptr) return res;
    if (s < ms->src_end && singlematch(uchar(*s), p, ep))
      s++;
    else
      return nullptr;
  }
}

static const char* start_capture(MatchState* ms, const char* s, const char* p, int what) {
  int level = ms->level;
  if (level >= LUA_MAXCAPTURES) luaL_error(ms->L, "too many captures");
  ms->capture[level].init = s;
  ms->capture[level].len = what;
  ms->level = level + 1;
  const char* res = match(ms, s, p);
  if (res == nullptr) ms->level--;
  return res;
}

static const char* end_capture(MatchState* ms, const char* s, const char* p) {
  int l = capture_to_close(ms);
  ms->capture[l].len = s - ms->capture[l].init;
  const char* res = match(ms, s, p);
  if (res == nullptr) ms->capture[l].len = CAP_UNFINISHED;
  return res;
}

static const char* match_capture(MatchState* ms, const char* s, int l) {
  l = check_capture(ms, l);
  size_t len = size_t(ms->capture[l].len);
  if (size_t(ms->src_end - s) >= len && std::memcmp(ms->capture[l].init, s, len) == 0)
    return s + len;
  return nullptr;
}

static const char* match(MatchState* ms, const char* s, const char* p) {
  DepthGuard guard(ms);
  for (;;) {
    switch (*p) {
      case '(':
        if (*(p + 1) == ')') return start_capture(ms, s, p + 2, CAP_POSITION);
        return start_capture(ms, s, p + 1, CAP_UNFINISHED);
      case ')':
        return end_capture(ms, s, p + 1);
      case L_ESC:
        if (*(p + 1) == 'b') {
          s = matchbalance(ms, s, p + 2);
          if (s == nullptr) return nullptr;
          p += 4;
          continue;
        }
        if (*(p + 1) == 'f') {
          p += 2;
          if (*p != '[') luaL_error(ms->L, "missing '[' after '%%f' in pattern");
          const char* ep = classEnd(ms, p);
          char previous = (s == ms->src_init) ? '\0' : *(s - 1);
          if (matchbracketclass(uchar(previous), p, ep - 1) ||
              !matchbracketclass(uchar(*s), p, ep - 1))
            return nullptr;
          p = ep;
          continue;
        }
        if (std::isdigit(uchar(*(p + 1)))) {
          s = match_capture(ms, s, uchar(*(p + 1)));
          if (s == nullptr) return nullptr;
          p += 2;
          continue;
        }
        break;  // an escaped character: a single item
      case '\0':
        return s;  // end of pattern
      case '$':
        if (*(p + 1) == '\0') return (s == ms->src_end) ? s : nullptr;
        break;
      default:
        break;
    }
    const char* ep = classEnd(ms, p);
    int m = s < ms->src_end && singlematch(uchar(*s), p, ep);
    switch (*ep) {
      case '?': {
        const char* res;
        if (m && ((res = match(ms, s + 1, ep + 1)) != nullptr)) return res;
        p = ep + 1;
        continue;
      }
      case '*':
        return max_expand(ms, s, p, ep);
      case '+':
        return m ? max_expand(ms, s + 1, p, ep) : nullptr;
      case '-':
        return min_expand(ms, s, p, ep);
      default:
        if (!m) return nullptr;
        s++;
        p = ep;
        continue;
    }
  }
}

static const char* lmemfind(const char* s1, size_t l1, const char* s2, size_t l2) {
  if (l2 == 0) return s1;
  if (l2 > l1) return nullptr;
  l2--;  // the first byte is found by memchr
  l1 = l1 - l2;
  const char* init;
  while (l1 > 0 && (init = static_cast<const char*>(std::memchr(s1, *s2, l1))) != nullptr) {
    init++;
    if (std::memcmp(init, s2 + 1, l2) == 0) return init - 1;
    l1 -= size_t(init - s1);
    s1 = init;
  }
  return nullptr;
}

static void push_onecapture(MatchState* ms, int i, const char* s, const char* e) {
  if (i >= ms->level) {
    if (i == 0)  // no captures: the whole match
      lua_pushlstring(ms->L, s, size_t(e - s));
    else
      luaL_error(ms->L, "invalid capture index");
    return;
  }
  ptrdiff_t l = ms->capture[i].len;
  if (l == CAP_UNFINISHED) luaL_error(ms->L, "unfinished capture");
  if (l == CAP_POSITION)
    lua_pushinteger(ms->L, ms->capture[i].init - ms->src_init + 1);
  else
    lua_pushlstring(ms->L, ms->capture[i].init, size_t(l));
}

static int push_captures(MatchState* ms, const char* s, const char* e) {
  int nlevels = (ms->level == 0 && s) ? 1 : ms->level;
  luaL_checkstack(ms->L, nlevels, "too many captures");
  for (int i = 0; i < nlevels; i++) push_onecapture(ms, i, s, e);
  return nlevels;
}

static void prepstate(MatchState* ms, lua_State* L, const char* s, size_t ls) {
  ms->L = L;
  ms->src_init = s;
  ms->src_end = s + ls;
  ms->level = 0;
  ms->depth = 0;
}

static int str_find_aux(lua_State* L, int find) {
  size_t l1, l2;
  const char* s = luaL_checklstring(L, 1, &l1);
  const char* p = luaL_checklstring(L, 2, &l2);
  ptrdiff_t init = posrelat(ptrdiff_t(luaL_optinteger(L, 3, 1)), l1) - 1;
  if (init < 0)
    init = 0;
  else if (size_t(init) > l1)
    init = ptrdiff_t(l1);
  if (find && (lua_toboolean(L, 4) || std::strpbrk(p, SPECIALS) == nullptr)) {
    const char* s2 = lmemfind(s + init, l1 - size_t(init), p, l2);
    if (s2) {
      lua_pushinteger(L, s2 - s + 1);
      lua_pushinteger(L, lua_Integer(s2 - s + l2));
      return 2;
    }
  } else {
    MatchState ms;
    int anchor = (*p == '^') ? (p++, 1) : 0;
    const char* s1 = s + init;
    prepstate(&ms, L, s, l1);
    do {
      ms.level = 0;
      ms.depth = 0;
      const char* res = match(&ms, s1, p);
      if (res != nullptr) {
        if (find) {
          lua_pushinteger(L, s1 - s + 1);
          lua_pushinteger(L, res - s);
          return push_captures(&ms, nullptr, nullptr) + 2;
        }
        return push_captures(&ms, s1, res);
      }
    } while (s1++ < ms.src_end && !anchor);
  }
  lua_pushnil(L);
  return 1;
}

static int str_find(lua_State* L) { return str_find_aux(L, 1); }
static int str_match(lua_State* L) { return str_find_aux(L, 0); }

static int gmatch_aux(lua_State* L) {
  MatchState ms;
  size_t ls;
  const char* s = lua_tolstring(L, lua_upvalueindex(1), &ls);
  const char* p = lua_tostring(L, lua_upvalueindex(2));
  prepstate(&ms, L, s, ls);
  for (const char* src = s + size_t(lua_tointeger(L, lua_upvalueindex(3))); src <= ms.src_end;
       src++) {
    ms.level = 0;
    ms.depth = 0;
    const char* e = match(&ms, src, p);
    if (e != nullptr) {
      lua_Integer newstart = e - s;
      if (e == src) newstart++;  // an empty match moves on by one
      lua_pushinteger(L, newstart);
      lua_replace(L, lua_upvalueindex(3));
      return push_captures(&ms, src, e);
    }
  }
  return 0;
}

static int gmatch(lua_State* L) {
  luaL_checkstring(L, 1);
  luaL_checkstring(L, 2);
  lua_settop(L, 2);
  lua_pushinteger(L, 0);
  lua_pushcclosure(L, gmatch_aux, 3);
  return 1;
}

namespace {
// The result of gsub: first in a local array, then in a userdata doubled as
// needed and held at a fixed stack slot, so that the collector frees it
// however the call ends. Joined once at the end, not from pieces.
class ResultBuffer {
public:
  explicit ResultBuffer(lua_State* L) : L(L) {
    lua_pushnil(L);
    slot = lua_gettop(L);
  }
  ResultBuffer(const ResultBuffer&) = delete;
  ResultBuffer& operator=(const ResultBuffer&) = delete;

  void addchar(char c) {
    if (n == cap) grow(1);
    p[n++] = c;
  }
  void add(const char* s, size_t k) {
    if (cap - n < k) grow(k);
    if (k) std::memcpy(p + n, s, k);
    n += k;
  }
  // Appends the string on top of the stack and pops it.
  void addvalue() {
    size_t k;
    const char* s = lua_tolstring(L, -1, &k);
    if (cap - n < k) grow(k);  // the value stays below the new box while it is copied
    if (k) std::memcpy(p + n, s, k);
    n += k;
    lua_pop(L, 1);
  }
  void push() { lua_pushlstring(L, p, n); }

private:
  void grow(size_t k) {
    if (k > MAX_SIZET / 2 - n) luaL_error(L, "string too large");
    size_t want = n + k, c = cap * 2;
    if (c < want) c = want;
    char* box = static_cast<char*>(lua_newuserdata(L, c));
    std::memcpy(box, p, n);
    lua_replace(L, slot);
    p = box;
    cap = c;
  }

  lua_State* L;
  int slot;
  size_t n = 0;
  size_t cap = LUAL_BUFFERSIZE;
  char local[LUAL_BUFFERSIZE];
  char* p = local;
};
}  // namespace

static void add_s(MatchState* ms, ResultBuffer* b, const char* s, const char* e) {
  size_t l;
  const char* news = lua_tolstring(ms->L, 3, &l);
  for (size_t i = 0; i < l; i++) {
    if (news[i] != L_ESC) {
      b->addchar(news[i]);
    } else {
      i++;  // may reach the terminating zero, which is then copied
      if (!std::isdigit(uchar(news[i]))) {
        b->addchar(news[i]);
      } else if (news[i] == '0') {
        b->add(s, size_t(e - s));
      } else {
        push_onecapture(ms, news[i] - '1', s, e);
        b->addvalue();
      }
    }
  }
}

static void add_value(MatchState* ms, ResultBuffer* b, const char* s, const char* e) {
  lua_State* L = ms->L;
  switch (lua_type(L, 3)) {
    case LUA_TNUMBER:
    case LUA_TSTRING:
      add_s(ms, b, s, e);
      return;
    case LUA_TFUNCTION: {
      lua_pushvalue(L, 3);
      int n = push_captures(ms, s, e);
      lua_call(L, n, 1);
      break;
    }
    case LUA_TTABLE:
      push_onecapture(ms, 0, s, e);
      lua_gettable(L, 3);
      break;
  }
  if (!lua_toboolean(L, -1)) {  // false or nil keeps the original text
    lua_pop(L, 1);
    b->add(s, size_t(e - s));
    return;
  }
  if (!lua_isstring(L, -1)) luaL_error(L, "invalid replacement value (a %s)", luaL_typename(L, -1));
  b->addvalue();
}

static int str_gsub(lua_State* L) {
  size_t srcl;
  const char* src = luaL_checklstring(L, 1, &srcl);
  const char* p = luaL_checkstring(L, 2);
  int tr = lua_type(L, 3);
  // an explicit limit is a C int like every count; no limit is no limit
  lua_Integer max_s = lua_isnoneornil(L, 4) ? lua_Integer(srcl) + 1 : luaL_checkint(L, 4);
  int anchor = (*p == '^') ? (p++, 1) : 0;
  lua_Integer n = 0;
  luaL_argcheck(L, tr == LUA_TNUMBER || tr == LUA_TSTRING || tr == LUA_TFUNCTION || tr == LUA_TTABLE,
                3, "string/function/table expected");
  ResultBuffer b(L);
  MatchState ms;
  prepstate(&ms, L, src, srcl);
  while (n < max_s) {
    ms.level = 0;
    ms.depth = 0;
    const char* e = match(&ms, src, p);
    if (e) {
      n++;
      add_value(&ms, &b, src, e);
    }
    if (e && e > src)
      src = e;
    else if (src < ms.src_end)
      b.addchar(*src++);
    else
      break;
    if (anchor) break;
  }
  b.add(src, size_t(ms.src_end - src));
  b.push();
  lua_pushinteger(L, n);
  return 2;
}

// ---- format ---------------------------------------------------------------

#define FLAGS "-+ #0"
// '%', flags, two width digits, '.', two precision digits, "ll", the
// conversion and the zero: far below this
#define MAX_FORMAT 32
#define MAX_ITEM 512

static void addquoted(lua_State* L, luaL_Buffer* b, int arg) {
  size_t l;
  const char* s = luaL_checklstring(L, arg, &l);
  luaL_addchar(b, '"');
  while (l--) {
    switch (*s) {
      case '"':
      case '\\':
      case '\n':
        luaL_addchar(b, '\\');
        luaL_addchar(b, *s);
        break;
      case '\r':
        luaL_addlstring(b, "\\r", 2);
        break;
      case '\0':
        luaL_addlstring(b, "\\000", 4);
        break;
      default:
        luaL_addchar(b, *s);
        break;
    }
    s++;
  }
  luaL_addchar(b, '"');
}

static const char* scanformat(lua_State* L, const char* strfrmt, char* form) {
  const char* p = strfrmt;
  while (*p != '\0' && std::strchr(FLAGS, *p) != nullptr) p++;
  if (size_t(p - strfrmt) >= sizeof(FLAGS)) luaL_error(L, "invalid format (repeated flags)");
  if (std::isdigit(uchar(*p))) p++;
  if (std::isdigit(uchar(*p))) p++;
  if (*p == '.') {
    p++;
    if (std::isdigit(uchar(*p))) p++;
    if (std::isdigit(uchar(*p))) p++;
  }
  if (std::isdigit(uchar(*p))) luaL_error(L, "invalid format (width or precision too long)");
  *(form++) = '%';
  std::memcpy(form, strfrmt, size_t(p - strfrmt) + 1);
  form += p - strfrmt + 1;
  *form = '\0';
  return p;
}

// Inserts the "ll" length modifier before the conversion character.
static void addintlen(char* form) {
  size_t l = std::strlen(form);
  char spec = form[l - 1];
  form[l - 1] = 'l';
  form[l] = 'l';
  form[l + 1] = spec;
  form[l + 2] = '\0';
}

static unsigned long long toUnsigned(lua_Number d) {
  if (d < 0) return static_cast<unsigned long long>(saturate_cast<long long>(d));
  return saturate_cast<unsigned long long>(d);
}

static int str_format(lua_State* L) {
  int top = lua_gettop(L);
  int arg = 1;
  size_t sfl;
  const char* strfrmt = luaL_checklstring(L, arg, &sfl);
  const char* strfrmt_end = strfrmt + sfl;
  luaL_Buffer b;
  luaL_buffinit(L, &b);
  while (strfrmt < strfrmt_end) {
    if (*strfrmt != L_ESC) {
      luaL_addchar(&b, *strfrmt++);
      continue;
    }
    if (*++strfrmt == L_ESC) {
      luaL_addchar(&b, *strfrmt++);
      continue;
    }
    char form[MAX_FORMAT];
    char buff[MAX_ITEM];
    if (++arg > top) luaL_argerror(L, arg, "no value");
    strfrmt = scanformat(L, strfrmt, form);
    buff[0] = '\0';
    switch (*strfrmt++) {
      case 'c':
        std::snprintf(buff, sizeof buff, form, saturate_cast<int>(luaL_checknumber(L, arg)));
        break;
      case 'd':
      case 'i':
        addintlen(form);
        std::snprintf(buff, sizeof buff, form, saturate_cast<long long>(luaL_checknumber(L, arg)));
        break;
      case 'o':
      case 'u':
      case 'x':
      case 'X':
        addintlen(form);
        std::snprintf(buff, sizeof buff, form, toUnsigned(luaL_checknumber(L, arg)));
        break;
      case 'e':
      case 'E':
      case 'f':
      case 'g':
      case 'G':
        std::snprintf(buff, sizeof buff, form, double(luaL_checknumber(L, arg)));
        break;
      case 'q':
        addquoted(L, &b, arg);
        continue;
      case 's': {
        size_t l;
        const char* s = luaL_checklstring(L, arg, &l);
        if (!std::strchr(form, '.') && l >= 100) {
          // long strings are kept whole, zero bytes included
          lua_pushvalue(L, arg);
          luaL_addvalue(&b);
          continue;
        }
        std::snprintf(buff, sizeof buff, form, s);
        break;
      }
      default:
        return luaL_error(L, "invalid option '%%%c' to 'format'", *(strfrmt - 1));
    }
    luaL_addlstring(&b, buff, std::strlen(buff));
  }
  luaL_pushresult(&b);
  return 1;
}

static const luaL_Reg strlib[] = {
    {"byte", str_byte},       {"char", str_char},   {"dump", str_dump},     {"find", str_find},
    {"format", str_format},   {"gmatch", gmatch},     {"gsub", str_gsub},
    {"len", str_len},         {"lower", str_lower}, {"match", str_match},   {"rep", str_rep},
    {"reverse", str_reverse}, {"sub", str_sub},     {"upper", str_upper},   {nullptr, nullptr}};

static void createmetatable(lua_State* L) {
  lua_createtable(L, 0, 1);
  lua_pushliteral(L, "");
  lua_pushvalue(L, -2);
  lua_setmetatable(L, -2);  // shared by every string
  lua_pop(L, 1);
  lua_pushvalue(L, -2);
  lua_setfield(L, -2, "__index");
  lua_pop(L, 1);
}

int luaopen_string(lua_State* L) {
  luaL_register(L, LUA_STRLIBNAME, strlib);
  lua_getfield(L, -1, "gmatch");  // the old name is the same function
  lua_setfield(L, -2, "gfind");
  createmetatable(L);
  return 1;
}
