// Driver for the fuzz targets where libFuzzer is not available: runs the
// files named on the command line, or else a bounded run of seeded random
// mutations of valid inputs (sources, and their dumps for the chunk target);
// TOLM_FUZZ_ROUNDS, TOLM_FUZZ_SEED and TOLM_FUZZ_SAVE (the file that keeps
// the input about to run) serve longer campaigns.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "lua/lauxlib.h"
#include "lua/lua.h"
#include "lua/lualib.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

static const char* const kSeeds[] = {
    "local t = {} for i = 1, 10 do t[i] = i * 2 end return #t, t[3]",
    "local function f(a, ...) return select('#', ...), a and #a or 0 end return f('x', 1, 2)",
    "local s = ('abc'):rep(3):gsub('b', '%%1') local x = 0x1F | 3 return s, x << 2, ~x, 7 \\ 2",
    "local co = coroutine.wrap(function(a) local b = coroutine.yield(a + 1) return b * 2 end)\n"
    "return co(1), co(5)",
    "local t = setmetatable({}, {__index = function(t, k) return k .. '!' end}) return t.x, #'a' .. 'b'",
    "while true do local x = {1, 2, {3, 4}, n = 5} if x[3][1] == 3 then break end end return 'done'",
};

static int writer(lua_State*, const void* p, size_t sz, void* ud) {
  static_cast<std::string*>(ud)->append(static_cast<const char*>(p), sz);
  return 0;
}

int main(int argc, char** argv) {
  if (argc > 1) {
    for (int i = 1; i < argc; i++) {
      std::ifstream in(argv[i], std::ios::binary);
      std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(data.data()), data.size());
    }
    return 0;
  }
  std::vector<std::string> inputs;
  lua_State* L = luaL_newstate();
  for (const char* seed : kSeeds) {
    inputs.push_back(seed);
    if (luaL_loadstring(L, seed) == 0) {
      std::string chunk;
      lua_dump(L, writer, &chunk);
      inputs.push_back(chunk);
    }
    lua_settop(L, 0);
  }
  lua_close(L);
  const char* r = std::getenv("TOLM_FUZZ_ROUNDS");
  const int rounds = r ? std::atoi(r) : 20000;
  const char* seedText = std::getenv("TOLM_FUZZ_SEED");
  std::mt19937 rng(seedText ? unsigned(std::atoi(seedText)) : 99u);
  for (int i = 0; i < rounds; i++) {
    std::string s = inputs[rng() % inputs.size()];
    int edits = 1 + int(rng() % 4);
    for (int e = 0; e < edits && !s.empty(); e++) {
      size_t at = rng() % s.size();
      switch (rng() % 3) {
        case 0: s[at] = char(rng()); break;
        case 1: s.erase(at, 1 + rng() % 4); break;
        default: s.insert(at, 1, char(rng())); break;
      }
    }
    if (const char* save = std::getenv("TOLM_FUZZ_SAVE")) {  // keep the input that is about to run
      std::ofstream(save, std::ios::binary) << s;
    }
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(s.data()), s.size());
  }
  std::printf("%d inputs run\n", rounds);
  return 0;
}
