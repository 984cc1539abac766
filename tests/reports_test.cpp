// Rich-text reports: the Report fragments of each dialog control merged into one
// RTF document in a temporary Control row; and the installation summary, one
// Report line per feature from a template row, with the feature list
// properties and, for administrative installations, ENABLE_DIALOGS.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "reports/rtf_report.h"
#include "tests/fixture.h"

#ifndef _WIN32
#include <unistd.h>

#include "winsim/control.h"
#endif

using namespace viduzo_test;

namespace {

// The start of every fragment, up to the font table's first entry.
const std::string H = R"({\rtf1\ansi\deff0{\fonttbl)";

struct ReportRow {
  const char* control;  // of dialog Dlg
  int order;
  const char* condition;
  std::string text;
};

// A package with a Report table and two report controls of dialog Dlg, A and B,
// whose next controls are the placeholders A_Template and B_Template.
void ReportPackage(Package& pkg, const std::vector<ReportRow>& rows) {
  pkg.Table("Control").Property("FOLDER", R"(C:\Program Files\Velmar\)");
  pkg.Sql("CREATE TABLE `Report` (`Dialog_` CHAR(72) NOT NULL, `Control_` CHAR(50) NOT NULL, "
          "`Order` SHORT NOT NULL, `Condition` CHAR(255), `Text` CHAR(0) PRIMARY KEY "
          "`Dialog_`, `Control_`, `Order`)");
  for (const char* c : {"A", "B"}) {
    std::string name = c;
    pkg.Sql("INSERT INTO `Control` (`Dialog_`, `Control`, `Type`, `X`, `Y`, `Width`, `Height`, "
            "`Attributes`, `Control_Next`, `Help`) VALUES ('Dlg', '" + name +
            "', 'ScrollableText', 10, 20, 300, 100, 6, '" + name + "_Template', 'Tip')");
    pkg.Sql("INSERT INTO `Control` (`Dialog_`, `Control`, `Type`, `X`, `Y`, `Width`, `Height`, "
            "`Control_Next`) VALUES ('Dlg', '" + name + "_Template', 'Text', 0, 0, 1, 1, '" +
            name + "')");
  }
  for (const ReportRow& r : rows)
    pkg.Sql(std::string("INSERT INTO `Report` (`Dialog_`, `Control_`, `Order`, `Condition`, "
                        "`Text`) VALUES ('Dlg', '") +
            r.control + "', " + std::to_string(r.order) + ", '" + r.condition + "', '" + r.text +
            "')");
}

// Merges one fragment for control A of dialog Dlg and places it, by hand.
bool WriteByHand(MSIHANDLE h, const std::string& fragment) {
  viduzo::ReportDocument doc;
  doc.database = MsiGetActiveDatabase(h);
  doc.install = h;
  doc.Open("Dlg", "A");
  viduzo::AddFragment(doc, fragment.c_str());
  bool placed = viduzo::WriteReportControl(doc);
  MsiCloseHandle(doc.database);
  return placed;
}

// The Control rows of dialog Dlg, every column as text.
Rows Controls(MSIHANDLE h) { return QueryRows(h, "SELECT * FROM `Control`"); }

// The row a placed report makes: the report control's place and attributes
// with the visible bit, under the placeholder's name, showing the document.
std::vector<std::string> Placed(const char* control, const std::string& document) {
  return {"Dlg", std::string(control) + "_Template", "ScrollableText", "10", "20", "300", "100",
          "7", "", document, control, "Tip"};
}

#ifndef _WIN32
// A real RTF reader's view of a document: the text that unrtf reads from it,
// blanks and line ends collapsed (a failed read shows as "unrtf failed").
std::string UnrtfText(const std::string& document) {
  std::string path = "/tmp/vdzrtf" + std::to_string(getpid()) + ".rtf";
  std::ofstream(path, std::ios::binary) << document;
  FILE* pipe = popen(("(unrtf --text " + path + " 2>&1 || echo unrtf failed) | sed "
                      "'1,/^-----------------$/d' | tr -s ' \\r\\n' '   '").c_str(), "r");
  std::string text;
  for (int c; pipe && (c = fgetc(pipe)) != EOF;) text += static_cast<char>(c);
  if (pipe) pclose(pipe);
  std::remove(path.c_str());
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text.substr(text.find_first_not_of(' ') == std::string::npos ? text.size() : text.find_first_not_of(' '));
}

// Braces of a document balance: every group it opens it closes, and no more.
bool Balanced(const std::string& rtf) {
  int depth = 0;
  for (size_t i = 0; i < rtf.size(); ++i) {
    if (rtf[i] == '\\') ++i;
    else if (rtf[i] == '{') ++depth;
    else if (rtf[i] == '}' && --depth < 0) return false;
  }
  return depth == 0;
}
#endif

}  // namespace

TEST(RtfReport, MergesTheFragmentsOfEachControl) {
  const std::string arial = R"({\f0\fswiss\fcharset0 Arial;})";
  const std::string red = R"({\colortbl ;\red255\green0\blue0;})";
  const std::string gen = R"({\*\generator Msftedit 5.41;})";
  const struct {
    const char* title;
    std::vector<ReportRow> rows;
    std::string documentA;  // "" when A gets no document
    std::string textA;      // what a reader shows of it
  } cases[] = {
      {"two fragments: a colored Arial one and a Courier one without colors",
       {{"A", 1, "", H + arial + "}" + red + gen + R"(\viewkind4\uc1\pard\cf1\f0\fs20 Hello\par})"},
        {"A", 2, "", H + R"({\f0\fmodern\fcharset0 Courier New;}})" + gen +
                         R"(\viewkind4\uc1\pard\f0\fs20 World\par})"}},
       H + arial + R"({\f1\fmodern\fcharset0 Courier New;}})" + red +
           R"(\viewkind4\uc1\pard\cf1\f0\fs20 Hello\viewkind4\uc1\pard\cf0\f1\fs20 World})",
       "HelloWorld"},
      {"shared fonts and colors under other numbers",
       {{"A", 1, "", H + R"({\f0\fswiss Arial;}{\f1\froman Times;}})" + red +
                         R"(\viewkind4\pard\cf1\f1 A\f0 B\par})"},
        {"A", 2, "", H + R"({\f0\fmodern Courier;}{\f3\fswiss Arial;}}{\colortbl ;\red0\green0\blue255;\red255\green0\blue0;})" +
                         R"(\viewkind4\pard\cf2\f3 C\cf0\cf1\f0 D\par})"}},
       H + R"({\f0\fswiss Arial;}{\f1\froman Times;}{\f2\fmodern Courier;}}{\colortbl ;\red255\green0\blue0;\red0\green0\blue255;})" +
           R"(\viewkind4\pard\cf1\f1 A\f0 B\viewkind4\pard\cf1\f0 C\cf0\cf2\f2 D})",
       "ABCD"},
      {"escaped backslashes, associated fonts, words that are not renumbered",
       {{"A", 1, "", H + R"({\f0\froman Times;}}\viewkind4\pard\f0 T\par})"},
        {"A", 2, "", H + R"({\f0\fswiss Arial;}})" +
                         R"(\viewkind4\pard\f0 C:\\f0 and \\\f0 x\af0\f00\fs20\cf1 y\par})"}},
       H + R"({\f0\froman Times;}{\f1\fswiss Arial;}})" +
           R"(\viewkind4\pard\cf0\f0 T\viewkind4\pard\cf0\f1 C:\\f0 and \\\f1 x\af1\f00\fs20\cf1 y})",
       R"(TC:\f0 and \xy)"},
      {"property references, nested ones, a folder path, RTF inside the reference text",
       {{"A", 1, "", H + arial + "}" +
                         R"(\viewkind4\pard\f0 [PROP1], [[PROPINPROP]] in [FOLDER] \b [PROP9]bold\b0\par})"}},
       H + arial + "}" +
           R"(\viewkind4\pard\cf0\f0 Property 1, Property 2 in C:\\Program Files\\Velmar\\ \b bold\b0})",
       R"(Property 1, Property 2 in C:\Program Files\Velmar\ bold)"},
      {"conditions: false ones leave their fragment out",
       {{"A", 1, "0", H + arial + R"(}\viewkind4\pard\f0 zero\par})"},
        {"A", 2, "PROP1", H + arial + R"(}\viewkind4\pard\f0 one\par})"},
        {"A", 3, "NOSUCH", H + arial + R"(}\viewkind4\pard\f0 two\par})"},
        {"A", 4, "PROP2 = \"Property 2\"", H + arial + R"(}\viewkind4\pard\f0 three\par})"},
        {"A", 5, "  ", H + arial + R"(}\viewkind4\pard\f0 four\par})"}},
       H + arial + R"(}\viewkind4\pard\cf0\f0 one\viewkind4\pard\cf0\f0 three\viewkind4\pard\cf0\f0 four})",
       "onethreefour"},
      {"a group whose fragments are all unusable or left out changes no control",
       {{"A", 1, "", R"({\rtf1 no font table\par})"}, {"A", 2, "0", H + arial + "}"}},
       "",
       ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.title);
    Package pkg;
    std::vector<ReportRow> rows = c.rows;
    rows.push_back({"B", 1, "", H + R"({\f9\fnil Other;}{\f8\fswiss\fcharset0 Arial;}})" +
                                    R"({\colortbl ;\blue7;\red255\green0\blue0;}\viewkind4\pard\f9 b\f8 c\cf2 d\par})"});
    ReportPackage(pkg, rows);
    MSIHANDLE h = pkg.Open();
    Rows before = Controls(h);
    EXPECT_EQ(CallAction(h, "GenerateRtfFromReportTable"), 0u);
    Rows expected = before;
    std::erase_if(expected, [&](const auto& row) {
      return row[1] == "B_Template" || (!c.documentA.empty() && row[1] == "A_Template");
    });
    if (!c.documentA.empty()) expected.push_back(Placed("A", c.documentA));
    // B's fonts and colors are its own, whatever A's were.
    expected.push_back(Placed("B", H + R"({\f0\fnil Other;}{\f1\fswiss\fcharset0 Arial;}})" +
                                       R"({\colortbl ;\blue7;\red255\green0\blue0;}\viewkind4\pard\cf0\f0 b\f1 c\cf2 d})"));
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Controls(h), expected);
    EXPECT_EQ(GetProp(h, "FeatureReportFeature"), "\"Feature Name\"");
    EXPECT_EQ(GetProp(h, "FeatureReportState"), "\"Feature State\"");
#ifndef _WIN32
    if (!c.documentA.empty()) {
      EXPECT_TRUE(Balanced(c.documentA));
      EXPECT_EQ(UnrtfText(c.documentA), c.textA);
    }
#endif
  }
}

TEST(RtfReport, ReportControlsThatGetNoDocument) {
  const std::string fragment = H + R"({\f0\fnil Arial;}}\viewkind4\pard\f0 x\par})";
  const std::string columns =
      "INSERT INTO `Control` (`Dialog_`, `Control`, `Type`, `X`, `Y`, `Width`, `Height`";
  const struct {
    const char* title;
    std::string insert;   // the report control A as the package has it, or ""
    const char* deleted;  // the control row that goes, or ""
  } cases[] = {
      {"next control without _Template: it is deleted, nothing replaces it",
       columns + ", `Attributes`, `Control_Next`) VALUES ('Dlg', 'A', 'Text', 1, 2, 3, 4, 5, 'A_Other')",
       "A_Other"},
      {"report control without attributes",
       columns + ", `Control_Next`) VALUES ('Dlg', 'A', 'Text', 1, 2, 3, 4, 'A_Template')", ""},
      {"report control without a next control",
       columns + ", `Attributes`) VALUES ('Dlg', 'A', 'Text', 1, 2, 3, 4, 5)", ""},
      {"no report control", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.title);
    Package pkg;
    ReportPackage(pkg, {{"A", 1, "", fragment}});
    pkg.Sql(columns + ") VALUES ('Dlg', 'A_Other', 'Text', 0, 0, 1, 1)");
    pkg.Sql("DELETE FROM `Control` WHERE `Control`='A'");
    if (!c.insert.empty()) pkg.Sql(c.insert);
    MSIHANDLE h = pkg.Open();
    Rows expected = Controls(h);
    std::erase_if(expected, [&](const auto& row) { return row[1] == c.deleted; });
    EXPECT_EQ(CallAction(h, "GenerateRtfFromReportTable"), 0u);
    EXPECT_FALSE(WriteByHand(h, fragment));
    EXPECT_EQ(Controls(h), expected);
  }
}

TEST(RtfReport, ASecondRunReplacesThePlacedControl) {
  Package pkg;
  ReportPackage(pkg, {{"A", 1, "", H + R"({\f0\fnil Arial;}}\viewkind4\pard\f0 [FOLDER]\par})"}});
  MSIHANDLE h = pkg.Open();
  SetProp(h, "FOLDER", "first");
  EXPECT_EQ(CallAction(h, "GenerateRtfFromReportTable"), 0u);
  SetProp(h, "FOLDER", "second");
  EXPECT_EQ(CallAction(h, "GenerateRtfFromReportTable"), 0u);
  EXPECT_EQ(QueryRows(h, "SELECT `Text` FROM `Control` WHERE `Control`='A_Template'"),
            (Rows{{H + R"({\f0\fnil Arial;}}\viewkind4\pard\cf0\f0 second})"}}));
  EXPECT_TRUE(WriteByHand(h, H + R"({\f0\fnil Arial;}}\viewkind4\pard\f0 third\par})"));
  EXPECT_EQ(QueryRows(h, "SELECT `Text` FROM `Control` WHERE `Control`='A_Template'"),
            (Rows{{H + R"({\f0\fnil Arial;}}\viewkind4\pard\cf0\f0 third})"}}));
}

TEST(RtfReport, WithoutReportTableOrDatabase) {
  Package pkg;
  pkg.Table("Control");
  MSIHANDLE h = pkg.Open();
  EXPECT_EQ(CallAction(h, "GenerateRtfFromReportTable"), 1u);
  EXPECT_EQ(GetProp(h, "PROP1"), "Property 1");
  EXPECT_EQ(CallAction(0, "GenerateRtfFromReportTable"), 1u);
  viduzo::ReportDocument empty;
  EXPECT_FALSE(viduzo::WriteReportControl(empty));  // nothing merged: nothing to place
  Package bare;  // no Control table
  EXPECT_FALSE(WriteByHand(bare.Open(), H + R"({\f0\fnil A;}}\viewkind4 \f0 x\par})"));
}

// The limits of one document and of one fragment, at the merge itself.
TEST(RtfReport, Limits) {
  // Font entry i of a fragment, named N<i>, numbered i + shift.
  auto fonts = [](int count, int shift) {
    std::string table;
    for (int i = 0; i < count; ++i)
      table += "{\\f" + std::to_string(i + shift) + "\\fnil N" + std::to_string(i) + ";}";
    return table;
  };
  auto colors = [](int count) {
    std::string table;
    for (int i = 1; i <= count; ++i) table += "\\red" + std::to_string(i) + ";";
    return table;
  };
  const std::string A = "{\\f0\\fnil A;}";
  const std::string y115(115, 'y'), x116(116, 'x'), z117(117, 'z');
  const struct {
    const char* title;
    std::vector<std::string> fragments;
    std::string document;
    const char* added = "";  // AddFragment's result for each fragment: 1 true, 0 false
  } cases[] = {
      {"129 fonts in a fragment: the 129th gets its entry but is not mapped",
       {H + "{\\f0\\fnil Base;}}\\viewkind4 \\f0 b\\par}",
        H + fonts(129, 0) + "}\\viewkind4 \\f127 x\\f128 y\\par}"},
       H + "{\\f0\\fnil Base;}" + fonts(129, 1) +
           "}\\viewkind4 \\cf0\\f0 b\\viewkind4 \\cf0\\f128 x\\f128 y}"},
      {"129 colors in a fragment: the 129th gets its entry but is not mapped",
       {H + A + "}{\\colortbl ;\\red0;}\\viewkind4 \\cf1\\f0 a\\par}",
        H + A + "}{\\colortbl ;" + colors(129) + "}\\viewkind4 \\cf128 x\\cf129 y\\par}"},
       H + A + "}{\\colortbl ;\\red0;" + colors(129) +
           "}\\viewkind4 \\cf0\\cf1\\f0 a\\viewkind4 \\cf0\\cf129 x\\cf129 y}"},
      {"font groups of 127, 128 and 129 characters",
       {H + A + "{\\f6\\fnil " + y115 + ";}{\\f7\\fnil " + x116 +
            ";}}\\viewkind4 \\f0 a\\f6 b\\f7 c\\par}",
        H + "{\\f0\\fnil C;}{\\f1\\fnil " + z117 + ";}{\\f2\\fnil D;}}\\viewkind4 \\f0 q\\par}"},
       H + A + "{\\f1\\fnil " + y115 + ";}{\\f2\\fnil C;}}\\viewkind4 \\cf0\\f0 a\\f1 b\\f7 c}", "10"},
      {"source words of 7 and 8 characters, numbers of 4 and 5 digits, leading zeros, a final "
       "number",
       {H + "{\\f0001\\fnil G;}{\\f01234\\fnil E;}{\\f012345\\fnil F;}{\\f0123\\fnil H;}" +
        "{\\f\\fnil I;}{\\f0001\\fnil J;}}\\viewkind4\\cf0 \\f0001 g\\f1 h\\f01234 i\\fs2\\f0001;j\\f0001"},
       H + "{\\f0\\fnil G;}{\\f1\\fnil E;}{\\f2\\fnil H;}{\\f3\\fnil I;}{\\f4\\fnil J;}}" +
           "\\viewkind4\\cf0 \\f0 g\\f1 h\\f01234 i\\fs2\\f0;j\\f0001}"},
      {"escaped braces inside a font group; an escaped backslash before a color table",
       {H + "{\\f0\\fnil Odd\\}\\{name;}{\\f1\\fnil Back\\\\}}\\\\\\colortbl ;\\red1;}\\viewkind4 \\cf1\\f0 a\\par}"},
       H + "{\\f0\\fnil Odd\\}\\{name;}{\\f1\\fnil Back\\\\}}{\\colortbl ;\\red1;}\\viewkind4 \\cf0\\cf1\\f0 a}"},
      {"color definitions of 128 and 129 characters, one ended by a brace",
       {H + A + "}{\\colortbl ;\\red" + std::string(123, '1') + ";\\green" +
            std::string(122, '2') + ";}\\viewkind4 \\cf1 a\\cf2 b\\par}",
        H + A + "}{\\colortbl ;\\blue9}\\viewkind4 \\cf1 c;\\par}",
        H + A + "}{\\colortbl ;\\green9{;}\\viewkind4 \\cf1 d\\par}"},
       H + A + "}{\\colortbl ;\\red" + std::string(123, '1') +
           ";}\\viewkind4 \\cf0\\cf1 a\\cf2 b\\viewkind4 \\cf1 c;\\viewkind4 \\cf1 d}"},
      {"a color table numbered from 0; one whose blank is followed by no default entry",
       {H + A + "}{\\colortbl\\red1;\\red2;}\\viewkind4\\cf0 x\\cf1 y\\cb1 z\\par}",
        H + A + "}{\\colortbl x;\\red3;}\\viewkind4\\cf0 z\\par}"},
       H + A + "}{\\colortbl ;\\red1;\\red2;}\\viewkind4\\cf1 x\\cf2 y\\cb1 z\\viewkind4\\cf0 z}"},
      {"escaped table words, a body without a blank, unterminated fragments",
       {H + A + "}\\\\colortbl\\red1;\\\\viewkind4 \\cf1 x\\par}", H + "{\\f1\\fnil B;}}\\viewkind4\\f1",
        H + "{\\f2\\fnil C;}", H + "{\\f3\\fnil D;", H + "{\\f4\\fnil E;}{", "{\\rtf1{\\fonttbl",
        "{\\rtf1{\\fonttbl}", "{\\rtf1 plain}"},
       H + A + "{\\f1\\fnil B;}{\\f2\\fnil C;}{\\f3\\fnil E;}}}", "00000000"},
      {"the end of a body: its last paragraph mark goes, or else its closing brace",
       {H + A + "}\\viewkind4 \\f0 a} \t\r\n", H + A + "}\\viewkind4 \\f0 b\\par\\pard}",
        H + A + "}\\viewkind4 \\f0 c\\b}x"},
       H + A + "}\\viewkind4 \\cf0\\f0 a\\viewkind4 \\cf0\\f0 b\\par\\viewkind4 \\cf0\\f0 c\\b}x}"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.title);
    viduzo::ReportDocument doc;
    doc.Open("Dlg", "A");
    std::string added;
    for (const std::string& fragment : c.fragments) {
      added += viduzo::AddFragment(doc, fragment.c_str()) ? "1" : "0";
      doc.ClearMaps();
    }
    EXPECT_EQ(doc.Document(), c.document);
    if (*c.added) {
      EXPECT_EQ(added, c.added);
    }
  }

  // 2048 font entries, color entries and body pieces per document: one that
  // fills up in a fragment takes no more from it, and a fragment that finds
  // one of them full adds nothing at all.
  const std::string filling =
      H + "{\\f0\\fnil New1;}{\\f1\\fnil New2;}}{\\colortbl ;\\blue1;\\blue2;}" +
      "\\viewkind4 \\cf1\\f0 a\\f1 b\\cf2 c\\par}";
  const struct {
    const char* title;
    std::string (*fragment)(int i);
    int before;
    size_t fonts, colors, body;
    std::string end;
  } full[] = {
      {"fonts", [](int i) { return H + "{\\f0\\fnil F" + std::to_string(i) + ";}}"; }, 2047,
       2048, 3, 7, "}{\\colortbl ;\\blue1;\\blue2;}\\viewkind4 \\cf0\\cf1\\f2047 a\\f1 b\\cf2 c}"},
      {"colors",
       [](int i) { return H + "{\\f0\\fnil A;}}{\\colortbl ;\\red" + std::to_string(i) + ";}"; },
       2046, 3, 2048, 7, "\\blue1;}\\viewkind4 \\cf0\\cf2047\\f1 a\\f2 b\\cf2 c}"},
      {"body", [](int) { return H + "{\\f0\\fnil A;}}\\viewkind4 x\\par}"; }, 2046, 3, 3, 2048,
       "\\viewkind4 x\\viewkind4 \\cf0}"},
      {"body, one more before", [](int) { return H + "{\\f0\\fnil A;}}\\viewkind4 x\\par}"; },
       2047, 3, 3, 2048, "\\viewkind4 x\\viewkind4 }"},
      {"body, one fewer before", [](int) { return H + "{\\f0\\fnil A;}}\\viewkind4 x\\par}"; },
       2045, 3, 3, 2048, "\\viewkind4 x\\viewkind4 \\cf0\\cf1}"},
  };
  for (const auto& f : full) {
    SCOPED_TRACE(f.title);
    viduzo::ReportDocument doc;
    doc.Open("Dlg", "A");
    for (int i = 0; i < f.before; ++i) {
      viduzo::AddFragment(doc, f.fragment(i).c_str());
      doc.ClearMaps();
    }
    EXPECT_EQ(viduzo::AddFragment(doc, filling.c_str()), f.body < 2048);
    doc.ClearMaps();
    EXPECT_EQ(doc.fonts.size(), f.fonts);
    EXPECT_EQ(doc.colors.size(), f.colors);
    EXPECT_EQ(doc.body.size(), f.body);
    std::string document = doc.Document();
    EXPECT_EQ(document.substr(document.size() - std::min(document.size(), f.end.size())), f.end);
    EXPECT_FALSE(viduzo::AddFragment(
        doc, (H + "{\\f0\\fnil New;}}{\\colortbl ;\\green1;}\\viewkind4 \\cf1\\f0 new\\par}").c_str()));
    EXPECT_EQ(doc.Document(), document);
  }
}

TEST(RtfReport, CopyControlRecordNeedsPlaceSizeAndAttributes) {
  for (UINT empty : {0u, 4u, 8u}) {  // an empty integer field, 0 for none
    SCOPED_TRACE(empty);
    HandleCheck check;
    MSIHANDLE row = MsiCreateRecord(12), copy = 0;
    const char* texts[] = {"", "Dlg", "A", "Scroll", "", "", "", "", "", "Prop", "old", "Next", "Tip"};
    for (UINT f = 1; f <= 12; ++f) MsiRecordSetStringA(row, f, texts[f]);
    for (UINT f = 4; f <= 8; ++f)
      if (f != empty) MsiRecordSetInteger(row, f, static_cast<int>(f * 10));
    std::vector<std::string> fields;
    if ((copy = viduzo::CopyControlRecord(row, "A_Template")) != 0)
      for (UINT f = 1; f <= MsiRecordGetFieldCount(copy); ++f) {
        char buffer[32] = "";
        DWORD size = sizeof buffer;
        MsiRecordGetStringA(copy, f, buffer, &size);
        fields.push_back(buffer);
      }
    const std::vector<std::string> copied = {"Dlg", "A_Template", "Scroll", "40", "50", "60",
                                             "70",  "80",         "Prop",   "",   "Next", "Tip"};
    EXPECT_EQ(copy != 0, empty == 0);
    EXPECT_EQ(fields, empty ? std::vector<std::string>() : copied);
    MsiCloseHandle(copy);
    MsiCloseHandle(row);
  }
}

// ---- the installation summary ------------------------------------------------------

namespace {

const char kProductCode[] = "{2D5E8A17-9C40-4B6F-A3E1-70B8C2D94F56}";
// The template row's line: a whole RTF fragment naming the two properties.
const std::string kLine =
    H + R"({\f0\fswiss Arial;}}\viewkind4\pard\f0 [FeatureReportFeature]: [FeatureReportState]\par})";

struct SummaryFeature {
  std::string key, parent, title;
  int display, level, attributes;
};

// A package with the costing tables, the features, a ListBox table and a
// dialog mapping.
void SummaryFeatures(Package& pkg, const std::vector<SummaryFeature>& features) {
  pkg.Table("Feature").Table("Component").Table("FeatureComponents").Table("Directory");
  pkg.Table("File").Table("ListBox").Property("ProductCode", kProductCode);
  pkg.Sql("INSERT INTO `Directory` (`Directory`, `Directory_Parent`, `DefaultDir`) VALUES "
          "('TARGETDIR', '', 'SourceDir')");
  pkg.Sql("CREATE TABLE `VmrDialogMapping` (`Dialog` CHAR(72) NOT NULL, `Order` SHORT, "
          "`EnableKey` CHAR(72), `DisplayText` CHAR(255) PRIMARY KEY `Dialog`)");
  pkg.Sql("INSERT INTO `VmrDialogMapping` (`Dialog`, `Order`, `EnableKey`, `DisplayText`) "
          "VALUES ('WelcomeDlg', 1, 'WELCOME', 'Welcome')");
  for (const SummaryFeature& f : features)
    pkg.Sql("INSERT INTO `Feature` (`Feature`, `Feature_Parent`, `Title`, `Display`, `Level`, "
            "`Attributes`) VALUES ('" + f.key + "', '" + f.parent + "', '" + f.title + "', " +
            std::to_string(f.display) + ", " + std::to_string(f.level) + ", " +
            std::to_string(f.attributes) + ")");
}

// With a Report table holding the template of control A (Order 10), a row
// before it, a line of an earlier run after it and a row of control B.
void SummaryPackage(Package& pkg, const std::vector<SummaryFeature>& features) {
  SummaryFeatures(pkg, features);
  ReportPackage(pkg, {{"A", 5, "", "before"},
                      {"A", 10, "featurereport AND NOT Installed", kLine},
                      {"A", 50, "", "earlier run"},
                      {"B", 50, "", "other control"}});
}

// The Report rows after the template, as order, condition and line text.
Rows SummaryLines(MSIHANDLE h) {
  return QueryRows(h, "SELECT `Order`, `Condition`, `Text` FROM `Report` WHERE "
                      "`Control_`='A' AND `Order`>10");
}

// Adds a feature row after costing: the engine knows no state of it.
void AddUnknownFeature(MSIHANDLE h) {
  MSIHANDLE db = MsiGetActiveDatabase(h), view = 0;
  MsiDatabaseOpenViewA(db, "SELECT * FROM `Feature`", &view);
  MsiViewExecute(view, 0);
  MSIHANDLE row = MsiCreateRecord(8);
  MsiRecordSetStringA(row, 1, "Unknown");
  MsiRecordSetStringA(row, 3, "Unknown");
  MsiRecordSetInteger(row, 5, 1);
  MsiRecordSetInteger(row, 6, 1);
  MsiRecordSetInteger(row, 8, 0);
  EXPECT_EQ(MsiViewModify(view, MSIMODIFY_INSERT_TEMPORARY, row), 0u);
  for (MSIHANDLE x : {row, view, db}) MsiCloseHandle(x);
}

std::string Line(const std::string& title, const std::string& state) {
  return H + R"({\f0\fswiss Arial;}}\viewkind4\pard\f0 )" + title + ": " + state + R"(\par})";
}

}  // namespace

TEST(InstallSummary, OneLinePerFeatureAfterTheTemplate) {
  Package pkg;
  SummaryPackage(pkg, {{"Suite", "", "Suite", 1, 1, 0},
                       {"Later", "Suite", "Later", 1, 200, 0},
                       {"Hidden", "", "Hidden", 0, 1, 0},
                       {"Src", "", "Src", 1, 1, 0},
                       {"Adv", "", "Adv", 1, 1, 0},
                       {"Untitled", "", "", 1, 1, 0},
                       {"Tools", "", R"(Tools\Extra)", 1, 1, 0}});
  MSIHANDLE h = pkg.Open();
  Cost(h);
  ASSERT_EQ(MsiSetFeatureStateA(h, "Src", INSTALLSTATE_SOURCE), 0u);
  ASSERT_EQ(MsiSetFeatureStateA(h, "Adv", INSTALLSTATE_ADVERTISED), 0u);
  AddUnknownFeature(h);
  SetProp(h, "InstallSourceText", R"(From {source})");
  SetProp(h, "VMR_REMOVE", "stale,");

  for (int run = 1; run <= 2; ++run) {
    SCOPED_TRACE(run);
    EXPECT_EQ(CallAction(h, "SetInstallSummaryReport"), 0u);
    EXPECT_EQ(SummaryLines(h),
              (Rows{{"11", "NOT Installed", Line("Suite", "Local")},
                    {"12", "NOT Installed", Line("Later", "Absent")},
                    {"13", "NOT Installed", Line("Src", R"(From \{source\})")},
                    {"14", "NOT Installed", Line("Adv", "Advertised")},
                    {"15", "NOT Installed",
                     Line("Could not retrieve Feature.Title for Feature", "Local")},
                    {"16", "NOT Installed", Line(R"(Tools\\Extra)", "Local")},
                    {"17", "NOT Installed", Line("Unknown", "No Feature State")}}));
    EXPECT_EQ(QueryRows(h, "SELECT `Order`, `Text` FROM `Report` WHERE `Order`<=10 OR "
                           "`Control_`='B'"),
              (Rows{{"10", kLine}, {"5", "before"}, {"50", "other control"}}));
    EXPECT_EQ(GetProp(h, "VMR_ADDLOCAL"), "Suite,Untitled,Tools,");
    EXPECT_EQ(GetProp(h, "VMR_ADDSOURCE"), "Src,");
    EXPECT_EQ(GetProp(h, "VMR_ADVERTISE"), "Adv,");
    EXPECT_EQ(GetProp(h, "VMR_REMOVE"), "");
    EXPECT_EQ(GetProp(h, "FeatureReportFeature"), "Unknown");
    EXPECT_EQ(GetProp(h, "FeatureReportState"), "No Feature State");
  }

  // The summary lines are report fragments: the template is left out by its
  // condition, the lines follow one another in one document.
  EXPECT_EQ(CallAction(h, "GenerateRtfFromReportTable"), 0u);
  std::string body = R"(\viewkind4\pard\cf0\f0 )";
  std::string document = H + R"({\f0\fswiss Arial;}})" + body + "Suite: Local" + body +
                         "Later: Absent" + body + R"(Src: From \{source\})" + body +
                         "Adv: Advertised" + body +
                         "Could not retrieve Feature.Title for Feature: Local" + body +
                         R"(Tools\\Extra: Local)" + body + "Unknown: No Feature State}";
  EXPECT_EQ(QueryRows(h, "SELECT `Text` FROM `Control` WHERE `Control`='A_Template'"),
            (Rows{{document}}));
#ifndef _WIN32
  // A line the engine refuses is left out; the next one takes its Order.
  winsim::FailRowInsert("Report", 5, Line("Later", "Absent"));
  EXPECT_EQ(CallAction(h, "SetInstallSummaryReport"), 0u);
  winsim::ResetRowInsertFailures();
  EXPECT_EQ(SummaryLines(h).size(), 6u);
  EXPECT_EQ(SummaryLines(h)[1], (std::vector<std::string>{"12", "NOT Installed", Line("Src", R"(From \{source\})")}));
  EXPECT_EQ(UnrtfText(document),
            R"(Suite: LocalLater: AbsentSrc: From {source}Adv: AdvertisedCould not retrieve )"
            R"(Feature.Title for Feature: LocalTools\Extra: LocalUnknown: No Feature State)");
#endif
}

TEST(InstallSummary, TemplateIdentifiersAndMissingTemplates) {
  const struct {
    const char* title;
    const char* id;          // ReportTemplateID
    const char* condition;   // of the template row
    const char* text;        // of the template row
    std::string condRest;    // of the lines, or "-" when none are written
  } cases[] = {
      {"own identifier, alone", "MyLines", "MYLINES", "[MyLinesFeature] is [MyLinesState]", ""},
      {"own identifier with a condition", "MyLines", "MyLines AND A AND B",
       "[MyLinesFeature] is [MyLinesState]", "A AND B"},
      {"no row begins with the identifier", "Other", "MyLines", "x", "-"},
      {"template without text", "MyLines", "MyLines", "", "-"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.title);
    Package pkg;
    SummaryPackage(pkg, {{"Suite", "", "Suite", 1, 1, 0}});
    pkg.Property("ReportTemplateID", c.id);
    pkg.Sql(std::string("INSERT INTO `Report` (`Dialog_`, `Control_`, `Order`, `Condition`, "
                        "`Text`) VALUES ('Dlg', 'C', 1, '") + c.condition + "', '" + c.text + "')");
    MSIHANDLE h = pkg.Open();
    Cost(h);
    EXPECT_EQ(CallAction(h, "SetInstallSummaryReport"), 0u);
    Rows expected;
    if (c.condRest != "-") expected = {{"2", c.condRest, "Suite is Local"}};
    EXPECT_EQ(QueryRows(h, "SELECT `Order`, `Condition`, `Text` FROM `Report` WHERE "
                           "`Control_`='C' AND `Order`>1"),
              expected);
    EXPECT_EQ(SummaryLines(h), (Rows{{"50", "", "earlier run"}}));
    EXPECT_EQ(GetProp(h, "VMR_ADDLOCAL"), c.condRest == "-" && c.text[0] ? "" : "Suite,");
  }
}

TEST(InstallSummary, AdministrativeInstallation) {
  const std::string list = "INSERT INTO `ListBox` (`Property`, `Order`, `Value`, `Text`) VALUES ";
  Package pkg;
  SummaryPackage(pkg, {{"Suite", "", "Suite", 1, 1, 0},
                       {"Client", "Suite", "Client", 1, 1, 0},
                       {"Other", "", "Other", 1, 1, 0},
                       {"Plain", "", "Plain", 1, 200, 0},
                       {"Untitled", "", "", 1, 1, 0}});
  pkg.Sql(list + "('RemoveFeatureListBox12', 1, 'Suite', 'Suite listed')");
  pkg.Sql("INSERT INTO `ListBox` (`Property`, `Order`, `Value`) VALUES "
          "('RemoveFeatureListBox21', 2, 'Suite\\Client')");
  // Lists outside the four feature lists and the four dialog lists count for nothing.
  for (const char* other : {"10", "13", "31", "01"}) {
    pkg.Sql(list + "('RemoveFeatureListBox" + other + "', 1, 'Other', 'Other listed')");
    pkg.Sql(list + "('DialogListBox" + other + "', 1, 'Other', 'Other')");
  }
  pkg.Sql(list + "('DialogListBox11', 1, 'Welcome', 'Welcome')");
  pkg.Sql(list + "('DialogListBox12', 2, 'License', 'License')");
  pkg.Sql("INSERT INTO `ListBox` (`Property`, `Order`, `Value`) VALUES ('DialogListBox12', 4, 'Untitled')");
  pkg.Sql(list + "('DialogListBox21', 3, 'Finish', 'Finish')");
  pkg.Property("InstallLocallyText", "Here");
  MSIHANDLE h = pkg.Open();
  Cost(h);
  SetProp(h, "ACTION", "ADMIN");
  const std::string untitled = "Could not retrieve Feature.Title for Feature";
  for (int run = 0; run < 3; ++run) {  // defaults, a text of the admin column set, a sample shown
    SCOPED_TRACE(run);
    if (run == 1) SetProp(h, "AdminDisabledText", "Off");
    if (run == 2) SetProp(h, "DisplaySampleDialog", "1");
    SetProp(h, "ENABLE_DIALOGS", "stale");
    EXPECT_EQ(CallAction(h, "SetInstallSummaryReport"), 0u);
    Rows lines;
    if (run == 2)
      lines = {{"11", "NOT Installed", Line("Suite", "Here")},
               {"12", "NOT Installed", Line("Client", "Here")},
               {"13", "NOT Installed", Line("Other", "Here")},
               {"14", "NOT Installed", Line("Plain", "Absent")},
               {"15", "NOT Installed", Line(untitled, "Here")}};
    else
      lines = {{"11", "NOT Installed", Line("Suite listed", run ? "Off" : "Disabled")},
               {"12", "NOT Installed",
                Line("Could not retrieve Listbox.Text for Feature during Admin",
                     "Scheduled To Be Removed")},
               {"13", "NOT Installed", Line("Other", "Local")},
               {"14", "NOT Installed", Line("Plain", "Absent")},
               {"15", "NOT Installed", Line(untitled, "Local")}};
    EXPECT_EQ(SummaryLines(h), lines);
    EXPECT_EQ(GetProp(h, "VMR_ADDLOCAL"), run == 2 ? "Suite,Client,Other,Untitled," : "Other,Untitled,");
    EXPECT_EQ(GetProp(h, "VMR_REMOVE"), run == 2 ? "" : "Client,");
    EXPECT_EQ(GetProp(h, "ENABLE_DIALOGS"), "Welcome,WELCOME,License,");
  }

  // ENABLE_DIALOGS from the dialog lists: shown lists 1x, hidden lists 2x.
  const struct {
    std::vector<std::string> rows;
    const char* action;
    const char* enable;
  } dialogs[] = {
      {{"DialogListBox11', 1, 'Welcome', 'Welcome"}, "ADMIN", "Yes"},
      {{"DialogListBox22', 1, 'Finish', 'Finish"}, "ADMIN", "No"},
      {{}, "ADMIN", ""},
      {{"DialogListBox11', 1, 'Welcome', 'Welcome"}, "Admin", "stale"},
  };
  for (const auto& d : dialogs) {
    SCOPED_TRACE(d.enable);
    Package pkg;
    SummaryPackage(pkg, {});
    for (const std::string& row : d.rows) pkg.Sql(list + "('" + row + "')");
    MSIHANDLE h = pkg.Open();
    SetProp(h, "ACTION", d.action);
    SetProp(h, "ENABLE_DIALOGS", "stale");
    EXPECT_EQ(CallAction(h, "SetInstallSummaryReport"), 0u);
    EXPECT_EQ(GetProp(h, "ENABLE_DIALOGS"), d.enable);
  }
}

TEST(InstallSummary, MissingTablesAndTemplates) {
  const std::string report =
      "CREATE TABLE `Report` (`Dialog_` CHAR(72) NOT NULL, `Control_` CHAR(50) NOT NULL, "
      "`Order` SHORT, `Condition` CHAR(255), `Text` CHAR(0) PRIMARY KEY `Dialog_`, `Control_`)";
  const struct {
    const char* title;
    const char* order;  // of the template; null: no Report table
    bool features;
    UINT result;
  } cases[] = {
      {"no Report table: nothing to do", nullptr, true, 0},
      {"a template without Order", "", true, 0},
      {"no Feature table", "10", false, ERROR_BAD_QUERY_SYNTAX},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.title);
    Package pkg;
    if (c.features) SummaryFeatures(pkg, {{"Suite", "", "Suite", 1, 1, 0}});
    if (c.order)
      pkg.Sql(report).Sql(std::string("INSERT INTO `Report` (`Dialog_`, `Control_`, ") +
                          (*c.order ? "`Order`, " : "") + "`Condition`, `Text`) VALUES ('Dlg', 'A', " +
                          c.order + (*c.order ? ", " : "") + "'FeatureReport', '[FeatureReportFeature]')");
    MSIHANDLE h = pkg.Open();
    if (c.features) Cost(h);
    SetProp(h, "VMR_ADDLOCAL", "stale,");
    EXPECT_EQ(CallAction(h, "SetInstallSummaryReport"), c.result);
    EXPECT_EQ(GetProp(h, "VMR_ADDLOCAL"), "");
    if (c.order) {
      EXPECT_EQ(QueryRows(h, "SELECT `Order` FROM `Report`").size(), 1u);
    }
  }
  EXPECT_EQ(CallAction(0, "SetInstallSummaryReport"), static_cast<UINT>(ERROR_FUNCTION_FAILED));
}

#ifndef _WIN32
// Every pair of requested and installed state, in a normal and an
// administrative installation, with the state texts' defaults and overrides.
TEST(InstallSummary, StateTable) {
  const int installed[] = {-6, -5, -4, -3, -2, -1, 0, 1, 2, 3, 4, 5};
  // By requested state, the state for each installed state above: Absent,
  // Repair, adVertised, Local, Source, Unknown, Not handled, "." no line.
  const struct {
    int action;
    const char* normal;
    const char* admin;
  } rules[] = {
      {-1, "........A...", "........A..."}, {1, "RRVUUVRRVVVU", "VVVVVVVVVVVV"},
      {2, "AAAAAAAAAAAA", "AAAAAAAAAAAA"},  {3, "RRLUULRLLRLU", "LLLLLLLLLLLL"},
      {4, "RRRUUSRSSSRU", "SSSSSSSSSSSS"},  {0, "NNNNNNNNNNNN", "NNNNNNNNNNNN"},
      {-2, "NNNNNNNNNNNN", "NNNNNNNNNNNN"}, {6, "NNNNNNNNNNNN", "NNNNNNNNNNNN"},
  };
  // The default requested state, resolved from the attributes (not installed).
  const struct {
    int attributes;
    char state;
  } defaults[] = {{0, 'L'}, {1, 'S'}, {4, 'V'}, {5, 'S'}};
  // Each state's property name between "Install" or "Admin" and "Text", and
  // its install and admin defaults.
  const std::map<char, std::vector<const char*>> texts = {
      {'A', {"Absent", "Absent", "Absent"}},
      {'R', {"Repair", "Repair", "Repair"}},
      {'V', {"Advertised", "Advertised", "Advertised"}},
      {'L', {"Locally", "Local", "Local"}},
      {'S', {"Source", "Source", "Source"}},
      {'U', {"Unknown", "Unknown", "Unknown"}},
      {'N', {"ActionNotHandled", "Action Not Handled", "Action Not Handled"}},
      {'?', {"NoFeatureState", "No Feature State", "No Feature State could be determined"}}};

  std::vector<SummaryFeature> features;
  std::vector<std::pair<std::string, std::string>> expected;  // key, normal + admin codes
  for (const auto& r : rules)
    for (int i = 0; i < 12; ++i) {
      features.push_back({"F" + std::to_string(features.size()), "", "", 1, 1, 0});
      features.back().title = features.back().key;
      winsim::SetInstalledFeature(kProductCode, features.back().key,
                                  static_cast<INSTALLSTATE>(installed[i]));
      expected.push_back({features.back().key, {r.normal[i], r.admin[i]}});
    }
  for (const auto& d : defaults) {
    features.push_back({"F" + std::to_string(features.size()), "", "", 1, 1, d.attributes});
    features.back().title = features.back().key;
    expected.push_back({features.back().key, {d.state, d.state}});
  }
  Package pkg;
  SummaryPackage(pkg, features);
  MSIHANDLE h = pkg.Open();
  Cost(h);
  size_t n = 0;
  for (const auto& r : rules)
    for (int i = 0; i < 12; ++i)
      MsiSetFeatureStateA(h, features[n++].key.c_str(), static_cast<INSTALLSTATE>(r.action));
  while (n < features.size()) MsiSetFeatureStateA(h, features[n++].key.c_str(), INSTALLSTATE_DEFAULT);
  winsim::ResetInstalledProducts();
  AddUnknownFeature(h);
  expected.push_back({"Unknown", "??"});

  for (int run = 0; run < 4; ++run) {
    bool admin = run >= 2, overridden = run % 2 == 1;
    SCOPED_TRACE(std::string(admin ? "admin" : "install") + (overridden ? ", texts set" : ""));
    SetProp(h, "ACTION", admin ? "ADMIN" : "INSTALL");
    for (const auto& [code, names] : texts)
      for (bool adminColumn : {false, true})
        SetProp(h, std::string(adminColumn ? "Admin" : "Install") + names[0] + "Text",
                overridden && adminColumn == admin ? std::string("=") + names[0] : "");
    EXPECT_EQ(CallAction(h, "SetInstallSummaryReport"), 0u);
    Rows lines;
    std::map<char, std::string> lists;
    for (const auto& [key, codes] : expected) {
      char code = admin ? codes[1] : codes[0];
      if (code == '.') continue;
      const auto& names = texts.at(code);
      std::string text = overridden ? std::string("=") + names[0] : names[admin ? 2 : 1];
      lines.push_back({std::to_string(11 + lines.size()), "NOT Installed", Line(key, text)});
      if (strchr("VLS", code)) lists[code] += key + ",";
    }
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(SummaryLines(h), lines);
    EXPECT_EQ(GetProp(h, "VMR_ADVERTISE"), lists['V']);
    EXPECT_EQ(GetProp(h, "VMR_ADDLOCAL"), lists['L']);
    EXPECT_EQ(GetProp(h, "VMR_ADDSOURCE"), lists['S']);
  }
}
#endif
