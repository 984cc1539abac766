// Every query text the actions send, run on tables of the installer's shape in
// an open package, with the rows each one must find.
#include <string>
#include <vector>

#include "tests/fixture.h"

using namespace viduzo_test;

namespace {

struct QueryCase {
  const char* sql;
  std::vector<const char*> params;  // "" for an integer 0 is never needed here
  std::size_t rows;                 // rows fetched; DELETE and DDL fetch none
};

TEST(QueryTexts, EveryActionQueryRunsAndFindsItsRows) {
  Package pkg;
  const char* tables[] = {
      "`AppSearch` (`Property` CHAR(72) NOT NULL, `Signature_` CHAR(72) NOT NULL PRIMARY KEY "
      "`Property`, `Signature_`)",
      "`VmrAppSearch` (`Property` CHAR(72) NOT NULL, `Signature_` CHAR(72) NOT NULL, "
      "`PreferDefault` SHORT, `Order` SHORT PRIMARY KEY `Property`, `Signature_`)",
      "`Control` (`Dialog_` CHAR(72) NOT NULL, `Control` CHAR(50) NOT NULL, `Type` CHAR(20) NOT "
      "NULL PRIMARY KEY `Dialog_`, `Control`)",
      "`ControlCondition` (`Dialog_` CHAR(72) NOT NULL, `Control_` CHAR(50) NOT NULL, `Action` "
      "CHAR(50) NOT NULL, `Condition` CHAR(255) NOT NULL PRIMARY KEY `Dialog_`, `Control_`, "
      "`Action`, `Condition`)",
      "`ControlEvent` (`Dialog_` CHAR(72) NOT NULL, `Control_` CHAR(50) NOT NULL, `Event` "
      "CHAR(50) NOT NULL, `Argument` CHAR(255) NOT NULL, `Condition` CHAR(255), `Ordering` SHORT "
      "PRIMARY KEY `Dialog_`, `Control_`, `Event`, `Argument`, `Condition`)",
      "`DialogWizardControl` (`Dialog` CHAR(72) NOT NULL, `Control` CHAR(50) NOT NULL, "
      "`DialogSequence` SHORT NOT NULL PRIMARY KEY `Dialog`, `Control`, `DialogSequence`)",
      "`Directory` (`Directory` CHAR(72) NOT NULL, `Directory_Parent` CHAR(72), `DefaultDir` "
      "CHAR(255) NOT NULL PRIMARY KEY `Directory`)",
      "`DuplicateFile` (`FileKey` CHAR(72) NOT NULL, `Component_` CHAR(72) NOT NULL, `File_` "
      "CHAR(72) NOT NULL, `DestName` CHAR(255), `DestFolder` CHAR(72) PRIMARY KEY `FileKey`)",
      "`ListBox` (`Property` CHAR(72) NOT NULL, `Order` SHORT NOT NULL, `Value` CHAR(64) NOT "
      "NULL, `Text` CHAR(64) PRIMARY KEY `Property`, `Order`)",
      "`MoveFile` (`FileKey` CHAR(72) NOT NULL, `Component_` CHAR(72) NOT NULL, `SourceName` "
      "CHAR(255), `DestName` CHAR(255), `SourceFolder` CHAR(72), `DestFolder` CHAR(72) NOT NULL, "
      "`Options` SHORT NOT NULL PRIMARY KEY `FileKey`)",
      "`Registry` (`Registry` CHAR(72) NOT NULL, `Root` SHORT NOT NULL, `Key` CHAR(255) NOT NULL, "
      "`Name` CHAR(255), `Value` CHAR(0), `Component_` CHAR(72) NOT NULL PRIMARY KEY `Registry`)",
      "`RemoveFile` (`FileKey` CHAR(72) NOT NULL, `Component_` CHAR(72) NOT NULL, `FileName` "
      "CHAR(255), `DirProperty` CHAR(72) NOT NULL, `InstallMode` SHORT NOT NULL PRIMARY KEY "
      "`FileKey`)",
      "`Report` (`Dialog_` CHAR(72) NOT NULL, `Control_` CHAR(50) NOT NULL, `Order` SHORT NOT "
      "NULL, `Text` CHAR(0) PRIMARY KEY `Dialog_`, `Control_`, `Order`)",
  };
  for (const char* table : tables) pkg.Sql(std::string("CREATE TABLE ") + table);
  const char* rows[] = {
      "`AppSearch` (`Property`, `Signature_`) VALUES ('P', 'S')",
      "`VmrAppSearch` (`Property`, `Signature_`, `PreferDefault`, `Order`) VALUES ('P', 'S', 1, 2)",
      "`VmrAppSearch` (`Property`, `Signature_`, `PreferDefault`) VALUES ('Q', 'S', 0)",
      "`Control` (`Dialog_`, `Control`, `Type`) VALUES ('D', 'C', 'PushButton')",
      "`Control` (`Dialog_`, `Control`, `Type`) VALUES ('D', 'Other', 'Text')",
      "`ControlCondition` (`Dialog_`, `Control_`, `Action`, `Condition`) VALUES ('D', 'C', "
      "'Disable', '1')",
      "`ControlEvent` (`Dialog_`, `Control_`, `Event`, `Argument`, `Ordering`) VALUES ('D', 'C', "
      "'NewDialog', 'Next', 2)",
      "`ControlEvent` (`Dialog_`, `Control_`, `Event`, `Argument`, `Ordering`) VALUES ('D', 'C', "
      "'DoAction', 'Act', 1)",
      "`DialogWizardControl` (`Dialog`, `Control`, `DialogSequence`) VALUES ('D', 'C', 1)",
      "`Directory` (`Directory`, `Directory_Parent`, `DefaultDir`) VALUES ('TARGETDIR', '', "
      "'SourceDir')",
      "`DuplicateFile` (`FileKey`, `Component_`, `File_`) VALUES ('F', 'Comp', 'file')",
      "`ListBox` (`Property`, `Order`, `Value`, `Text`) VALUES ('L', 1, 'Core', 'Core')",
      "`ListBox` (`Property`, `Order`, `Value`, `Text`) VALUES ('L', 2, 'Agent', 'Agent')",
      "`Registry` (`Registry`, `Root`, `Key`, `Component_`) VALUES ('R', 2, 'Software', 'Comp')",
      "`Report` (`Dialog_`, `Control_`, `Order`, `Text`) VALUES ('D', 'C', 2, 'b')",
      "`Report` (`Dialog_`, `Control_`, `Order`, `Text`) VALUES ('D', 'C', 1, 'a')",
  };
  for (const char* row : rows) pkg.Sql(std::string("INSERT INTO ") + row);
  MSIHANDLE h = pkg.Open();
  MSIHANDLE database = MsiGetActiveDatabase(h);

  const QueryCase cases[] = {
      {"SELECT * FROM `AppSearch` WHERE `Property`=? AND `Signature_`=?", {"P", "S"}, 1},
      {"SELECT `Property`, `Signature_` FROM `AppSearch`", {}, 1},
      {"SELECT `Property`, `Signature_`, `PreferDefault` FROM `VmrAppSearch` WHERE `Order` is not "
       "null ORDER BY `Order`", {}, 1},
      {"SELECT `Property`, `Signature_`, `PreferDefault` FROM `VmrAppSearch` WHERE `Order` is null",
       {}, 1},
      {"SELECT * FROM `ControlCondition` WHERE `Dialog_`=? AND `Action`=?", {"D", "Disable"}, 1},
      {"SELECT * FROM `ControlEvent` WHERE `Dialog_`=? AND `Control_`=? ORDER BY `Ordering`",
       {"D", "C"}, 2},
      {"SELECT * FROM `Control` WHERE `Dialog_`=? AND `Control`<>?", {"D", "C"}, 1},
      {"SELECT * FROM `DialogWizardControl` WHERE `Dialog`=? AND `Control`=? ORDER BY "
       "`DialogSequence`", {"D", "C"}, 1},
      {"SELECT * FROM `Directory` WHERE `Directory`=?", {"TARGETDIR"}, 1},
      {"SELECT * FROM `Directory`", {}, 1},
      {"SELECT * FROM `DuplicateFile` WHERE `FileKey`=?", {"F"}, 1},
      {"SELECT * FROM `ListBox` WHERE `Property`=? AND `Value`<>?", {"L", "Core"}, 1},
      {"SELECT * FROM `ListBox` WHERE `Property`=? AND `Value`=?", {"L", "Core"}, 1},
      {"SELECT * FROM `ListBox` WHERE `Property`=?", {"L"}, 2},
      {"SELECT * FROM `MoveFile`", {}, 0},
      {"SELECT * FROM `Registry` WHERE `Registry`=?", {"R"}, 1},
      {"SELECT * FROM `RemoveFile`", {}, 0},
      {"SELECT * FROM `Report` ORDER BY `Dialog_`,`Control_`,`Order`", {}, 2},
      {"SELECT * FROM `Report` WHERE `Dialog_`='D' AND `Control_`='C' AND `Order`>1", {}, 1},
      {"CREATE TABLE `FeatureList` (`ID` CHAR, `Value` CHAR, `Text` CHAR PRIMARY KEY `ID`)", {},
       0},
      {"SELECT * FROM `FeatureList`", {}, 0},
      {"DROP TABLE `FeatureList`", {}, 0},
      {"DELETE FROM `ControlCondition` WHERE `Dialog_`=? AND `Action`=? AND `Condition`=?",
       {"D", "Disable", "1"}, 0},
      {"SELECT * FROM `ControlCondition`", {}, 0},
  };
  for (const QueryCase& c : cases) {
    MSIHANDLE view = 0;
    ASSERT_EQ(MsiDatabaseOpenViewA(database, c.sql, &view), UINT{ERROR_SUCCESS}) << c.sql;
    MSIHANDLE params = 0;
    if (!c.params.empty()) {
      params = MsiCreateRecord(static_cast<UINT>(c.params.size()));
      for (UINT i = 0; i < c.params.size(); ++i) MsiRecordSetStringA(params, i + 1, c.params[i]);
    }
    EXPECT_EQ(MsiViewExecute(view, params), UINT{ERROR_SUCCESS}) << c.sql;
    std::size_t fetched = 0;
    MSIHANDLE record = 0;
    while (fetched < 10 && MsiViewFetch(view, &record) == ERROR_SUCCESS) {
      ++fetched;
      MsiCloseHandle(record);
    }
    EXPECT_EQ(fetched, c.rows) << c.sql;
    MsiViewClose(view);
    MsiCloseHandle(view);
    if (params) MsiCloseHandle(params);
  }
  MsiCloseHandle(database);
}

}  // namespace
