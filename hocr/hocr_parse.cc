// The hOCR tag scanner, line building, column grouping and reading order.
#include <algorithm>
#include <cmath>
#include <iostream>
#include <locale>
#include <sstream>

#include "hocr/hocr.hh"
#include "utility/Saturate.hh"
#include "utility/UTF8.hh"

void BBox::unite(const BBox& other)
{
  if (!valid()) {
    *this = other;
    return;
  }
  x1 = std::min(x1, other.x1);
  y1 = std::min(y1, other.y1);
  x2 = std::max(x2, other.x2);
  y2 = std::max(y2, other.y2);
}

std::ostream& printStyle(std::ostream& s, Style style)
{
  static const char* names[] = {"None", "Bold", "Italic", "BoldItalic"};
  s << names[style & 3];
  if (style & style_underline)
    s << ",Underlined";
  return s;
}

bool textline_sorter::operator()(const Textline* a, const Textline* b) const
{
  return (a->box.y1 + a->box.y2) / 2 < (b->box.y1 + b->box.y2) / 2;
}

std::ostream& operator<<(std::ostream& s, const Textline& line)
{
  for (const Span& span : line.spans)
    s << span.text;
  return s;
}

static bool isSpace(char c);

std::string tagName(const std::string& s)
{
  size_t end = 0;
  while (end < s.size() && !isSpace(s[end]))
    ++end;
  return s.substr(0, end);
}

std::string lowercaseStr(const std::string& s)
{
  std::string out(s);
  for (char& c : out)
    c = (char)tolower((unsigned char)c);
  return out;
}

static bool isSpace(char c)
{
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

std::string peelWhitespaceStr(const std::string& s, bool leading)
{
  size_t end = s.size();
  while (end > 0 && isSpace(s[end - 1]))
    --end;
  size_t begin = 0;
  if (leading)
    while (begin < end && isSpace(s[begin]))
      ++begin;
  return s.substr(begin, end - begin);
}

std::string sanitizeStr(const std::string& s)
{
  return peelWhitespaceStr(lowercaseStr(s), true);
}

void Textline::push_back(Textline*& current, Span span)
{
  if (spans.empty()) {
    span.text = peelWhitespaceStr(span.text, true);
    if (span.text.empty())
      return;
  } else if (spans.back().box.x1 > span.box.x1) {
    owner->insert(this);
    current = new Textline(owner);
    current->push_back(current, span);
    return;
  }
  if (!spans.empty() && spans.back().box == span.box && spans.back().style == span.style)
    spans.back().text += span.text;
  else
    spans.push_back(span);
  box.unite(span.box);
}

namespace {

void elementEnd(BBox& box, Style& style, Textline*& current, const std::string& tag)
{
  (void)box;
  const std::string name = tagName(sanitizeStr(tag));
  if (name == "b" || name == "strong")
    style &= ~style_bold;
  else if (name == "i" || name == "em")
    style &= ~style_italic;
  else if (name == "u")
    style &= ~style_underline;
  else if (name == "br" || name == "p") {
    // Empty lines carry no box and would only disturb the columns.
    if (current->spans.empty())
      return;
    current->owner->insert(current);
    current = new Textline(current->owner);
  }
}

// The value of attribute `name` among a tag's attributes: double-quoted,
// single-quoted (as OCR engines write them) or bare; spaces may surround
// the '='. False when the attribute is absent or its quote is not closed.
bool attributeValue(const std::string& attrs, const std::string& name, std::string& value)
{
  for (size_t at = attrs.find(name); at != std::string::npos; at = attrs.find(name, at + 1)) {
    if (at > 0 && !isSpace(attrs[at - 1]))
      continue;  // the end of another name, such as data-title
    size_t i = at + name.size();
    while (i < attrs.size() && isSpace(attrs[i]))
      ++i;
    if (i == attrs.size() || attrs[i] != '=')
      continue;
    ++i;
    while (i < attrs.size() && isSpace(attrs[i]))
      ++i;
    if (i < attrs.size() && (attrs[i] == '"' || attrs[i] == '\'')) {
      const size_t end = attrs.find(attrs[i], i + 1);
      if (end == std::string::npos)
        return false;
      value = attrs.substr(i + 1, end - i - 1);
      return true;
    }
    size_t end = i;
    while (end < attrs.size() && !isSpace(attrs[end]))
      ++end;
    value = attrs.substr(i, end - i);
    return true;
  }
  return false;
}

void openTag(std::string tag, BBox& box, Style& style, Textline*& current,
             std::vector<std::string>& stack)
{
  bool selfClosing = false;
  if (!tag.empty() && tag.back() == '/') {
    tag.pop_back();
    selfClosing = true;
  }
  const std::string name = sanitizeStr(tagName(tag));
  if (name == "br" || name == "img" || name == "meta")
    selfClosing = true;
  const std::string rest = sanitizeStr(tag.size() > tagName(tag).size()
                                         ? tag.substr(tagName(tag).size())
                                         : std::string());
  std::string title;
  if (attributeValue(rest, "title", title)) {
    std::istringstream words(title);
    words.imbue(std::locale::classic());
    std::string word;
    float v[4] = {0, 0, 0, 0};
    words >> word;
    for (float& value : v)
      if (!(words >> value)) {
        value = 0;
        break;
      }
    // NaN or infinite coordinates are no box either.
    if (v[2] > 0 && v[3] > 0 && std::isfinite(v[0]) && std::isfinite(v[1]) &&
        std::isfinite(v[2]) && std::isfinite(v[3])) {
      box.x1 = v[0];
      box.y1 = v[1];
      box.x2 = v[2];
      box.y2 = v[3];
    }
  }
  if (name == "b" || name == "strong")
    style |= style_bold;
  else if (name == "i" || name == "em")
    style |= style_italic;
  else if (name == "u")
    style |= style_underline;
  if (selfClosing) {
    elementEnd(box, style, current, tag);
    stack.pop_back();
  }
}

// One diagnostic of a file, said once after the file was read: the first
// few names it concerns and how many more there were.
struct Tally {
  static const size_t kNamed = 3;
  size_t count = 0;
  std::vector<std::string> names;

  void add(const std::string& name)
  {
    if (count++ < kNamed)
      names.push_back(printable(name));
  }
  void say(const char* text) const
  {
    if (count == 0)
      return;
    std::cerr << text;
    for (size_t i = 0; i < names.size(); ++i)
      std::cerr << (i ? ", '" : "'") << names[i] << "'";
    if (count > names.size())
      std::cerr << " and " << count - names.size() << " more";
    std::cerr << std::endl;
  }
  // A tag's text as a short line: at most 40 bytes, control characters as
  // '?', good UTF-8.
  static std::string printable(std::string text)
  {
    const size_t limit = 40;
    const bool cut = text.size() > limit;
    if (cut) {
      text.resize(limit);
      while (!text.empty() && (text.back() & 0xC0) == 0x80) // no half characters
        text.pop_back();
      if (!text.empty() && (unsigned char)text.back() >= 0xC0)
        text.pop_back();
    }
    for (char& c : text)
      if ((unsigned char)c < 0x20 || c == 0x7F)
        c = '?';
    RepairUtf8(text);
    return cut ? text + "..." : text;
  }
};

BBox clusterBox(const TextlineSet& column)
{
  BBox box;
  for (const Textline* line : column)
    box.unite(line->box);
  return box;
}

} // namespace

bool hocr2pdf(std::istream& hocr, PDFCodec* pdf, unsigned resX, unsigned resY, std::ostream* txt,
              const std::string& txtFormat, int page, std::string leadText, std::string trailText)
{
  const int rx = resX > 0 && resX < 1000000 ? (int)resX : 72;
  const int ry = resY > 0 && resY < 1000000 ? (int)resY : 72;
  if (txtFormat.empty())
    txt = nullptr;

  TextlineSet lines;
  Textline* current = new Textline(&lines);
  std::vector<std::string> stack;
  Style style = 0;
  BBox box;
  std::string closing;
  std::string* collect = nullptr;
  bool collectingClose = false;
  Tally unmatched, unclosed;

  for (;;) {
    const int ch = hocr.get();
    if (!hocr.good())
      break;
    const char c = (char)ch;
    if (collect && c != '>') {
      *collect += c;
      continue;
    }
    if (c == '>' && collect) {
      if (collectingClose) {
        const std::string text = closing.substr(1);
        auto it = std::find_if(stack.rbegin(), stack.rend(),
                               [&](const std::string& e) { return tagName(e) == text; });
        if (it != stack.rend())
          stack.erase(std::next(it).base());
        else
          unmatched.add(text);
        elementEnd(box, style, current, text);
      } else {
        openTag(stack.back(), box, style, current, stack);
      }
      collect = nullptr;
      continue;
    }
    if (c == '<') {
      if (hocr.peek() == '/') {
        closing.clear();
        collect = &closing;
        collectingClose = true;
      } else {
        stack.emplace_back();
        collect = &stack.back();
        collectingClose = false;
      }
      continue;
    }
    Span span;
    span.box = box;
    span.style = style;
    span.text = std::string(1, c);
    current->push_back(current, span);
  }
  for (auto it = stack.rbegin(); it != stack.rend(); ++it) {
    const std::string name = tagName(*it);
    // Declarations (<!DOCTYPE ...>) and processing instructions (the
    // <?xml ...?> every XHTML file starts with) are no elements.
    if (name.empty() || (name[0] != '!' && name[0] != '?'))
      unclosed.add(name);
  }
  unmatched.say("Warning: no matching tag found to close: ");
  unclosed.say("Warning: unclosed tag: ");
  if (current->spans.empty())
    delete current;
  else
    lines.insert(current);
  // Text that is not UTF-8 is drawn with U+FFFD in place of its bad bytes,
  // and said once for the whole file.
  size_t malformed = 0;
  for (Textline* line : lines)
    for (Span& span : line->spans)
      malformed += RepairUtf8(span.text);
  malformed += RepairUtf8(leadText) + RepairUtf8(trailText);
  if (malformed > 0)
    std::cerr << "Warning: hOCR text that is not UTF-8: " << malformed
              << (malformed == 1 ? " byte" : " bytes") << " read as U+FFFD" << std::endl;

  if (txt && txtFormat == "rtf" && page > 1)
    *txt << "\\page ";
  auto drawAlone = [&](const std::string& text) {
    if (text.empty())
      return;
    TextlineSet none;
    Textline line(&none);
    Span span;
    span.text = text;
    line.spans.push_back(span);
    line.draw(nullptr, rx, ry, txt, txtFormat, false);
  };
  drawAlone(leadText);

  // Columns: a line joins the first column whose last line has an aligned
  // edge, is close above and of similar height.
  std::vector<TextlineSet> columns;
  for (Textline* line : lines) {
    const BBox& l = line->box;
    const float h = l.y2 - l.y1;
    TextlineSet* target = nullptr;
    for (TextlineSet& column : columns) {
      const BBox& p = (*column.rbegin())->box;
      const bool aligned = std::fabs(l.x1 - p.x1) <= 2 * h || std::fabs(l.x2 - p.x2) <= 2 * h;
      if (aligned && l.y1 <= p.y2 + 2 * h && std::fabs(h - (p.y2 - p.y1)) <= h / 3) {
        target = &column;
        break;
      }
    }
    if (!target) {
      columns.emplace_back();
      target = &columns.back();
    }
    target->insert(line);
  }

  // Reading order: every run of columns that overlap the run's first
  // vertically is put left to right, the whole run, boxes with columns.
  std::vector<BBox> boxes;
  for (const TextlineSet& column : columns)
    boxes.push_back(clusterBox(column));
  std::vector<size_t> order(columns.size());
  for (size_t i = 0; i < order.size(); ++i)
    order[i] = i;
  for (size_t i = 0; i < order.size();) {
    size_t j = i + 1;
    while (j < order.size() &&
           saturate_cast<int>(std::min(boxes[order[i]].y2, boxes[order[j]].y2)) >
             saturate_cast<int>(std::max(boxes[order[i]].y1, boxes[order[j]].y1)))
      ++j;
    std::stable_sort(order.begin() + i, order.begin() + j, [&](size_t a, size_t b) {
      return (boxes[a].x1 + boxes[a].x2) / 2 < (boxes[b].x1 + boxes[b].x2) / 2;
    });
    i = j;
  }

  BBox previous;
  for (size_t index : order) {
    TextlineSet& column = columns[index];
    BBox drawn;
    for (auto it = column.begin(); it != column.end(); ++it) {
      Textline* line = *it;
      const BBox& l = line->box;
      auto next = std::next(it);
      bool sloppy = false;
      if (next != column.end()) {
        const BBox& n = (*next)->box;
        if (!(n.y1 < l.y1) && !(n.y1 > l.y2 + 2 * (l.y2 - l.y1))) {
          const float w = (l.x2 - l.x1) / 10;
          sloppy = !(n.x1 < l.x1 - w) && n.x1 <= l.x1 + w;
        }
      }
      if (sloppy && previous.valid() && l.y1 >= previous.y1 &&
          l.y1 <= previous.y2 + 2 * (previous.y2 - previous.y1)) {
        const float tenth = (previous.x2 - previous.x1) / 10;
        if (std::fabs(l.x1 - previous.x1) > tenth || std::fabs(l.x2 - previous.x2) > tenth)
          sloppy = false;
      }
      line->draw(pdf, rx, ry, txt, txtFormat, sloppy);
      drawn.unite(l);
    }
    previous = drawn;
  }
  for (Textline* line : lines)
    delete line;
  drawAlone(trailText);
  return true;
}
