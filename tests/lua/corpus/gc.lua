-- garbage collection, weak tables, finalisers via newproxy
local weak = setmetatable({}, {__mode = "k"})
local weakv = setmetatable({}, {__mode = "v"})
do
  local k = {}
  weak[k] = 1
  weakv[1] = {}
  weakv[2] = "str"
end
collectgarbage()
local n = 0
for k in pairs(weak) do n = n + 1 end
print(n, weakv[1], weakv[2])
local order = {}
local holder = {}
for i = 1, 3 do
  local p = newproxy(true)
  getmetatable(p).__gc = function() order[#order + 1] = i end
  holder[i] = p
end
holder = nil
collectgarbage()
collectgarbage()
print(table.concat(order, ","))
local before = collectgarbage("count")
do
  local t = {}
  for i = 1, 10000 do t[i] = {i} end
end
collectgarbage()
print(collectgarbage("count") < before + 100)
local s = {}
for i = 1, 2000 do s[i] = tostring(i) .. "x" end
s = nil
collectgarbage("step")
print(type(collectgarbage("count")))
print(collectgarbage("setpause", 100), collectgarbage("setstepmul", 200))
