#include "tests/registry_tree.h"

#include <gtest/gtest.h>

namespace viduzo_test {
namespace {

bool Snapshot(HKEY key, RegTree* tree) {
  std::vector<char> name(16384), data(1 << 16);
  for (DWORD i = 0;; ++i) {
    DWORD nameLength = static_cast<DWORD>(name.size()), size = static_cast<DWORD>(data.size());
    DWORD type = 0;
    LONG error = RegEnumValueA(key, i, name.data(), &nameLength, nullptr, &type,
                               reinterpret_cast<BYTE*>(data.data()), &size);
    if (error == ERROR_NO_MORE_ITEMS) break;
    if (error) return false;
    tree->values.push_back({std::string(name.data(), nameLength), type,
                            std::string(data.data(), size)});
  }
  for (DWORD i = 0;; ++i) {
    DWORD nameLength = static_cast<DWORD>(name.size());
    LONG error =
        RegEnumKeyExA(key, i, name.data(), &nameLength, nullptr, nullptr, nullptr, nullptr);
    if (error == ERROR_NO_MORE_ITEMS) break;
    if (error) return false;
    Key child;
    std::string childName(name.data(), nameLength);
    if (RegOpenKeyExA(key, childName.c_str(), 0, KEY_READ, &child.h)) return false;
    RegTree sub;
    if (!Snapshot(child.h, &sub)) return false;
    tree->subkeys.emplace_back(childName, sub);
  }
  return true;
}

}  // namespace

RegValue Text(const std::string& name, const std::string& text, DWORD type) {
  return {name, type, std::string(text.c_str(), text.size() + 1)};
}

RegValue Number(const std::string& name, DWORD value) {
  return {name, REG_DWORD, std::string(reinterpret_cast<const char*>(&value), sizeof value)};
}

void Plant(HKEY root, const std::string& path, const RegTree& tree) {
  // Subkeys are created below their parent's handle, so that no path given to
  // the registry is longer than one level's names (Wine's ANSI calls take
  // paths of up to 260 characters).
  Key key;
  ASSERT_EQ(RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key.h,
                            nullptr),
            ERROR_SUCCESS)
      << path;
  for (const RegValue& v : tree.values)
    ASSERT_EQ(RegSetValueExA(key.h, v.name.c_str(), 0, v.type,
                             reinterpret_cast<const BYTE*>(v.data.data()),
                             static_cast<DWORD>(v.data.size())),
              ERROR_SUCCESS)
        << path << " " << v.name;
  for (const auto& [name, sub] : tree.subkeys) Plant(key.h, name, sub);
}

void PlantUnterminated(HKEY root, const std::string& path, const std::string& name, DWORD type,
                       const std::string& data) {
  Plant(root, path, RegTree{});
  Key key;
  ASSERT_EQ(RegOpenKeyExA(root, path.c_str(), 0, KEY_SET_VALUE, &key.h), ERROR_SUCCESS);
  const std::string bytes = data + "X";  // a RegSetValueExA takes a zero after the data along
  ASSERT_EQ(RegSetValueExA(key.h, name.c_str(), 0, type,
                           reinterpret_cast<const BYTE*>(bytes.data()),
                           static_cast<DWORD>(data.size())),
            ERROR_SUCCESS);
}

LONG DeleteTree(HKEY root, const std::string& path) {
  Key key;
  LONG error = RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key.h);
  if (error) return error;
  char name[256];
  DWORD length = sizeof name;
  while (RegEnumKeyExA(key.h, 0, name, &length, nullptr, nullptr, nullptr, nullptr) == 0) {
    if ((error = DeleteTree(key.h, name))) return error;
    length = sizeof name;
  }
  return RegDeleteKeyA(root, path.c_str());
}

bool ReadValue(HKEY root, const std::string& path, const std::string& name, RegValue* value) {
  Key key;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key.h)) return false;
  std::vector<char> data(1 << 16);
  DWORD size = static_cast<DWORD>(data.size()), type = 0;
  if (RegQueryValueExA(key.h, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                       &size))
    return false;
  *value = {name, type, std::string(data.data(), size)};
  return true;
}

bool KeyExists(HKEY root, const std::string& path) {
  Key key;
  return RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key.h) == ERROR_SUCCESS;
}

SavedPlace::SavedPlace(HKEY root, std::string path, std::vector<std::string> values)
    : root_(root), path_(std::move(path)), whole_(values.empty()), names_(std::move(values)) {
  Key key;
  existed_ = RegOpenKeyExA(root_, path_.c_str(), 0, KEY_READ, &key.h) == ERROR_SUCCESS;
  if (!existed_) return;
  if (whole_) {
    EXPECT_TRUE(Snapshot(key.h, &saved_)) << path_;
    RegCloseKey(key.h);
    key.h = nullptr;
    EXPECT_EQ(DeleteTree(root_, path_), ERROR_SUCCESS) << path_;
    return;
  }
  Key writable;
  EXPECT_EQ(RegOpenKeyExA(root_, path_.c_str(), 0, KEY_ALL_ACCESS, &writable.h), ERROR_SUCCESS);
  for (const std::string& name : names_) {
    RegValue value;
    if (ReadValue(root_, path_, name, &value)) saved_.values.push_back(value);
    RegDeleteValueA(writable.h, name.c_str());
  }
}

SavedPlace::~SavedPlace() {
  if (whole_) {
    DeleteTree(root_, path_);
    if (existed_) Plant(root_, path_, saved_);
    return;
  }
  Key key;
  if (RegOpenKeyExA(root_, path_.c_str(), 0, KEY_ALL_ACCESS, &key.h)) return;
  for (const std::string& name : names_) RegDeleteValueA(key.h, name.c_str());
  if (existed_) Plant(root_, path_, saved_);
}

}  // namespace viduzo_test
