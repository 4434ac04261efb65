-- Writes the seeds of lua_fuzz_chunk: the interpreter's corpus scripts
-- (tests/lua/corpus) compiled to precompiled chunks, so the fuzzer starts
-- inside the chunk loader. Run with the interpreter built from this tree,
-- since chunks are only read by the interpreter that wrote them:
--   build/release/lua/tlua fuzz/make-chunk-seeds.lua fuzz/corpus/lua_fuzz_chunk tests/lua/corpus/*.lua
-- (fuzz/make-seeds does this when it finds a built tlua).
local to = arg[1]
assert(to and arg[2], 'usage: make-chunk-seeds.lua OUT_DIR SCRIPT.lua...')
for i = 2, #arg do
  local path = arg[i]
  local name = path:match('([^/]*)%.lua$')
  local f = assert(io.open(path, 'rb'))
  local text = f:read('*a')
  f:close()
  -- named by the file name, not the path, so the seeds do not depend on
  -- where they were made
  local fn = assert(loadstring(text, '@' .. name .. '.lua'))
  local out = assert(io.open(to .. '/' .. name .. '.bcz', 'wb'))
  out:write(string.dump(fn))
  out:close()
end
