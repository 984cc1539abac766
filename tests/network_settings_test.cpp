// The network and logon settings: window sizes backed up, tuned and restored,
// the network provider order saved and restored without the single-sign-on
// provider, the provider's detection, and the pass-through path.
#include <string>
#include <vector>

#include "tests/fixture.h"
#include "tests/registry_tree.h"

#ifndef _WIN32
#include "winsim/control.h"
#endif

using namespace viduzo_test;

namespace {

const char kTcpip[] = "SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters";
const char kAfd[] = "SYSTEM\\CurrentControlSet\\Services\\AFD\\Parameters";
const char kOrder[] = "System\\CurrentControlSet\\Control\\NetworkProvider\\Order";
const char kPassThrough[] = "SOFTWARE\\Velmar\\QVA Client\\PASS THROUGH";
const char kTrovEnabled[] = "IS_TROV_ENABLED.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";
const DWORD kNone = 0xFFFFFFFF;  // in a table: no such value

struct Window {
  const char* backupAction;
  const char* restoreAction;
  const char* key;
  const char* value;
  const char* backup;
} const kWindows[] = {
    {"BackupTCPIPWindowSize", "RestoreTCPIPWindowSize", kTcpip, "TcpWindowSize",
     "VelmarBackupTcpWindowSize"},
    {"BackupAFDWindowSize", "RestoreAFDWindowSize", kAfd, "DefaultSendWindow",
     "VelmarBackupDefaultSendWindow"},
};

// A REG_DWORD value, kNone when missing; another type reads as kNone - 1.
DWORD Dword(const char* key, const char* name) {
  RegValue v;
  if (!ReadValue(HKEY_LOCAL_MACHINE, key, name, &v)) return kNone;
  if (v.type != REG_DWORD || v.data.size() != 4) return kNone - 1;
  return *reinterpret_cast<const DWORD*>(v.data.data());
}

void SetDword(const char* key, const char* name, DWORD value) {
  RegTree tree;
  if (value != kNone) tree.values.push_back(Number(name, value));
  Plant(HKEY_LOCAL_MACHINE, key, tree);
  if (value == kNone) {
    HKEY h = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_ALL_ACCESS, &h), ERROR_SUCCESS);
    RegDeleteValueA(h, name);
    RegCloseKey(h);
  }
}

// A string value's text and type, "<none>" when missing.
std::string TextValue(const char* key, const char* name, DWORD* type = nullptr) {
  RegValue v;
  if (!ReadValue(HKEY_LOCAL_MACHINE, key, name, &v)) return "<none>";
  if (type) *type = v.type;
  EXPECT_TRUE(!v.data.empty() && v.data.back() == '\0') << name << " without its terminator";
  return std::string(v.data.c_str());
}

class NetworkSettings : public ::testing::Test {
 protected:
  NetworkSettings()
      : tcpip_(HKEY_LOCAL_MACHINE, kTcpip, {"TcpWindowSize", "VelmarBackupTcpWindowSize"}),
        afd_(HKEY_LOCAL_MACHINE, kAfd, {"DefaultSendWindow", "VelmarBackupDefaultSendWindow"}),
        order_(HKEY_LOCAL_MACHINE, kOrder, {"ProviderOrder", "VmrBackupProviderOrder", "HlTrov"}),
        passThrough_(HKEY_LOCAL_MACHINE, kPassThrough) {
    Plant(HKEY_LOCAL_MACHINE, kOrder, {});
    h = pkg.Open();
  }
  void SetOrder(const char* name, const char* text) {
    RegTree tree;
    if (text) tree.values.push_back(Text(name, text));
    Plant(HKEY_LOCAL_MACHINE, kOrder, tree);
    if (!text) {
      HKEY key = nullptr;
      RegOpenKeyExA(HKEY_LOCAL_MACHINE, kOrder, 0, KEY_ALL_ACCESS, &key);
      RegDeleteValueA(key, name);
      RegCloseKey(key);
    }
  }

  SavedPlace tcpip_, afd_, order_, passThrough_;
  Package pkg;
  MSIHANDLE h = 0;
};

TEST_F(NetworkSettings, BackupKeepsTheNumberAndTunesTheWindow) {
  const struct {
    std::string data;
    DWORD before;  // the tuned value before the backup
    DWORD backup;
  } cases[] = {
      {"#65535", 65535, 65535},
      {"", kNone, 0},
      {"#", 17, 0},
      {"#12ab3", kNone, 12},         // digits up to the first non-digit
      {"#12:5", kNone, 12},
      {"#7A", kNone, 7},
      {"65535", kNone, 5535},        // the first character is skipped whatever it is
      {"# 7", kNone, 0},             // no blanks are skipped
      {"#1024", kNone, 1024},
      {"#4294967294", kNone, 4294967294u},
      {"#4294967295", kNone, 4294967295u},
      {"#4294967296", kNone, 4294967295u},  // past 32 bits: the largest number
      {"#99999999999", kNone, 4294967295u},
      {"#" + std::string(254, '1'), kNone, 4294967295u},  // fits the 256-character buffer
      {"#" + std::string(255, '1'), kNone, 0},            // does not: no backup number
  };
  for (const Window& w : kWindows) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(w.backupAction) + " " + c.data.substr(0, 20));
      SetDword(w.key, w.value, c.before);
      SetProp(h, "CustomActionData", c.data);
      EXPECT_EQ(CallAction(h, w.backupAction), 0u);
      EXPECT_EQ(Dword(w.key, w.backup), c.backup);
      EXPECT_EQ(Dword(w.key, w.value), 64512u);
    }
  }
}

TEST_F(NetworkSettings, RestorePutsBackTheNumberOrRemovesAnUnchangedTunedValue) {
  const struct {
    const char* data;
    DWORD current;
    DWORD after;
    bool backupKept;
  } cases[] = {
      {"#65535", 64512, 65535, false},
      {"#65535", kNone, 65535, false},
      {"#0", 64512, kNone, false},      // there was none before installation
      {"#0", 64513, 64513, false},      // changed by someone since: left
      {"#0", 1000, 1000, false},
      {"#0", kNone, kNone, false},
      {"#x", 64512, kNone, false},      // no digits: 0
      {"#8", 64512, 8, false},
      {"", 64512, 64512, true},         // no backup data: nothing is touched
  };
  for (const Window& w : kWindows) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(w.restoreAction) + " '" + c.data + "' over " +
                   std::to_string(c.current));
      SetDword(w.key, w.value, c.current);
      SetDword(w.key, w.backup, 1234);
      SetProp(h, "CustomActionData", c.data);
      EXPECT_EQ(CallAction(h, w.restoreAction), 0u);
      EXPECT_EQ(Dword(w.key, w.value), c.after);
      EXPECT_EQ(Dword(w.key, w.backup), c.backupKept ? 1234u : kNone);
    }
  }
}

TEST_F(NetworkSettings, TunedValueOfAnotherSizeIsLeftByARestoreWithoutNumber) {
  HKEY key = nullptr;
  Plant(HKEY_LOCAL_MACHINE, kTcpip, {});
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kTcpip, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
  const BYTE eight[8] = {0x00, 0xFC, 0, 0, 0, 0, 0, 0};
  ASSERT_EQ(RegSetValueExA(key, "TcpWindowSize", 0, REG_BINARY, eight, 8), ERROR_SUCCESS);
  SetProp(h, "CustomActionData", "#0");
  EXPECT_EQ(CallAction(h, "RestoreTCPIPWindowSize"), 0u);
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(key, "TcpWindowSize", nullptr, nullptr, nullptr, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(size, 8u);
  // A shorter number is read as the four-byte number it starts.
  const BYTE two[2] = {0x00, 0xFC};
  ASSERT_EQ(RegSetValueExA(key, "TcpWindowSize", 0, REG_DWORD, two, 2), ERROR_SUCCESS);
  EXPECT_EQ(CallAction(h, "RestoreTCPIPWindowSize"), 0u);
  EXPECT_EQ(RegQueryValueExA(key, "TcpWindowSize", nullptr, nullptr, nullptr, &size),
            ERROR_FILE_NOT_FOUND);
  RegCloseKey(key);
}

TEST_F(NetworkSettings, BackupAndRestoreRoundTrip) {
  for (const Window& w : kWindows) {
    for (DWORD before : {kNone, DWORD{8192}}) {
      SCOPED_TRACE(std::string(w.backupAction) + " " + std::to_string(before));
      SetDword(w.key, w.value, before);
      // The package passes the number an application search found, or nothing.
      SetProp(h, "CustomActionData", before == kNone ? "" : "#" + std::to_string(before));
      EXPECT_EQ(CallAction(h, w.backupAction), 0u);
      EXPECT_EQ(Dword(w.key, w.value), 64512u);
      SetProp(h, "CustomActionData", "#" + std::to_string(Dword(w.key, w.backup)));
      EXPECT_EQ(CallAction(h, w.restoreAction), 0u);
      EXPECT_EQ(Dword(w.key, w.value), before);
      EXPECT_EQ(Dword(w.key, w.backup), kNone);
    }
  }
#ifndef _WIN32
  // Every window-size action hides the Cancel button first.
  std::size_t hidden = 0;
  for (const winsim::ProcessedMessage& m : winsim::Messages())
    if (m.type == INSTALLMESSAGE_COMMONDATA && m.fields.size() == 3 && m.fields[1] == "2" &&
        m.fields[2] == "0")
      ++hidden;
  EXPECT_EQ(hidden, 8u);
#endif
}

TEST_F(NetworkSettings, ProviderOrderIsSavedAsItIs) {
  const std::string longest(255, 'P'), tooLong(256, 'P');
  const struct {
    const char* order;  // null: missing
    std::string backup;
    DWORD type;         // and stored without its terminator
  } cases[] = {
      {"RDPNP,LanmanWorkstation,webclient", "RDPNP,LanmanWorkstation,webclient", 0},
      {"", "", 0},
      {nullptr, "", 0},
      {longest.c_str(), longest, 0},
      {tooLong.c_str(), "", 0},
      {longest.c_str(), longest, REG_SZ},
      {tooLong.c_str(), "", REG_SZ},       // fills the buffer without a terminator
      {"RDPNP,HlTrov", "RDPNP,HlTrov", REG_BINARY},  // no terminator is added to binary data
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.order ? std::string(c.order).substr(0, 40) : "<none>");
    SetOrder("ProviderOrder", c.order);
    if (c.type) PlantUnterminated(HKEY_LOCAL_MACHINE, kOrder, "ProviderOrder", c.type, c.order);
    SetOrder("VmrBackupProviderOrder", "stale");
    EXPECT_EQ(CallAction(h, "SaveProviderOrder"), 0u);
    DWORD type = 0;
    EXPECT_EQ(TextValue(kOrder, "VmrBackupProviderOrder", &type), c.backup);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  }
}

TEST_F(NetworkSettings, RemoveTrovRestoresTheOrderWithoutTheWholeElement) {
  const std::string tooLong(256, 'P');
  const struct {
    const char* backup;  // null: no backup value
    const char* order;
  } cases[] = {
      {"HlTrov,LanmanWorkstation", "LanmanWorkstation"},
      {"RDPNP,HlTrov,LanmanWorkstation", "RDPNP,LanmanWorkstation"},
      {"LanmanWorkstation,HlTrov", "LanmanWorkstation"},
      {"HlTrov", ""},
      {"HlTrovX,LanmanWorkstation", "HlTrovX,LanmanWorkstation"},
      {"LanmanWorkstation,XHlTrov", "LanmanWorkstation,XHlTrov"},
      {"hltrov,LanmanWorkstation", "hltrov,LanmanWorkstation"},  // case matters
      {"XHlTrov,HlTrov,LanmanWorkstation", "XHlTrov,LanmanWorkstation"},
      {"HlTrovHlTrov,HlTrov", "HlTrovHlTrov"},
      {"A,HlTrov,HlTrov", "A,HlTrov"},  // one element is removed
      {"", ""},
      {nullptr, "LanmanWorkstation"},
      {tooLong.c_str(), "LanmanWorkstation"},  // unreadable counts as none
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.backup ? std::string(c.backup).substr(0, 40) : "<none>");
    SetOrder("ProviderOrder", "Current,HlTrov");
    SetOrder("VmrBackupProviderOrder", c.backup);
    EXPECT_EQ(CallAction(h, "RemoveTROV"), 0u);
    DWORD type = 0;
    EXPECT_EQ(TextValue(kOrder, "ProviderOrder", &type), c.order);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(TextValue(kOrder, "VmrBackupProviderOrder"), "<none>");
  }
}

TEST_F(NetworkSettings, TrovIsEnabledByAWholeElementOrOnWindows9xByItsValue) {
  const std::string longList = "HlTrov," + std::string(504, 'P');  // 511 characters
  const std::string tooLong = longList + "P";
  const std::string longVersion(511, '4'), tooLongVersion(512, '4');
  const struct {
    const char* version9x;
    const char* order;  // null: missing
    bool trovValue;     // a value "HlTrov" beside the order
    bool enabled;
  } cases[] = {
      {"", "LanmanWorkstation,HlTrov", false, true},
      {"", "HlTrov,LanmanWorkstation", false, true},
      {"", "A,HlTrov,B", false, true},
      {"", "HlTrov", false, true},
      {"", "LanmanWorkstation,HlTrovX", false, false},
      {"", "XHlTrov,LanmanWorkstation", false, false},
      {"", "XHlTrov,HlTrov", false, true},
      {"", "hltrov", false, false},
      {"", "", false, false},
      {"", nullptr, true, false},  // the value counts on the 9x family only
      {"", longList.c_str(), false, true},
      {"", tooLong.c_str(), false, false},
      {"4.10", "LanmanWorkstation", true, true},
      {"4.10", "HlTrov", false, false},  // the order counts on the NT family only
      {longVersion.c_str(), "HlTrov", false, false},
      {tooLongVersion.c_str(), "HlTrov", false, true},  // unreadable: the NT family
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.version9x).substr(0, 8) + " / " +
                 (c.order ? std::string(c.order).substr(0, 40) : "<none>"));
    SetProp(h, "Version9X", c.version9x);
    SetProp(h, kTrovEnabled, "");
    SetOrder("ProviderOrder", c.order);
    SetOrder("HlTrov", c.trovValue ? "" : nullptr);
    EXPECT_EQ(CallAction(h, "IsTROVEnabled"), 0u);
    EXPECT_EQ(GetProp(h, kTrovEnabled), c.enabled ? "Yes" : "");
  }
}

TEST_F(NetworkSettings, PassThroughPathFromTheDataOrTheDefault) {
  const char* kDefault = "%systemroot%\\A6E92D03_5F71_4C8D_B0E4_9C13F78B2A56";
  const std::string longest = "C:\\" + std::string(256, 'p');  // 259 characters
  const std::string tooLong = longest + "p";
  const struct {
    std::string data;
    std::string path;
  } cases[] = {
      {"C:\\Program Files\\PassThrough\\", "C:\\Program Files\\PassThrough\\"},
      {"", kDefault},
      {longest, longest},
      {tooLong, kDefault},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.data.substr(0, 40));
    SetProp(h, "CustomActionData", c.data);
    EXPECT_EQ(CallAction(h, "RestorePassThroughKey"), 0u);
    DWORD type = 0;
    EXPECT_EQ(TextValue(kPassThrough, "PassThrough Path", &type), c.path);
    EXPECT_EQ(type, static_cast<DWORD>(REG_EXPAND_SZ));
  }
  // The key is created without a class.
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPassThrough, 0, KEY_READ, &key), ERROR_SUCCESS);
  char keyClass[32] = "untouched";
  DWORD classLength = sizeof keyClass;
  EXPECT_EQ(RegQueryInfoKeyA(key, keyClass, &classLength, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_STREQ(keyClass, "");
  RegCloseKey(key);
  // Data that cannot be read at all fails the action.
  DeleteTree(HKEY_LOCAL_MACHINE, kPassThrough);
  EXPECT_EQ(CallAction(0, "RestorePassThroughKey"), 1603u);
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kPassThrough));
}

#ifndef _WIN32
// Without the provider order key: nothing is read or created, except that
// RemoveTROV writes the workstation service as the whole order.
TEST_F(NetworkSettings, WithoutTheProviderOrderKey) {
  ASSERT_EQ(DeleteTree(HKEY_LOCAL_MACHINE, kOrder), ERROR_SUCCESS);
  SetProp(h, "Version9X", "");
  SetProp(h, kTrovEnabled, "untouched");
  EXPECT_EQ(CallAction(h, "SaveProviderOrder"), 0u);
  EXPECT_EQ(CallAction(h, "IsTROVEnabled"), 0u);
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kOrder));
  EXPECT_EQ(GetProp(h, kTrovEnabled), "untouched");
  EXPECT_EQ(CallAction(h, "RemoveTROV"), 0u);
  EXPECT_EQ(TextValue(kOrder, "ProviderOrder"), "LanmanWorkstation");
}
#endif

}  // namespace
