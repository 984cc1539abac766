// The install session shared by the winsim areas that serve an install handle:
// properties, the package database, and the costing state (the features,
// components, folders and files that CostInitialize loads and CostFinalize
// resolves). The session's methods are defined with costing (costing.cpp),
// whose state they read.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "winsim/msi/database.h"
#include "winsim/msi/formatter.h"
#include "winsim/msi/handles.h"
#include "winsim/msi/record.h"

namespace winsim {

// A row of the Feature table as costing keeps it.
struct CostFeature {
  std::string name;
  std::string parent;  // "" for a top-level feature
  int level = 0;
  int attributes = 0;
  std::vector<std::size_t> components;  // indexes into Costing::components
  INSTALLSTATE installed = INSTALLSTATE_UNKNOWN;
  // The requested action, which MsiGetFeatureStateA reports.
  INSTALLSTATE request = INSTALLSTATE_UNKNOWN;
};

// A row of the Component table as costing keeps it.
struct CostComponent {
  std::string name;
  std::string id;  // the ComponentId GUID; "" when the row has none
  std::string directory;
  std::string condition;
  int attributes = 0;
  bool enabled = true;       // false when its condition was false at CostFinalize
  bool forceLocal = false;   // it installs files from a cabinet: never run from source
  INSTALLSTATE installed = INSTALLSTATE_UNKNOWN;
  // What MsiGetComponentStateA reports, and what costing asked for (the two
  // differ once MsiSetComponentStateA changed the action).
  INSTALLSTATE action = INSTALLSTATE_UNKNOWN;
  INSTALLSTATE request = INSTALLSTATE_UNKNOWN;
};

// A row of the Directory table: its key, parent and the target name of DefaultDir.
struct CostFolder {
  std::string key;
  std::string parent;
  std::string name;  // "" for "." (the parent's own folder)
  bool resolved = false;
  std::string path;  // the resolved target folder, ending in a backslash
};

// A row of the File table: the long file name and, after CostFinalize, its target path.
struct CostFile {
  std::string key;
  std::string component;
  std::string name;
  bool compressed = false;
  bool hasTarget = false;
  std::string target;
};

struct Costing {
  bool initialized = false;  // CostInitialize has run
  std::vector<CostFeature> features;
  // Where each feature is in `features`, for lookups by name; rebuilt when
  // features were added since.
  std::unordered_map<std::string, std::size_t> featureIndex;
  std::vector<CostComponent> components;
  std::vector<CostFolder> folders;
  std::vector<CostFile> files;
};

struct Session : Object, SessionView {
  std::shared_ptr<Database> database;
  std::map<std::string, std::string> properties;
  Costing costing;

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

  // A property's leading decimal integer, or fallback when the property is not set.
  int PropertyInt(const std::string& name, int fallback);

  // [#key] / [!key]: the target path CostFinalize gave the file; "" before that.
  std::string FileKeyPath(const std::string& fileKey) override;
  // [$key]: the target folder of the component's directory once costing has
  // started; "" before CostInitialize.
  std::string ComponentDirectory(const std::string& component) override;
  // The states MsiGetFeatureStateA / MsiGetComponentStateA report; false for
  // an item costing has not loaded.
  bool FeatureState(const std::string& name, INSTALLSTATE* installed,
                    INSTALLSTATE* action) override;
  bool ComponentState(const std::string& name, INSTALLSTATE* installed,
                      INSTALLSTATE* action) override;

  CostFeature* FindFeature(const std::string& name);
  CostComponent* FindComponent(const std::string& name);
  CostFolder* FindFolder(const std::string& key);
};

// The session behind an install handle, or null.
inline std::shared_ptr<Session> GetSession(MSIHANDLE handle) { return Get<Session>(handle); }

// Whether a test registered the product as installed on the machine.
bool ProductRegistered(const std::string& productCode);

// Runs a costing action (CostInitialize, FileCost, CostFinalize) on the
// session; false when the name is no costing action.
bool RunCostingAction(Session& session, const std::string& action, UINT* result);

// Runs the standard AppSearch action on the session (appsearch.cpp); false when
// the name is not AppSearch.
bool RunSearchAction(Session& session, const std::string& action, UINT* result);

}  // namespace winsim
