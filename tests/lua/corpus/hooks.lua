-- debug hooks and introspection driven by the core
local lines = {}
local function f(n)
  local s = 0
  for i = 1, n do
    s = s + i
  end
  return s
end
debug.sethook(function(ev, line) lines[#lines + 1] = line end, "l")
f(3)
debug.sethook()
print(table.concat(lines, " "))
local calls = {}
debug.sethook(function(ev) calls[#calls + 1] = ev end, "cr")
f(1)
debug.sethook()
print(table.concat(calls, " "))
local count = 0
debug.sethook(function() count = count + 1 end, "", 10)
f(100)
debug.sethook()
print(count > 0)
local function where() local info = debug.getinfo(2, "Sl") return info.short_src, info.currentline, info.what end
print(where())
local function named() return debug.getinfo(1, "n").name end
print(named())
local t = {m = function() return debug.getinfo(1, "n").namewhat end}
print(t.m(), t:m())
local function locals() local a, b = 1, "two" local names = {} local i = 1
  while true do local n, v = debug.getlocal(1, i) if not n then break end names[#names + 1] = n .. "=" .. (type(v) == "table" and "table" or tostring(v)) i = i + 1 end
  return table.concat(names, ",") end
print(locals())
local up1, up2 = 5, 6
local function useup() return up1 + up2 end
print(debug.getupvalue(useup, 1), debug.getupvalue(useup, 2))
debug.setupvalue(useup, 1, 100)
print(useup())
print(debug.traceback("msg", 1):match("^msg\nstack traceback:") ~= nil)
local function tailer() return debug.getinfo(1, "S").what end
local function calltail() return tailer() end
print(calltail())
print(debug.getinfo(print).what, debug.getinfo(1, "S").what)
