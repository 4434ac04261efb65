-- io library, in the directory named by TOLM_IO_DIR
local function show(...)
  local t = {}
  for i = 1, select('#', ...) do t[#t + 1] = tostring((select(i, ...))) end
  print(table.concat(t, " | "))
end
local dir = assert(os.getenv("TOLM_IO_DIR"))
local path = dir .. "/data.txt"

local f = assert(io.open(path, "w"))
show(io.type(f), io.type(42), io.type(io.stdout))
show(f:write("line one\n", 2, " ", 3.5, "\n", "third line\n", "12.5 7 0x10 rest\n", "no newline at end"))
show(f:close(), io.type(f))
show(pcall(f.write, f, "x"))
show(pcall(f.close, f))
show(tostring(f))

f = assert(io.open(path, "r"))
show(f:read())
show(f:read("*l"))
show(f:read("*l", "*n", "*n"))
show(f:read("*n"))
show(f:read(4), f:read(0))
show(f:read("*a"))
show(f:read("*a"), f:read("*l"), f:read(1), f:read(0))
show(f:seek("set", 5), f:read(3), f:seek(), f:seek("cur", -3), f:read("*l"), f:seek("end"))
show(pcall(f.read, f, "*x"))
show(pcall(f.read, f, "x"))
show(pcall(f.seek, f, "bogus"))
f:close()

local n = 0
for l in io.lines(path) do n = n + 1 end
show(n)
f = assert(io.open(path))
local collected = {}
for l in f:lines() do collected[#collected + 1] = #l end
show(table.concat(collected, ","), io.type(f))
f:close()
show(pcall(io.lines, dir .. "/missing.txt"))
show(io.open(dir .. "/missing.txt"))

-- append mode
f = assert(io.open(path, "w")); f:write("a"); f:close()
f = assert(io.open(path, "a")); f:write("b"); f:close()
f = assert(io.open(path, "a+")); f:write("c"); f:seek("set"); show(f:read("*a")); f:close()

-- default input/output
local out = dir .. "/out.txt"
show(io.output() == io.stdout, io.input() == io.stdin)
io.output(out)
show(io.write("via io.write ", 42, "\n"))
show(io.type(io.output()))
io.close()
show(pcall(io.write, "x"))
io.output(io.stdout)
io.input(out)
show(io.read("*l"))
show(io.read())
io.close(io.input())
io.input(io.stdin)
show(pcall(io.close))
show(io.stdout:close())

-- lines keep long lines whole
f = assert(io.open(path, "w")); f:write(string.rep("x", 200), "\n", string.rep("y", 80), "\n", string.rep("z", 81)); f:close()
local lens = {}
for l in io.lines(path) do lens[#lens + 1] = #l end
show(table.concat(lens, ","))
f = assert(io.open(path, "w")); f:write("\n\n"); f:close()
f = assert(io.open(path)); show(f:read("*l"), f:read("*l"), f:read("*l")); f:close()

-- setvbuf, flush, tmpfile
f = assert(io.open(path, "w"))
show(f:setvbuf("no"), f:setvbuf("full", 1024), f:setvbuf("line"), pcall(f.setvbuf, f, "bad"))
show(f:flush(), io.flush())
f:close()
local tf = io.tmpfile()
tf:write("temp data"); tf:seek("set")
show(tf:read("*a")); tf:close()
show(pcall(io.open))
show(select("#", io.open(dir .. "/no/such/dir/x", "w")))
