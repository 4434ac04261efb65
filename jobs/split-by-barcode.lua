-- split-by-barcode: a scanned stack cut into one PDF per document at the
-- separator sheets, which carry a barcode and are left out; each document
-- is named by its separator's barcode.
local lib = ...
local Tolm = require("Tolm")

local job = {
  summary = "a scan split into one PDF per document at barcode separator sheets",
  usage = "IN OUT-PREFIX [--types LIST]",
  help = [[
  IN             a multi-page scan (TIFF, PDF, ...)
  OUT-PREFIX     each document goes to OUT-PREFIX<barcode>.pdf; pages before the
                 first separator go to OUT-PREFIX0.pdf
  --types LIST   barcode types of the separators, comma separated: any (the
                 default), code39, code128, code25, ean
]],
}

local KNOWN_TYPES = {any = true, code39 = true, code128 = true, code25 = true, ean = true}

-- A barcode's text as a file name part: no separators, nothing hidden.
local function safeName(code)
  local s = code:gsub("[^%w%.%-]", "_")
  if s == "" or s:match("^%.") then s = "_" .. s end
  return s
end

function job.run(ctx)
  local opts, names = ctx:parse({values = {types = true}})
  if #names ~= 2 then ctx:usageError("needs the input and the output prefix") end
  local input, prefix = names[1], names[2]
  local types = {}
  for t in (opts.types or "any"):gmatch("[^,%s]+") do
    if not KNOWN_TYPES[t] then ctx:usageError("unknown barcode type " .. t) end
    types[#types + 1] = t
  end
  if #types == 0 then ctx:usageError("no barcode type given") end

  local total = ctx:pageCount(input)
  local used = {}
  local doc -- {pdf, final, pages}
  local docs = {}

  -- A complete document goes under its name at once: a failure or a stop
  -- later keeps it.
  local function close()
    if doc and doc.pages > 0 then
      ctx:finishWriter(doc.pdf)
    elseif doc then
      -- a separator right after another one, or at the very start: nothing
      -- to keep under that name
      ctx:drop(doc.pdf)
      doc.empty = true
    end
    doc = nil
  end
  -- A name this document may take: not the input, nor a document of this
  -- run; a numbered one names nothing at all, not even a link that leads
  -- nowhere. The document's own name (prefix and code) replaces a file
  -- there, through a link too, but is never written through a link to
  -- nothing (a share not mounted, say): that name is taken as well.
  local function free(name, own)
    if used[name] or lib.isInput(name, {input}) then return false end
    if own then return lib.exists(name) or not lib.taken(name) end
    return not lib.taken(name)
  end
  local function open(label)
    local base = prefix .. label
    -- a repeated code, or a name that is taken, gets the next number that
    -- names nothing
    local final, k = base .. ".pdf", 1
    while not free(final, k == 1) do
      k = k + 1
      final = string.format("%s-%d.pdf", base, k)
    end
    used[final] = true
    doc = {pdf = ctx:newPDF(final), final = final, pages = 0}
    docs[#docs + 1] = doc
  end

  for index = 0, total - 1 do
    local img = ctx:readPage(input, index)
    local codes = {}
    for _, t in ipairs(types) do
      for _, c in ipairs(img:bardecode(t)) do codes[#codes + 1] = c end
    end
    local what
    if #codes > 0 then
      close()
      open(safeName(codes[1].code))
      what = "separator " .. codes[1].type .. " " .. codes[1].code .. ", starts " .. doc.final
    else
      if not doc then open("0") end
      local _, notes = lib.treatPage(img, {})
      lib.writePage(doc.pdf, img, nil, doc.final)
      doc.pages = doc.pages + 1
      what = table.concat({"to " .. doc.final, unpack(notes)}, ", ")
    end
    img:delete()
    ctx:progress(index + 1, total, what)
  end
  close()

  -- Documents without pages were not written.
  Tolm.interruptionPoint()
  local kept = {}
  for _, d in ipairs(docs) do
    if not d.empty then kept[#kept + 1] = d end
  end
  for _, d in ipairs(kept) do
    ctx:say(string.format("wrote %s: %d page%s", d.final, d.pages, d.pages == 1 and "" or "s"))
  end
  if #kept == 0 then ctx:say("no pages besides separators: nothing written") end
  return lib.EX_OK
end

return job
