// Costing (CostInitialize, FileCost, CostFinalize) and the feature and component
// states an install session reports: what the engine answers before and after
// each costing step, how features are selected, how the Directory table becomes
// directory properties, [#file] / [$component] text, installed component paths;
// and the single sign-on decision of SystemStateBetweenCostFinalize that rests
// on them.
#include <algorithm>
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
const char kTrovComponentCode[] = "{D2B7E415-08C3-4A9F-86E1-B5F40A7C3D92}";

// A package with the costing tables, filled row by row.
struct CostingPackage {
  CostingPackage() {
    pkg.Table("Feature")
        .Table("Component")
        .Table("FeatureComponents")
        .Table("Directory")
        .Table("File")
        .Property("ProductCode", kProductCode);
    Directory("TARGETDIR", "", "SourceDir");
  }

  void Row(const char* table, const char* columns, const std::string& values) {
    pkg.Sql(std::string("INSERT INTO `") + table + "` (" + columns + ") VALUES (" + values + ")");
  }
  void Feature(const std::string& name, const std::string& parent, int level, int attributes = 0) {
    Row("Feature", "`Feature`, `Feature_Parent`, `Level`, `Attributes`",
        "'" + name + "', '" + parent + "', " + std::to_string(level) + ", " +
            std::to_string(attributes));
  }
  // A component of the given features; its GUID is made from its name unless given.
  void Component(const std::string& name, const std::vector<std::string>& features,
                 int attributes = 0, const std::string& condition = "",
                 const std::string& directory = "TARGETDIR", const char* id = nullptr) {
    Row("Component", "`Component`, `ComponentId`, `Directory_`, `Attributes`, `Condition`",
        "'" + name + "', '" + (id ? id : Guid(name)) + "', '" + directory + "', " +
            std::to_string(attributes) + ", '" + condition + "'");
    for (const std::string& feature : features)
      Row("FeatureComponents", "`Feature_`, `Component_`", "'" + feature + "', '" + name + "'");
  }
  void Directory(const std::string& key, const std::string& parent, const std::string& name) {
    Row("Directory", "`Directory`, `Directory_Parent`, `DefaultDir`",
        "'" + key + "', '" + parent + "', '" + name + "'");
  }
  void File(const std::string& key, const std::string& component, const std::string& name) {
    Row("File", "`File`, `Component_`, `FileName`, `FileSize`, `Sequence`",
        "'" + key + "', '" + component + "', '" + name + "', 10, 1");
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

struct States {
  UINT result;
  INSTALLSTATE installed, action;
};

// The states of a feature, or of a component when `feature` is false.
States StatesOf(MSIHANDLE h, const char* name, bool feature = true) {
  States s{0, static_cast<INSTALLSTATE>(99), static_cast<INSTALLSTATE>(99)};
  s.result = feature ? MsiGetFeatureStateA(h, name, &s.installed, &s.action)
                     : MsiGetComponentStateA(h, name, &s.installed, &s.action);
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
    bool known;        // the state functions know the rows; [$Main] gives the folder
    INSTALLSTATE installed, action;
    bool file;  // [#log] gives the file's path
  } stages[] = {
      {nullptr, false, kUnknown, kUnknown, false},
      {"CostInitialize", true, kUnknown, kUnknown, false},
      {"FileCost", true, kUnknown, kUnknown, false},
      {"CostFinalize", true, kAbsent, kLocal, true},
      {"CostFinalize", true, kAbsent, kLocal, true},
  };
  const std::string app = "C:\\App\\";
  for (const Stage& s : stages) {
    SCOPED_TRACE(s.step ? s.step : "opened");
    if (s.step) {
      ASSERT_EQ(MsiDoActionA(h, s.step), 0u);
    }
    const UINT feature = s.known ? 0 : ERROR_UNKNOWN_FEATURE;
    const UINT component = s.known ? 0 : ERROR_UNKNOWN_COMPONENT;
    States f = StatesOf(h, "Core"), c = StatesOf(h, "Main", false);
    EXPECT_EQ(f.result, feature);
    EXPECT_EQ(c.result, component);
    if (s.known) {
      EXPECT_EQ(f.installed, s.installed);
      EXPECT_EQ(f.action, s.action);
      EXPECT_EQ(c.installed, s.installed);
      EXPECT_EQ(c.action, s.action);
    }
    EXPECT_EQ(MsiGetFeatureStateA(h, "Core", nullptr, nullptr), feature);
    viduzo::MSI msi(h);
    INSTALLSTATE installed = kUnknown, action = kUnknown;
    EXPECT_EQ(msi.GetFeatureState("Core", &installed, &action), s.known);
    EXPECT_EQ(msi.lastResult(), feature);
    // Names keep their case; a null name is no name.
    for (const char* name : {"core", "main", "NoSuchItem", static_cast<const char*>(nullptr)}) {
      EXPECT_EQ(StatesOf(h, name).result, UINT{ERROR_UNKNOWN_FEATURE});
      EXPECT_EQ(StatesOf(h, name, false).result, UINT{ERROR_UNKNOWN_COMPONENT});
    }
    EXPECT_EQ(Format(h, "[$Main]"), s.known ? app : "");
    EXPECT_EQ(Format(h, "[#log]"), s.file ? app + "znc client.log" : "");
    EXPECT_EQ(GetProp(h, "ROOTDRIVE"), s.step ? "C:\\" : "");
  }
  EXPECT_EQ(GetProp(h, "CostingComplete"), "1");
  MSIHANDLE record = MsiCreateRecord(1);
  for (MSIHANDLE bad : {MSIHANDLE{0}, record}) {
    EXPECT_EQ(StatesOf(bad, "Core").result, UINT{ERROR_INVALID_HANDLE});
    EXPECT_EQ(StatesOf(bad, "Main", false).result, UINT{ERROR_INVALID_HANDLE});
  }
  MsiCloseHandle(record);
}

// ---- feature selection -----------------------------------------------------------

// The request states of every feature and component, one letter each (L local,
// S source, U unknown), after costing with the given properties.
TEST(Costing, FeaturesFollowInstallLevelAndRequestProperties) {
  CostingPackage t;
  const struct {
    const char *name, *parent;
    int level, attributes;  // attributes 1: favours running from source
  } features[] = {{"Core", "", 1, 0},         {"Extra", "", 3, 0}, {"CoreChild", "Core", 1, 0},
                  {"CoreDeep", "Core", 2, 0}, {"Net", "", 1, 1},   {"Never", "", 0, 0}};
  for (const auto& f : features) t.Feature(f.name, f.parent, f.level, f.attributes);
  const struct {
    const char* name;
    std::vector<std::string> features;
    int attributes;  // 1 source only, 2 local or source as its feature
    const char *condition, *id;
  } components[] = {
      {"Main", {"Core"}, 0, "", nullptr},          {"MainSrc", {"Core"}, 1, "", nullptr},
      {"Shared", {"Core", "Extra"}, 0, "", nullptr}, {"ExtraOnly", {"Extra"}, 0, "", nullptr},
      {"NetLocal", {"Net"}, 0, "", nullptr},       {"NetOpt", {"Net"}, 2, "", nullptr},
      {"Off", {"Core"}, 0, "1=0", nullptr},        {"NoId", {"Core"}, 0, "", ""},
      {"Loose", {}, 0, "", nullptr}};
  for (const auto& c : components)
    t.Component(c.name, c.features, c.attributes, c.condition, "TARGETDIR", c.id);

  const struct Case {
    std::vector<std::pair<const char*, const char*>> properties;
    const char *features, *components;
    bool preselected;  // a request property chose the features
  } cases[] = {
      {{}, "LULUSU", "LSLULSULU", false},
      {{{"INSTALLLEVEL", "3"}}, "LLLLSU", "LSLLLSULU", false},
      {{{"ADDLOCAL", "Extra,CoreChild"}}, "ULLUUU", "UULLUUUUU", true},
      {{{"ADDLOCAL", "extra"}}, "UUUUUU", "UUUUUUUUU", true},
      {{{"ADDLOCAL", "ALL"}, {"REMOVE", "Core"}}, "ULLLLU", "UULLLLUUU", true},
      {{{"ADDSOURCE", "Extra"}}, "USUUUU", "UULLUUUUU", true},
  };
  auto state = [](char c) { return c == 'L' ? kLocal : c == 'S' ? kSource : kUnknown; };
  t.pkg.Open();
  for (const Case& c : cases) {
    MSIHANDLE h = 0;
    ASSERT_EQ(MsiOpenPackageA(t.pkg.path().c_str(), &h), 0u);
    std::string label;
    for (const auto& [name, value] : c.properties) {
      SetProp(h, name, value);
      label += std::string(name) + "=" + value + " ";
    }
    SCOPED_TRACE(label);
    Cost(h);
    for (std::size_t i = 0; i < std::size(features); ++i) {
      States s = StatesOf(h, features[i].name);
      EXPECT_EQ(s.result, 0u) << features[i].name;
      EXPECT_EQ(s.installed, kAbsent) << features[i].name;
      EXPECT_EQ(s.action, state(c.features[i])) << features[i].name;
    }
    for (std::size_t i = 0; i < std::size(components); ++i) {
      const std::string name = components[i].name;
      States s = StatesOf(h, components[i].name, false);
      EXPECT_EQ(s.result, 0u) << name;
      // A component whose condition is false, or that has no GUID, has no
      // installed state to report.
      EXPECT_EQ(s.installed, name == "Off" || name == "NoId" ? kUnknown : kAbsent) << name;
      EXPECT_EQ(s.action, state(c.components[i])) << name;
    }
    EXPECT_EQ(GetProp(h, "Preselected"), c.preselected ? "1" : "");
    MsiCloseHandle(h);
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
  t.Directory("Preset", "AppDir", "Preset");
  t.Directory("UnderPreset", "Preset", "Sub");
  t.Directory("DataDir", "TARGETDIR", "Data");
  t.Directory("Orphan", "Missing", "Orph");
  t.Directory("OtherRoot", "", "Top");
  t.Feature("Core", "", 1);
  t.Component("Main", {"Core"}, 0, "", "AppDir");
  t.File("log", "Main", "app.log");
  t.pkg.Property("Preset", "D:\\Pre\\\\set");
  t.pkg.Open();
  for (const char* targetDir : {"", "D:\\Target"}) {
    SCOPED_TRACE(targetDir);
    MSIHANDLE h = 0;
    ASSERT_EQ(MsiOpenPackageA(t.pkg.path().c_str(), &h), 0u);
    if (*targetDir) SetProp(h, "TARGETDIR", targetDir);
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
        {"Preset", "D:\\Pre\\set\\"},
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
    ASSERT_EQ(MsiDoActionA(h, "CostFinalize"), 0u);
    EXPECT_EQ(GetProp(h, "AppDir"), "E:\\Moved\\");
    EXPECT_EQ(GetProp(h, "SameDir"), "E:\\Moved\\");
    EXPECT_EQ(GetProp(h, "BinDir"), app + "bin\\");
    EXPECT_EQ(Format(h, "[#log]|[$Main]"), "E:\\Moved\\app.log|E:\\Moved\\");
    MsiCloseHandle(h);
  }
}

TEST(Costing, TablesAreReadOnceByCostInitialize) {
  CostingPackage t;
  t.Feature("Core", "", 1);
  t.Component("Main", {"Core"});
  MSIHANDLE h = t.pkg.Open();
  // CostFinalize alone has nothing to work on.
  EXPECT_EQ(MsiDoActionA(h, "CostFinalize"), 0u);
  EXPECT_EQ(StatesOf(h, "Core").result, UINT{ERROR_UNKNOWN_FEATURE});
  EXPECT_EQ(GetProp(h, "TARGETDIR"), "");
  ASSERT_EQ(MsiDoActionA(h, "CostInitialize"), 0u);
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
  ASSERT_EQ(MsiDoActionA(h, "CostFinalize"), 0u);
  EXPECT_EQ(GetProp(h, "TARGETDIR"), "C:\\");
  EXPECT_EQ(GetProp(h, "LateDir"), "");
  EXPECT_EQ(StatesOf(h, "Late", false).result, UINT{ERROR_UNKNOWN_COMPONENT});
  EXPECT_EQ(StatesOf(h, "Main", false).action, kLocal);
}

TEST(CostingWithoutTables, SucceedsWithWhateverTablesThereAre) {
  for (bool directory : {false, true}) {
    Package pkg;
    if (directory)
      pkg.Table("Directory")
          .Sql("INSERT INTO `Directory` (`Directory`, `Directory_Parent`, `DefaultDir`) VALUES "
               "('TARGETDIR', '', 'SourceDir')");
    MSIHANDLE h = pkg.Open();
    for (const char* action : {"CostInitialize", "FileCost", "CostFinalize", "CostFinalize"})
      EXPECT_EQ(MsiDoActionA(h, action), 0u) << action;
    EXPECT_EQ(GetProp(h, "TARGETDIR"), directory ? "C:\\" : "");
    EXPECT_EQ(MsiGetFeatureStateA(h, "Core", nullptr, nullptr), UINT{ERROR_UNKNOWN_FEATURE});
  }
}

// ---- installed products -------------------------------------------------------------

// The product asks without a path buffer; a product or component code that is
// no GUID in braces is an invalid argument.
TEST(ComponentPath, NothingIsInstalledOnAFreshMachine) {
  const std::pair<const char*, const char*> unknown[] = {
      {kProductCode, kTrovComponentCode},
      {"{6e2b90c4-51a7-4d3e-8f0b-a9c41d7e2b63}", "{d2b7e415-08c3-4a9f-86e1-b5f40a7c3d92}"}};
  for (const auto& [product, component] : unknown)
    EXPECT_EQ(MsiGetComponentPathA(product, component, nullptr, nullptr), kUnknown) << product;
  const std::pair<const char*, const char*> invalid[] = {
      {nullptr, kTrovComponentCode},
      {"", kTrovComponentCode},
      {kProductCode, "Registry.3F8A61D5_E27C_4B19_9D40_58B6C1E0A2F7"},
      {kProductCode, "D2B7E415-08C3-4A9F-86E1-B5F40A7C3D92"},
      {kProductCode, "{D2B7E415-08C3-4A9F-86E1-B5F40A7C3D92}x"}};
  for (const auto& [product, component] : invalid)
    EXPECT_EQ(MsiGetComponentPathA(product, component, nullptr, nullptr), INSTALLSTATE_INVALIDARG)
        << component;
}

// ---- SystemStateBetweenCostFinalize ---------------------------------------------

const char kLauncherRegistry[] = "Registry.3F8A61D5_E27C_4B19_9D40_58B6C1E0A2F7";
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
    const char *enableTrov, *filesAfter;
  } cases[] = {
      {1, true, "", ""},     // being installed locally: the files stay wanted
      {3, true, "", "No"},   // not selected
      {3, true, "Yes", ""},  // asked for
      {1, false, "", "No"},  // costing has not loaded the component
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
    States s = StatesOf(h, e.name, e.feature);
    EXPECT_EQ(s.installed, e.installed) << e.name;
    EXPECT_EQ(s.action, e.action) << e.name;
  }
  winsim::ResetInstalledProducts();
}

// Not being installed, the launcher is still wanted while the product has the
// files installed: registered local or from source, with the key path there.
TEST(SingleSignOn, WantedWhileTheProductHasTheFilesInstalled) {
  const std::string folder = TempFolder("trov");
  const struct {
    INSTALLSTATE registered;
    std::string keyPath;
    const char* filesAfter;
  } cases[] = {
      {kLocal, folder, ""},
      {kSource, folder, ""},
      {kLocal, folder + "gone\\", "No"},
      {kLocal, "", "No"},  // registered without a key path: not used
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.registered) + " " + c.keyPath);
    winsim::SetInstalledComponent(kProductCode, kTrovComponentCode, c.registered, c.keyPath);
    CostingPackage t;
    MSIHANDLE h = OpenLauncherPackage(t, 3);  // the launcher is not being installed
    Cost(h);
    EXPECT_EQ(CallAction(h, "SystemStateBetweenCostFinalize"), 0u);
    EXPECT_EQ(GetProp(h, kEnableTrovFiles), c.filesAfter);
  }
  winsim::ResetInstalledProducts();
  EXPECT_EQ(MsiGetComponentPathA(kProductCode, kTrovComponentCode, nullptr, nullptr), kUnknown);
}

// A read or write that fails ends the action with 1603 before CostFinalize.
TEST(SingleSignOn, FailedReadsAndWritesEndTheAction) {
  const struct {
    const char* failRead;
    const char* failWrite;
    const char* adminUser;
  } cases[] = {
      {"ProductCode", "", "1"},
      {"", kEnableTrovFiles, "1"},
      {"", "ENABLE_TROV", ""},  // no administrative rights: ENABLE_TROV is switched off
      {"Privileged", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.failRead) + c.failWrite);
    CostingPackage t;
    MSIHANDLE h = OpenLauncherPackage(t, 3);
    Cost(h);
    winsim::ResetSession();
    SetProp(h, "AdminUser", c.adminUser);
    SetProp(h, "Privileged", "");
    SetProp(h, kEnableTrovFiles, "start");
    if (*c.failRead) winsim::FailPropertyRead(c.failRead);
    if (*c.failWrite) winsim::FailPropertyWrite(c.failWrite);
    EXPECT_EQ(CallAction(h, "SystemStateBetweenCostFinalize"), 1603u);
    const auto& run = winsim::ActionsRun();
    EXPECT_EQ(std::count(run.begin(), run.end(), "CostFinalize"), 0);
    winsim::ResetSession();
    EXPECT_EQ(GetProp(h, kEnableTrovFiles), "start");
  }
}
#endif

}  // namespace
