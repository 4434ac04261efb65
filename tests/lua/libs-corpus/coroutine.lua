-- coroutines: statuses, values across resume/yield, errors, wrap
local function show(...)
  local t = {}
  for i = 1, select('#', ...) do t[#t + 1] = tostring((select(i, ...))) end
  print(table.concat(t, " | "))
end

local co = coroutine.create(function(a, b)
  show("start", a, b, coroutine.status(coroutine.running()))
  local c = coroutine.yield(a + b)
  show("got", c)
  local d, e = coroutine.yield(c * 2)
  show("got2", d, e)
  return "done", 99
end)
show(coroutine.status(co))
show(coroutine.resume(co, 1, 2))
show(coroutine.status(co))
show(coroutine.resume(co, 10))
show(coroutine.resume(co, "x", "y"))
show(coroutine.status(co))
show(coroutine.resume(co))
show(coroutine.running())

local errco = coroutine.create(function() error("inside") end)
show(coroutine.resume(errco))
show(coroutine.status(errco))
local errco2 = coroutine.create(function() error({}) end)
local ok, e = coroutine.resume(errco2)
show(ok, type(e))

-- normal status
local outer
outer = coroutine.create(function()
  local inner = coroutine.create(function() return coroutine.status(outer) end)
  return coroutine.resume(inner)
end)
show(coroutine.resume(outer))

-- resume running coroutine
local selfco
selfco = coroutine.create(function() return coroutine.resume(selfco) end)
show(coroutine.resume(selfco))

local gen = coroutine.wrap(function()
  for i = 1, 3 do coroutine.yield(i) end
  return "end"
end)
show(gen(), gen(), gen(), gen())
show(pcall(gen))
local werr = coroutine.wrap(function() error("wrapped error") end)
show(pcall(werr))
local werr2 = coroutine.wrap(function() error({1}) end)
local ok2, e2 = pcall(werr2)
show(ok2, type(e2))
show(pcall(coroutine.create, print))
show(pcall(coroutine.create, 1))
show(pcall(coroutine.resume, 1))
show(pcall(coroutine.status, nil))
show(pcall(coroutine.yield, 1))
show(pcall(coroutine.wrap(function() return pcall(coroutine.yield, 5) end)))

-- yield across pcall inside coroutine
local co3 = coroutine.create(function()
  local r = {pcall(function() return coroutine.yield("y") end)}
  return unpack(r)
end)
show(coroutine.resume(co3))
show(coroutine.resume(co3, "back"))

-- producer/consumer
local function producer()
  return coroutine.create(function()
    for _, w in ipairs({"alpha", "beta", "gamma"}) do coroutine.yield(w) end
  end)
end
local p = producer()
local words = {}
while true do
  local ok3, w = coroutine.resume(p)
  if not w then break end
  words[#words + 1] = w
end
show(table.concat(words, ","), coroutine.status(p))
