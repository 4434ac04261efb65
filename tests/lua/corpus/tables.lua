-- tables, metatables, length, next
local t = {1, 2, 3, nil, 5, x = 1, ["y"] = 2, [10] = 10}
print(t[1], t[5], t.x, t.y, t[10], #{1, 2, 3})
t[0] = 0; t[-1] = -1; t[1.5] = 1.5; t[-0] = "zero"
print(t[0], t[-1], t[1.5], t[-0])
local u = {}
for i = 1, 100 do u[i] = i end
for i = 1, 50 do u[i] = nil end
print(u[100], u[51])
local n = 0
for k, v in pairs(u) do n = n + 1 end
print(n)
local mt = {}
mt.__index = function(t, k) return k .. "!" end
mt.__newindex = function(t, k, v) rawset(t, k, v * 2) end
mt.__call = function(self, a, b) return a + b end
mt.__add = function(a, b) return "add" end
mt.__eq = function(a, b) return true end
mt.__lt = function(a, b) return true end
mt.__le = function(a, b) return false end
mt.__concat = function(a, b) return "cat" end
mt.__len = function(a) return 42 end
mt.__unm = function(a) return "neg" end
mt.__tostring = function() return "OBJ" end
local o = setmetatable({}, mt)
local p = setmetatable({}, mt)
o.v = 21
print(o.foo, rawget(o, "v"), o(1, 2), o + 1, 1 + o, o == p, o < p, o <= p, o .. "x", "x" .. o, #o, -o)
print(tostring(o))
local chain = setmetatable({}, {__index = setmetatable({a = 1}, {__index = {b = 2}})})
print(chain.a, chain.b, chain.c)
print(rawequal(o, p), rawlen and "has rawlen" or "no rawlen")
local keys = {}
for k in pairs({a = 1, b = 2, c = 3}) do keys[#keys + 1] = k end
table.sort(keys)
print(table.concat(keys))
local arr = {5, 3, 8, 1}
table.sort(arr, function(a, b) return a > b end)
print(table.concat(arr, " "))
table.insert(arr, 7); table.insert(arr, 1, 0)
print(table.concat(arr, " "), table.remove(arr), table.remove(arr, 1), #arr)
print(next({}), type(next({1})))
local big = {}
for i = 1, 1000 do big["k" .. i] = i end
local sum = 0
for k, v in pairs(big) do sum = sum + v end
print(sum)
print(#{n = 1}, #{1, 2, nil}, #{nil, nil, 3})
print(unpack({1, 2, 3}))
local cnt = setmetatable({}, {__index = function(t, k) return 0 end})
cnt.x = cnt.x + 1
print(cnt.x, cnt.y)
