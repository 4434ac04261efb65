// The "Tolm" script module: its classes, the coder functions, the run loop,
// timers and keyed callbacks.
#pragma once

#include <string>

struct lua_State;

// Opens the module: the global table Tolm with the seven classes and the
// module functions. One result, the table.
int luaopen_tolm(lua_State* L);

// Script entries of the module functions. Those taking lua_State* push
// their own results and read their optional trailing arguments from the
// stack.
namespace tolm {

int unpredictPNG(lua_State* L, const std::string& data, int rowBytes, int predictor, int step,
                 int bits);
int predictPNG(lua_State* L, const std::string& data, int width, int filter);
int zlibDecode(lua_State* L, const std::string& data);
int zlibEncode(lua_State* L, const std::string& data);
int ccittDecode(lua_State* L, const std::string& data, int width, int height);
int lzwDecode(lua_State* L, const std::string& data);

void finit();
void run();
void runLoop(double seconds);
void exit(int code);

int addTimer(lua_State* L);
int addCallback(lua_State* L, int key);
void removeCallback(int key);

// Timers and callbacks that hold a script function and have not ended yet;
// for tests of their release.
int liveHandles();

} // namespace tolm
