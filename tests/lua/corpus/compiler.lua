-- constructs that exercise the code generator: jumps, conditions in value
-- context, register reuse, constant dedup, assignments with conflicts
local function id(...) return ... end
local a, b, c = 1, nil, false
local x = a and b or c
local y = not a or b and c
local z = (a == 1) and "one" or "other"
local w = a < 2 and b == nil
local v = not (a and b)
local u = a ~= nil and (b ~= nil or c ~= nil) or nil
print(x, y, z, w, v, u)
if not (a and b) then print("nand") end
if a and not b or c then print("mixed") else print("no") end
if (a or b) and (c or a) then print("both") end
local t = {id(1, 2), id(3, 4), n = id(5), [id(6)] = 7, id(8, 9)}
print(#t, t.n, t[6], t[3], t[4])
local t2 = {id(), nil, 3}
print(t2[3])
local t3 = {..., "end"}
print(#t3)
local p = {}
p.q = {}
p.q.r = {}
function p.q.r.f(s) return s end
function p.q.r:m(s) return self == p.q.r, s end
print(p.q.r.f("f"), p.q.r:m("m"))
local i, j = 1, 2
i, j = j, i
local arr = {10, 20, 30}
local k = 1
k, arr[k] = 2, 99
arr[k], k = 77, 3
print(i, j, k, arr[1], arr[2], arr[3])
local s = 0
for n = 10, 1, -3 do s = s + n end
for n = 1, 3 do for m = 1, 3 do if m == n then break end s = s + m * n end end
print(s)
local function classify(n)
  if n < 0 then return "neg"
  elseif n == 0 then return "zero"
  elseif n < 10 then return "small"
  elseif n < 100 then return "medium"
  else return "large" end
end
print(classify(-1), classify(0), classify(5), classify(50), classify(500))
local count = 0
while count < 10 and not (count == 7) do count = count + 1 end
print(count)
local r = 0
repeat r = r + 1 until r >= 5 or r * r > 10
print(r)
local function varsel(...)
  local n = select("#", ...)
  local first = ...
  local a1, a2 = ...
  return n, first, a2, (...)
end
print(varsel(4, 5, 6))
print((id(1, 2)))
local g1 = 1; local g2 = 1.0; local g3 = "1"; local g4 = 1
print(g1 == g2, g3, g4 + g2)
local big = 2^31 + 0.5
print(big, -big, 1e308 * 10, -(1e308 * 10))
local nested = function() return function() return function() return a end end end
print(nested()()())
local e = {}
e[1], e[2], e[3] = id(1, 2, 3)
print(e[1], e[2], e[3])
local q1, q2, q3 = id(1), id(2, 3)
print(q1, q2, q3)
local str = "a" .. "b" .. ("c" .. "d") .. 1 + 2 .. "e"
print(str)
local cmp = {1 < 2, 1 > 2, 1 <= 1, 1 >= 2, "a" == "a", nil == false}
print(cmp[1], cmp[2], cmp[3], cmp[4], cmp[5], cmp[6])
local neg = -a - -2 - - -3
print(neg, - -a, not not a, #"abc" + #{1, 2})
do
  local a = a
  a = a + 1
  print(a)
end
print(a)
local function deep(n) if n > 0 then return deep(n - 1) end return "bottom" end
print(deep(10))
return
