// Registry trees for the tests of actions that read or write fixed places of
// the machine's registry: a place is saved and emptied before a test plants
// what it needs there, and put back as it was afterwards, so that a run under
// Wine leaves its prefix as it found it.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include <windows.h>

namespace viduzo_test {

// Closes the key it holds.
struct Key {
  HKEY h = nullptr;
  ~Key() {
    if (h) RegCloseKey(h);
  }
};

struct RegValue {
  std::string name;
  DWORD type;
  std::string data;  // the bytes as stored
};

struct RegTree {
  std::vector<RegValue> values;
  std::vector<std::pair<std::string, RegTree>> subkeys;  // a name may hold "\"
};

// A REG_SZ / REG_EXPAND_SZ value with its terminating zero; a REG_DWORD value.
RegValue Text(const std::string& name, const std::string& text, DWORD type = REG_SZ);
RegValue Number(const std::string& name, DWORD value);

// Creates the key with the tree's values and subkeys (adding to what is there).
void Plant(HKEY root, const std::string& path, const RegTree& tree);
// Sets a value of exactly the given bytes with no zero after them, so that the
// registry stores no terminator that the data left out.
void PlantUnterminated(HKEY root, const std::string& path, const std::string& name, DWORD type,
                       const std::string& data);
// Deletes a key and everything below it; ERROR_FILE_NOT_FOUND when missing.
LONG DeleteTree(HKEY root, const std::string& path);

// A value's bytes and type; false when it cannot be read.
bool ReadValue(HKEY root, const std::string& path, const std::string& name, RegValue* value);
bool KeyExists(HKEY root, const std::string& path);

// Saves a whole key (or, with names, just those values of it) and empties it;
// the destructor puts it back as it was.
class SavedPlace {
 public:
  SavedPlace(HKEY root, std::string path, std::vector<std::string> values = {});
  ~SavedPlace();
  SavedPlace(const SavedPlace&) = delete;
  SavedPlace& operator=(const SavedPlace&) = delete;

 private:
  HKEY root_;
  std::string path_;
  bool whole_;
  bool existed_ = false;
  RegTree saved_;
  std::vector<std::string> names_;
};

}  // namespace viduzo_test
