-- package library: require, module, seeall, preload (paths from TOLM_IO_DIR)
local function show(...)
  local t = {}
  for i = 1, select('#', ...) do t[#t + 1] = tostring((select(i, ...))) end
  print(table.concat(t, " | "))
end
local dir = assert(os.getenv("TOLM_IO_DIR"))
package.path = dir .. "/?.lua;" .. dir .. "/?/init.lua"
package.cpath = dir .. "/?.nothing"

local function write(name, text)
  local f = assert(io.open(dir .. "/" .. name, "w"))
  f:write(text)
  f:close()
end
write("modone.lua", "local name = ... ; return {name = name, answer = 42}")
write("modtwo.lua", "module(..., package.seeall)\nvalue = 'two'\nfunction get() return value, _NAME, _PACKAGE end")
write("modthree.lua", "module('deep.three.mod')\nx = 3")
write("modnil.lua", "local x = 1")
write("moderr.lua", "error('failing module')")
write("modsyntax.lua", "return +")
write("modloop.lua", "require('modloop')")

local m1 = require("modone")
show(m1.name, m1.answer, require("modone") == m1, package.loaded.modone == m1)
local m2 = require("modtwo")
show(m2.get())
show(modtwo == m2, m2._M == m2)
require("modthree")
show(deep.three.mod.x, deep.three.mod._NAME, deep.three.mod._PACKAGE)
show(require("modnil"), package.loaded.modnil)
show(pcall(require, "moderr"))
show(pcall(require, "moderr"))
local ok, msg = pcall(require, "modsyntax")
show(ok, (msg:gsub(dir, "DIR")))
show(pcall(require, "modloop"))
local ok2, msg2 = pcall(require, "nosuchmodule")
show(ok2, (msg2:gsub(dir, "DIR")))
package.preload.virtual = function(name) return {virtual = name} end
show(require("virtual").virtual)
show(type(package.loaders), #package.loaders, type(package.loaded), package.loaded.string == string)
show(package.config == "/\n;\n?\n!\n-", package.loaded._G == _G)
show(pcall(module, "x"))
local saved = package.loaders
package.loaders = nil
show(pcall(require, "somethingelse"))
package.loaders = saved
local savedpath = package.path
package.path = nil
show(pcall(require, "somethingelse2"))
package.path = savedpath
package.preload = nil
show(pcall(require, "somethingelse3"))
package.preload = {}
local st = {}
package.seeall(st)
show(getmetatable(st).__index == _G)
show(pcall(module, "string.gsub"))
