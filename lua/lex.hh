// Lexical analyser.
#pragma once

#include "lua/object.hh"
#include "lua/zio.hh"

#define FIRST_RESERVED 257
#define LUA_MINBUFFER 32

// The order is fixed: token codes appear in messages and tests.
enum RESERVED {
  // terminal symbols denoted by reserved words
  TK_AND = FIRST_RESERVED, TK_BREAK, TK_DO, TK_ELSE, TK_ELSEIF, TK_END, TK_FALSE, TK_FOR,
  TK_FUNCTION, TK_IF, TK_IN, TK_LOCAL, TK_NIL, TK_NOT, TK_OR, TK_REPEAT, TK_RETURN, TK_THEN,
  TK_TRUE, TK_UNTIL, TK_WHILE,
  // other terminal symbols
  TK_CONCAT, TK_DOTS, TK_EQ, TK_GE, TK_LE, TK_NE, TK_SHL, TK_SHR, TK_XOR, TK_NE2,
  TK_NUMBER, TK_NAME, TK_STRING, TK_EOS
};

#define NUM_RESERVED (static_cast<int>(TK_WHILE - FIRST_RESERVED + 1))

union SemInfo {
  lua_Number r;
  TString* ts;
};

struct Token {
  int token;
  SemInfo seminfo;
};

struct FuncState;

struct LexState {
  int current;  // current character (charint)
  int linenumber;  // input line counter
  int lastline;  // line of last token `consumed'
  Token t;  // current token
  Token lookahead;  // look ahead token
  FuncState* fs;  // `FuncState' is private to the parser
  lua_State* L;
  ZIO* z;  // input stream
  Mbuffer* buff;  // buffer for tokens
  TString* source;  // current source name
  char decpoint;  // locale decimal point
};

void luaX_init(lua_State* L);
void luaX_setinput(lua_State* L, LexState* ls, ZIO* z, TString* source);
TString* luaX_newstring(LexState* ls, const char* str, size_t l);
void luaX_next(LexState* ls);
void luaX_lookahead(LexState* ls);
[[noreturn]] void luaX_lexerror(LexState* ls, const char* msg, int token);
[[noreturn]] void luaX_syntaxerror(LexState* ls, const char* s);
const char* luaX_token2str(LexState* ls, int token);
