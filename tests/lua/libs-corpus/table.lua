-- table library
local function show(...)
  local t = {}
  for i = 1, select('#', ...) do t[#t + 1] = tostring((select(i, ...))) end
  print(table.concat(t, " | "))
end
local function dump(t) local o = {} for i = 1, #t do o[i] = tostring(t[i]) end return "{" .. table.concat(o, ",") .. "}" end

local t = {1, 2, 3}
table.insert(t, 4)
table.insert(t, 1, 0)
table.insert(t, 3, 1.5)
show(dump(t), #t, table.getn(t))
show(table.remove(t), table.remove(t, 1), dump(t))
show(table.remove({}), table.remove({}, 1), select('#', table.remove({})))
show(pcall(table.insert, t))
show(pcall(table.insert, t, 1, 2, 3))
show(pcall(table.insert, nil, 1))
show(pcall(table.setn, t, 1))
local g = {}
table.insert(g, 5, "five")
show(g[5], #g)
show(table.concat({1, 2, 3}), table.concat({1, 2, 3}, ", "), table.concat({"a", "b", "c"}, "-", 2))
show(table.concat({"a", "b", "c"}, "", 2, 3), table.concat({}, "x"), table.concat({1, 2}, "", 3))
show(table.concat({1, "x", 2.5}, " "))
show(table.maxn({}), table.maxn({1, 2, nil, 4}), table.maxn({[1.5] = 1, [10] = 2, x = 3}))
local fe = {}
table.foreachi({"a", "b"}, function(i, v) fe[#fe + 1] = i .. v end)
show(table.concat(fe, ","), table.foreachi({1, 2, 3}, function(i, v) if v == 2 then return "stop" .. i end end))
local sum = 0
table.foreach({x = 1, y = 2}, function(k, v) sum = sum + v end)
show(sum, table.foreach({a = 1}, function(k, v) return k .. v end))

-- sort
local nums = {5, 3, 8, 1, 9, 2, 7, 4, 6, 0}
table.sort(nums)
show(dump(nums))
table.sort(nums, function(a, b) return a > b end)
show(dump(nums))
local words = {"pear", "apple", "fig", "banana", "cherry"}
table.sort(words)
show(dump(words))
table.sort(words, function(a, b) return #a < #b end)
show(#words[1], #words[5])
local big = {}
for i = 1, 200 do big[i] = (i * 7919) % 211 end
table.sort(big)
local sorted = true
for i = 2, #big do if big[i - 1] > big[i] then sorted = false end end
show(sorted, big[1], big[200])
local calls = 0
local seq = {3, 1, 2, 5, 4, 9, 7, 8, 6}
table.sort(seq, function(a, b) calls = calls + 1; return a < b end)
show(dump(seq), calls)
show(pcall(table.sort, {1, "x", 2}))
show(pcall(table.sort, {3, 2, 1}, 1))
show(pcall(table.sort, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}, function(a, b) return true end))
local one = {1}
table.sort(one)
table.sort({})
show(dump(one))
local mixed = {3, 1, 2}
table.sort(mixed, nil)
show(dump(mixed))
