#include "reports/rtf_report.h"

#include <memory>
#include <new>

#include "runtime/action.h"
#include "runtime/handles.h"
#include "runtime/msi.h"
#include "runtime/text.h"

namespace viduzo {
namespace {

constexpr char kReportQuery[] = "SELECT * FROM `Report` ORDER BY `Dialog_`,`Control_`,`Order`";
constexpr char kControlTable[] = "Control";
constexpr char kTemplateMark[] = "_Template";
// Query texts of the report control are cut to this many characters.
constexpr int kControlCondition = 261;
// The result when the database, the Report view or the merge state cannot be had.
constexpr UINT kNoReport = 1;

// Sample properties for fragment texts, set on every run.
constexpr const char* kSampleProperties[][2] = {
    {"FeatureReportFeature", "\"Feature Name\""},
    {"FeatureReportState", "\"Feature State\""},
    {"PROP1", "Property 1"},
    {"PROP2", "Property 2"},
    {"PROPINPROP", "PROP2"},
};

// Report fields.
constexpr UINT kReportDialog = 1;
constexpr UINT kReportControl = 2;
constexpr UINT kReportCondition = 4;
constexpr UINT kReportText = 5;

// Control fields.
constexpr UINT kControlDialog = 1;
constexpr UINT kControlName = 2;
constexpr UINT kControlType = 3;
constexpr UINT kControlX = 4;
constexpr UINT kControlAttributes = 8;
constexpr UINT kControlProperty = 9;
constexpr UINT kControlText = 10;
constexpr UINT kControlNext = 11;
constexpr UINT kControlHelp = 12;
constexpr int kVisible = 1;

// Every comparison below is with a single-byte character at a character
// boundary, and every walk steps with CharNextA, so the trail byte of a
// double-byte character is never taken for a brace or a backslash.
bool StartsWith(const char* p, const char* word) {
  while (*word && *p == *word) ++p, ++word;
  return *word == '\0';
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The first place at or after from where word (a control word with its
// backslash) stands; *escaped tells whether its backslash is the second of an
// escaped pair, so that the text is no control word at all.
const char* FindWord(const char* from, const char* word, bool* escaped) {
  bool pending = false;  // the previous character was an unescaped backslash
  for (const char* p = from; *p; p = CharNextA(p)) {
    if (StartsWith(p, word)) {
      *escaped = pending;
      return p;
    }
    pending = *p == '\\' && !pending;
  }
  return nullptr;
}

// The first ch in [from, end), or null.
const char* FindCharBefore(const char* from, const char* end, char ch) {
  for (const char* p = from; p < end; p = CharNextA(p))
    if (*p == ch) return p;
  return nullptr;
}

// The "}" that closes the group opened at open, when the whole group holds at
// most kReportMaxGroup characters; escaped braces and backslashes are text.
const char* GroupEnd(const char* open) {
  int depth = 0;
  for (const char* p = open; *p; p = CharNextA(p)) {
    if (p - open >= kReportMaxGroup) return nullptr;
    if (*p == '\\') {
      const char* next = p + 1;
      if (*next == '\\' || *next == '{' || *next == '}') p = next;
    } else if (*p == '{') {
      ++depth;
    } else if (*p == '}' && --depth == 0) {
      return p;
    }
  }
  return nullptr;
}

// One font group of a fragment's font table, [open, close]: its source word
// (from its first backslash to the next) is mapped to the merged entry of the
// same description, made when there is none.
void AddFontGroup(ReportDocument& doc, const char* open, const char* close) {
  const char* word = FindCharBefore(open + 1, close, '\\');
  if (!word) return;
  const char* description = FindCharBefore(word + 1, close, '\\');
  if (!description || description - word > kReportMaxSourceWord) return;
  std::string text(description, close + 1);
  std::string newWord;
  auto found = doc.fontIndex.find(text);
  if (found != doc.fontIndex.end()) {
    newWord = doc.fonts[found->second].word;
  } else {
    newWord = "\\f" + std::to_string(doc.fonts.size());
    std::string entry = "{" + newWord + text;
    if (static_cast<int>(entry.size()) > kReportMaxFontEntry ||
        doc.fonts.size() >= kReportMaxEntries)
      return;
    doc.fontIndex.emplace(text, doc.fonts.size());
    doc.fonts.push_back({std::move(entry), newWord});
  }
  if (doc.fontMap.size() < kReportMaxMapped)
    doc.fontMap.emplace_back(std::string(word, description), std::move(newWord));
}

// The fragment's font table, from the "{" of its first entry; the position
// after the "}" that closes the table, or null when the fragment ends inside it
// or a group is too long.
const char* AddFontTable(ReportDocument& doc, const char* p) {
  for (;;) {
    const char* close = GroupEnd(p);
    if (!close) return nullptr;
    AddFontGroup(doc, p, close);
    p = CharNextA(close);
    while (*p && *p != '{' && *p != '}') p = CharNextA(p);
    if (*p == '\0') return nullptr;
    if (*p == '}') return p + 1;
  }
}

// The fragment's color table, when it has one after its font table: each
// definition is mapped to the merged entry of the same text, made when there
// is none. Entry 0 is the default color.
void AddColorTable(ReportDocument& doc, const char* from) {
  bool escaped = false;
  const char* table = FindWord(from, "\\colortbl", &escaped);
  if (!table || escaped) return;
  if (doc.colors.empty()) doc.colors.push_back({"{\\colortbl ;", "\\cf0"});
  const char* p = table + lstrlenA("\\colortbl");
  int number = 0;
  if (*p == ' ') {
    if (p[1] != ';') return;
    number = 1;  // the fragment's own first entry is the default color
    p += 2;
  }
  while (*p == '\\') {
    const char* end = nullptr;
    for (const char* q = p; *q && q - p < kReportMaxGroup; q = CharNextA(q)) {
      if (*q == '{' || *q == '}') break;
      if (*q == ';') {
        end = q;
        break;
      }
    }
    if (!end) return;
    std::string text(p, end + 1);
    std::string newWord;
    auto found = doc.colorIndex.find(text);
    if (found != doc.colorIndex.end()) {
      newWord = doc.colors[found->second].word;
    } else if (doc.colors.size() < kReportMaxEntries) {
      newWord = "\\cf" + std::to_string(doc.colors.size());
      doc.colorIndex.emplace(text, doc.colors.size());
      doc.colors.push_back({std::move(text), newWord});
    }
    if (!newWord.empty() && doc.colorMap.size() < kReportMaxMapped)
      doc.colorMap.emplace_back("\\cf" + std::to_string(number), std::move(newWord));
    ++number;
    p = end + 1;
  }
}

// Adds one body piece. A piece with a "[" and a later "]" is resolved as the
// engine's formatted text with its RTF protected: the RTF control characters
// travel through the formatter as codes, and every backslash or brace that a
// property value brings is escaped. False when the body is full or the
// resolution failed: the fragment ends there.
bool AddPiece(ReportDocument& doc, MSI& text, std::string piece) {
  if (doc.body.size() >= kReportMaxEntries) return false;
  const char* open = FindChar(piece.c_str(), '[');
  if (open && FindChar(open, ']')) {
    char* masked = text.MaskRtfControls(piece.c_str());
    char* formatted = masked ? text.FormatRecordText(masked) : nullptr;
    char* resolved = formatted ? text.UnmaskRtfControls(formatted) : nullptr;
    if (!resolved) return false;
    piece = resolved;
  }
  if (!piece.empty()) doc.body.push_back(std::move(piece));
  return true;
}

// The rest of a body after its last renumbered word: the final paragraph mark
// and what follows it go, or else the closing brace of the fragment (and the
// line ends after it).
std::string TrimmedRest(const char* rest) {
  const char* lastBackslash = nullptr;
  const char* lastSolid = nullptr;
  for (const char* p = rest; *p; p = CharNextA(p)) {
    if (*p == '\\') lastBackslash = p;
    if (*p != ' ' && *p != '\r' && *p != '\n' && *p != '\t') lastSolid = p;
  }
  if (lastBackslash && StartsWith(lastBackslash, "\\par"))
    return std::string(rest, lastBackslash);
  if (lastSolid && *lastSolid == '}') return std::string(rest, lastSolid);
  return rest;
}

// Walks the body from "\viewkind4" and renumbers its font and color words
// through the fragment's maps; the text between them becomes body pieces.
bool AddBody(ReportDocument& doc, const char* view, bool defaultColor) {
  MSI text(doc.install);
  const char* pieceStart = view;
  const char* p = view;
  while (*p) {
    if (*p != '\\') {
      p = CharNextA(p);
      continue;
    }
    const char* w = p + 1;
    if (*w == '\\') {  // an escaped backslash
      p = w + 1;
      continue;
    }
    bool associated = *w == 'a';
    if (associated) ++w;
    const ReportDocument::WordMap* map = nullptr;
    const char* stem = nullptr;
    if (*w == 'f') {
      map = &doc.fontMap;
      stem = "\\f";
      w += 1;
    } else if (w[0] == 'c' && w[1] == 'f') {
      map = &doc.colorMap;
      stem = "\\cf";
      w += 2;
    }
    const char* digits = w;
    while (map && IsDigit(*w) && w - digits <= kReportMaxDigits) ++w;
    int count = static_cast<int>(w - digits);
    const std::string* newWord = nullptr;
    if (map && count >= 1 && count <= kReportMaxDigits && *w != '\0') {
      std::string source = stem + std::string(digits, w);
      for (const auto& [from, to] : *map)
        if (from == source) {
          newWord = &to;
          break;
        }
    }
    if (!newWord) {
      p += 1;
      continue;
    }
    if (!AddPiece(doc, text, std::string(pieceStart, p))) return false;
    if (defaultColor && !AddPiece(doc, text, "\\cf0")) return false;
    defaultColor = false;
    if (!AddPiece(doc, text, associated ? "\\a" + newWord->substr(1) : *newWord)) return false;
    pieceStart = p = w;
  }
  return AddPiece(doc, text, TrimmedRest(pieceStart));
}

// Reads a record field of any length; 0 or the engine's code.
UINT ReadField(MSIHANDLE record, UINT field, std::string* value) {
  char empty[1] = "";
  DWORD count = 0;
  UINT result = MsiRecordGetStringA(record, field, empty, &count);
  if (result == ERROR_SUCCESS) {
    value->clear();
    return result;
  }
  if (result != ERROR_MORE_DATA) return result;
  std::string buffer(count + 1, '\0');
  count += 1;
  result = MsiRecordGetStringA(record, field, buffer.data(), &count);
  if (result == ERROR_SUCCESS) value->assign(buffer.data(), count);
  return result;
}

bool CopyTextField(MSIHANDLE from, MSIHANDLE to, UINT field) {
  std::string value;
  return ReadField(from, field, &value) == ERROR_SUCCESS &&
         MsiRecordSetStringA(to, field, value.c_str()) == ERROR_SUCCESS;
}

UINT GenerateReports(MSI& reports, MSIHANDLE hInstall) {
  for (const auto& [name, value] : kSampleProperties) reports.SetProperty(name, value);
  if (reports.OpenView(kReportQuery) != ERROR_SUCCESS) return kNoReport;
  std::unique_ptr<ReportDocument> doc(new (std::nothrow) ReportDocument);
  if (!doc) return kNoReport;
  doc->database = reports.database();
  doc->install = hInstall;

  bool open = false;
  while (reports.FetchRecord() == ERROR_SUCCESS) {
    const char* dialog = reports.GetFieldString(kReportDialog);
    const char* control = reports.GetFieldString(kReportControl);
    if (!dialog || !control) continue;
    if (!open) {
      doc->Open(dialog, control);
      open = true;
    } else if (doc->dialog != dialog || doc->control != control) {
      WriteReportControl(*doc);
      doc->Open(dialog, control);
    }
    const char* condition = reports.GetFieldString(kReportCondition);
    if (condition) {
      MSICONDITION holds = MsiEvaluateConditionA(hInstall, condition);
      if (holds != MSICONDITION_TRUE && holds != MSICONDITION_NONE) continue;
    }
    const char* fragment = reports.GetFieldString(kReportText);
    if (!fragment) continue;
    AddFragment(*doc, fragment);
    doc->ClearMaps();
  }
  if (open) WriteReportControl(*doc);
  return ERROR_SUCCESS;
}

}  // namespace

void ReportDocument::Open(const char* dialogName, const char* controlName) {
  dialog = dialogName;
  control = controlName;
  hasHeader = false;
  header.clear();
  fonts.clear();
  colors.clear();
  body.clear();
  fontIndex.clear();
  colorIndex.clear();
  ClearMaps();
}

void ReportDocument::ClearMaps() {
  fontMap.clear();
  colorMap.clear();
}

std::string ReportDocument::Document() const {
  std::string document = header;
  for (const Entry& font : fonts) document += font.text;
  document += "}";
  if (!colors.empty()) {
    for (const Entry& color : colors) document += color.text;
    document += "}";
  }
  for (const std::string& piece : body) document += piece;
  document += "}";
  return document;
}

bool AddFragment(ReportDocument& doc, const char* fragment) {
  if (doc.fonts.size() >= kReportMaxEntries || doc.colors.size() >= kReportMaxEntries ||
      doc.body.size() >= kReportMaxEntries)
    return false;
  const char* fontTable = FindText(fragment, "\\fonttbl");
  if (!fontTable) return false;
  const char* firstFont = FindChar(fontTable + lstrlenA("\\fonttbl"), '{');
  if (!firstFont) return false;
  if (!doc.hasHeader) {
    doc.header.assign(fragment, firstFont);
    doc.hasHeader = true;
  }
  const char* tableEnd = AddFontTable(doc, firstFont);
  if (!tableEnd) return false;
  AddColorTable(doc, tableEnd);

  bool escaped = false;
  const char* view = FindWord(tableEnd, "\\viewkind4", &escaped);
  if (!view || escaped) return false;
  const char* blank = FindChar(view, ' ');
  if (!blank) return false;
  // A body that sets no color of its own starts in the default color, even
  // after a colored fragment.
  bool defaultColor = true;
  for (const char* p = view; p < blank && defaultColor; p = CharNextA(p))
    if (StartsWith(p, "\\cf")) defaultColor = false;
  return AddBody(doc, view, defaultColor);
}

bool WriteReportControl(const ReportDocument& doc) {
  if (!doc.hasHeader) return false;
  MSI report(MSI::DatabaseHandle{doc.database});
  std::string condition =
      "WHERE `Dialog_`='" + doc.dialog + "' AND `Control`='" + doc.control + "'";
  char where[kControlCondition];
  lstrcpynA(where, condition.c_str(), sizeof where);
  if (report.SetQueryView(where, kControlTable) != ERROR_SUCCESS) return false;
  if (report.FetchRecord() != ERROR_SUCCESS) return false;
  int attributes = 0;
  if (!report.GetFieldInteger(kControlAttributes, &attributes)) return false;
  const char* nextField = report.GetFieldString(kControlNext);
  if (!nextField) return false;
  const std::string next = nextField;

  // The control the report control names next goes: it is the one the last
  // run made, or the package's placeholder for it.
  {
    MSI old(report);
    if (old.FindRecord("Dialog_", doc.dialog.c_str(), "Control", next.c_str(), nullptr, nullptr,
                       kControlTable) == ERROR_SUCCESS)
      old.DeleteRecord();
  }
  const char* mark = FindText(next.c_str(), kTemplateMark);
  if (!mark) return false;
  MsiHandle placed(CopyControlRecord(report.record(), next.c_str()));
  if (!placed) return false;
  std::string following(next.c_str(), mark);
  if (MsiRecordSetStringA(placed.get(), kControlNext, following.c_str()) != ERROR_SUCCESS ||
      MsiRecordSetInteger(placed.get(), kControlAttributes, attributes | kVisible) !=
          ERROR_SUCCESS ||
      MsiRecordSetStringA(placed.get(), kControlText, doc.Document().c_str()) != ERROR_SUCCESS)
    return false;
  return MsiViewModify(report.view(), MSIMODIFY_INSERT_TEMPORARY, placed.get()) == ERROR_SUCCESS;
}

MSIHANDLE CopyControlRecord(MSIHANDLE record, LPCSTR name) {
  MsiHandle copy(MsiCreateRecord(MsiRecordGetFieldCount(record)));
  if (!copy) return 0;
  if (!CopyTextField(record, copy.get(), kControlDialog) ||
      MsiRecordSetStringA(copy.get(), kControlName, name) != ERROR_SUCCESS ||
      !CopyTextField(record, copy.get(), kControlType))
    return 0;
  for (UINT field = kControlX; field <= kControlAttributes; ++field) {
    int value = MsiRecordGetInteger(record, field);
    if (value == static_cast<int>(MSI_NULL_INTEGER) ||
        MsiRecordSetInteger(copy.get(), field, value) != ERROR_SUCCESS)
      return 0;
  }
  for (UINT field : {kControlProperty, kControlNext, kControlHelp})
    if (!CopyTextField(record, copy.get(), field)) return 0;
  return copy.release();
}

}  // namespace viduzo

using namespace viduzo;

// Merges the Report fragments of every dialog control into one RTF document and
// places it as the text of a temporary control (see WriteReportControl).
extern "C" UINT WINAPI GenerateRtfFromReportTable(MSIHANDLE hInstall) {
  MSI reports(hInstall);
  if (!reports.OpenActiveDatabase(hInstall)) return kNoReport;
  UINT result = kNoReport;
  try {
    result = GenerateReports(reports, hInstall);
  } catch (const std::bad_alloc&) {
    result = kNoReport;
  }
  reports.CloseDatabase();
  return result;
}
