-- Scans from the duplex feeder of the default source into a PDF file, one
-- page per transfer, and ends with status 0 when `want` pages were written.
--   tolm --script scan.lua <out.pdf> <native|memory> <want>
require("Tolm")
require("TWAIN")

local out, mech, want = arg[1], arg[2] or "native", tonumber(arg[3] or 3)

local function set(cap, value)
  if not TWAIN.setCapability(cap, value) then
    io.stderr:write("scan: capability ", cap, " refused, status ", TWAIN.getStatus(), "\n")
    Tolm.exit(3)
  end
end

TWAIN.init("Tolm tests", "Scan", "Duplex scan", 1, 0, "test")
assert(TWAIN.selectSource(0), "no source")
if not TWAIN.open() then
  io.stderr:write("scan: cannot open the source, status ", TWAIN.getStatus(), "\n")
  os.exit(3)
end
set(0x1002, true)   -- feeder
set(0x1013, true)   -- duplex
set(0x0001, want)   -- pages to transfer
set(0x0101, 1)      -- gray
set(0x1118, 100)
set(0x1119, 100)
set(0x0103, mech == "memory" and 2 or 0)

local pdf = Tolm.PDFCodec.new(out, "pdf", "Tolm scan test")
local pages, done = 0, false

local function finish(why, pending)
  if done then return end
  done = true
  if pending then
    TWAIN.pendingXfers(0x0007) -- drops whatever is left of the batch
  end
  TWAIN.close()
  pdf:delete()
  print(string.format("scan: %d pages, %s", pages, why))
  Tolm.exit(pages == want and 0 or 2)
end

local function memoryPage()
  local info = TWAIN.getImageInfo()
  if not info then return nil end
  local img = Tolm.Image.new()
  img:setImageData(info.ImageWidth, 0, info.SamplesPerPixel, info.BitsPerSample[1], "")
  local rows = math.max(1, math.floor(TWAIN.setupMemXfer().Preferred / info.ImageWidth))
  local rc
  repeat rc = TWAIN.xferImageMemory(img, rows) until rc ~= 0
  if rc ~= 6 then return nil end
  img:setResolution(math.floor(info.XResolution + 0.5))
  return img
end

function twainXferReady()
  repeat
    local img = mech == "memory" and memoryPage() or TWAIN.xferImageNative()
    if not img then return end -- the source says why with a close request
    pages = pages + 1
    local w, h = img:width() * 72 / 100, img:height() * 72 / 100
    pdf:beginPage(w, h)
    pdf:showImage(img, 0, 0, w, h, 80, "")
    img:delete()
  until TWAIN.pendingXfers() == 0
  finish("batch done")
end

function twainCloseRequest()
  finish("close request", true)
end

if not TWAIN.enable(false) then
  io.stderr:write("scan: cannot enable the source\n")
  Tolm.exit(4)
end
Tolm.run()
