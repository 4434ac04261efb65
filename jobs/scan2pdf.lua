-- scan2pdf: pages from a scanner straight into a PDF, each page treated
-- and written as it arrives. Without --source the virtual scanner of our
-- source manager delivers generated pages, so the job runs without
-- hardware; --source names a scanner (a SANE device) by its product name.
local lib = ...
local Tolm = require("Tolm")

local job = {
  summary = "scanned pages to one PDF",
  usage = "OUT.pdf [--source NAME] [--gray|--bw|--color] [--dpi N] [--duplex]"
          .. " [--deskew] [--drop-empty] [--hocr DIR]",
  help = [[
  OUT.pdf        the PDF to write (written only when the scan succeeded)
  --source NAME  the scanner, by product name; the default source otherwise
                 (the virtual scanner, which makes generated pages)
  --gray         scan in gray (the default); --color in colour; --bw scans in
                 gray and stores black and white pages as CCITT Group 4
  --dpi N        resolution, 300 unless given
  --duplex       both sides of each sheet
  --deskew, --drop-empty, --hocr DIR   as for doc2pdf (N counts scanned pages)
]],
}

-- Capabilities and their values as the scanner protocol numbers them.
local CAP_XFERCOUNT, ICAP_PIXELTYPE, ICAP_XFERMECH = 0x0001, 0x0101, 0x0103
local CAP_FEEDERENABLED, CAP_FEEDERLOADED, CAP_DUPLEXENABLED = 0x1002, 0x1003, 0x1013
local ICAP_XRESOLUTION, ICAP_YRESOLUTION = 0x1118, 0x1119
local TWPT_GRAY, TWPT_RGB, TWSX_NATIVE = 1, 2, 0
local MSG_RESET = 0x0007
local TWRC_CANCEL = 3
local USER_SELECT = 3 -- selectSource: the source named in TOLM_DSM_SOURCE

-- The longest time without a page before the scan counts as stuck.
local PAGE_TIMEOUT = 120

function job.run(ctx)
  local flags = {gray = true, color = true, duplex = true}
  for k in pairs(lib.pageFlags) do flags[k] = true end
  local values = {source = true, dpi = true}
  for k in pairs(lib.pageValues) do values[k] = true end
  local opts, names = ctx:parse({flags = flags, values = values})
  if #names ~= 1 then ctx:usageError("needs the output PDF and nothing else") end
  local output = names[1]
  if not output:lower():match("%.pdf$") then
    ctx:usageError("the output, " .. output .. ", must be a PDF (ending in .pdf)")
  end
  local modes = (opts.gray and 1 or 0) + (opts.color and 1 or 0) + (opts.bw and 1 or 0)
  if modes > 1 then ctx:usageError("--gray, --bw and --color exclude each other") end
  local dpi = 300
  if opts.dpi then
    dpi = tonumber(opts.dpi)
    if not dpi or dpi ~= math.floor(dpi) or dpi < 50 or dpi > 1200 then
      ctx:usageError("--dpi takes a whole number from 50 to 1200")
    end
  end
  if opts.hocr and not lib.isDirectory(opts.hocr) then
    ctx:fail("hOCR folder " .. opts.hocr .. " not found")
  end

  local pdf = ctx:newPDF(output)
  local ok = pcall(require, "TWAIN")
  local TWAIN = rawget(_G, "TWAIN")
  if not ok or type(TWAIN) ~= "table" then
    ctx:fail("scanner access is not available in this build")
  end

  TWAIN.init("Tolm", "Jobs", "scan2pdf", 1, 0, "")
  -- A failure or a signal ends the scanner session too, from where it
  -- stands: "transfer" while a page is being taken, "ready" while pages
  -- wait for it.
  local session
  ctx:atCleanup(function()
    local pending = session == "transfer" and TWAIN.pendingXfers() or (session == "ready" and 1 or 0)
    if pending ~= 0 then TWAIN.pendingXfers(MSG_RESET) end
    session = nil
    TWAIN.close()
  end)
  if opts.source then
    local Posix = rawget(_G, "Posix")
    if not (Posix and Posix.setenv) then ctx:fail("cannot choose a source in this build") end
    Posix.setenv("TOLM_DSM_SOURCE", opts.source)
    if not TWAIN.selectSource(USER_SELECT) then ctx:fail("no scanner named " .. opts.source) end
  elseif not TWAIN.selectSource(0) then
    ctx:fail("no scanner found")
  end
  if not TWAIN.open() then
    ctx:fail("cannot open the scanner (status " .. tostring(TWAIN.getStatus()) .. ")")
  end
  local function set(cap, value, what, required)
    if not TWAIN.setCapability(cap, value) and required then
      ctx:fail("the scanner refuses " .. what)
    end
  end
  set(CAP_FEEDERENABLED, true, "its feeder", false)
  set(CAP_DUPLEXENABLED, opts.duplex and true or false, "duplex scanning", opts.duplex)
  set(CAP_XFERCOUNT, -1, "a whole batch", false)
  set(ICAP_PIXELTYPE, opts.color and TWPT_RGB or TWPT_GRAY, opts.color and "colour" or "gray", true)
  set(ICAP_XRESOLUTION, dpi, dpi .. " dpi", true)
  set(ICAP_YRESOLUTION, dpi, dpi .. " dpi", true)
  set(ICAP_XFERMECH, TWSX_NATIVE, "native transfers", true)

  local n, written, lastPage = 0, 0, os.time()

  local function finish(status)
    TWAIN.close()
    if status == lib.EX_OK then
      if written == 0 then
        ctx:fail(n > 0 and "every page was empty: nothing to write" or "no page was scanned")
      end
      ctx:finishWriter(pdf)
      ctx:say(string.format("wrote %s: %d page%s", output, written, written == 1 and "" or "s"))
    end
    ctx:finish(status)
  end

  local function pages(k) return tostring(k) .. (k == 1 and " page" or " pages") end

  -- The pages scanned before a cancel are kept; a cancel before the first
  -- page writes nothing.
  local function cancelled()
    TWAIN.pendingXfers(MSG_RESET)
    session = nil
    if n == 0 then
      ctx:fail("the scan was cancelled before the first page: nothing written")
    end
    ctx:say("the scan was cancelled after ", pages(n))
    finish(lib.EX_OK)
  end

  _G.twainXferReady = ctx:callback(function()
    session = "ready"
    repeat
      local img = TWAIN.xferImageNative()
      session = "transfer"
      if not img or img:width() <= 0 then
        if img then img:delete() end
        if TWAIN.getRC() == TWRC_CANCEL then return cancelled() end
        ctx:fail("the scanner delivered no page (status " .. tostring(TWAIN.getStatus()) .. ")")
      end
      n = n + 1
      lastPage = os.time()
      local page, notes, empty = lib.treatPage(img, opts)
      if empty then
        notes[#notes + 1] = "empty, dropped"
      else
        local hocr = opts.hocr and string.format("%s/page-%d.hocr", opts.hocr, n)
        notes[#notes + 1] = lib.writePage(pdf, page, hocr, output)
        written = written + 1
      end
      page:delete()
      ctx:progress(n, nil, #notes > 0 and table.concat(notes, ", ") or "as it is")
      local pending = TWAIN.pendingXfers()
      session = pending and pending ~= 0 and "ready" or nil
    until not pending or pending == 0
    -- Paper still in the feeder: the scanner ended the batch before the
    -- stack did (a jam, a fault).
    local known, loaded = TWAIN.getCapability(CAP_FEEDERLOADED)
    if known and loaded == true then
      ctx:say("the scanner stopped after ", pages(n))
    end
    finish(lib.EX_OK)
  end)

  -- The source ends the session itself: a feeder error, a jam, a cancel.
  _G.twainCloseRequest = ctx:callback(function()
    TWAIN.pendingXfers(MSG_RESET)
    session = nil
    if n > 0 then
      ctx:say("the scanner stopped after ", pages(n))
      finish(lib.EX_OK)
    else
      ctx:fail("the scanner stopped before the first page")
    end
  end)

  local function watchdog()
    if ctx.finished then return end
    if os.time() - lastPage > PAGE_TIMEOUT then
      ctx:callback(function()
        ctx:fail("no page from the scanner for " .. PAGE_TIMEOUT .. " seconds")
      end)()
    else
      Tolm.addTimer(watchdog, 5)
    end
  end
  Tolm.addTimer(watchdog, 5)

  if not TWAIN.enable(false) then
    ctx:fail("cannot start the scanner (status " .. tostring(TWAIN.getStatus()) .. ")")
  end
  return lib.WAIT
end

return job
