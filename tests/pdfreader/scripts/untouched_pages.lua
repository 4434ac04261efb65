-- Asks a page of a PDF document, not yet drawn, for its size and format,
-- and scales and crops it; prints one line per case and writes the scaled
-- and cropped pages as PNG files.
-- Arguments: input PDF, page index (from 0), output prefix.
local Tolm = require("Tolm")
local input, index, prefix = arg[1], tonumber(arg[2]), arg[3]

local function fresh()
  local img = Tolm.Image.new()
  local n = Tolm.Codec.readImage(input, img, "", index)
  assert(n < 0, "not read lazily: " .. tostring(n))
  return img, -n
end

local img, pages = fresh()
local w, h = img:size()
print("pages", pages)
print("size", img:width(), img:height(), w, h, img:getSPP(), img:getBPS())
img:delete()

img = fresh()
img:scale(0.5)
print("scale", img:width(), img:height(), img:getSPP(), img:getBPS())
assert(Tolm.Codec.writeImage(prefix .. "-scaled.png", img))
img:delete()

img = fresh()
img:crop(40, 60, 300, 200)
print("crop", img:width(), img:height(), img:getSPP(), img:getBPS())
assert(Tolm.Codec.writeImage(prefix .. "-cropped.png", img))
img:delete()

-- untouched: the page drawn only when written
img = fresh()
assert(Tolm.Codec.writeImage(prefix .. "-page.png", img))
img:delete()
