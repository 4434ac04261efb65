local function bottomUp(depth)
  if depth == 0 then return {} end
  depth = depth - 1
  return {bottomUp(depth), bottomUp(depth)}
end
local function check(tree)
  if tree[1] then return 1 + check(tree[1]) + check(tree[2]) end
  return 1
end
local N = tonumber(arg and arg[1]) or 14
local maxdepth = math.max(6, N)
local stretch = maxdepth + 1
io.write("stretch tree of depth ", stretch, "\t check: ", check(bottomUp(stretch)), "\n")
local longlived = bottomUp(maxdepth)
for depth = 4, maxdepth, 2 do
  local iters = 2 ^ (maxdepth - depth + 4)
  local c = 0
  for i = 1, iters do c = c + check(bottomUp(depth)) end
  io.write(iters, "\t trees of depth ", depth, "\t check: ", c, "\n")
end
io.write("long lived tree of depth ", maxdepth, "\t check: ", check(longlived), "\n")
