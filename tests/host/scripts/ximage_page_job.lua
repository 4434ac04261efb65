-- A whole page: load a skewed scan, straighten it, make it bilevel, read its
-- barcode and save it as a Group 4 TIFF. Arguments: input file, output file.
-- Prints one line per barcode and returns the first code and the count.
local Tolm = Tolm or require("Tolm")
local input, output = ...
input = input or arg[1]
output = output or arg[2]

local page = Tolm.Image.new()
assert(page:setImage(input), "cannot read " .. tostring(input))
page:deskew(10, 10)
page:optimize2bw()
page:colorspace("bw")
local codes = page:bardecode("code128")
local tiff = assert(page:writeImageMem("tif", 75, "g4"), "cannot encode the page")
local f = assert(io.open(output, "wb"))
f:write(tiff)
f:close()
for _, c in ipairs(codes) do
  print(c.type, c.code)
end
return codes[1] and codes[1].code, #codes
