// The file system through the Win32 API: listings and wildcards, 8.3 names,
// file handles and share modes, times, attributes, moving and copying,
// version resources of PE files, and disk sizes.
#include <algorithm>
#include <cstring>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "tests/fixture.h"
#include "tests/pe_image.h"

#ifndef _WIN32
#include "winsim/control.h"
#endif

using namespace viduzo_test;

namespace {

using Names = std::set<std::string>;

struct Listing {
  std::vector<WIN32_FIND_DATAA> entries;
  DWORD firstError = 0;  // GetLastError after FindFirstFileA failed
  DWORD endError = 0;    // GetLastError after the last FindNextFileA
};

Listing Find(const std::string& pattern) {
  Listing listing;
  WIN32_FIND_DATAA data;
  SetLastError(0xDEADBEEF);
  HANDLE find = FindFirstFileA(pattern.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) {
    listing.firstError = GetLastError();
    return listing;
  }
  do listing.entries.push_back(data);
  while (FindNextFileA(find, &data));
  listing.endError = GetLastError();
  EXPECT_TRUE(FindClose(find));
  return listing;
}

// The names a pattern finds, without "." and "..".
Names NamesOf(const Listing& listing) {
  Names names;
  for (const auto& e : listing.entries)
    if (std::strcmp(e.cFileName, ".") != 0 && std::strcmp(e.cFileName, "..") != 0)
      names.insert(e.cFileName);
  return names;
}

unsigned long long Ticks(const FILETIME& t) {
  return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}
FILETIME Time(unsigned long long ticks) {
  return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

HANDLE Open(const std::string& path, DWORD access, DWORD share = FILE_SHARE_READ,
            DWORD disposition = OPEN_EXISTING, DWORD flags = 0) {
  return CreateFileA(path.c_str(), access, share, nullptr, disposition, flags, nullptr);
}

std::string ReadAll(const std::string& path) {
  HANDLE file = Open(path, GENERIC_READ);
  if (file == INVALID_HANDLE_VALUE) return "<cannot open>";
  std::string content;
  char buffer[256];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) content.append(buffer, got);
  CloseHandle(file);
  return content;
}

WIN32_FIND_DATAA Entry(const std::string& path) {
  WIN32_FIND_DATAA data{};
  HANDLE find = FindFirstFileA(path.c_str(), &data);
  EXPECT_NE(find, INVALID_HANDLE_VALUE) << path;
  if (find != INVALID_HANDLE_VALUE) FindClose(find);
  return data;
}

// Natively, every test must close the kernel handles it opened.
class FileSystemTest : public ::testing::Test {
#ifndef _WIN32
 protected:
  void SetUp() override { handles_ = winsim::OpenKernelHandleCount(); }
  void TearDown() override {
    EXPECT_EQ(winsim::OpenKernelHandleCount(), handles_) << "kernel handles left open";
  }

 private:
  std::size_t handles_ = 0;
#endif
};

// ---- listings -------------------------------------------------------------------------

TEST_F(FileSystemTest, ListingHasDotsFirstThenEveryEntry) {
  const std::string dir = TempFolder("list");
  WriteFile(dir + "b.txt", "abc");
  WriteFile(dir + "A.dat", "");
  ASSERT_TRUE(CreateDirectoryA((dir + "sub").c_str(), nullptr));

  for (const char* pattern : {"*", "*.*"}) {
    SCOPED_TRACE(pattern);
    Listing listing = Find(dir + pattern);
    ASSERT_EQ(listing.entries.size(), 5u);
    EXPECT_STREQ(listing.entries[0].cFileName, ".");
    EXPECT_STREQ(listing.entries[1].cFileName, "..");
    EXPECT_EQ(NamesOf(listing), (Names{"A.dat", "b.txt", "sub"}));
    EXPECT_EQ(listing.endError, static_cast<DWORD>(ERROR_NO_MORE_FILES));
    for (const auto& e : listing.entries) {
      bool folder = e.cFileName[0] == '.' || std::strcmp(e.cFileName, "sub") == 0;
      EXPECT_EQ((e.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0, folder) << e.cFileName;
      if (std::strcmp(e.cFileName, "b.txt") == 0) {
        EXPECT_EQ(e.nFileSizeLow, 3u);
      }
    }
  }
#ifndef _WIN32
  // NTFS keeps a folder sorted by upper-case name.
  Listing listing = Find(dir + "*");
  ASSERT_EQ(listing.entries.size(), 5u);
  EXPECT_STREQ(listing.entries[2].cFileName, "A.dat");
  EXPECT_STREQ(listing.entries[3].cFileName, "b.txt");
  EXPECT_STREQ(listing.entries[4].cFileName, "sub");
#endif
  // The root of a drive has no "." or "..".
  for (const auto& e : Find("C:\\*").entries) {
    EXPECT_STRNE(e.cFileName, ".");
    EXPECT_STRNE(e.cFileName, "..");
  }
}

TEST_F(FileSystemTest, WildcardsMatchLikeWindows) {
  const std::string dir = TempFolder("wild");
  for (const char* name : {"a", "a.b", "a.b.c", "ab.txt", "abc.txt", "x.html", "readme",
                           "data1.csv", "data12.csv"})
    WriteFile(dir + name, name);
  struct Case {
    const char* pattern;
    Names names;
    bool nativeOnly;  // rules of the NTFS matcher that Wine's does not follow
  } cases[] = {
      {"*.txt", {"ab.txt", "abc.txt"}, false},
      {"a*", {"a", "a.b", "a.b.c", "ab.txt", "abc.txt"}, false},
      {"A?.TXT", {"ab.txt"}, false},
      {"data?.csv", {"data1.csv"}, false},
      {"DATA*.CSV", {"data1.csv", "data12.csv"}, false},
      {"*.b", {"a.b"}, false},
      // ".*" stands for "an extension, or none", as often as it is written.
      {"*.*.*",
       {"a", "a.b", "a.b.c", "ab.txt", "abc.txt", "x.html", "readme", "data1.csv", "data12.csv"},
       true},
      {"abc.txt", {"abc.txt"}, false},
      {"ABC.TXT", {"abc.txt"}, false},
      // "*.htm" also finds x.html, through its short name X~1.HTM.
      {"*.htm", {"x.html"}, false},
      // "?" matches nothing at a dot or at the end of the name.
      {"a??.txt", {"ab.txt", "abc.txt"}, true},
      {"data??", {}, true},
      {"a.?", {"a", "a.b"}, true},
      // "*." is "no extension"; "x*.*" also finds names without a dot.
      {"*.", {"a", "readme"}, true},
      {"r*.*", {"readme"}, false},
  };
  for (const Case& c : cases) {
#ifdef _WIN32
    if (c.nativeOnly) continue;
#endif
    SCOPED_TRACE(c.pattern);
    Listing listing = Find(dir + c.pattern);
    EXPECT_EQ(NamesOf(listing), c.names);
    if (c.names.empty()) {
      EXPECT_EQ(listing.firstError, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    }
  }
}

TEST_F(FileSystemTest, SearchErrors) {
  const std::string dir = TempFolder("errs");
  WriteFile(dir + "file.txt", "f");
  struct Case {
    std::string pattern;
    DWORD error;
    bool nativeOnly;  // Wine answers otherwise
  } cases[] = {
      {dir + "nothing*", ERROR_FILE_NOT_FOUND, false},
      {dir + "nothing.txt", ERROR_FILE_NOT_FOUND, false},
      {dir + "missing\\*", ERROR_PATH_NOT_FOUND, false},
      {dir + "missing\\file.txt", ERROR_PATH_NOT_FOUND, false},
      {dir + "missing\\*.*", ERROR_PATH_NOT_FOUND, false},
      {"C:\\", ERROR_FILE_NOT_FOUND, false},
      {dir, ERROR_FILE_NOT_FOUND, false},
      {dir + "missing\\", ERROR_PATH_NOT_FOUND, true},  // Wine: 2
      {dir + "file.txt\\*", ERROR_DIRECTORY, true},     // Wine: 123
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pattern);
    DWORD error = Find(c.pattern).firstError;
#ifdef _WIN32
    if (c.nativeOnly) {
      EXPECT_NE(error, 0u);
      continue;
    }
#endif
    EXPECT_EQ(error, c.error);
  }
  // One entry named without wildcards; after it, the end of the listing.
  Listing one = Find(dir + "FILE.TXT");
  ASSERT_EQ(one.entries.size(), 1u);
  EXPECT_STREQ(one.entries[0].cFileName, "file.txt");
  EXPECT_EQ(one.endError, static_cast<DWORD>(ERROR_NO_MORE_FILES));

  WIN32_FIND_DATAA data;
  SetLastError(0);
  EXPECT_FALSE(FindNextFileA(INVALID_HANDLE_VALUE, &data));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  SetLastError(0);
  EXPECT_FALSE(FindClose(INVALID_HANDLE_VALUE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

// ---- 8.3 names --------------------------------------------------------------------------

// Whether a name has the shape of an 8.3 name.
bool Is83(const std::string& name) {
  return std::regex_match(name, std::regex("[^ .]{1,8}(\\.[^ .]{1,3})?"));
}

TEST_F(FileSystemTest, LongNamesGetShortNamesThatOpenThem) {
  const std::string dir = TempFolder("short");
  struct Case {
    const char* name;
    bool needsShort;
  } cases[] = {
      {"Long Name.txt", true}, {"x.html", true},     {"two.dots.txt", true},
      {"toolongname.txt", true}, {"a b", true},      {"plain.txt", false},
      {"README", false},         {"ReadMe.Txt", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(dir + c.name, c.name);
    WIN32_FIND_DATAA e = Entry(dir + c.name);
    EXPECT_STREQ(e.cFileName, c.name);
    std::string shortName = e.cAlternateFileName;
    if (!c.needsShort) {
      EXPECT_EQ(shortName, "");
      continue;
    }
    ASSERT_FALSE(shortName.empty());
    EXPECT_TRUE(Is83(shortName)) << shortName;
    EXPECT_NE(shortName, c.name);
    // The short name names the same file.
    EXPECT_STREQ(Entry(dir + shortName).cFileName, c.name);
    EXPECT_EQ(ReadAll(dir + shortName), c.name);
  }
}

#ifndef _WIN32
TEST_F(FileSystemTest, NtfsShortNameNumbering) {
  const std::string dir = TempFolder("ntfs");
  auto shortOf = [&](const std::string& name) {
    return std::string(Entry(dir + name).cAlternateFileName);
  };
  // The first four take ~1 to ~4 in creation order, then the hashed form.
  for (int i = 1; i <= 6; ++i) WriteFile(dir + "Long Name " + std::to_string(i) + ".txt", "");
  for (int i = 1; i <= 4; ++i)
    EXPECT_EQ(shortOf("Long Name " + std::to_string(i) + ".txt"),
              "LONGNA~" + std::to_string(i) + ".TXT");
  std::string fifth = shortOf("Long Name 5.txt"), sixth = shortOf("Long Name 6.txt");
  EXPECT_TRUE(std::regex_match(fifth, std::regex("LO[0-9A-F]{4}~[1-9]\\.TXT"))) << fifth;
  EXPECT_TRUE(std::regex_match(sixth, std::regex("LO[0-9A-F]{4}~[1-9]\\.TXT"))) << sixth;
  EXPECT_NE(fifth, sixth);

  struct Case {
    const char* name;
    const char* shortName;
  } cases[] = {
      {"a b.txt", "AB~1.TXT"},           {".gitignore", "GITIGN~1"},
      {"x.html", "X~1.HTM"},             {"a+b=c[1].txt", "A_B_C_~1.TXT"},
      {"file.tar.gz", "FILETA~1.GZ"},    {"verylongname.abcd", "VERYLO~1.ABC"},
      {"Program Files", "PROGRA~1"},
  };
  for (const Case& c : cases) {
    WriteFile(dir + c.name, "");
    EXPECT_EQ(shortOf(c.name), c.shortName) << c.name;
  }

  // A long name that is itself 8.3 takes its number; names stay as long as
  // their files do, and a freed number is handed out again.
  const std::string other = TempFolder("ntfs2");
  WriteFile(other + "LONGNA~1.TXT", "");
  WriteFile(other + "Long Name A.txt", "");
  WriteFile(other + "Long Name B.txt", "");
  EXPECT_EQ(std::string(Entry(other + "Long Name A.txt").cAlternateFileName), "LONGNA~2.TXT");
  EXPECT_TRUE(DeleteFileA((other + "LONGNA~1.TXT").c_str()));
  WriteFile(other + "Long Name C.txt", "");
  EXPECT_EQ(std::string(Entry(other + "Long Name B.txt").cAlternateFileName), "LONGNA~3.TXT");
  EXPECT_EQ(std::string(Entry(other + "Long Name C.txt").cAlternateFileName), "LONGNA~1.TXT");
  // A renamed file gets the short name of its new name.
  EXPECT_TRUE(MoveFileA((other + "Long Name A.txt").c_str(), (other + "Other Name.txt").c_str()));
  EXPECT_EQ(std::string(Entry(other + "Other Name.txt").cAlternateFileName), "OTHERN~1.TXT");
}
#endif

// ---- file handles ------------------------------------------------------------------------

TEST_F(FileSystemTest, CreateFileDispositions) {
  struct Case {
    const char* title;
    DWORD disposition;
    bool exists;
    bool opens;
    DWORD error;            // GetLastError afterwards, also on success
    const char* contentAfter;
  } cases[] = {
      {"create new", CREATE_NEW, false, true, ERROR_SUCCESS, ""},
      {"create new over a file", CREATE_NEW, true, false, ERROR_FILE_EXISTS, "old"},
      {"create always over a file", CREATE_ALWAYS, true, true, ERROR_ALREADY_EXISTS, ""},
      {"create always", CREATE_ALWAYS, false, true, ERROR_SUCCESS, ""},
      {"open existing", OPEN_EXISTING, true, true, ERROR_SUCCESS, "old"},
      {"open a missing file", OPEN_EXISTING, false, false, ERROR_FILE_NOT_FOUND, nullptr},
      {"open always an existing file", OPEN_ALWAYS, true, true, ERROR_ALREADY_EXISTS, "old"},
      {"open always", OPEN_ALWAYS, false, true, ERROR_SUCCESS, ""},
      {"truncate", TRUNCATE_EXISTING, true, true, ERROR_SUCCESS, ""},
      {"truncate a missing file", TRUNCATE_EXISTING, false, false, ERROR_FILE_NOT_FOUND, nullptr},
      {"no such disposition", 0, true, false, ERROR_INVALID_PARAMETER, "old"},
  };
  const std::string dir = TempFolder("disp");
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.title);
    const std::string path = dir + "f" + std::to_string(n++) + ".txt";
    if (c.exists) WriteFile(path, "old");
    SetLastError(0xDEADBEEF);
    HANDLE file = Open(path, GENERIC_READ | GENERIC_WRITE, 0, c.disposition, FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(GetLastError(), c.error);
    EXPECT_EQ(file != INVALID_HANDLE_VALUE, c.opens);
    if (file != INVALID_HANDLE_VALUE) {
      EXPECT_TRUE(CloseHandle(file));
    }
    if (c.contentAfter) {
      EXPECT_EQ(ReadAll(path), c.contentAfter);
    } else {
      EXPECT_EQ(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES);
    }
  }
  // A missing folder, and a folder opened as a file.
  SetLastError(0);
  EXPECT_EQ(Open(dir + "none\\f.txt", GENERIC_WRITE, 0, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  SetLastError(0);
  EXPECT_EQ(Open(dir, GENERIC_READ), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  HANDLE folder = Open(dir, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
  EXPECT_NE(folder, INVALID_HANDLE_VALUE);
  if (folder != INVALID_HANDLE_VALUE) {
    EXPECT_TRUE(CloseHandle(folder));
  }
}

TEST_F(FileSystemTest, ReadWriteAndFilePointer) {
  const std::string path = TempFolder("rw") + "data.bin";
  HANDLE file = Open(path, GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD done = 0;
  EXPECT_TRUE(WriteFile(file, "hello world", 11, &done, nullptr));
  EXPECT_EQ(done, 11u);
  DWORD high = 7;
  EXPECT_EQ(GetFileSize(file, &high), 11u);
  EXPECT_EQ(high, 0u);

  char buffer[16] = {};
  EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_BEGIN), 0u);
  EXPECT_TRUE(ReadFile(file, buffer, 5, &done, nullptr));
  EXPECT_EQ(std::string(buffer, done), "hello");
  EXPECT_EQ(SetFilePointer(file, -5, nullptr, FILE_END), 6u);
  EXPECT_TRUE(ReadFile(file, buffer, sizeof buffer, &done, nullptr));
  EXPECT_EQ(std::string(buffer, done), "world");
  EXPECT_TRUE(ReadFile(file, buffer, sizeof buffer, &done, nullptr)) << "reading at the end";
  EXPECT_EQ(done, 0u);

  SetLastError(0);
  EXPECT_EQ(SetFilePointer(file, -20, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NEGATIVE_SEEK));
  LONG high4G = 1;  // 4 GiB: only the high part says so
  EXPECT_EQ(SetFilePointer(file, 16, &high4G, FILE_BEGIN), 16u);
  EXPECT_EQ(high4G, 1);
#ifndef _WIN32
  // Documented, though Wine answers with the low part.
  EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER)
      << "a position beyond 4 GiB needs the high part";
#endif
  EXPECT_EQ(SetFilePointer(file, 5, nullptr, FILE_BEGIN), 5u);
  EXPECT_TRUE(SetEndOfFile(file));
  EXPECT_EQ(GetFileSize(file, nullptr), 5u);
  EXPECT_TRUE(CloseHandle(file));
  SetLastError(0);
  EXPECT_FALSE(CloseHandle(file)) << "closed twice";
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

  // Each handle does only what it was opened for.
  HANDLE reader = Open(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
  HANDLE writer = Open(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  SetLastError(0);
  EXPECT_FALSE(WriteFile(reader, "x", 1, &done, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  SetLastError(0);
  EXPECT_FALSE(ReadFile(writer, buffer, 1, &done, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  CloseHandle(reader);
  CloseHandle(writer);
  EXPECT_EQ(ReadAll(path), "hello");
}

TEST_F(FileSystemTest, ShareModes) {
  const std::string dir = TempFolder("share");
  struct Case {
    DWORD firstAccess, firstShare, secondAccess, secondShare;
    bool secondOpens;
  } cases[] = {
      {GENERIC_WRITE, FILE_SHARE_READ, GENERIC_READ, FILE_SHARE_READ, false},
      {GENERIC_WRITE, FILE_SHARE_READ, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, true},
      {GENERIC_READ, 0, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, false},
      {GENERIC_READ, FILE_SHARE_READ, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, false},
      {GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, GENERIC_WRITE, FILE_SHARE_READ, true},
      {GENERIC_READ, FILE_SHARE_READ, GENERIC_READ, FILE_SHARE_READ, true},
      {FILE_READ_ATTRIBUTES, 0, GENERIC_READ | GENERIC_WRITE, 0, true},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(n);
    const std::string path = dir + "s" + std::to_string(n++);
    WriteFile(path, "s");
    HANDLE first = Open(path, c.firstAccess, c.firstShare);
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    SetLastError(0);
    HANDLE second = Open(path, c.secondAccess, c.secondShare);
    EXPECT_EQ(second != INVALID_HANDLE_VALUE, c.secondOpens);
    if (second != INVALID_HANDLE_VALUE) {
      CloseHandle(second);
    } else {
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    }
    CloseHandle(first);
  }

  // Deleting needs the open handles to share deletion.
  const std::string path = dir + "del";
  WriteFile(path, "d");
  HANDLE open = Open(path, GENERIC_READ, FILE_SHARE_READ);
  SetLastError(0);
  EXPECT_FALSE(DeleteFileA(path.c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  CloseHandle(open);
  open = Open(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE);
  EXPECT_TRUE(DeleteFileA(path.c_str()));
  CloseHandle(open);
  EXPECT_EQ(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES);
}

// ---- times ---------------------------------------------------------------------------------

TEST_F(FileSystemTest, FileTimesRoundTrip) {
  const std::string dir = TempFolder("times");
  const unsigned long long kTimes[] = {0x01b0000000000000ull, 0x01d5c0f5a4b0c000ull,
                                       0x0250000000000000ull, 0x01bf82b162c9fc50ull};
  int n = 0;
  for (unsigned long long created : kTimes) {
    for (unsigned long long written : kTimes) {
      const std::string path = dir + "t" + std::to_string(n++);
      SCOPED_TRACE(path);
      WriteFile(path, "t");
      const unsigned long long accessed = written + 10000000ull;
      FILETIME c = Time(created), a = Time(accessed), w = Time(written);
      HANDLE file = Open(path, GENERIC_WRITE);
      ASSERT_NE(file, INVALID_HANDLE_VALUE);
      EXPECT_TRUE(SetFileTime(file, &c, &a, &w));
      CloseHandle(file);

      file = Open(path, GENERIC_READ);
      FILETIME gotC{}, gotA{}, gotW{};
      EXPECT_TRUE(GetFileTime(file, &gotC, &gotA, &gotW));
      CloseHandle(file);
      EXPECT_EQ(Ticks(gotW), written);
      EXPECT_EQ(Ticks(gotA), accessed);
      WIN32_FIND_DATAA e = Entry(path);
      EXPECT_EQ(Ticks(e.ftLastWriteTime), written);
#ifndef _WIN32
      // NTFS keeps a creation time of its own (Wine reports the last write).
      EXPECT_EQ(Ticks(gotC), created);
      EXPECT_EQ(Ticks(e.ftCreationTime), created);
#endif
    }
  }

  // Null and zero times leave a time alone; a handle without the right to
  // write attributes sets nothing (Wine lets it).
  const std::string path = dir + "keep";
  WriteFile(path, "k");
  FILETIME w = Time(kTimes[1]), zero = Time(0);
  HANDLE file = Open(path, GENERIC_WRITE);
  EXPECT_TRUE(SetFileTime(file, nullptr, nullptr, &w));
  EXPECT_TRUE(SetFileTime(file, nullptr, &zero, &zero));
  CloseHandle(file);
  EXPECT_EQ(Ticks(Entry(path).ftLastWriteTime), kTimes[1]);
#ifndef _WIN32
  file = Open(path, GENERIC_READ);
  SetLastError(0);
  EXPECT_FALSE(SetFileTime(file, nullptr, nullptr, &w));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  CloseHandle(file);
#endif

  // Writing makes the last-write time the present.
  FILETIME before;
  GetSystemTimeAsFileTime(&before);
  file = Open(path, GENERIC_WRITE);
  DWORD done;
  EXPECT_TRUE(WriteFile(file, "more", 4, &done, nullptr));
  CloseHandle(file);
  EXPECT_GT(Ticks(Entry(path).ftLastWriteTime), kTimes[1]);
  EXPECT_GE(Ticks(Entry(path).ftLastWriteTime) + 20000000ull, Ticks(before));
}

TEST_F(FileSystemTest, SystemTimeConversions) {
  struct Case {
    unsigned long long ticks;
    SYSTEMTIME time;  // year, month, day of week, day, hour, minute, second, ms
  } cases[] = {
      {0, {1601, 1, 1, 1, 0, 0, 0, 0}},
      {50976000000000ull, {1601, 3, 4, 1, 0, 0, 0, 0}},
      {116444736000000000ull, {1970, 1, 4, 1, 0, 0, 0, 0}},
      {125963012967890000ull, {2000, 2, 2, 29, 12, 34, 56, 789}},
      {217427328000000000ull, {2290, 1, 3, 1, 0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ticks);
    SYSTEMTIME st{};
    FILETIME ft = Time(c.ticks);
    ASSERT_TRUE(FileTimeToSystemTime(&ft, &st));
    EXPECT_EQ(std::memcmp(&st, &c.time, sizeof st), 0)
        << st.wYear << "-" << st.wMonth << "-" << st.wDay << " dow " << st.wDayOfWeek << " "
        << st.wHour << ":" << st.wMinute << ":" << st.wSecond << "." << st.wMilliseconds;
    SYSTEMTIME withWrongWeekday = c.time;
    withWrongWeekday.wDayOfWeek = 6;  // ignored
    FILETIME back{};
    ASSERT_TRUE(SystemTimeToFileTime(&withWrongWeekday, &back));
    EXPECT_EQ(Ticks(back), c.ticks);
  }
  const SYSTEMTIME invalid[] = {
      {2000, 13, 0, 1, 0, 0, 0, 0}, {2000, 1, 0, 1, 24, 0, 0, 0}, {2000, 1, 0, 1, 0, 60, 0, 0},
      {2000, 1, 0, 1, 0, 0, 0, 1000}, {1600, 12, 0, 31, 0, 0, 0, 0}, {2000, 4, 0, 31, 0, 0, 0, 0},
#ifndef _WIN32
      {2001, 2, 0, 29, 0, 0, 0, 0},  // Wine takes the 29th of February of any year
#endif
  };
  for (const SYSTEMTIME& st : invalid) {
    FILETIME ft;
    SetLastError(0);
    EXPECT_FALSE(SystemTimeToFileTime(&st, &ft)) << st.wYear << "-" << st.wMonth << "-" << st.wDay;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  }
  FILETIME tooLate = Time(0x8000000000000000ull);
  SYSTEMTIME st;
  SetLastError(0);
  EXPECT_FALSE(FileTimeToSystemTime(&tooLate, &st));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

  FILETIME a = Time(5), b = Time(0x100000004ull);
  EXPECT_EQ(CompareFileTime(&a, &b), -1) << "the high part decides";
  EXPECT_EQ(CompareFileTime(&b, &a), 1);
  EXPECT_EQ(CompareFileTime(&a, &a), 0);

  // The clock: GetSystemTime and GetSystemTimeAsFileTime tell the same time.
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  SYSTEMTIME utc;
  GetSystemTime(&utc);
  FILETIME utcTicks;
  ASSERT_TRUE(SystemTimeToFileTime(&utc, &utcTicks));
  EXPECT_LT(Ticks(utcTicks) - Ticks(now) + 10000000ull, 20000000ull);
}

// ---- attributes ------------------------------------------------------------------------------

TEST_F(FileSystemTest, AttributesRoundTrip) {
  const std::string dir = TempFolder("attr");
  const std::string path = dir + "a.txt";
  WriteFile(path, "a");
  EXPECT_EQ(GetFileAttributesA(path.c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_EQ(GetFileAttributesA(dir.c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  struct Case {
    DWORD set, get;
  } cases[] = {
      {FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_READONLY},
      {FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM},
      {FILE_ATTRIBUTE_NORMAL, FILE_ATTRIBUTE_NORMAL},
      {FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY,
       FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY},
      {FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_HIDDEN},
      {FILE_ATTRIBUTE_ARCHIVE, FILE_ATTRIBUTE_ARCHIVE},
  };
  // Wine reports ARCHIVE on every file, whatever was set.
  auto kept = [](DWORD attributes) {
#ifdef _WIN32
    return attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NORMAL);
#else
    return attributes;
#endif
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.set);
    EXPECT_TRUE(SetFileAttributesA(path.c_str(), c.set));
    EXPECT_EQ(kept(GetFileAttributesA(path.c_str())), kept(c.get));
    EXPECT_EQ(kept(Entry(path).dwFileAttributes), kept(c.get));
  }

  // A read-only file refuses writing and deleting until the attribute goes
  // (Wine run by root opens it for writing all the same).
  EXPECT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));
  SetLastError(0);
  HANDLE writer = Open(path, GENERIC_WRITE);
#ifndef _WIN32
  EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
#endif
  if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
  SetLastError(0);
  EXPECT_FALSE(DeleteFileA(path.c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL));
  EXPECT_TRUE(DeleteFileA(path.c_str()));

  // Attributes given at creation stay, with ARCHIVE added.
  const std::string hidden = dir + "h.txt";
  HANDLE file = Open(hidden, GENERIC_WRITE, 0, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  CloseHandle(file);
  EXPECT_EQ(GetFileAttributesA(hidden.c_str()),
            static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
  SetLastError(0);
  EXPECT_EQ(GetFileAttributesA((dir + "none").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  SetLastError(0);
  EXPECT_FALSE(SetFileAttributesA((dir + "none\\x").c_str(), FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

// ---- moving and copying --------------------------------------------------------------------

TEST_F(FileSystemTest, MoveAndCopy) {
  const std::string dir = TempFolder("move");
  WriteFile(dir + "a.txt", "A");
  WriteFile(dir + "b.txt", "B");
  struct Case {
    const char* title;
    bool copy;
    std::string from, to;
    BOOL failIfExists;
    DWORD error;  // 0: succeeds
  } cases[] = {
      {"move onto an existing file", false, "a.txt", "b.txt", FALSE, ERROR_ALREADY_EXISTS},
      {"move a missing file", false, "none.txt", "c.txt", FALSE, ERROR_FILE_NOT_FOUND},
      {"move into a missing folder", false, "a.txt", "none\\c.txt", FALSE, ERROR_PATH_NOT_FOUND},
      {"copy onto a file, refused", true, "a.txt", "b.txt", TRUE, ERROR_FILE_EXISTS},
      {"copy a missing file", true, "none.txt", "c.txt", FALSE, ERROR_FILE_NOT_FOUND},
      {"copy", true, "a.txt", "c.txt", TRUE, 0},
      {"copy over a file", true, "b.txt", "c.txt", FALSE, 0},
      {"move", false, "a.txt", "d.txt", FALSE, 0},
      {"rename in another case", false, "d.txt", "D.TXT", FALSE, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.title);
    const std::string from = dir + c.from, to = dir + c.to;
    SetLastError(0);
    BOOL ok = c.copy ? CopyFileA(from.c_str(), to.c_str(), c.failIfExists)
                     : MoveFileA(from.c_str(), to.c_str());
    EXPECT_EQ(ok != FALSE, c.error == 0);
    if (c.error) {
      EXPECT_EQ(GetLastError(), c.error);
    }
  }
#ifndef _WIN32
  EXPECT_EQ(NamesOf(Find(dir + "*")), (Names{"b.txt", "c.txt", "D.TXT"}));
#else
  // Wine keeps the old spelling when only the case changes.
  EXPECT_EQ(NamesOf(Find(dir + "*")).size(), 3u);
#endif
  EXPECT_EQ(ReadAll(dir + "c.txt"), "B");
  EXPECT_EQ(ReadAll(dir + "D.TXT"), "A");

  // A copy keeps the last-write time; a move keeps the creation time too.
  FILETIME old = Time(0x01d5c0f5a4b0c000ull);
  HANDLE file = Open(dir + "b.txt", GENERIC_WRITE);
  EXPECT_TRUE(SetFileTime(file, &old, nullptr, &old));
  CloseHandle(file);
  EXPECT_TRUE(CopyFileA((dir + "b.txt").c_str(), (dir + "e.txt").c_str(), TRUE));
  EXPECT_EQ(Ticks(Entry(dir + "e.txt").ftLastWriteTime), Ticks(old));
  EXPECT_TRUE(MoveFileA((dir + "b.txt").c_str(), (dir + "f.txt").c_str()));
  EXPECT_EQ(Ticks(Entry(dir + "f.txt").ftLastWriteTime), Ticks(old));
#ifndef _WIN32
  EXPECT_EQ(Ticks(Entry(dir + "f.txt").ftCreationTime), Ticks(old));
#endif

  // A folder moves with everything in it, short names included.
  ASSERT_TRUE(CreateDirectoryA((dir + "sub").c_str(), nullptr));
  WriteFile(dir + "sub\\Long File Name.txt", "L");
  EXPECT_TRUE(MoveFileA((dir + "sub").c_str(), (dir + "moved").c_str()));
  EXPECT_EQ(NamesOf(Find(dir + "moved\\*")), (Names{"Long File Name.txt"}));
  std::string shortName = Entry(dir + "moved\\Long File Name.txt").cAlternateFileName;
  ASSERT_FALSE(shortName.empty());
  EXPECT_EQ(ReadAll(dir + "moved\\" + shortName), "L");
  EXPECT_EQ(Find(dir + "sub\\*").firstError, static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

// ---- version resources -------------------------------------------------------------------

TEST_F(FileSystemTest, VersionResourcesOfPeFiles) {
  const std::string dir = TempFolder("ver");
  struct Case {
    const char* title;
    std::string content;  // "" writes no file at all
    DWORD error;          // 0: has version information
    unsigned long fileMS, fileLS;
  } cases[] = {
      {"64-bit DLL", Image(true, 16, 1, 0x409, VersionResource(0x00010002, 0x00030004, 0)), 0,
       0x00010002, 0x00030004},
      {"32-bit DLL", Image(false, 16, 1, 0, VersionResource(0x00070000, 0, 0)), 0, 0x00070000, 0},
      {"no version resource", Image(true, 10, 1, 0x409, "raw data"), ERROR_RESOURCE_TYPE_NOT_FOUND,
       0, 0},
      {"not a PE file", "just some text, no image at all", ERROR_RESOURCE_DATA_NOT_FOUND, 0, 0},
      {"missing file", "", ERROR_FILE_NOT_FOUND, 0, 0},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.title);
    const std::string path = dir + "v" + std::to_string(n++) + ".dll";
    if (!c.content.empty()) WriteFile(path, c.content);
    DWORD handle = 0x5555;
    SetLastError(0xDEADBEEF);
    DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
    EXPECT_EQ(handle, 0u);
    if (c.error) {
      EXPECT_EQ(size, 0u);
#ifndef _WIN32
      EXPECT_EQ(GetLastError(), c.error);
#else
      if (c.error == ERROR_FILE_NOT_FOUND) {
        EXPECT_EQ(GetLastError(), c.error);
      } else {
        EXPECT_NE(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
      }
#endif
      continue;
    }
    ASSERT_GT(size, 0u);
    std::vector<char> block(size);
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, block.data()));
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&info), &length));
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(length, sizeof(VS_FIXEDFILEINFO));
    EXPECT_EQ(info->dwSignature, static_cast<DWORD>(VS_FFI_SIGNATURE));
    EXPECT_EQ(info->dwFileVersionMS, c.fileMS);
    EXPECT_EQ(info->dwFileVersionLS, c.fileLS);
    EXPECT_EQ(info->dwFileType, static_cast<DWORD>(VFT_DLL));

    char* text = nullptr;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\StringFileInfo\\040904B0\\FileVersion",
                               reinterpret_cast<void**>(&text), &length));
    EXPECT_STREQ(text, "1.2.3.4");
    DWORD* translation = nullptr;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translation), &length));
    EXPECT_EQ(length, 4u);
    EXPECT_EQ(*translation, 0x04B00409u);
    SetLastError(0);
    EXPECT_FALSE(VerQueryValueA(block.data(), "\\StringFileInfo\\040904b0\\Missing",
                                reinterpret_cast<void**>(&text), &length));
    EXPECT_EQ(length, 0u);
  }
}

// ---- disks ---------------------------------------------------------------------------------

TEST_F(FileSystemTest, DiskSizesAgreeAndMissingPlacesFail) {
  const std::string dir = TempFolder("disk");
  WriteFile(dir + "file.txt", "f");
  ULARGE_INTEGER available{}, total{}, free{};
  ASSERT_TRUE(GetDiskFreeSpaceExA(dir.c_str(), &available, &total, &free));
  EXPECT_GT(total.QuadPart, 0u);
  EXPECT_LE(free.QuadPart, total.QuadPart);
  EXPECT_LE(available.QuadPart, free.QuadPart);
  DWORD sectors = 0, bytes = 0, freeClusters = 0, clusters = 0;
  ASSERT_TRUE(GetDiskFreeSpaceA("C:\\", &sectors, &bytes, &freeClusters, &clusters));
  unsigned long long cluster = static_cast<unsigned long long>(sectors) * bytes;
  ASSERT_GT(cluster, 0u);
  EXPECT_LT(total.QuadPart - clusters * cluster, cluster) << "both calls see the same disk";

  // The function a program looks up by name is the same one.
  HMODULE kernel = LoadLibraryA("kernel32.dll");
  ASSERT_NE(kernel, nullptr);
  using FreeSpaceEx = BOOL(WINAPI*)(LPCSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER);
  auto byName = reinterpret_cast<FreeSpaceEx>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "GetDiskFreeSpaceExA")));
  ASSERT_NE(byName, nullptr);
  ULARGE_INTEGER totalByName{};
  EXPECT_TRUE(byName(dir.c_str(), nullptr, &totalByName, nullptr));
  EXPECT_EQ(totalByName.QuadPart, total.QuadPart);
  FreeLibrary(kernel);

  struct Case {
    std::string path;
    DWORD error;
  } cases[] = {
      {"Q:\\nowhere\\at\\all\\", ERROR_PATH_NOT_FOUND},
      {dir + "missing\\", ERROR_FILE_NOT_FOUND},
      {dir + "missing\\deeper\\", ERROR_PATH_NOT_FOUND},
      {dir + "file.txt", ERROR_DIRECTORY},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    SetLastError(0);
    EXPECT_FALSE(GetDiskFreeSpaceExA(c.path.c_str(), &available, &total, &free));
    EXPECT_EQ(GetLastError(), c.error);
    SetLastError(0);
    EXPECT_FALSE(GetDiskFreeSpaceA(c.path.c_str(), &sectors, &bytes, &freeClusters, &clusters));
    EXPECT_EQ(GetLastError(), c.error);
  }
}

#ifndef _WIN32
TEST_F(FileSystemTest, DiskSizesSetByTheTest) {
  const unsigned long long kGiB = 1ull << 30, kTiB = 1ull << 40;
  struct Case {
    char drive;
    unsigned long long total, free;
    DWORD sectorsPerCluster;
  } cases[] = {
      {'D', 5 * kGiB, 2 * kGiB, 8},            // above 4 GB
      {'E', 3 * kGiB + 4096 * 3 + 100, 4096 * 2 + 5, 8},
      {'F', 40 * kTiB, 33 * kTiB, 32},         // 16 KB clusters keep the count in 32 bits
      {'G', 20000 * kTiB, 1 * kTiB, 4096},     // more than even 2 MB clusters count
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.drive);
    winsim::SetDiskSize(c.drive, c.total, c.free);
    const std::string root = std::string(1, c.drive) + ":\\";
    ULARGE_INTEGER available{}, total{}, free{};
    ASSERT_TRUE(GetDiskFreeSpaceExA(root.c_str(), &available, &total, &free));
    EXPECT_EQ(total.QuadPart, c.total);
    EXPECT_EQ(free.QuadPart, c.free);
    EXPECT_EQ(available.QuadPart, c.free);
    DWORD sectors = 0, bytes = 0, freeClusters = 0, clusters = 0;
    ASSERT_TRUE(GetDiskFreeSpaceA(root.c_str(), &sectors, &bytes, &freeClusters, &clusters));
    EXPECT_EQ(bytes, 512u);
    EXPECT_EQ(sectors, c.sectorsPerCluster);
    unsigned long long cluster = 512ull * c.sectorsPerCluster;
    EXPECT_EQ(clusters, std::min<unsigned long long>(c.total / cluster, 0xFFFFFFFFull));
    EXPECT_EQ(freeClusters, std::min<unsigned long long>(c.free / cluster, 0xFFFFFFFFull));
  }

  // Either call can be made to fail for a drive; the other still answers.
  winsim::FailDiskCall('D', winsim::DiskCall::kFreeSpaceEx, 21 /* ERROR_NOT_READY */);
  ULARGE_INTEGER total{};
  SetLastError(0);
  EXPECT_FALSE(GetDiskFreeSpaceExA("D:\\", nullptr, &total, nullptr));
  EXPECT_EQ(GetLastError(), 21u);
  DWORD clusters = 0;
  EXPECT_TRUE(GetDiskFreeSpaceA("D:\\", nullptr, nullptr, nullptr, &clusters));
  winsim::FailDiskCall('D', winsim::DiskCall::kFreeSpace, 21);
  EXPECT_FALSE(GetDiskFreeSpaceA("D:\\", nullptr, nullptr, nullptr, &clusters));
  winsim::ResetDisks();
  EXPECT_TRUE(GetDiskFreeSpaceExA("D:\\", nullptr, &total, nullptr));
  EXPECT_EQ(total.QuadPart, 256 * kGiB) << "the default size";
}
#endif

}  // namespace
