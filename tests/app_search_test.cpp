// Ordered application search: PrepareAppSearch hands VmrAppSearch rows to the
// standard AppSearch action, and the standard search itself as the package
// uses it (registry, INI and folder locators).
#include <algorithm>
#include <string>

#include "tests/fixture.h"
#ifndef _WIN32
#include "winsim/control.h"
#endif

using namespace viduzo_test;

namespace {

const char kKey[] = "Software\\Velmar\\SearchTest";

void SetRegistryString(const std::string& key, const char* name, const std::string& value) {
  HKEY k;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &k, nullptr),
            ERROR_SUCCESS);
  RegSetValueExA(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 static_cast<DWORD>(value.size() + 1));
  RegCloseKey(k);
}

class AppSearchTest : public ::testing::Test {
 protected:
  AppSearchTest() {
    pkg.Sql("CREATE TABLE `AppSearch` (`Property` CHAR(72) NOT NULL, `Signature_` CHAR(72) NOT "
            "NULL PRIMARY KEY `Property`, `Signature_`)");
    pkg.Sql("CREATE TABLE `RegLocator` (`Signature_` CHAR(72) NOT NULL, `Root` SHORT NOT NULL, "
            "`Key` CHAR(255) NOT NULL, `Name` CHAR(255), `Type` SHORT PRIMARY KEY `Signature_`)");
  }
  void AddVmrTable() {
    pkg.Sql("CREATE TABLE `VmrAppSearch` (`Id` CHAR(72) NOT NULL, `Property` CHAR(72), "
            "`Signature_` CHAR(72), `Order` SHORT, `PreferDefault` SHORT PRIMARY KEY `Id`)");
  }
  // A raw registry value of HKCU: key and name are formatted text.
  void RegSig(const std::string& sig, const std::string& key, const std::string& name) {
    pkg.Sql("INSERT INTO `RegLocator` (`Signature_`, `Root`, `Key`, `Name`, `Type`) VALUES ('" +
            sig + "', 1, '" + key + "', '" + name + "', 2)");
  }
  void Search(const std::string& id, const std::string& prop, const std::string& sig,
              const char* order, const char* prefer) {
    pkg.Sql("INSERT INTO `VmrAppSearch` (`Id`, `Property`, `Signature_`, `Order`, "
            "`PreferDefault`) VALUES ('" + id + "', '" + prop + "', '" + sig + "', " + order +
            ", " + prefer + ")");
  }
  void OwnSearch(const std::string& prop, const std::string& sig) {
    pkg.Sql("INSERT INTO `AppSearch` (`Property`, `Signature_`) VALUES ('" + prop + "', '" + sig +
            "')");
  }
  Package pkg;
};

TEST_F(AppSearchTest, StandardSearchReadsRegistryIniAndFolders) {
  const std::string dir = TempFolder("appsearch");
  WriteFile(dir + "app.ini", "[Paths]\r\nList=one, two,three\r\n");
  SetRegistryString(kKey, "Text", "plain");
  SetRegistryString(kKey, "Hash", "#5");
  SetRegistryString(kKey, "Folder", dir);
  pkg.Sql("CREATE TABLE `IniLocator` (`Signature_` CHAR(72) NOT NULL, `FileName` CHAR(255) NOT "
          "NULL, `Section` CHAR(96) NOT NULL, `Key` CHAR(128) NOT NULL, `Field` SHORT, `Type` "
          "SHORT PRIMARY KEY `Signature_`)");
  pkg.Sql("CREATE TABLE `DrLocator` (`Signature_` CHAR(72) NOT NULL, `Parent` CHAR(72), `Path` "
          "CHAR(255), `Depth` SHORT PRIMARY KEY `Signature_`, `Parent`, `Path`)");
  RegSig("SigText", kKey, "Text");
  RegSig("SigHash", kKey, "Hash");
  RegSig("SigMissing", kKey, "Missing");
  pkg.Sql(std::string("INSERT INTO `RegLocator` (`Signature_`, `Root`, `Key`, `Name`, `Type`) "
                      "VALUES ('SigFolder', 1, '") + kKey + "', 'Folder', 0)");
  pkg.Sql("INSERT INTO `IniLocator` (`Signature_`, `FileName`, `Section`, `Key`, `Field`, `Type`) "
          "VALUES ('SigIni', '" + dir + "app.ini', 'Paths', 'List', 2, 2)");
  pkg.Sql("INSERT INTO `IniLocator` (`Signature_`, `FileName`, `Section`, `Key`, `Field`, `Type`) "
          "VALUES ('SigIniAll', '" + dir + "app.ini', 'Paths', 'List', 0, 2)");
  pkg.Sql("INSERT INTO `DrLocator` (`Signature_`, `Path`) VALUES ('SigDir', '[SEARCHROOT]')");
  pkg.Sql("INSERT INTO `DrLocator` (`Signature_`, `Path`) VALUES ('SigNoDir', '[SEARCHROOT]none')");
  for (const char* s : {"Text", "Hash", "Missing", "Folder", "Ini", "IniAll", "Dir", "NoDir"})
    OwnSearch(std::string("FOUND_") + s, std::string("Sig") + s);
  pkg.Property("SEARCHROOT", dir).Property("FOUND_Missing", "kept");
  MSIHANDLE h = pkg.Open();
  EXPECT_EQ(MsiDoActionA(h, "AppSearch"), 0u);
  EXPECT_EQ(GetProp(h, "FOUND_Text"), "plain");
  EXPECT_EQ(GetProp(h, "FOUND_Hash"), "##5");
  EXPECT_EQ(GetProp(h, "FOUND_Missing"), "kept");  // nothing found: left alone
  EXPECT_EQ(GetProp(h, "FOUND_Folder"), dir);
  EXPECT_EQ(GetProp(h, "FOUND_Ini"), "two");
  EXPECT_EQ(GetProp(h, "FOUND_IniAll"), "one, two,three");
  EXPECT_EQ(GetProp(h, "FOUND_Dir"), dir);
  EXPECT_EQ(GetProp(h, "FOUND_NoDir"), "");
}

TEST_F(AppSearchTest, PreferDefaultKeepsAValueAndUnorderedRowsWait) {
  SetRegistryString(kKey, "Client", "found-client");
  SetRegistryString(kKey, "Other", "found-other");
  AddVmrTable();
  RegSig("SigClient", kKey, "Client");
  RegSig("SigOther", kKey, "Other");
  Search("1", "CLIENTDIR", "SigClient", "1", "1");   // set on the command line: kept
  Search("2", "OTHERDIR", "SigOther", "2", "0");     // 0 is as null: searched, value replaced
  Search("3", "LATER", "SigClient", "Null", "Null");  // unordered: left for the sequence
  Search("4", "EMPTYSIG", "", "3", "Null");          // no signature: no search
  Search("5", "", "SigOther", "4", "Null");          // no property: no search
  OwnSearch("OWN", "SigOther");
  MSIHANDLE h = pkg.Open();
  SetProp(h, "CLIENTDIR", "C:\\Chosen\\");
  SetProp(h, "OTHERDIR", "C:\\Old\\");
  EXPECT_EQ(CallAction(h, "PrepareAppSearch"), 0u);
  EXPECT_EQ(GetProp(h, "CLIENTDIR"), "C:\\Chosen\\");
  EXPECT_EQ(GetProp(h, "OTHERDIR"), "found-other");
  EXPECT_EQ(GetProp(h, "OWN"), "found-other");  // the package's own rows are searched too
  EXPECT_EQ(GetProp(h, "LATER"), "");
  EXPECT_EQ(QueryRows(h, "SELECT `Property`, `Signature_` FROM `AppSearch`"),
            (Rows{{"LATER", "SigClient"}, {"OWN", "SigOther"}}));
}

TEST_F(AppSearchTest, TextsPastTheirBuffersAreUnreadable) {
  // Property, signature and the current value are read into 256-byte buffers:
  // 255 characters fit, 256 do not. A value that does not fit counts as not set.
  SetRegistryString(kKey, "Other", "found-other");
  AddVmrTable();
  const std::string sig255(255, 'S'), sig256(256, 'T'), prop255(255, 'P'), prop256(256, 'Q');
  RegSig(sig255, kKey, "Other");
  RegSig(sig256, kKey, "Other");
  RegSig(std::string(255, 'T'), kKey, "Other");  // what a cut signature would name
  Search("1", "FITS", sig255, "1", "Null");
  Search("2", "TOOLONG", sig256, "2", "Null");
  Search("3", prop255, "SigNone", "3", "Null");
  Search("4", prop256, sig255, "4", "Null");
  Search("5", "LONGVALUE", sig255, "5", "1");
  MSIHANDLE h = pkg.Open();
  SetProp(h, "LONGVALUE", std::string(256, 'v'));
  EXPECT_EQ(CallAction(h, "PrepareAppSearch"), 0u);
  EXPECT_EQ(GetProp(h, "TOOLONG"), "");
  EXPECT_EQ(GetProp(h, prop256), "");
#ifndef _WIN32
  // Wine's engine runs the standard search for the first ordered row only.
  EXPECT_EQ(GetProp(h, "FITS"), "found-other");
  EXPECT_EQ(GetProp(h, "LONGVALUE"), "found-other");
  EXPECT_EQ(GetProp(h, std::string(255, 'Q')), "");  // no search under a cut name
  EXPECT_EQ(std::count(winsim::ActionsRun().begin(), winsim::ActionsRun().end(), "AppSearch"), 3);
#endif
}

TEST_F(AppSearchTest, OneCharacterNamesAreNames) {
  SetRegistryString(kKey, "Other", "found-other");
  AddVmrTable();
  RegSig("S", kKey, "Other");
  Search("1", "X", "S", "1", "Null");
  MSIHANDLE h = pkg.Open();
  EXPECT_EQ(CallAction(h, "PrepareAppSearch"), 0u);
  EXPECT_EQ(GetProp(h, "X"), "found-other");
}

TEST_F(AppSearchTest, WithoutAppSearchNothingIsSearched) {
  SetRegistryString(kKey, "Other", "found-other");
  Package bare;
  bare.Sql("CREATE TABLE `RegLocator` (`Signature_` CHAR(72) NOT NULL, `Root` SHORT NOT NULL, "
           "`Key` CHAR(255) NOT NULL, `Name` CHAR(255), `Type` SHORT PRIMARY KEY `Signature_`)");
  bare.Sql(std::string("INSERT INTO `RegLocator` (`Signature_`, `Root`, `Key`, `Name`, `Type`) "
                       "VALUES ('SigOther', 1, '") + kKey + "', 'Other', 2)");
  bare.Sql("CREATE TABLE `VmrAppSearch` (`Id` CHAR(72) NOT NULL, `Property` CHAR(72), "
           "`Signature_` CHAR(72), `Order` SHORT, `PreferDefault` SHORT PRIMARY KEY `Id`)");
  bare.Sql("INSERT INTO `VmrAppSearch` (`Id`, `Property`, `Signature_`, `Order`) "
           "VALUES ('1', 'OTHERDIR', 'SigOther', 1)");
  MSIHANDLE h = bare.Open();
  EXPECT_EQ(CallAction(h, "PrepareAppSearch"), 0u);
  EXPECT_EQ(GetProp(h, "OTHERDIR"), "");
}

TEST_F(AppSearchTest, WithoutTheTableNothingIsSearched) {
  SetRegistryString(kKey, "Other", "found-other");
  RegSig("SigOther", kKey, "Other");
  OwnSearch("OWN", "SigOther");
  MSIHANDLE h = pkg.Open();
  EXPECT_EQ(CallAction(h, "PrepareAppSearch"), 0u);
  EXPECT_EQ(GetProp(h, "OWN"), "");
}

#ifndef _WIN32
// The standard search runs once per session under Wine's engine, so the cases
// that need several ordered runs are checked on winsim only.
TEST_F(AppSearchTest, LaterSearchesSeeEarlierResults) {
  SetRegistryString(kKey, "Next", "Software\\Velmar\\Second");
  SetRegistryString("Software\\Velmar\\Second", "Path", "C:\\Second\\");
  AddVmrTable();
  // Inserted in reverse: the order column decides.
  RegSig("SigSecond", "[NEXTKEY]", "Path");
  RegSig("SigFirst", kKey, "Next");
  Search("a", "SECONDPATH", "SigSecond", "2", "Null");
  Search("b", "NEXTKEY", "SigFirst", "1", "Null");
  MSIHANDLE h = pkg.Open();
  EXPECT_EQ(CallAction(h, "PrepareAppSearch"), 0u);
  EXPECT_EQ(GetProp(h, "NEXTKEY"), "Software\\Velmar\\Second");
  EXPECT_EQ(GetProp(h, "SECONDPATH"), "C:\\Second\\");
  EXPECT_EQ(std::count(winsim::ActionsRun().begin(), winsim::ActionsRun().end(), "AppSearch"), 2);
  EXPECT_EQ(QueryRows(h, "SELECT `Property` FROM `AppSearch`"), Rows{});
}

TEST_F(AppSearchTest, SamePropertyTwiceFirstHitWinsOnlyWithPreferDefault) {
  SetRegistryString(kKey, "One", "first");
  SetRegistryString(kKey, "Two", "second");
  RegSig("SigOne", kKey, "One");
  RegSig("SigTwo", kKey, "Two");
  AddVmrTable();
  Search("1", "PREFERRED", "SigOne", "1", "1");
  Search("2", "PREFERRED", "SigTwo", "2", "1");
  Search("3", "LAST", "SigOne", "3", "Null");
  Search("4", "LAST", "SigTwo", "4", "Null");
  MSIHANDLE h = pkg.Open();
  EXPECT_EQ(CallAction(h, "PrepareAppSearch"), 0u);
  EXPECT_EQ(GetProp(h, "PREFERRED"), "first");
  EXPECT_EQ(GetProp(h, "LAST"), "second");
  EXPECT_EQ(std::count(winsim::ActionsRun().begin(), winsim::ActionsRun().end(), "AppSearch"), 3);
}
#endif

}  // namespace
