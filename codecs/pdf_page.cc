// PDF pages, their content streams and the writer operations of the PDF
// codec that append operators to the current page.
#include <algorithm>
#include <cstring>
#include <iostream>
#include <locale>

#include "codecs/PDF.hh"

PDFPage::PDFPage(PDFXref& xref, PDFPages& parent, double width, double height)
  : PDFObject(xref), parent(parent), width(width), height(height), content(xref, *this)
{
  parent.pages.push_back(this);
  content.operators.imbue(std::locale::classic());
}

void PDFPage::addResource(const PDFObject* object)
{
  std::vector<const PDFObject*>& set =
    object->resourceType() == "/Font" ? fontResources : otherResources;
  if (std::find(set.begin(), set.end(), object) == set.end())
    set.push_back(object);
}

void PDFPage::writeImpl(std::ostream& s)
{
  s << "<</Type/Page/Parent " << parent.indirectRef() << "/MediaBox[0 0 "
    << sizeText(width) << " " << sizeText(height) << "]/Contents "
    << content.indirectRef();
  s << "/Resources<</ProcSet[/PDF";
  if (content.procSet & 1)
    s << "/ImageB";
  if (content.procSet & 2)
    s << "/ImageC";
  if (content.procSet & 4)
    s << "/Text";
  s << "]";
  for (const std::vector<const PDFObject*>* set : {&fontResources, &otherResources}) {
    if (set->empty())
      continue;
    s << set->front()->resourceType() << "<<";
    for (const PDFObject* object : *set)
      s << object->resourceName() << " " << object->indirectRef();
    s << ">>";
  }
  s << ">>>>";
  followers.push_back(&content);
  fontResources.clear();
  otherResources.clear();
}

void PDFContentStream::writeStreamTagsImpl(std::ostream& s)
{
  if (!filter.empty())
    s << "/Filter" << filter;
}

void PDFContentStream::writeStreamImpl(std::ostream& s)
{
  const std::string text = operators.str();
  writeStreamText(s, text, filter);
}

void PDFContentStream::translateY(double& y) const
{
  y = ownerPage.height - y;
}

PDFContentStream* PDFCodec::page(const char* what)
{
  if (!context)
    return nullptr;
  if (!context->currentPage) {
    std::cerr << "PDFCodec: " << what << " before beginPage ignored" << std::endl;
    return nullptr;
  }
  return &context->currentPage->content;
}

void PDFCodec::beginPage(double width, double height)
{
  if (context)
    context->beginPage(width, height);
}

void PDFCodec::moveTo(double x, double y)
{
  if (PDFContentStream* c = page("moveTo")) {
    c->translateY(y);
    c->operators << quantize(x, 1) << " " << quantize(y, 1) << " m\n";
  }
}

void PDFCodec::addLineTo(double x, double y)
{
  if (PDFContentStream* c = page("addLineTo")) {
    c->translateY(y);
    c->operators << quantize(x, 1) << " " << quantize(y, 1) << " l\n";
  }
}

void PDFCodec::addCurveTo(double x1, double y1, double x2, double y2, double x3, double y3)
{
  if (PDFContentStream* c = page("addCurveTo")) {
    c->translateY(y1);
    c->translateY(y2);
    c->translateY(y3);
    c->operators << quantize(x1, 1) << " " << quantize(y1, 1) << " " << quantize(x2, 1) << " "
                 << quantize(y2, 1) << " " << quantize(x3, 1) << " " << quantize(y3, 1)
                 << " c\n";
  }
}

void PDFCodec::closePath()
{
  if (PDFContentStream* c = page("closePath"))
    c->operators << "h\n";
}

void PDFCodec::showPath(filling_rule_t rule)
{
  if (PDFContentStream* c = page("showPath"))
    c->operators << (rule == fill_non_zero ? "f\n" : rule == fill_even_odd ? "f*\n" : "S\n");
}

void PDFCodec::setFillColor(double r, double g, double b)
{
  if (PDFContentStream* c = page("setFillColor")) {
    if (r == g && g == b) {
      c->operators << quantize(r, 2) << " G\n" << quantize(r, 2) << " g\n";
    } else {
      const std::string rgb = quantize(r, 2).text + " " + quantize(g, 2).text + " " +
                              quantize(b, 2).text;
      c->operators << rgb << " RG\n" << rgb << " rg\n";
    }
  }
}

void PDFCodec::setLineWidth(double width)
{
  if (PDFContentStream* c = page("setLineWidth"))
    c->operators << quantize(width, 1) << " w\n";
}

void PDFCodec::setLineDash(double phase, const double* dashes, int n)
{
  if (PDFContentStream* c = page("setLineDash")) {
    c->operators << "[";
    for (int i = 0; dashes && i < n; ++i)
      c->operators << " " << quantize(dashes[i], 1);
    c->operators << " ] " << quantize(phase, 1) << " d\n";
  }
}

void PDFCodec::setLineDash(double phase, const std::vector<double>& dashes)
{
  setLineDash(phase, dashes.data(), (int)std::min<size_t>(dashes.size(), 1u << 30));
}
