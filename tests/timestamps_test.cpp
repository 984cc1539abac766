// SetTimestamps: the files of the time-stamp list get their creation and
// last-write times back. Wine keeps no creation time of its own (it reports
// the last-write time), so the creation time is checked natively only.
#include <string>
#include <vector>

#include "system/timestamps.h"
#include "tests/fixture.h"

using namespace viduzo_test;

namespace {

struct Times {
  DWORD creationLow, creationHigh, writeLow, writeHigh;
};

// The times a file reports, or all zero when it cannot be opened.
Times FileTimes(const std::string& path) {
  Times times = {};
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return times;
  FILETIME creation = {}, write = {};
  EXPECT_TRUE(GetFileTime(file, &creation, nullptr, &write));
  CloseHandle(file);
  return {creation.dwLowDateTime, creation.dwHighDateTime, write.dwLowDateTime,
          write.dwHighDateTime};
}

std::string Entry(const std::string& path, const Times& t) {
  return path + "|" + std::to_string(t.creationLow) + "|" + std::to_string(t.creationHigh) + "|" +
         std::to_string(t.writeLow) + "|" + std::to_string(t.writeHigh) + ">";
}

void ExpectTimes(const std::string& path, const Times& expected) {
  SCOPED_TRACE(path);
  Times actual = FileTimes(path);
  EXPECT_EQ(actual.writeLow, expected.writeLow);
  EXPECT_EQ(actual.writeHigh, expected.writeHigh);
#ifndef _WIN32
  EXPECT_EQ(actual.creationLow, expected.creationLow);
  EXPECT_EQ(actual.creationHigh, expected.creationHigh);
#endif
}

// Runs SetTimestamps with the list as its CustomActionData.
UINT RunWithList(const std::string& list) {
  Package pkg;
  MSIHANDLE h = pkg.Open();
  SetProp(h, "CustomActionData", list);
  return CallAction(h, "SetTimestamps");
}

// Times in 2009 and 2010, each half different from the others.
const Times kFirst = {123456780, 30000000, 223456780, 30000100};
const Times kSecond = {323456780, 30200000, 423456780, 30200100};

class TimestampsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = TempFolder("stamps");
    a = folder + "a.txt";
    b = folder + "b.txt";
    WriteFile(a, "a");
    WriteFile(b, "b");
    untouched = FileTimes(a);
  }
  std::string folder, a, b;
  Times untouched;
};

// Every entry applies, in order; an entry whose file is missing is skipped and
// the next one still applies.
TEST_F(TimestampsTest, EveryEntryGivesItsFileItsTimes) {
  EXPECT_EQ(RunWithList(Entry(a, kFirst) + Entry(folder + "missing.txt", kFirst) +
                        Entry(b, kSecond)),
            0u);
  ExpectTimes(a, kFirst);
  ExpectTimes(b, kSecond);
  EXPECT_EQ(FileTimes(folder + "missing.txt").writeHigh, 0u);
}

// A read-only file gets its times and stays writable.
TEST_F(TimestampsTest, ReadOnlyFileIsMadeWritable) {
  ASSERT_TRUE(SetFileAttributesA(a.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(RunWithList(Entry(a, kFirst)), 0u);
  ExpectTimes(a, kFirst);
  DWORD attributes = GetFileAttributesA(a.c_str());
  ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(attributes & FILE_ATTRIBUTE_READONLY, 0u);
}

// Lists the writer never makes: the action returns 0, touches no file through
// a malformed entry, and well-formed entries after it still apply.
TEST_F(TimestampsTest, MalformedEntriesAreSkipped) {
  const std::string longPath = folder + std::string(270 - folder.size(), 'x');
  // One character more than a file name may have: cut to 260 it would overrun.
  const std::string justTooLong = folder + std::string(261 - folder.size(), 'y');
  struct Case {
    std::string name;
    std::string list;
    bool bApplies;  // whether b gets kSecond
  };
  const Case cases[] = {
      {"empty list", "", false},
      {"no closing >", a + "|1|2|3|4", false},
      {"second entry without >", Entry(b, kSecond) + a + "|1|2|3|4", true},
      {"too few fields", a + "|1|2|3>" + Entry(b, kSecond), true},
      {"path only", a + ">" + Entry(b, kSecond), true},
      {"empty entry", ">" + Entry(b, kSecond), true},
      {"path past 260", Entry(longPath, kFirst) + Entry(b, kSecond), true},
      {"path of 261", Entry(justTooLong, kFirst) + Entry(b, kSecond), true},
      {"empty path", Entry("", kFirst) + Entry(b, kSecond), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(b, "b");
    Times before = FileTimes(b);
    EXPECT_EQ(RunWithList(c.list), 0u);
    EXPECT_EQ(FileTimes(a).writeHigh, untouched.writeHigh);
    EXPECT_EQ(FileTimes(a).writeLow, untouched.writeLow);
    if (c.bApplies) ExpectTimes(b, kSecond);
    else EXPECT_EQ(FileTimes(b).writeLow, before.writeLow);
  }
}

// Numbers are read as unsigned decimals: the largest 32-bit half stands, and
// text after the digits of a field is ignored.
TEST_F(TimestampsTest, FieldsAreUnsignedDecimals) {
  EXPECT_EQ(RunWithList(a + "|4294967295|30000000|7A|30000100 >"), 0u);
  ExpectTimes(a, {4294967295u, 30000000, 7, 30000100});
}

// SetFileTimes on its own: 1603 for a file it cannot open, 0 once the times are
// set; a null time stays as it was.
TEST_F(TimestampsTest, SetFileTimesReportsAFileItCannotOpen) {
  const FILETIME creation = {kFirst.creationLow, kFirst.creationHigh};
  const FILETIME write = {kFirst.writeLow, kFirst.writeHigh};
  EXPECT_EQ(viduzo::SetFileTimes((folder + "missing.txt").c_str(), &creation, nullptr, &write),
            1603u);
  EXPECT_EQ(viduzo::SetFileTimes(a.c_str(), nullptr, nullptr, &write), 0u);
  Times actual = FileTimes(a);
  EXPECT_EQ(actual.writeLow, kFirst.writeLow);
  EXPECT_EQ(actual.writeHigh, kFirst.writeHigh);
}

// Without an install session there is no list: nothing to do, and still 0.
TEST(TimestampsNoSessionTest, ReturnsSuccess) {
  EXPECT_EQ(CallAction(0, "SetTimestamps"), 0u);
}

}  // namespace
