-- split-by-barcode: a scanned stack cut into one PDF per document at the
-- separator sheets, which carry a barcode and are left out; each document
-- is named by its separator's barcode.
local lib = ...

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
  local doc -- {pdf, temp, final, pages}
  local docs = {}

  local function close()
    if doc and doc.pages > 0 then
      ctx:finishWriter(doc.pdf, doc.temp, doc.final)
      ctx:whole(doc.temp)
    elseif doc then
      -- a separator right after another one, or at the very start: nothing
      -- to keep under that name
      ctx:finishWriter(doc.pdf, doc.temp, doc.final)
      doc.empty = true
    end
    doc = nil
  end
  local function open(label)
    local base = prefix .. label
    -- a repeated code, or a name that would land on the input, gets the
    -- next number that names no file: neither the input, nor a document
    -- of this run, nor one of the user's
    local final, k = base .. ".pdf", 1
    while used[final] or lib.isInput(final, {input}) or (k > 1 and lib.exists(final)) do
      k = k + 1
      final = string.format("%s-%d.pdf", base, k)
    end
    used[final] = true
    local temp = ctx:output(final)
    doc = {pdf = ctx:newPDF(temp, final), temp = temp, final = final, pages = 0}
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
      local notes = {lib.pageResolution(img)}
      notes[#notes + 1] = lib.pageRangeNote(img)
      lib.writePage(doc.pdf, img, nil, doc.final)
      doc.pages = doc.pages + 1
      what = table.concat({"to " .. doc.final, unpack(notes)}, ", ")
    end
    img:delete()
    ctx:progress(index + 1, total, what)
  end
  close()

  -- Documents without pages are not written.
  local kept = {}
  for _, d in ipairs(docs) do
    if d.empty then ctx:drop(d.temp) else kept[#kept + 1] = d end
  end
  ctx:commit()
  for _, d in ipairs(kept) do
    ctx:say(string.format("wrote %s: %d page%s", d.final, d.pages, d.pages == 1 and "" or "s"))
  end
  if #kept == 0 then ctx:say("no pages besides separators: nothing written") end
  return lib.EX_OK
end

return job
