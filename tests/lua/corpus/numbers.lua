-- number to text through tostring and concatenation
local vals = {0, -0, 1, -1, 7, 10, 99999999999999, -99999999999999, 1e14, -1e14, 123456789012345, 2^53, 0.5, -3.25, 1e100, 1/0, -1/0, 4294967295, -2147483648, 1e13 + 1}
for _, v in ipairs(vals) do io.write(tostring(v), " ", v .. "", "\n") end
