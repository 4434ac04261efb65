-- base library: conversions, errors, select/unpack, metatables, environments
local function show(...)
  local t = {}
  for i = 1, select('#', ...) do t[#t + 1] = tostring((select(i, ...))) end
  print(table.concat(t, " | "))
end

show(tonumber("10"), tonumber("  0x1F  "), tonumber("1e3"), tonumber("abc"), tonumber(""))
show(tonumber("ff", 16), tonumber("8", 8), tonumber("777", 8), tonumber("zz", 36), tonumber(" 11 ", 2))
show(tonumber("1.5", 10), tonumber(12), tonumber("12", 10), tonumber("1 2"))
show(pcall(tonumber, "z", 37))
show(pcall(tonumber, "z", 1))
show(pcall(tonumber))
show(tostring(nil), tostring(true), tostring(false), tostring(12), tostring(1.5))
show(tostring(1e100), tostring(2^53), tostring(1/3), tostring(100000000000000))
show(type(nil), type(1), type("x"), type({}), type(print), type(true))
show(pcall(type))
show(select('#'), select('#', nil, nil), select(2, "a", "b", "c"), select(-1, "a", "b"))
show(pcall(select, 0, "a"))
show(pcall(select, -3, "a"))
show(unpack({1, 2, 3}))
show(unpack({1, 2, 3}, 2))
show(unpack({1, 2, 3}, 2, 5))
show(unpack({}, 1, 0))
show(rawequal("a", "a"), rawequal({}, {}), rawget({10}, 1), rawset({}, "k", 1).k)
show(pcall(rawset, {}, nil, 1))
show(pcall(error))
show(pcall(error, "plain", 0))
show(pcall(error, "with position"))
show(pcall(error, "level two", 2))
show(pcall(error, 42))
local ok, e = pcall(error, {code = 7})
show(ok, type(e), e.code)
show(pcall(error, nil))
show(select(2, pcall(assert, false)))
show(select(2, pcall(assert, nil, "custom message")))
show(assert(1, 2, 3))
show(pcall(assert))
show(xpcall(function() error("boom") end, function(m) return "handled: " .. m end))
show(xpcall(function() return 1, 2 end, print))

-- metatables
local mt = {__index = function(t, k) return k .. "!" end}
local t = setmetatable({}, mt)
show(t.foo, getmetatable(t) == mt)
mt.__metatable = "locked"
show(getmetatable(t), pcall(setmetatable, t, {}))
show(pcall(setmetatable, t))
show(pcall(setmetatable, 1, {}))
show(getmetatable("abc").__index == string)
local obj = setmetatable({}, {__tostring = function() return "custom obj" end})
show(tostring(obj))
show(pcall(tostring, setmetatable({}, {__tostring = function() return 1 end})))

-- next / pairs / ipairs
local arr = {10, 20, 30, nil, 50}
local n = 0
for i, v in ipairs(arr) do n = n + v end
show(n)
local keys = 0
for k, v in pairs({a = 1, b = 2, c = 3}) do keys = keys + v end
show(keys, next({}), pcall(next, {}, "nokey"))
show(type(pairs({})), select('#', pairs({})), select(3, ipairs({})))
show(pcall(ipairs))
show(pcall(pairs, nil))

-- environments
local function envf() return x_global_value end
setfenv(envf, {x_global_value = "from env"})
show(envf(), getfenv(envf).x_global_value)
show(getfenv(print) == _G, getfenv(0) == _G, getfenv() == _G)
show(pcall(getfenv, -1))
show(pcall(getfenv, 100))
show(pcall(setfenv, print, {}))
show(pcall(setfenv, 1, 2))

-- load family
local f = loadstring("return 1 + ...")
show(f(41))
show(loadstring("syntax error here"))
show(loadstring("x = ", "=mychunk"))
show(pcall(loadstring("error('in chunk')", "@file.lua")))
local parts = {"return ", "'pie", "ces'"}
local i = 0
show(load(function() i = i + 1; return parts[i] end)())
show(pcall(load, function() return {} end))
show(type(load(function() return nil end)))
show(pcall(load))
show(loadfile("/nonexistent/file.lua"))
show(pcall(dofile, "/nonexistent/file.lua"))

-- gc
show(type(collectgarbage("count")), collectgarbage("count") > 0, type(gcinfo()))
show(collectgarbage(), collectgarbage("collect"), collectgarbage("step", 0) ~= nil)
show(pcall(collectgarbage, "bogus"))
show(collectgarbage("setpause", 200), collectgarbage("setpause", 200))
show(collectgarbage("setstepmul", 200), collectgarbage("setstepmul", 200))

-- newproxy
local p1 = newproxy(true)
getmetatable(p1).__index = function() return "proxied" end
local p2 = newproxy(p1)
show(type(p1), p2.anything, getmetatable(p1) == getmetatable(p2), getmetatable(newproxy()))
show(pcall(newproxy, {}))
show(_VERSION, _G._G == _G)
print(1, nil, "x", true)
print()
-- (the standalone lua5.1 adds its traceback to errors raised in a reader: first line only)
local r1, r2 = load(function() error("reader boom") end)
show(r1, (r2:match("^[^\n]*")))
show(load(function() error({}) end) == nil)
local calls = 0
show(load(function() calls = calls + 1 if calls == 1 then return "return 5" end return "" end)())
show(pcall(load(function() return nil end, "=named")))
