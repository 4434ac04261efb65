-- upvalues closed by break, repeat scopes, nesting, shared cells
local fs = {}
for i = 1, 5 do
  local j = i * 2
  fs[#fs + 1] = function() j = j + 1 return j end
  if i == 3 then break end
end
print(fs[1](), fs[1](), fs[2](), fs[3]())
local k = 0
local gs = {}
repeat
  local v = k
  gs[#gs + 1] = function() return v end
  k = k + 1
until v >= 3
print(#gs, gs[1](), gs[4]())
local function outer()
  local a = 1
  local function mid()
    local b = 2
    return function() a = a + 1; b = b + 1; return a + b end
  end
  return mid(), function() return a end
end
local f, geta = outer()
print(f(), f(), geta())
local shared
do
  local cell = 0
  shared = {inc = function() cell = cell + 1 end, get = function() return cell end}
end
shared.inc(); shared.inc()
print(shared.get())
local w = 0
while w < 3 do
  local captured = w
  fs[w] = function() return captured end
  w = w + 1
end
print(fs[0](), fs[1](), fs[2]())
local function recursive(n) return n == 0 and 0 or n + recursive(n - 1) end
print(recursive(50))
local obj = {n = 0}
function obj:add(x) self.n = self.n + x return self end
obj:add(1):add(2):add(3)
print(obj.n)
local Class = {}
Class.__index = Class
function Class.new(v) return setmetatable({v = v}, Class) end
function Class:get() return self.v end
local Sub = setmetatable({}, {__index = Class})
Sub.__index = Sub
function Sub.new(v) local o = Class.new(v) return setmetatable(o, Sub) end
function Sub:get() return "sub" .. Class.get(self) end
print(Class.new(5):get(), Sub.new(6):get())
local a, b, c = (function(...) return ... end)(1, 2)
print(a, b, c)
local t = {}
t.x, t.y = 1
print(t.x, t.y)
local i = 1
local arr = {}
i, arr[i] = i + 1, "v"
print(i, arr[1], arr[2])
