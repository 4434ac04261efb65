// The Courier and oblique width tables and font-name lookup.
#include "codecs/PDFFonts.hh"

const uint32_t courier_metrics_size = 1, courierBold_metrics_size = 1,
               courierOblique_metrics_size = 1, courierBoldOblique_metrics_size = 1;
const uint16_t courier_metrics[1] = {600}, courierBold_metrics[1] = {600},
               courierOblique_metrics[1] = {600}, courierBoldOblique_metrics[1] = {600};
// Oblique faces share the widths of their upright twins.
const uint32_t helveticaOblique_metrics_size = 0x2123, helveticaBoldOblique_metrics_size = 0x2123;
const uint16_t* const helveticaOblique_metrics = helvetica_metrics;
const uint16_t* const helveticaBoldOblique_metrics = helveticaBold_metrics;

bool standardFontMetrics(const std::string& name, font_metrics& out)
{
  static const struct {
    const char* name;
    const uint16_t* widths;
    const uint32_t* size;
  } fonts[] = {
    {"Courier", courier_metrics, &courier_metrics_size},
    {"Courier-Bold", courierBold_metrics, &courierBold_metrics_size},
    {"Courier-Oblique", courierOblique_metrics, &courierOblique_metrics_size},
    {"Courier-BoldOblique", courierBoldOblique_metrics, &courierBoldOblique_metrics_size},
    {"Helvetica", helvetica_metrics, &helvetica_metrics_size},
    {"Helvetica-Bold", helveticaBold_metrics, &helveticaBold_metrics_size},
    {"Helvetica-Oblique", helvetica_metrics, &helveticaOblique_metrics_size},
    {"Helvetica-BoldOblique", helveticaBold_metrics, &helveticaBoldOblique_metrics_size},
  };
  for (const auto& f : fonts)
    if (name == f.name) {
      out.widths = f.widths;
      out.size = *f.size;
      return true;
    }
  out.widths = courier_metrics;
  out.size = 1;
  return false;
}

unsigned glyphWidth(const font_metrics& m, uint32_t codePoint)
{
  if (codePoint < m.size && m.widths[codePoint] != 0)
    return m.widths[codePoint];
  return m.widths[0];
}
