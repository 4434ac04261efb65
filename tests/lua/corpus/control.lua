-- control flow, closures, varargs, recursion
local function fib(n) if n < 2 then return n end return fib(n - 1) + fib(n - 2) end
print(fib(20))
local s = 0
for i = 1, 10 do s = s + i end
for i = 10, 1, -2 do s = s + i end
for i = 1, 0 do s = s + 1000 end
for i = 1.0, 2.0, 0.25 do s = s + i end
print(s)
local i = 0
while true do i = i + 1 if i > 5 then break end end
repeat i = i - 1 local done = i < 2 until done
print(i)
local fns = {}
for k = 1, 3 do fns[k] = function() return k * 10 end end
print(fns[1](), fns[2](), fns[3]())
local function counter()
  local n = 0
  return function() n = n + 1 return n end, function() return n end
end
local inc, get = counter()
inc() inc()
print(get())
local function va(...)
  local n = select("#", ...)
  local t = {...}
  return n, #t, ...
end
print(va())
print(va(1, nil, 3))
print(va(nil, nil))
local function old(...) return arg and arg.n end
print(old(1, 2, 3))
local function tail(n) if n == 0 then return "done" end return tail(n - 1) end
print(tail(100000))
local x = 1
do local x = 2 print(x) end
print(x)
if x == 1 then print("one") elseif x == 2 then print("two") else print("other") end
local r = {}
for k, v in pairs({10, 20, 30}) do r[#r + 1] = k .. "=" .. v end
print(table.concat(r, " "))
for k, v in ipairs({"a", "b", nil, "d"}) do io.write(k, v, " ") end
print()
local a, b = 1, 2
a, b = b, a
print(a, b)
local t = {1, 2}
local j = 1
j, t[j] = j + 1, 20
print(j, t[1], t[2])
print(select(-1, 1, 2, 3))
local function multi() return 1, 2 end
local tt = {multi(), multi()}
print(#tt, (multi()))
print(1 and 2, nil and 1, false or "x", nil or false, 1 or error("no"))
print(not not nil, 3 > 2 and "yes" or "no")
goto_free = 0
for i = 1, 3 do
  for j = 1, 3 do
    if j == 2 then break end
    goto_free = goto_free + 1
  end
end
print(goto_free)
