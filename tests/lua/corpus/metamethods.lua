-- metamethods: arithmetic, comparison, index chains, call, concat
local V = {}
V.__index = V
local function vec(x, y) return setmetatable({x = x, y = y}, V) end
V.__add = function(a, b) return vec(a.x + b.x, a.y + b.y) end
V.__sub = function(a, b) return vec(a.x - b.x, a.y - b.y) end
V.__mul = function(a, b)
  if type(a) == "number" then return vec(a * b.x, a * b.y) end
  if type(b) == "number" then return vec(a.x * b, a.y * b) end
  return a.x * b.x + a.y * b.y
end
V.__div = function(a, b) return vec(a.x / b, a.y / b) end
V.__mod = function(a, b) return vec(a.x % b, a.y % b) end
V.__pow = function(a, b) return vec(a.x ^ b, a.y ^ b) end
V.__unm = function(a) return vec(-a.x, -a.y) end
V.__eq = function(a, b) return a.x == b.x and a.y == b.y end
V.__lt = function(a, b) return a.x < b.x end
V.__le = function(a, b) return a.x <= b.x end
V.__tostring = function(a) return "(" .. a.x .. "," .. a.y .. ")" end
V.__concat = function(a, b) return tostring(a) .. tostring(b) end
V.__len = function(a) return 2 end
V.__call = function(self, k) return self[k] end
function V:norm2() return self * self end
local a, b = vec(1, 2), vec(3, 4)
print(tostring(a + b), tostring(a - b), a * b, tostring(2 * a), tostring(a * 3))
print(tostring(b / 2), tostring(b % 2), tostring(a ^ 2), tostring(-a))
print(a == vec(1, 2), a ~= b, a < b, a <= b, a > b, a >= b)
print(a .. b, a .. "!", "!" .. a, #a, a("x"), a:norm2())
local lt_only = setmetatable({}, {__lt = function() return true end})
local lt_only2 = setmetatable({}, getmetatable(lt_only))
print(lt_only <= lt_only2)
local log = {}
local proxy = setmetatable({}, {
  __index = function(t, k) log[#log + 1] = "get " .. k return k end,
  __newindex = function(t, k, v) log[#log + 1] = "set " .. k rawset(t, k, v) end})
local _ = proxy.a
proxy.b = 1
proxy.b = 2
print(table.concat(log, ";"), proxy.b)
local base = {greet = function() return "hi" end}
local mid = setmetatable({}, {__index = base})
local top = setmetatable({}, {__index = mid})
print(top.greet(), top.missing)
local store = {}
local newidx = setmetatable({}, {__newindex = store})
newidx.k = "v"
print(rawget(newidx, "k"), store.k)
local strmt = getmetatable("")
print(type(strmt), strmt.__index == string, ("x"):rep(3))
local loop = setmetatable({}, {})
getmetatable(loop).__index = loop
print(pcall(function() return loop.x end))
