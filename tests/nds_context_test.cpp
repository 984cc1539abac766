// The directory-service contexts: the user's recent contexts offered in
// DEFAULT_NDSCONTEXT, and the entered list scheduled as multi-string Registry
// rows for the installing user's profile and the default profile.
#include <string>

#include "tests/fixture.h"
#include "tests/registry_tree.h"

#ifndef _WIN32
#include "winsim/control.h"
#endif

using namespace viduzo_test;

namespace {

const char kLogon[] = "Software\\Velmar\\VmrLogon";
const char kContextList[] = "NDS_CONTEXT.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";
const char kCurrentUser[] = "CurrentUser.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";
const char kUserComponent[] = "NDS_CONTEXT.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";
const char kAdminComponent[] = "NDS_CONTEXTAdmin.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";

class NdsContext : public ::testing::Test {
 protected:
  NdsContext() : logon_(HKEY_CURRENT_USER, kLogon) {}
  MSIHANDLE Open(bool withTable = true) {
    if (withTable)
      pkg.Sql("CREATE TABLE `Registry` (`Registry` CHAR(72) NOT NULL, `Root` SHORT NOT NULL, "
              "`Key` CHAR(255) NOT NULL LOCALIZABLE, `Name` CHAR(255) LOCALIZABLE, `Value` "
              "CHAR(0) LOCALIZABLE, `Component_` CHAR(72) NOT NULL PRIMARY KEY `Registry`)");
    return h = pkg.Open();
  }
  SavedPlace logon_;
  Package pkg;
  MSIHANDLE h = 0;
};

TEST_F(NdsContext, RecentContextsComeFirstInTheDefaultList) {
  const std::string fits(1027, 'c');  // with the list's terminator: 1028 bytes
  const std::string entered513(513, 'e'), entered514(514, 'e');
  const struct {
    bool key;
    const char* name;   // the value's name
    std::string value;  // a REG_MULTI_SZ as stored
    std::string entered;
    std::string after;
    const char* debug;  // the debug line, if any
    DWORD type = REG_MULTI_SZ;
  } cases[] = {
      {true, "RecentContexts", std::string("ou=a.o=b\0ou=c.o=b\0\0", 20), "ou=d",
       "ou=a.o=b,ou=c.o=b,ou=d", nullptr},
      {true, "RecentContexts", std::string("ou=a\0ou=c\0\0", 11), "", "ou=a,ou=c", nullptr},
      {true, "RecentContexts", std::string("ou=a\0\0", 6), "x", "ou=a,x", nullptr},
      {true, "RecentContexts", std::string("\0", 1), "x", ",x", nullptr},
      {true, "RecentContexts", std::string("\0", 1), "", "", nullptr},
      {true, "RecentContexts", std::string("a\0b", 3), "", "a,b", nullptr},
      {true, "RecentContexts", std::string("a\0\0b\0\0", 6), "", "a", nullptr},
      {true, "RecentContexts", fits + '\0', "", fits, nullptr},
      {true, "RecentContexts", fits + 'c', "", fits + 'c', nullptr},  // 1028 bytes, no zero
      {true, "RecentContexts", std::string("a\0b", 3), "", "a,b", nullptr, REG_BINARY},
      {true, "RecentContexts", fits + std::string("c\0", 2), "x", "x",
       "Couldn't Read NDS context key Recent contexts value!!"},
      {true, "Other", std::string("a\0\0", 3), "x", "x",
       "Couldn't Read NDS context key Recent contexts value!!"},
      {false, "", "", "x", "x", "Couldn't Read NDS context key!!"},
      {true, "RecentContexts", std::string("a\0\0", 3), entered513, "a," + entered513, nullptr},
      // Too long to read: the recent contexts alone.
      {true, "RecentContexts", std::string("a\0\0", 3), entered514, "a",
       "Couldn't Get the DEFAULT_NDSCONTEXT property"},
  };
  Open();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value.substr(0, 20) + " + " + c.entered.substr(0, 20));
    DeleteTree(HKEY_CURRENT_USER, kLogon);
    if (c.key) PlantUnterminated(HKEY_CURRENT_USER, kLogon, c.name, c.type, c.value);
    SetProp(h, "DEFAULT_NDSCONTEXT", c.entered);
#ifndef _WIN32
    winsim::ClearDebugLines();
#endif
    EXPECT_EQ(CallAction(h, "SetDEFAULT_NDSCONTEXT"), 0u);
    EXPECT_EQ(GetProp(h, "DEFAULT_NDSCONTEXT"), c.after);
#ifndef _WIN32
    EXPECT_EQ(winsim::DebugLines(),
              c.debug ? std::vector<std::string>{c.debug} : std::vector<std::string>{});
#endif
  }
}

TEST_F(NdsContext, WithoutAnInstallSession) {
  Plant(HKEY_CURRENT_USER, kLogon,
        RegTree{{{"RecentContexts", REG_MULTI_SZ, std::string("a\0\0", 3)}}, {}});
  EXPECT_EQ(CallAction(0, "SetDEFAULT_NDSCONTEXT"), 0u);
  EXPECT_EQ(CallAction(0, "SetDefaultNDSContext"), 1603u);
#ifndef _WIN32
  EXPECT_EQ(winsim::DebugLines(),
            (std::vector<std::string>{"Couldn't Get the DEFAULT_NDSCONTEXT property",
                                      "Couldn't set the DEFAULT_NDSCONTEXT property!!"}));
#endif
}

TEST_F(NdsContext, EnteredListBecomesRowsForTheUserAndTheDefaultProfile) {
  const std::string longList = "ou=" + std::string(700, 'l');  // past the first buffer
  const struct {
    std::string entered;
    std::string value;
  } cases[] = {
      {"ou=one.o=org", "[~]ou=one.o=org"},
      {"a,b,c", "[~]a[~]b[~]c"},
      {"a,", "[~]a[~]"},
      {",,", "[~][~][~]"},
      {"a b, c", "[~]a b[~] c"},  // no blanks are trimmed
      {longList, "[~]" + longList},
  };
  Open();
  SetProp(h, kCurrentUser, "UserKey");
  SetProp(h, "UserKey", "S-1-5-21-1-2-3-1001");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.entered.substr(0, 20));
    SetProp(h, "DEFAULT_NDSCONTEXT", c.entered);
    EXPECT_EQ(CallAction(h, "SetDefaultNDSContext"), 0u);
    EXPECT_EQ(GetProp(h, kContextList), c.value);
    Rows rows = QueryRows(h, "SELECT `Root`, `Key`, `Name`, `Component_` FROM `Registry` WHERE "
                             "`Value` = '" + c.value + "'");
    EXPECT_EQ(rows, (Rows{{"3", ".DEFAULT\\Software\\Velmar\\VmrLogon", "RecentContexts",
                           kAdminComponent},
                          {"3", "S-1-5-21-1-2-3-1001\\Software\\Velmar\\VmrLogon",
                           "RecentContexts", kUserComponent}}));
  }
  // Each call adds two rows under keys of their own.
  EXPECT_EQ(QueryRows(h, "SELECT `Registry` FROM `Registry`").size(), 12u);
}

TEST_F(NdsContext, EmptyListDoesNothing) {
  Open();
  SetProp(h, "DEFAULT_NDSCONTEXT", "");
  SetProp(h, kContextList, "untouched");
  EXPECT_EQ(CallAction(h, "SetDefaultNDSContext"), 0u);
  EXPECT_EQ(GetProp(h, kContextList), "untouched");
  EXPECT_EQ(QueryRows(h, "SELECT `Registry` FROM `Registry`"), Rows{});
}

TEST_F(NdsContext, MissingProfileOrTableFailsAfterTheListIsSet) {
  const struct {
    std::string currentUser;
    std::string profile;  // the value of the property currentUser names
    bool table;
    size_t rows;
  } cases[] = {
      {"", "S-1-5-21-1", true, 0},
      {"X", "S-1-5-21-1", true, 2},
      {"UserKey", "", true, 0},
      {"UserKey", "S-1-5-21-1", false, 0},
      {std::string(511, 'U'), "S-1-5-21-1", true, 2},
      {std::string(512, 'U'), "S-1-5-21-1", true, 0},  // does not fit its 512 characters
      {"UserKey", std::string(541, 'S'), true, 2},
      {"UserKey", std::string(542, 'S'), true, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.currentUser.substr(0, 10) + " / " + c.profile.substr(0, 10));
    Package p;
    if (c.table)
      p.Sql("CREATE TABLE `Registry` (`Registry` CHAR(72) NOT NULL, `Root` SHORT NOT NULL, `Key` "
            "CHAR(255) NOT NULL LOCALIZABLE, `Name` CHAR(255) LOCALIZABLE, `Value` CHAR(0) "
            "LOCALIZABLE, `Component_` CHAR(72) NOT NULL PRIMARY KEY `Registry`)");
    MSIHANDLE install = p.Open();
    SetProp(install, "DEFAULT_NDSCONTEXT", "a,b");
    SetProp(install, kCurrentUser, c.currentUser);
    if (!c.currentUser.empty()) SetProp(install, c.currentUser, c.profile);
    EXPECT_EQ(CallAction(install, "SetDefaultNDSContext"), c.rows ? 0u : 1603u);
    EXPECT_EQ(GetProp(install, kContextList), "[~]a[~]b");
    if (c.table) {
      EXPECT_EQ(QueryRows(install, "SELECT `Registry` FROM `Registry`").size(), c.rows);
    }
  }
}

#ifndef _WIN32
TEST_F(NdsContext, EveryAllocationFailingInTurn) {
  bool failed = false, succeeded = false;
  for (unsigned n = 0; n < 32; ++n) {
    SCOPED_TRACE("allocation " + std::to_string(n) + " failing");
    Package p;
    p.Sql("CREATE TABLE `Registry` (`Registry` CHAR(72) NOT NULL, `Root` SHORT NOT NULL, `Key` "
          "CHAR(255) NOT NULL LOCALIZABLE, `Name` CHAR(255) LOCALIZABLE, `Value` CHAR(0) "
          "LOCALIZABLE, `Component_` CHAR(72) NOT NULL PRIMARY KEY `Registry`)");
    MSIHANDLE install = p.Open();
    SetProp(install, "DEFAULT_NDSCONTEXT", "ou=" + std::string(600, 'a'));
    SetProp(install, kCurrentUser, "UserKey");
    SetProp(install, "UserKey", "S-1-5-21-1");
    winsim::FailHeapAllocation(n);
    UINT result = CallAction(install, "SetDefaultNDSContext");
    winsim::ResetHeapFailure();
    size_t rows = QueryRows(install, "SELECT `Registry` FROM `Registry`").size();
    if (result == 0) {
      EXPECT_EQ(rows, 2u);
      succeeded = true;
    } else {
      EXPECT_EQ(result, 1603u);
      failed = true;
    }
  }
  EXPECT_TRUE(failed && succeeded);
}
#endif

}  // namespace
