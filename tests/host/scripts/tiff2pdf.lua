-- Every page of a TIFF file as a page of a PDF file, at the image's size,
-- with the page's hOCR text as an invisible text layer.
-- arguments: input.tif output.pdf hocr-pattern (a %d takes the page number)
local Tolm = require("Tolm")
local input, output, pattern = arg[1], arg[2], arg[3]

local image = Tolm.Image.new()
local pages = Tolm.Codec.readImage(input, image, "", 0)
if pages < 1 then
  io.stderr:write("cannot read ", input, "\n")
  Tolm.exit(2)
  return
end
local pdf = Tolm.PDFCodec.new(output, "pdf", "tiff2pdf")
for page = 1, pages do
  if page > 1 then
    assert(Tolm.Codec.readImage(input, image, "", page - 1) == 1)
  end
  local rx, ry = image:resolution()
  if rx <= 0 then rx, ry = 72, 72 end
  local w, h = image:width() * 72 / rx, image:height() * 72 / ry
  pdf:beginPage(w, h)
  pdf:showImage(image, 0, 0, w, h, 75, "")
  local f = pattern and io.open(string.format(pattern, page), "rb")
  if f then
    assert(pdf:hocr2pdf(f:read("*a"), rx, ry))
    f:close()
  end
end
pdf:delete()
image:delete()
