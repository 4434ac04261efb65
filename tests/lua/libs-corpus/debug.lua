-- debug library (deterministic parts)
local function show(...)
  local t = {}
  for i = 1, select('#', ...) do t[#t + 1] = tostring((select(i, ...))) end
  print(table.concat(t, " | "))
end
local function f(a, b)
  local c = a + b
  local info = debug.getinfo(1, "nSl")
  return info.currentline, info.short_src, info.what, info.linedefined, info.lastlinedefined, info.source
end
show(f(1, 2))
local info = debug.getinfo(type)
show(info.what, info.short_src, info.source, info.currentline, info.linedefined, info.nups)
show(debug.getinfo(100), pcall(debug.getinfo, "x"))
local function locals(x, y)
  local z = x * y
  local names = {}
  local i = 1
  while true do
    local name, value = debug.getlocal(1, i)
    if not name then break end
    names[#names + 1] = name .. "=" .. tostring(type(value) == "table" and "tbl" or value)
    i = i + 1
  end
  return table.concat(names, ",")
end
show(locals(3, 4))
show(pcall(debug.getlocal, 50, 1))
local function setl() local v = 1; debug.setlocal(1, 1, 99); return v end
show(setl())
local up1, up2 = 10, 20
local function uses() return up1 + up2 end
show(debug.getupvalue(uses, 1), debug.getupvalue(uses, 2))
show(debug.setupvalue(uses, 1, 100), uses(), debug.getupvalue(uses, 3), debug.getupvalue(print, 1))
local t = {}
show(debug.getmetatable(t), debug.setmetatable(t, {__index = {k = "v"}}), t.k)
show(debug.getmetatable("x").__index == string, type(debug.getregistry()))
local function envf() return 1 end
debug.setfenv(envf, {})
show(next(debug.getfenv(envf)), pcall(debug.setfenv, envf, 1))
local lines = {}
debug.sethook(function(ev, line) lines[#lines + 1] = ev end, "c")
local function hooked() return 1 end
hooked()
debug.sethook()
show(#lines > 0, lines[1], debug.gethook())
local count = 0
debug.sethook(function(ev) count = count + 1 end, "", 1)
for i = 1, 10 do end
debug.sethook()
show(count > 0)
local function lvl3() return debug.traceback("msg", 1) end
local function lvl2() return lvl3() end
show(lvl2())
show(debug.traceback({}) ~= nil, type(debug.traceback()), debug.traceback("x", 50))
local function rec(n) if n == 0 then return debug.traceback() end return (rec(n - 1)) end
local tb = rec(30)
local _, nlines = tb:gsub("\n", "")
show(nlines, tb:find("...", 1, true) ~= nil)
show(pcall(debug.getupvalue, 1, 1))
