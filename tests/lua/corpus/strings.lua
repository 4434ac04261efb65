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
