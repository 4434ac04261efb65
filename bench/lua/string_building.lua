local N = tonumber(arg and arg[1]) or 100000
local parts = {}
for i = 1, N do parts[#parts + 1] = "item" .. i end
local s = table.concat(parts, ",")
local acc = ""
for i = 1, 2000 do acc = acc .. i end
local count = 0
for w in s:gmatch("item(%d+)") do count = count + 1 end
-- the library's builders: case mapping, repetition, substitution
local up = s:upper()
local low = up:lower()
local rep = ("ab,"):rep(N)
local sub, k = s:gsub("item", "<%0>")
local short = 0
for i = 1, N / 10 do short = short + #(("w" .. i):upper()) + #(("x"):rep(i % 50)) end
print(#s, #acc, count, s:sub(1, 20), string.format("%d-%s", N, "done"), #low, #rep, #sub, k, short)
