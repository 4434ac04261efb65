// Tables: an array part for keys 1..n and a chained scatter hash part
// (Brent's variation) for the rest.
#include <cmath>

#include "lua/debug.hh"
#include "lua/do.hh"
#include "lua/gc.hh"
#include "lua/mem.hh"
#include "lua/string.hh"
#include "lua/table.hh"
#include "lua/vm.hh"

#define MAXBITS 26
#define MAXASIZE (1 << MAXBITS)

#define hashpow2(t, n) (gnode(t, lmod((n), sizenode(t))))
#define hashstr(t, str) hashpow2(t, (str)->hash)
#define hashboolean(t, p) hashpow2(t, p)
#define hashmod(t, n) (gnode(t, ((n) % ((sizenode(t) - 1) | 1))))
#define hashpointer(t, p) hashmod(t, static_cast<unsigned int>(reinterpret_cast<uintptr_t>(p) & 0xffffffffu))
#define gnode(t, i) (&(t)->node[i])

static Node dummynode_ = {{{nullptr}, LUA_TNIL}, {{nullptr}, LUA_TNIL, nullptr}};
#define dummynode (&dummynode_)

static Node* hashnum(const Table* t, lua_Number n) {
  if (n == 0) return gnode(t, 0);  // also -0
  unsigned int a[2];
  memcpy(a, &n, sizeof a);
  unsigned int h = a[0] + a[1];
  return hashmod(t, h);
}

static Node* mainposition(const Table* t, const TValue* key) {
  switch (ttype(key)) {
    case LUA_TNUMBER: return hashnum(t, nvalue(key));
    case LUA_TSTRING: return hashstr(t, rawtsvalue(key));
    case LUA_TBOOLEAN: return hashboolean(t, bvalue(key));
    case LUA_TLIGHTUSERDATA: return hashpointer(t, pvalue(key));
    default: return hashpointer(t, gcvalue(key));
  }
}

// key's index in the array part, or -1
static int arrayindex(const TValue* key) {
  if (ttisnumber(key)) {
    lua_Number n = nvalue(key);
    if (n >= -2147483648.0 && n <= 2147483647.0) {
      int k = static_cast<int>(n);
      if (static_cast<lua_Number>(k) == n) return k;
    }
  }
  return -1;
}

// Position of key in the traversal order (array part first, then hash).
static int findindex(lua_State* L, Table* t, StkId key) {
  if (ttisnil(key)) return -1;  // first iteration
  int i = arrayindex(key);
  if (0 < i && i <= t->sizearray) return i - 1;
  Node* n = mainposition(t, key);
  do {
    // key may be dead already, but it is ok to use it in `next'
    if (luaO_rawequalObj(key2tval(n), key) ||
        (ttype(gkey(n)) == LUA_TDEADKEY && iscollectable(key) && gcvalue(gkey(n)) == gcvalue(key))) {
      i = static_cast<int>(n - gnode(t, 0));
      return i + t->sizearray;
    }
    n = gnext(n);
  } while (n);
  luaG_runerror(L, "invalid key to 'next'");
}

int luaH_next(lua_State* L, Table* t, StkId key) {
  int i = findindex(L, t, key);
  for (i++; i < t->sizearray; i++) {
    if (!ttisnil(&t->array[i])) {
      setnvalue(key, static_cast<lua_Number>(i + 1));
      setobj2s(L, key + 1, &t->array[i]);
      return 1;
    }
  }
  for (i -= t->sizearray; i < sizenode(t); i++) {
    if (!ttisnil(gval(gnode(t, i)))) {
      setobj2s(L, key, key2tval(gnode(t, i)));
      setobj2s(L, key + 1, gval(gnode(t, i)));
      return 1;
    }
  }
  return 0;
}

// Rehash: the largest n (power of 2) such that more than half of 1..n is used.
static int computesizes(int nums[], int* narray) {
  int a = 0;  // number of elements smaller than 2^i
  int na = 0;  // number of elements to go to array part
  int n = 0;  // optimal size for array part
  int twotoi = 1;
  for (int i = 0; twotoi / 2 < *narray; i++, twotoi *= 2) {
    if (nums[i] > 0) {
      a += nums[i];
      if (a > twotoi / 2) {
        n = twotoi;
        na = a;
      }
    }
    if (a == *narray) break;
  }
  *narray = n;
  return na;
}

static int countint(const TValue* key, int* nums) {
  int k = arrayindex(key);
  if (0 < k && k <= MAXASIZE) {
    nums[ceillog2(k)]++;
    return 1;
  }
  return 0;
}

static int numusearray(const Table* t, int* nums) {
  int lg, ttlg;
  int ause = 0;
  int i = 1;
  for (lg = 0, ttlg = 1; lg <= MAXBITS; lg++, ttlg *= 2) {
    int lc = 0;
    int lim = ttlg;
    if (lim > t->sizearray) {
      lim = t->sizearray;
      if (i > lim) break;
    }
    for (; i <= lim; i++) {
      if (!ttisnil(&t->array[i - 1])) lc++;
    }
    nums[lg] += lc;
    ause += lc;
  }
  return ause;
}

static int numusehash(const Table* t, int* nums, int* pnasize) {
  int totaluse = 0;
  int ause = 0;
  int i = sizenode(t);
  while (i--) {
    Node* n = &t->node[i];
    if (!ttisnil(gval(n))) {
      ause += countint(key2tval(n), nums);
      totaluse++;
    }
  }
  *pnasize += ause;
  return totaluse;
}

static void setarrayvector(lua_State* L, Table* t, int size) {
  // an empty part stays unallocated: most tables of small objects have none
  if (size == t->sizearray) return;
  luaM_reallocvector(L, t->array, t->sizearray, size, TValue);
  for (int i = t->sizearray; i < size; i++) setnilvalue(&t->array[i]);
  t->sizearray = size;
}

static void setnodevector(lua_State* L, Table* t, int size) {
  int lsize;
  if (size == 0) {
    t->node = dummynode;
    lsize = 0;
  } else {
    lsize = ceillog2(size);
    if (lsize > MAXBITS) luaG_runerror(L, "table overflow");
    size = twoto(lsize);
    t->node = luaM_newvector(L, size, Node);
    for (int i = 0; i < size; i++) {
      Node* n = gnode(t, i);
      gnext(n) = nullptr;
      setnilvalue(gkey(n));
      setnilvalue(gval(n));
    }
  }
  t->lsizenode = static_cast<lu_byte>(lsize);
  t->lastfree = gnode(t, size);  // all positions are free
}

static void resize(lua_State* L, Table* t, int nasize, int nhsize) {
  int oldasize = t->sizearray;
  int oldhsize = t->lsizenode;
  Node* nold = t->node;
  if (nasize > oldasize) setarrayvector(L, t, nasize);
  setnodevector(L, t, nhsize);
  if (nasize < oldasize) {  // array part must shrink?
    t->sizearray = nasize;
    for (int i = nasize; i < oldasize; i++) {
      if (!ttisnil(&t->array[i])) setobjt2t(L, luaH_setnum(L, t, i + 1), &t->array[i]);
    }
    luaM_reallocvector(L, t->array, oldasize, nasize, TValue);
  }
  for (int i = twoto(oldhsize) - 1; i >= 0; i--) {
    Node* old = nold + i;
    if (!ttisnil(gval(old))) setobjt2t(L, luaH_set(L, t, key2tval(old)), gval(old));
  }
  if (nold != dummynode) luaM_freearray(L, nold, twoto(oldhsize), Node);
}

void luaH_resizearray(lua_State* L, Table* t, int nasize) {
  int nsize = (t->node == dummynode) ? 0 : sizenode(t);
  resize(L, t, nasize, nsize);
}

static void rehash(lua_State* L, Table* t, const TValue* ek) {
  int nums[MAXBITS + 1];
  for (int i = 0; i <= MAXBITS; i++) nums[i] = 0;
  int nasize = numusearray(t, nums);
  int totaluse = nasize;
  totaluse += numusehash(t, nums, &nasize);
  nasize += countint(ek, nums);
  totaluse++;
  int na = computesizes(nums, &nasize);
  resize(L, t, nasize, totaluse - na);
}

Table* luaH_new(lua_State* L, int narray, int nhash) {
  Table* t = luaM_new(L, Table);
  luaC_link(L, t, LUA_TTABLE);
  t->metatable = nullptr;
  t->flags = static_cast<lu_byte>(~0);
  t->array = nullptr;
  t->sizearray = 0;
  t->lsizenode = 0;
  t->node = dummynode;
  t->gclist = nullptr;
  setarrayvector(L, t, narray);
  setnodevector(L, t, nhash);
  return t;
}

void luaH_free(lua_State* L, Table* t) {
  if (t->node != dummynode) luaM_freearray(L, t->node, sizenode(t), Node);
  if (t->array != nullptr) luaM_freearray(L, t->array, t->sizearray, TValue);
  luaM_free(L, t);
}

static Node* getfreepos(Table* t) {
  while (t->lastfree-- > t->node) {
    if (ttisnil(gkey(t->lastfree))) return t->lastfree;
  }
  return nullptr;  // could not find a free place
}

// Inserts a new key. A colliding node not in its main position moves to a
// free slot; otherwise the new key takes the free slot.
static TValue* newkey(lua_State* L, Table* t, const TValue* key) {
  Node* mp = mainposition(t, key);
  if (!ttisnil(gval(mp)) || mp == dummynode) {
    Node* n = getfreepos(t);
    if (n == nullptr) {
      rehash(L, t, key);
      return luaH_set(L, t, key);
    }
    Node* othern = mainposition(t, key2tval(mp));
    if (othern != mp) {  // colliding node is out of its main position
      while (gnext(othern) != mp) othern = gnext(othern);
      gnext(othern) = n;
      *n = *mp;  // copy colliding node into free pos. (mp->next also goes)
      gnext(mp) = nullptr;
      setnilvalue(gval(mp));
    } else {
      gnext(n) = gnext(mp);
      gnext(mp) = n;
      mp = n;
    }
  }
  gkey(mp)->value = key->value;
  gkey(mp)->tt = key->tt;
  luaC_barriert(L, t, key);
  return gval(mp);
}

const TValue* luaH_getnum(Table* t, int key) {
  if (static_cast<unsigned int>(key) - 1u < static_cast<unsigned int>(t->sizearray)) return &t->array[key - 1];
  lua_Number nk = static_cast<lua_Number>(key);
  Node* n = hashnum(t, nk);
  do {
    if (ttisnumber(gkey(n)) && nvalue(gkey(n)) == nk) return gval(n);
    n = gnext(n);
  } while (n);
  return luaO_nilobject;
}

const TValue* luaH_get(Table* t, const TValue* key) {
  switch (ttype(key)) {
    case LUA_TNIL: return luaO_nilobject;
    case LUA_TSTRING: return luaH_getstr(t, rawtsvalue(key));
    case LUA_TNUMBER: {
      int k = arrayindex(key);
      if (k != -1 || (nvalue(key) >= -2147483648.0 && nvalue(key) <= 2147483647.0 &&
                      static_cast<lua_Number>(static_cast<int>(nvalue(key))) == nvalue(key)))
        return luaH_getnum(t, static_cast<int>(nvalue(key)));
    }
      /* FALLTHROUGH */
    default: {
      Node* n = mainposition(t, key);
      do {
        if (luaO_rawequalObj(key2tval(n), key)) return gval(n);
        n = gnext(n);
      } while (n);
      return luaO_nilobject;
    }
  }
}

TValue* luaH_set(lua_State* L, Table* t, const TValue* key) {
  const TValue* p = luaH_get(t, key);
  t->flags = 0;
  if (p != luaO_nilobject) return const_cast<TValue*>(p);
  if (ttisnil(key)) luaG_runerror(L, "table index is nil");
  if (ttisnumber(key) && std::isnan(nvalue(key))) luaG_runerror(L, "table index is NaN");
  return newkey(L, t, key);
}

TValue* luaH_newkey(lua_State* L, Table* t, const TValue* key) {
  t->flags = 0;
  return newkey(L, t, key);
}

TValue* luaH_setnum(lua_State* L, Table* t, int key) {
  const TValue* p = luaH_getnum(t, key);
  if (p != luaO_nilobject) return const_cast<TValue*>(p);
  TValue k;
  setnvalue(&k, static_cast<lua_Number>(key));
  return newkey(L, t, &k);
}

TValue* luaH_setstr(lua_State* L, Table* t, TString* key) {
  const TValue* p = luaH_getstr(t, key);
  if (p != luaO_nilobject) return const_cast<TValue*>(p);
  TValue k;
  setsvalue(L, &k, key);
  return newkey(L, t, &k);
}

static int unbound_search(Table* t, unsigned int j) {
  unsigned int i = j;  // i is zero or a present index
  j++;
  while (!ttisnil(luaH_getnum(t, static_cast<int>(j)))) {
    i = j;
    j *= 2;
    if (j > static_cast<unsigned int>(MAX_INT)) {  // overflow? resort to linear search
      i = 1;
      while (!ttisnil(luaH_getnum(t, static_cast<int>(i)))) i++;
      return static_cast<int>(i - 1);
    }
  }
  while (j - i > 1) {  // binary search between i and j
    unsigned int m = (i + j) / 2;
    if (ttisnil(luaH_getnum(t, static_cast<int>(m)))) j = m;
    else i = m;
  }
  return static_cast<int>(i);
}

int luaH_getn(Table* t) {
  unsigned int j = static_cast<unsigned int>(t->sizearray);
  if (j > 0 && ttisnil(&t->array[j - 1])) {
    unsigned int i = 0;
    while (j - i > 1) {
      unsigned int m = (i + j) / 2;
      if (ttisnil(&t->array[m - 1])) j = m;
      else i = m;
    }
    return static_cast<int>(i);
  } else if (t->node == dummynode) {
    return static_cast<int>(j);
  } else {
    return unbound_search(t, j);
  }
}
