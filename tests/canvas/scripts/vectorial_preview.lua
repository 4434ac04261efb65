-- A page preview drawn into a window by tolm: a grey desk, a white page, a
-- gradient heading, text lines and a dashed rule. Every event reaches
-- standard output as one line; a close request ends the run. With
-- `preview_only` set the file only defines drawPreview, for drawing the
-- same preview on another canvas.
require("Tolm")

function dumpTable(t)
  local keys = {}
  for k, v in pairs(t) do
    keys[#keys + 1] = k .. "=" .. (type(v) == "table" and "{" .. dumpTable(v) .. "}" or tostring(v))
  end
  table.sort(keys)
  return table.concat(keys, " ")
end

function drawPreview(c, font)
  local w, h = c:width(), c:height()
  local desk = Tolm.Path.new()
  desk:rect(0, 0, w, h)
  c:color(0.5, 0.5, 0.5, 1)
  c:fillPath(desk)
  local page = Tolm.Path.new()
  page:rect(10, 6, w - 10, h - 6)
  c:color(1, 1, 1, 1)
  c:fillPath(page)
  -- heading: blue to pale across the page's width
  c:setGradient({{0.1, 0.2, 0.7, 1}, {0.9, 0.9, 1, 1}})
  local head = Tolm.Path.new()
  head:rect(14, 10, w - 14, 28)
  local g = Tolm.Transform.new()
  g:translate(-14, 0)
  g:scale(256 / (w - 28), 1)
  c:fillPathGradient(head, g)
  -- text
  c:color(0, 0, 0, 1)
  local y = 46
  for _, line in ipairs({"Tolm page", "preview 42"}) do
    local x = 16
    for i = 1, #line do
      font:selectGlyph(string.byte(line, i))
      c:fillText(x, y, font)
      local ax = font:getAdvancements()
      x = x + ax
    end
    y = y + 18
  end
  -- a dashed rule and a translucent stamp from a temporary canvas
  c:setLineDash(4, 2)
  local rule = Tolm.Path.new()
  rule:moveTo(16, h - 20)
  rule:lineTo(w - 16, h - 20)
  c:color(0.8, 0, 0, 1)
  c:strokePath(rule, 1.5)
  c:setLineDash()
  local stamp = c:newTemporary(20, 20)
  local dot = Tolm.Path.new()
  dot:roundedRect(0, 0, 20, 20, 6)
  stamp:color(0, 0.6, 0, 1)
  stamp:fillPath(dot)
  c:blend(stamp, math.floor(w) - 40, 34, 0.5)
end

function previewFont()
  local font = Tolm.Text.new()
  font:setFont("DejaVu Sans", "", 13)
  return font
end

if not preview_only then
  local win = Tolm.Vectorial.new(function(e)
    io.write("EVENT ", dumpTable(e), "\n")
    io.flush()
    if e.shouldClose then Tolm.exit(0) end
  end, 0, 0, 160, 120)
  win:setTitle("vectorial-preview")
  drawPreview(win, previewFont())
  win:setHidden(false)
  win:update(0, 0, 160, 120)
  win:sync()
  Tolm.addTimer(function() io.write("READY\n") io.flush() return false end, 0.2)
  Tolm.addTimer(function() Tolm.exit(3) return false end, 30)
  Tolm.run()
end
