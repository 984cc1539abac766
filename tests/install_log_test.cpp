// LogInstallTime: the dated line appended to the client's existing log file.
// The fixed dates need winsim's clock; on both engines the line of the real
// clock is checked by its shape.
#include <regex>
#include <string>

#include "tests/fixture.h"

#ifndef _WIN32
#include <unistd.h>

#include "winsim/control.h"
#endif

using namespace viduzo_test;

namespace {

UINT LogTo(const std::string& path) {
  Package pkg;
  MSIHANDLE h = pkg.Open();
  SetProp(h, "CustomActionData", path);
  return CallAction(h, "LogInstallTime");
}

// The line goes after what the log holds, in the shape of the real clock.
TEST(InstallLogTest, AppendsTheLineToAnExistingLog) {
  const std::string log = TempFolder("log") + "znclient.log";
  WriteFile(log, "earlier\r\n");
  ASSERT_EQ(LogTo(log), 0u);
  ASSERT_EQ(LogTo(log), 0u);
  const std::string line =
      "Velmar QVA Client installed on [1-9][0-9]?-[1-9][0-9]?-[0-9]{4} at "
      "(0|[1-9][0-9]?):(0|[1-9][0-9]?):(0|[1-9][0-9]?)\r\n";
  EXPECT_TRUE(std::regex_match(ReadWholeFile(log), std::regex("earlier\r\n" + line + line)))
      << ReadWholeFile(log);
}

// A log that cannot be opened for writing fails the action and is not created.
TEST(InstallLogTest, FailsWithoutAWritableLog) {
  const std::string folder = TempFolder("nolog");
  struct Case {
    const char* name;
    std::string path;
  };
  const Case cases[] = {{"missing", folder + "missing.log"}, {"empty", ""}, {"folder", folder}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(LogTo(c.path), 1603u);
  }
  EXPECT_EQ(GetFileAttributesA((folder + "missing.log").c_str()), INVALID_FILE_ATTRIBUTES);
}

#ifndef _WIN32
// A read-only log cannot be opened for writing (Wine, run by root on the host's
// file system, opens it all the same), and a log on a full disk takes no line.
TEST(InstallLogTest, FailsOnAReadOnlyLogOrAFullDisk) {
  const std::string readOnly = TempFolder("rolog") + "readonly.log";
  WriteFile(readOnly, "kept");
  ASSERT_TRUE(SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(LogTo(readOnly), 1603u);
  EXPECT_EQ(ReadWholeFile(readOnly), "kept");
  SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_NORMAL);
  // The host's /dev/full refuses every write with "no space left".
  const std::string full = TempFolder("fulllog") + "full.log";
  ASSERT_EQ(symlink("/dev/full", winsim::HostPath(full).c_str()), 0);
  EXPECT_EQ(LogTo(full), 1603u);
}

// The end of a log of 4 GiB or more is out of the 32-bit file pointer's reach:
// Windows fails SetFilePointer without a high word there, so the action fails
// and writes nothing (the file is sparse, so it costs no disk). Wine's
// SetFilePointer moves all the same and returns the low half.
TEST(InstallLogTest, FailsOnALogTooLargeToReachItsEnd) {
  const std::string log = TempFolder("hugelog") + "znclient.log";
  HANDLE file = CreateFileA(log.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  LONG high = 1;
  SetFilePointer(file, 0, &high, FILE_BEGIN);
  ASSERT_TRUE(SetEndOfFile(file));
  CloseHandle(file);
  EXPECT_EQ(LogTo(log), 1603u);
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA(log.c_str(), &data);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  FindClose(find);
  EXPECT_EQ(data.nFileSizeHigh, 1u);
  EXPECT_EQ(data.nFileSizeLow, 0u);
  DeleteFileA(log.c_str());
}
#endif

// Without an install session there is no log path.
TEST(InstallLogTest, FailsWithoutASession) {
  EXPECT_EQ(CallAction(0, "LogInstallTime"), 1603u);
}

#ifndef _WIN32
// Month, day, year, hour, minute and second, in that order and unpadded
// (SYSTEMTIME: year, month, day of the week, day, hour, minute, second, ms).
TEST(InstallLogTest, WritesTheDateAndTimeWithoutPadding) {
  struct Case {
    SYSTEMTIME utc;
    const char* line;
  };
  const Case cases[] = {
      {{2004, 3, 5, 5, 9, 7, 2, 0}, "Velmar QVA Client installed on 3-5-2004 at 9:7:2\r\n"},
      {{2026, 12, 4, 31, 23, 59, 58, 999},
       "Velmar QVA Client installed on 12-31-2026 at 23:59:58\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    FILETIME utc;
    ASSERT_TRUE(SystemTimeToFileTime(&c.utc, &utc));
    winsim::FreezeClock(true);
    winsim::SetSystemClock(utc);
    const std::string log = TempFolder("dated") + "znclient.log";
    WriteFile(log, "");
    ASSERT_EQ(LogTo(log), 0u);
    EXPECT_EQ(ReadWholeFile(log), c.line);
  }
}
#endif

}  // namespace
