-- strings through the VM: concatenation, comparison, coercion, long strings
local parts = {}
for i = 1, 20 do parts[#parts + 1] = i .. ":" .. i * 1.5 end
print(table.concat(parts, ","))
print("a" .. 1 .. 2.5 .. -3 .. 1e20 .. 2^53)
print([[long
string]], [==[with ]] inside]==], #[[
skipfirst]])
print("tab\tnew\\line", 'single "dq"', "\097\098", "\\x41")
print(("abc"):len(), ("%d"):format(7), #"\0\0")
local s = ""
for i = 1, 100 do s = s .. "x" end
print(#s, s == string.rep("x", 100))
print("a" < "aa", "" < "a", "b" > "abc", "A" <= "A", "10" < "9")
print(10 == "10", 0.1 + 0.2 == 0.3, 0.1 + 0.2, 1e300 * 1e10, -(0/0) ~= -(0/0))
print(tostring(1e15), tostring(1e14), tostring(-1e-5))

-- counts convert as C ints: 2^31 and more wrap around instead of asking for
-- gigabytes
print(#string.rep("x", 2^31), #string.rep("ab", 2^32 + 3), #string.rep("x", -2^31), #string.rep("x", 2^53))
print(#string.rep("x", 2^32 - 1), #string.rep("x", -1))
print(string.gsub("aaaa", "a", "b", 2^32 + 1))
print(string.gsub("aaaa", "a", "b", 2^31))
print(string.gsub("aaaa", "a", "b", nil))
print(pcall(string.char, 2^32 + 65))
print(string.byte("abc", 2^32 + 1, 2^32 + 3))
print(string.sub("abcdef", 2^32 + 2, 2^32 + 3), string.sub("abcdef", -2^40, 2))
print(select(2^32 + 2, "a", "b", "c"))
print(pcall(select, 2^31, "a"))
print(unpack({1, 2, 3}, 2^32 + 1, 2^32 + 2))
print(unpack({}, 2^31 - 3, 2^31 - 1))
print(table.concat({1, 2, 3}, ",", 2^32 + 1, 2^32 + 3))
print(math.ldexp(1, 2^32 + 3), tostring(1):rep(2^32 + 2))
print(("abc"):upper():lower():rep(3, nil), string.upper(("x"):rep(3000)):sub(1, 5))
