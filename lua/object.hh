// Tagged values and the layout of every collectable object.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "lua/lua.h"

typedef uint8_t lu_byte;
typedef uint32_t lu_int32;
typedef size_t lu_mem;
typedef ptrdiff_t l_mem;
typedef uint32_t Instruction;

// internal object kinds after the public type codes
#define LUA_TPROTO (LUA_TTHREAD + 1)
#define LUA_TUPVAL (LUA_TTHREAD + 2)
#define LUA_TDEADKEY (LUA_TTHREAD + 3)

#define MAXSTACK 250
#define MAX_INT 0x7ffffffd
#define MAX_SIZET ((size_t)(~(size_t)0) - 2)

struct GCObject;
struct TString;
struct Udata;
struct Table;
struct Proto;
struct UpVal;
struct Closure;
struct global_State;

// Common header of collectable objects.
struct GCObject {
  GCObject* next;
  lu_byte tt;
  lu_byte marked;

 protected:
  // Not a plain aggregate, so that the small fields of derived objects
  // (string hash, table flags, closure counts) share the header's padding:
  // strings and tables take 8 bytes less each.
  lu_byte spare_;
};
static_assert(sizeof(GCObject) == 16, "object header");

union Value {
  GCObject* gc;
  void* p;
  lua_Number n;
  int b;
};

struct TValue {
  Value value;
  int tt;
};
typedef TValue* StkId;

#define ttisnil(o) ((o)->tt == LUA_TNIL)
#define ttisnumber(o) ((o)->tt == LUA_TNUMBER)
#define ttisstring(o) ((o)->tt == LUA_TSTRING)
#define ttistable(o) ((o)->tt == LUA_TTABLE)
#define ttisfunction(o) ((o)->tt == LUA_TFUNCTION)
#define ttisboolean(o) ((o)->tt == LUA_TBOOLEAN)
#define ttisuserdata(o) ((o)->tt == LUA_TUSERDATA)
#define ttisthread(o) ((o)->tt == LUA_TTHREAD)
#define ttislightuserdata(o) ((o)->tt == LUA_TLIGHTUSERDATA)
#define ttype(o) ((o)->tt)
#define iscollectable(o) (ttype(o) >= LUA_TSTRING)

#define gcvalue(o) ((o)->value.gc)
#define pvalue(o) ((o)->value.p)
#define nvalue(o) ((o)->value.n)
#define rawtsvalue(o) (static_cast<TString*>((o)->value.gc))
#define tsvalue(o) rawtsvalue(o)
#define rawuvalue(o) (static_cast<Udata*>((o)->value.gc))
#define uvalue(o) rawuvalue(o)
#define clvalue(o) (static_cast<Closure*>((o)->value.gc))
#define hvalue(o) (static_cast<Table*>((o)->value.gc))
#define bvalue(o) ((o)->value.b)
#define thvalue(o) (static_cast<lua_State*>((o)->value.gc))
#define l_isfalse(o) (ttisnil(o) || (ttisboolean(o) && bvalue(o) == 0))

#define setnilvalue(obj) ((obj)->tt = LUA_TNIL)
#define setnvalue(obj, x) { TValue* i_o = (obj); i_o->value.n = (x); i_o->tt = LUA_TNUMBER; }
#define setpvalue(obj, x) { TValue* i_o = (obj); i_o->value.p = (x); i_o->tt = LUA_TLIGHTUSERDATA; }
#define setbvalue(obj, x) { TValue* i_o = (obj); i_o->value.b = (x); i_o->tt = LUA_TBOOLEAN; }
#define setgcovalue(obj, x, t) { TValue* i_o = (obj); i_o->value.gc = (x); i_o->tt = (t); }
#define setsvalue(L, obj, x) setgcovalue(obj, static_cast<GCObject*>(x), LUA_TSTRING)
#define setuvalue(L, obj, x) setgcovalue(obj, static_cast<GCObject*>(x), LUA_TUSERDATA)
#define setthvalue(L, obj, x) setgcovalue(obj, static_cast<GCObject*>(x), LUA_TTHREAD)
#define setclvalue(L, obj, x) setgcovalue(obj, static_cast<GCObject*>(x), LUA_TFUNCTION)
#define sethvalue(L, obj, x) setgcovalue(obj, static_cast<GCObject*>(x), LUA_TTABLE)
#define setptvalue(L, obj, x) setgcovalue(obj, static_cast<GCObject*>(x), LUA_TPROTO)
#define setobj(L, obj1, obj2) { const TValue* o2 = (obj2); TValue* o1 = (obj1); o1->value = o2->value; o1->tt = o2->tt; }
#define setobjs2s setobj
#define setobj2s setobj
#define setsvalue2s setsvalue
#define sethvalue2s sethvalue
#define setptvalue2s setptvalue
#define setobjt2t setobj
#define setobj2t setobj
#define setobj2n setobj
#define setsvalue2n setsvalue
#define setttype(obj, t) ((obj)->tt = (t))

// Interned string; the bytes (zero-terminated) follow the header.
struct TString : GCObject {
  lu_byte reserved;  // reserved-word number + 1, or 0
  unsigned int hash;
  size_t len;
};
static_assert(sizeof(TString) == 24, "string header shares the object header's padding");
inline char* getstr(TString* ts) { return reinterpret_cast<char*>(ts + 1); }
inline const char* getstr(const TString* ts) { return reinterpret_cast<const char*>(ts + 1); }
#define svalue(o) getstr(rawtsvalue(o))

// Full userdata; the block follows the header, aligned to 16 bytes.
struct alignas(16) Udata : GCObject {
  Table* metatable;
  Table* env;
  size_t len;
};
inline void* udata_block(Udata* u) { return u + 1; }

struct LocVar {
  TString* varname;
  int startpc;  // first point where variable is active
  int endpc;    // first point where variable is dead
};

// Function prototype.
struct Proto : GCObject {
  TValue* k;  // constants
  Instruction* code;
  Proto** p;  // nested functions
  int* lineinfo;  // source line of each instruction
  LocVar* locvars;
  TString** upvalues;  // upvalue names
  TString* source;
  int sizeupvalues;
  int sizek;
  int sizecode;
  int sizelineinfo;
  int sizep;
  int sizelocvars;
  int linedefined;
  int lastlinedefined;
  GCObject* gclist;
  lu_byte nups;
  lu_byte numparams;
  lu_byte is_vararg;
  lu_byte maxstacksize;
};

// is_vararg bits
#define VARARG_HASARG 1
#define VARARG_ISVARARG 2
#define VARARG_NEEDSARG 4

struct UpVal : GCObject {
  TValue* v;  // points to stack or to its own value
  union {
    TValue value;  // the value (when closed)
    struct {       // double linked list (when open)
      UpVal* prev;
      UpVal* next;
    } l;
  } u;
};

// Closures: the upvalues follow the header.
struct Closure : GCObject {
  lu_byte isC;
  lu_byte nupvalues;
  GCObject* gclist;
  Table* env;
};
struct CClosure : Closure {
  lua_CFunction f;
  TValue* upvalue() { return reinterpret_cast<TValue*>(this + 1); }
};
struct LClosure : Closure {
  Proto* p;
  UpVal** upvals() { return reinterpret_cast<UpVal**>(this + 1); }
};
inline CClosure* cclosure(Closure* c) { return static_cast<CClosure*>(c); }
inline LClosure* lclosure(Closure* c) { return static_cast<LClosure*>(c); }
#define iscfunction(o) (ttype(o) == LUA_TFUNCTION && clvalue(o)->isC)
#define isLfunction(o) (ttype(o) == LUA_TFUNCTION && !clvalue(o)->isC)
inline size_t sizeCclosure(int n) { return sizeof(CClosure) + sizeof(TValue) * n; }
inline size_t sizeLclosure(int n) { return sizeof(LClosure) + sizeof(UpVal*) * n; }

// Tables.
struct TKey {
  Value value;
  int tt;
  struct Node* next;  // for chaining
};
struct Node {
  TValue i_val;
  TKey i_key;
};

struct Table : GCObject {
  lu_byte flags;  // 1 << p means tagmethod(p) is not present
  lu_byte lsizenode;  // log2 of size of `node' array
  Table* metatable;
  TValue* array;
  Node* node;
  Node* lastfree;  // any free position is before this position
  GCObject* gclist;
  int sizearray;
};

#define lmod(s, size) (static_cast<int>((s) & ((size) - 1)))
#define twoto(x) (1 << (x))
#define sizenode(t) (twoto((t)->lsizenode))

#define gkey(n) (&(n)->i_key)
#define gval(n) (&(n)->i_val)
#define gnext(n) ((n)->i_key.next)
#define key2tval(n) (reinterpret_cast<const TValue*>(&(n)->i_key))

extern const TValue luaO_nilobject_;
#define luaO_nilobject (&luaO_nilobject_)

#define ceillog2(x) (luaO_log2((x) - 1) + 1)

int luaO_log2(unsigned int x);
int luaO_int2fb(unsigned int x);
int luaO_fb2int(int x);
int luaO_rawequalObj(const TValue* t1, const TValue* t2);
// Text to number: decimal, 0x hexadecimal, 0b binary, 0o octal.
int luaO_str2d(const char* s, lua_Number* result);
const char* luaO_pushvfstring(lua_State* L, const char* fmt, va_list argp);
const char* luaO_pushfstring(lua_State* L, const char* fmt, ...);
void luaO_chunkid(char* out, const char* source, size_t len);
// "%.14g" into buff (at least 32 bytes); returns the length.
int luaO_num2str(char* buff, lua_Number n);
