// Rich-text reports: the RTF fragments of the package's Report table, merged per
// dialog control into one document with one font table and one color table,
// and placed as the text of a temporary Control row that the dialog shows.
#pragma once

#include <cstddef>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

namespace viduzo {

// Limits of one merged document and of one fragment's maps.
constexpr std::size_t kReportMaxEntries = 2048;  // font entries, color entries, body pieces
constexpr std::size_t kReportMaxMapped = 128;    // mapped fonts, mapped colors per fragment
constexpr int kReportMaxGroup = 128;             // characters per font group, per color definition
constexpr int kReportMaxFontEntry = 127;         // characters per merged font entry
constexpr int kReportMaxSourceWord = 7;          // characters per source font word
constexpr int kReportMaxDigits = 4;              // digits of a renumbered number

// The merge state of one (dialog, control) group.
struct ReportDocument {
  struct Entry {
    std::string text;  // as it goes into the document
    std::string word;  // its control word: "\f3", "\cf2"
  };
  using WordMap = std::vector<std::pair<std::string, std::string>>;  // source word, new word

  MSIHANDLE database = 0;
  MSIHANDLE install = 0;
  std::string dialog;
  std::string control;
  bool hasHeader = false;
  std::string header;
  std::vector<Entry> fonts;
  std::vector<Entry> colors;
  std::vector<std::string> body;
  WordMap fontMap;
  WordMap colorMap;
  // Entries by font description and by color definition, so that a fragment
  // finds a shared entry without walking the table.
  std::unordered_map<std::string, std::size_t> fontIndex;
  std::unordered_map<std::string, std::size_t> colorIndex;

  // Releases everything of the group and opens the next one under these names.
  void Open(const char* dialogName, const char* controlName);
  // The per-fragment maps, cleared after every fragment.
  void ClearMaps();
  // The finished document: the header, the font entries, "}", the color
  // entries and "}" when there are any, the body pieces, "}".
  std::string Document() const;
};

// Merges one fragment (a complete RTF document) into the group. False when the
// fragment added nothing or stopped part-way; what it entered before stays.
bool AddFragment(ReportDocument& document, const char* fragment);

// Places the group's document as a temporary Control row (see the action).
// False when nothing was placed.
bool WriteReportControl(const ReportDocument& document);

// A copy of a Control row's record under a new control name, without its text;
// 0 when a field cannot be copied or a position, size or attributes field is
// empty. The caller closes the record.
MSIHANDLE CopyControlRecord(MSIHANDLE record, LPCSTR name);

}  // namespace viduzo
