// The registry and security-descriptor calls at the advapi32 boundary. Each
// test works in a scratch key of its own under HKEY_CURRENT_USER\Software and
// deletes it at the end, so that a run under Wine leaves the prefix clean.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "runtime/win.h"

#ifndef _WIN32
#include "winsim/control.h"
#endif

namespace {

struct Key {
  HKEY h = nullptr;
  ~Key() {
    if (h) RegCloseKey(h);
  }
};

// Deletes a key and everything below it; ERROR_FILE_NOT_FOUND when missing.
LONG DeleteTree(HKEY root, const std::string& path) {
  Key key;
  LONG error = RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key.h);
  if (error) return error;
  char name[256];
  DWORD length = sizeof name;
  while (RegEnumKeyExA(key.h, 0, name, &length, nullptr, nullptr, nullptr, nullptr) == 0) {
    if ((error = DeleteTree(key.h, name))) return error;
    length = sizeof name;
  }
  return RegDeleteKeyA(root, path.c_str());
}

std::string Bytes(const char* text, size_t size) { return std::string(text, size); }

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

  HKEY Create(const char* name, LPSTR keyClass = nullptr) {
    HKEY h = nullptr;
    EXPECT_EQ(RegCreateKeyExA(key_, name, 0, keyClass, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr),
              ERROR_SUCCESS)
        << name;
    return h;
  }
  std::vector<std::string> SubkeyNames(HKEY key) {
    std::vector<std::string> names;
    char name[256];
    for (DWORD i = 0;; ++i) {
      DWORD length = sizeof name;
      LONG error = RegEnumKeyExA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr);
      if (error == ERROR_NO_MORE_ITEMS) break;
      EXPECT_EQ(error, ERROR_SUCCESS);
      if (error) break;
      EXPECT_EQ(length, std::strlen(name));
      names.push_back(name);
    }
    return names;
  }
  std::vector<std::string> ValueNames(HKEY key) {
    std::vector<std::string> names;
    char name[256];
    for (DWORD i = 0;; ++i) {
      DWORD length = sizeof name;
      LONG error = RegEnumValueA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr);
      if (error == ERROR_NO_MORE_ITEMS) break;
      EXPECT_EQ(error, ERROR_SUCCESS);
      if (error) break;
      names.push_back(name);
    }
    return names;
  }

  std::string path_;
  HKEY key_ = nullptr;
#ifndef _WIN32
  std::size_t keysOpen_ = 0;
#endif
};

TEST_F(RegistryApi, ValuesReadBackWithTheSizeTheyWereStoredWith) {
  struct Case {
    const char* name;
    DWORD type;
    std::string source;  // the caller's bytes, including the one after cbData
    DWORD count;
    std::string stored;
  } cases[] = {
      {"sz", REG_SZ, Bytes("abc\0\0", 5), 4, Bytes("abc\0", 4)},
      // cbData without the terminator: the terminator right after it is stored too
      {"sz_short", REG_SZ, Bytes("abc\0", 4), 3, Bytes("abc\0", 4)},
      {"sz_unterminated", REG_SZ, "abcd", 3, "abc"},
      {"sz_empty", REG_SZ, Bytes("\0", 1), 0, ""},
      {"expand", REG_EXPAND_SZ, Bytes("%TEMP%\\x\0", 9), 9, Bytes("%TEMP%\\x\0", 9)},
      {"multi", REG_MULTI_SZ, Bytes("one\0two\0\0", 9), 9, Bytes("one\0two\0\0", 9)},
      {"multi_short", REG_MULTI_SZ, Bytes("one\0two\0\0", 9), 8, Bytes("one\0two\0", 8)},
      {"binary", REG_BINARY, Bytes("\x01\x02\x03\0", 4), 3, "\x01\x02\x03"},
      {"dword", REG_DWORD, Bytes("\x78\x56\x34\x12", 4), 4, Bytes("\x78\x56\x34\x12", 4)},
      {"qword", REG_QWORD, Bytes("\1\2\3\4\5\6\7\x08", 8), 8, Bytes("\1\2\3\4\5\6\7\x08", 8)},
      {"none", REG_NONE, Bytes("\0", 1), 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<BYTE> source(c.source.begin(), c.source.end());
    ASSERT_EQ(RegSetValueExA(key_, c.name, 0, c.type, source.data(), c.count), ERROR_SUCCESS);

    DWORD type = 0xdead, size = 0xdead;
    ASSERT_EQ(RegQueryValueExA(key_, c.name, nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, c.type);
    EXPECT_EQ(size, c.stored.size());

    std::vector<BYTE> buffer(c.stored.size() + 4, 0xBD);
    size = static_cast<DWORD>(c.stored.size());
    ASSERT_EQ(RegQueryValueExA(key_, c.name, nullptr, &type, buffer.data(), &size), ERROR_SUCCESS);
    EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + size), c.stored);
    EXPECT_EQ(buffer[c.stored.size()], 0xBD);  // nothing written past an exact buffer

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

TEST_F(RegistryApi, StringStoredWithoutTerminatorGetsOneOnlyWhenThereIsRoom) {
  const char text[] = "FullString";
  ASSERT_EQ(RegSetValueExA(key_, "s", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), 9),
            ERROR_SUCCESS);  // "FullStrin": the byte after it is 'g'
  for (DWORD room : {9u, 10u}) {
    BYTE buffer[16];
    std::memset(buffer, 0xBD, sizeof buffer);
    DWORD size = room;
    ASSERT_EQ(RegQueryValueExA(key_, "s", nullptr, nullptr, buffer, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 9u);
    EXPECT_EQ(std::memcmp(buffer, "FullStrin", 9), 0);
    EXPECT_EQ(buffer[9], room == 10 ? 0 : 0xBD) << room;

    std::memset(buffer, 0xBD, sizeof buffer);
    char name[8];
    DWORD nameLength = sizeof name;
    size = room;
    ASSERT_EQ(RegEnumValueA(key_, 0, name, &nameLength, nullptr, nullptr, buffer, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(size, 9u);
    EXPECT_EQ(buffer[9], room == 10 ? 0 : 0xBD) << room;
  }
}

TEST_F(RegistryApi, MissingValues) {
  DWORD type = 0, size = 0xdead;
  EXPECT_EQ(RegQueryValueExA(key_, "absent", nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(size, 0u);  // a size query reports 0
  BYTE buffer[8];
  size = sizeof buffer;
  EXPECT_EQ(RegQueryValueExA(key_, "absent", nullptr, &type, buffer, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(size, sizeof buffer);
  EXPECT_EQ(RegQueryValueExA(key_, "absent", nullptr, &type, buffer, nullptr),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegDeleteValueA(key_, "absent"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegQueryValueExA(key_, "", nullptr, nullptr, nullptr, nullptr), ERROR_FILE_NOT_FOUND);

  ASSERT_EQ(RegSetValueExA(key_, "gone", 0, REG_SZ, reinterpret_cast<const BYTE*>("v"), 2), 0);
  EXPECT_EQ(RegDeleteValueA(key_, "GONE"), ERROR_SUCCESS);
  EXPECT_EQ(RegQueryValueExA(key_, "gone", nullptr, nullptr, nullptr, nullptr),
            ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryApi, EnumeratedValueNameAndDataThatDoNotFit) {
  ASSERT_EQ(RegSetValueExA(key_, "Test", 0, REG_SZ, reinterpret_cast<const BYTE*>("foobar"), 7), 0);
  struct Case {
    DWORD nameRoom, dataRoom;
    LONG result;
    DWORD nameCount, dataCount;
    const char* name;  // what the name buffer holds afterwards
    const char* data;
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
  char name[20];
  DWORD count = sizeof name;
  EXPECT_EQ(RegEnumValueA(key_, 1, name, &count, nullptr, nullptr, nullptr, nullptr),
            ERROR_NO_MORE_ITEMS);
  EXPECT_EQ(RegEnumValueA(key_, 0, nullptr, &count, nullptr, nullptr, nullptr, nullptr),
            ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryApi, SubkeysEnumerateInNameOrderWithoutRegardToCase) {
  for (const char* name : {"gamma", "Beta", "alpha", "ALPHA2", "10", "9"})
    RegCloseKey(Create(name));
  EXPECT_EQ(SubkeyNames(key_),
            (std::vector<std::string>{"10", "9", "alpha", "ALPHA2", "Beta", "gamma"}));

  char name[16];
  std::memset(name, 'x', sizeof name);
  DWORD length = 5;  // "alpha" needs 6 with its terminator
  EXPECT_EQ(RegEnumKeyExA(key_, 2, name, &length, nullptr, nullptr, nullptr, nullptr),
            ERROR_MORE_DATA);
  EXPECT_EQ(length, 5u);
  length = 6;
  EXPECT_EQ(RegEnumKeyExA(key_, 2, name, &length, nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(length, 5u);
  EXPECT_STREQ(name, "alpha");
  EXPECT_EQ(RegEnumKeyA(key_, 5, name, sizeof name), ERROR_SUCCESS);
  EXPECT_STREQ(name, "gamma");
  EXPECT_EQ(RegEnumKeyA(key_, 6, name, sizeof name), ERROR_NO_MORE_ITEMS);

  DWORD subkeys = 0, longest = 0;
  ASSERT_EQ(RegQueryInfoKeyA(key_, nullptr, nullptr, nullptr, &subkeys, &longest, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(subkeys, 6u);
  EXPECT_EQ(longest, 6u);
}

TEST_F(RegistryApi, EnumerationByIndexFollowsChangesBetweenCalls) {
  const DWORD zero = 0;
  for (const char* name : {"k1", "k2", "k3", "k4", "k5"}) {
    RegCloseKey(Create(name));
    ASSERT_EQ(RegSetValueExA(key_, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&zero), 4), 0);
  }
  struct Step {
    const char* remove;  // a subkey and a value deleted before the step, or null
    DWORD index;
    const char* name;  // null: ERROR_NO_MORE_ITEMS
  } steps[] = {
      {nullptr, 4, "k5"}, {nullptr, 3, "k4"},    {nullptr, 0, "k1"},  // backwards, then jump
      {nullptr, 1, "k2"}, {"k2", 1, "k3"},       {nullptr, 2, "k4"},  // a deletion shifts the rest
      {"k1", 0, "k3"},    {nullptr, 3, nullptr}, {nullptr, 2, "k5"},
  };
  for (const Step& s : steps) {
    if (s.remove) {
      ASSERT_EQ(RegDeleteKeyA(key_, s.remove), ERROR_SUCCESS);
      ASSERT_EQ(RegDeleteValueA(key_, s.remove), ERROR_SUCCESS);
    }
    char name[8] = "";
    DWORD length = sizeof name;
    LONG expected = s.name ? ERROR_SUCCESS : ERROR_NO_MORE_ITEMS;
    EXPECT_EQ(RegEnumKeyA(key_, s.index, name, sizeof name), expected) << s.index;
    EXPECT_STREQ(name, s.name ? s.name : "");
    name[0] = 0;
    EXPECT_EQ(RegEnumValueA(key_, s.index, name, &length, nullptr, nullptr, nullptr, nullptr),
              expected)
        << s.index;
    EXPECT_STREQ(name, s.name ? s.name : "");
  }
}

TEST_F(RegistryApi, NamesAreFoundWithoutRegardToCaseAndKeepTheirCase) {
  RegCloseKey(Create("MixedCase\\Child"));
  Key child;
  EXPECT_EQ(RegOpenKeyExA(key_, "mixedcase\\CHILD", 0, KEY_READ, &child.h), ERROR_SUCCESS);
  Key again;
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyExA(key_, "MIXEDCASE\\", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &again.h,
                            &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
  EXPECT_EQ(SubkeyNames(key_), std::vector<std::string>{"MixedCase"});

  HKEY missing = key_;
  EXPECT_EQ(RegOpenKeyExA(key_, "MixedCase\\Other", 0, KEY_READ, &missing), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(missing, nullptr);
  EXPECT_EQ(RegOpenKeyExA(key_, "\\MixedCase", 0, KEY_READ, &missing), ERROR_BAD_PATHNAME);

  const BYTE first[] = "first", second[] = "second";
  ASSERT_EQ(RegSetValueExA(again.h, "Value", 0, REG_SZ, first, sizeof first), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(again.h, "VALUE", 0, REG_SZ, second, sizeof second), ERROR_SUCCESS);
  EXPECT_EQ(ValueNames(again.h), std::vector<std::string>{"Value"});
  char data[16] = "";
  DWORD size = sizeof data;
  EXPECT_EQ(
      RegQueryValueExA(again.h, "vAlUe", nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size),
      ERROR_SUCCESS);
  EXPECT_STREQ(data, "second");
}

TEST_F(RegistryApi, OnlyKeysWithoutSubkeysCanBeDeleted) {
  RegCloseKey(Create("Parent\\Child"));
  EXPECT_EQ(RegDeleteKeyA(key_, "Parent"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteKeyA(key_, nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegDeleteKeyA(key_, "parent\\child"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(key_, "Parent\\Child"), ERROR_FILE_NOT_FOUND);

  // A key deleted while a handle to it is open: the handle stays valid but
  // every use of it reports the deletion.
  Key parent;
  ASSERT_EQ(RegOpenKeyExA(key_, "Parent", 0, KEY_ALL_ACCESS, &parent.h), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(parent.h, ""), ERROR_SUCCESS);
  const BYTE data[] = "v";
  char name[16];
  DWORD size = sizeof name;
  HKEY child = nullptr;
  EXPECT_EQ(RegSetValueExA(parent.h, "v", 0, REG_SZ, data, 2), ERROR_KEY_DELETED);
  EXPECT_EQ(RegQueryValueExA(parent.h, "v", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
  EXPECT_EQ(RegEnumKeyA(parent.h, 0, name, sizeof name), ERROR_KEY_DELETED);
  EXPECT_EQ(RegEnumValueA(parent.h, 0, name, &size, nullptr, nullptr, nullptr, nullptr),
            ERROR_KEY_DELETED);
  EXPECT_EQ(RegCreateKeyA(parent.h, "x", &child), ERROR_KEY_DELETED);
  EXPECT_EQ(RegOpenKeyExA(key_, "Parent", 0, KEY_READ, &child), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryApi, DefaultValuesThroughRegQueryValueA) {
  // RegSetValueA creates the subkey and ignores the size it is given.
  ASSERT_EQ(RegSetValueA(key_, "sub", REG_SZ, "data", 2), ERROR_SUCCESS);
  RegCloseKey(Create("nodefault"));
  struct Case {
    const char* subKey;
    LONG room;  // -1: no buffer
    LONG result;
    LONG size;
    const char* text;  // null: the buffer is untouched
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
  EXPECT_EQ(RegQueryValueExA(key_, "", nullptr, nullptr, nullptr, nullptr), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegSetValueA(key_, "sub", REG_BINARY, "x", 1), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegSetValueA(key_, "sub", REG_SZ, nullptr, 0), ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryApi, HandlesAllowOnlyTheAccessTheyWereOpenedWith) {
  RegCloseKey(Create("sub"));
  const BYTE data[] = "v";
  ASSERT_EQ(RegSetValueExA(key_, "v", 0, REG_SZ, data, 2), ERROR_SUCCESS);
  SECURITY_DESCRIPTOR sd;
  ASSERT_TRUE(InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION));
  ASSERT_TRUE(SetSecurityDescriptorDacl(&sd, TRUE, nullptr, FALSE));  // a null DACL
  enum Op { SetValue, QueryValue, EnumKeys, EnumValues, DeleteValue, SetDacl, CreateSub };
  struct Case {
    REGSAM access;
    Op op;
    LONG result;
  } cases[] = {
      {KEY_READ, SetValue, ERROR_ACCESS_DENIED},
      {KEY_SET_VALUE, SetValue, ERROR_SUCCESS},
      {KEY_SET_VALUE, QueryValue, ERROR_ACCESS_DENIED},
      {KEY_QUERY_VALUE, QueryValue, ERROR_SUCCESS},
      {KEY_QUERY_VALUE, EnumKeys, ERROR_ACCESS_DENIED},
      {KEY_ENUMERATE_SUB_KEYS, EnumKeys, ERROR_SUCCESS},
      {KEY_ENUMERATE_SUB_KEYS, EnumValues, ERROR_ACCESS_DENIED},
      {KEY_READ, DeleteValue, ERROR_ACCESS_DENIED},
      {KEY_READ, SetDacl, ERROR_ACCESS_DENIED},
      {KEY_READ | WRITE_DAC, SetDacl, ERROR_SUCCESS},
      {KEY_READ, CreateSub, ERROR_SUCCESS},  // the parent's rights do not matter
  };
  for (const Case& c : cases) {
    Key key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, path_.c_str(), 0, c.access, &key.h), 0);
    char name[16];
    DWORD size = sizeof name;
    LONG result = -1;
    switch (c.op) {
      case SetValue:
        result = RegSetValueExA(key.h, "v", 0, REG_SZ, data, 2);
        break;
      case QueryValue:
        result = RegQueryValueExA(key.h, "v", nullptr, nullptr, nullptr, &size);
        break;
      case EnumKeys:
        result = RegEnumKeyA(key.h, 0, name, sizeof name);
        break;
      case EnumValues:
        result = RegEnumValueA(key.h, 0, name, &size, nullptr, nullptr, nullptr, nullptr);
        break;
      case DeleteValue:
        result = RegDeleteValueA(key.h, "v");
        break;
      case SetDacl:
        result = RegSetKeySecurity(key.h, DACL_SECURITY_INFORMATION, &sd);
        break;
      case CreateSub: {
        Key sub;
        result = RegCreateKeyExA(key.h, "sub", 0, nullptr, 0, KEY_READ, nullptr, &sub.h, nullptr);
        break;
      }
    }
    EXPECT_EQ(result, c.result) << "access " << c.access << " op " << c.op;
  }
}

TEST_F(RegistryApi, DaclSetOnAKeyReadsBack) {
  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY, nt = SECURITY_NT_AUTHORITY;
  PSID everyone = nullptr, admins = nullptr;
  ASSERT_TRUE(
      AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone));
  ASSERT_TRUE(AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS,
                                       0, 0, 0, 0, 0, 0, &admins));
  const DWORD aceBase = sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD);
  DWORD aclSize = sizeof(ACL) + 2 * aceBase + GetLengthSid(everyone) + GetLengthSid(admins);
  std::vector<BYTE> aclBytes(aclSize);
  PACL acl = reinterpret_cast<PACL>(aclBytes.data());
  ASSERT_TRUE(InitializeAcl(acl, aclSize, ACL_REVISION));
  ASSERT_TRUE(
      AddAccessAllowedAceEx(acl, ACL_REVISION, CONTAINER_INHERIT_ACE, KEY_ALL_ACCESS, everyone));
  ASSERT_TRUE(AddAccessAllowedAce(acl, ACL_REVISION, KEY_READ, admins));
  SECURITY_DESCRIPTOR sd;
  ASSERT_TRUE(InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION));
  ASSERT_TRUE(SetSecurityDescriptorDacl(&sd, TRUE, acl, FALSE));

  RegCloseKey(Create("secured"));
  Key key;
  ASSERT_EQ(RegOpenKeyExA(key_, "secured", 0, WRITE_DAC | READ_CONTROL, &key.h), ERROR_SUCCESS);
  EXPECT_EQ(RegSetKeySecurity(key.h, 0, &sd), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegSetKeySecurity(key.h, DACL_SECURITY_INFORMATION, nullptr), ERROR_INVALID_PARAMETER);
  ASSERT_EQ(RegSetKeySecurity(key.h, DACL_SECURITY_INFORMATION, &sd), ERROR_SUCCESS);

  DWORD size = 0;
  ASSERT_EQ(RegGetKeySecurity(key.h, DACL_SECURITY_INFORMATION, nullptr, &size),
            ERROR_INSUFFICIENT_BUFFER);
  std::vector<BYTE> read(size);
  ASSERT_EQ(RegGetKeySecurity(key.h, DACL_SECURITY_INFORMATION, read.data(), &size), ERROR_SUCCESS);
  BOOL present = FALSE, defaulted = TRUE;
  PACL dacl = nullptr;
  ASSERT_TRUE(GetSecurityDescriptorDacl(read.data(), &present, &dacl, &defaulted));
  ASSERT_TRUE(present);
  ASSERT_NE(dacl, nullptr);
  ASSERT_EQ(dacl->AceCount, 2);
  struct Expected {
    BYTE flags;
    ACCESS_MASK mask;
    PSID sid;
  } expected[] = {{CONTAINER_INHERIT_ACE, KEY_ALL_ACCESS, everyone}, {0, KEY_READ, admins}};
  for (DWORD i = 0; i < 2; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    ASSERT_TRUE(GetAce(dacl, i, reinterpret_cast<LPVOID*>(&ace)));
    EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
    EXPECT_EQ(ace->Header.AceFlags & VALID_INHERIT_FLAGS, expected[i].flags);
    EXPECT_EQ(ace->Mask, expected[i].mask);
    EXPECT_TRUE(EqualSid(&ace->SidStart, expected[i].sid)) << i;
  }
#ifndef _WIN32
  winsim::RegistryKeySecurity recorded;
  ASSERT_TRUE(winsim::KeySecurity(HKEY_CURRENT_USER, path_ + "\\secured", &recorded));
  EXPECT_EQ(recorded.daclWrites, 1u);
  ASSERT_EQ(recorded.aces.size(), 2u);
  EXPECT_EQ(recorded.aces[0].sid, "S-1-1-0");
  EXPECT_EQ(recorded.aces[0].mask, static_cast<ACCESS_MASK>(KEY_ALL_ACCESS));
  EXPECT_EQ(recorded.aces[0].flags, CONTAINER_INHERIT_ACE);
  EXPECT_EQ(recorded.aces[1].sid, "S-1-5-32-544");
#endif
  FreeSid(everyone);
  FreeSid(admins);
}

TEST_F(RegistryApi, KeyInformationCountsStoredSizes) {
  char keyClass[] = "subkey class";
  Key key;
  key.h = Create("info", keyClass);
  RegCloseKey(Create("info\\subsub"));
  ASSERT_EQ(RegSetValueExA(key.h, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>("data"), 5), 0);
  ASSERT_EQ(RegSetValueExA(key.h, "value one", 0, REG_SZ,
                           reinterpret_cast<const BYTE*>("second value data"), 18),
            0);
  DWORD subkeys, maxSubkey, maxClass, values, maxValueName, maxValue;
  ASSERT_EQ(RegQueryInfoKeyA(key.h, nullptr, nullptr, nullptr, &subkeys, &maxSubkey, &maxClass,
                             &values, &maxValueName, &maxValue, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(subkeys, 1u);
  EXPECT_EQ(maxSubkey, 6u);
  EXPECT_EQ(maxClass, 0u);
  EXPECT_EQ(values, 2u);
  EXPECT_EQ(maxValueName, 9u);
  EXPECT_EQ(maxValue, 18u * 2);  // strings are held as UTF-16

  struct Case {
    DWORD room;
    LONG result;
    DWORD length;
    const char* text;
  } cases[] = {
      {1, ERROR_MORE_DATA, 0, ""},
      {12, ERROR_MORE_DATA, 11, "subkey clas"},
      {13, ERROR_SUCCESS, 12, "subkey class"},
  };
  for (const Case& c : cases) {
    char buffer[32];
    DWORD length = c.room;
    EXPECT_EQ(RegQueryInfoKeyA(key.h, buffer, &length, nullptr, nullptr, nullptr, nullptr, nullptr,
                               nullptr, nullptr, nullptr, nullptr),
              c.result)
        << c.room;
    EXPECT_EQ(length, c.length);
    EXPECT_STREQ(buffer, c.text);
  }
  char buffer[4];
  EXPECT_EQ(RegQueryInfoKeyA(key.h, buffer, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr),
            ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryApi, DbcsNamesWhoseTrailByteIsABackslashStayOneName) {
  if (GetACP() != 932) GTEST_SKIP() << "needs code page 932";
  const char name[] =
      "\x95\x5c"
      "x";  // one double-byte character, then "x"
  Key key;
  key.h = Create(name);
  EXPECT_EQ(SubkeyNames(key_), std::vector<std::string>{name});
  ASSERT_EQ(RegSetValueExA(key.h, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(name), 4), 0);
  DWORD maxSubkey = 0, maxValueName = 0, maxValue = 0, size = 0;
  ASSERT_EQ(RegQueryInfoKeyA(key_, nullptr, nullptr, nullptr, nullptr, &maxSubkey, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(maxSubkey, 2u);  // two UTF-16 characters
  ASSERT_EQ(RegQueryInfoKeyA(key.h, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                             &maxValueName, &maxValue, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(maxValueName, 2u);
  EXPECT_EQ(maxValue, 6u);  // three UTF-16 characters with the terminator
  EXPECT_EQ(RegQueryValueExA(key.h, name, nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 4u);  // and four ANSI bytes
}

TEST(SecurityLayout, SidsAclsAndDescriptorsUseTheWindowsLayouts) {
  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY, nt = SECURITY_NT_AUTHORITY;
  struct SidCase {
    SID_IDENTIFIER_AUTHORITY* authority;
    BYTE count;
    BOOL ok;
    DWORD length;
  } sids[] = {{&world, 1, TRUE, 12}, {&nt, 2, TRUE, 16}, {&nt, 8, TRUE, 40}, {&nt, 9, FALSE, 0}};
  for (const SidCase& c : sids) {
    PSID sid = nullptr;
    SetLastError(0);
    BOOL ok = AllocateAndInitializeSid(c.authority, c.count, 32, 544, 3, 4, 5, 6, 7, 8, &sid);
    EXPECT_EQ(ok, c.ok) << int(c.count);
    if (!ok) {
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_SID));
      continue;
    }
    EXPECT_EQ(GetLengthSid(sid), c.length);
    const BYTE* b = static_cast<const BYTE*>(sid);
    EXPECT_EQ(b[0], 1);
    EXPECT_EQ(b[1], c.count);
    EXPECT_EQ(std::memcmp(b + 2, c.authority->Value, 6), 0);
    DWORD first;
    std::memcpy(&first, b + 8, 4);
    EXPECT_EQ(first, 32u);
    FreeSid(sid);
  }

  struct AclCase {
    DWORD size, revision;
    BOOL ok;
    DWORD error;
  } acls[] = {{sizeof(ACL) - 1, ACL_REVISION, FALSE, ERROR_INSUFFICIENT_BUFFER},
              {0xffffffff, ACL_REVISION, FALSE, ERROR_INVALID_PARAMETER},
              {64, ACL_REVISION1, FALSE, ERROR_INVALID_PARAMETER},
              {64, ACL_REVISION2, TRUE, 0},
              {64, ACL_REVISION4, TRUE, 0},
              {64, ACL_REVISION4 + 1, FALSE, ERROR_INVALID_PARAMETER}};
  for (const AclCase& c : acls) {
    DWORD storage[16];
    SetLastError(0);
    EXPECT_EQ(InitializeAcl(reinterpret_cast<PACL>(storage), c.size, c.revision), c.ok) << c.size;
    if (!c.ok) {
      EXPECT_EQ(GetLastError(), c.error) << c.size << " " << c.revision;
    }
  }

  // An ACL holds an ACE when its size leaves room for the ACE's fixed part and SID.
  PSID everyone = nullptr;
  ASSERT_TRUE(
      AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone));
  const DWORD exact =
      sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + GetLengthSid(everyone);
  EXPECT_EQ(exact, 28u);
  for (DWORD size : {exact - 1, exact}) {
    DWORD storage[16];
    PACL acl = reinterpret_cast<PACL>(storage);
    ASSERT_TRUE(InitializeAcl(acl, size, ACL_REVISION));
    SetLastError(0);
    BOOL added = AddAccessAllowedAce(acl, ACL_REVISION, KEY_ALL_ACCESS, everyone);
    EXPECT_EQ(added, size == exact ? TRUE : FALSE) << size;
    if (!added) {
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALLOTTED_SPACE_EXCEEDED));
      continue;
    }
    EXPECT_EQ(acl->AceCount, 1);
    EXPECT_FALSE(AddAccessAllowedAce(acl, ACL_REVISION, KEY_READ, everyone));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALLOTTED_SPACE_EXCEEDED));
    ACCESS_ALLOWED_ACE* ace = nullptr;
    ASSERT_TRUE(GetAce(acl, 0, reinterpret_cast<LPVOID*>(&ace)));
    EXPECT_EQ(reinterpret_cast<BYTE*>(ace), reinterpret_cast<BYTE*>(acl) + sizeof(ACL));
    EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
    EXPECT_EQ(ace->Header.AceSize, 20);
    EXPECT_EQ(ace->Mask, static_cast<ACCESS_MASK>(KEY_ALL_ACCESS));
    EXPECT_EQ(std::memcmp(&ace->SidStart, everyone, GetLengthSid(everyone)), 0);
    LPVOID none = nullptr;
    SetLastError(0);
    EXPECT_FALSE(GetAce(acl, 1, &none));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  }

  SECURITY_DESCRIPTOR sd;
  SetLastError(0);
  EXPECT_FALSE(InitializeSecurityDescriptor(&sd, 2));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_UNKNOWN_REVISION));
  ASSERT_TRUE(InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION));
  EXPECT_EQ(sd.Control, 0);
  DWORD storage[16];
  PACL acl = reinterpret_cast<PACL>(storage);
  ASSERT_TRUE(InitializeAcl(acl, sizeof storage, ACL_REVISION));
  ASSERT_TRUE(SetSecurityDescriptorDacl(&sd, TRUE, acl, FALSE));
  EXPECT_EQ(sd.Control, SE_DACL_PRESENT);
  EXPECT_EQ(sd.Dacl, acl);
  ASSERT_TRUE(SetSecurityDescriptorDacl(&sd, FALSE, nullptr, FALSE));
  BOOL present = TRUE, defaulted = FALSE;
  PACL dacl = nullptr;
  ASSERT_TRUE(GetSecurityDescriptorDacl(&sd, &present, &dacl, &defaulted));
  EXPECT_FALSE(present);
  FreeSid(everyone);
}

#ifndef _WIN32
// What only winsim can do: load and unload user hives, and the orders that
// Windows keeps but Wine does not (Wine sorts values by name and lower-cases
// names to sort keys).
class RegistryControl : public ::testing::Test {
 protected:
  void TearDown() override { winsim::ResetRegistry(); }
};

TEST_F(RegistryControl, UserHivesLoadAndUnloadUnderHkeyUsers) {
  const std::string sid = "S-1-5-21-1-2-3-1005";
  ASSERT_TRUE(winsim::LoadUserHive(sid));
  EXPECT_FALSE(winsim::LoadUserHive(sid));
  Key software;
  ASSERT_EQ(RegOpenKeyExA(HKEY_USERS, (sid + "\\Software").c_str(), 0, KEY_ALL_ACCESS, &software.h),
            ERROR_SUCCESS);
  const BYTE data[] = "kept";
  ASSERT_EQ(RegSetValueExA(software.h, "v", 0, REG_SZ, data, sizeof data), ERROR_SUCCESS);

  ASSERT_TRUE(winsim::UnloadUserHive(sid));
  EXPECT_FALSE(winsim::UnloadUserHive(sid));
  EXPECT_FALSE(winsim::UnloadUserHive(".DEFAULT"));
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(software.h, "v", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
  Key gone;
  EXPECT_EQ(RegOpenKeyExA(HKEY_USERS, sid.c_str(), 0, KEY_READ, &gone.h), ERROR_FILE_NOT_FOUND);

  ASSERT_TRUE(winsim::LoadUserHive(sid));  // the hive comes back as it was
  EXPECT_EQ(RegQueryValueA(HKEY_USERS, (sid + "\\Software").c_str(), nullptr, nullptr), 0);
  char text[8] = "";
  size = sizeof text;
  Key again;
  ASSERT_EQ(RegOpenKeyExA(HKEY_USERS, (sid + "\\software").c_str(), 0, KEY_READ, &again.h), 0);
  EXPECT_EQ(RegQueryValueExA(again.h, "v", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size),
            ERROR_SUCCESS);
  EXPECT_STREQ(text, "kept");
}

TEST_F(RegistryControl, CurrentUserIsTheCurrentUsersHive) {
  ASSERT_EQ(RegSetValueA(HKEY_CURRENT_USER, "Software\\Probe", REG_SZ, "mine", 0), ERROR_SUCCESS);
  char text[8] = "";
  LONG size = sizeof text;
  EXPECT_EQ(RegQueryValueA(HKEY_USERS, (winsim::CurrentUserSid() + "\\Software\\Probe").c_str(),
                           text, &size),
            ERROR_SUCCESS);
  EXPECT_STREQ(text, "mine");

  // Without the user's hive, HKEY_CURRENT_USER shows the default hive.
  ASSERT_TRUE(winsim::UnloadUserHive(winsim::CurrentUserSid()));
  Key probe;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Probe", 0, KEY_READ, &probe.h),
            ERROR_FILE_NOT_FOUND);
  ASSERT_TRUE(winsim::LoadUserHive(winsim::CurrentUserSid()));
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Probe", 0, KEY_READ, &probe.h), 0);
}

TEST_F(RegistryControl, ResetRegistryClosesHandlesAndForgetsKeys) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\ViduzoProbe", &key), ERROR_SUCCESS);
  EXPECT_EQ(winsim::OpenKeyCount(), 1u);
  winsim::ResetRegistry();
  EXPECT_EQ(winsim::OpenKeyCount(), 0u);
  EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "software\\ViduzoProbe", 0, KEY_READ, &key),
            ERROR_FILE_NOT_FOUND);
  // Keys cannot be created directly under the machine and users roots.
  EXPECT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "Direct", &key), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes"), ERROR_ACCESS_DENIED);
}

TEST_F(RegistryControl, OrdersWindowsKeepsForValuesAndKeys) {
  Key key;
  ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, "Software\\Order", &key.h), ERROR_SUCCESS);
  DWORD zero = 0;
  for (const char* name : {"A", "C", "D", "B"})
    ASSERT_EQ(RegSetValueExA(key.h, name, 0, REG_DWORD, reinterpret_cast<BYTE*>(&zero), 4), 0);
  ASSERT_EQ(RegDeleteValueA(key.h, "C"), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(key.h, "a", 0, REG_DWORD, reinterpret_cast<BYTE*>(&zero), 4), 0);
  std::vector<std::string> values;
  char name[8];
  DWORD length = sizeof name;
  for (DWORD i = 0; RegEnumValueA(key.h, i, name, &length, nullptr, nullptr, nullptr, nullptr) == 0;
       ++i, length = sizeof name)
    values.push_back(name);
  EXPECT_EQ(values, (std::vector<std::string>{"A", "D", "B"}));  // the order first set

  // Keys sort by their upper-cased names: "a" ('A', 0x41) before "_" (0x5F).
  for (const char* sub : {"_x", "b", "a"}) {
    HKEY h = nullptr;
    ASSERT_EQ(RegCreateKeyA(key.h, sub, &h), 0);
    RegCloseKey(h);
  }
  std::vector<std::string> keys;
  for (DWORD i = 0; RegEnumKeyA(key.h, i, name, sizeof name) == 0; ++i) keys.push_back(name);
  EXPECT_EQ(keys, (std::vector<std::string>{"a", "b", "_x"}));
}
#endif

}  // namespace
