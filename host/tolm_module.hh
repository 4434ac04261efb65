// The "Tolm" script module: its classes, the coder functions, the run loop,
// timers and keyed callbacks.
#pragma once

#include <string>

#include "bind/LuaWrapper.hh"

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
int zlibDecode(lua_State* L, const std::string& data, int windowBits, double limit);
int zlibEncode(lua_State* L, const std::string& data);
int ccittDecode(lua_State* L, const std::string& data, int width, int height, int K,
                bool byteAlign, bool blackIs1, bool endOfBlock);
int lzwDecode(lua_State* L, const std::string& data, bool earlyChange);

void finit();
void run();
void runLoop(double seconds);
void exit(int code);

void addTimer(LuaWrapper::LuaFunction f, double seconds);
void addCallback(int key, LuaWrapper::LuaFunction f);
void removeCallback(int key);

} // namespace tolm
