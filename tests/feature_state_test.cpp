// Costing (CostInitialize, FileCost, CostFinalize) and the feature and component
// states an install session reports and changes: what the engine answers before
// and after each costing step, how features are selected, how the Directory
// table becomes directory properties, [#file] / [$component] text, installed
// component paths and run modes; and the single sign-on decision of
// SystemStateBetweenCostFinalize that rests on them.
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "runtime/msi.h"
#include "tests/fixture.h"

#ifndef _WIN32
#include "winsim/control.h"
#endif

using namespace viduzo_test;

namespace {

constexpr INSTALLSTATE kUnknown = INSTALLSTATE_UNKNOWN;
constexpr INSTALLSTATE kAbsent = INSTALLSTATE_ABSENT;
constexpr INSTALLSTATE kLocal = INSTALLSTATE_LOCAL;
constexpr INSTALLSTATE kSource = INSTALLSTATE_SOURCE;

const char kProductCode[] = "{6E2B90C4-51A7-4D3E-8F0B-A9C41D7E2B63}";

// A package with the costing tables, filled row by row.
struct CostingPackage {
  CostingPackage() {
    pkg.Sql("CREATE TABLE `Feature` (`Feature` CHAR(38) NOT NULL, `Feature_Parent` CHAR(38), "
            "`Title` CHAR(64), `Description` CHAR(255), `Display` SHORT, `Level` SHORT NOT NULL, "
            "`Directory_` CHAR(72), `Attributes` SHORT NOT NULL PRIMARY KEY `Feature`)")
        .Sql("CREATE TABLE `Component` (`Component` CHAR(72) NOT NULL, `ComponentId` CHAR(38), "
             "`Directory_` CHAR(72) NOT NULL, `Attributes` SHORT NOT NULL, `Condition` CHAR(255), "
             "`KeyPath` CHAR(72) PRIMARY KEY `Component`)")
        .Sql("CREATE TABLE `FeatureComponents` (`Feature_` CHAR(38) NOT NULL, `Component_` "
             "CHAR(72) NOT NULL PRIMARY KEY `Feature_`, `Component_`)")
        .Sql("CREATE TABLE `Directory` (`Directory` CHAR(72) NOT NULL, `Directory_Parent` "
             "CHAR(72), `DefaultDir` CHAR(255) NOT NULL PRIMARY KEY `Directory`)")
        .Sql("CREATE TABLE `File` (`File` CHAR(72) NOT NULL, `Component_` CHAR(72) NOT NULL, "
             "`FileName` CHAR(255) NOT NULL, `FileSize` LONG NOT NULL, `Version` CHAR(72), "
             "`Language` CHAR(20), `Attributes` SHORT, `Sequence` SHORT NOT NULL PRIMARY KEY "
             "`File`)")
        .Property("ProductCode", kProductCode);
    Directory("TARGETDIR", "", "SourceDir");
  }

  void Feature(const std::string& name, const std::string& parent, int level, int attributes = 0) {
    pkg.Sql("INSERT INTO `Feature` (`Feature`, `Feature_Parent`, `Level`, `Attributes`) VALUES ('" +
            name + "', '" + parent + "', " + std::to_string(level) + ", " +
            std::to_string(attributes) + ")");
  }
  // A component of the given features; its GUID is made from its name unless given.
  void Component(const std::string& name, const std::vector<std::string>& features,
                 int attributes = 0, const std::string& condition = "",
                 const std::string& directory = "TARGETDIR", const char* id = nullptr) {
    std::string guid = id ? id : Guid(name);
    pkg.Sql("INSERT INTO `Component` (`Component`, `ComponentId`, `Directory_`, `Attributes`, "
            "`Condition`) VALUES ('" + name + "', '" + guid + "', '" + directory + "', " +
            std::to_string(attributes) + ", '" + condition + "')");
    for (const std::string& feature : features)
      pkg.Sql("INSERT INTO `FeatureComponents` (`Feature_`, `Component_`) VALUES ('" + feature +
              "', '" + name + "')");
  }
  void Directory(const std::string& key, const std::string& parent, const std::string& name) {
    pkg.Sql("INSERT INTO `Directory` (`Directory`, `Directory_Parent`, `DefaultDir`) VALUES ('" +
            key + "', '" + parent + "', '" + name + "')");
  }
  void File(const std::string& key, const std::string& component, const std::string& name) {
    pkg.Sql("INSERT INTO `File` (`File`, `Component_`, `FileName`, `FileSize`, `Sequence`) "
            "VALUES ('" + key + "', '" + component + "', '" + name + "', 10, 1)");
  }
  static std::string Guid(const std::string& name) {
    unsigned hash = 2166136261u;
    for (char c : name) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    char guid[40];
    wsprintfA(guid, "{%08X-0C1D-4E2F-9A3B-5C6D7E8F9012}", hash);
    return guid;
  }

  Package pkg;
};

UINT DoAction(MSIHANDLE h, const char* action) { return MsiDoActionA(h, action); }

void Cost(MSIHANDLE h) {
  for (const char* action : {"CostInitialize", "FileCost", "CostFinalize"})
    ASSERT_EQ(DoAction(h, action), 0u) << action;
}

struct States {
  UINT result;
  INSTALLSTATE installed, action;
};

States FeatureOf(MSIHANDLE h, const char* name) {
  States s{0, static_cast<INSTALLSTATE>(99), static_cast<INSTALLSTATE>(99)};
  s.result = MsiGetFeatureStateA(h, name, &s.installed, &s.action);
  return s;
}

States ComponentOf(MSIHANDLE h, const char* name) {
  States s{0, static_cast<INSTALLSTATE>(99), static_cast<INSTALLSTATE>(99)};
  s.result = MsiGetComponentStateA(h, name, &s.installed, &s.action);
  return s;
}

// ---- before and after each costing step --------------------------------------

TEST(Costing, ItemsExistFromCostInitializeAndStatesFromCostFinalize) {
  CostingPackage t;
  t.Feature("Core", "", 1);
  t.Directory("AppDir", "TARGETDIR", "App");
  t.Component("Main", {"Core"}, 0, "", "AppDir");
  t.File("log", "Main", "ZNC~1.LOG|znc client.log");
  MSIHANDLE h = t.pkg.Open();
  const struct Stage {
    const char* step;  // the action run before the checks; null for the opened package
    UINT known;        // what the state functions answer for a table row
    INSTALLSTATE installed, action;
    bool folder;  // [$Main] gives the folder
    bool file;    // [#log] gives the file's path
  } stages[] = {
      {nullptr, ERROR_UNKNOWN_FEATURE, kUnknown, kUnknown, false, false},
      {"CostInitialize", ERROR_SUCCESS, kUnknown, kUnknown, true, false},
      {"FileCost", ERROR_SUCCESS, kUnknown, kUnknown, true, false},
      {"CostFinalize", ERROR_SUCCESS, kAbsent, kLocal, true, true},
      {"CostFinalize", ERROR_SUCCESS, kAbsent, kLocal, true, true},
  };
  const std::string app = "C:\\App\\";
  for (const Stage& s : stages) {
    SCOPED_TRACE(s.step ? s.step : "opened");
    if (s.step) {
      ASSERT_EQ(DoAction(h, s.step), 0u);
    }
    UINT componentKnown = s.known == ERROR_SUCCESS ? ERROR_SUCCESS : ERROR_UNKNOWN_COMPONENT;
    States f = FeatureOf(h, "Core"), c = ComponentOf(h, "Main");
    EXPECT_EQ(f.result, s.known);
    EXPECT_EQ(c.result, componentKnown);
    if (s.known == ERROR_SUCCESS) {
      EXPECT_EQ(f.installed, s.installed);
      EXPECT_EQ(f.action, s.action);
      EXPECT_EQ(c.installed, s.installed);
      EXPECT_EQ(c.action, s.action);
    }
    viduzo::MSI msi(h);
    INSTALLSTATE installed = kUnknown, action = kUnknown;
    EXPECT_EQ(msi.GetFeatureState("Core", &installed, &action), s.known == ERROR_SUCCESS);
    EXPECT_EQ(msi.lastResult(), s.known);
    EXPECT_EQ(FeatureOf(h, "NoSuchFeature").result, UINT{ERROR_UNKNOWN_FEATURE});
    EXPECT_EQ(ComponentOf(h, "NoSuchComponent").result, UINT{ERROR_UNKNOWN_COMPONENT});
    EXPECT_EQ(Format(h, "[$Main]"), s.folder ? app : "");
    EXPECT_EQ(Format(h, "[#log]"), s.file ? app + "znc client.log" : "");
    EXPECT_EQ(GetProp(h, "ROOTDRIVE"), s.step ? "C:\\" : "");
  }
  EXPECT_EQ(GetProp(h, "CostingComplete"), "1");
  EXPECT_EQ(GetProp(h, "INSTALLLEVEL"), "1");
}

TEST(Costing, StateFunctionsRejectBadArguments) {
  CostingPackage t;
  t.Feature("Core", "", 1);
  t.Component("Main", {"Core"});
  MSIHANDLE h = t.pkg.Open();
  EXPECT_EQ(MsiSetFeatureStateA(h, "Core", kLocal), UINT{ERROR_UNKNOWN_FEATURE});
  EXPECT_EQ(MsiSetComponentStateA(h, "Main", kLocal), UINT{ERROR_UNKNOWN_COMPONENT});
  Cost(h);
  MSIHANDLE record = MsiCreateRecord(1);
  INSTALLSTATE i, a;
  const struct Case {
    MSIHANDLE handle;
    const char* feature;
    const char* component;
    UINT feature_result, component_result;
  } cases[] = {
      {0, "Core", "Main", ERROR_INVALID_HANDLE, ERROR_INVALID_HANDLE},
      {record, "Core", "Main", ERROR_INVALID_HANDLE, ERROR_INVALID_HANDLE},
      {h, nullptr, nullptr, ERROR_UNKNOWN_FEATURE, ERROR_UNKNOWN_COMPONENT},
      {h, "", "", ERROR_UNKNOWN_FEATURE, ERROR_UNKNOWN_COMPONENT},
      {h, "core", "main", ERROR_UNKNOWN_FEATURE, ERROR_UNKNOWN_COMPONENT},  // names keep case
      {h, "Core", "Main", ERROR_SUCCESS, ERROR_SUCCESS},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.feature ? c.feature : "(null)");
    EXPECT_EQ(MsiGetFeatureStateA(c.handle, c.feature, &i, &a), c.feature_result);
    EXPECT_EQ(MsiGetComponentStateA(c.handle, c.component, &i, &a), c.component_result);
    EXPECT_EQ(MsiGetFeatureStateA(c.handle, c.feature, nullptr, nullptr), c.feature_result);
    EXPECT_EQ(MsiSetFeatureStateA(c.handle, c.feature, kLocal), c.feature_result);
    EXPECT_EQ(MsiSetComponentStateA(c.handle, c.component, kLocal), c.component_result);
  }
  MsiCloseHandle(record);
}

// ---- feature selection -----------------------------------------------------------

TEST(Costing, FeaturesFollowInstallLevelAndRequestProperties) {
  CostingPackage t;
  const char* features[] = {"Core",  "Extra", "CoreChild", "CoreDeep", "Tools",
                            "ToolsChild", "Net", "NetChild", "Never"};
  t.Feature("Core", "", 1);
  t.Feature("Extra", "", 3);
  t.Feature("CoreChild", "Core", 1);
  t.Feature("CoreDeep", "Core", 2);
  t.Feature("Tools", "", 3);
  t.Feature("ToolsChild", "Tools", 1);  // below an unselected parent
  t.Feature("Net", "", 1, 1);           // favours running from source
  t.Feature("NetChild", "Net", 1, 2);   // follows its parent
  t.Feature("Never", "", 0);
  const char* components[] = {"Main",     "MainSrc", "Shared",   "ExtraOnly", "ChildComp",
                              "ToolsComp", "NetLocal", "NetSrc", "NetOpt",   "Off",
                              "NoId",     "Loose"};
  t.Component("Main", {"Core"});
  t.Component("MainSrc", {"Core"}, 1);  // source only
  t.Component("Shared", {"Core", "Extra"});
  t.Component("ExtraOnly", {"Extra"});
  t.Component("ChildComp", {"CoreChild"});
  t.Component("ToolsComp", {"ToolsChild"});
  t.Component("NetLocal", {"Net"});
  t.Component("NetSrc", {"Net"}, 1);
  t.Component("NetOpt", {"Net"}, 2);  // local or source, as its feature
  t.Component("Off", {"Core"}, 0, "1=0");
  t.Component("NoId", {"Core"}, 0, "", "TARGETDIR", "");
  t.Component("Loose", {});

  constexpr INSTALLSTATE U = kUnknown, L = kLocal, S = kSource;
  const struct Case {
    std::vector<std::pair<const char*, const char*>> properties;
    std::vector<INSTALLSTATE> features, components;
    bool preselected = true;  // a request property chose the features
  } cases[] = {
      {{}, {L, U, L, U, U, U, S, S, U}, {L, S, L, U, L, U, L, S, S, U, L, U}, false},
      {{{"INSTALLLEVEL", "3"}},
       {L, L, L, L, L, L, S, S, U},
       {L, S, L, L, L, L, L, S, S, U, L, U},
       false},
      {{{"ADDLOCAL", "ALL"}}, {L, L, L, L, L, U, L, L, U}, {L, S, L, L, L, U, L, S, L, U, L, U}},
      {{{"ADDLOCAL", "Extra,CoreChild"}},
       {U, L, L, U, U, U, U, U, U},
       {U, U, L, L, L, U, U, U, U, U, U, U}},
      {{{"ADDLOCAL", "extra"}}, {U, U, U, U, U, U, U, U, U}, {U, U, U, U, U, U, U, U, U, U, U, U}},
      {{{"REMOVE", "ALL"}}, {U, U, U, U, U, U, U, U, U}, {U, U, U, U, U, U, U, U, U, U, U, U}},
      {{{"ADDLOCAL", "ALL"}, {"REMOVE", "Core"}},
       {U, L, L, L, L, U, L, L, U},
       {U, U, L, L, L, U, L, S, L, U, U, U}},
      {{{"ADDSOURCE", "Extra"}},
       {U, S, U, U, U, U, U, U, U},
       {U, U, L, L, U, U, U, U, U, U, U, U}},
  };
  t.pkg.Open();
  const std::string path = t.pkg.path();
  for (const Case& c : cases) {
    MSIHANDLE h = 0;
    ASSERT_EQ(MsiOpenPackageA(path.c_str(), &h), 0u);
    std::string label;
    for (const auto& [name, value] : c.properties) {
      SetProp(h, name, value);
      label += std::string(name) + "=" + value + " ";
    }
    SCOPED_TRACE(label);
    Cost(h);
    for (std::size_t i = 0; i < std::size(features); ++i) {
      States s = FeatureOf(h, features[i]);
      EXPECT_EQ(s.result, 0u) << features[i];
      EXPECT_EQ(s.installed, kAbsent) << features[i];
      EXPECT_EQ(s.action, c.features[i]) << features[i];
    }
    for (std::size_t i = 0; i < std::size(components); ++i) {
      const std::string name = components[i];
      States s = ComponentOf(h, components[i]);
      EXPECT_EQ(s.result, 0u) << name;
      // A component whose condition is false, or that has no GUID, has no
      // installed state to report.
      EXPECT_EQ(s.installed, name == "Off" || name == "NoId" ? kUnknown : kAbsent) << name;
      EXPECT_EQ(s.action, c.components[i]) << name;
    }
    EXPECT_EQ(GetProp(h, "Preselected"), c.preselected ? "1" : "");
    MsiCloseHandle(h);
  }
}

TEST(Costing, SettingAFeatureMovesItsComponentsAndChildren) {
  CostingPackage t;
  t.Feature("Core", "", 1);
  t.Feature("CoreChild", "Core", 1);
  t.Feature("Extra", "", 3);
  t.Component("Main", {"Core"});
  t.Component("MainSrc", {"Core"}, 1);
  t.Component("Shared", {"Core", "Extra"});
  t.Component("ExtraOnly", {"Extra"});
  t.Component("ChildComp", {"CoreChild"});
  t.Component("Off", {"Core"}, 0, "1=0");
  MSIHANDLE h = t.pkg.Open();
  Cost(h);
  const struct Step {
    const char* feature;  // MsiSetFeatureStateA, else MsiSetComponentStateA, else CostFinalize
    const char* component;
    INSTALLSTATE state;
    std::vector<std::pair<const char*, INSTALLSTATE>> features, components;
  } steps[] = {
      {"Core", nullptr, kAbsent, {{"Core", kAbsent}, {"CoreChild", kAbsent}},
       {{"Main", kUnknown}, {"MainSrc", kUnknown}, {"Shared", kUnknown}, {"ChildComp", kUnknown}}},
      {"Extra", nullptr, kLocal, {{"Extra", kLocal}, {"Core", kAbsent}},
       {{"Shared", kLocal}, {"ExtraOnly", kLocal}, {"Main", kUnknown}}},
      // From source: a component that may run from source does; others stay local.
      {"Core", nullptr, kSource, {{"Core", kSource}, {"CoreChild", kSource}},
       {{"Main", kLocal}, {"MainSrc", kSource}, {"Shared", kLocal}, {"ChildComp", kLocal}}},
      // Another feature still installs the shared component.
      {"Extra", nullptr, kAbsent, {{"Extra", kAbsent}},
       {{"Shared", kLocal}, {"ExtraOnly", kUnknown}}},
      {nullptr, "Main", kAbsent, {{"Core", kSource}}, {{"Main", kAbsent}}},
      {nullptr, "Off", kLocal, {}, {{"Off", kUnknown}}},  // a disabled component stays off
      // CostFinalize again: components follow the features' requests anew.
      {nullptr, nullptr, kUnknown, {{"Core", kSource}, {"Extra", kAbsent}},
       {{"Main", kLocal}, {"MainSrc", kSource}, {"Shared", kLocal}, {"ExtraOnly", kAbsent}}},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.feature ? s.feature : s.component ? s.component : "CostFinalize");
    if (s.feature)
      ASSERT_EQ(MsiSetFeatureStateA(h, s.feature, s.state), 0u);
    else if (s.component)
      ASSERT_EQ(MsiSetComponentStateA(h, s.component, s.state), 0u);
    else
      ASSERT_EQ(DoAction(h, "CostFinalize"), 0u);
    for (const auto& [name, action] : s.features)
      EXPECT_EQ(FeatureOf(h, name).action, action) << name;
    for (const auto& [name, action] : s.components)
      EXPECT_EQ(ComponentOf(h, name).action, action) << name;
  }
  // Conditions see the same states.
  EXPECT_EQ(MsiEvaluateConditionA(h, "&Core = 4 AND !Core = 2 AND $Main = 3"), MSICONDITION_TRUE);
}

// Between CostInitialize and CostFinalize a feature request sticks, whatever the
// feature's level; a component's action is worked out again from its features.
TEST(Costing, RequestsBeforeCostFinalizeAreKept) {
  CostingPackage t;
  t.Feature("Core", "", 1);
  t.Feature("Extra", "", 3);
  t.Component("Main", {"Core"});
  t.Component("ExtraOnly", {"Extra"});
  MSIHANDLE h = t.pkg.Open();
  ASSERT_EQ(DoAction(h, "CostInitialize"), 0u);
  EXPECT_EQ(MsiSetFeatureStateA(h, "Extra", kLocal), 0u);
  EXPECT_EQ(MsiSetFeatureStateA(h, "Core", kAbsent), 0u);
  EXPECT_EQ(MsiSetComponentStateA(h, "ExtraOnly", kSource), 0u);
  const struct {
    const char* name;
    bool feature;
    INSTALLSTATE before, after;  // actions before and after CostFinalize
  } items[] = {
      {"Extra", true, kLocal, kLocal},
      {"Core", true, kAbsent, kAbsent},
      {"ExtraOnly", false, kSource, kLocal},
      {"Main", false, kUnknown, kAbsent},  // its only feature is being removed
  };
  for (const auto& item : items) {
    States s = item.feature ? FeatureOf(h, item.name) : ComponentOf(h, item.name);
    EXPECT_EQ(s.installed, kUnknown) << item.name;
    EXPECT_EQ(s.action, item.before) << item.name;
  }
  ASSERT_EQ(DoAction(h, "FileCost"), 0u);
  ASSERT_EQ(DoAction(h, "CostFinalize"), 0u);
  for (const auto& item : items) {
    States s = item.feature ? FeatureOf(h, item.name) : ComponentOf(h, item.name);
    EXPECT_EQ(s.installed, kAbsent) << item.name;
    EXPECT_EQ(s.action, item.after) << item.name;
  }
}

// ---- folders and files -----------------------------------------------------------

TEST(Costing, DirectoryTableBecomesDirectoryProperties) {
  CostingPackage t;
  t.Directory("ProgramFilesFolder", "TARGETDIR", ".");
  t.Directory("VendorDir", "ProgramFilesFolder", "VENDOR~1|Vendor Name:Source");
  t.Directory("AppDir", "VendorDir", "App");
  t.Directory("SameDir", "AppDir", ".");
  t.Directory("BinDir", "AppDir", "bin:src");
  t.Directory("ShortDir", "AppDir", "SHORT~1");
  t.Directory("Preset", "AppDir", "Preset");
  t.Directory("UnderPreset", "Preset", "Sub");
  t.Directory("DataDir", "TARGETDIR", "Data");
  t.Directory("Orphan", "Missing", "Orph");
  t.Directory("OtherRoot", "", "Top");
  t.Feature("Core", "", 1);
  t.Component("Main", {"Core"}, 0, "", "AppDir");
  t.File("log", "Main", "app.log");
  t.pkg.Property("Preset", "D:\\Pre\\\\set");
  for (const char* targetDir : {"", "D:\\Target"}) {
    SCOPED_TRACE(targetDir);
    MSIHANDLE h = 0;
    if (*targetDir) {
      ASSERT_EQ(MsiOpenPackageA(t.pkg.path().c_str(), &h), 0u);
      SetProp(h, "TARGETDIR", targetDir);
    } else {
      h = t.pkg.Open();
    }
    const std::string pf = GetProp(h, "ProgramFilesFolder");
    ASSERT_FALSE(pf.empty());
    EXPECT_EQ(GetProp(h, "AppDir"), "");
    Cost(h);
    const std::string root = *targetDir ? std::string(targetDir) + "\\" : "C:\\";
    const std::string app = pf + "Vendor Name\\App\\";
    const std::pair<const char*, std::string> expected[] = {
        {"TARGETDIR", root},       {"ProgramFilesFolder", pf},
        {"VendorDir", pf + "Vendor Name\\"}, {"AppDir", app},
        {"SameDir", app},          {"BinDir", app + "bin\\"},
        {"ShortDir", app + "SHORT~1\\"}, {"Preset", "D:\\Pre\\set\\"},
        {"UnderPreset", "D:\\Pre\\set\\Sub\\"}, {"DataDir", root + "Data\\"},
        {"Orphan", ""},            {"OtherRoot", ""},
    };
    for (const auto& [key, path] : expected) EXPECT_EQ(GetProp(h, key), path) << key;
    EXPECT_EQ(Format(h, "[#log]"), app + "app.log");

    // A folder property set later wins at the next CostFinalize, and a cleared
    // one follows its parent again; until then the resolved paths stay.
    SetProp(h, "AppDir", "E:\\Moved");
    SetProp(h, "SameDir", "");
    EXPECT_EQ(Format(h, "[#log]|[$Main]"), app + "app.log|" + app);
    ASSERT_EQ(DoAction(h, "CostFinalize"), 0u);
    EXPECT_EQ(GetProp(h, "AppDir"), "E:\\Moved\\");
    EXPECT_EQ(GetProp(h, "SameDir"), "E:\\Moved\\");
    EXPECT_EQ(GetProp(h, "BinDir"), app + "bin\\");
    EXPECT_EQ(Format(h, "[#log]|[$Main]"), "E:\\Moved\\app.log|E:\\Moved\\");
    if (*targetDir) MsiCloseHandle(h);
  }
}

TEST(Costing, TablesAreReadOnceByCostInitialize) {
  CostingPackage t;
  t.Feature("Core", "", 1);
  t.Component("Main", {"Core"});
  MSIHANDLE h = t.pkg.Open();
  // CostFinalize alone has nothing to work on.
  EXPECT_EQ(DoAction(h, "CostFinalize"), 0u);
  EXPECT_EQ(FeatureOf(h, "Core").result, UINT{ERROR_UNKNOWN_FEATURE});
  EXPECT_EQ(GetProp(h, "TARGETDIR"), "");
  ASSERT_EQ(DoAction(h, "CostInitialize"), 0u);
  MSIHANDLE db = MsiGetActiveDatabase(h);
  for (const char* sql :
       {"INSERT INTO `Directory` (`Directory`, `Directory_Parent`, `DefaultDir`) VALUES "
        "('LateDir', 'TARGETDIR', 'Late') TEMPORARY",
        "INSERT INTO `Component` (`Component`, `ComponentId`, `Directory_`, `Attributes`) VALUES "
        "('Late', '{0D6A5E21-3B7C-4F8E-9A10-B2C3D4E5F607}', 'LateDir', 0) TEMPORARY"}) {
    MSIHANDLE view = 0;
    ASSERT_EQ(MsiDatabaseOpenViewA(db, sql, &view), 0u);
    EXPECT_EQ(MsiViewExecute(view, 0), 0u);
    MsiCloseHandle(view);
  }
  MsiCloseHandle(db);
  ASSERT_EQ(DoAction(h, "CostFinalize"), 0u);
  EXPECT_EQ(GetProp(h, "TARGETDIR"), "C:\\");
  EXPECT_EQ(GetProp(h, "LateDir"), "");
  EXPECT_EQ(ComponentOf(h, "Late").result, UINT{ERROR_UNKNOWN_COMPONENT});
  EXPECT_EQ(ComponentOf(h, "Main").action, kLocal);
}

TEST(CostingWithoutTables, SucceedsWithWhateverTablesThereAre) {
  const struct Case {
    bool directory;
    const char* targetDir;
  } cases[] = {{false, ""}, {true, "C:\\"}};
  for (const Case& c : cases) {
    Package pkg;
    if (c.directory)
      pkg.Sql("CREATE TABLE `Directory` (`Directory` CHAR(72) NOT NULL, `Directory_Parent` "
              "CHAR(72), `DefaultDir` CHAR(255) NOT NULL PRIMARY KEY `Directory`)")
          .Sql("INSERT INTO `Directory` (`Directory`, `Directory_Parent`, `DefaultDir`) VALUES "
               "('TARGETDIR', '', 'SourceDir')");
    MSIHANDLE h = pkg.Open();
    for (const char* action : {"CostInitialize", "FileCost", "CostFinalize", "CostFinalize"})
      EXPECT_EQ(MsiDoActionA(h, action), 0u) << action;
    EXPECT_EQ(GetProp(h, "TARGETDIR"), c.targetDir);
    EXPECT_EQ(MsiGetFeatureStateA(h, "Core", nullptr, nullptr), UINT{ERROR_UNKNOWN_FEATURE});
  }
}

// ---- installed products and run modes -------------------------------------------

TEST(ComponentPath, NothingIsInstalledOnAFreshMachine) {
  const char* trov = "{D2B7E415-08C3-4A9F-86E1-B5F40A7C3D92}";
  const struct Case {
    const char* product;
    const char* component;
    bool buffer, count;
    INSTALLSTATE expected;
  } cases[] = {
      {kProductCode, trov, true, true, INSTALLSTATE_UNKNOWN},
      {kProductCode, trov, false, true, INSTALLSTATE_UNKNOWN},
      {kProductCode, trov, false, false, INSTALLSTATE_UNKNOWN},
      {"{6e2b90c4-51a7-4d3e-8f0b-a9c41d7e2b63}", trov, true, true, INSTALLSTATE_UNKNOWN},
      {kProductCode, trov, true, false, INSTALLSTATE_INVALIDARG},
      {nullptr, trov, true, true, INSTALLSTATE_INVALIDARG},
      {kProductCode, nullptr, true, true, INSTALLSTATE_INVALIDARG},
      {"", trov, true, true, INSTALLSTATE_INVALIDARG},
      {kProductCode, "Registry.3F8A61D5_E27C_4B19_9D40_58B6C1E0A2F7", true, true,
       INSTALLSTATE_INVALIDARG},
      {kProductCode, "D2B7E415-08C3-4A9F-86E1-B5F40A7C3D92", true, true, INSTALLSTATE_INVALIDARG},
      {kProductCode, "{G2B7E415-08C3-4A9F-86E1-B5F40A7C3D92}", true, true, INSTALLSTATE_INVALIDARG},
      {kProductCode, "{D2B7E415-08C3-4A9F-86E1-B5F40A7C3D92}x", true, true,
       INSTALLSTATE_INVALIDARG},
  };
  for (const Case& c : cases) {
    char buffer[64] = "untouched";
    DWORD count = sizeof buffer;
    EXPECT_EQ(MsiGetComponentPathA(c.product, c.component, c.buffer ? buffer : nullptr,
                                   c.count ? &count : nullptr),
              c.expected)
        << (c.product ? c.product : "(null)") << " " << (c.component ? c.component : "(null)");
    EXPECT_STREQ(buffer, "untouched");
    EXPECT_EQ(count, sizeof buffer);
  }
}

TEST(RunModes, NoInstallScriptRuns) {
  Package pkg;
  MSIHANDLE h = pkg.Open();
  const MSIRUNMODE off[] = {MSIRUNMODE_ADMIN,       MSIRUNMODE_ADVERTISE,
                            MSIRUNMODE_MAINTENANCE, MSIRUNMODE_LOGENABLED,
                            MSIRUNMODE_OPERATIONS,  MSIRUNMODE_REBOOTATEND,
                            MSIRUNMODE_REBOOTNOW,   MSIRUNMODE_SCHEDULED,
                            MSIRUNMODE_ROLLBACK,    MSIRUNMODE_COMMIT};
  for (MSIRUNMODE mode : off) {
    EXPECT_FALSE(MsiGetMode(h, mode)) << mode;
    EXPECT_FALSE(MsiGetMode(0, mode)) << mode;
  }
  EXPECT_TRUE(MsiGetMode(h, MSIRUNMODE_ROLLBACKENABLED));
  EXPECT_FALSE(MsiGetMode(0, MSIRUNMODE_ROLLBACKENABLED));
  // Maintenance follows Installed, rollback the RollbackDisabled property.
  SetProp(h, "Installed", "1");
  SetProp(h, "RollbackDisabled", "1");
  EXPECT_TRUE(MsiGetMode(h, MSIRUNMODE_MAINTENANCE));
  EXPECT_FALSE(MsiGetMode(h, MSIRUNMODE_ROLLBACKENABLED));
}

// ---- SystemStateBetweenCostFinalize ---------------------------------------------

const char kLauncherRegistry[] = "Registry.3F8A61D5_E27C_4B19_9D40_58B6C1E0A2F7";
const char kTrovComponentCode[] = "{D2B7E415-08C3-4A9F-86E1-B5F40A7C3D92}";
const char kEnableTrovFiles[] = "EnableTROVFiles.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";

// The launcher's registry component in a feature of the given level, and a
// private folder the action clears before it runs CostFinalize again.
MSIHANDLE OpenLauncherPackage(CostingPackage& t, int launcherLevel) {
  t.Feature("Launcher", "", launcherLevel);
  t.Directory("VelmarDir", "TARGETDIR", "Velmar");
  t.Directory("PlainDir", "VelmarDir", "Plain");
  t.Component(kLauncherRegistry, {"Launcher"}, 0, "", "VelmarDir");
  MSIHANDLE h = t.pkg.Open();
  SetProp(h, "AdminUser", "1");
  return h;
}

TEST(SingleSignOn, WantedWhileTheLauncherRegistryIsInstalledLocally) {
  const struct Case {
    int level;
    bool costed;  // CostInitialize .. CostFinalize ran before the action
    const char* enableTrov;
    const char* filesAfter;
  } cases[] = {
      {1, true, "", ""},       // being installed locally: the files stay wanted
      {3, true, "", "No"},     // not selected
      {3, true, "Yes", ""},    // asked for
      {1, false, "", "No"},    // costing has not loaded the component
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.level) + (c.costed ? " costed " : " ") + c.enableTrov);
    CostingPackage t;
    MSIHANDLE h = OpenLauncherPackage(t, c.level);
    if (c.costed) Cost(h);
    SetProp(h, "ENABLE_TROV", c.enableTrov);
    SetProp(h, "PlainDir", "D:\\Elsewhere\\");
    EXPECT_EQ(CallAction(h, "SystemStateBetweenCostFinalize"), 0u);
    EXPECT_EQ(GetProp(h, kEnableTrovFiles), c.filesAfter);
    EXPECT_EQ(GetProp(h, "ENABLE_TROV"), c.enableTrov);
    // The cleared private folder is resolved again by the action's CostFinalize.
    EXPECT_EQ(GetProp(h, "PlainDir"), c.costed ? "C:\\Velmar\\Plain\\" : "");
  }
}

#ifndef _WIN32
// ---- installed products (only winsim can install one) ---------------------------

TEST(Costing, InstalledStatesComeFromTheRegisteredProduct) {
  CostingPackage t;
  t.Feature("Core", "", 1);
  t.Feature("Extra", "", 1);
  t.Component("Main", {"Core"});
  t.Component("ExtraOnly", {"Extra"});
  winsim::SetInstalledFeature(kProductCode, "Core", kLocal);
  winsim::SetInstalledComponent("{6e2b90c4-51a7-4d3e-8f0b-a9c41d7e2b63}",
                                CostingPackage::Guid("Main"), kLocal, "C:\\Main\\");
  MSIHANDLE h = t.pkg.Open();
  SetProp(h, "REMOVE", "Core");
  Cost(h);
  const struct {
    const char* name;
    bool feature;
    INSTALLSTATE installed, action;
  } expected[] = {
      {"Core", true, kLocal, kAbsent},    {"Extra", true, kAbsent, kUnknown},
      {"Main", false, kLocal, kAbsent},   {"ExtraOnly", false, kAbsent, kUnknown},
  };
  for (const auto& e : expected) {
    States s = e.feature ? FeatureOf(h, e.name) : ComponentOf(h, e.name);
    EXPECT_EQ(s.installed, e.installed) << e.name;
    EXPECT_EQ(s.action, e.action) << e.name;
  }
}

TEST(ComponentPath, RegisteredComponents) {
  const std::string folder = TempFolder("comp");
  const std::string present = folder + "present.dll";
  WriteFile(present, "x");
  const struct Case {
    INSTALLSTATE registered;
    std::string path;
    DWORD size;
    INSTALLSTATE expected;
  } cases[] = {
      {kLocal, present, 260, kLocal},
      {kLocal, folder + "missing.dll", 260, kAbsent},
      {kLocal, "", 260, INSTALLSTATE_NOTUSED},
      {kSource, present, 260, kSource},
      {kLocal, present, 4, INSTALLSTATE_MOREDATA},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path + " " + std::to_string(c.size));
    winsim::SetInstalledComponent(kProductCode, kTrovComponentCode, c.registered, c.path);
    char buffer[260] = "";
    DWORD count = c.size;
    EXPECT_EQ(MsiGetComponentPathA(kProductCode, "{d2b7e415-08c3-4a9f-86e1-b5f40a7c3d92}", buffer,
                                   &count),
              c.expected);
    EXPECT_EQ(count, c.path.size());
    EXPECT_EQ(std::string(buffer), c.size > c.path.size() ? c.path : c.path.substr(0, c.size - 1));
    EXPECT_EQ(MsiGetComponentPathA(kProductCode, kTrovComponentCode, nullptr, nullptr),
              c.expected == INSTALLSTATE_MOREDATA ? kLocal : c.expected);
  }
  winsim::ResetInstalledProducts();
  EXPECT_EQ(MsiGetComponentPathA(kProductCode, kTrovComponentCode, nullptr, nullptr), kUnknown);
}

TEST(SingleSignOn, WantedWhileTheProductHasTheFilesInstalled) {
  const std::string folder = TempFolder("trov");
  for (bool present : {true, false}) {
    winsim::SetInstalledComponent(kProductCode, kTrovComponentCode, kLocal,
                                  present ? folder : folder + "gone\\");
    CostingPackage t;
    MSIHANDLE h = OpenLauncherPackage(t, 3);  // the launcher is not being installed
    Cost(h);
    EXPECT_EQ(CallAction(h, "SystemStateBetweenCostFinalize"), 0u);
    EXPECT_EQ(GetProp(h, kEnableTrovFiles), present ? "" : "No") << present;
  }
}
#endif

}  // namespace
