#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <locale>
#include <sstream>

#include "codecs/PDF.hh"
#include "tests/support/TestSupport.hh"

using namespace testsupport;

namespace {

std::string qpdfCheck(const std::string& qpdf, const std::string& path)
{
  std::string out;
  const int rc = run(qpdf + " --check '" + path + "' 2>&1", &out);
  return rc == 0 ? "" : out;
}

// An output buffer that cannot tell its position, like a pipe.
class PipeBuf : public std::stringbuf {
protected:
  pos_type seekoff(off_type, std::ios_base::seekdir, std::ios_base::openmode) override
  {
    return pos_type(off_type(-1));
  }
};

// Accepts `room` bytes, then fails every write, like a full disk.
class FullBuf : public std::streambuf {
public:
  explicit FullBuf(size_t room) : room(room) {}
protected:
  std::streamsize xsputn(const char*, std::streamsize n) override
  {
    const std::streamsize taken = std::min<std::streamsize>(n, (std::streamsize)room);
    room -= (size_t)taken;
    return taken;
  }
  int_type overflow(int_type c) override
  {
    if (room == 0)
      return traits_type::eof();
    --room;
    return traits_type::not_eof(c);
  }
  size_t room;
};

} // namespace

TEST(PDFQuantize, FixedPointWithoutTrailingZeros)
{
  const struct {
    double value;
    int precision;
    const char* text;
  } cases[] = {
    {595.276, 1, "595.3"}, {72.0, 1, "72"},   {100.0, 1, "100"}, {10.0, 1, "10"},
    {0.5, 2, "0.5"},       {0.0, 1, "0"},     {-0.04, 1, "-0"},  {841.8897, 1, "841.9"},
    {0.333, 2, "0.33"},    {12.0, 0, "12"},   {1e-9, 2, "0"},    {-3.25, 1, "-3.2"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(quantize(c.value, c.precision).str(), c.text) << c.value << " at " << c.precision;
}

TEST(PDFQuantize, NonFiniteValuesBecomeNumbers)
{
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(quantize(std::nan(""), 1).str(), "0");
  const std::string big = quantize(inf, 1).str(), small = quantize(-inf, 1).str();
  EXPECT_EQ(big, quantize(3.4e38, 1).str());
  EXPECT_EQ(small, "-" + big);
  EXPECT_EQ(big.find_first_not_of("0123456789"), std::string::npos) << big;
}

TEST(PDFEncoding, HexBreaksLinesEvery40Bytes)
{
  std::ostringstream empty;
  EncodeHex(empty, "", 0);
  EXPECT_EQ(empty.str(), "");

  std::string bytes(81, '\0');
  for (size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = (char)(i * 37 + 250);
  std::ostringstream s;
  EncodeHex(s, bytes.data(), bytes.size());
  const std::string text = s.str();
  ASSERT_EQ(text.size(), 81u * 2 + 2);
  EXPECT_EQ(text.substr(0, 4), "fa1f");
  EXPECT_EQ(text[80], '\n');
  EXPECT_EQ(text[161], '\n');
  EXPECT_EQ(text.find_first_not_of("0123456789abcdef\n"), std::string::npos);
}

TEST(PDFEncoding, ASCII85Rules)
{
  const struct {
    std::string in;
    const char* out;
  } cases[] = {
    {"", "~>"},
    {std::string(4, '\0'), "z~>"},
    {std::string(1, '\0'), "!!~>"},          // a partial zero group is digits
    {"Man ", "9jqo^~>"},
    {"Man", "9jqo~>"},
    {std::string(8, '\0') + "M", "zz9`~>"},
  };
  for (const auto& c : cases) {
    std::ostringstream s;
    EncodeASCII85(s, (const unsigned char*)c.in.data(), c.in.size());
    EXPECT_EQ(s.str(), c.out) << c.in.size();
  }
}

TEST(PDFEncoding, ASCII85DecodesInPython)
{
  REQUIRE_TOOL(python, "python3");
  TempDir dir;
  std::string bytes(4001, '\0');
  for (size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = (i / 16) % 3 == 0 ? 0 : (char)(i * 131 + (i >> 3));
  std::ostringstream s;
  EncodeASCII85(s, (const unsigned char*)bytes.data(), bytes.size());
  const std::string text = s.str();
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);)
    EXPECT_LE(line.size(), 80u);
  ASSERT_TRUE(writeFile(dir.file("a85"), text));
  ASSERT_TRUE(writeFile(dir.file("raw"), bytes));
  EXPECT_EQ(run(python + " -c \"import base64,sys; d=open(sys.argv[1],'rb').read(); "
                         "r=open(sys.argv[2],'rb').read(); "
                         "sys.exit(0 if base64.a85decode(d, adobe=True) == r else 1)\" '" +
                dir.file("a85") + "' '" + dir.file("raw") + "'"),
            0);
}

TEST(PDFEncoding, StringsAndNamesAreEscaped)
{
  EXPECT_EQ(pdfEscapeString("plain text 1.0"), "plain text 1.0");
  EXPECT_EQ(pdfEscapeString("a(b)c\\d"), "a\\(b\\)c\\\\d");
  EXPECT_EQ(pdfEscapeName("Helvetica-Bold"), "Helvetica-Bold");
  EXPECT_EQ(pdfEscapeName("My Font/1#"), "My#20Font#2F1#23");
}

TEST(PDFDocument, EmptyDocumentIsComplete)
{
  REQUIRE_TOOL(qpdf, "qpdf");
  TempDir dir;
  std::ostringstream s;
  { PDFContext context(&s, "Tolm (test) \\", "", "", 0, 0, 0, 0); }
  const std::string pdf = s.str();
  EXPECT_EQ(pdf.substr(0, 13), "%PDF-1.5\n%\xc9\xcc\n");
  EXPECT_EQ(pdf.substr(13, 12), "1 0 obj\n<</C");
  EXPECT_NE(pdf.find("/Creator(Tolm \\(test\\) \\\\)/Producer(Talveri PDF2)"), std::string::npos);
  EXPECT_NE(pdf.find("2 0 obj\n<</Type/Pages/Count 0/Kids[]>>"), std::string::npos);
  EXPECT_NE(pdf.find("3 0 obj\n<</Type/Catalog/Pages 2 0 R>>"), std::string::npos);
  EXPECT_NE(pdf.find("xref\n0 4\n0000000000 65535 f \n0000000013 00000 n \n"), std::string::npos);
  EXPECT_NE(pdf.find("trailer<</Size 4/Root 3 0 R/Info 1 0 R>>\nstartxref\n"), std::string::npos);
  EXPECT_EQ(pdf.substr(pdf.size() - 6), "%%EOF\n");
  ASSERT_TRUE(writeFile(dir.file("empty.pdf"), pdf));
  EXPECT_EQ(qpdfCheck(qpdf, dir.file("empty.pdf")), "");
}

TEST(PDFDocument, UpdateNumberingKidsAndTrailer)
{
  for (int pagesRef : {41, -41}) {
    std::ostringstream s;
    {
      PDFContext context(&s, "x", "ab", "", 1234, 41, pagesRef, 3);
      context.beginPage(100, 200);
      context.beginPage(100, 200);
    }
    const std::string pdf = s.str();
    // info 42, tree 43, catalog 44, pages 45 and 48 with content and length.
    EXPECT_EQ(pdf.find("%PDF"), std::string::npos);
    EXPECT_NE(pdf.find("xref\n42 9\n"), std::string::npos);
    EXPECT_EQ(pdf.find(" f \n"), std::string::npos);
    EXPECT_NE(pdf.find("trailer<</Size 51/Root 44 0 R/Prev 1234/Info 42 0 R/ID[<6162>]>>"),
              std::string::npos);
    EXPECT_NE(pdf.find(pagesRef > 0 ? "/Count 5/Kids[41 0 R 45 0 R 48 0 R]"
                                    : "/Count 5/Kids[45 0 R 48 0 R 41 0 R]"),
              std::string::npos)
      << pdf;
    EXPECT_NE(pdf.find("45 0 obj\n<</Type/Page/Parent 43 0 R/MediaBox[0 0 100 200]/Contents 46 0 R"),
              std::string::npos);
  }
}

TEST(PDFDocument, StreamLengthsAndOffsetsMatchTheBytes)
{
  std::ostringstream s;
  {
    PDFCodec writer(&s, "t", "id-one", "id-two");
    writer.beginPage(300, 400);
    writer.moveTo(10, 10);
    writer.addLineTo(100, 100);
    writer.showPath(PDFCodec::fill_non_zero);
    writer.beginPage(300, 400);
  }
  const std::string pdf = s.str();
  EXPECT_NE(pdf.find("/ID[<69642d6f6e65><69642d74776f>]"), std::string::npos);
  // Every stream's length object follows it and holds its byte count.
  int streams = 0;
  for (size_t at = pdf.find(">>stream\n"); at != std::string::npos;
       at = pdf.find(">>stream\n", at + 1), ++streams) {
    const size_t ref = pdf.rfind("/Length ", at);
    ASSERT_NE(ref, std::string::npos);
    const std::string lengthNumber = pdf.substr(ref + 8, pdf.find(' ', ref + 8) - ref - 8);
    const size_t start = at + 9;
    const size_t end = pdf.find("\nendstream \nendobj\n", start);
    ASSERT_NE(end, std::string::npos);
    const std::string lengthObj = lengthNumber + " 0 obj\n" + std::to_string(end - start) +
                                  "\nendobj\n";
    EXPECT_EQ(pdf.compare(end + 19, lengthObj.size(), lengthObj), 0) << lengthObj;
  }
  EXPECT_EQ(streams, 2);
  // Every table entry points at its object.
  const size_t xref = pdf.find("xref\n0 ");
  ASSERT_NE(xref, std::string::npos);
  const size_t count = std::stoul(pdf.substr(xref + 7));
  const size_t first = pdf.find('\n', xref + 5) + 1;
  for (size_t n = 1; n < count; ++n) {
    const size_t offset = std::stoul(pdf.substr(first + 20 * n, 10));
    EXPECT_EQ(pdf.compare(offset, std::to_string(n).size() + 7, std::to_string(n) + " 0 obj\n"), 0)
      << n;
  }
  EXPECT_NE(pdf.find("startxref\n" + std::to_string(xref) + "\n"), std::string::npos);
}

TEST(PDFDocument, PipeOutputGivesTheSameBytes)
{
  Image image = makeImage(40, 30, 1, 8);
  fillPattern(image);
  std::ostringstream seekable;
  ASSERT_TRUE(ImageCodec::Write(&seekable, image, "pdf", "pdf"));
  PipeBuf pipe;
  std::ostream piped(&pipe);
  ASSERT_EQ((long long)piped.tellp(), -1);
  ASSERT_TRUE(ImageCodec::Write(&piped, image, "pdf", "pdf"));
  EXPECT_EQ(pipe.str(), seekable.str());
}

TEST(PDFDocument, WriteFailuresAreReported)
{
  Image image = makeImage(64, 64, 1, 8);
  fillPattern(image);
  for (size_t room : {0, 20, 300}) {
    FullBuf full(room);
    std::ostream out(&full);
    EXPECT_FALSE(ImageCodec::Write(&out, image, "pdf", "pdf")) << room;

    FullBuf full2(room);
    std::ostream out2(&full2);
    PDFCodec writer(&out2, "t");
    writer.beginPage(10, 10);
    EXPECT_FALSE(writer.finish()) << room;
  }
  std::ostringstream fine;
  PDFCodec writer(&fine, "t");
  writer.beginPage(10, 10);
  EXPECT_TRUE(writer.finish());
}

// A decimal comma and thousands grouping, as a German locale has, without
// depending on which locales the system generated.
struct CommaNumbers : std::numpunct<char> {
  char do_decimal_point() const override { return ','; }
  char do_thousands_sep() const override { return '.'; }
  std::string do_grouping() const override { return "\3"; }
};

TEST(PDFDocument, NumbersIgnoreTheLocale)
{
  Image image = makeImage(1234, 7, 3, 8);
  fillPattern(image);
  image.resX = image.resY = 300;
  auto write = [&] {
    std::ostringstream s;
    PDFCodec writer(&s, "t");
    writer.beginPage(595.276, 841.89);
    writer.setLineWidth(0.5);
    writer.setFillColor(0.25, 0.5, 0.75);
    writer.showImage(image, 10.5, 20.25, 1234.5, 7.5);
    writer.finish();
    std::ostringstream one;
    ImageCodec::Write(&one, image, "pdf", "pdf");
    return s.str() + one.str();
  };
  const std::string plain = write();
  const std::locale previous =
    std::locale::global(std::locale(std::locale::classic(), new CommaNumbers));
  const char* c = setlocale(LC_NUMERIC, "de_DE.UTF-8");
  const std::string localised = write();
  std::locale::global(previous);
  setlocale(LC_NUMERIC, "C");
  EXPECT_EQ(localised, plain) << (c ? "" : "(no de_DE C locale)");
  EXPECT_NE(plain.find("/MediaBox[0 0 595.28 841.89]"), std::string::npos);
  EXPECT_NE(plain.find("/Width 1234/"), std::string::npos);
}
