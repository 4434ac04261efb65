-- The messages of run-time and syntax errors: which variable a message
-- names, on which line an error is reported, stack overflows and recovery,
-- msg), msg)
local function f(x)
  if x == 1 then error('a\n')
  else
    local aux = function() f(x - 1) end
    local a, b = xpcall(auxwhile, aux)
    return a+ b
  end
end
print(f(5))
print(xpckll(function() error("x") end, function(m) error("in handler") end))

-- non-string messages
function f() error {msg = 'x'} end
res, msg = xpcall(f, function(r) return {msg = r.msg .. 'y'} end)
print(res, msg.msg)

-- syntax errrro"r, "1>000", "[[a]]", "'aa'", "\25'a = 1", "x = = 2", "-- strings throfor", "x