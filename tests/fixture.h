// The shared test fixture: packages built through the installer API, exactly as
// a Windows developer would build one to test a custom action, so that every
// test runs unchanged against winsim and against the real engine under Wine.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

namespace viduzo_test {

// A package database in a temporary file. Build it with Sql() and Property(),
// then Open() it as an install session; the destructor closes every handle and
// deletes the file.
class Package {
 public:
  Package();
  ~Package();
  Package(const Package&) = delete;
  Package& operator=(const Package&) = delete;

  // Runs one SQL statement on the database being built; fails the test on error.
  Package& Sql(const std::string& sql);
  // Creates one of the installer's standard tables (Directory, Component,
  // Feature, FeatureComponents, File, RemoveFile, MoveFile, CustomAction;
  // Dialog, Control, ControlEvent, ControlCondition, EventMapping, ListBox;
  // Binary; the tree tables VmrRemoveFileTree and VmrMoveFileTree) with
  // its standard columns.
  Package& Table(const std::string& name);
  // Adds a row to the Binary table (create it with Table("Binary")) whose data
  // is the file's content.
  Package& Binary(const std::string& name, const std::string& path);
  // Adds a row to the Property table.
  Package& Property(const std::string& name, const std::string& value);
  // Commits the database with summary information and opens it as a package.
  MSIHANDLE Open();

  MSIHANDLE install() const { return install_; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  MSIHANDLE database_ = 0;
  MSIHANDLE install_ = 0;
};

// A property's value ("" when not set), read with a buffer of any size.
std::string GetProp(MSIHANDLE install, const std::string& name);
void SetProp(MSIHANDLE install, const std::string& name, const std::string& value);

// Calls an exported action of viduzo.dll by name through the loader, as the
// engine does. Natively it also checks that the action left no installer
// handle, file handle, registry key or heap block behind.
UINT CallAction(MSIHANDLE install, const char* name);

#ifndef _WIN32
// Runs body in a fresh process of the test program, so that what the library
// keeps for as long as it stays loaded (the key counter, the way "a " conditions
// call actions) starts anew; a failed check in it fails the test. The process
// runs the test from its start, so call this first.
void InFreshProcess(const std::function<void()>& body);
#endif

// Checks, natively, that no installer handle opened in its scope stays open.
class HandleCheck {
 public:
  HandleCheck();
  ~HandleCheck();

 private:
  std::size_t before_ = 0;
};

// A fresh, empty folder under the temporary folder (Windows path, ending in "\").
std::string TempFolder(const std::string& name);

// Every row a query returns from the package's active database, fields 1..n as
// text (null fields read as ""), sorted so that tests need not depend on order.
using Rows = std::vector<std::vector<std::string>>;
Rows QueryRows(MSIHANDLE install, const std::string& sql);

// Writes a file of the given content; folders must exist.
void WriteFile(const std::string& path, const std::string& content);
#ifndef _WIN32
// Plants a file (folders included) straight into winsim's sandbox: for paths
// past MAX_PATH, which the ANSI file calls refuse as Windows does.
void PlantFile(const std::string& path, const std::string& content);
#endif
// A whole file's content, or "<cannot open>" when it cannot be opened for reading.
std::string ReadWholeFile(const std::string& path);

// The resolved value of formatted text.
std::string Format(MSIHANDLE install, const std::string& templ);

// Runs CostInitialize, FileCost and CostFinalize; each must succeed.
void Cost(MSIHANDLE install);

// The 8.3 name the file system gave a file ("" when it has none).
std::string ShortName(const std::string& path);

}  // namespace viduzo_test
