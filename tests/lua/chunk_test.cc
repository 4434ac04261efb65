// Precompiled chunks: VarioCode vectors, string masking, dump/load round
// trips, and crafted chunks that must be refused without harm.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "libs_support.hh"
#include "lua/opcodes.hh"
#include "lua/state.hh"
#include "lua/vario.hh"
#include "tests/support/Harness.hh"

namespace {

using libtest::Lua;

std::string bytesOf(const uint8_t* b, int n) { return std::string(reinterpret_cast<const char*>(b), size_t(n)); }

std::string enc4(uint32_t v) {
  uint8_t out[vario::kMaxBytes];
  return bytesOf(out, vario::encode4(v, out));
}

std::string enc8(double d) {
  uint8_t out[vario::kMaxBytes];
  return bytesOf(out, vario::encode8(d, out));
}

std::string hex(const std::string& s) {
  static const char* digits = "0123456789ABCDEF";
  std::string h;
  for (unsigned char c : s) {
    if (!h.empty()) h += ' ';
    h += digits[c >> 4];
    h += digits[c & 15];
  }
  return h;
}

TEST(VarioCode, Width4Vectors) {
  struct Case {
    uint32_t v;
    const char* bytes;
  } cases[] = {
      {0, "C0"},          {5, "C5"},          {63, "FF"},
      {64, "8C 40"},      {256, "89 01"},     {0xFFFFFFFF, "9D"},
      {0x12345678, "12 34 56 78"},            {0x92345678, "80 92 34 56 78"},
      {0xFFFFFF00, "9C 00"},  // runs of different fills: the longer (top) one
      {0x00FF0000, "86 FF"},  // same fill at both ends: both runs
      {0xFF000000, "83 FF"},  // different fills: the longer (bottom) run
      {0x01000000, "83 01"},  {0xFFFF1234, "98 12 34"}, {0x000000FF, "8C FF"},
  };
  for (const Case& c : cases) EXPECT_EQ(hex(enc4(c.v)), c.bytes) << std::hex << c.v;
}

TEST(VarioCode, Width8Vectors) {
  double subnormal;
  uint64_t one = 1;
  std::memcpy(&subnormal, &one, sizeof one);
  struct Case {
    double d;
    const char* bytes;
  } cases[] = {
      {1, "C1"},
      {-1, "BD"},
      {0, "C0"},
      {-0.0, "C0"},
      {63, "FF"},
      {-2, "BC FE"},
      {2.5, "83 40 04 00 00 00"},
      {1e10, "83 42 02 A0 5F 20"},
      {2147483648.0, "83 41 E0 00 00 00"},
      {-2147483648.0, "A3 80"},
      {2147483647.0, "B3 7F"},
      {-1e6, "B4 F0 BD C0"},
      {1e6, "A4 0F 42 40"},
      {subnormal, "8C 00 00 00 00 01"},
      {0.1, "3F B9 99 99 99 99 99 9A"},
      {-0.1, "80 BF B9 99 99 99 99 99 9A"},
  };
  for (const Case& c : cases) EXPECT_EQ(hex(enc8(c.d)), c.bytes) << c.d;
}

TEST(VarioCode, DecodeInvertsEncode) {
  std::mt19937_64 rng(7);
  for (int i = 0; i < 20000; i++) {
    uint64_t r = rng();
    uint32_t v = uint32_t(r >> (r & 31));
    if (i % 3 == 0) v = uint32_t(r & 0xFF) << (8 * (r >> 62));
    std::string e = enc4(v);
    size_t at = 0;
    uint32_t back = ~v;
    ASSERT_TRUE(vario::decode(4, [&]() { return at < e.size() ? int(uint8_t(e[at++])) : -1; }, &back, nullptr));
    EXPECT_EQ(back, v);
    EXPECT_EQ(at, e.size());
    double d;
    uint64_t bits = rng();
    std::memcpy(&d, &bits, sizeof d);
    if (i % 4 == 0) d = double(int32_t(uint32_t(r)));
    if (i % 4 == 1) d = std::ldexp(double(int64_t(r >> 20)), -int(r & 15));
    e = enc8(d);
    at = 0;
    double dback = 0;
    ASSERT_TRUE(vario::decode(8, [&]() { return at < e.size() ? int(uint8_t(e[at++])) : -1; }, nullptr, &dback));
    EXPECT_EQ(at, e.size());
    if (std::isnan(d)) {
      EXPECT_EQ(std::memcmp(&d, &dback, sizeof d), 0);
    } else {
      EXPECT_EQ(dback, d);
    }
  }
}

TEST(VarioCode, CallbackInterface) {
  std::string out;
  uint32_t v = 256;
  EXPECT_EQ(VarioEnCode(&v, 4, [](int b, void* ctx) { *static_cast<std::string*>(ctx) += char(b); }, &out), 2);
  double d = -1;
  EXPECT_EQ(VarioEnCode(&d, 8, [](int b, void* ctx) { *static_cast<std::string*>(ctx) += char(b); }, &out), 1);
  EXPECT_EQ(hex(out), "89 01 BD");
  struct Src {
    std::string s;
    size_t at;
  } src{out, 0};
  auto get = [](void* ctx) {
    Src* p = static_cast<Src*>(ctx);
    return p->at < p->s.size() ? int(uint8_t(p->s[p->at++])) : -1;
  };
  uint32_t v2 = 0;
  double d2 = 0;
  EXPECT_EQ(*static_cast<const uint32_t*>(VarioDeCode(&v2, 4, get, &src)), 256u);
  EXPECT_EQ(*static_cast<const double*>(VarioDeCode(&d2, 8, get, &src)), -1.0);
  EXPECT_DEATH(VarioEnCode(&v, 2, [](int, void*) {}, nullptr), "0");
}

// ---- chunks -----------------------------------------------------------------

int appendWriter(lua_State*, const void* p, size_t sz, void* ud) {
  static_cast<std::string*>(ud)->append(static_cast<const char*>(p), sz);
  return 0;
}

std::string dumpTop(lua_State* L) {
  std::string out;
  EXPECT_EQ(lua_dump(L, appendWriter, &out), 0);
  return out;
}

// Loads a chunk; returns "" or the error message.
std::string loadChunk(lua_State* L, const std::string& chunk, const char* name = "=crafted") {
  int status = luaL_loadbuffer(L, chunk.data(), chunk.size(), name);
  std::string msg = status ? lua_tostring(L, -1) : "";
  lua_pop(L, 1);
  return msg;
}

TEST(Chunk, HeaderConstantsAndMasking) {
  Lua lua;
  ASSERT_EQ(luaL_loadstring(lua.L, "local a = 'AbC' return 1, -1, 2.5, 1e10, -0.0, 2147483648, a"), 0);
  std::string chunk = dumpTop(lua.L);
  EXPECT_EQ(hex(chunk.substr(0, 8)), "B7 51 5A 52 51 00 08 00");
  // "AbC" stored as its length + 1 (4) and the bytes XOR the signature
  const std::string masked = std::string("\xC4") + char('A' ^ 0xB7) + char('b' ^ 'Q') + char('C' ^ 'Z');
  EXPECT_NE(chunk.find(masked), std::string::npos);
  EXPECT_EQ(chunk.find("AbC"), std::string::npos);
  EXPECT_NE(chunk.find("\x03\xC1"), std::string::npos);  // number constant 1, immediate
  EXPECT_NE(chunk.find(std::string("\x03\xBD", 2)), std::string::npos);
  EXPECT_NE(chunk.find(std::string("\x03\x83\x40\x04\x00\x00\x00", 7)), std::string::npos);
  EXPECT_NE(chunk.find(std::string("\x03\x83\x41\xE0\x00\x00\x00", 7)), std::string::npos);
  lua_pop(lua.L, 1);
  ASSERT_EQ(luaL_loadbuffer(lua.L, chunk.data(), chunk.size(), "=x"), 0);
  lua_call(lua.L, 0, LUA_MULTRET);
  ASSERT_EQ(lua_gettop(lua.L), 7);
  EXPECT_EQ(lua_tonumber(lua.L, 1), 1);
  EXPECT_EQ(lua_tonumber(lua.L, 2), -1);
  EXPECT_EQ(lua_tonumber(lua.L, 3), 2.5);
  EXPECT_EQ(lua_tonumber(lua.L, 4), 1e10);
  EXPECT_EQ(lua_tonumber(lua.L, 5), 0);
  EXPECT_EQ(lua_tonumber(lua.L, 6), 2147483648.0);
  EXPECT_STREQ(lua_tostring(lua.L, 7), "AbC");
  lua_settop(lua.L, 0);
  EXPECT_EQ(lua.run("local f = loadstring(string.dump(function() return 1/0, -1/0, 0/0 ~= 0/0, 0.1 end))\n"
                    "print(f())"),
            "inf\t-inf\ttrue\t0.1\n");
}

// -0.0 constants are stored as 0: a script that has one may print
// differently after the trip.
bool hasNegativeZero(const Proto* p) {
  for (int i = 0; i < p->sizek; i++)
    if (ttisnumber(&p->k[i]) && nvalue(&p->k[i]) == 0 && std::signbit(nvalue(&p->k[i]))) return true;
  for (int i = 0; i < p->sizep; i++)
    if (hasNegativeZero(p->p[i])) return true;
  return false;
}

// Every function of a script runs the same after a trip through the chunk
// format, and a second trip gives the same bytes.
void expectRoundTrip(const std::string& path) {
  Lua src;
  Lua bin;
  ASSERT_EQ(luaL_loadfile(src.L, path.c_str()), 0) << lua_tostring(src.L, -1);
  const bool negativeZero = hasNegativeZero(lclosure(clvalue(src.L->top - 1))->p);
  std::string chunk = dumpTop(src.L);
  lua_settop(src.L, 0);
  ASSERT_EQ(luaL_loadbuffer(bin.L, chunk.data(), chunk.size(), "=ignored"), 0) << lua_tostring(bin.L, -1);
  std::string again = dumpTop(bin.L);
  EXPECT_TRUE(again == chunk) << path;
  lua_settop(bin.L, 0);
  std::string viaSource = src.runFile(path);
  testsupport::TempDir tmp;
  const std::string chunkFile = tmp.file("chunk.bcz");
  ASSERT_TRUE(testsupport::writeFile(chunkFile, chunk));
  std::string viaChunk = bin.runFile(chunkFile);
  if (!negativeZero) {
    EXPECT_EQ(viaChunk, viaSource) << path;
  }
}

TEST(Chunk, RoundTripOfScripts) {
  const std::string dir = testsupport::sourceDir() + "/tests/lua";
  ASSERT_EQ(chdir(dir.c_str()), 0);
  testsupport::TempDir tmp;
  setenv("TOLM_IO_DIR", tmp.path().c_str(), 1);
  std::vector<std::string> scripts;
  for (const char* name : {"base", "coroutine", "string", "format", "table", "math", "debug", "io", "package"})
    scripts.push_back(std::string("libs-corpus/") + name + ".lua");
  std::string list;
  testsupport::run("ls corpus/*.lua 2>/dev/null", &list);
  for (size_t at = 0; at < list.size();) {
    size_t nl = list.find('\n', at);
    if (nl == std::string::npos) nl = list.size();
    if (nl > at) scripts.push_back(list.substr(at, nl - at));
    at = nl + 1;
  }
  for (const std::string& s : scripts) expectRoundTrip(s);
}

// The seeds of lua_fuzz_chunk are the corpus scripts compiled: stale seeds
// (a changed script or chunk format) would start the fuzzer outside the
// loader again. fuzz/make-chunk-seeds.lua makes them anew.
TEST(Chunk, FuzzSeedsAreTheCorpusCompiled) {
  const std::string root = testsupport::sourceDir();
  std::string list;
  testsupport::run("cd '" + root + "/tests/lua/corpus' && ls *.lua", &list);
  std::string seeds;
  testsupport::run("cd '" + root + "/fuzz/corpus/lua_fuzz_chunk' && ls *.bcz", &seeds);
  size_t scripts = 0;
  for (size_t at = 0; at < list.size();) {
    size_t nl = list.find('\n', at);
    if (nl == std::string::npos) nl = list.size();
    const std::string name = list.substr(at, nl - at);
    at = nl + 1;
    if (name.empty()) continue;
    ++scripts;
    const std::string text = testsupport::readFile(root + "/tests/lua/corpus/" + name);
    Lua lua;
    ASSERT_EQ(luaL_loadbuffer(lua.L, text.data(), text.size(), ("@" + name).c_str()), 0) << name;
    const std::string seed = root + "/fuzz/corpus/lua_fuzz_chunk/" + name.substr(0, name.size() - 4) + ".bcz";
    EXPECT_TRUE(testsupport::readFile(seed) == dumpTop(lua.L))
        << seed << " is not " << name << " compiled: run fuzz/make-chunk-seeds.lua";
  }
  EXPECT_GT(scripts, 0u);
  EXPECT_EQ(size_t(std::count(seeds.begin(), seeds.end(), '\n')), scripts) << seeds;
}

TEST(Chunk, FilesByFirstByte) {
  testsupport::TempDir tmp;
  Lua lua;
  ASSERT_EQ(luaL_loadstring(lua.L, "return 'from chunk'"), 0);
  std::string chunk = dumpTop(lua.L);
  lua_pop(lua.L, 1);
  ASSERT_TRUE(testsupport::writeFile(tmp.file("a.bcz"), "#!/usr/bin/env tlua\n" + chunk));
  ASSERT_TRUE(testsupport::writeFile(tmp.file("b.lua"), "#!/usr/bin/env tlua\nreturn 'from source', debug.getinfo(1, 'l').currentline"));
  ASSERT_TRUE(testsupport::writeFile(tmp.file("c.bcz"), chunk.substr(0, 20)));
  EXPECT_EQ(lua.run("print(dofile('" + tmp.file("a.bcz") + "'))\n"
                    "print(dofile('" + tmp.file("b.lua") + "'))\n"
                    "print(loadfile('" + tmp.file("c.bcz") + "'))\n"
                    "print(loadfile('" + tmp.file("missing") + "'))\n"),
            "from chunk\n"
            "from source\t2\n"
            "nil\t" + tmp.file("c.bcz") + ": unexpected end in precompiled chunk\n"
            "nil\tcannot open " + tmp.file("missing") + ": No such file or directory\n");
}

// A tiny assembler for crafted functions.
struct Fn {
  std::vector<uint32_t> code;
  std::string constants;  // encoded, with their count in nk
  int nk = 0;
  std::vector<Fn> protos;
  int nups = 0, numparams = 0, vararg = 2, maxstack = 2;
  int lines = -1;  // line entries (-1: one per instruction)
  std::string extra;  // appended after the record's code (for malformed records)
};

void putInt(std::string& s, int32_t v) { s += enc4(uint32_t(v)); }

void putString(std::string& s, const std::string& text) {
  putInt(s, int32_t(text.size() + 1));
  static const unsigned char sig[4] = {0xB7, 'Q', 'Z', 'R'};
  for (size_t i = 0; i < text.size(); i++) s += char(uint8_t(text[i]) ^ sig[i % 4]);
}

std::string record(const Fn& f, bool main) {
  std::string s;
  if (main)
    putString(s, "=crafted");
  else
    putInt(s, 0);
  putInt(s, 0);
  putInt(s, 0);
  s += char(f.nups);
  s += char(f.numparams);
  s += char(f.vararg);
  s += char(f.maxstack);
  putInt(s, int32_t(f.code.size()));
  for (uint32_t w : f.code) putInt(s, int32_t(w));
  putInt(s, f.nk);
  s += f.constants;
  putInt(s, int32_t(f.protos.size()));
  for (const Fn& p : f.protos) s += record(p, false);
  int lines = f.lines < 0 ? int(f.code.size()) : f.lines;
  putInt(s, lines);
  for (int i = 0; i < lines; i++) putInt(s, 1);
  putInt(s, 0);
  putInt(s, 0);
  return s;
}

std::string chunkOf(const Fn& f) { return std::string("\xB7QZR\x51\x00\x08\x00", 8) + record(f, true); }

std::string numberK(double d) { return std::string(1, char(LUA_TNUMBER)) + enc8(d); }

std::string stringK(const std::string& text) {
  std::string s(1, char(LUA_TSTRING));
  putString(s, text);
  return s;
}

Fn returnsSeven() {
  Fn f;
  f.code = {CREATE_ABx(OP_LOADK, 0, 0), CREATE_ABC(OP_RETURN, 0, 2, 0), CREATE_ABC(OP_RETURN, 0, 1, 0)};
  f.constants = numberK(7);
  f.nk = 1;
  return f;
}

TEST(Chunk, CraftedValidFunctionRuns) {
  Lua lua;
  std::string c = chunkOf(returnsSeven());
  ASSERT_EQ(luaL_loadbuffer(lua.L, c.data(), c.size(), "=crafted"), 0);
  lua_call(lua.L, 0, 1);
  EXPECT_EQ(lua_tonumber(lua.L, -1), 7);
}

TEST(Chunk, CraftedBadCodeIsRefused) {
  auto with = [](auto change) {
    Fn f = returnsSeven();
    change(f);
    return chunkOf(f);
  };
  const uint32_t ret = CREATE_ABC(OP_RETURN, 0, 1, 0);
  std::vector<std::pair<const char*, std::string>> cases = {
      {"opcode 45", with([&](Fn& f) { f.code[0] = 45; })},
      {"opcode 63", with([&](Fn& f) { f.code[0] = 63 | (1u << 6); })},
      {"register beyond frame", with([&](Fn& f) { f.code[0] = CREATE_ABC(OP_MOVE, 2, 0, 0); })},
      {"source register beyond frame", with([&](Fn& f) { f.code[0] = CREATE_ABC(OP_MOVE, 0, 9, 0); })},
      {"constant beyond table", with([&](Fn& f) { f.code[0] = CREATE_ABx(OP_LOADK, 0, 1); })},
      {"RK constant beyond table", with([&](Fn& f) { f.code[0] = CREATE_ABC(OP_ADD, 0, RKASK(3), 0); })},
      {"jump past the end", with([&](Fn& f) { f.code[0] = CREATE_ABx(OP_JMP, 0, MAXARG_sBx + 5); })},
      {"jump before the start", with([&](Fn& f) { f.code[0] = CREATE_ABx(OP_JMP, 0, MAXARG_sBx - 3); })},
      {"no final return", with([&](Fn& f) { f.code.back() = CREATE_ABC(OP_MOVE, 0, 0, 0); })},
      {"empty code", with([&](Fn& f) { f.code.clear(); f.lines = 0; })},
      {"upvalue beyond closure", with([&](Fn& f) { f.code[0] = CREATE_ABC(OP_GETUPVAL, 0, 0, 0); })},
      {"test without jump", with([&](Fn& f) { f.code[0] = CREATE_ABC(OP_EQ, 0, 0, 0); })},
      {"open call result not consumed", with([&](Fn& f) {
         f.code = {CREATE_ABC(OP_CALL, 0, 1, 0), CREATE_ABC(OP_MOVE, 0, 0, 0), ret};
       })},
      {"jump into SETLIST data", with([&](Fn& f) {
         f.code = {CREATE_ABx(OP_JMP, 0, MAXARG_sBx + 2), CREATE_ABC(OP_NEWTABLE, 0, 0, 0),
                   CREATE_ABC(OP_SETLIST, 0, 0, 0), 63u, ret};
       })},
      {"closure of missing prototype", with([&](Fn& f) { f.code[0] = CREATE_ABx(OP_CLOSURE, 0, 0); })},
      {"frame too large", with([&](Fn& f) { f.maxstack = 251; })},
      {"vararg in fixed function", with([&](Fn& f) {
         f.vararg = 0;
         f.code[0] = CREATE_ABC(OP_VARARG, 0, 2, 0);
       })},
      {"global name not a string", with([&](Fn& f) { f.code[0] = CREATE_ABx(OP_GETGLOBAL, 0, 0); })},
      {"table size beyond limit", with([&](Fn& f) { f.code[0] = CREATE_ABC(OP_NEWTABLE, 0, 0x1FF, 0); })},
      {"concat range reversed", with([&](Fn& f) { f.code[0] = CREATE_ABC(OP_CONCAT, 0, 1, 0); })},
      {"loadbool skip past end", with([&](Fn& f) {
         f.code = {CREATE_ABC(OP_MOVE, 0, 0, 0), CREATE_ABC(OP_LOADBOOL, 0, 1, 1), ret};
       })},
      {"SETLIST into a number", with([&](Fn& f) {
         f.code = {CREATE_ABx(OP_LOADK, 0, 0), CREATE_ABC(OP_SETLIST, 0, 1, 1), ret};
       })},
      {"SETLIST reached around its NEWTABLE", with([&](Fn& f) {
         f.code = {CREATE_ABx(OP_JMP, 0, MAXARG_sBx + 1), CREATE_ABC(OP_NEWTABLE, 0, 0, 0),
                   CREATE_ABC(OP_SETLIST, 0, 1, 1), ret};
       })},
      {"jump onto a capture word", with([&](Fn& f) {
         Fn inner = returnsSeven();
         inner.nups = 1;
         f.protos.push_back(inner);
         f.code = {CREATE_ABx(OP_JMP, 0, MAXARG_sBx + 1), CREATE_ABx(OP_CLOSURE, 0, 0),
                   CREATE_ABC(OP_MOVE, 0, 0, 0), ret};
       })},
      {"line info of wrong size", with([&](Fn& f) { f.lines = 1; })},
      {"parameters beyond frame", with([&](Fn& f) { f.numparams = 3; })},
      {"closure capture word", with([&](Fn& f) {
         Fn inner = returnsSeven();
         inner.nups = 1;
         f.protos.push_back(inner);
         f.code = {CREATE_ABx(OP_CLOSURE, 0, 0), CREATE_ABC(OP_LOADK, 0, 0, 0), ret};
       })},
  };
  Lua lua;
  for (const auto& c : cases)
    EXPECT_EQ(loadChunk(lua.L, c.second), "crafted: bad code in precompiled chunk") << c.first;
}

TEST(Chunk, CraftedBadRecordsAreRefused) {
  Lua lua;
  const std::string good = chunkOf(returnsSeven());
  for (size_t n = 1; n < good.size(); n++)  // cut short anywhere
    EXPECT_EQ(loadChunk(lua.L, good.substr(0, n)), "crafted: unexpected end in precompiled chunk") << n;
  for (int at = 1; at < 8; at++) {
    std::string bad = good;
    bad[size_t(at)] = char(bad[size_t(at)] ^ 0x01);
    EXPECT_EQ(loadChunk(lua.L, bad), "crafted: bad header in precompiled chunk") << at;
  }
  Fn f = returnsSeven();
  f.constants = std::string(1, char(2));
  EXPECT_EQ(loadChunk(lua.L, chunkOf(f)), "crafted: bad constant in precompiled chunk");
  f.constants = std::string(1, char(LUA_TSTRING)) + enc4(0);  // absent string as a constant
  EXPECT_EQ(loadChunk(lua.L, chunkOf(f)), "crafted: bad constant in precompiled chunk");
  f = returnsSeven();
  f.nk = -1;
  EXPECT_EQ(loadChunk(lua.L, chunkOf(f)), "crafted: bad integer in precompiled chunk");
  f = returnsSeven();
  f.constants = stringK("x");
  f.nk = 1;
  EXPECT_EQ(loadChunk(lua.L, chunkOf(f)), "");
  // declared sizes far beyond the bytes present
  std::string huge = std::string("\xB7QZR\x51\x00\x08\x00", 8);
  putInt(huge, 0x7FFFFFF0);
  EXPECT_EQ(loadChunk(lua.L, huge), "crafted: unexpected end in precompiled chunk");
  huge = std::string("\xB7QZR\x51\x00\x08\x00", 8);
  putInt(huge, 0);
  putInt(huge, 0);
  putInt(huge, 0);
  huge += std::string(4, '\2');
  putInt(huge, 0x7FFFFFF0);
  huge += std::string(100, '\xC0');
  EXPECT_EQ(loadChunk(lua.L, huge), "crafted: unexpected end in precompiled chunk");
  // nesting
  Fn deep = returnsSeven();
  for (int i = 0; i < 201; i++) {
    Fn outer = returnsSeven();
    outer.protos.push_back(deep);
    deep = outer;
  }
  EXPECT_EQ(loadChunk(lua.L, chunkOf(deep)), "crafted: code too deep in precompiled chunk");
  // the chunk name of loadstring is the chunk itself
  EXPECT_EQ(lua.run("print(loadstring(string.dump(function() end):sub(1, 12)))"),
            "nil\tbinary string: unexpected end in precompiled chunk\n");
  EXPECT_EQ(lua.run("local s = string.dump(function() end) print(loadstring(s:sub(1, 5) .. 'X' .. s:sub(7)))"),
            "nil\tbinary string: bad header in precompiled chunk\n");
}

// Random damage to real chunks: every result is a clean refusal or a
// function that runs (stopped after a while) without harming the process.
// Allocator with a ceiling, so a mutant that doubles a string in a loop
// meets "not enough memory" instead of the machine's limit.
struct Budget {
  size_t used = 0;
  size_t limit = 64u << 20;
};

void* budgetAlloc(void* ud, void* ptr, size_t osize, size_t nsize) {
  Budget* b = static_cast<Budget*>(ud);
  if (nsize == 0) {
    std::free(ptr);
    b->used -= osize;
    return nullptr;
  }
  if (nsize > osize && b->used + (nsize - osize) > b->limit) return nullptr;
  void* p = std::realloc(ptr, nsize);
  if (p != nullptr) b->used = b->used - osize + nsize;
  return p;
}

TEST(Chunk, MutatedChunksNeverCrash) {
  Budget budget;
  lua_State* L = lua_newstate(budgetAlloc, &budget);
  ASSERT_NE(L, nullptr);
  luaL_openlibs(L);
  lua_pushcfunction(L, [](lua_State*) { return 0; });
  lua_setglobal(L, "print");
  ASSERT_EQ(luaL_loadstring(L,
                            "local t = {} for i = 1, 10 do t[i] = i * 2 end\n"
                            "local function f(a, ...) local s = 0 for k, v in pairs(t) do s = s + v end\n"
                            "  return s + select('#', ...), a and #a or 0 end\n"
                            "local u = 'str' .. tostring(f('xx', 1, 2))\n"
                            "while #u < 40 do u = u .. u end return u, {f(nil)}, f('abc', nil)"),
            0);
  const std::string good = dumpTop(L);
  lua_pop(L, 1);
  lua_sethook(L, [](lua_State* L, lua_Debug*) { luaL_error(L, "instruction budget spent"); }, LUA_MASKCOUNT,
              20000);
  // longer campaigns: TOLM_MUTANT_SEED / TOLM_MUTANT_ROUNDS
  std::mt19937 rng(getenv("TOLM_MUTANT_SEED") ? unsigned(atoi(getenv("TOLM_MUTANT_SEED"))) : 1234u);
  const int rounds = getenv("TOLM_MUTANT_ROUNDS") ? atoi(getenv("TOLM_MUTANT_ROUNDS")) : 3000;
  int loaded = 0;
  for (int i = 0; i < rounds; i++) {
    std::string bad = good;
    int edits = 1 + int(rng() % 3);
    for (int e = 0; e < edits; e++) {
      size_t at = 8 + rng() % (bad.size() - 8);
      bad[at] = char(rng());
    }
    if (luaL_loadbuffer(L, bad.data(), bad.size(), "=mutant") == 0) {
      loaded++;
      if (getenv("TOLM_MUTANT_DUMP")) testsupport::writeFile(getenv("TOLM_MUTANT_DUMP"), bad);
      lua_pcall(L, 0, 0, 0);
    }
    lua_settop(L, 0);
  }
  EXPECT_GT(loaded, 0);
  lua_close(L);
  EXPECT_EQ(budget.used, 0u);
}

}  // namespace
