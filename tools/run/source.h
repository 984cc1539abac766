// A package as read from its source, before winsim holds it: the tables with
// their column definitions in the installer's type notation ("s72", "L0", "I2",
// "i4", "v0") and their rows. An .msi file is read through libmsi, a folder of
// .idt files by our own reader; both give this, and one loader
// (load.h) turns it into a winsim package.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace viduzo_run {

struct SourceCell {
  bool null = true;
  std::string text;  // the value as text; a stream's bytes for a "v" column
};

struct SourceTable {
  std::string name;
  std::vector<std::string> columns;
  std::vector<std::string> types;  // one per column
  std::vector<std::string> keys;   // the primary-key columns, in order
  std::vector<std::vector<SourceCell>> rows;
};

struct SourcePackage {
  std::string origin;  // "libmsi" or "idt folder"
  std::vector<SourceTable> tables;
  // Summary information by property id (7 the template, 9 the revision
  // number, ...) as text.
  std::map<unsigned, std::string> summary;
};

// Each returns false with a one-line reason in *error.
bool ReadMsiFile(const std::string& path, SourcePackage* package, std::string* error);
bool ReadIdtFolder(const std::string& folder, SourcePackage* package, std::string* error);

}  // namespace viduzo_run
