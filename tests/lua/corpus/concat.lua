-- concatenation of strings and numbers, runs of operands, metamethods
local big, neg0 = 2 ^ 53, -0
print(1 .. 2, "a" .. 1.5 .. "b", 0 .. "", "" .. 0, neg0 .. "|", 1e100 .. "|" .. -1e-7)
print(big .. "", 1 / 0 .. "", -1 / 0 .. "", 123456789012345 .. "", 0.1 .. 3)
local n = 42
local s = "x" .. n .. "y" .. n .. n
print(s, type(n), n)
local parts = {}
for i = -3, 3 do parts[#parts + 1] = i .. ":" .. i / 2 end
print(table.concat(parts, ","))
local acc = ""
for i = 1, 50 do acc = acc .. i end
print(#acc, acc:sub(-10))
local mt = {__concat = function(a, b)
  return "(" .. type(a) .. ":" .. tostring(type(a) == "table" and "t" or a) .. "," ..
         type(b) .. ":" .. tostring(type(b) == "table" and "t" or b) .. ")"
end}
local t = setmetatable({}, mt)
print(t .. 1, 1 .. t, "s" .. t, t .. "s", 1 .. 2 .. t, t .. 1 .. 2, 3 .. t .. 4)
print(pcall(function() return 1 .. {} end))
print(pcall(function() return "a" .. nil end))
print(pcall(function() local b = true return 1 .. 2 .. b end))
local a, b, c = 1, 2.5, -3
print(a .. b .. c .. "|" .. a .. b .. c .. "|" .. a .. b .. c .. "|" .. a .. b .. c .. 1e300 .. 0.1)
print("" .. a .. "" .. b, a .. "" .. "", c .. t)
