-- What every job shares: its command line, its messages, its output files
-- (written through PDFCodec's file writer: beside the final name, put in
-- place only when complete) and the page treatments of the document jobs.
-- The name starts with "_": it is no job of its own.
local Tolm = require("Tolm")
pcall(require, "Posix")
local Posix = rawget(_G, "Posix")

local lib = {}

lib.EX_OK, lib.EX_FAIL, lib.EX_USAGE = 0, 1, 2
-- Returned by a job's run when it ends later, from the run loop.
lib.WAIT = {}

------------------------------------------------------------------------
-- Errors a job raises on purpose: no chunk position, a status of their own.

local JobError = {}
JobError.__index = JobError
JobError.__tostring = function(e) return e.message end

-- `alone`: a usage mistake said without the usage lines after it.
local function raise(message, status, alone)
  error(setmetatable({message = message, status = status, alone = alone}, JobError), 0)
end

local Context = {}
Context.__index = Context

function lib.newContext(name, job, words)
  return setmetatable({name = name, job = job, words = words, outputs = {}, closers = {},
                       finished = false}, Context)
end

function Context:fail(message) raise(message, lib.EX_FAIL) end

function Context:usageError(message) raise(message, lib.EX_USAGE) end

function Context:say(...)
  io.stderr:write("tolm ", self.name, ": ", ...)
  io.stderr:write("\n")
end

-- count is nil while it is not known (pages coming from a scanner). A job
-- asked to stop stops here, at the latest, once the page is done.
function Context:progress(n, count, what)
  Tolm.interruptionPoint()
  self:say(count and string.format("page %d of %d: ", n, count) or string.format("page %d: ", n),
           what)
end

function Context:usage(out)
  out:write("usage: tolm ", self.name, " ", self.job.usage, "\n")
  if self.job.help then out:write(self.job.help) end
end

------------------------------------------------------------------------
-- Command line: options may stand anywhere among the other words; "--"
-- ends them. spec.flags and spec.values list the option names (without the
-- dashes) that take no value and one value.

function Context:parse(spec)
  local opts, rest = {}, {}
  local words, i, onlyNames = self.words, 1, false
  while i <= #words do
    local w = words[i]
    if onlyNames or w == "-" or w:sub(1, 1) ~= "-" then
      rest[#rest + 1] = w
    elseif w == "--" then
      onlyNames = true
    else
      local key, value = w:match("^%-%-([a-z0-9-]+)=(.*)$")
      key = key or w:match("^%-%-([a-z0-9-]+)$")
      if key and spec.values and spec.values[key] then
        if value == nil then
          i = i + 1
          value = words[i]
          if value == nil then self:usageError("option --" .. key .. " needs a value") end
        end
        opts[key] = value
      elseif key and spec.flags and spec.flags[key] and value == nil then
        opts[key] = true
      else
        self:usageError("unknown option " .. w)
      end
    end
    i = i + 1
  end
  return opts, rest
end

------------------------------------------------------------------------
-- Files.

local function isDirectory(path)
  local st = Posix and Posix.stat and Posix.stat(path)
  return st and st.isdir or false
end
lib.isDirectory = isDirectory

-- The file a name stands for, whatever the spelling: the device and inode
-- of what it names, links followed; nil when nothing is there.
local function identity(path)
  local st = Posix and Posix.stat and Posix.stat(path)
  if not (st and st.dev and st.ino) then return nil end
  return string.format("%.0f:%.0f", st.dev, st.ino)
end

-- Whether a file or folder stands under `path`.
function lib.exists(path)
  if Posix and Posix.stat then return Posix.stat(path) ~= nil end
  local f = io.open(path, "rb")
  if f then f:close() end
  return f ~= nil
end

-- Whether the name is in use: a file or folder, or a link, whether it
-- leads anywhere or not. Renaming a name onto itself changes nothing and
-- succeeds for whatever stands under it. (Where it cannot succeed, in a
-- folder that cannot be written, the file writer refuses the link anyway.)
function lib.taken(path)
  return lib.exists(path) or os.rename(path, path) ~= nil
end

-- Whether `output` names one of `inputs` (a "./" path, an absolute one, a
-- symbolic or a hard link to it).
function lib.isInput(output, inputs)
  local id = identity(output)
  for _, input in ipairs(inputs) do
    if input == output or (id and identity(input) == id) then return true end
  end
  return false
end

-- Refuses, before anything is written, an output that is also an input.
function Context:checkOutput(output, inputs)
  if lib.isInput(output, inputs) then
    raise("the output " .. output .. " is also an input", lib.EX_USAGE, true)
  end
end

-- An input must exist and be a readable file.
function Context:checkInput(path)
  if isDirectory(path) then self:fail("cannot read " .. path .. ": it is a directory") end
  local f, err = io.open(path, "rb")
  if not f then
    self:fail("cannot read " .. path .. ": " .. (err:match(": ([^:]*)$") or err))
  end
  f:close()
end

-- Why a writer could not be opened on `final`, in the system's words where
-- they can be had: the file's own refusal when it is there, else the
-- folder's refusal of a new file (asked with a name of its own, removed at
-- once), else the writer's message.
local function whyNotWritable(final, message)
  local folder = final:match("^(.*)/[^/]*$") or "."
  if folder == "" then folder = "/" end
  if not lib.exists(folder) then return "No such file or directory" end
  local function reason(err) return err and (err:match(": ([^:]*)$") or err) end
  if lib.exists(final) then
    local f, err = io.open(final, "r+b") -- neither truncates nor creates
    if f then f:close() else return reason(err) end
  else
    local probe = string.format("%s/.%s.tolm-%d", folder, final:match("[^/]*$"), os.time())
    if not lib.taken(probe) then
      local f, err = io.open(probe, "wb")
      if f then
        f:close()
        os.remove(probe)
      else
        return reason(err)
      end
    end
  end
  return tostring(message)
end

-- A PDF writer for the output `final`. The document is made beside it and
-- takes its place only through finishWriter (a link is followed, the
-- owner and permissions of a file there are kept, a pipe or device is
-- written directly); after a failure or a stop, cleanup gives it up.
function Context:newPDF(final)
  if final == "" then self:usageError("empty output name") end
  if isDirectory(final) then self:fail("cannot write " .. final .. ": it is a directory") end
  if not lib.exists(final) and lib.taken(final) then
    -- not written through: the file would appear wherever the link points
    self:fail("cannot write " .. final .. ": it is a link to a file that does not exist")
  end
  local ok, pdf = pcall(Tolm.PDFCodec.new, final, "pdf", "tolm " .. self.name)
  if not ok then self:fail("cannot write " .. final .. ": " .. whyNotWritable(final, pdf)) end
  self.outputs[#self.outputs + 1] = {final = final, pdf = pdf}
  return pdf
end

local function outputOf(self, pdf)
  for _, o in ipairs(self.outputs) do
    if o.pdf == pdf then return o end
  end
end

-- Finishes a document and puts it under its final name. A job asked to
-- stop puts nothing more in place.
function Context:finishWriter(pdf)
  Tolm.interruptionPoint()
  local o = outputOf(self, pdf)
  -- from here on the document is whole: a stop that interrupts the next
  -- lines finds it closing, and keepWhole finishes it
  o.closing = true
  if not pdf:close() then self:fail("writing " .. o.final .. " failed") end
  o.done = true
end

-- An output not wanted after all (a document without pages): given up,
-- whatever stood under its name stays.
function Context:drop(pdf)
  local o = outputOf(self, pdf)
  pdf:discard()
  o.done, o.dropped = true, true
end

-- `close` runs when the job fails or is interrupted (a scanner session to end).
function Context:atCleanup(close)
  self.closers[#self.closers + 1] = close
end

-- After a failure: nothing half written stays behind.
function Context:cleanup()
  for i = #self.closers, 1, -1 do pcall(self.closers[i]) end
  self.closers = {}
  for _, o in ipairs(self.outputs) do
    if not o.done then pcall(o.pdf.discard, o.pdf) end
  end
end

------------------------------------------------------------------------
-- Running.

local function messageOf(err)
  if getmetatable(err) == JobError then return err.message, err.status, err.alone end
  local text = tostring(err):match("^[^\n]*")
  return text, lib.EX_FAIL
end

-- After a failure or a signal: the names of every output in place. A
-- document whose closing was cut short by a stop is finished first.
function Context:keepWhole()
  local kept = {}
  for _, o in ipairs(self.outputs) do
    if o.closing and not o.done then
      local ok, whole = pcall(o.pdf.close, o.pdf)
      o.done = ok and whole
    end
    if o.done and not o.dropped then kept[#kept + 1] = o.final end
  end
  return kept
end

-- A job stopped by SIGINT, SIGTERM or SIGHUP: whole outputs are kept, the
-- others removed; one line says what was written; the status is 128 plus
-- the signal's number, as for a process the signal ended.
function Context:interrupted(signal)
  local kept = self:keepWhole()
  -- the line first: should ending the scanner session hang, the process
  -- is ended from the side without another one
  if #kept == 0 then
    self:say("interrupted: nothing written")
  else
    self:say("interrupted: wrote ", table.concat(kept, ", "), ", nothing else")
  end
  self:cleanup()
  return 128 + signal
end

-- Runs f(...) protected; a failure is reported in one line, the outputs
-- are removed, and the status comes back. A caught signal interrupts f.
function Context:protect(f, ...)
  local results = {Tolm.interruptible(f, ...)}
  if results[1] then return unpack(results, 2) end
  if results[3] then return self:interrupted(results[3]) end
  local message, status, alone = messageOf(results[2])
  -- what was complete before the failure stays, and is named
  local kept = self:keepWhole()
  self:cleanup()
  self:say(message)
  if #kept > 0 then self:say("wrote ", table.concat(kept, ", "), ", nothing else") end
  if status == lib.EX_USAGE and not alone then
    io.stderr:write("usage: tolm ", self.name, " ", self.job.usage, "\n")
  end
  return status
end

function Context:start()
  for _, w in ipairs(self.words) do
    if w == "--" then break end
    if w == "--help" or w == "-h" then
      self:usage(io.stdout)
      return lib.EX_OK
    end
  end
  -- A signal stops the job where it can clean up; one that comes while
  -- the job waits for the run loop ends it from there. Native work that
  -- does not notice the signal (a library stuck in one page) is cut short
  -- 0.8 s after it: part files removed, the same line, the same status.
  Tolm.catchSignals(function(signal)
    if not self.finished then self:finish(self:interrupted(signal)) end
  end, "tolm " .. self.name .. ": ")
  local status = self:protect(self.job.run, self)
  if status == lib.WAIT then return nil end
  Tolm.catchSignals(nil)
  return status or lib.EX_OK
end

-- Ends a job that waited for the run loop.
function Context:finish(status)
  if self.finished then return end
  self.finished = true
  Tolm.catchSignals(nil)
  Tolm.exit(status)
end

-- A run-loop callback: an error in it ends the job like an error in run.
function Context:callback(f)
  return function(...)
    if self.finished then return end
    local status = self:protect(f, ...)
    if status ~= nil then self:finish(status) end
  end
end

------------------------------------------------------------------------
-- Pages of the document jobs.

-- The page options the document jobs share.
lib.pageFlags = {deskew = true, bw = true, ["drop-empty"] = true}
lib.pageValues = {hocr = true}

local EMPTY_PERCENT = 0.03 -- black share, in percent, below which a page is empty

-- A reader whose image stays tied to it (a PDF page) gives the page count
-- negated; the image already has the page's size and format.
local function readImage(path, img, index)
  local ok, n = pcall(Tolm.Codec.readImage, path, img, "", index)
  if not ok or type(n) ~= "number" or n == 0 then return nil end
  return math.abs(n)
end

-- The reader's own reason for the last failed read ("" when it gave
-- none), and the page (from 1) it is about when it named one.
local function readFailure() return Tolm.Codec.readFailure() end

local function unreadablePage(path, page, why)
  return string.format("page %d of %s cannot be read", page, path) ..
         (why ~= "" and ": " .. why or "")
end

-- Reads page `index` (from 0) of `path` into a new image.
function Context:readPage(path, index)
  local img = Tolm.Image.new()
  local n = readImage(path, img, index)
  if not n or img:width() <= 0 or img:height() <= 0 then
    img:delete()
    self:fail(unreadablePage(path, index + 1, n and "" or readFailure()))
  end
  return img
end

-- The number of pages of an input, which must be readable. Only the
-- file's structure is read: the pages are decoded when they are processed.
function Context:pageCount(path)
  self:checkInput(path)
  local img = Tolm.Image.new()
  local ok, n = pcall(Tolm.Codec.readImage, path, img, "count", 0)
  img:delete()
  if not ok or type(n) ~= "number" or n < 1 then
    -- the reader's own reason when it recognised the file; a file cut
    -- short is named by the first page it lost
    local why, page = readFailure()
    if page then self:fail(unreadablePage(path, page, why)) end
    if why == "" then why = "not an image or PDF file this system reads" end
    self:fail("cannot read " .. path .. ": " .. why)
  end
  return n
end

local function wholeImage(img, sheet)
  return sheet.x == 0 and sheet.y == 0 and sheet.width == img:width() and
         sheet.height == img:height() and sheet.angle == 0
end

-- PDF pages are 3 to 14,400 points a side: whether the image makes one at
-- rx by ry dpi.
local function pageFits(img, rx, ry)
  local w, h = img:width() * 72 / rx, img:height() * 72 / ry
  return w >= 3 and w <= 14400 and h >= 3 and h <= 14400
end

-- Whether it makes no page at all: a side under a hundredth of a point is
-- written as 0, which readers take for a letter sheet.
local function pageEmpty(img, rx, ry)
  return not (img:width() * 72 / rx >= 0.01 and img:height() * 72 / ry >= 0.01)
end

local function dpiText(rx, ry)
  if rx == ry then return string.format("%d dpi", rx) end
  return string.format("%d x %d dpi", rx, ry)
end

-- Gives the image the resolution its page is laid out at; returns the note
-- for the progress line when it is not the stored one, else nil.
local function pageResolution(img)
  local rx, ry = img:resolution()
  if not rx or rx <= 0 or not ry or ry <= 0 then
    img:setResolution(300, 300)
    return "no resolution, taken as 300 dpi"
  end
  -- A stored resolution that puts the page out of range (1e9 dpi makes an
  -- empty page) is no measurement where 300 dpi brings the page into
  -- range, or makes a page where the stored one makes none; otherwise it
  -- stays (a 1 x 1 pixel image at 72 dpi is a page of a point, not 0.24).
  if not pageFits(img, rx, ry) and
     (pageFits(img, 300, 300) or (pageEmpty(img, rx, ry) and not pageEmpty(img, 300, 300))) then
    img:setResolution(300, 300)
    return "stored resolution " .. dpiText(rx, ry) .. " out of range, taken as 300 dpi"
  end
  return nil
end

-- The note for a page out of range at the image's resolution, or nil.
local function pageRangeNote(img)
  local rx, ry = img:resolution()
  if pageFits(img, rx, ry) then return nil end
  return string.format("page %.6g x %.6g pt, outside the 3 to 14,400 pt a PDF page may have",
                       img:width() * 72 / rx, img:height() * 72 / ry)
end

-- The page treatments in their order: straightening, binarisation, the
-- empty-page test. Returns the page (possibly a new image; the old one is
-- deleted), the notes for the progress line, and whether it is empty.
function lib.treatPage(img, opts)
  local notes = {pageResolution(img)}
  local rx, ry = img:resolution()
  if opts.deskew then
    -- The sheet against the dark background of a sheet-fed scanner; else
    -- against a flatbed's lid.
    local sheet, how = img:deskewParameters(10, 10), "sheet edges"
    if wholeImage(img, sheet) then sheet, how = img:deskewFlatbed(), "flatbed" end
    if wholeImage(img, sheet) then
      notes[#notes + 1] = "no sheet edges found, not straightened"
    else
      local straight = img:deskewApply(sheet, false)
      if straight:width() > 0 and straight:height() > 0 then
        img:delete()
        img = straight
        img:setResolution(rx, ry)
        -- What deskewApply did, by its own limits: the angle is a float and
        -- the limits are the floats nearest 0.05 and 0.1, written out. An
        -- angle under the hundredth is no proof of a straight sheet: a side
        -- that shifts by less than a pixel over its length shows none.
        local a = math.abs(sheet.angle)
        if a < 0.005 then
          notes[#notes + 1] = "cut out; under 0.05 degrees left as it is (" .. how .. ")"
        elseif a <= 0.0500000007450580596923828125 then
          notes[#notes + 1] = string.format("cut out; %.2f degrees left as it is (%s)", sheet.angle,
                                            how)
        elseif a <= 0.100000001490116119384765625 then
          notes[#notes + 1] = string.format("sheared by %.2f degrees (%s)", sheet.angle, how)
        else
          notes[#notes + 1] = string.format("straightened by %.2f degrees (%s)", sheet.angle, how)
        end
      else
        straight:delete()
        notes[#notes + 1] = "not straightened (pixel format)"
      end
    end
  end
  -- A page left as scanned is judged by its sheet alone: the dark
  -- background beyond the sheet's edges is no content. The sheet is cut out
  -- of a copy, before binarisation; the page itself stays as it is.
  local sheetOnly
  if opts["drop-empty"] and not opts.deskew then
    local sheet = img:deskewParameters(10, 10)
    if wholeImage(img, sheet) then sheet = img:deskewFlatbed() end
    if not wholeImage(img, sheet) then
      sheetOnly = img:deskewApply(sheet, false)
      if sheetOnly:width() <= 0 or sheetOnly:height() <= 0 then
        sheetOnly:delete()
        sheetOnly = nil
      end
    end
  end
  if opts.bw then
    if not (img:getSPP() == 1 and img:getBPS() == 1) then
      img:optimize2bw()
      img:colorspace("gray1")
    end
    notes[#notes + 1] = "black and white"
  end
  local empty = false
  if opts["drop-empty"] then
    local margin = math.floor(rx / 4)
    empty = (sheetOnly or img):detectEmptyPage(EMPTY_PERCENT, margin, math.floor(ry / 4))
    if sheetOnly then sheetOnly:delete() end
  end
  notes[#notes + 1] = pageRangeNote(img)
  return img, notes, empty
end

-- The page as a PDF page at its own size, with the hOCR text layer of
-- `hocrFile` when given and present. Returns a note for the progress line.
-- An output that stops taking bytes (a full disk) ends the job at this
-- page; `final` names the output in that message.
function lib.writePage(pdf, img, hocrFile, final)
  local rx, ry = img:resolution()
  local w, h = img:width() * 72 / rx, img:height() * 72 / ry
  pdf:beginPage(w, h)
  -- 1-bit pages go as CCITT Group 4, the others deflated; in the device
  -- colour spaces, so that every viewer draws white paper white and gray
  -- pages without a tint (and reads them back as gray).
  if pdf:showImage(img, 0, 0, w, h, 75, "device") == false then
    raise("cannot write " .. (final or "the PDF") .. ": write error (is the disk full?)", lib.EX_FAIL)
  end
  if not hocrFile then return nil end
  -- a folder opens like a file here, but reads as nothing
  if isDirectory(hocrFile) then return "no text layer (" .. hocrFile .. " is a folder)" end
  local f = io.open(hocrFile, "rb")
  if not f then return "no text layer (" .. hocrFile .. " missing)" end
  local text = f:read("*a")
  f:close()
  if not text or not pdf:hocr2pdf(text, math.floor(rx + 0.5), math.floor(ry + 0.5)) then
    return "text layer of " .. hocrFile .. " unreadable"
  end
  return "text layer"
end

return lib
