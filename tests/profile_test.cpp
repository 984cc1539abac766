// Paths of the sandboxed file system and the INI profile functions, at the
// Win32 boundary.
#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/fixture.h"
#ifndef _WIN32
#include "winsim/control.h"
#endif

using namespace viduzo_test;

namespace {

std::string Cased(std::string text, bool upper) {
  upper ? CharUpperA(&text[0]) : CharLowerA(&text[0]);
  return text;
}

// ---- file system ---------------------------------------------------------------------

TEST(FilePaths, SpellingsOfOnePathNameTheSameFolder) {
  const std::string dir = TempFolder("kernpath");  // ends in "\"
  ASSERT_TRUE(CreateDirectoryA((dir + "Sub").c_str(), nullptr));
  std::string forward = dir;
  for (char& c : forward)
    if (c == '\\') c = '/';
  for (const std::string& spelling : {Cased(dir, false) + "sub", Cased(dir, true) + "SUB\\",
                                      forward + "Sub", dir + ".\\Sub\\..\\Sub", dir + "\\Sub"})
    EXPECT_EQ(GetFileAttributesA(spelling.c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY))
        << spelling;
}

TEST(FilePaths, ErrorCodes) {
  const std::string dir = TempFolder("kernerr");
  const std::string sub = dir + "Sub", file = dir + "file.ini", missing = dir + "missing";
  ASSERT_TRUE(CreateDirectoryA(sub.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA((sub + "\\inner").c_str(), nullptr));
  WriteFile(file, "");
  auto create = [](const std::string& p) { return CreateDirectoryA(p.c_str(), nullptr) != FALSE; };
  auto remove = [](const std::string& p) { return RemoveDirectoryA(p.c_str()) != FALSE; };
  auto erase = [](const std::string& p) { return DeleteFileA(p.c_str()) != FALSE; };
  auto attributes = [](const std::string& p) {
    return GetFileAttributesA(p.c_str()) != INVALID_FILE_ATTRIBUTES;
  };
  struct Case {
    const char* what;
    bool (*call)(const std::string&);
    std::string path;
    DWORD error;
  } cases[] = {
      {"create existing folder", +create, Cased(sub, true), ERROR_ALREADY_EXISTS},
      {"create over a file", +create, file, ERROR_ALREADY_EXISTS},
      {"create in missing folder", +create, missing + "\\child", ERROR_PATH_NOT_FOUND},
      {"remove folder that is not empty", +remove, sub, ERROR_DIR_NOT_EMPTY},
      {"remove a file", +remove, file, ERROR_DIRECTORY},
      {"delete missing file", +erase, missing + ".txt", ERROR_FILE_NOT_FOUND},
      {"delete a folder", +erase, sub, ERROR_ACCESS_DENIED},
      {"attributes of missing file", +attributes, missing + ".txt", ERROR_FILE_NOT_FOUND},
      {"attributes in missing folder", +attributes, missing + "\\x.txt", ERROR_PATH_NOT_FOUND},
  };
  for (const Case& c : cases) {
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(c.call(c.path)) << c.what;
    EXPECT_EQ(GetLastError(), c.error) << c.what;
  }
  EXPECT_TRUE(RemoveDirectoryA((sub + "\\inner").c_str()));
  EXPECT_TRUE(RemoveDirectoryA(sub.c_str()));
}

TEST(FilePaths, TempPathSizeProtocol) {
  char path[MAX_PATH];
  DWORD length = GetTempPathA(MAX_PATH, path);
  ASSERT_GT(length, 3u);
  EXPECT_EQ(length, std::strlen(path));
  EXPECT_EQ(path[length - 1], '\\');
  EXPECT_EQ(GetTempPathA(0, nullptr), length + 1);
  char exact[MAX_PATH];
  EXPECT_EQ(GetTempPathA(length + 1, exact), length);
  EXPECT_STREQ(exact, path);
}

TEST(FilePathsDbcs, TrailByteBackslashIsNotASeparator) {
  if (GetACP() != 932) GTEST_SKIP() << "needs code page 932";
  const std::string dir = TempFolder("kerndbcs");
  const std::string folder = dir + "\x83\x5C";  // "ソ": trail byte 0x5C
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr)) << GetLastError();
  EXPECT_EQ(GetFileAttributesA((folder + "\\").c_str()),
            static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  ASSERT_TRUE(WritePrivateProfileStringA("s", "k", "v", (folder + "\\a.ini").c_str()));
  char value[8];
  EXPECT_EQ(GetPrivateProfileStringA("s", "k", "", value, sizeof(value), (folder + "\\A.INI").c_str()), 1u);
  EXPECT_EQ(GetFileAttributesA((folder + "\\a.ini").c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
  // "\x83\x5C" "a.ini" is one name in the folder above, which has no such file:
  // a path split at the trail byte would find the file made above.
  EXPECT_EQ(GetFileAttributesA((dir + "\x83\x5C" "a.ini").c_str()), INVALID_FILE_ATTRIBUTES);
}

#ifndef _WIN32
TEST(FilePathsNative, ASharePathWorksOnceItsFolderExists) {
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CreateDirectoryA("\\\\server\\share\\dir", nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  ASSERT_EQ(std::system(("mkdir -p '" + winsim::HostPath("\\\\Server\\Share") + "'").c_str()), 0);
  EXPECT_TRUE(CreateDirectoryA("\\\\SERVER\\share\\dir", nullptr));
  EXPECT_EQ(GetFileAttributesA("//server/SHARE/Dir"), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_TRUE(RemoveDirectoryA("\\\\server\\share\\dir"));
}
#endif

// ---- profiles ----------------------------------------------------------------------------

TEST(IniProfile, ReadValues) {
  const std::string dir = TempFolder("kernini"), file = dir + "read.ini";
  WriteFile(file,
            "; settings\r\n"
            "[section1]\r\n"
            "name1=val1\r\n"
            "name2=\"val2\"\r\n"
            "name3\r\n"
            "  Spaced Key  =   spaced value   \r\n"
            "half=\"open\r\n"
            "[section2]\r\n"
            "[Section3]\n"
            "k=v\r"
            "number=\"12\"\r\n");
  struct Case {
    const char* section;
    const char* key;
    const char* fallback;
    DWORD size;
    DWORD result;
    const char* text;
  } cases[] = {
      {"SECTION1", "NaMe1", "def", MAX_PATH, 4, "val1"},      // names without case
      {"section1", "name2", "def", MAX_PATH, 4, "val2"},      // quotes stripped
      {"section1", "half", "def", MAX_PATH, 5, "\"open"},     // unmatched quote stays
      {"section1", "spaced key", "def", MAX_PATH, 12, "spaced value"},
      {"section1", "name3", "def", MAX_PATH, 3, "def"},       // no "=": no value
      {"section1", "missing", nullptr, MAX_PATH, 0, ""},
      {"section2", "name1", "", MAX_PATH, 0, ""},
      {"section3", "K", "def", MAX_PATH, 1, "v"},             // CR and LF alone end lines too
      {"section3", "number", "def", MAX_PATH, 2, "12"},
      {"section1", "name1", "def", 4, 3, "val"},              // cut: size - 1
      {"section1", "name1", "def", 5, 4, "val1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.section) + "/" + c.key + " size " + std::to_string(c.size));
    char buffer[MAX_PATH];
    std::strcpy(buffer, "kumquat");
    EXPECT_EQ(GetPrivateProfileStringA(c.section, c.key, c.fallback, buffer, c.size, file.c_str()),
              c.result);
    EXPECT_STREQ(buffer, c.text);
  }
  // A missing file gives the default, and reading creates nothing.
  const std::string absent = dir + "absent.ini";
  char buffer[32];
  EXPECT_EQ(GetPrivateProfileStringA("s", "k", "fallback", buffer, sizeof(buffer), absent.c_str()), 8u);
  EXPECT_STREQ(buffer, "fallback");
  EXPECT_EQ(GetFileAttributesA(absent.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(IniProfile, WritesChangeOnlyWhatTheyMust) {
  const std::string file = TempFolder("kernini") + "write.ini";
  WriteFile(file, "; top\r\n[s]\r\n; inner\r\na=1\r\n[t]\r\nb=2\r\n");
  struct Step {
    const char* section;
    const char* key;
    const char* value;
    const char* content;
  } steps[] = {
      {"S", "A", "10",  // a key of any case is replaced where it stands, comments stay
       "; top\r\n[s]\r\n; inner\r\na=10\r\n[t]\r\nb=2\r\n"},
      {"s", "c", "3", "; top\r\n[s]\r\n; inner\r\na=10\r\nc=3\r\n[t]\r\nb=2\r\n"},
      {"u", "d", "", "; top\r\n[s]\r\n; inner\r\na=10\r\nc=3\r\n[t]\r\nb=2\r\n[u]\r\nd=\r\n"},
      {"s", "a", nullptr,  // no value: the key goes
       "; top\r\n[s]\r\n; inner\r\nc=3\r\n[t]\r\nb=2\r\n[u]\r\nd=\r\n"},
      {"s", "a", nullptr,  // again: nothing to do, no error
       "; top\r\n[s]\r\n; inner\r\nc=3\r\n[t]\r\nb=2\r\n[u]\r\nd=\r\n"},
      {"t", nullptr, "x",  // no key: the section goes
       "; top\r\n[s]\r\n; inner\r\nc=3\r\n[u]\r\nd=\r\n"},
      {"u", "d", nullptr, "; top\r\n[s]\r\n; inner\r\nc=3\r\n[u]\r\n"},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(std::string(s.section) + "/" + (s.key ? s.key : "(null)"));
    EXPECT_TRUE(WritePrivateProfileStringA(s.section, s.key, s.value, file.c_str()));
    EXPECT_EQ(ReadWholeFile(file), s.content);
  }
  // Deleting from a missing file creates nothing; a missing folder fails.
  const std::string absent = file + ".absent";
  EXPECT_TRUE(WritePrivateProfileStringA("App", "key", nullptr, absent.c_str()));
  EXPECT_TRUE(WritePrivateProfileStringA("App", nullptr, nullptr, absent.c_str()));
  EXPECT_EQ(GetFileAttributesA(absent.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_FALSE(WritePrivateProfileStringA("App", "key", "v", (file + "\\no\\x.ini").c_str()));
}

TEST(IniProfileDbcs, NamesAndValuesWithTrailBytes) {
  if (GetACP() != 932) GTEST_SKIP() << "needs code page 932";
  const std::string file = TempFolder("kernini") + "dbcs.ini";
  // Trail bytes ']' (0x5D) and '\' (0x5C) in a section or key name must not end it.
  const char* section = "\x95\x5D";
  const char* key = "\x83\x5C\x83\x5D";
  const char* value = "\x95\x5C\x83\x41";
  ASSERT_TRUE(WritePrivateProfileStringA(section, key, value, file.c_str()));
  char buffer[32];
  EXPECT_EQ(GetPrivateProfileStringA(section, key, "", buffer, sizeof(buffer), file.c_str()), 4u);
  EXPECT_STREQ(buffer, value);
  EXPECT_EQ(GetPrivateProfileStringA(nullptr, nullptr, "", buffer, sizeof(buffer), file.c_str()), 3u);
  EXPECT_EQ(std::string(buffer, 3), std::string("\x95\x5D\0", 3));
  EXPECT_EQ(ReadWholeFile(file), std::string("[") + section + "]\r\n" + key + "=" + value + "\r\n");
}

}  // namespace
