// Fuzz target: the INI repair's list rule (RemoveDuplicateListItems) and the
// entry parser of FixIniFile's CustomActionData (SplitIniFixEntry), each
// checked against the rule written out here from its definition:
//
//   list rule   items are the runs between commas; an item's leading white
//               space is not part of it; two items are the same when their
//               lower-case forms are equal. When an item repeats an earlier
//               one the result is true and the value becomes the first
//               occurrences joined by ","; otherwise the result is false and
//               the value is unchanged.
//   entry list  entries are cut at 0x08; an entry needs "[FILE]=",
//               "[SECTION]=" and "[KEY]=" (the first of each counts), and each
//               value runs from its marker to the next 0x0B or the entry's end.
//
// Input: byte 0 bit 0 chooses the rule; the rest is the text, up to its first
// zero. Both run in the code page of the process (1252 unless the locale says
// otherwise, where every byte is one character).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include <windows.h>

#include "files/ini_repair.h"

namespace {

void Fail(const char* what, const std::string& input) {
  std::fprintf(stderr, "ini_repair: %s for input of %zu bytes\n", what, input.size());
  std::abort();
}

std::string Lower(std::string text) {
  if (!text.empty()) CharLowerA(&text[0]);
  return text;
}

bool IsWhiteSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

void CheckListRule(const std::string& input) {
  std::set<std::string> seen;
  std::string kept;
  bool duplicate = false;
  size_t at = 0;
  while (at < input.size()) {
    size_t comma = input.find(',', at);
    if (comma == std::string::npos) comma = input.size();
    if (comma > at) {
      std::string item = input.substr(at, comma - at);
      size_t start = 0;
      while (start < item.size() && IsWhiteSpace(item[start])) ++start;
      item.erase(0, start);
      if (!seen.insert(Lower(item)).second) {
        duplicate = true;
      } else {
        if (seen.size() > 1) kept += ',';
        kept += item;
      }
    }
    at = comma + 1;
  }

  std::vector<char> value(input.begin(), input.end());
  value.push_back('\0');
  bool changed = viduzo::RemoveDuplicateListItems(value.data(), ",");
  if (changed != duplicate) Fail("wrong result", input);
  if (std::string(value.data()) != (duplicate ? kept : input)) Fail("wrong value", input);
}

std::string ValueAfter(const std::string& entry, const char* marker) {
  size_t at = entry.find(marker);
  if (at == std::string::npos) return "<missing>";
  at += std::string(marker).size();
  size_t end = entry.find('\x0B', at);
  return entry.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

void CheckEntryList(const std::string& input) {
  size_t at = 0;
  for (;;) {
    size_t cut = input.find('\x08', at);
    std::string entry = input.substr(at, cut == std::string::npos ? std::string::npos : cut - at);
    std::string file = ValueAfter(entry, "[FILE]="), section = ValueAfter(entry, "[SECTION]="),
                key = ValueAfter(entry, "[KEY]=");
    bool complete = file != "<missing>" && section != "<missing>" && key != "<missing>";

    std::vector<char> text(entry.begin(), entry.end());
    text.push_back('\0');
    viduzo::IniFixEntry parts;
    bool split = viduzo::SplitIniFixEntry(text.data(), &parts);
    if (split != complete) Fail("wrong split result", input);
    if (split && (file != parts.file || section != parts.section || key != parts.key))
      Fail("wrong entry values", input);
    if (cut == std::string::npos) break;
    at = cut + 1;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::string text;
  for (size_t i = 1; i < size && data[i]; ++i) text += static_cast<char>(data[i]);
  if (data[0] & 1)
    CheckEntryList(text);
  else
    CheckListRule(text);
  return 0;
}
