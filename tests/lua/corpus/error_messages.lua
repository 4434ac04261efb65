-- The messages of run-time and syntax errors: which variable a message
-- names, on which line an error is reported, stack overflows and recovery,
-- errors in handlers, syntax and nesting limits.
local function doit(s)
  local f, err = loadstring(s)
  if f == nil then return "(load) " .. err end
  local st, msg = pcall(f)
  return (not st) and msg
end

local programs = {
  "a=1; bbbb=2; a=math.sin(3)+bbbb(3)",
  "a=1; local a,bbbb=2,3; a = math.sin(1) and bbbb(3)",
  "a={}; do local a=1 end a:bbbb(3)",
  "local a={}; a.bbbb(3)",
  "a={13}; local bbbb=1; a[bbbb](3)",
  "aaa=nil; aaa.bbb:ddd(9)",
  "local aaa={bbb=1}; aaa.bbb:ddd(9)",
  "local aaa={bbb={}}; aaa.bbb:ddd(9)",
  "local aaa={bbb={ddd=next}}; aaa.bbb:ddd(nil)",
  "local t = {b = 1}; t.b:m()",
  "local n = 1; n:m()",
  "undefinedglobal:m()",
  "local up = 'x'; (function() up:nomethod() end)()",
  "local up = 1; (function() up:m() end)()",
  "local t = {}; t.a.b:m()",
  "local t = {b = {}}; t.b.c.d:m()",
  "local s = 'x'; s:nomethod()",
  "local t = setmetatable({}, {__index = function() return 1 end}); t.x:m()",
  "local a,b,c; (function () a = b+1 end)()",
  "b=1; local aaa='a'; x=aaa+b",
  "aaa={}; x=3/aaa",
  "aaa='2'; b=nil;x=aaa*b",
  "aaa={}; x=-aaa",
  "aaa={}; x=(aaa or aaa)+(aaa and aaa)",
  "aaa={}; (aaa or aaa)()",
  "aaa={}; aaa.x.y = 1",
  "local t = {}; t[1][2] = 3",
  "aaa=9\nrepeat until 3==3\nlocal x=math.sin(math.cos(3))\n" ..
    "if math.sin(1) == x then return math.sin(1) end\n" ..
    "local a,b = 1, {\n  {x='a'..'b'..'c', y='b', z=x},\n  {1,2,3,4,5} or 3+3<=3+3,\n" ..
    "  3+1>3+1,\n  {d = x and aaa[x or y]}}",
  "local x,y = {},1\nif math.sin(1) == 0 then return 3 end\nx.a()",
  "prefix = nil\ninsert = nil\nwhile 1 do\n  local a\n  if nil then break end\n  insert(prefix, a)\nend",
  "  return math.sin(\"a\")",
  "collectgarbage(\"nooption\")",
  "x = print .. \"a\"",
  "getmetatable(io.stdin).__gc()",
  "local a = {}; a = a .. 'x'",
  "return #5",
  "for i = 1, 'x' do end",
  "local t = setmetatable({}, {__call = 1}); t()",
  "string.rep()",
  "('x'):rep()",
  "string.sub('x', {})",
  "return ('x'):bad()",
  "math.floor('a')",
  "setmetatable({}, 1)",
  "I = loadstring('a=9+'); a=3; return a, I",
  "a = ",
  "a = 4+nil",
}
for i, p in ipairs(programs) do print(i, doit(p)) end
print(a, I)

-- line numbers of errors
local function lineerror(s)
  local err, msg = pcall(loadstring(s))
  local line = string.match(msg, ":(%d+):")
  return line and line + 0
end
print(lineerror "local a\n for i=1,'a' do \n print(i) \n end")
print(lineerror "\n local a \n for k,v in 3 \n do \n print(k) \n end")
print(lineerror "\n\n for k,v in \n 3 \n do \n print(k) \n end")
print(lineerror "function a.x.y ()\na=a+1\nend")
local p = "function g() f() end\nfunction f(x) error('a', X) end\ng()\n"
for _, level in ipairs {3, 0, 1, 2} do
  X = level
  print(level, lineerror(p))
end

-- repeated stack overflows: the stack recovers each time
C = 0
local l = debug.getinfo(1, "l").currentline; function y() C = C + 1; y() end
for i = 1, 3 do
  local m = doit("y()")
  print(i, string.find(m, "^.-:%d+: stack overflow") ~= nil, C > 1000)
  C = 0
end

-- the traceback of a stack overflow lists the recursive frames
C = 0
local l1
local function g()
  l1 = debug.getinfo(1, "l").currentline; C = C + 1; g()
end
local _, stackmsg = xpcall(g, debug.traceback)
local stack = {}
for line in string.gmatch(stackmsg, "[^\n]*") do
  local curr = string.match(line, ":(%d+):")
  if curr then table.insert(stack, tonumber(curr)) end
end
local i = 1
while stack[i] ~= l1 and i <= #stack do i = i + 1 end
print(#stack > 15, stack[1] == l1, i)
print(string.match(stackmsg, "^[^\n]*"))

-- errors in error handling
local res, msg = xpcall(error, error)
print(res, type(msg), msg)
local function f(x)
  if x == 0 then error('a\n')
  else
    local aux = function() f(x - 1) end
    local a, b = xpcall(aux, aux)
    return a, b
  end
end
print(f(3))
print(xpcall(function() error("x") end, function(m) error("in handler") end))

-- non-string messages
function f() error {msg = 'x'} end
res, msg = xpcall(f, function(r) return {msg = r.msg .. 'y'} end)
print(res, msg.msg)

-- syntax errors: message, line and the token near which they stand
local syntax = {
  "syntax error", "1.000", "[[a]]", "'aa'", "\255a = 1", "x = = 1", "for", "x = 'abc",
  "x = [[abc", "x = 1 1", "return 1e", "f(\n)", "local function f() end end", "break",
  "x = '\\300'", "a.b:c = 1", "local 1 = 2", "x = {1, 2", "if x then", "return return",
  "goto = 1", "x = 1 ..", "--[[ unfinished", "x = \"a\nb\"", "a = 3 ... 4",
}
for _, s in ipairs(syntax) do print(doit(s)) end

-- nesting limits of the compiler
local function testrep(init, rep)
  local s = "local a; " .. init .. string.rep(rep, 400)
  local a, b = loadstring(s)
  print(a, b)
end
testrep("a=", "{")
testrep("a=", "(")
testrep("", "a(")
testrep("", "do ")
testrep("", "while a do ")
testrep("", "if a then else ")
testrep("", "function foo () ")
testrep("a=", "a..")
testrep("a=", "a^")

-- other limits: upvalues and local variables
local s = "function foo ()\n  local "
for j = 1, 70 do s = s .. "a" .. j .. ", " end
s = s .. "b\n"
for j = 1, 70 do s = s .. "function foo" .. j .. " ()\n a" .. j .. "=3\n" end
print(select(2, loadstring(s)))
s = "\nfunction foo ()\n  local "
for j = 1, 300 do s = s .. "a" .. j .. ", " end
s = s .. "b\n"
print(select(2, loadstring(s)))
