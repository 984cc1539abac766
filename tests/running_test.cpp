// Running clients: the client windows IsClientRunning finds, the connection
// manager and agent that SignalClientTerminate stops, the agent that
// RestartHlAgent starts, and the processes KillTROV ends. Real helper programs
// play the client's programs under Wine; winsim programs play them natively.
#include <string>
#include <vector>

#include "client/running.h"
#include "runtime/handles.h"
#include "tests/fixture.h"
#include "tests/programs.h"

#ifndef _WIN32
#include "winsim/control.h"
#endif

using namespace viduzo_test;

namespace {

const char kRunning[] = "ClientProcessRunning.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";
const char kAgentKey[] = "HLAgentFile\\Shell\\Open\\Command";

// What the agent records: the show state it was started with, its command line.
std::string Agent(const std::string& commandLine) { return "5 " + commandLine + "\n"; }

#ifdef _WIN32
// Real processes start and answer in real time.
constexpr DWORD kSlack = 5000;
constexpr DWORD kAgentMs = 400;
#else
// The clock is frozen: it moves only by the sleeps and waits, so times are exact.
constexpr DWORD kSlack = 1;
// Longer than one 30-second wait of the action.
constexpr DWORD kAgentMs = 45000;
#endif

// Registers the agent's open command for the test and removes it afterwards.
class AgentRegistration {
 public:
  explicit AgentRegistration(const std::string& command) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyA(HKEY_CLASSES_ROOT, kAgentKey, &key), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                             static_cast<DWORD>(command.size() + 1)),
              ERROR_SUCCESS);
    RegCloseKey(key);
  }
  ~AgentRegistration() { RemoveAgentKey(); }
  static void RemoveAgentKey() {
    for (const char* key : {"HLAgentFile\\Shell\\Open\\Command", "HLAgentFile\\Shell\\Open",
                            "HLAgentFile\\Shell", "HLAgentFile"})
      RegDeleteKeyA(HKEY_CLASSES_ROOT, key);
  }
};

class RunningTest : public ::testing::Test {
 protected:
  void SetUp() override {
#ifndef _WIN32
    winsim::FreezeClock(true);
#endif
    AgentRegistration::RemoveAgentKey();
    folder = TempFolder("vdzrun");
    helper = folder + "vdzhelper.exe";
    InstallHelper(helper);
    log = StartHelperLog(0);
  }
  void TearDown() override { AgentRegistration::RemoveAgentKey(); }

  MSIHANDLE Open(const char* hlType) {
    if (hlType) pkg.Property("HlType", hlType);
    MSIHANDLE h = pkg.Open();
    SetProp(h, kRunning, "untouched");
    return h;
  }
  // Runs an action and returns how long it took on the clock.
  DWORD Timed(MSIHANDLE h, const char* action) {
    DWORD start = Clock();
    EXPECT_EQ(CallAction(h, action), ERROR_SUCCESS) << action;
    return Clock() - start;
  }

  Package pkg;
  std::string folder, helper, log;
};

TEST_F(RunningTest, AnyClientWindowMarksTheClientRunning) {
  struct Case {
    const char* windowClass;  // null: no window
    const char* expected;
  } cases[] = {
      {nullptr, "untouched"},
      {"ZncMgr32Class", "Yes"},
      {"ZncRun32Class", "Yes"},
      {"ZnQVA32Class", "Yes"},
      {"QVA Seamless Connection Center", "Yes"},
      {"ZncMgr32", "untouched"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.windowClass ? c.windowClass : "no window");
    Package p;
    MSIHANDLE h = p.Open();
    SetProp(h, kRunning, "untouched");
    if (c.windowClass) {
      HelperWindow window(helper, c.windowClass, true);
      EXPECT_EQ(CallAction(h, "IsClientRunning"), ERROR_SUCCESS);
    } else {
      EXPECT_EQ(CallAction(h, "IsClientRunning"), ERROR_SUCCESS);
    }
    EXPECT_EQ(GetProp(h, kRunning), c.expected);
  }
}

TEST_F(RunningTest, ConnectionManagerIsAskedToEndAndWaitedForAboutTwoSeconds) {
  MSIHANDLE h = Open("MSIHL");
  {
    // No connection manager: nothing to wait for.
    EXPECT_LT(Timed(h, "SignalClientTerminate"), kSlack);
  }
  {
    HelperWindow manager(helper, "ZncRun32Class", true);
    DWORD took = Timed(h, "SignalClientTerminate");
    EXPECT_GE(took, 100u);
    EXPECT_LT(took, 100 + kSlack);
    EXPECT_EQ(FindWindowA("ZncRun32Class", nullptr), nullptr);
    EXPECT_EQ(WaitForHelperLog(1), "copydata 0 1 4\n");
  }
  {
    // One that never closes is polled 20 times, 100 ms apart, and left running.
    HelperWindow stubborn(helper, "ZncRun32Class", false);
    DWORD took = Timed(h, "SignalClientTerminate");
    EXPECT_GE(took, 2000u);
    EXPECT_LT(took, 2000 + kSlack);
    EXPECT_NE(FindWindowA("ZncRun32Class", nullptr), nullptr);
    EXPECT_FALSE(stubborn.Ended());
    EXPECT_EQ(WaitForHelperLog(2), "copydata 0 1 4\ncopydata 0 1 4\n");
  }
}

TEST_F(RunningTest, AgentIsTerminatedInPackagesThatCarryIt) {
  struct Case {
    const char* hlType;  // null: not set
    bool terminated;
  } cases[] = {
      {"MSI_HLA", true}, {"MSI_ALL", true}, {"msi_all", true}, {"Other", true},
      {"MSIHL", false},  {"msihl", false},  {"MsiHl", false},  {nullptr, false},
      {"", false},
  };
  AgentRegistration agent("\"" + helper + "\" \"%1\"");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.hlType ? c.hlType : "not set");
    StartHelperLog(0);
    Package p;
    if (c.hlType && *c.hlType) p.Property("HlType", c.hlType);
    MSIHANDLE h = p.Open();
    EXPECT_EQ(CallAction(h, "SignalClientTerminate"), ERROR_SUCCESS);
    EXPECT_EQ(HelperLog(), c.terminated ? Agent("\"" + helper + "\"  /terminate") : "");
  }
  // A package type too long for its 256-character buffer counts as missing.
  StartHelperLog(0);
  MSIHANDLE h = Open(nullptr);
  SetProp(h, "HlType", std::string(256, 'A'));
  EXPECT_EQ(CallAction(h, "SignalClientTerminate"), ERROR_SUCCESS);
  EXPECT_EQ(HelperLog(), "");
  SetProp(h, "HlType", std::string(255, 'A'));
  EXPECT_EQ(CallAction(h, "SignalClientTerminate"), ERROR_SUCCESS);
  EXPECT_EQ(HelperLog(), Agent("\"" + helper + "\"  /terminate"));
}

TEST_F(RunningTest, AgentCommandLineIsBuiltFromTheRegisteredCommand) {
  const std::string q = "\"" + helper + "\"";
  // Command texts of 520 characters fit the 521-byte buffer; 521 do not.
  const std::string fits = q + " " + std::string(520 - q.size() - 6, 'p');
  const std::string over = q + " " + std::string(521 - q.size() - 6, 'p');
  struct Case {
    std::string value;
    std::string terminate;  // "" when the program cannot start
    std::string restart;
  } cases[] = {
      {q + " \"%1\"", q + "  /terminate", q + " "},
      {helper + " %1", "\"" + helper + " \" /terminate", "\"" + helper + " \""},
      {helper, q + " /terminate", q},
      {q, q + " /terminate", q},
      {q + " -x \"%1\" -y", q + " -x  /terminate", q + " -x "},
      {q + " -x %1", q + " -x  /terminate", q + " -x "},
      {"%1", "", ""},
      {"\"%1\"", "", ""},
      {"", "", ""},
      {fits + " \"%1\"", fits + "  /terminate", fits + " "},
      {over + " \"%1\"", "", ""},
  };
  ASSERT_EQ(fits.size() + 5, 520u);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value.size() > 80 ? std::to_string(c.value.size()) : c.value);
    AgentRegistration agent(c.value);
    Package p;
    p.Property("HlType", "MSI_HLA");
    MSIHANDLE h = p.Open();
    StartHelperLog(0);
    EXPECT_EQ(CallAction(h, "SignalClientTerminate"), ERROR_SUCCESS);
    EXPECT_EQ(HelperLog(), c.terminate.empty() ? "" : Agent(c.terminate));
    StartHelperLog(0);
    EXPECT_EQ(CallAction(h, "RestartHlAgent"), ERROR_SUCCESS);
    EXPECT_EQ(WaitForHelperLog(c.restart.empty() ? 0 : 1), c.restart.empty() ? "" : Agent(c.restart));
  }
}

TEST_F(RunningTest, WithoutAnAgentRegistrationNothingStarts) {
  MSIHANDLE h = Open("MSI_ALL");
  EXPECT_LT(Timed(h, "SignalClientTerminate"), kSlack);
  EXPECT_EQ(CallAction(h, "RestartHlAgent"), ERROR_SUCCESS);
  // The key without its default value: an empty command, which starts nothing.
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyA(HKEY_CLASSES_ROOT, kAgentKey, &key), ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(CallAction(h, "SignalClientTerminate"), ERROR_SUCCESS);
  EXPECT_EQ(CallAction(h, "RestartHlAgent"), ERROR_SUCCESS);
  EXPECT_EQ(WaitForHelperLog(0), "");
}

TEST_F(RunningTest, TerminateWaitsUntilTheAgentHasEnded) {
  AgentRegistration agent("\"" + helper + "\" \"%1\"");
  MSIHANDLE h = Open("MSI_ALL");
  StartHelperLog(kAgentMs);
  DWORD took = Timed(h, "SignalClientTerminate");
  EXPECT_GE(took, kAgentMs);
  EXPECT_LT(took, kAgentMs + kSlack);
  EXPECT_EQ(HelperLog(), Agent("\"" + helper + "\"  /terminate"));
  // The restarted agent is not waited for.
  StartHelperLog(kAgentMs);
  EXPECT_LT(Timed(h, "RestartHlAgent"), kSlack);
  EXPECT_EQ(WaitForHelperLog(1), Agent("\"" + helper + "\" "));
  // The routine itself reports 0, with or without an agent to end.
  StartHelperLog(0);
  EXPECT_EQ(viduzo::TerminateHlAgent(h), 0u);
  EXPECT_EQ(HelperLog(), Agent("\"" + helper + "\"  /terminate"));
  AgentRegistration::RemoveAgentKey();
  StartHelperLog(0);
  EXPECT_EQ(viduzo::TerminateHlAgent(h), 0u);
  {
    AgentRegistration unstartable("%1");
    EXPECT_EQ(viduzo::TerminateHlAgent(h), 0u);
  }
  EXPECT_EQ(HelperLog(), "");
}

TEST_F(RunningTest, KillTrovEndsEveryServerProcessWhateverItsCase) {
  struct Program {
    const char* folder;
    const char* name;
    bool ended;
  } programs[] = {
      {"a\\", "trovsvr.exe", true},
      {"b\\", "TROVSVR.EXE", true},
      {"c\\", "TrovSvr.Exe", true},
      {"d\\", "trovsvr.exe.old", false},
      {"e\\", "xtrovsvr.exe", false},
      {"f\\", "trovsvr.com", false},
  };
  std::vector<std::unique_ptr<Started>> started;
  for (const Program& p : programs) {
    std::string dir = folder + p.folder;
    ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr));
    InstallHelper(dir + p.name);
    started.push_back(std::make_unique<Started>("\"" + dir + p.name + "\" wait"));
  }
  MSIHANDLE h = Open(nullptr);
  EXPECT_EQ(CallAction(h, "KillTROV"), ERROR_SUCCESS);
  for (std::size_t i = 0; i < started.size(); ++i) {
    SCOPED_TRACE(programs[i].name);
    DWORD exitCode = 99;
    EXPECT_EQ(started[i]->Ended(&exitCode), programs[i].ended);
    if (programs[i].ended) {
      EXPECT_EQ(exitCode, 0u);
    }
  }
}

TEST_F(RunningTest, TerminatorReportsWhetherTheLastMatchEnded) {
  EXPECT_EQ(viduzo::VmrTerminateProcess("vdzmissing.exe"), 0);
  InstallHelper(folder + "vdzone.exe");
  Started one("\"" + folder + "vdzone.exe\" wait");
  EXPECT_EQ(viduzo::VmrTerminateProcess("VDZONE.EXE"), 1);
  EXPECT_TRUE(one.Ended());
  EXPECT_EQ(viduzo::VmrTerminateProcess("vdzone.exe"), 0);
}

#ifndef _WIN32
// ---- what only winsim can show ------------------------------------------------------

std::vector<std::string> DebugLines() { return winsim::DebugLines(); }

const char kAfterLoad[] = "VmrTerminateProcess: After LoadLibrary(kernel32.dll)";
const char kCalling[] = "VmrTerminateProcess: Calling CreateToolHelp32SnapShot";
const char kAfterSnapshot[] = "VmrTerminateProcess: After pCreateToolHelp32SnapShot";
const char kAfterFirst[] = "VmrTerminateProcess: After pProcess32First";

// The terminator traces its steps, survives missing toolhelp functions and a
// failing snapshot, and frees kernel32 and every handle on every path.
TEST(RunningNative, TerminatorFreesKernel32OnEveryPath) {
  const char kFreeFailed[] = "VmrTerminateProcess: FreeLibrary call failed.";
  const int loads = winsim::ModuleLoadCount("kernel32.dll");
  HandleCheck handles;
  const std::size_t kernelHandles = winsim::OpenKernelHandleCount();
  struct Case {
    const char* missing;  // a toolhelp function made missing, or null
    bool failSnapshot;
    std::vector<std::string> lines;  // before the FreeLibrary line
  } cases[] = {
      {nullptr, false, {kAfterLoad, kCalling, kAfterSnapshot, kAfterFirst}},
      {"CreateToolhelp32Snapshot", false, {kAfterLoad}},
      {"Process32First", false, {kAfterLoad}},
      {"Process32Next", false, {kAfterLoad}},
      {nullptr, true, {kAfterLoad, kCalling, kAfterSnapshot}},
  };
  for (const Case& c : cases) {
    for (bool freeFails : {false, true}) {
      SCOPED_TRACE(std::string(c.missing ? c.missing : "-") + (freeFails ? " free fails" : ""));
      winsim::ResetProcessSnapshots();
      if (c.missing) winsim::SetToolhelpFunctionMissing(c.missing);
      winsim::FailProcessSnapshots(c.failSnapshot);
      winsim::FailModuleCalls("kernel32.dll", false, freeFails);
      winsim::ClearDebugLines();
      EXPECT_EQ(viduzo::VmrTerminateProcess("nothing.exe"), 0);
      winsim::FailModuleCalls("kernel32.dll", false, false);
      std::vector<std::string> expected = c.lines;
      if (freeFails) {
        expected.push_back(kFreeFailed);
        EXPECT_EQ(winsim::ModuleLoadCount("kernel32.dll"), loads + 1);
        FreeLibrary(GetModuleHandleA("kernel32.dll"));
      }
      EXPECT_EQ(DebugLines(), expected);
      EXPECT_EQ(winsim::ModuleLoadCount("kernel32.dll"), loads);
      EXPECT_EQ(winsim::OpenKernelHandleCount(), kernelHandles);
    }
  }
  // Without kernel32 nothing is looked up, traced or ended.
  std::string folder = TempFolder("vdznok32");
  InstallHelper(folder + "trovsvr.exe");
  Started server("\"" + folder + "trovsvr.exe\" wait");
  winsim::ClearDebugLines();
  winsim::FailModuleCalls("kernel32.dll", true, false);
  EXPECT_EQ(viduzo::VmrTerminateProcess("trovsvr.exe"), 0);
  winsim::FailModuleCalls("kernel32.dll", false, false);
  EXPECT_TRUE(DebugLines().empty());
  EXPECT_FALSE(server.Ended());
}

TEST(RunningNative, HoldersCloseWhatTheyHeldExactlyOnce) {
  const std::size_t keys = winsim::OpenKeyCount();
  {
    viduzo::RegKey key;
    ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, "Software\\vdzholder", key.put()), ERROR_SUCCESS);
    // Filling it again closes the key it held first.
    ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, "Software\\vdzholder", key.put()), ERROR_SUCCESS);
    EXPECT_EQ(winsim::OpenKeyCount(), keys + 1);
    key.reset();
    EXPECT_FALSE(key);
    EXPECT_EQ(winsim::OpenKeyCount(), keys);
  }
  EXPECT_EQ(winsim::OpenKeyCount(), keys);
}

TEST(RunningNative, AgentCommandThatFillsItsBuffers) {
  Package pkg;
  pkg.Property("HlType", "MSI_ALL");
  MSIHANDLE h = pkg.Open();
  std::string folder = TempFolder("vdzlong");
  std::string helper = folder + "vdzhelper.exe";
  InstallHelper(helper);
  StartHelperLog(0);
  // 520 unquoted characters without "%1": the longest command line, quoted
  // whole, which names no program (AddressSanitizer watches the buffers).
  {
    AgentRegistration agent(std::string(520, 'p'));
    EXPECT_EQ(CallAction(h, "SignalClientTerminate"), ERROR_SUCCESS);
    EXPECT_EQ(CallAction(h, "RestartHlAgent"), ERROR_SUCCESS);
  }
  // A string stored without its terminator that fills all 521 bytes does not
  // fit; one of 520 characters does.
  const std::string q = "\"" + helper + "\" ";
  for (std::size_t length : {521u, 520u}) {
    SCOPED_TRACE(length);
    std::vector<char> data(q.begin(), q.end());
    data.resize(length, 'p');
    data.push_back('x');  // not a terminator: the value is stored without one
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyA(HKEY_CLASSES_ROOT, kAgentKey, &key), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.data()),
                             static_cast<DWORD>(length)),
              ERROR_SUCCESS);
    RegCloseKey(key);
    StartHelperLog(0);
    EXPECT_EQ(CallAction(h, "RestartHlAgent"), ERROR_SUCCESS);
    EXPECT_EQ(HelperLog(), length == 520 ? Agent(std::string(data.begin(), data.end() - 1)) : "");
    AgentRegistration::RemoveAgentKey();
  }
}

TEST(RunningNative, HeldAgentIsNeverWaitedForButNeverEitherStarted) {
  // Processes created suspended or for a debugger do not run in winsim: a
  // start with such flags would leave the agent silent.
  std::string folder = TempFolder("vdzheld");
  InstallHelper(folder + "vdzhelper.exe");
  StartHelperLog(0);
  for (DWORD flags : {DWORD{DEBUG_PROCESS}, DWORD{CREATE_SUSPENDED}}) {
    std::string line = "\"" + folder + "vdzhelper.exe\" x";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    ASSERT_TRUE(CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, flags, nullptr,
                               nullptr, &startup, &info));
    EXPECT_EQ(WaitForSingleObject(info.hProcess, 100), static_cast<DWORD>(WAIT_TIMEOUT));
    TerminateProcess(info.hProcess, 0);
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
  }
  EXPECT_EQ(HelperLog(), "");
}

// A program file for a native-only program with the given way to run.
std::string InstallProgram(const std::string& path, const std::string& name,
                           winsim::ProgramRun run) {
  winsim::RegisterProgram(name, [run](const std::string&) { return run; });
  WriteFile(path, winsim::ProgramFileContent(name));
  return path;
}

TEST(RunningNative, TerminatorResultIsTheLastKnownOutcome) {
  winsim::FreezeClock(true);
  std::string folder = TempFolder("vdzterm");
  struct Process {
    DWORD endsAfterTerminateMs;
    bool refusesOpen;
    bool refusesTerminate;
  };
  const Process kQuick = {0, false, false}, kAtLimit = {2000, false, false},
                kSlow = {2001, false, false}, kLocked = {0, true, false},
                kStubborn = {0, false, true};
  struct Case {
    std::vector<Process> processes;  // in the order they start, which the list keeps
    int expected;
  } cases[] = {
      {{kQuick}, 1},           {{kAtLimit}, 1},         {{kSlow}, 0},
      {{kLocked}, 0},          {{kStubborn}, 0},        {{kQuick, kLocked}, 0},
      {{kLocked, kQuick}, 1},  {{kQuick, kStubborn}, 1}, {{kSlow, kStubborn}, 0},
      {{kQuick, kSlow}, 0},    {{kSlow, kQuick}, 1},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(++n);
    winsim::ResetProcesses();
    std::vector<std::unique_ptr<Started>> started;
    int i = 0;
    for (const Process& p : c.processes) {
      winsim::ProgramRun run;
      run.exitAfterMs = INFINITE;
      run.endsAfterTerminateMs = p.endsAfterTerminateMs;
      run.refusesOpen = p.refusesOpen;
      run.refusesTerminate = p.refusesTerminate;
      std::string path = folder + std::to_string(n) + "_" + std::to_string(++i) + "\\";
      CreateDirectoryA(path.c_str(), nullptr);
      InstallProgram(path + "srv.exe", "srv" + std::to_string(n) + "_" + std::to_string(i), run);
      started.push_back(std::make_unique<Started>("\"" + path + "srv.exe\""));
    }
    DWORD start = Clock();
    EXPECT_EQ(viduzo::VmrTerminateProcess("srv.exe"), c.expected);
    DWORD took = Clock() - start;
    // Each terminated process is waited for up to 2 seconds.
    DWORD expectedWait = 0;
    for (const Process& p : c.processes)
      if (!p.refusesOpen && !p.refusesTerminate)
        expectedWait += p.endsAfterTerminateMs < 2000 ? p.endsAfterTerminateMs : 2000;
    EXPECT_GE(took, expectedWait);
    EXPECT_LT(took, expectedWait + kSlack);
  }
}

TEST(RunningNative, SnapshotEntriesWithFullPathsMatchByFileName) {
  std::string folder = TempFolder("vdzfull");
  InstallHelper(folder + "trovsvr.exe");
  Started server("\"" + folder + "trovsvr.exe\" wait");
  winsim::SetSnapshotFullPaths(true);
  EXPECT_EQ(viduzo::VmrTerminateProcess("trovsvr.exe"), 1);
  EXPECT_TRUE(server.Ended());
}

TEST(RunningNative, AgentWaitWakesOnFileChangesInTheWatchedFolder) {
  winsim::FreezeClock(true);
  // A registered command that, whole, names a folder: the notification watches
  // it (and its subfolders) for new, removed or renamed files and size changes.
  std::string folder = TempFolder("vdzwatch");
  std::string watched = folder + "agent.exe %1";
  ASSERT_TRUE(CreateDirectoryA(watched.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA((watched + "\\sub").c_str(), nullptr));
  winsim::ProgramRun run;
  run.exitAfterMs = 45000;
  run.fileChanges = {
      {1000, watched + "\\new.txt", FILE_NOTIFY_CHANGE_FILE_NAME},
      {2000, watched + "\\sub\\grown.txt", FILE_NOTIFY_CHANGE_SIZE},
      {3000, watched + "\\touched.txt", FILE_NOTIFY_CHANGE_ATTRIBUTES},
      {4000, folder + "outside.txt", FILE_NOTIFY_CHANGE_FILE_NAME},
  };
  InstallProgram(folder + "agent.exe", "watchedagent", run);
  Package pkg;
  pkg.Property("HlType", "MSI_HLA");
  MSIHANDLE h = pkg.Open();
  AgentRegistration agent(watched);
  std::size_t rearms = winsim::ChangeNotificationRearms();
  DWORD start = Clock();
  EXPECT_EQ(CallAction(h, "SignalClientTerminate"), ERROR_SUCCESS);
  DWORD took = Clock() - start;
  EXPECT_GE(took, 45000u);
  EXPECT_LT(took, 45000 + kSlack);
  EXPECT_EQ(winsim::ChangeNotificationRearms() - rearms, 2u);
}

#endif

}  // namespace
