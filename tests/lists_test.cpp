// The feature and dialog lists: the feature list box filled from the Feature
// table, the default selection of a pair of lists, the dialog list filled from
// the dialog mapping, and the eight list buttons.
//
// Wine's engine departs from Windows where these actions work: a row deleted
// and inserted again through a view with a WHERE while it is being fetched
// makes Wine fetch the same place again, and several rows moved through one
// walk can come back in another order. Cases that move or re-file more than one
// row run natively only; every action run under Wine has a time limit, so that
// such a loop fails the test instead of hanging the suite.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "reports/feature_list.h"
#include "wizard/list_box.h"
#include "runtime/msi.h"
#include "tests/fixture.h"

#ifndef _WIN32
#include "winsim/control.h"
#endif

using namespace viduzo_test;

namespace {

#ifdef _WIN32
constexpr bool kWine = true;
#else
constexpr bool kWine = false;
#endif

const char kProductCode[] = "{4B7D2E90-6A13-4C58-9F2E-0D61B3A7C845}";

// Runs an action with a time limit: an action that has not returned after 30 s
// ends the test program with a message naming it, instead of hanging.
UINT CallTimed(MSIHANDLE h, const char* name) {
  std::mutex m;
  std::condition_variable cv;
  bool done = false;
  std::thread watchdog([&] {
    std::unique_lock<std::mutex> lock(m);
    if (!cv.wait_for(lock, std::chrono::seconds(30), [&] { return done; })) {
      std::fprintf(stderr, "%s did not return within 30 s: the engine loops\n", name);
      std::fflush(stderr);
      std::_Exit(3);
    }
  });
  UINT result = CallAction(h, name);
  {
    std::lock_guard<std::mutex> lock(m);
    done = true;
  }
  cv.notify_one();
  watchdog.join();
  return result;
}

struct ListRow {
  std::string list;
  int order;
  std::string value, text;
};

void AddRows(Package& pkg, const std::vector<ListRow>& rows) {
  for (const ListRow& r : rows)
    pkg.Sql("INSERT INTO `ListBox` (`Property`, `Order`, `Value`, `Text`) VALUES ('" + r.list +
            "', " + std::to_string(r.order) + ", '" + r.value + "', '" + r.text + "')");
}

// Every ListBox row as list, order, value, text, sorted.
Rows ListRows(MSIHANDLE h) {
  return QueryRows(h, "SELECT `Property`, `Order`, `Value`, `Text` FROM `ListBox`");
}

Rows ToRows(const std::vector<ListRow>& rows) {
  Rows out;
  for (const ListRow& r : rows) out.push_back({r.list, std::to_string(r.order), r.value, r.text});
  std::sort(out.begin(), out.end());
  return out;
}

// ---- the feature tree ------------------------------------------------------------

struct Feature {
  const char* key;
  const char* parent;
  const char* title;  // null leaves the title empty
  int display;
  int level;
};

// A package with the costing tables, the given features and a ListBox table.
void FeaturePackage(Package& pkg, const std::vector<Feature>& features) {
  pkg.Table("Feature").Table("Component").Table("FeatureComponents").Table("Directory");
  pkg.Table("File").Table("ListBox").Property("ProductCode", kProductCode);
  pkg.Sql("INSERT INTO `Directory` (`Directory`, `Directory_Parent`, `DefaultDir`) VALUES "
          "('TARGETDIR', '', 'SourceDir')");
  for (const Feature& f : features)
    pkg.Sql(std::string("INSERT INTO `Feature` (`Feature`, `Feature_Parent`, `Title`, `Display`, "
                        "`Level`, `Attributes`) VALUES ('") +
            f.key + "', '" + f.parent + "', '" + (f.title ? f.title : "") + "', " +
            std::to_string(f.display) + ", " + std::to_string(f.level) + ", 0)");
}

// Three levels under Suite, features hidden, disabled, chosen by level, without
// a title, under a missing or untitled parent, and two whose parents loop.
// Level 100 is above the package's install level, so those features have no
// action requested.
const std::vector<Feature> kTree = {
    {"Suite", "", "Suite", 1, 100},
    {"Client", "Suite", "Client", 1, 100},
    {"PlugIns", "Client", "Plug-ins", 1, 100},
    {"Clientele", "Suite", "Clientele", 1, 100},
    {"Hidden", "Suite", "Hidden", 0, 100},
    {"Disabled", "Suite", "Disabled", 1, 0},
    {"Chosen", "", "Chosen", 1, 1},
    {"Requested", "", "Requested", 1, 100},
    {"Untitled", "Suite", nullptr, 1, 100},
    {"UnderUntitled", "Untitled", "Below", 1, 100},
    {"Orphan", "Missing", "Orphan", 1, 100},
    {"LoopA", "LoopB", "A", 1, 100},
    {"LoopB", "LoopA", "B", 1, 100},
};

TEST(FeatureTitlePath, PathsFromTheTopDown) {
  Package pkg;
  std::vector<Feature> tree = kTree;
  // A chain of exactly the deepest tree the installer accepts, and one deeper.
  const std::vector<std::string> keys = {"", "D1", "D2", "D3", "D4", "D5", "D6", "D7", "D8",
                                         "D9", "D10", "D11", "D12", "D13", "D14", "D15", "D16",
                                         "D17"};
  for (int i = 1; i <= 17; ++i)
    tree.push_back({keys[i].c_str(), keys[i - 1].c_str(), "t", 1, 100});
  FeaturePackage(pkg, tree);
  MSIHANDLE h = pkg.Open();
  std::string sixteen = "t";
  for (int i = 1; i < 16; ++i) sixteen += "\\t";
  const struct {
    const char* feature;
    bool built;
    std::string path;
  } cases[] = {
      {"PlugIns", true, "Suite\\Client\\Plug-ins"},
      {"Clientele", true, "Suite\\Clientele"},
      {"Suite", true, "Suite"},
      {"UnderUntitled", true, "\\Below"},
      {"Orphan", true, "\\Orphan"},
      {"Untitled", false, ""},
      {"NoSuchFeature", false, ""},
      {"Bob's", false, ""},
      {"LoopA", false, ""},
      {"D16", true, sixteen},
      {"D17", false, ""},
  };
  HandleCheck check;
  viduzo::MSI owner(h);
  ASSERT_TRUE(owner.OpenActiveDatabase(h));
  for (const auto& c : cases) {
    std::string path = "unchanged";
    EXPECT_EQ(viduzo::BuildFeatureTitlePath(owner, c.feature, &path), c.built) << c.feature;
    EXPECT_EQ(path, c.built ? c.path : "unchanged") << c.feature;
  }
  owner.CloseDatabase();
}

TEST(FeatureTitlePath, NoFeatureTable) {
  Package pkg;
  MSIHANDLE h = pkg.Open();
  viduzo::MSI owner(h);
  ASSERT_TRUE(owner.OpenActiveDatabase(h));
  std::string path;
  EXPECT_FALSE(viduzo::BuildFeatureTitlePath(owner, "Suite", &path));
  owner.CloseDatabase();
}

// ---- SetFeatureListbox ---------------------------------------------------------

// The rows without their Order, and the Orders of the given list.
Rows RowsWithoutOrder(MSIHANDLE h) {
  return QueryRows(h, "SELECT `Property`, `Value`, `Text` FROM `ListBox`");
}
std::vector<int> Orders(MSIHANDLE h, const std::string& list) {
  std::vector<int> orders;
  for (const auto& row :
       QueryRows(h, "SELECT `Order` FROM `ListBox` WHERE `Property`='" + list + "'"))
    orders.push_back(std::stoi(row[0]));
  std::sort(orders.begin(), orders.end());
  return orders;
}

TEST(SetFeatureListbox, ListsEveryShownEnabledFeatureWithoutAnAction) {
  Package pkg;
  FeaturePackage(pkg, kTree);
  MSIHANDLE h = pkg.Open();
  Cost(h);
  ASSERT_EQ(MsiSetFeatureStateA(h, "Requested", INSTALLSTATE_LOCAL), 0u);
  EXPECT_EQ(CallTimed(h, "SetFeatureListbox"), 0u);
  const char* l11 = "RemoveFeatureListBox11";
  EXPECT_EQ(RowsWithoutOrder(h), (Rows{{l11, "Suite", "Suite"},
                                       {l11, "Suite\\Client", "Client"},
                                       {l11, "Suite\\Client\\Plug-ins", "Plug-ins"},
                                       {l11, "Suite\\Clientele", "Clientele"},
                                       {l11, "\\Below", "Below"},
                                       {l11, "\\Orphan", "Orphan"}}));
  EXPECT_EQ(Orders(h, l11), (std::vector<int>{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(GetProp(h, "NoDisabledFeatures"), "0");

  // A second run keeps every row where it is and drops the scratch table.
  Rows before = ListRows(h);
  EXPECT_EQ(CallTimed(h, "SetFeatureListbox"), 0u);
  EXPECT_EQ(ListRows(h), before);
}

TEST(SetFeatureListbox, RevisesTheListsOfAnEarlierRun) {
  const std::vector<Feature> tree = {{"Suite", "", "Suite", 1, 100},
                                     {"Clientele", "Suite", "Clientele", 1, 100},
                                     {"Chosen", "", "Chosen", 1, 1}};
  const struct Case {
    const char* title;
    bool wine;
    std::vector<Feature> features;
    const char* targetPointer;  // RemoveFeatureListBox1
    std::vector<ListRow> before;
    Rows after;  // without Order
    std::vector<int> targetOrders;
    const char* noDisabled;
  } cases[] = {
      {"nothing qualifies and nothing listed", true, {{"Chosen", "", "Chosen", 1, 1}}, "", {},
       {}, {}, "1"},
      {"a row in list 21 stays there; the new one goes to list 12", true, tree,
       "RemoveFeatureListBox12",
       {{"RemoveFeatureListBox21", 7, "Suite\\Clientele", "Clientele"}},
       {{"RemoveFeatureListBox12", "Suite", "Suite"},
        {"RemoveFeatureListBox21", "Suite\\Clientele", "Clientele"}},
       {2}, "0"},
      {"rows of features that no longer qualify go, in every feature list", false,
       {{"Chosen", "", "Chosen", 1, 1}}, "",
       {{"RemoveFeatureListBox11", 1, "Chosen", "Chosen"},
        {"RemoveFeatureListBox12", 1, "Gone", "Gone"},
        {"RemoveFeatureListBox21", 3, "Gone too", "Gone"},
        {"RemoveFeatureListBox22", 3, "Chosen", "Chosen"},
        {"OtherList", 1, "Chosen", "Chosen"}},
       {{"OtherList", "Chosen", "Chosen"}}, {}, "1"},
      {"a one-letter target list", true, {{"Suite", "", "Suite", 1, 100}}, "X", {},
       {{"X", "Suite", "Suite"}}, {1}, "0"},
      {"a target name too long for its buffer goes to list 11", true,
       {{"Suite", "", "Suite", 1, 100}}, "<256>", {},
       {{"RemoveFeatureListBox11", "Suite", "Suite"}}, {}, "0"},
      {"only the four feature lists are revised", false, {{"Suite", "", "Suite", 1, 100}}, "",
       {{"RemoveFeatureListBox01", 1, "Gone", "Gone"},
        {"RemoveFeatureListBox10", 1, "Gone", "Gone"},
        {"RemoveFeatureListBox13", 1, "Gone", "Gone"},
        {"RemoveFeatureListBox31", 1, "Gone", "Gone"}},
       {{"RemoveFeatureListBox01", "Gone", "Gone"},
        {"RemoveFeatureListBox10", "Gone", "Gone"},
        {"RemoveFeatureListBox11", "Suite", "Suite"},
        {"RemoveFeatureListBox13", "Gone", "Gone"},
        {"RemoveFeatureListBox31", "Gone", "Gone"}},
       {1}, "0"},
      {"a feature listed in another list is not added again", true,
       {{"Suite", "", "Suite", 1, 100}}, "",
       {{"OtherList", 4, "Suite", "Suite"}}, {{"OtherList", "Suite", "Suite"}}, {}, "1"},
      {"the counter meets an Order that a staying row holds", true,
       {{"Suite", "", "Suite", 1, 100}, {"Clientele", "Suite", "Clientele", 1, 100}}, "",
       {{"RemoveFeatureListBox11", 2, "Suite\\Clientele", "Clientele"}},
       {{"RemoveFeatureListBox11", "Suite\\Clientele", "Clientele"}}, {2}, "0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.title);
    if (kWine && !c.wine) continue;
    Package pkg;
    FeaturePackage(pkg, c.features);
    AddRows(pkg, c.before);
    const std::string pointer =
        std::string(c.targetPointer) == "<256>" ? std::string(256, 'L') : c.targetPointer;
    if (!pointer.empty()) pkg.Property("RemoveFeatureListBox1", pointer);
    MSIHANDLE h = pkg.Open();
    Cost(h);
    EXPECT_EQ(CallTimed(h, "SetFeatureListbox"), 0u);
    EXPECT_EQ(RowsWithoutOrder(h), c.after);
    const std::string target = pointer.empty() ? "RemoveFeatureListBox11" : pointer;
    EXPECT_EQ(Orders(h, target), c.targetOrders);
    EXPECT_EQ(GetProp(h, "NoDisabledFeatures"), c.noDisabled);
  }
}

#ifndef _WIN32
TEST(SetFeatureListbox, InstalledFeaturesAreNotListed) {
  winsim::SetInstalledFeature(kProductCode, "Client", INSTALLSTATE_LOCAL);
  Package pkg;
  FeaturePackage(pkg, {{"Suite", "", "Suite", 1, 100}, {"Client", "Suite", "Client", 1, 100}});
  MSIHANDLE h = pkg.Open();
  Cost(h);
  EXPECT_EQ(CallTimed(h, "SetFeatureListbox"), 0u);
  EXPECT_EQ(RowsWithoutOrder(h), (Rows{{"RemoveFeatureListBox11", "Suite", "Suite"}}));
  winsim::ResetInstalledProducts();
}
#endif

TEST(SetFeatureListbox, TableFailures) {
  const struct {
    const char* title;
    bool feature, listBox, scratch;
    UINT result;
  } cases[] = {
      {"no Feature table", false, true, false, ERROR_BAD_QUERY_SYNTAX},
      {"FeatureList left from an earlier run", true, true, true, ERROR_BAD_QUERY_SYNTAX},
      {"no ListBox table", true, false, false, ERROR_BAD_QUERY_SYNTAX},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.title);
    Package pkg;
    if (c.feature) pkg.Table("Feature");
    if (c.listBox) pkg.Table("ListBox");
    if (c.scratch)
      pkg.Sql("CREATE TABLE `FeatureList` (`ID` CHAR(72) NOT NULL, `Value` CHAR(0), `Text` "
              "CHAR(0) PRIMARY KEY `ID`)");
    if (c.listBox) AddRows(pkg, {{"RemoveFeatureListBox11", 1, "Old", "Old"}});
    MSIHANDLE h = pkg.Open();
    EXPECT_EQ(CallTimed(h, "SetFeatureListbox"), c.result);
    if (c.listBox) {
      EXPECT_EQ(RowsWithoutOrder(h), (Rows{{"RemoveFeatureListBox11", "Old", "Old"}}));
    }
    EXPECT_EQ(GetProp(h, "NoDisabledFeatures"), "");
    // The scratch table is gone after a run that made it.
    MSIHANDLE db = MsiGetActiveDatabase(h), view = 0;
    UINT open = MsiDatabaseOpenViewA(db, "SELECT * FROM `FeatureList`", &view);
    EXPECT_EQ(open == ERROR_SUCCESS, c.scratch);
    if (view) MsiCloseHandle(view);
    MsiCloseHandle(db);
  }
}

// ---- DefaultListBox ----------------------------------------------------------------

// A pair of dialog lists: the target list 11 and the left-over list 21.
const std::vector<ListRow> kPair = {{"DialogListBox11", 1, "A", "Alpha"},
                                    {"DialogListBox11", 2, "B", "Beta"},
                                    {"DialogListBox21", 3, "C", "Gamma"},
                                    {"DialogListBox21", 4, "D", "Delta"}};

void ControlProperties(Package& pkg, const std::string& to, const std::string& leftOver) {
  pkg.Property("ListPropertyDone", "PairDone")
      .Property("ListPropertyFrom", "PairDefault")
      .Property("ListPropertyTo", to)
      .Property("ListPropertyLeftOver", leftOver);
}

TEST(DefaultListBox, AppliesTheDefaultSelectionOnce) {
  const char* t = "DialogListBox11";
  const char* l = "DialogListBox21";
  const std::vector<ListRow> all = {
      {t, 1, "A", "Alpha"}, {t, 2, "B", "Beta"}, {t, 3, "C", "Gamma"}, {t, 4, "D", "Delta"}};
  const std::vector<ListRow> none = {
      {l, 1, "A", "Alpha"}, {l, 2, "B", "Beta"}, {l, 3, "C", "Gamma"}, {l, 4, "D", "Delta"}};
  const std::vector<ListRow> words = {{t, 5, "No", "None"}, {t, 6, "0", "Zero"}};
  std::vector<ListRow> noneWords = none;
  noneWords.push_back({l, 5, "No", "None"});
  noneWords.push_back({l, 6, "0", "Zero"});
  const struct Case {
    const char* selection;  // "<unset>" leaves the property out
    const char* marker;     // "<unset>" leaves the marker out
    bool wine;
    std::vector<ListRow> after;
    std::vector<ListRow> extra = {};  // rows added to kPair
  } cases[] = {
      {"aLL", "<unset>", false, all},
      {"1", "No", false, all},
      {"yes", "", false, all},
      // Rows named like the NONE words: NONE is no LIST of those words.
      {"None", "<unset>", false, noneWords, words},
      {"nO", "<unset>", false, noneWords, words},
      {"0", "<unset>", false, noneWords, words},
      {" All", "<unset>", false, none},
      {",,", "<unset>", false, none},
      {"All", "Yes", true, kPair},
      {"All", "yES", true, kPair},
      {"All", "1", true, kPair},
      {"", "<unset>", true, kPair},
      {"<unset>", "<unset>", true, kPair},
      // By Value in the target list, by Text from the left-over list; A leaves.
      {"b,Gamma", "<unset>", false,
       {{t, 2, "B", "Beta"}, {t, 3, "C", "Gamma"}, {l, 1, "A", "Alpha"}, {l, 4, "D", "Delta"}}},
      // By Text in the target list, by Value from the left-over list; items
      // that match nothing are ignored.
      {",alpha,,x,d,a,", "<unset>", false,
       {{t, 1, "A", "Alpha"}, {t, 4, "D", "Delta"}, {l, 2, "B", "Beta"}, {l, 3, "C", "Gamma"}}},
      // A left-over row's Value comes before a target row's Text.
      {"alpha", "<unset>", false,
       {{t, 7, "Alpha", "Other"}, {l, 1, "A", "Alpha"}, {l, 2, "B", "Beta"},
        {l, 3, "C", "Gamma"}, {l, 4, "D", "Delta"}},
       {{l, 7, "Alpha", "Other"}}},
      // Items keep their blanks: " a" names nothing.
      {"A,B, a", "<unset>", true, kPair},
      // A move into an Order the target list already holds ends the action;
      // the move before it stays.
      {"C,E,A,B", "<unset>", false,
       {{t, 1, "A", "Alpha"}, {t, 2, "B", "Beta"}, {t, 3, "C", "Gamma"}, {l, 4, "D", "Delta"},
        {l, 1, "E", "Epsilon"}},
       {{l, 1, "E", "Epsilon"}}},
      // An item matches a row brought over by an earlier item: each keeps one
      // of the two rows whose Value is C.
      {"Gamma,gamma", "<unset>", false,
       {{t, 3, "C", "Gamma"}, {t, 9, "C", "Twin"}, {l, 1, "A", "Alpha"}, {l, 2, "B", "Beta"},
        {l, 4, "D", "Delta"}},
       {{t, 9, "C", "Twin"}}},
      // A copy into an Order the left-over list holds ends the action before
      // any row leaves the target list.
      {"None", "<unset>", true,
       {{t, 1, "A", "Alpha"}, {t, 2, "B", "Beta"}, {l, 3, "C", "Gamma"}, {l, 4, "D", "Delta"},
        {l, 1, "E", "Epsilon"}},
       {{l, 1, "E", "Epsilon"}}},
      // One kept entry keeps one row: of two rows with the same Value the
      // second is copied over, and the first row found by that Value leaves.
      {"A,B", "<unset>", false,
       {{t, 2, "B", "Beta"}, {t, 5, "A", "Again"}, {l, 3, "C", "Gamma"}, {l, 4, "D", "Delta"},
        {l, 5, "A", "Again"}},
       {{t, 5, "A", "Again"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("selection '") + c.selection + "', marker '" + c.marker + "'");
    if (kWine && !c.wine) continue;
    Package pkg;
    pkg.Table("ListBox");
    std::vector<ListRow> rows = kPair;
    rows.insert(rows.end(), c.extra.begin(), c.extra.end());
    AddRows(pkg, rows);
    ControlProperties(pkg, t, l);
    // An empty value cannot be a Property row; it is set on the session below.
    if (std::string(c.selection) != "<unset>" && c.selection[0])
      pkg.Property("PairDefault", c.selection);
    if (std::string(c.marker) != "<unset>" && c.marker[0]) pkg.Property("PairDone", c.marker);
    MSIHANDLE h = pkg.Open();
    if (std::string(c.selection).empty()) SetProp(h, "PairDefault", "");
    if (std::string(c.marker).empty()) SetProp(h, "PairDone", "");
    EXPECT_EQ(CallTimed(h, "DefaultListBox"), 0u);
    EXPECT_EQ(ListRows(h), ToRows(c.after));
    bool wasDone = std::string(c.marker) == "Yes" || std::string(c.marker) == "yES" ||
                   std::string(c.marker) == "1";
    EXPECT_EQ(GetProp(h, "PairDone"), wasDone ? c.marker : "Yes");
  }
}

TEST(DefaultListBox, ControlPropertiesMissingOrTooLong) {
  const std::string long512(512, 'p');
  const struct Case {
    const char* title;
    std::string done, from, to, leftOver;
    bool markerSet;  // PairDone becomes "Yes"
  } cases[] = {
      {"no marker name", "", "PairDefault", "DialogListBox11", "DialogListBox21", false},
      {"marker name too long for its buffer", long512, "PairDefault", "DialogListBox11",
       "DialogListBox21", false},
      {"no selection name", "PairDone", "", "DialogListBox11", "DialogListBox21", true},
      {"no target list", "PairDone", "PairDefault", "", "DialogListBox21", true},
      {"target name too long", "PairDone", "PairDefault", long512, "DialogListBox21", true},
      {"left-over name too long", "PairDone", "PairDefault", "DialogListBox11", long512, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.title);
    Package pkg;
    pkg.Table("ListBox");
    AddRows(pkg, kPair);
    pkg.Property("PairDefault", "None");
    MSIHANDLE h = pkg.Open();
    SetProp(h, "ListPropertyDone", c.done);
    SetProp(h, "ListPropertyFrom", c.from);
    SetProp(h, "ListPropertyTo", c.to);
    SetProp(h, "ListPropertyLeftOver", c.leftOver);
    EXPECT_EQ(CallTimed(h, "DefaultListBox"), 0u);
    EXPECT_EQ(ListRows(h), ToRows(kPair));
    EXPECT_EQ(GetProp(h, "PairDone"), c.markerSet ? "Yes" : "");
  }
  // One-letter names are names.
  {
    Package pkg;
    pkg.Table("ListBox");
    AddRows(pkg, {{"T", 1, "A", "Alpha"}});
    pkg.Property("ListPropertyDone", "M").Property("ListPropertyFrom", "S");
    pkg.Property("ListPropertyTo", "T").Property("ListPropertyLeftOver", "L");
    pkg.Property("S", "None");
    MSIHANDLE h = pkg.Open();
    EXPECT_EQ(CallTimed(h, "DefaultListBox"), 0u);
    EXPECT_EQ(ListRows(h), ToRows({{"L", 1, "A", "Alpha"}}));
    EXPECT_EQ(GetProp(h, "M"), "Yes");
  }
  // A marker whose value does not fit 512 characters: the read fails, nothing
  // happens.
  Package pkg;
  pkg.Table("ListBox");
  AddRows(pkg, kPair);
  ControlProperties(pkg, "DialogListBox11", "DialogListBox21");
  pkg.Property("PairDefault", "None").Property("PairDone", long512);
  MSIHANDLE h = pkg.Open();
  EXPECT_EQ(CallTimed(h, "DefaultListBox"), 0u);
  EXPECT_EQ(GetProp(h, "PairDone"), long512);
  EXPECT_EQ(ListRows(h), ToRows(kPair));
  // No ListBox table: the marker is set all the same.
  Package bare;
  ControlProperties(bare, "DialogListBox11", "DialogListBox21");
  bare.Property("PairDefault", "All");
  MSIHANDLE b = bare.Open();
  EXPECT_EQ(CallTimed(b, "DefaultListBox"), 0u);
  EXPECT_EQ(GetProp(b, "PairDone"), "Yes");
}

TEST(DefaultListBox, FeatureItemsAreMatchedByTitlePath) {
  const char* t = "RemoveFeatureListBox21";
  const char* l = "RemoveFeatureListBox11";
  const std::vector<ListRow> lists = {{l, 1, "Suite\\Client", "Client"},
                                      {l, 2, "Suite\\Clientele", "Clientele"},
                                      {l, 3, "Client", "Plain"}};
  const struct {
    const char* selection;
    std::vector<ListRow> after;
  } cases[] = {
      // The feature Client is matched by its path, not by its name.
      {"Client", {{t, 1, "Suite\\Client", "Client"}, {l, 2, "Suite\\Clientele", "Clientele"},
                  {l, 3, "Client", "Plain"}}},
      // A name that is no feature is matched as written.
      {"suite\\clientele", {{l, 1, "Suite\\Client", "Client"},
                            {t, 2, "Suite\\Clientele", "Clientele"},
                            {l, 3, "Client", "Plain"}}},
      {"Plain", {{l, 1, "Suite\\Client", "Client"}, {l, 2, "Suite\\Clientele", "Clientele"},
                 {t, 3, "Client", "Plain"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.selection);
    Package pkg;
    FeaturePackage(pkg, {{"Suite", "", "Suite", 1, 100},
                         {"Client", "Suite", "Client", 1, 100},
                         {"Clientele", "Suite", "Clientele", 1, 100}});
    AddRows(pkg, lists);
    ControlProperties(pkg, t, l);
    pkg.Property("PairDefault", c.selection);
    MSIHANDLE h = pkg.Open();
    EXPECT_EQ(CallTimed(h, "DefaultListBox"), 0u);
    EXPECT_EQ(ListRows(h), ToRows(c.after));
  }
}

TEST(DefaultListBox, DbcsItemsMatchDoubleByteLettersWithoutRegardToCase) {
  if (GetACP() != 932) GTEST_SKIP() << "needs code page 932";
  // Full-width a and A. One double-byte character per value: the engine sizes
  // a field in characters, and the query object grows a short read by one byte.
  const std::string wideA = "\x82\x60", widea = "\x82\x81";
  const char* t = "DialogListBox11";
  const char* l = "DialogListBox21";
  Package pkg;
  pkg.Table("ListBox");
  AddRows(pkg, {{l, 1, widea, "One"}, {l, 2, "b", "Two"}});
  ControlProperties(pkg, t, l);
  pkg.Property("PairDefault", wideA);
  MSIHANDLE h = pkg.Open();
  EXPECT_EQ(CallTimed(h, "DefaultListBox"), 0u);
  EXPECT_EQ(ListRows(h), ToRows({{t, 1, widea, "One"}, {l, 2, "b", "Two"}}));
}

TEST(ValueList, AnOrderedListOfOwnedTexts) {
  viduzo::ValueList list;
  std::string taken;
  EXPECT_FALSE(list.TakeFirst(&taken));
  EXPECT_FALSE(list.RemoveFirst("a"));
  char text[] = "a";
  list.Append(text);
  text[0] = 'z';  // the list keeps its own copy
  list.Append("b");
  list.Append("a");
  EXPECT_EQ(list.Count(), 3u);
  EXPECT_TRUE(list.RemoveFirst("a"));
  EXPECT_FALSE(list.RemoveFirst("A"));
  EXPECT_TRUE(list.TakeFirst(&taken));
  EXPECT_EQ(taken, "b");
  EXPECT_TRUE(list.TakeFirst(&taken));
  EXPECT_EQ(taken, "a");
  EXPECT_FALSE(list.RemoveFirst("a"));
  EXPECT_FALSE(list.RemoveFirst("b"));
  EXPECT_EQ(list.Count(), 0u);
  list.Append("c");
  EXPECT_TRUE(list.RemoveFirst("c"));
  EXPECT_FALSE(list.TakeFirst(&taken));
}

// ---- PopulateListBoxTable -----------------------------------------------------------

TEST(PopulateListBoxTable, OneRowPerMappedDialog) {
  Package pkg;
  pkg.Table("ListBox");
  pkg.Sql("CREATE TABLE `VmrDialogMapping` (`Dialog` CHAR(72) NOT NULL, `Order` SHORT, "
          "`EnableKey` CHAR(72), `DisplayText` CHAR(255) PRIMARY KEY `Dialog`)");
  const char* mapping[] = {"'WelcomeDlg', 1, 'k', 'Welcome'", "'FolderDlg', 2, 'k', 'Folder'",
                           "'NoOrder', NULL, 'k', 'Skipped'", "'NoText', 4, 'k', ''",
                           "'Taken', 7, 'k', 'Taken'"};
  for (const char* row : mapping)
    pkg.Sql(std::string("INSERT INTO `VmrDialogMapping` (`Dialog`, `Order`, `EnableKey`, "
                        "`DisplayText`) VALUES (") + row + ")");
  AddRows(pkg, {{"DialogListBox11", 7, "Old", "Old"}});
  MSIHANDLE h = pkg.Open();
  const Rows expected = ToRows({{"DialogListBox11", 1, "Welcome", "Welcome"},
                                {"DialogListBox11", 2, "Folder", "Folder"},
                                {"DialogListBox11", 7, "Old", "Old"}});
  EXPECT_EQ(CallTimed(h, "PopulateListBoxTable"), 0u);
  EXPECT_EQ(ListRows(h), expected);
  EXPECT_EQ(CallTimed(h, "PopulateListBoxTable"), 0u);
  EXPECT_EQ(ListRows(h), expected);

  Package bare;
  MSIHANDLE b = bare.Open();
  EXPECT_EQ(CallTimed(b, "PopulateListBoxTable"), 0u);
}

// ---- the list buttons -----------------------------------------------------------

const std::vector<ListRow> kFeatures = {
    {"RemoveFeatureListBox11", 1, "Suite", "Suite"},
    {"RemoveFeatureListBox11", 2, "Suite\\Client", "Client"},
    {"RemoveFeatureListBox11", 3, "Suite\\Client\\Plug-ins", "Plug-ins"},
    {"RemoveFeatureListBox11", 4, "Suite\\Clientele", "Clientele"},
};

struct ButtonCase {
  const char* title;
  const char* action;
  bool wine;
  std::vector<std::pair<std::string, std::string>> properties;
  std::vector<ListRow> before;
  UINT result;
  std::vector<ListRow> after;
};

void RunButtonCases(const std::vector<ButtonCase>& cases) {
  for (const ButtonCase& c : cases) {
    SCOPED_TRACE(c.title);
    if (kWine && !c.wine) continue;
    Package pkg;
    const bool table = std::string(c.title).find("without a ListBox") == std::string::npos &&
                       std::string(c.title).find("no ListBox") == std::string::npos;
    if (table) pkg.Table("ListBox");
    AddRows(pkg, c.before);
    for (const auto& [name, value] : c.properties) pkg.Property(name, value);
    MSIHANDLE h = pkg.Open();
    EXPECT_EQ(CallTimed(h, c.action), c.result);
    if (table) {
      EXPECT_EQ(ListRows(h), ToRows(c.after));
    }
  }
}

TEST(SelectionLists, FeatureButtons) {
  const std::vector<std::pair<std::string, std::string>> pointers = {
      {"RemoveFeatureListBox1", "RemoveFeatureListBox11"},
      {"RemoveFeatureListBox2", "RemoveFeatureListBox21"}};
  auto with = [&](const char* name, const char* value) {
    auto p = pointers;
    p.emplace_back(name, value);
    return p;
  };
  const char* l11 = "RemoveFeatureListBox11";
  const char* l12 = "RemoveFeatureListBox12";
  const char* l21 = "RemoveFeatureListBox21";
  const char* l22 = "RemoveFeatureListBox22";
  std::vector<ListRow> inList2;
  for (ListRow r : kFeatures) inList2.push_back({l21, r.order, r.value, r.text});
  RunButtonCases({
      {"Remove takes the sub-features along, not a look-alike", "Remove", false,
       with(l11, "Suite\\Client"), kFeatures, 0,
       {{l12, 1, "Suite", "Suite"}, {l21, 2, "Suite\\Client", "Client"},
        {l21, 3, "Suite\\Client\\Plug-ins", "Plug-ins"}, {l12, 4, "Suite\\Clientele", "Clientele"}}},
      {"Keep takes the parents along, not a look-alike", "Keep", false,
       {{"RemoveFeatureListBox1", l11}, {"RemoveFeatureListBox2", l21},
        {l21, "Suite\\Client\\Plug-ins"}},
       inList2, 0,
       {{l11, 1, "Suite", "Suite"}, {l11, 2, "Suite\\Client", "Client"},
        {l11, 3, "Suite\\Client\\Plug-ins", "Plug-ins"}, {l22, 4, "Suite\\Clientele", "Clientele"}}},
      {"Keep from list 22 re-files the rest under 21", "Keep", false,
       {{"RemoveFeatureListBox1", l12}, {"RemoveFeatureListBox2", l22}, {l22, "Suite\\Client"}},
       {{l22, 1, "Suite", "Suite"}, {l22, 2, "Suite\\Client", "Client"},
        {l22, 3, "Suite\\Client\\Plug-ins", "Plug-ins"}, {l22, 5, "Suite", "Twin"}},
       0,
       {{l12, 1, "Suite", "Suite"}, {l12, 2, "Suite\\Client", "Client"},
        {l21, 3, "Suite\\Client\\Plug-ins", "Plug-ins"}, {l12, 5, "Suite", "Twin"}}},
      {"Keep of a look-alike leaves the shorter name behind", "Keep", false,
       {{"RemoveFeatureListBox1", l11}, {"RemoveFeatureListBox2", l21},
        {l21, "Suite\\Clientele"}},
       inList2, 0,
       {{l11, 1, "Suite", "Suite"}, {l22, 2, "Suite\\Client", "Client"},
        {l22, 3, "Suite\\Client\\Plug-ins", "Plug-ins"},
        {l11, 4, "Suite\\Clientele", "Clientele"}}},
      {"no ListBox table", "Remove", true, with(l11, "Suite"), {}, ERROR_BAD_QUERY_SYNTAX, {}},
      {"RemoveAll without a ListBox table", "RemoveAll", true, pointers, {}, 0, {}},
      {"Remove of the only row", "Remove", true, with(l11, "Suite"),
       {{l11, 1, "Suite", "Suite"}}, 0, {{l21, 1, "Suite", "Suite"}}},
      {"nothing selected in the list", "Remove", true, with(l11, "Elsewhere"), kFeatures, 0,
       kFeatures},
      {"no selection property", "Remove", true, pointers, kFeatures, ERROR_FUNCTION_FAILED,
       kFeatures},
      {"no destination pointer", "Remove", true,
       {{"RemoveFeatureListBox1", l11}, {l11, "Suite"}}, kFeatures, ERROR_FUNCTION_FAILED,
       kFeatures},
      {"a source name outside the pairs, with rows left", "Remove", true,
       {{"RemoveFeatureListBox1", "Other"}, {"RemoveFeatureListBox2", l21}, {"Other", "X"}},
       {{"Other", 1, "X", "X"}, {"Other", 2, "Y", "Y"}}, ERROR_FUNCTION_FAILED,
       {{l21, 1, "X", "X"}, {"Other", 2, "Y", "Y"}}},
      {"the destination holds the Order: the row stays where it was", "Remove", true,
       with(l11, "Suite\\Clientele"), {{l11, 4, "Suite\\Clientele", "C"}, {l21, 4, "Z", "Z"}},
       ERROR_FUNCTION_FAILED, {{l11, 4, "Suite\\Clientele", "C"}, {l21, 4, "Z", "Z"}}},
      {"RemoveAll moves the whole list", "RemoveAll", false, pointers, kFeatures, 0, inList2},
      {"KeepAll moves it back", "KeepAll", false, pointers, inList2, 0, kFeatures},
      {"RemoveAll of an empty list", "RemoveAll", true, pointers,
       {{l21, 1, "Suite", "Suite"}}, 0, {{l21, 1, "Suite", "Suite"}}},
      {"RemoveAll without a source pointer", "RemoveAll", true,
       {{"RemoveFeatureListBox2", l21}}, kFeatures, ERROR_FUNCTION_FAILED, kFeatures},
      {"RemoveAll without a destination stops quietly", "RemoveAll", true,
       {{"RemoveFeatureListBox1", l11}}, {{l11, 1, "Suite", "Suite"}}, 0,
       {{l11, 1, "Suite", "Suite"}}},
      {"RemoveAll stops at an Order the destination holds", "RemoveAll", true, pointers,
       {{l11, 1, "Suite", "Suite"}, {l21, 1, "Z", "Z"}}, 0,
       {{l11, 1, "Suite", "Suite"}, {l21, 1, "Z", "Z"}}},
  });
}

TEST(SelectionLists, DialogButtons) {
  const char* d11 = "DialogListBox11";
  const char* d12 = "DialogListBox12";
  const char* d21 = "DialogListBox21";
  const char* d22 = "DialogListBox22";
  const std::vector<std::pair<std::string, std::string>> pointers = {{"DialogListBox1", d11},
                                                                     {"DialogListBox2", d21}};
  auto with = [&](const char* name, const char* value) {
    auto p = pointers;
    p.emplace_back(name, value);
    return p;
  };
  const std::vector<ListRow> shown = {{d11, 1, "Welcome", "Welcome"},
                                      {d11, 2, "Folder", "Folder"},
                                      {d11, 3, "Folder\\Sub", "Folder\\Sub"}};
  RunButtonCases({
      {"HideDialog moves one dialog and re-files the rest", "HideDialog", false,
       with(d11, "Folder"), shown, 0,
       {{d12, 1, "Welcome", "Welcome"}, {d21, 2, "Folder", "Folder"},
        {d12, 3, "Folder\\Sub", "Folder\\Sub"}}},
      {"ShowDialog from list 22 re-files under 21", "ShowDialog", false,
       {{"DialogListBox1", d12}, {"DialogListBox2", d22}, {d22, "B"}},
       {{d22, 1, "A", "A"}, {d22, 2, "B", "B"}}, 0, {{d21, 1, "A", "A"}, {d12, 2, "B", "B"}}},
      {"HideDialog of the only dialog", "HideDialog", true, with(d11, "Welcome"),
       {{d11, 1, "Welcome", "Welcome"}}, 0, {{d21, 1, "Welcome", "Welcome"}}},
      {"feature names are no dialog names", "HideDialog", true,
       {{"DialogListBox1", "RemoveFeatureListBox11"}, {"DialogListBox2", d21},
        {"RemoveFeatureListBox11", "A"}},
       {{"RemoveFeatureListBox11", 1, "A", "A"}, {"RemoveFeatureListBox11", 2, "B", "B"}},
       ERROR_FUNCTION_FAILED,
       {{d21, 1, "A", "A"}, {"RemoveFeatureListBox11", 2, "B", "B"}}},
      {"dialog names are no feature names", "Remove", true,
       {{"RemoveFeatureListBox1", d11}, {"RemoveFeatureListBox2", d21}, {d11, "A"}},
       {{d11, 1, "A", "A"}, {d11, 2, "B", "B"}}, ERROR_FUNCTION_FAILED,
       {{d21, 1, "A", "A"}, {d11, 2, "B", "B"}}},
      {"HideAllDialog", "HideAllDialog", false, pointers, shown, 0,
       {{d21, 1, "Welcome", "Welcome"}, {d21, 2, "Folder", "Folder"},
        {d21, 3, "Folder\\Sub", "Folder\\Sub"}}},
      // Under Wine even one row moved by the move-all loop is fetched again
      // and again.
      {"ShowAllDialog", "ShowAllDialog", false, pointers, {{d21, 1, "Welcome", "Welcome"}}, 0,
       {{d11, 1, "Welcome", "Welcome"}}},
  });
}

TEST(SelectionLists, ValuesTooLongForTheirBuffers) {
  const std::string long300(300, 'v');
  const std::string long256(256, 's');
  const char* l11 = "RemoveFeatureListBox11";
  const char* l21 = "RemoveFeatureListBox21";
  RunButtonCases({
      {"a selected value of 256 characters", "Remove", true,
       {{"RemoveFeatureListBox1", l11}, {"RemoveFeatureListBox2", l21}, {l11, long256}},
       {{l11, 1, long256, "T"}}, ERROR_FUNCTION_FAILED, {{l11, 1, long256, "T"}}},
      // The row is read before it leaves its list, so it stays there.
      {"a Text of 256 characters in a parent row", "Keep", true,
       {{"RemoveFeatureListBox1", l11}, {"RemoveFeatureListBox2", l21}, {l21, "S\\x"}},
       {{l21, 1, "S\\x", "x"}, {l21, 2, "S", long256}}, ERROR_MORE_DATA,
       {{l11, 1, "S\\x", "x"}, {l21, 2, "S", long256}}},
      {"a Value of 512 characters in a row left behind", "Remove", true,
       {{"RemoveFeatureListBox1", l11}, {"RemoveFeatureListBox2", l21}, {l11, "S"}},
       {{l11, 1, "S", "S"}, {l11, 2, std::string(512, 'v'), "v"}}, ERROR_MORE_DATA,
       {{l21, 1, "S", "S"}, {l11, 2, std::string(512, 'v'), "v"}}},
  });
}

// ---- without an install session --------------------------------------------------

TEST(ListActions, WithoutAnInstallHandle) {
  const struct {
    const char* action;
    UINT result;
  } cases[] = {
      {"SetFeatureListbox", ERROR_FUNCTION_FAILED}, {"DefaultListBox", 0},
      {"PopulateListBoxTable", 0},                  {"Remove", ERROR_FUNCTION_FAILED},
      {"Keep", ERROR_FUNCTION_FAILED},              {"RemoveAll", ERROR_FUNCTION_FAILED},
      {"KeepAll", ERROR_FUNCTION_FAILED},           {"HideDialog", ERROR_FUNCTION_FAILED},
      {"ShowDialog", ERROR_FUNCTION_FAILED},        {"HideAllDialog", ERROR_FUNCTION_FAILED},
      {"ShowAllDialog", ERROR_FUNCTION_FAILED},
  };
  for (const auto& c : cases) EXPECT_EQ(CallTimed(0, c.action), c.result) << c.action;
}

}  // namespace
