// The registry and security-descriptor calls at the advapi32 boundary, as the
// actions make them. Each test works in a scratch key of its own under
// HKEY_CURRENT_USER\Software and deletes it at the end, so that a run under
// Wine leaves the prefix clean.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <windows.h>

#include "tests/registry_tree.h"

#ifndef _WIN32
#include "winsim/control.h"
#endif

namespace {

using viduzo_test::DeleteTree;
using viduzo_test::Key;

std::string Bytes(const char* text, size_t size) { return std::string(text, size); }
const BYTE* Data(const char* text) { return reinterpret_cast<const BYTE*>(text); }

// The subkey (or value) names by index from 0 until ERROR_NO_MORE_ITEMS, with
// the lengths the enumeration reports checked against the names.
std::vector<std::string> Names(HKEY key, bool values = false) {
  std::vector<std::string> names;
  char name[256];
  for (DWORD i = 0;; ++i) {
    DWORD length = sizeof name;
    LONG error = values ? RegEnumValueA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr)
                        : RegEnumKeyExA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (error == ERROR_NO_MORE_ITEMS) return names;
    EXPECT_EQ(error, ERROR_SUCCESS);
    if (error) return names;
    EXPECT_EQ(length, std::strlen(name));
    names.push_back(name);
  }
}

class RegistryApi : public ::testing::Test {
 protected:
  void SetUp() override {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    path_ = std::string("Software\\ViduzoTest\\") + info->name();
    DeleteTree(HKEY_CURRENT_USER, path_);  // what an interrupted run left
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key_, nullptr),
              ERROR_SUCCESS);
#ifndef _WIN32
    keysOpen_ = winsim::OpenKeyCount();
#endif
  }
  void TearDown() override {
#ifndef _WIN32
    EXPECT_EQ(winsim::OpenKeyCount(), keysOpen_) << "a key handle was left open";
#endif
    RegCloseKey(key_);
    EXPECT_EQ(DeleteTree(HKEY_CURRENT_USER, path_), ERROR_SUCCESS);
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\ViduzoTest");  // once the last test is done
  }

  HKEY Create(const char* name) {
    HKEY h = nullptr;
    EXPECT_EQ(RegCreateKeyExA(key_, name, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr),
              ERROR_SUCCESS)
        << name;
    return h;
  }

  std::string path_;
  HKEY key_ = nullptr;
#ifndef _WIN32
  std::size_t keysOpen_ = 0;
#endif
};

TEST_F(RegistryApi, ValuesReadBackWithTheSizeTheyWereStoredWith) {
  // source: the caller's bytes, including the one after cbData; after: the byte
  // after the data when a read has one byte more room than the data needs.
  struct Case {
    const char* name;
    DWORD type;
    std::string source;
    DWORD count;
    std::string stored;
    int after;
  } cases[] = {
      {"sz", REG_SZ, Bytes("abc\0\0", 5), 4, Bytes("abc\0", 4), 0xBD},
      // cbData without the terminator: the terminator right after it is stored too
      {"sz_short", REG_SZ, Bytes("abc\0", 4), 3, Bytes("abc\0", 4), 0xBD},
      // stored without a terminator: a read adds one only when there is room
      {"sz_unterminated", REG_SZ, "abcd", 3, "abc", 0},
      {"sz_empty", REG_SZ, Bytes("\0", 1), 0, "", 0xBD},
      {"expand", REG_EXPAND_SZ, Bytes("%TEMP%\\x\0", 9), 9, Bytes("%TEMP%\\x\0", 9), 0xBD},
      {"multi", REG_MULTI_SZ, Bytes("one\0two\0\0", 9), 9, Bytes("one\0two\0\0", 9), 0xBD},
      {"multi_short", REG_MULTI_SZ, Bytes("one\0two\0\0", 9), 8, Bytes("one\0two\0", 8), 0xBD},
      {"binary", REG_BINARY, Bytes("\x01\x02\x03\0", 4), 3, "\x01\x02\x03", 0xBD},
      {"dword", REG_DWORD, Bytes("\x78\x56\x34\x12", 4), 4, Bytes("\x78\x56\x34\x12", 4), 0xBD},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<BYTE> source(c.source.begin(), c.source.end());
    ASSERT_EQ(RegSetValueExA(key_, c.name, 0, c.type, source.data(), c.count), ERROR_SUCCESS);

    DWORD type = 0xdead, size = 0xdead;
    ASSERT_EQ(RegQueryValueExA(key_, c.name, nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, c.type);
    EXPECT_EQ(size, c.stored.size());

    for (DWORD extra : {0u, 1u}) {
      std::vector<BYTE> buffer(c.stored.size() + 4, 0xBD);
      size = static_cast<DWORD>(c.stored.size()) + extra;
      ASSERT_EQ(RegQueryValueExA(key_, c.name, nullptr, &type, buffer.data(), &size),
                ERROR_SUCCESS);
      EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + size), c.stored);
      EXPECT_EQ(buffer[c.stored.size()], extra ? c.after : 0xBD) << "room + " << extra;
    }
    if (!c.stored.empty()) {
      std::vector<BYTE> small(c.stored.size() + 4, 0xBD);
      size = static_cast<DWORD>(c.stored.size() - 1);
      EXPECT_EQ(RegQueryValueExA(key_, c.name, nullptr, &type, small.data(), &size),
                ERROR_MORE_DATA);
      EXPECT_EQ(size, c.stored.size());
      EXPECT_EQ(small, std::vector<BYTE>(c.stored.size() + 4, 0xBD));
    }
  }
}

TEST_F(RegistryApi, MissingValues) {
  DWORD size = 0xdead;
  EXPECT_EQ(RegQueryValueExA(key_, "absent", nullptr, nullptr, nullptr, &size),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(size, 0u);  // a size query reports 0
  EXPECT_EQ(RegDeleteValueA(key_, "absent"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegQueryValueExA(key_, "", nullptr, nullptr, nullptr, nullptr), ERROR_FILE_NOT_FOUND);

  ASSERT_EQ(RegSetValueExA(key_, "gone", 0, REG_SZ, Data("v"), 2), 0);
  EXPECT_EQ(RegDeleteValueA(key_, "GONE"), ERROR_SUCCESS);
  EXPECT_EQ(RegQueryValueExA(key_, "gone", nullptr, nullptr, nullptr, nullptr),
            ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryApi, EnumeratedValueNameAndDataThatDoNotFit) {
  ASSERT_EQ(RegSetValueExA(key_, "Test", 0, REG_SZ, Data("foobar"), 7), 0);
  struct Case {
    DWORD nameRoom, dataRoom;
    LONG result;
    DWORD nameCount, dataCount;
    const char *name, *data;  // what the buffers hold afterwards
  } cases[] = {
      {2, 2, ERROR_MORE_DATA, 2, 7, "xxxxxxxxxx", "xxxxxxxxxx"},  // data checked first
      {3, 20, ERROR_MORE_DATA, 3, 7, "Te", "foobar"},             // the name is cut
      {0, 20, ERROR_MORE_DATA, 0, 7, "xxxxxxxxxx", "foobar"},
      {20, 2, ERROR_MORE_DATA, 20, 7, "xxxxxxxxxx", "xxxxxxxxxx"},
      {20, 20, ERROR_SUCCESS, 4, 7, "Test", "foobar"},
  };
  for (const Case& c : cases) {
    char name[20] = "xxxxxxxxxx", data[20] = "xxxxxxxxxx";
    DWORD nameCount = c.nameRoom, dataCount = c.dataRoom, type = 0;
    EXPECT_EQ(RegEnumValueA(key_, 0, name, &nameCount, nullptr, &type,
                            reinterpret_cast<BYTE*>(data), &dataCount),
              c.result)
        << c.nameRoom << "/" << c.dataRoom;
    EXPECT_EQ(nameCount, c.nameCount);
    EXPECT_EQ(dataCount, c.dataCount);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_STREQ(name, c.name);
    EXPECT_STREQ(data, c.data);
  }
  EXPECT_EQ(Names(key_, true), std::vector<std::string>{"Test"});  // then ERROR_NO_MORE_ITEMS
}

TEST_F(RegistryApi, SubkeysEnumerateInNameOrderWithoutRegardToCase) {
  for (const char* name : {"gamma", "Beta", "alpha", "ALPHA2", "10", "9"})
    RegCloseKey(Create(name));
  EXPECT_EQ(Names(key_), (std::vector<std::string>{"10", "9", "alpha", "ALPHA2", "Beta", "gamma"}));

  for (DWORD room : {5u, 6u}) {  // "alpha" needs 6 with its terminator
    char name[16] = "xxxxxxxxxx";
    DWORD length = room;
    EXPECT_EQ(RegEnumKeyExA(key_, 2, name, &length, nullptr, nullptr, nullptr, nullptr),
              room == 6 ? ERROR_SUCCESS : ERROR_MORE_DATA);
    EXPECT_EQ(length, 5u) << room;
    if (room == 6) { EXPECT_STREQ(name, "alpha"); }
  }
}

TEST_F(RegistryApi, NamesAreFoundWithoutRegardToCaseAndKeepTheirCase) {
  RegCloseKey(Create("MixedCase\\Child"));
  Key child, again;
  EXPECT_EQ(RegOpenKeyExA(key_, "mixedcase\\CHILD", 0, KEY_READ, &child.h), ERROR_SUCCESS);
  ASSERT_EQ(RegCreateKeyExA(key_, "MIXEDCASE\\", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &again.h,
                            nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(Names(key_), std::vector<std::string>{"MixedCase"});
  HKEY missing = key_;
  EXPECT_EQ(RegOpenKeyExA(key_, "MixedCase\\Other", 0, KEY_READ, &missing), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(missing, nullptr);

  ASSERT_EQ(RegSetValueExA(again.h, "Value", 0, REG_SZ, Data("first"), 6), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(again.h, "VALUE", 0, REG_SZ, Data("second"), 7), ERROR_SUCCESS);
  EXPECT_EQ(Names(again.h, true), std::vector<std::string>{"Value"});
  char data[16] = "";
  DWORD size = sizeof data;
  EXPECT_EQ(
      RegQueryValueExA(again.h, "vAlUe", nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size),
      ERROR_SUCCESS);
  EXPECT_STREQ(data, "second");
}

TEST_F(RegistryApi, DefaultValuesThroughRegQueryValueA) {
  // RegSetValueA creates the subkey and ignores the size it is given.
  ASSERT_EQ(RegSetValueA(key_, "sub", REG_SZ, "data", 2), ERROR_SUCCESS);
  RegCloseKey(Create("nodefault"));
  struct Case {
    const char* subKey;
    LONG room, result, size;  // room -1: no buffer
    const char* text;         // null: the buffer is untouched
  } cases[] = {
      {"sub", 64, ERROR_SUCCESS, 5, "data"},
      {"sub", -1, ERROR_SUCCESS, 5, nullptr},
      {"sub", 1, ERROR_MORE_DATA, 5, nullptr},
      {"nodefault", 64, ERROR_SUCCESS, 1, ""},  // no default value reads as ""
      {"absent", 64, ERROR_FILE_NOT_FOUND, 64, nullptr},
  };
  for (const Case& c : cases) {
    char buffer[64] = "untouched";
    LONG size = c.room < 0 ? 0 : c.room;
    EXPECT_EQ(RegQueryValueA(key_, c.subKey, c.room < 0 ? nullptr : buffer, &size), c.result)
        << c.subKey << " " << c.room;
    EXPECT_EQ(size, c.size) << c.subKey << " " << c.room;
    EXPECT_STREQ(buffer, c.text ? c.text : "untouched") << c.subKey << " " << c.room;
  }
}

TEST_F(RegistryApi, HandlesAllowOnlyTheAccessTheyWereOpenedWith) {
  RegCloseKey(Create("sub"));
  ASSERT_EQ(RegSetValueExA(key_, "v", 0, REG_SZ, Data("v"), 2), ERROR_SUCCESS);
  SECURITY_DESCRIPTOR sd;
  ASSERT_TRUE(InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION));
  ASSERT_TRUE(SetSecurityDescriptorDacl(&sd, TRUE, nullptr, FALSE));  // a null DACL
  enum Op { SetValue, DeleteValue, SetDacl, CreateSub };
  const std::function<LONG(HKEY)> ops[] = {
      [&](HKEY k) { return RegSetValueExA(k, "v", 0, REG_SZ, Data("v"), 2); },
      [&](HKEY k) { return RegDeleteValueA(k, "v"); },
      [&](HKEY k) { return RegSetKeySecurity(k, DACL_SECURITY_INFORMATION, &sd); },
      [&](HKEY k) {
        Key sub;
        return RegCreateKeyExA(k, "sub", 0, nullptr, 0, KEY_READ, nullptr, &sub.h, nullptr);
      },
  };
  const struct {
    REGSAM access;
    Op op;
    LONG result;
  } cases[] = {
      {KEY_READ, SetValue, ERROR_ACCESS_DENIED},
      {KEY_SET_VALUE, SetValue, ERROR_SUCCESS},
      {KEY_READ, DeleteValue, ERROR_ACCESS_DENIED},
      {KEY_READ, SetDacl, ERROR_ACCESS_DENIED},
      {WRITE_DAC, SetDacl, ERROR_SUCCESS},
      {WRITE_DAC, SetValue, ERROR_ACCESS_DENIED},
      {KEY_READ, CreateSub, ERROR_SUCCESS},  // the parent's rights do not matter
  };
  for (const auto& c : cases) {
    Key key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, path_.c_str(), 0, c.access, &key.h), 0);
    EXPECT_EQ(ops[c.op](key.h), c.result) << "access " << c.access << " op " << c.op;
  }
}

// A key's DACL built the way the actions build it: the SID of everyone, an ACL
// of exactly the SID's length plus 16 bytes holding one access-allowed entry
// whose inheritance flags are set afterwards through GetAce.
TEST_F(RegistryApi, DaclSizedForOneEntryIsAppliedAndReadsBack) {
  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
  PSID everyone = nullptr;
  ASSERT_TRUE(
      AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone));
  const DWORD exact = GetLengthSid(everyone) + 16;
  EXPECT_EQ(exact, 28u);
  DWORD storage[16];
  PACL acl = reinterpret_cast<PACL>(storage);
  ASSERT_TRUE(InitializeAcl(acl, exact - 1, ACL_REVISION));
  SetLastError(0);
  EXPECT_FALSE(AddAccessAllowedAce(acl, ACL_REVISION, KEY_ALL_ACCESS, everyone));  // one byte short
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALLOTTED_SPACE_EXCEEDED));
  ASSERT_TRUE(InitializeAcl(acl, exact, ACL_REVISION));
  ASSERT_TRUE(AddAccessAllowedAce(acl, ACL_REVISION, KEY_ALL_ACCESS, everyone));
  EXPECT_EQ(acl->AceCount, 1);
  ACCESS_ALLOWED_ACE* ace = nullptr;
  ASSERT_TRUE(GetAce(acl, 0, reinterpret_cast<LPVOID*>(&ace)));
  EXPECT_EQ(reinterpret_cast<BYTE*>(ace), reinterpret_cast<BYTE*>(acl) + sizeof(ACL));
  EXPECT_EQ(ace->Header.AceSize, 20);
  ace->Header.AceFlags = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
  SECURITY_DESCRIPTOR sd;
  ASSERT_TRUE(InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION));
  ASSERT_TRUE(SetSecurityDescriptorDacl(&sd, TRUE, acl, FALSE));

  RegCloseKey(Create("secured"));
  Key key;
  ASSERT_EQ(RegOpenKeyExA(key_, "secured", 0, WRITE_DAC | READ_CONTROL, &key.h), ERROR_SUCCESS);
  ASSERT_EQ(RegSetKeySecurity(key.h, DACL_SECURITY_INFORMATION, &sd), ERROR_SUCCESS);
  DWORD size = 0;
  ASSERT_EQ(RegGetKeySecurity(key.h, DACL_SECURITY_INFORMATION, nullptr, &size),
            ERROR_INSUFFICIENT_BUFFER);
  std::vector<BYTE> read(size);
  ASSERT_EQ(RegGetKeySecurity(key.h, DACL_SECURITY_INFORMATION, read.data(), &size), ERROR_SUCCESS);
  BOOL present = FALSE, defaulted = TRUE;
  PACL dacl = nullptr;
  ASSERT_TRUE(GetSecurityDescriptorDacl(read.data(), &present, &dacl, &defaulted));
  ASSERT_TRUE(present && dacl);
  ASSERT_EQ(dacl->AceCount, 1);
  ASSERT_TRUE(GetAce(dacl, 0, reinterpret_cast<LPVOID*>(&ace)));
  EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
  EXPECT_EQ(ace->Header.AceFlags & VALID_INHERIT_FLAGS, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
  EXPECT_EQ(ace->Mask, static_cast<ACCESS_MASK>(KEY_ALL_ACCESS));
  EXPECT_TRUE(EqualSid(&ace->SidStart, everyone));
#ifndef _WIN32
  // What the tests of the actions read back: the DACL as it was applied.
  winsim::RegistryKeySecurity recorded;
  ASSERT_TRUE(winsim::KeySecurity(HKEY_CURRENT_USER, path_ + "\\secured", &recorded));
  EXPECT_EQ(recorded.daclWrites, 1u);
  ASSERT_EQ(recorded.aces.size(), 1u);
  EXPECT_EQ(recorded.aces[0].sid, "S-1-1-0");
  EXPECT_EQ(recorded.aces[0].mask, static_cast<ACCESS_MASK>(KEY_ALL_ACCESS));
  EXPECT_EQ(recorded.aces[0].flags, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
#endif
  FreeSid(everyone);
}

TEST_F(RegistryApi, DbcsNamesWhoseTrailByteIsABackslashStayOneName) {
  if (GetACP() != 932) GTEST_SKIP() << "needs code page 932";
  const char name[] =
      "\x95\x5c"
      "x";  // one double-byte character, then "x"
  Key key;
  key.h = Create(name);
  EXPECT_EQ(Names(key_), std::vector<std::string>{name});
  ASSERT_EQ(RegSetValueExA(key.h, name, 0, REG_SZ, Data(name), 4), 0);
  EXPECT_EQ(Names(key.h, true), std::vector<std::string>{name});
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(key.h, name, nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 4u);  // and four ANSI bytes
}

#ifndef _WIN32
// What only winsim can do: load and unload user hives.
class RegistryControl : public ::testing::Test {
 protected:
  void TearDown() override { winsim::ResetRegistry(); }
};

// State the actions look at: whether a user's hive is loaded under
// HKEY_USERS, and HKEY_CURRENT_USER as the current user's hive.
TEST_F(RegistryControl, UserHivesLoadAndUnloadUnderHkeyUsers) {
  const std::string sid = "S-1-5-21-1-2-3-1005";
  ASSERT_TRUE(winsim::LoadUserHive(sid));
  Key software, gone, again;
  ASSERT_EQ(RegOpenKeyExA(HKEY_USERS, (sid + "\\Software").c_str(), 0, KEY_ALL_ACCESS, &software.h),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(software.h, "v", 0, REG_SZ, Data("kept"), 5), ERROR_SUCCESS);
  ASSERT_TRUE(winsim::UnloadUserHive(sid));
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(software.h, "v", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
  EXPECT_EQ(RegOpenKeyExA(HKEY_USERS, sid.c_str(), 0, KEY_READ, &gone.h), ERROR_FILE_NOT_FOUND);
  ASSERT_TRUE(winsim::LoadUserHive(sid));  // the hive comes back as it was
  char text[8] = "";
  LONG length = sizeof text;
  ASSERT_EQ(RegOpenKeyExA(HKEY_USERS, (sid + "\\software").c_str(), 0, KEY_READ, &again.h), 0);
  size = sizeof text;
  EXPECT_EQ(RegQueryValueExA(again.h, "v", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size),
            ERROR_SUCCESS);
  EXPECT_STREQ(text, "kept");

  const std::string probe = winsim::CurrentUserSid() + "\\Software\\Probe";
  ASSERT_EQ(RegSetValueA(HKEY_CURRENT_USER, "Software\\Probe", REG_SZ, "mine", 0), ERROR_SUCCESS);
  EXPECT_EQ(RegQueryValueA(HKEY_USERS, probe.c_str(), text, &length), ERROR_SUCCESS);
  EXPECT_STREQ(text, "mine");
}
#endif

}  // namespace
