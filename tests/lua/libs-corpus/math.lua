-- math library (deterministic parts)
local function show(...)
  local t = {}
  for i = 1, select('#', ...) do t[#t + 1] = tostring((select(i, ...))) end
  print(table.concat(t, " | "))
end
show(math.abs(-3), math.abs(3.5), math.ceil(1.2), math.ceil(-1.2), math.floor(1.8), math.floor(-1.8))
show(math.max(1, 5, 3), math.min(4, -2, 7), math.max(2), pcall(math.max))
show(math.fmod(7, 3), math.fmod(-7, 3), math.mod == math.fmod, math.modf(3.7), math.modf(-3.7))
show(math.sqrt(16), math.pow(2, 10), math.exp(0), math.log(1), math.log10(1000))
show(math.frexp(8), math.ldexp(0.5, 4), math.deg(math.pi), math.rad(180))
show(math.huge, -math.huge, math.pi)
show(math.sin(0), math.cos(0), math.tan(0), math.asin(1), math.acos(1), math.atan(1))
show(math.atan2(1, 1), math.sinh(0), math.cosh(0), math.tanh(0))
show(pcall(math.floor, "x"), math.floor("2.5"))
math.randomseed(42)
local r = math.random()
show(r >= 0 and r < 1, math.random(1) == 1)
local inrange = true
for i = 1, 100 do local v = math.random(3, 7); if v < 3 or v > 7 or v ~= math.floor(v) then inrange = false end end
show(inrange)
show(pcall(math.random, 0))
show(pcall(math.random, 5, 1))
show(pcall(math.random, 1, 2, 3))
show(math.huge > 1e308, -0.0 == 0.0, 0/0 ~= 0/0)
show(1e15, 123456789012345, 2^63, -2^63)
