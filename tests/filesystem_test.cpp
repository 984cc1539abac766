// The file system through the Win32 API: listings and patterns, 8.3 names,
// file handles, times, attributes, moving, version resources of PE files, and
// disk sizes.
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

// Expects `failed` to be true and the call in it to leave `error` as the last error.
#define EXPECT_FAILS(failed, error)                           \
  do {                                                        \
    SetLastError(0);                                          \
    EXPECT_TRUE(failed);                                      \
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(error));     \
  } while (0)

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
  std::size_t handles_ = winsim::OpenKernelHandleCount();
  void TearDown() override {
    EXPECT_EQ(winsim::OpenKernelHandleCount(), handles_) << "kernel handles left open";
  }
#endif
};

// ---- listings -------------------------------------------------------------------------

TEST_F(FileSystemTest, ListingHasDotsFirstThenEveryEntry) {
  const std::string dir = TempFolder("list");
  WriteFile(dir + "b.txt", "abc");
  WriteFile(dir + "A.dat", "");
  ASSERT_TRUE(CreateDirectoryA((dir + "sub").c_str(), nullptr));
  Listing listing = Find(dir + "*");
  ASSERT_EQ(listing.entries.size(), 5u);
  EXPECT_STREQ(listing.entries[0].cFileName, ".");
  EXPECT_STREQ(listing.entries[1].cFileName, "..");
  EXPECT_EQ(NamesOf(listing), (Names{"A.dat", "b.txt", "sub"}));
  EXPECT_EQ(listing.endError, static_cast<DWORD>(ERROR_NO_MORE_FILES));
  for (const auto& e : listing.entries) {
    bool folder = e.cFileName[0] == '.' || std::strcmp(e.cFileName, "sub") == 0;
    EXPECT_EQ((e.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0, folder) << e.cFileName;
    if (std::strcmp(e.cFileName, "b.txt") == 0) { EXPECT_EQ(e.nFileSizeLow, 3u); }
  }
#ifndef _WIN32
  // NTFS keeps a folder sorted by upper-case name.
  EXPECT_STREQ(listing.entries[2].cFileName, "A.dat");
  EXPECT_STREQ(listing.entries[3].cFileName, "b.txt");
#endif
  // The root of a drive has no "." or "..".
  for (const auto& e : Find("C:\\*").entries) EXPECT_NE(e.cFileName[0], '.') << e.cFileName;
}

TEST_F(FileSystemTest, PatternsFindWhatWindowsFinds) {
  const std::string dir = TempFolder("wild");
  for (const char* name : {"a", "ab.txt", "abc.txt", "x.html", "readme"}) WriteFile(dir + name, name);
  struct Case {
    std::string pattern;  // below the folder
    Names names;
    DWORD error;      // of FindFirstFileA when nothing is found
    bool nativeOnly;  // rules of NTFS that Wine does not follow
  } cases[] = {
      {"*.*", {"a", "ab.txt", "abc.txt", "x.html", "readme"}, 0, false},  // also names without a dot
      {"A?.TXT", {"ab.txt"}, 0, false},
      {"ABC.TXT", {"abc.txt"}, 0, false},
      {"*.htm", {"x.html"}, 0, false},  // through the short name X~1.HTM
      {"*.", {"a", "readme"}, 0, true},  // "*." is "no extension"
      {"nothing*", {}, ERROR_FILE_NOT_FOUND, false},
      {"", {}, ERROR_FILE_NOT_FOUND, false},  // the folder with its trailing "\"
      {"missing\\*", {}, ERROR_PATH_NOT_FOUND, false},
      {"missing\\abc.txt", {}, ERROR_PATH_NOT_FOUND, false},
      {"abc.txt\\*", {}, ERROR_DIRECTORY, true},  // Wine: 123
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pattern);
    Listing listing = Find(dir + c.pattern);
#ifdef _WIN32
    if (c.nativeOnly) {
      if (c.error) { EXPECT_NE(listing.firstError, 0u); }
      continue;
    }
#endif
    EXPECT_EQ(NamesOf(listing), c.names);
    EXPECT_EQ(listing.firstError, c.error);
    EXPECT_EQ(listing.endError, c.error ? 0u : static_cast<DWORD>(ERROR_NO_MORE_FILES));
  }
  WIN32_FIND_DATAA data;
  EXPECT_FAILS(!FindNextFileA(INVALID_HANDLE_VALUE, &data), ERROR_INVALID_HANDLE);
  EXPECT_FAILS(!FindClose(INVALID_HANDLE_VALUE), ERROR_INVALID_HANDLE);
}

// ---- 8.3 names --------------------------------------------------------------------------

TEST_F(FileSystemTest, LongNamesGetShortNamesThatOpenThem) {
  const std::string dir = TempFolder("short");
  for (const char* name : {"Long Name.txt", "two.dots.txt", "toolongname.txt", "a b"}) {
    SCOPED_TRACE(name);
    WriteFile(dir + name, name);
    std::string shortName = ShortName(dir + name);
    EXPECT_TRUE(std::regex_match(shortName, std::regex("[^ .]{1,8}(\\.[^ .]{1,3})?")))
        << shortName;
    EXPECT_STREQ(Entry(dir + shortName).cFileName, name);
    EXPECT_EQ(ReadWholeFile(dir + shortName), name);
  }
  for (const char* name : {"README", "ReadMe.Txt"}) {  // 8.3 already, whatever the case
    WriteFile(dir + name, name);
    EXPECT_EQ(ShortName(dir + name), "") << name;
  }
}

#ifndef _WIN32
TEST_F(FileSystemTest, NtfsShortNameNumbering) {
  const std::string dir = TempFolder("ntfs");
  // The first four take ~1 to ~4 in creation order, then the hashed form.
  for (int i = 1; i <= 6; ++i) WriteFile(dir + "Long Name " + std::to_string(i) + ".txt", "");
  for (int i = 1; i <= 4; ++i)
    EXPECT_EQ(ShortName(dir + "Long Name " + std::to_string(i) + ".txt"),
              "LONGNA~" + std::to_string(i) + ".TXT");
  const std::string fifth = ShortName(dir + "Long Name 5.txt");
  const std::string sixth = ShortName(dir + "Long Name 6.txt");
  EXPECT_TRUE(std::regex_match(fifth, std::regex("LO[0-9A-F]{4}~[1-9]\\.TXT"))) << fifth;
  EXPECT_TRUE(std::regex_match(sixth, std::regex("LO[0-9A-F]{4}~[1-9]\\.TXT"))) << sixth;
  EXPECT_NE(fifth, sixth);
  const char* cases[][2] = {
      {"a b.txt", "AB~1.TXT"},          {".gitignore", "GITIGN~1"},
      {"a+b=c[1].txt", "A_B_C_~1.TXT"}, {"file.tar.gz", "FILETA~1.GZ"},
      {"verylongname.abcd", "VERYLO~1.ABC"},
  };
  for (const auto& c : cases) {
    WriteFile(dir + c[0], "");
    EXPECT_EQ(ShortName(dir + c[0]), c[1]) << c[0];
  }

  // A freed number is handed out again; a renamed file gets the short name of its new name.
  EXPECT_TRUE(DeleteFileA((dir + "Long Name 2.txt").c_str()));
  WriteFile(dir + "Long Name 7.txt", "");
  EXPECT_EQ(ShortName(dir + "Long Name 7.txt"), "LONGNA~2.TXT");
  EXPECT_TRUE(MoveFileA((dir + "Long Name 7.txt").c_str(), (dir + "Other Name.txt").c_str()));
  EXPECT_EQ(ShortName(dir + "Other Name.txt"), "OTHERN~1.TXT");
}
#endif

// ---- file handles ------------------------------------------------------------------------

TEST_F(FileSystemTest, DispositionsAppendingSharingAndHandleRights) {
  struct Case {
    DWORD disposition;
    bool exists, opens;
    DWORD error;               // GetLastError afterwards, also on success
    const char* contentAfter;  // null: no file
  } cases[] = {
      {CREATE_NEW, true, false, ERROR_FILE_EXISTS, "old"},
      {CREATE_ALWAYS, true, true, ERROR_ALREADY_EXISTS, ""},
      {CREATE_ALWAYS, false, true, ERROR_SUCCESS, ""},
      {OPEN_EXISTING, true, true, ERROR_SUCCESS, "old"},
      {OPEN_EXISTING, false, false, ERROR_FILE_NOT_FOUND, nullptr},
      {OPEN_ALWAYS, true, true, ERROR_ALREADY_EXISTS, "old"},
      {TRUNCATE_EXISTING, true, true, ERROR_SUCCESS, ""},
  };
  const std::string dir = TempFolder("disp");
  int n = 0;
  for (const Case& c : cases) {
    const std::string path = dir + "f" + std::to_string(n++) + ".txt";
    SCOPED_TRACE(path);
    if (c.exists) WriteFile(path, "old");
    SetLastError(0xDEADBEEF);
    HANDLE file = Open(path, GENERIC_READ | GENERIC_WRITE, 0, c.disposition, FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(GetLastError(), c.error);
    EXPECT_EQ(file != INVALID_HANDLE_VALUE, c.opens);
    if (file != INVALID_HANDLE_VALUE) { EXPECT_TRUE(CloseHandle(file)); }
    EXPECT_EQ(ReadWholeFile(path), c.contentAfter ? c.contentAfter : "<cannot open>");
  }
  EXPECT_FAILS(Open(dir + "none\\f.txt", GENERIC_WRITE, 0, CREATE_ALWAYS) == INVALID_HANDLE_VALUE,
               ERROR_PATH_NOT_FOUND);
  EXPECT_FAILS(Open(dir, GENERIC_READ) == INVALID_HANDLE_VALUE, ERROR_ACCESS_DENIED);

  const std::string path = dir + "data.bin";
  WriteFile(path, "hello");
  // Appending the way a log line is added: open, move to the end, write.
  HANDLE file = Open(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_END), 5u);
  DWORD done = 0;
  EXPECT_TRUE(WriteFile(file, " world", 6, &done, nullptr));
  EXPECT_EQ(done, 6u);
  EXPECT_EQ(GetFileSize(file, nullptr), 11u);
  char buffer[16];
  EXPECT_FAILS(!ReadFile(file, buffer, 1, &done, nullptr), ERROR_ACCESS_DENIED);
  // A second handle must share the access of the first one.
  EXPECT_FAILS(Open(path, GENERIC_READ, FILE_SHARE_READ) == INVALID_HANDLE_VALUE,
               ERROR_SHARING_VIOLATION);
  HANDLE reader = Open(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(CloseHandle(file));
  EXPECT_FAILS(!CloseHandle(file), ERROR_INVALID_HANDLE);

  EXPECT_EQ(SetFilePointer(reader, -5, nullptr, FILE_END), 6u);
  EXPECT_TRUE(ReadFile(reader, buffer, sizeof buffer, &done, nullptr));
  EXPECT_EQ(std::string(buffer, done), "world");
  EXPECT_TRUE(ReadFile(reader, buffer, sizeof buffer, &done, nullptr)) << "reading at the end";
  EXPECT_EQ(done, 0u);
  EXPECT_FAILS(SetFilePointer(reader, -20, nullptr, FILE_CURRENT) == INVALID_SET_FILE_POINTER,
               ERROR_NEGATIVE_SEEK);
  EXPECT_FAILS(!WriteFile(reader, "x", 1, &done, nullptr), ERROR_ACCESS_DENIED);
  CloseHandle(reader);
  // The first handle must share the access of the second one.
  reader = Open(path, GENERIC_READ, FILE_SHARE_READ);
  EXPECT_FAILS(Open(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE) == INVALID_HANDLE_VALUE,
               ERROR_SHARING_VIOLATION);
  EXPECT_EQ(ReadWholeFile(path), "hello world");
  CloseHandle(reader);
}

// ---- times ---------------------------------------------------------------------------------

TEST_F(FileSystemTest, FileTimesConversionsAndTheClock) {
  const std::string path = TempFolder("times") + "t.txt";
  WriteFile(path, "t");
  // A creation time later than the last write, as a moved file can have.
  const unsigned long long created = 0x0250000000000000ull, written = 0x01b0000000000000ull,
                           accessed = written + 10000000ull;
  FILETIME c = Time(created), a = Time(accessed), w = Time(written), zero = Time(0);
  HANDLE file = Open(path, GENERIC_WRITE);
  EXPECT_TRUE(SetFileTime(file, &c, &a, &w));
  // Null and zero times leave a time alone.
  EXPECT_TRUE(SetFileTime(file, nullptr, nullptr, nullptr));
  EXPECT_TRUE(SetFileTime(file, nullptr, &zero, &zero));
  CloseHandle(file);
  file = Open(path, GENERIC_READ);
  FILETIME gotC{}, gotA{}, gotW{};
  EXPECT_TRUE(GetFileTime(file, &gotC, &gotA, &gotW));
  CloseHandle(file);
  EXPECT_EQ(Ticks(gotW), written);
  EXPECT_EQ(Ticks(gotA), accessed);
  EXPECT_EQ(Ticks(Entry(path).ftLastWriteTime), written);
#ifndef _WIN32
  // NTFS keeps a creation time of its own (Wine reports the last write).
  EXPECT_EQ(Ticks(gotC), created);
  EXPECT_EQ(Ticks(Entry(path).ftCreationTime), created);
#endif

  // Writing makes the last-write time the present.
  FILETIME before;
  GetSystemTimeAsFileTime(&before);
  file = Open(path, GENERIC_WRITE);
  DWORD done;
  EXPECT_TRUE(WriteFile(file, "more", 4, &done, nullptr));
  CloseHandle(file);
  EXPECT_GE(Ticks(Entry(path).ftLastWriteTime) + 20000000ull, Ticks(before));

  FILETIME early = Time(5), late = Time(0x100000004ull);
  EXPECT_EQ(CompareFileTime(&early, &late), -1) << "the high part decides";
  EXPECT_EQ(CompareFileTime(&late, &early), 1);
  EXPECT_EQ(CompareFileTime(&early, &early), 0);

  // A leap day with milliseconds: year, month, day of week, day, hour, minute, second, ms.
  const unsigned long long kTicks = 125963012967890000ull;
  const SYSTEMTIME kTime = {2000, 2, 2, 29, 12, 34, 56, 789};
  SYSTEMTIME st{};
  FILETIME ft = Time(kTicks), back{};
  ASSERT_TRUE(FileTimeToSystemTime(&ft, &st));
  EXPECT_EQ(std::memcmp(&st, &kTime, sizeof st), 0) << st.wYear << "-" << st.wMonth << "-"
      << st.wDay << " dow " << st.wDayOfWeek << " " << st.wHour << ":" << st.wMinute << ":"
      << st.wSecond << "." << st.wMilliseconds;
  st.wDayOfWeek = 6;  // ignored
  ASSERT_TRUE(SystemTimeToFileTime(&st, &back));
  EXPECT_EQ(Ticks(back), kTicks);
  // GetSystemTime and GetSystemTimeAsFileTime tell the same time.
  FILETIME now, utcTicks;
  GetSystemTimeAsFileTime(&now);
  SYSTEMTIME utc;
  GetSystemTime(&utc);
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
  // Wine reports ARCHIVE on every file, whatever was set.
#ifdef _WIN32
  const DWORD kept = ~static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NORMAL);
#else
  const DWORD kept = ~0u;
#endif
  const DWORD cases[][2] = {  // set, read back
      {FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY},
      {FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_HIDDEN},
      {FILE_ATTRIBUTE_NORMAL, FILE_ATTRIBUTE_NORMAL},
  };
  for (const auto& c : cases) {
    EXPECT_TRUE(SetFileAttributesA(path.c_str(), c[0]));
    EXPECT_EQ(GetFileAttributesA(path.c_str()) & kept, c[1] & kept) << c[0];
    EXPECT_EQ(Entry(path).dwFileAttributes & kept, c[1] & kept) << c[0];
  }

  // A read-only file refuses writing and deleting until the attribute goes
  // (Wine run by root opens it for writing all the same).
  EXPECT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));
#ifndef _WIN32
  EXPECT_FAILS(Open(path, GENERIC_WRITE) == INVALID_HANDLE_VALUE, ERROR_ACCESS_DENIED);
#endif
  EXPECT_FAILS(!DeleteFileA(path.c_str()), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL));
  EXPECT_TRUE(DeleteFileA(path.c_str()));
}

// ---- moving ---------------------------------------------------------------------------------

TEST_F(FileSystemTest, MoveFilesAndFolders) {
  const std::string dir = TempFolder("move");
  WriteFile(dir + "a.txt", "A");
  WriteFile(dir + "b.txt", "B");
  auto move = [&](const std::string& from, const std::string& to) {
    return MoveFileA((dir + from).c_str(), (dir + to).c_str()) != FALSE;
  };
  EXPECT_FAILS(!move("a.txt", "b.txt"), ERROR_ALREADY_EXISTS);
  EXPECT_FAILS(!move("none.txt", "c.txt"), ERROR_FILE_NOT_FOUND);
  EXPECT_FAILS(!move("a.txt", "none\\c.txt"), ERROR_PATH_NOT_FOUND);
  EXPECT_TRUE(move("a.txt", "d.txt"));
  EXPECT_TRUE(move("d.txt", "D.TXT"));  // a rename in another case
#ifndef _WIN32
  EXPECT_EQ(NamesOf(Find(dir + "*")), (Names{"b.txt", "D.TXT"}));
#else
  // Wine keeps the old spelling when only the case changes.
  EXPECT_EQ(NamesOf(Find(dir + "*")).size(), 2u);
#endif
  EXPECT_EQ(ReadWholeFile(dir + "D.TXT"), "A");

  // A move keeps the last-write time, and on NTFS the creation time too.
  FILETIME old = Time(0x01d5c0f5a4b0c000ull);
  HANDLE file = Open(dir + "b.txt", GENERIC_WRITE);
  EXPECT_TRUE(SetFileTime(file, &old, nullptr, &old));
  CloseHandle(file);
  EXPECT_TRUE(move("b.txt", "f.txt"));
  EXPECT_EQ(Ticks(Entry(dir + "f.txt").ftLastWriteTime), Ticks(old));
#ifndef _WIN32
  EXPECT_EQ(Ticks(Entry(dir + "f.txt").ftCreationTime), Ticks(old));
#endif
}

// ---- paths longer than MAX_PATH ----------------------------------------------------------

// The ANSI calls take paths of up to MAX_PATH characters: one more fails with
// ERROR_FILENAME_EXCED_RANGE before anything is looked at, even where the
// path would name something once made full ("..").
TEST_F(FileSystemTest, AnsiPathsPastMaxPathFail) {
  const std::string dir = TempFolder("maxpath");
  auto ofLength = [&](std::size_t length) {
    std::string path = dir;
    path.resize(length, 'x');
    return path;
  };
  const std::string longest = ofLength(MAX_PATH), over = ofLength(MAX_PATH + 1);
  std::string dotted = dir + "d";  // names the folder d once made full
  while (dotted.size() <= MAX_PATH) dotted += "\\.";
  WIN32_FIND_DATAA data;
  ULARGE_INTEGER free, total, totalFree;

  // MAX_PATH characters are fine.
  EXPECT_TRUE(CreateDirectoryA(longest.c_str(), nullptr));
  EXPECT_EQ(GetFileAttributesA(longest.c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_EQ(Find(longest).entries.size(), 1u);
  EXPECT_TRUE(RemoveDirectoryA(longest.c_str()));
  HANDLE file = Open(longest, GENERIC_WRITE, 0, CREATE_NEW);
  EXPECT_NE(file, INVALID_HANDLE_VALUE);
  CloseHandle(file);
  EXPECT_TRUE(MoveFileA(longest.c_str(), (dir + "moved").c_str()));
  EXPECT_TRUE(MoveFileA((dir + "moved").c_str(), longest.c_str()));
  EXPECT_TRUE(SetFileAttributesA(longest.c_str(), FILE_ATTRIBUTE_NORMAL));
  EXPECT_TRUE(DeleteFileA(longest.c_str()));

  // One more is too long, for every call.
  CreateDirectoryA((dir + "d").c_str(), nullptr);
  WriteFile(dir + "kept", "k");
  for (const std::string& path : {over, over + "\\" + std::string(40, 'y'), dotted}) {
    SCOPED_TRACE(path.size());
    EXPECT_FAILS(!CreateDirectoryA(path.c_str(), nullptr), ERROR_FILENAME_EXCED_RANGE);
    EXPECT_FAILS(Open(path, GENERIC_WRITE, 0, CREATE_ALWAYS) == INVALID_HANDLE_VALUE,
                 ERROR_FILENAME_EXCED_RANGE);
    EXPECT_FAILS(Open(path, GENERIC_READ) == INVALID_HANDLE_VALUE, ERROR_FILENAME_EXCED_RANGE);
    EXPECT_FAILS(GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES,
                 ERROR_FILENAME_EXCED_RANGE);
    EXPECT_FAILS(!SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL),
                 ERROR_FILENAME_EXCED_RANGE);
    EXPECT_FAILS(!DeleteFileA(path.c_str()), ERROR_FILENAME_EXCED_RANGE);
    EXPECT_FAILS(!RemoveDirectoryA(path.c_str()), ERROR_FILENAME_EXCED_RANGE);
    EXPECT_FAILS(FindFirstFileA(path.c_str(), &data) == INVALID_HANDLE_VALUE,
                 ERROR_FILENAME_EXCED_RANGE);
    EXPECT_FAILS(!MoveFileA(path.c_str(), (dir + "moved").c_str()), ERROR_FILENAME_EXCED_RANGE);
    EXPECT_FAILS(!CopyFileA(path.c_str(), (dir + "copied").c_str(), FALSE),
                 ERROR_FILENAME_EXCED_RANGE);
    EXPECT_FAILS(!GetDiskFreeSpaceExA(path.c_str(), &free, &total, &totalFree),
                 ERROR_FILENAME_EXCED_RANGE);
  }
  EXPECT_EQ(GetFileAttributesA((dir + "kept").c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_EQ(GetFileAttributesA(over.c_str()), INVALID_FILE_ATTRIBUTES);
}

// The limit counts characters, not bytes: a double-byte character is one.
TEST(FileSystemDbcs, MaxPathCountsCharacters) {
  if (GetACP() != 932) GTEST_SKIP() << "needs code page 932";
  const std::string dir = TempFolder("maxpathdbcs");
  // Folders of 40 characters each, to MAX_PATH characters in all.
  std::string longest = dir;
  for (std::size_t characters = dir.size(), inName = 0; characters < MAX_PATH; ++characters) {
    if (inName == 40 && characters + 1 < MAX_PATH) {
      EXPECT_TRUE(CreateDirectoryA(longest.c_str(), nullptr));
      longest += "\\";
      inName = 0;
    } else {
      longest += "\x83\x41";  // one character
      ++inName;
    }
  }
  ASSERT_GT(longest.size(), static_cast<std::size_t>(MAX_PATH));
  EXPECT_TRUE(CreateDirectoryA(longest.c_str(), nullptr));
  EXPECT_EQ(GetFileAttributesA(longest.c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_TRUE(RemoveDirectoryA(longest.c_str()));
  EXPECT_FAILS(!CreateDirectoryA((longest + "\x83\x41").c_str(), nullptr),
               ERROR_FILENAME_EXCED_RANGE);
}

// ---- version resources -------------------------------------------------------------------

TEST_F(FileSystemTest, VersionResourcesOfPeFiles) {
  const std::string dir = TempFolder("ver");
  struct Case {
    std::string content;  // "" writes no file at all
    bool versioned;
    unsigned long fileMS, fileLS, dateMS;
  } cases[] = {
      {Image(true, 16, 1, 0x409, VersionResource(0x00010002, 0x00030004, 0)), true, 0x00010002,
       0x00030004, 0},
      {Image(false, 16, 1, 0, VersionResource(0x00070000, 0, 0x1234)), true, 0x00070000, 0, 0x1234},
      {Image(true, 10, 1, 0x409, "raw data"), false, 0, 0, 0},  // no version resource
      {"just some text, no image at all", false, 0, 0, 0},
      {"", false, 0, 0, 0},
  };
  int n = 0;
  for (const Case& c : cases) {
    const std::string path = dir + "v" + std::to_string(n++) + ".dll";
    SCOPED_TRACE(path);
    if (!c.content.empty()) WriteFile(path, c.content);
    DWORD handle = 0x5555;
    SetLastError(0);
    DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
    EXPECT_EQ(handle, 0u);
    if (!c.versioned) {
      EXPECT_EQ(size, 0u);
      EXPECT_EQ(GetLastError() == ERROR_FILE_NOT_FOUND, c.content.empty()) << GetLastError();
      EXPECT_NE(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
      continue;
    }
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
    EXPECT_EQ(info->dwFileDateMS, c.dateMS);
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

  const std::pair<std::string, DWORD> cases[] = {
      {dir + "missing\\", ERROR_FILE_NOT_FOUND},
      {dir + "missing\\deeper\\", ERROR_PATH_NOT_FOUND},
      {dir + "file.txt", ERROR_DIRECTORY},
  };
  for (const auto& [path, error] : cases) {
    SCOPED_TRACE(path);
    EXPECT_FAILS(!GetDiskFreeSpaceExA(path.c_str(), &available, &total, &free), error);
    EXPECT_FAILS(!GetDiskFreeSpaceA(path.c_str(), &sectors, &bytes, &freeClusters, &clusters),
                 error);
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
  winsim::ResetDisks();
  ULARGE_INTEGER total{};
  EXPECT_TRUE(GetDiskFreeSpaceExA("D:\\", nullptr, &total, nullptr));
  EXPECT_EQ(total.QuadPart, 256 * kGiB) << "the default size";
}
#endif

}  // namespace
