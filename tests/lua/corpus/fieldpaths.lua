-- field reads through class tables, new fields, removed and re-added fields
local Base = {}
Base.__index = Base
function Base.kind() return "base" end
local Derived = setmetatable({}, Base)
Derived.__index = Derived
function Derived.name() return "derived" end
local o = setmetatable({own = 1}, Derived)
print(o.own, o:name(), o:kind(), o.missing, rawget(o, "name"))

-- the class gets its method after the lookup already missed once
local C = {}
C.__index = C
local c = setmetatable({}, C)
print(c.late)
C.late = "now"
print(c.late, rawget(c, "late"))

-- a metatable without __index, then one added later
local mt = {}
local p = setmetatable({}, mt)
print(p.x)
mt.__index = function(_, k) return "fn:" .. tostring(k) end
print(p.x, p[1], p[true])
mt.__index = {x = "tbl"}
print(p.x, p.y)

-- numeric keys through a class table
local arr = setmetatable({}, {__index = {10, 20, 30}})
print(arr[1], arr[3], arr[4], arr[1.5])

-- new fields on plain tables, with growth and collisions
local t = {}
for i = 1, 200 do t["k" .. i] = i end
local sum = 0
for i = 1, 200 do sum = sum + t["k" .. i] end
print(sum)
local f = {a = 1}
f.b = 2; f.c = 3; f.d = 4; f.e = 5
print(f.a, f.b, f.c, f.d, f.e)

-- a field set to nil and stored again, before and after a collection
local g = {x = 1, y = 2}
g.x = nil
g.x = 3
g.y = nil
collectgarbage()
g.y = 4
g.z = 5
local keys = 0
for _ in pairs(g) do keys = keys + 1 end
print(g.x, g.y, g.z, keys)

-- stores that must not take the plain-table path
local log = {}
local w = setmetatable({}, {__newindex = function(tt, k, v) log[#log + 1] = k; rawset(tt, k, v) end})
w.a = 1; w.a = 2; w.b = 3
print(table.concat(log, ","), w.a, w.b)
print(pcall(function() local q = {} q[nil] = 1 end))
print(pcall(function() local q = {} q[0 / 0] = 1 end))
print(pcall(function() local q = nil; q.x = 1 end))

-- numeric reads from tables with no or one hash slot
local e, one, str1 = {}, {[7] = "seven"}, {k = "v"}
print(e[1], e[0], e[-1], e[1.5], e[0 / 0], e[2 ^ 40])
print(one[7], one[8], one[7.5], str1[1], str1.k)
local grown = {}
grown[2.5] = "x"
print(grown[2.5], grown[2], grown[3])
