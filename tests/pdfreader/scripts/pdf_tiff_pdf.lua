-- Turns the pages of a PDF document into a multi-page TIFF file and the
-- TIFF pages back into a PDF document; prints the two page counts.
-- Arguments: input PDF, output TIFF, output PDF.
local Tolm = require("Tolm")
local input, tiff, pdf = arg[1], arg[2], arg[3]

local page = Tolm.Image.new()
local pages = Tolm.Codec.readImage(input, page, "", 0)
if pages >= 0 then error("not a PDF document: " .. input) end
pages = -pages
local out = Tolm.Codec.new(tiff)
for i = 0, pages - 1 do
  if i > 0 then assert(Tolm.Codec.readImage(input, page, "", i) == -pages) end
  assert(out:writeMultiImage(page, 80, "", i), "page " .. i .. " not written")
end
out:delete()

local doc = Tolm.PDFCodec.new(pdf, "pdf", "tolm")
local back = 0
while true do
  local image = Tolm.Image.new()
  if Tolm.Codec.readImage(tiff, image, "", back) == 0 then break end
  local rx, ry = image:resolution()
  local w, h = image:width() * 72 / rx, image:height() * 72 / ry
  doc:beginPage(w, h)
  doc:showImage(image, 0, 0, w, h, 80, "flate")
  back = back + 1
end
doc:delete()
print(pages, back)
