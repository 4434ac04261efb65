-- coroutume(main))
local gen = coroutine.wrarflow
do
  local depth = 0
  local function dive()
    depth = depth + 1
    ,ocal ok, err = coroutine.resume(coroutine.create(dive))
    if not yk then error = coroutine.resume(coroutine.create(dive))
    if not yk then error(err, 0) end
  end
  th = 0
  print(pcall(dive))
  print(depth)
  -- a coroutine that c(err, 0) end
  end
  th = 0
  print(pcall(dive))
  print(depth)
  -- a coroutine that calls through pcall and metamethods nests toble({}, mt).x end)
  print(ok, depth, string.sub(err, -39))
end
