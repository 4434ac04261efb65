-- doc2pdf: images and documents to one PDF, each page optionally
-- straightened, made black and white, dropped when empty and given its
-- hOCR text layer.
local lib = ...

local job = {
  summary = "images (TIFF, PNG, PDF, ...) to one PDF",
  usage = "IN... OUT.pdf [--deskew] [--bw] [--drop-empty] [--hocr DIR]",
  help = [[
  IN...          input files; every page of a multi-page TIFF or PDF is used
  OUT.pdf        the PDF to write (written only when every page succeeded)
  --deskew       straighten each page: the sheet is found by its edges against
                 a scanner background, else against a flatbed's lid; a page
                 where no sheet is found is kept as it is
  --bw           black and white, stored as CCITT Group 4
  --drop-empty   leave out pages without content
  --hocr DIR     DIR/page-N.hocr (N counting input pages from 1) becomes the
                 invisible text layer of that page
]],
}

function job.run(ctx)
  local flags, values = {}, {}
  for k in pairs(lib.pageFlags) do flags[k] = true end
  for k in pairs(lib.pageValues) do values[k] = true end
  local opts, names = ctx:parse({flags = flags, values = values})
  if #names < 2 then ctx:usageError("needs at least one input and the output PDF") end
  local output = table.remove(names)
  if not output:lower():match("%.pdf$") then
    ctx:usageError("the last name, " .. output .. ", must be the output PDF (ending in .pdf)")
  end
  ctx:checkOutput(output, names)
  if opts.hocr and not lib.isDirectory(opts.hocr) then
    ctx:fail("hOCR folder " .. opts.hocr .. " not found")
  end

  -- Every input is checked before anything is written.
  local counts, total = {}, 0
  for i, input in ipairs(names) do
    counts[i] = ctx:pageCount(input)
    total = total + counts[i]
  end

  local pdf = ctx:newPDF(output)
  local n, written = 0, 0
  for i, input in ipairs(names) do
    for index = 0, counts[i] - 1 do
      n = n + 1
      local img, notes, empty = lib.treatPage(ctx:readPage(input, index), opts)
      if empty then
        notes[#notes + 1] = "empty, dropped"
      else
        local hocr = opts.hocr and string.format("%s/page-%d.hocr", opts.hocr, n)
        notes[#notes + 1] = lib.writePage(pdf, img, hocr, output)
        written = written + 1
      end
      img:delete()
      ctx:progress(n, total, #notes > 0 and table.concat(notes, ", ") or "as it is")
    end
  end
  if written == 0 then ctx:fail("every page was empty: nothing to write") end
  ctx:finishWriter(pdf)
  ctx:say(string.format("wrote %s: %d page%s", output, written, written == 1 and "" or "s"))
  return lib.EX_OK
end

return job
