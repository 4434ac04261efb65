-- coroutines driven by the VM: yields from nested calls, errors, wrap, status
local function producer()
  return coroutine.create(function()
    for i = 1, 3 do
      local function deeper(x) coroutine.yield(x * 10) end
      deeper(i)
    end
    return "finished"
  end)
end
local co = producer()
while true do
  local ok, v = coroutine.resume(co)
  print(ok, v, coroutine.status(co))
  if coroutine.status(co) == "dead" then break end
end
print(coroutine.resume(co))
local co2 = coroutine.create(function(...)
  print("args", ...)
  local a, b = coroutine.yield(select("#", ...))
  print("resumed with", a, b)
  error({msg = "tbl"})
end)
print(coroutine.resume(co2, 1, nil, 3))
local ok, err = coroutine.resume(co2, "x", "y")
print(ok, type(err), err.msg)
print(pcall(coroutine.yield, 1))
local co3 = coroutine.create(function()
  local t = setmetatable({}, {__index = function(t, k) return coroutine.yield(k) end})
  return t.key
end)
print(coroutine.resume(co3))
local inner = coroutine.wrap(function()
  local co4 = coroutine.create(function() coroutine.yield("inner") return "inner done" end)
  print(coroutine.resume(co4))
  coroutine.yield("outer")
  print(coroutine.resume(co4))
  print(coroutine.resume(co4))
end)
print(inner())
inner()
print(coroutine.running())
local main = coroutine.create(function() return coroutine.running() ~= nil end)
print(coroutine.resume(main))
local gen = coroutine.wrap(function(a) local b = coroutine.yield(a + 1) local c = coroutine.yield(b * 2) return c end)
print(gen(1), gen(5), gen("last"))
print(pcall(gen))
local acc = {}
for v in coroutine.wrap(function() for i = 1, 5 do coroutine.yield(i * i) end end) do acc[#acc + 1] = v end
print(table.concat(acc, " "))
local co5 = coroutine.create(function() local x = nil; x() end)
print(coroutine.resume(co5))

-- coroutines resuming new coroutines, recursively: the nesting counts across
-- them and ends in an error, not in a native stack overflow
do
  local depth = 0
  local function dive()
    depth = depth + 1
    local ok, err = coroutine.resume(coroutine.create(dive))
    if not ok then error(err, 0) end
  end
  print(pcall(dive))
  print(depth)
  depth = 0
  local function wrapdive()
    depth = depth + 1
    coroutine.wrap(wrapdive)()
  end
  local ok, err = pcall(wrapdive)
  print(ok, depth, #err, string.sub(err, -40))
  -- the limit is the same after the overflow: nothing was left counted
  depth = 0
  print(pcall(dive))
  print(depth)
  -- a coroutine that calls through pcall and metamethods nests too
  depth = 0
  local mt = {}
  mt.__index = function(t, k)
    depth = depth + 1
    return coroutine.wrap(function() return setmetatable({}, mt).x end)()
  end
  ok, err = pcall(function() return setmetatable({}, mt).x end)
  print(ok, depth, string.sub(err, -40))
end
