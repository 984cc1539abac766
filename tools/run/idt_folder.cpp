// Reads a folder of text archive files (.idt), one table to a file, as the
// installer's import takes them: column names, column types, then the table
// name (after an optional numeric code page) and its key columns, then one row
// to a line with tab-separated fields. Control characters inside a field are
// written as other control characters (tab as 16, line feed as 25, carriage
// return as 17, form feed as 24, backspace as 27) and are translated back. A
// stream field names a file in the folder named after the table; a folder
// written by msidump keeps streams under "_Streams" instead, which is looked in
// too. "_SummaryInformation.idt" gives the summary information;
// "_ForceCodepage.idt" is skipped (winsim has one code page for everything).
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tools/run/source.h"

namespace viduzo_run {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (;;) {
    std::size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) return fields;
    start = tab + 1;
  }
}

std::string Untranslate(std::string text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case 16: out += '\t'; break;
      case 25: out += '\n'; break;
      case 17: out += '\r'; break;
      case 24: out += '\f'; break;
      case 27: out += '\b'; break;
      case 21: break;  // a NUL, which no field can hold
      default: out += c; break;
    }
  }
  return out;
}

bool ValidType(const std::string& type) {
  if (type.size() < 2) return false;
  if (std::string("sSlLiIvV").find(type[0]) == std::string::npos) return false;
  return std::all_of(type.begin() + 1, type.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool ReadBytes(const fs::path& path, std::string* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  *bytes = buffer.str();
  return true;
}

// The lines of a file without their CR LF or LF ends; empty lines dropped.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

bool ReadTable(const fs::path& folder, const fs::path& file, SourceTable* table,
               std::string* error) {
  const std::string where = file.filename().string();
  std::string text;
  if (!ReadBytes(file, &text)) {
    *error = "cannot read " + file.string();
    return false;
  }
  std::vector<std::string> lines = Lines(text);
  if (lines.size() < 3) {
    *error = where + ": not a table file (it needs column names, column types and the table name)";
    return false;
  }
  table->columns = SplitTabs(lines[0]);
  table->types = SplitTabs(lines[1]);
  std::vector<std::string> third = SplitTabs(lines[2]);
  // A numeric code page may come before the table name.
  if (!third.empty() && !third[0].empty() &&
      std::all_of(third[0].begin(), third[0].end(), [](char c) { return c >= '0' && c <= '9'; }))
    third.erase(third.begin());
  if (third.empty() || third[0].empty()) {
    *error = where + ": line 3 names no table";
    return false;
  }
  table->name = third[0];
  table->keys.assign(third.begin() + 1, third.end());
  if (table->types.size() != table->columns.size()) {
    *error = where + ": " + std::to_string(table->columns.size()) + " column names but " +
             std::to_string(table->types.size()) + " column types";
    return false;
  }
  for (const std::string& type : table->types) {
    if (!ValidType(type)) {
      *error = where + ": unknown column type \"" + type + "\"";
      return false;
    }
  }
  for (const std::string& key : table->keys) {
    if (std::find(table->columns.begin(), table->columns.end(), key) == table->columns.end()) {
      *error = where + ": key column \"" + key + "\" is not a column of the table";
      return false;
    }
  }
  for (std::size_t i = 3; i < lines.size(); ++i) {
    std::vector<std::string> fields = SplitTabs(lines[i]);
    if (fields.size() > table->columns.size()) {
      *error = where + ":" + std::to_string(i + 1) + ": " + std::to_string(fields.size()) +
               " fields for " + std::to_string(table->columns.size()) + " columns";
      return false;
    }
    std::vector<SourceCell> row(table->columns.size());
    for (std::size_t c = 0; c < fields.size(); ++c) {
      if (fields[c].empty()) continue;
      SourceCell& cell = row[c];
      cell.null = false;
      cell.text = Untranslate(fields[c]);
      if (table->types[c][0] != 'v' && table->types[c][0] != 'V') continue;
      // A stream field names its file.
      const fs::path candidates[] = {folder / table->name / cell.text, folder / "_Streams" / cell.text};
      const fs::path* found = nullptr;
      for (const fs::path& candidate : candidates)
        if (fs::is_regular_file(candidate)) found = &candidate;
      if (!found || !ReadBytes(*found, &cell.text)) {
        *error = where + ":" + std::to_string(i + 1) + ": no stream file \"" + fields[c] +
                 "\" in " + (folder / table->name).string() + " or " +
                 (folder / "_Streams").string();
        return false;
      }
    }
    table->rows.push_back(std::move(row));
  }
  return true;
}

}  // namespace

bool ReadIdtFolder(const std::string& folderName, SourcePackage* package, std::string* error) {
  package->origin = "idt folder";
  const fs::path folder = folderName;
  std::vector<fs::path> files;
  std::error_code failure;
  for (const auto& entry : fs::directory_iterator(folder, failure))
    if (entry.is_regular_file() && entry.path().extension() == ".idt") files.push_back(entry.path());
  if (failure) {
    *error = "cannot list " + folderName + ": " + failure.message();
    return false;
  }
  if (files.empty()) {
    *error = folderName + " holds no .idt files";
    return false;
  }
  std::sort(files.begin(), files.end());
  for (const fs::path& file : files) {
    const std::string stem = file.stem().string();
    if (stem == "_ForceCodepage") continue;
    SourceTable table;
    if (!ReadTable(folder, file, &table, error)) return false;
    if (table.name == "_SummaryInformation") {
      for (const auto& row : table.rows)
        if (row.size() >= 2 && !row[0].null)
          package->summary[static_cast<unsigned>(std::strtoul(row[0].text.c_str(), nullptr, 10))] =
              row[1].text;
      continue;
    }
    package->tables.push_back(std::move(table));
  }
  return true;
}

}  // namespace viduzo_run
