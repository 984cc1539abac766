// The client-name and folder checks, called through the DLL's exports on a
// package whose error action records what it was asked to show.
#include <string>

#include "client/validation.h"
#include "tests/fixture.h"

#ifndef _WIN32
#include "winsim/control.h"
#endif

using namespace viduzo_test;

namespace {

const char kClientNameValid[] = "ClientNameValid.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";
const char kClientPathValid[] = "ClientPathValid.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";
const char kProgramFolderValid[] = "ProgramFolderValid.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";
const char kValidationError[] = "ValidationError.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";
const char kErrorEmpty[] = "ErrorClientNameEmtpy.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";
const char kErrorInvalid[] = "ErrorClientNameInvalid.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";
const char kErrorEmptyDefault[] = "ErrorClientNameEmtpyDefault.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";
const char kErrorInvalidDefault[] =
    "ErrorClientNameInvalidDefault.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";
// The error action of the package: here a property setter that records the
// error property's name at the moment the action runs.
const char kShown[] = "SHOWN_ERROR";

void AddErrorAction(Package& p) {
  p.Table("CustomAction");
  p.Sql("INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES "
        "('ValidationFailed.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60', 51, 'SHOWN_ERROR', "
        "'[ValidationError.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60]')");
}

class ValidationTest : public ::testing::Test {
 protected:
  ValidationTest() { AddErrorAction(pkg); }
  // Opens the package with the given properties set by the session, as the
  // dialog or the command line would.
  MSIHANDLE Open(std::initializer_list<std::pair<const char*, std::string>> props) {
    MSIHANDLE h = pkg.Open();
    for (const auto& [name, value] : props) SetProp(h, name, value);
    return h;
  }
  Package pkg;
};

struct NameCase {
  std::string name;
  const char* dynamic;
  const char* answer;  // ClientNameValid after ValidateClientName ("" = none)
  UINT result2;        // ValidateClientName2
  const char* error2;  // ValidationError after ValidateClientName2
};

TEST_F(ValidationTest, ClientNameChecks) {
  const NameCase cases[] = {
      {"CLIENT01", "", "Yes", 0, ""},
      {"ABCDEFGHIJKLMNOPQRST", "", "Yes", 0, ""},      // exactly 20 bytes
      {"ABCDEFGHIJKLMNOPQRSTU", "", "Over", 0, ""},    // 21 bytes: too long, but no bad character
      {"my client", "", "Yes", 0, ""},                 // a blank is allowed
      {"my.client", "", "No", 1603, kErrorInvalid},
      {"", "Yes", "", 0, ""},    // dynamic naming allows an empty name
      {"", "", "", 1603, kErrorEmpty},
      {"", "no", "", 1603, kErrorEmpty},
      {std::string(255, 'n'), "", "Over", 0, ""},
      {std::string(256, 'n'), "", "", 0, ""},  // does not fit the name buffer: no answer
      {std::string(300, '.'), "", "", 1603, kErrorInvalid},
  };
  MSIHANDLE h = Open({});
  for (const NameCase& c : cases) {
    SCOPED_TRACE("CLIENT_NAME of " + std::to_string(c.name.size()) + " bytes: " +
                 c.name.substr(0, 30));
    SetProp(h, "CLIENT_NAME", c.name);
    SetProp(h, "ENABLE_DYNAMIC_CLIENT_NAME", c.dynamic);
    SetProp(h, kClientNameValid, "");
    SetProp(h, kValidationError, "");
    SetProp(h, kShown, "");

    EXPECT_EQ(CallAction(h, "ValidateClientName"), 0u);
    EXPECT_EQ(GetProp(h, kClientNameValid), c.answer);

    EXPECT_EQ(CallAction(h, "ValidateClientName2"), c.result2);
    EXPECT_EQ(GetProp(h, kValidationError), c.error2);
    EXPECT_EQ(GetProp(h, kShown), c.error2);  // the error action ran exactly when refused
  }
}

// Every character of the two forbidden sets: a name may hold none of
// \ / : * ? " < > | , . ( ) [ ] ; and a folder path none of / * ? " < > |
// (it keeps its drive colon, backslashes and the rest of the name set).
TEST_F(ValidationTest, EveryForbiddenCharacterOfBothSets) {
  const std::string nameSet = "\\/:*?\"<>|,.()[];";
  const std::string pathSet = "/*?\"<>|";
  const std::string allowed = " -_!#$%&'+=@^`{}~0aZ";
  MSIHANDLE h = Open({});
  for (char c : nameSet + allowed) {
    const bool forbiddenInName = nameSet.find(c) != std::string::npos;
    const bool forbiddenInPath = pathSet.find(c) != std::string::npos;
    SCOPED_TRACE(std::string("character ") + c);
    SetProp(h, "CLIENT_NAME", std::string("ab") + c + "cd");
    EXPECT_EQ(CallAction(h, "ValidateClientName"), 0u);
    EXPECT_EQ(GetProp(h, kClientNameValid), forbiddenInName ? "No" : "Yes");
    SetProp(h, "QVADIR.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60", std::string("C:\\a") + c + "b\\");
    EXPECT_EQ(CallAction(h, "ValidateClientPath"), 0u);
    EXPECT_EQ(GetProp(h, kClientPathValid), forbiddenInPath ? "No" : "Yes");
    SetProp(h, "PROGRAM_FOLDER_NAME.3F8A61D5_E27C_4B19_9D40_58B6C1E0A2F7",
            std::string("Velmar") + c);
    EXPECT_EQ(CallAction(h, "ValidateProgramFolder"), 0u);
    EXPECT_EQ(GetProp(h, kProgramFolderValid), forbiddenInPath ? "No" : "Yes");
    SetProp(h, "PROGRAM_FOLDER_NAME.9D4C2E81_6B0F_47A3_8E15_C2A07F3D96B4",
            std::string(1, c) + "Agent");
    EXPECT_EQ(CallAction(h, "ValidateProgramFolderHLA"), 0u);
    EXPECT_EQ(GetProp(h, kProgramFolderValid), forbiddenInPath ? "No" : "Yes");
  }
}

TEST_F(ValidationTest, FolderChecksUseThePathSet) {
  struct Case {
    const char* action;
    const char* property;
    const char* result;
    std::string value;
    const char* answer;
  } cases[] = {
      {"ValidateClientPath", "QVADIR.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60", kClientPathValid,
       "C:\\Program Files\\Velmar\\QVA Client (x86)\\", "Yes"},
      {"ValidateClientPath", "QVADIR.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60", kClientPathValid,
       "C:\\Program Files\\Vel\"mar\\", "No"},
      {"ValidateClientPath", "QVADIR.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60", kClientPathValid,
       "C:\\a|b\\", "No"},
      {"ValidateClientPath", "QVADIR.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60", kClientPathValid,
       "", "No"},
      {"ValidateProgramFolder", "PROGRAM_FOLDER_NAME.3F8A61D5_E27C_4B19_9D40_58B6C1E0A2F7",
       kProgramFolderValid, "Velmar Hublane; v2.0, (classic)", "Yes"},
      {"ValidateProgramFolder", "PROGRAM_FOLDER_NAME.3F8A61D5_E27C_4B19_9D40_58B6C1E0A2F7",
       kProgramFolderValid, "Velmar/Hublane", "No"},
      {"ValidateProgramFolder", "PROGRAM_FOLDER_NAME.3F8A61D5_E27C_4B19_9D40_58B6C1E0A2F7",
       kProgramFolderValid, "", "No"},
      {"ValidateProgramFolderHLA", "PROGRAM_FOLDER_NAME.9D4C2E81_6B0F_47A3_8E15_C2A07F3D96B4",
       kProgramFolderValid, "Velmar\\Agent", "Yes"},
      {"ValidateProgramFolderHLA", "PROGRAM_FOLDER_NAME.9D4C2E81_6B0F_47A3_8E15_C2A07F3D96B4",
       kProgramFolderValid, "Agent?", "No"},
      {"ValidateProgramFolderHLA", "PROGRAM_FOLDER_NAME.9D4C2E81_6B0F_47A3_8E15_C2A07F3D96B4",
       kProgramFolderValid, std::string(2000, 'a') + "*", "No"},
  };
  MSIHANDLE h = Open({});
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.action) + " " + c.value.substr(0, 40));
    SetProp(h, c.result, "");
    SetProp(h, c.property, c.value);
    EXPECT_EQ(CallAction(h, c.action), 0u);
    EXPECT_EQ(GetProp(h, c.result), c.answer);
  }
}

TEST_F(ValidationTest, ValidatePropertyFlagsAndUnreadableProperty) {
  MSIHANDLE h = Open({{"TEMP.71C5A0E8_94D2_4E6B_8A17_F3B25D0C69E4", "C:\\Temp\\x:y"},
                      {"OTHER", "C:\\Temp"}});
  int valid = -1, empty = -1;
  viduzo::ValidateProperty(h, "TEMP.71C5A0E8_94D2_4E6B_8A17_F3B25D0C69E4", nullptr, &valid, &empty);
  EXPECT_EQ(valid, 1);  // the scratch path property uses the path set
  EXPECT_EQ(empty, 0);
  viduzo::ValidateProperty(h, "OTHER", nullptr, &valid, &empty);
  EXPECT_EQ(valid, 0);  // any other property uses the name set: no colon, no backslash
  viduzo::ValidateProperty(h, "UNSET", nullptr, &valid, &empty);
  EXPECT_EQ(valid, 0);
  EXPECT_EQ(empty, 1);
  // Without an install session nothing can be read, and nothing is answered.
  valid = 7;
  empty = 7;
  EXPECT_EQ(viduzo::ValidateProperty(0, "OTHER", nullptr, &valid, &empty), 0u);
  EXPECT_EQ(valid, 7);
  EXPECT_EQ(empty, 7);
}

// GetQVAClientName reads the earlier client's name file from the root of the
// system volume; the tests point WindowsVolume at a folder of their own.
struct ProposeCase {
  const char* title;
  std::string clientName;
  const char* fileName;  // ClientName in ZNCNAME.INI (null: no file)
  const char* installed;
  const char* dynamic;
  const char* admin;
  std::string expectedName;
  const char* shown;  // the error the package's action was asked to show
  const char* expectedDynamic;
};

TEST_F(ValidationTest, GetQVAClientNameProposesAndFallsBack) {
  const ProposeCase cases[] = {
      {"kept", "CLIENT01", "FROMFILE", "", "", "", "CLIENT01", "", ""},
      {"cut to 20", "ABCDEFGHIJKLMNOPQRSTUVWXYZ", nullptr, "", "", "", "ABCDEFGHIJKLMNOPQRST", "",
       ""},
      {"longer than the buffer", std::string(400, 'L'), nullptr, "", "", "",
       std::string(20, 'L'), "", ""},
      {"from the name file", "", "FROMFILE", "", "", "", "FROMFILE", "", ""},
      {"file name cut", "", "FILENAME_LONGER_THAN_20", "", "", "", "FILENAME_LONGER_THAN", "", ""},
      {"one character from the file", "", "A", "", "", "", "A", "", ""},
      {"installed: no file read", "", "FROMFILE", "1", "", "", "", "", ""},
      {"empty, dynamic allowed", "", nullptr, "", "Yes", "", "", "", "Yes"},
      {"invalid, dynamic set", "bad.name", nullptr, "", "Yes", "", "", kErrorInvalidDefault, "yes"},
      {"invalid in the file", "", "bad:name", "", "No", "", "", kErrorInvalidDefault, "yes"},
      {"empty, dynamic refused", "", nullptr, "", "no", "", "", kErrorEmptyDefault, "yes"},
      {"invalid, no dynamic", "bad.name", nullptr, "", "", "", "bad.name", "", ""},
      {"invalid, administrative", "bad.name", nullptr, "", "Yes", "1", "bad.name", "", "Yes"},
  };
  for (const ProposeCase& c : cases) {
    SCOPED_TRACE(c.title);
    Package p;
    AddErrorAction(p);
    if (*c.admin) p.Property("IsAdminPackage", c.admin);
    MSIHANDLE h = p.Open();
    std::string volume = TempFolder("vol");
    if (c.fileName) {
      std::string ini = volume + "ZNCNAME.INI";
      ASSERT_TRUE(WritePrivateProfileStringA("ZNClient", "ClientName", c.fileName, ini.c_str()));
    }
    SetProp(h, "WindowsVolume", volume);
    SetProp(h, "CLIENT_NAME", c.clientName);
    SetProp(h, "Installed", c.installed);
    SetProp(h, "ENABLE_DYNAMIC_CLIENT_NAME", c.dynamic);

    EXPECT_EQ(CallAction(h, "GetQVAClientName"), 0u);
    EXPECT_EQ(GetProp(h, "CLIENT_NAME"), c.expectedName);
    EXPECT_EQ(GetProp(h, kShown), c.shown);
    EXPECT_EQ(GetProp(h, kValidationError), "");
    EXPECT_EQ(GetProp(h, "ENABLE_DYNAMIC_CLIENT_NAME"), c.expectedDynamic);
  }
}

TEST_F(ValidationTest, GetIniClientNameNeedsAVolume) {
  MSIHANDLE h = Open({});
  char buffer[256] = "old";
  SetProp(h, "WindowsVolume", "");
  EXPECT_FALSE(viduzo::GetIniClientName(h, buffer, sizeof buffer, "ClientName"));
  // A volume too long for the file name behind it is no volume at all.
  SetProp(h, "WindowsVolume", "C:\\" + std::string(250, 'v') + "\\");
  EXPECT_FALSE(viduzo::GetIniClientName(h, buffer, sizeof buffer, "ClientName"));
  // A key the file lacks reads nothing.
  std::string volume = TempFolder("vol");
  WritePrivateProfileStringA("ZNClient", "ClientName", "NAME1", (volume + "ZNCNAME.INI").c_str());
  SetProp(h, "WindowsVolume", volume);
  EXPECT_FALSE(viduzo::GetIniClientName(h, buffer, sizeof buffer, "Other"));
  EXPECT_TRUE(viduzo::GetIniClientName(h, buffer, sizeof buffer, "ClientName"));
  EXPECT_STREQ(buffer, "NAME1");
}

// Double-byte client names under code page 932. "\x95\x5C" is one character
// whose trail byte is the backslash; it must neither count as a forbidden
// character nor be split by the 20-byte limit.
TEST_F(ValidationTest, DbcsClientNames) {
  if (GetACP() != 932) GTEST_SKIP() << "needs code page 932";
  const std::string hyo = "\x95\x5C";
  std::string ten;
  for (int i = 0; i < 10; ++i) ten += hyo;
  const struct Case {
    std::string name;
    std::string proposed;
    const char* answer;
  } cases[] = {
      {ten, ten, "Yes"},                              // 20 bytes
      {ten + hyo, ten, "Over"},                       // 22 bytes: cut to 10 characters
      {std::string(19, 'a') + hyo, std::string(19, 'a'), "Over"},  // the straddling one is dropped
      {hyo + "\\", hyo + "\\", "No"},                 // a real backslash after it is still refused
  };
  MSIHANDLE h = Open({});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name.size());
    SetProp(h, "CLIENT_NAME", c.name);
    SetProp(h, kClientNameValid, "");
    EXPECT_EQ(CallAction(h, "ValidateClientName"), 0u);
    EXPECT_EQ(GetProp(h, kClientNameValid), c.answer);
    EXPECT_EQ(CallAction(h, "GetQVAClientName"), 0u);
    EXPECT_EQ(GetProp(h, "CLIENT_NAME"), c.proposed);
  }
}

#ifndef _WIN32
// Reads that fail: a check whose property cannot be read answers nothing and
// leaves the flags as they were, so the actions take the name as acceptable.
TEST_F(ValidationTest, UnreadablePropertiesLeaveEarlierAnswers) {
  MSIHANDLE h = Open({{"CLIENT_NAME", "bad.name"}, {"ENABLE_DYNAMIC_CLIENT_NAME", "Yes"}});
  SetProp(h, kClientNameValid, "earlier");
  winsim::FailPropertyRead("CLIENT_NAME");
  EXPECT_EQ(CallAction(h, "ValidateClientName"), 0u);
  EXPECT_EQ(GetProp(h, kClientNameValid), "earlier");
  EXPECT_EQ(CallAction(h, "ValidateClientName2"), 0u);
  EXPECT_EQ(CallAction(h, "GetQVAClientName"), 0u);
  EXPECT_EQ(GetProp(h, kShown), "") << "the error action never ran";
  EXPECT_EQ(GetProp(h, "ENABLE_DYNAMIC_CLIENT_NAME"), "Yes");
  // Installed: no name file is read, and the unreadable name is proposed empty.
  SetProp(h, "Installed", "1");
  EXPECT_EQ(CallAction(h, "GetQVAClientName"), 0u);
  winsim::ResetSession();
  EXPECT_EQ(GetProp(h, "CLIENT_NAME"), "");

  // An empty name whose dynamic-naming switch cannot be read: no answer.
  SetProp(h, "CLIENT_NAME", "");
  winsim::FailPropertyRead("ENABLE_DYNAMIC_CLIENT_NAME");
  int valid = 7, empty = 7;
  EXPECT_EQ(viduzo::ValidateProperty(h, "CLIENT_NAME", kClientNameValid, nullptr, nullptr), 0u);
  EXPECT_EQ(GetProp(h, kClientNameValid), "earlier");
  EXPECT_EQ(viduzo::ValidateProperty(h, "CLIENT_NAME", nullptr, &valid, &empty), 0u);
  EXPECT_EQ(valid, 7);
  EXPECT_EQ(empty, 1);
  EXPECT_EQ(CallAction(h, "ValidateClientName2"), 0u);
}

// Paths past MAX_PATH are winsim's alone: a volume of 250 characters leaves
// no room for the file name in the 261-byte buffer, even when the file is there.
TEST_F(ValidationTest, VolumeLeavingNoRoomForTheFileName) {
  MSIHANDLE h = Open({});
  const std::string volume = "C:\\" + std::string(246, 'v') + "\\";
  ASSERT_EQ(volume.size(), 250u);
  ASSERT_TRUE(CreateDirectoryA(volume.c_str(), nullptr));
  ASSERT_TRUE(WritePrivateProfileStringA("ZNClient", "ClientName", "NAME1",
                                         (volume + "ZNCNAME.INI").c_str()));
  SetProp(h, "WindowsVolume", volume);
  char buffer[256] = "";
  EXPECT_FALSE(viduzo::GetIniClientName(h, buffer, sizeof buffer, "ClientName"));
  const std::string shorter = volume.substr(0, 248) + "\\";  // 249: it fits
  ASSERT_TRUE(CreateDirectoryA(shorter.c_str(), nullptr));
  ASSERT_TRUE(WritePrivateProfileStringA("ZNClient", "ClientName", "NAME2",
                                         (shorter + "ZNCNAME.INI").c_str()));
  SetProp(h, "WindowsVolume", shorter);
  EXPECT_TRUE(viduzo::GetIniClientName(h, buffer, sizeof buffer, "ClientName"));
  EXPECT_STREQ(buffer, "NAME2");
  // A volume of one character is a volume: "XZNCNAME.INI", a bare file name, is
  // looked for in the Windows folder.
  ASSERT_TRUE(WritePrivateProfileStringA("ZNClient", "ClientName", "NAME3",
                                         "C:\\windows\\XZNCNAME.INI"));
  SetProp(h, "WindowsVolume", "X");
  EXPECT_TRUE(viduzo::GetIniClientName(h, buffer, sizeof buffer, "ClientName"));
  EXPECT_STREQ(buffer, "NAME3");
  DeleteFileA("C:\\windows\\XZNCNAME.INI");
}
#endif

}  // namespace
