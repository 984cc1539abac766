// The install session shared by the winsim areas that serve an install handle:
// properties, the package database, feature and component states.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "winsim/database.h"
#include "winsim/formatter.h"
#include "winsim/handles.h"
#include "winsim/record.h"

namespace winsim {

struct ItemState {
  INSTALLSTATE installed = INSTALLSTATE_ABSENT;
  INSTALLSTATE action = INSTALLSTATE_UNKNOWN;
};

struct Session : Object, SessionView {
  std::shared_ptr<Database> database;
  std::map<std::string, std::string> properties;
  std::map<std::string, ItemState> features;
  std::map<std::string, ItemState> components;

  std::string Property(const std::string& name) override {
    auto it = properties.find(name);
    return it == properties.end() ? std::string() : it->second;
  }

  void SetProperty(const std::string& name, const std::string& value) {
    if (value.empty())
      properties.erase(name);
    else
      properties[name] = value;
  }

  // A single-column lookup in the package database; "" when there is no row.
  std::string Lookup(const std::string& sql) {
    std::vector<std::vector<Field>> rows;
    if (!database || QueryRows(*database, sql, &rows) != ERROR_SUCCESS || rows.empty() ||
        rows[0].empty())
      return std::string();
    return rows[0][0].AsText();
  }

  // Values are quoted into the query; a key holding an apostrophe finds nothing.
  static bool Quotable(const std::string& key) { return key.find('\'') == std::string::npos; }

  std::string ComponentDirectory(const std::string& component) override {
    if (!Quotable(component)) return std::string();
    std::string directory = Lookup("SELECT `Directory_` FROM `Component` WHERE `Component` = '" +
                                   component + "'");
    return directory.empty() ? std::string() : Property(directory);
  }

  std::string FileKeyPath(const std::string& fileKey) override {
    if (!Quotable(fileKey)) return std::string();
    std::string component =
        Lookup("SELECT `Component_` FROM `File` WHERE `File` = '" + fileKey + "'");
    std::string name = Lookup("SELECT `FileName` FROM `File` WHERE `File` = '" + fileKey + "'");
    if (component.empty() || name.empty()) return std::string();
    std::string folder = ComponentDirectory(component);
    if (folder.empty()) return std::string();
    std::size_t bar = name.find('|');
    if (bar != std::string::npos) name = name.substr(bar + 1);
    return folder + name;
  }

  bool FeatureState(const std::string& name, INSTALLSTATE* installed,
                    INSTALLSTATE* action) override {
    return ItemLookup(features, name, installed, action);
  }

  bool ComponentState(const std::string& name, INSTALLSTATE* installed,
                      INSTALLSTATE* action) override {
    return ItemLookup(components, name, installed, action);
  }

  static bool ItemLookup(const std::map<std::string, ItemState>& items, const std::string& name,
                         INSTALLSTATE* installed, INSTALLSTATE* action) {
    auto it = items.find(name);
    if (it == items.end()) return false;
    if (installed) *installed = it->second.installed;
    if (action) *action = it->second.action;
    return true;
  }
};

// The session behind an install handle, or null.
std::shared_ptr<Session> GetSession(MSIHANDLE handle);

}  // namespace winsim
