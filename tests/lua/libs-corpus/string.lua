-- string library: slicing, bytes, case, rep, find/match/gmatch/gsub, errors
local function show(...)
  local t = {}
  for i = 1, select('#', ...) do t[#t + 1] = tostring((select(i, ...))) end
  print(table.concat(t, " | "))
end

local s = "Hello, World"
show(s:len(), #s, s:upper(), s:lower(), s:reverse())
show(s:sub(1, 5), s:sub(-5), s:sub(-5, -2), s:sub(0), s:sub(8, 100), s:sub(5, 2), ("abc"):sub(-2))
show(s:sub(-100, 3), s:sub(3, -100), s:sub(2))
show(s:byte(), s:byte(2), s:byte(-1), s:byte(1, 3))
show(("").byte(""), select('#', ("").byte("")), ("abc"):byte(10))
show(string.char(72, 105), string.char(), #string.char(0, 1, 0))
show(pcall(string.char, 256))
show(pcall(string.char, -1))
show(pcall(string.char, "x"))
show(("x"):rep(0), ("x"):rep(-1), ("ab"):rep(3), ("a\0b"):rep(2) == "a\0ba\0b")
show(pcall(string.rep))
show(pcall(string.sub))
show(pcall(("x").sub, "abc", "q"))
show(string.len("a\0b"), ("a\0b"):upper() == "A\0B")
show(string.gfind == string.gmatch)

-- find, plain and pattern
show(("a.c"):find(".", 1, true), ("a.c"):find("."), ("abc"):find("b", -1), ("abc"):find("", 10))
show(("hello world"):find("o w"), ("hello"):find("l+"), ("hello"):find("xyz"))
show(("hello"):find("l", 1), ("hello"):find("l", 4), ("hello"):find("l", -2), ("hello"):find("h", -100))
show(("abc"):find("", 4), ("abc"):find("", 5), ("abc"):find("^b"), ("abc"):find("^a"))
show(("key = value"):find("(%w+)%s*=%s*(%w+)"))
show(("[test]"):find("[", 1, true), ("a+b"):find("+", 1, true))

-- match and captures
show(("key=val"):match("(%w+)=(%w+)"), ("  trim  "):match("^%s*(.-)%s*$"), ("abc"):match("()b()"))
show(("2024-01-15"):match("(%d+)-(%d+)-(%d+)"))
show(("hello"):match(".-"), ("hello"):match(".*"), ("hello"):match("l*"), ("hello"):match("x?h"))
show(("THE (quick) fox"):find("%((%a+)%)"), ("f(a(b)c)d"):match("%b()"))
show(("hello"):match("(h)(e)(l)(l)(o)"))
show(("aaa"):match("^(a-)a$"), ("  x"):match("^%s+()"))
show(("the quick brown"):match("%f[%a]%a+", 5), ("THE (quick) fox"):gsub("%f[%a]%a+", "W"))
show(("abcabc"):match("(abc)%1"), ("abab"):match("(a)(b)%1%2"))
show(string.match("hello", "(l)(l)", 1), string.match("x", "()"))
show(("\0abc\0"):match("%z(%a+)%z"), ("a1 b2"):match("%a%d%s%a%d"))
show(("x=1, y=2"):match("y=(%d)"), ("[[nested]]"):match("%[%[(.-)%]%]"))
show(("%d"):match("%%d"), ("a.b"):match("%."), ("a-b"):match("a%-b"))
show(("caps"):match("[%u]"), ("CAPS"):match("[%u]+"), ("x9_"):match("[%w_]+"), ("]"):match("[]]"))
show(("a^b"):match("[%^]"), ("a^b"):match("[b^]"), ("-"):match("[a-]"), ("z"):match("[^a-y]"))

-- gmatch
local words = {}
for w in ("one two  three"):gmatch("%a+") do words[#words + 1] = w end
show(table.concat(words, ","))
local pairs_ = {}
for k, v in ("a=1, b=2, c=3"):gmatch("(%w+)=(%w+)") do pairs_[#pairs_ + 1] = k .. ":" .. v end
show(table.concat(pairs_, ";"))
local empties = 0
for e in ("abc"):gmatch("x*") do empties = empties + 1 end
show(empties)
local pos = {}
for p in ("a,b,c"):gmatch("()") do pos[#pos + 1] = p end
show(table.concat(pos, " "))
for a in ("^a^a"):gmatch("^a") do show("anchor in gmatch is literal", a) end

-- gsub
show(("hello world"):gsub("o", "0", 1))
show(("abc"):gsub("%w", "%%%%"))
show(("hello world"):gsub("(%w+)", "<%1>"))
show(("hello world"):gsub("%w+", "%0 %0", 1))
show(("abc"):gsub("", "-"))
show(("abc"):gsub("^", ">"))
show(("hello"):gsub("l", {l = "L"}))
show(("hello"):gsub(".", {h = 1, l = false}))
show(pcall(string.gsub, "hello", ".", {e = true}))
show(("$x and $y"):gsub("%$(%w+)", {x = "ten"}))
show(("1 2 3"):gsub("%d", function(d) return d * 2 end))
show(("abc"):gsub("%w", function() end))
show(("abc"):gsub("b", "%"))
show(pcall(string.gsub, "abc", "(b)", "[%1%2]"))
show(pcall(string.gsub, "abc", "(b)", "%2"))
show(pcall(string.gsub, "abc", "b", true))
show(pcall(string.gsub, "abc", "b", function() return {} end))
show(("x"):gsub("x", "%a"))
show(("hello world from lua"):gsub("(%w+) (%w+)", "%2 %1"))
show(("abc"):gsub("b*", "-"))
show(("  a  b  "):gsub("^%s+", ""))
show(string.gsub("abc", "b", "x", 0), string.gsub("abc", "b", "x", -1))
show(string.gsub("hello", "", "", 3))

-- pattern errors
show(pcall(string.find, "a", "%"))
show(pcall(string.find, "a", "[a"))
show(pcall(string.find, "a", "(a"))
show(pcall(string.find, "a", "a)"))
show(pcall(string.find, "a", "%1"))
show(pcall(string.find, "a", "%b"))
show(pcall(string.find, "a", "%ba"))
show(pcall(string.find, "a", "%f"))
show(pcall(string.find, "a", "%fa"))
show(pcall(string.match, "a", string.rep("()", 33)))
show(pcall(string.match, "a", "[%"))
show(pcall(string.gsub, "alo", "(%a)", "%2"))
show(pcall(string.find, "a", "(()"))

-- string metatable and coercion
show(("5") + 1, "10" * "2", 10 .. 20, ("x"):rep(3, 4))
show(pcall(function() return ("x") + 1 end))
show(("abc").len == string.len, #"abc", ("%d"):format(3))

-- argument errors name the function, and method calls do not count self
show(pcall(function() return ("x"):rep() end))
show(pcall(function() return string.rep("x") end))
show(pcall(function() local s = string return s.sub() end))
show(pcall(function() return ("x"):bad() end))
show(pcall(function() return (nil):upper() end))
show(pcall(function() local t = {f = string.format} return t.f("%d", "z") end))
show(pcall(function() return string.char(1, 2, 300) end))
