// Instruction listing of compiled functions.
#pragma once

#include <cstdio>

#include "lua/object.hh"

// Lists f and its nested functions; full adds constants, locals and upvalues.
void luaU_print(FILE* out, const Proto* f, int full);
