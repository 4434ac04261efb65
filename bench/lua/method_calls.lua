local Point = {}
Point.__index = Point
function Point.new(x, y) return setmetatable({x = x, y = y}, Point) end
function Point:add(o) return Point.new(self.x + o.x, self.y + o.y) end
function Point:scale(k) self.x = self.x * k; self.y = self.y * k; return self end
function Point:len2() return self.x * self.x + self.y * self.y end
local N = tonumber(arg and arg[1]) or 2000000
local p = Point.new(0, 0)
local d = Point.new(1, 2)
local total = 0
for i = 1, N do
  p = p:add(d)
  if i % 1000 == 0 then p:scale(0.5) end
  total = total + p:len2() % 7
end
print(p.x, p.y, total)
