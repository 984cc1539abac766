// The sandboxed file system's basics and the INI profile functions, at the
// Win32 boundary. Raw file contents are written and read with the C library
// (through winsim::HostPath natively), everything else with the API.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/win.h"
#ifndef _WIN32
#include "winsim/control.h"
#endif

namespace {

std::string OnHost(const std::string& path) {
#ifdef _WIN32
  return path;
#else
  return winsim::HostPath(path);
#endif
}

void WriteRaw(const std::string& path, const std::string& bytes) {
  FILE* f = std::fopen(OnHost(path).c_str(), "wb");
  ASSERT_NE(f, nullptr) << path;
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

std::string ReadRaw(const std::string& path) {
  FILE* f = std::fopen(OnHost(path).c_str(), "rb");
  if (!f) return "<missing>";
  std::string bytes;
  char chunk[512];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof(chunk), f)) > 0) bytes.append(chunk, n);
  std::fclose(f);
  return bytes;
}

// A fresh folder below the temporary folder; removed again (with the files
// the test names) when the test ends.
class Scratch {
 public:
  explicit Scratch(const char* name) {
    char temp[MAX_PATH];
    DWORD n = GetTempPathA(MAX_PATH, temp);
    static int serial = 0;
    path_ = std::string(temp, n) + name + std::to_string(GetTickCount()) + "_" +
            std::to_string(++serial);
    EXPECT_TRUE(CreateDirectoryA(path_.c_str(), nullptr)) << path_ << " " << GetLastError();
  }
  ~Scratch() {
    for (auto it = files_.rbegin(); it != files_.rend(); ++it)
      if (!DeleteFileA(it->c_str())) RemoveDirectoryA(it->c_str());
    RemoveDirectoryA(path_.c_str());
  }
  // The path of an entry of the folder, removed at the end.
  std::string Entry(const std::string& name) {
    files_.push_back(path_ + "\\" + name);
    return files_.back();
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::vector<std::string> files_;
};

std::string Lower(std::string text) {
  CharLowerA(&text[0]);
  return text;
}

std::string Upper(std::string text) {
  CharUpperA(&text[0]);
  return text;
}

// ---- file system ---------------------------------------------------------------------

TEST(FilePaths, SpellingsOfOnePathNameTheSameFolder) {
  Scratch scratch("kernpath");
  std::string sub = scratch.Entry("Sub");
  ASSERT_TRUE(CreateDirectoryA(sub.c_str(), nullptr));
  std::string forward = scratch.path();
  for (char& c : forward)
    if (c == '\\') c = '/';
  const std::string spellings[] = {
      Lower(scratch.path()) + "\\sub",
      Upper(scratch.path()) + "\\SUB\\",
      forward + "/Sub",
      scratch.path() + "\\.\\Sub\\..\\Sub",
      scratch.path() + "\\\\Sub",
      scratch.path() + "\\Sub.",
  };
  for (const std::string& spelling : spellings)
    EXPECT_EQ(GetFileAttributesA(spelling.c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY))
        << spelling;
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CreateDirectoryA((Upper(scratch.path()) + "\\sUB").c_str(), nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
}

TEST(FilePaths, ErrorCodes) {
  Scratch scratch("kernerr");
  std::string sub = scratch.Entry("Sub");
  std::string file = scratch.Entry("file.ini");
  ASSERT_TRUE(CreateDirectoryA(sub.c_str(), nullptr));
  ASSERT_TRUE(WritePrivateProfileStringA("s", "k", "v", file.c_str()));
  std::string inSub = scratch.Entry("Sub\\inner");
  ASSERT_TRUE(CreateDirectoryA(inSub.c_str(), nullptr));
  std::string missing = scratch.path() + "\\missing";

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
      {"create existing folder", +create, sub, ERROR_ALREADY_EXISTS},
      {"create over a file", +create, file, ERROR_ALREADY_EXISTS},
      {"create in missing folder", +create, missing + "\\child", ERROR_PATH_NOT_FOUND},
      {"remove missing folder", +remove, missing, ERROR_FILE_NOT_FOUND},
      {"remove folder that is not empty", +remove, sub, ERROR_DIR_NOT_EMPTY},
      {"remove a file", +remove, file, ERROR_DIRECTORY},
      {"delete missing file", +erase, missing + ".txt", ERROR_FILE_NOT_FOUND},
      {"delete in missing folder", +erase, missing + "\\x.txt", ERROR_PATH_NOT_FOUND},
      {"delete a folder", +erase, sub, ERROR_ACCESS_DENIED},
      {"attributes of missing file", +attributes, missing + ".txt", ERROR_FILE_NOT_FOUND},
      {"attributes in missing folder", +attributes, missing + "\\x.txt", ERROR_PATH_NOT_FOUND},
  };
  for (const Case& c : cases) {
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(c.call(c.path)) << c.what;
    EXPECT_EQ(GetLastError(), c.error) << c.what;
  }
  EXPECT_EQ(GetFileAttributesA(file.c_str()) &
                (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY),
            static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_TRUE(RemoveDirectoryA(inSub.c_str()));
  EXPECT_TRUE(DeleteFileA(file.c_str()));
  EXPECT_EQ(GetFileAttributesA(file.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(FilePaths, TempPathSizeProtocol) {
  char path[MAX_PATH];
  DWORD length = GetTempPathA(MAX_PATH, path);
  ASSERT_GT(length, 3u);
  EXPECT_EQ(length, std::strlen(path));
  EXPECT_EQ(path[length - 1], '\\');
  EXPECT_EQ(path[1], ':');
  EXPECT_EQ(GetFileAttributesA(path) & FILE_ATTRIBUTE_DIRECTORY,
            static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_EQ(GetTempPathA(0, nullptr), length + 1);
  char small[4] = "foo";
  EXPECT_EQ(GetTempPathA(sizeof(small), small), length + 1);
  char exact[MAX_PATH];
  EXPECT_EQ(GetTempPathA(length + 1, exact), length);
  EXPECT_STREQ(exact, path);
}

TEST(FilePathsDbcs, TrailByteBackslashIsNotASeparator) {
  if (GetACP() != 932) GTEST_SKIP() << "needs code page 932";
  Scratch scratch("kerndbcs");
  std::string folder = scratch.Entry("\x83\x5C");  // "ソ": trail byte 0x5C
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr)) << GetLastError();
  EXPECT_EQ(GetFileAttributesA((folder + "\\").c_str()),
            static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  std::string inner = scratch.Entry("\x83\x5C\\a.ini");
  ASSERT_TRUE(WritePrivateProfileStringA("s", "k", "v", inner.c_str()));
  char value[8];
  EXPECT_EQ(GetPrivateProfileStringA("s", "k", "", value, sizeof(value), (folder + "\\A.INI").c_str()), 1u);
  EXPECT_EQ(GetFileAttributesA(inner.c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
  // "\x83\x5C" "a.ini" is one name in the scratch folder, which has no such file:
  // a path split at the trail byte would find the file made above.
  EXPECT_EQ(GetFileAttributesA((scratch.path() + "\\\x83\x5C" "a.ini").c_str()),
            INVALID_FILE_ATTRIBUTES);
}

#ifndef _WIN32
TEST(FilePathsNative, HostPathsKeepTheGivenCase) {
  std::string root = winsim::SandboxRoot();
  ASSERT_FALSE(root.empty());
  EXPECT_EQ(winsim::HostPath("C:\\"), root + "/C");
  EXPECT_EQ(winsim::HostPath("c:\\WINDOWS\\system32"), root + "/C/Windows/System32");
  ASSERT_TRUE(CreateDirectoryA("C:\\KernCaseTest", nullptr));
  EXPECT_EQ(winsim::HostPath("c:\\kerncasetest\\NewName.txt"), root + "/C/KernCaseTest/NewName.txt");
  EXPECT_TRUE(RemoveDirectoryA("C:\\KERNCASETEST"));

  // A share exists when its folder does.
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CreateDirectoryA("\\\\server\\share\\dir", nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  std::string share = winsim::HostPath("\\\\Server\\Share");
  EXPECT_EQ(share, root + "/UNC/Server/Share");
  ASSERT_EQ(std::system(("mkdir -p '" + share + "'").c_str()), 0);
  EXPECT_TRUE(CreateDirectoryA("\\\\SERVER\\share\\dir", nullptr));
  EXPECT_EQ(GetFileAttributesA("//server/SHARE/Dir"), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_TRUE(RemoveDirectoryA("\\\\server\\share\\dir"));
}
#endif

// ---- profiles ----------------------------------------------------------------------------

const char kProfile[] =
    "; settings\r\n"
    "[section1]\r\n"
    "name1=val1\r\n"
    "name2=\"val2\"\r\n"
    "name3\r\n"
    "name4=a\r\n"
    "  Spaced Key  =   spaced value   \r\n"
    "quoted='single'\r\n"
    "half=\"open\r\n"
    "[section2]\r\n"
    "[Section3]\n"
    "k=v\r"
    "number=\"12\"\r\n";

TEST(IniProfile, ReadValues) {
  Scratch scratch("kernini");
  std::string file = scratch.Entry("read.ini");
  WriteRaw(file, kProfile);
  struct Case {
    const char* section;
    const char* key;
    const char* fallback;
    DWORD size;
    DWORD result;
    const char* text;
  } cases[] = {
      {"section1", "name1", "def", MAX_PATH, 4, "val1"},
      {"SECTION1", "NaMe1", "def", MAX_PATH, 4, "val1"},      // names without case
      {"section1", "name2", "def", MAX_PATH, 4, "val2"},      // quotes stripped
      {"section1", "quoted", "def", MAX_PATH, 6, "single"},
      {"section1", "half", "def", MAX_PATH, 5, "\"open"},     // unmatched quote stays
      {"section1", "spaced key", "def", MAX_PATH, 12, "spaced value"},
      {"section1", "name3", "def", MAX_PATH, 3, "def"},       // no "=": no value
      {"section1", "missing", "default  ", MAX_PATH, 7, "default"},
      {"section1", "missing", "one two", MAX_PATH, 7, "one two"},
      {"section1", "missing", nullptr, MAX_PATH, 0, ""},
      {"section1", "", "def", MAX_PATH, 3, "def"},
      {"", "name1", "def", MAX_PATH, 3, "def"},
      {"nosection", "name1", "def", MAX_PATH, 3, "def"},
      {"section2", "name1", "", MAX_PATH, 0, ""},
      {"section3", "K", "def", MAX_PATH, 1, "v"},             // CR and LF alone end lines too
      {"section1", "name1", "def", 4, 3, "val"},              // cut: size - 1
      {"section1", "name1", "def", 5, 4, "val1"},
      {"section1", "name4", "def", 1, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.section) + "/" + c.key + " size " + std::to_string(c.size));
    char buffer[MAX_PATH];
    std::strcpy(buffer, "kumquat");
    EXPECT_EQ(GetPrivateProfileStringA(c.section, c.key, c.fallback, buffer, c.size, file.c_str()),
              c.result);
    EXPECT_STREQ(buffer, c.text);
  }
  char buffer[16] = "kumquat";
  EXPECT_EQ(GetPrivateProfileStringA("section1", "name1", "def", buffer, 0, file.c_str()), 0u);
  EXPECT_STREQ(buffer, "kumquat");  // size 0: nothing written
}

TEST(IniProfile, ListsOfSectionsAndKeys) {
  Scratch scratch("kernini");
  std::string file = scratch.Entry("lists.ini");
  WriteRaw(file, kProfile);
  struct Case {
    const char* section;  // null: the section names
    DWORD size;
    DWORD result;
    std::string list;  // result + 1 bytes
  } cases[] = {
      {nullptr, MAX_PATH, 27, std::string("section1\0section2\0Section3\0", 28)},
      {nullptr, 29, 27, std::string("section1\0section2\0Section3\0", 28)},
      {nullptr, 28, 26, std::string("section1\0section2\0Section3", 27)},  // no room for both NULs
      {nullptr, 16, 14, std::string("section1\0secti\0", 15)},
      {"section1", MAX_PATH, 41, std::string("name1\0name2\0name4\0Spaced Key\0quoted\0half\0", 42)},
      {"SECTION3", MAX_PATH, 9, std::string("k\0number\0", 10)},
      {"section1", 16, 14, std::string("name1\0name2\0na\0", 15)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.section ? c.section : "(sections)") + " size " + std::to_string(c.size));
    char buffer[MAX_PATH];
    std::memset(buffer, 'x', sizeof(buffer));
    DWORD result = GetPrivateProfileStringA(c.section, c.section ? nullptr : "name1", "def", buffer,
                                            c.size, file.c_str());
    EXPECT_EQ(result, c.result);
    ASSERT_LE(c.list.size(), sizeof(buffer));
    EXPECT_EQ(std::string(buffer, c.list.size()), c.list);
  }
}

TEST(IniProfile, MissingFileGivesDefaults) {
  Scratch scratch("kernini");
  std::string file = scratch.Entry("absent.ini");
  char buffer[32];
  EXPECT_EQ(GetPrivateProfileStringA("s", "k", "fallback", buffer, sizeof(buffer), file.c_str()), 8u);
  EXPECT_STREQ(buffer, "fallback");
  std::memset(buffer, 'x', sizeof(buffer));
  EXPECT_EQ(GetPrivateProfileStringA(nullptr, nullptr, "fallback", buffer, sizeof(buffer), file.c_str()),
            0u);
  EXPECT_EQ(buffer[0], '\0');
  EXPECT_EQ(GetPrivateProfileIntA("s", "k", 77, file.c_str()), 77u);
  EXPECT_EQ(GetFileAttributesA(file.c_str()), INVALID_FILE_ATTRIBUTES);  // reading creates nothing
}

TEST(IniProfile, IntegerValues) {
  Scratch scratch("kernini");
  std::string file = scratch.Entry("int.ini");
  struct Case {
    const char* value;  // null: key not written
    INT fallback;
    UINT result;
  } cases[] = {
      {nullptr, -1, 4294967295u}, {nullptr, 7, 7},          {"", 7, 7},
      {"-1", 1, 4294967295u},     {"1", -1, 1},             {"+1", -1, 1},
      {"4294967296", 1, 0},       {"4294967297", -1, 1},    {"-4294967297", 1, 4294967295u},
      {"42A94967297", 1, 42},     {"B4294967297", 1, 0},    {"\"12\"", 1, 12},
      {"  33  ", 1, 33},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value ? c.value : "(none)");
    WritePrivateProfileStringA("Test", "ProfileInt", c.value, file.c_str());
    EXPECT_EQ(GetPrivateProfileIntA("Test", "ProfileInt", c.fallback, file.c_str()), c.result);
  }
  EXPECT_EQ(GetPrivateProfileIntA("Test", nullptr, 5, file.c_str()), 0u);  // the list "ProfileInt"
  EXPECT_EQ(GetPrivateProfileIntA("Other", "ProfileInt", 5, file.c_str()), 5u);
}

TEST(IniProfile, WritesChangeOnlyWhatTheyMust) {
  Scratch scratch("kernini");
  std::string file = scratch.Entry("write.ini");
  WritePrivateProfileStringA("App1", "key1", "string1", file.c_str());
  WritePrivateProfileStringA("App1", "key2", "string2", file.c_str());
  WritePrivateProfileStringA("App1", "key3", "string3", file.c_str());
  WritePrivateProfileStringA("App2", "key4", "string4", file.c_str());
  struct Step {
    const char* section;
    const char* key;
    const char* value;
    const char* content;
  } steps[] = {
      {"App3", "key5", "string5",
       "[App1]\r\nkey1=string1\r\nkey2=string2\r\nkey3=string3\r\n[App2]\r\nkey4=string4\r\n"
       "[App3]\r\nkey5=string5\r\n"},
      {"App1", "key2", nullptr,  // no value: the key goes
       "[App1]\r\nkey1=string1\r\nkey3=string3\r\n[App2]\r\nkey4=string4\r\n[App3]\r\nkey5=string5\r\n"},
      {"App1", "key2", nullptr,  // again: nothing to do, no error
       "[App1]\r\nkey1=string1\r\nkey3=string3\r\n[App2]\r\nkey4=string4\r\n[App3]\r\nkey5=string5\r\n"},
      {"App2", "key4", "changed",
       "[App1]\r\nkey1=string1\r\nkey3=string3\r\n[App2]\r\nkey4=changed\r\n[App3]\r\nkey5=string5\r\n"},
      {"App2", "key6", "added",
       "[App1]\r\nkey1=string1\r\nkey3=string3\r\n[App2]\r\nkey4=changed\r\nkey6=added\r\n"
       "[App3]\r\nkey5=string5\r\n"},
      {"App1", nullptr, "string1",  // no key: the section goes
       "[App2]\r\nkey4=changed\r\nkey6=added\r\n[App3]\r\nkey5=string5\r\n"},
      {"App2", nullptr, nullptr, "[App3]\r\nkey5=string5\r\n"},
      {"App3", "key5", nullptr, "[App3]\r\n"},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(std::string(s.section) + "/" + (s.key ? s.key : "(null)"));
    EXPECT_TRUE(WritePrivateProfileStringA(s.section, s.key, s.value, file.c_str()));
    EXPECT_EQ(ReadRaw(file), s.content);
  }
}

TEST(IniProfile, WriteReplacesKeysOfAnyCaseAndKeepsComments) {
  Scratch scratch("kernini");
  std::string file = scratch.Entry("comments.ini");
  WriteRaw(file, "; top comment\r\n[s]\r\n; inner comment\r\na=1\r\n[t]\r\nb=2\r\n");
  EXPECT_TRUE(WritePrivateProfileStringA("S", "A", "10", file.c_str()));
  EXPECT_TRUE(WritePrivateProfileStringA("s", "c", "3", file.c_str()));
  std::string content = ReadRaw(file);
  EXPECT_NE(content.find("; top comment\r\n"), std::string::npos) << content;
  EXPECT_NE(content.find("; inner comment\r\n"), std::string::npos) << content;
  char buffer[64];
  DWORD n = GetPrivateProfileStringA("s", nullptr, "", buffer, sizeof(buffer), file.c_str());
  EXPECT_EQ(std::string(buffer, n), std::string("a\0c\0", 4));
  EXPECT_EQ(GetPrivateProfileIntA("s", "a", 0, file.c_str()), 10u);
  EXPECT_EQ(GetPrivateProfileIntA("t", "b", 0, file.c_str()), 2u);
}

TEST(IniProfile, WriteErrorsAndFilesThatStayAbsent) {
  Scratch scratch("kernini");
  std::string file = scratch.Entry("absent.ini");
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(WritePrivateProfileStringA(nullptr, "key", "string", file.c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(WritePrivateProfileStringA("App", "key", "string", ""));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_TRUE(WritePrivateProfileStringA("App", "key", nullptr, file.c_str()));
  EXPECT_TRUE(WritePrivateProfileStringA("App", nullptr, nullptr, file.c_str()));
  EXPECT_EQ(GetFileAttributesA(file.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_FALSE(WritePrivateProfileStringA("App", "key", "v", (scratch.path() + "\\no\\x.ini").c_str()));
  EXPECT_TRUE(WritePrivateProfileStringA("App", "key", "", file.c_str()));
  EXPECT_EQ(ReadRaw(file), "[App]\r\nkey=\r\n");
}

TEST(IniProfile, FileNameWithoutPathIsInTheWindowsFolder) {
  const char* name = "viduzo_kern_profile.ini";
  ASSERT_TRUE(WritePrivateProfileStringA("App", "key", "in windows", name));
  char buffer[32];
  EXPECT_EQ(GetPrivateProfileStringA("App", "key", "", buffer, sizeof(buffer), name), 10u);
  EXPECT_STREQ(buffer, "in windows");
  std::string full = std::string("C:\\Windows\\") + name;
  EXPECT_EQ(GetPrivateProfileStringA("App", "key", "", buffer, sizeof(buffer), full.c_str()), 10u);
  EXPECT_TRUE(DeleteFileA(full.c_str()));
}

TEST(IniProfileDbcs, NamesAndValuesWithTrailBytes) {
  if (GetACP() != 932) GTEST_SKIP() << "needs code page 932";
  Scratch scratch("kernini");
  std::string file = scratch.Entry("dbcs.ini");
  // Trail bytes ']' (0x5D), '\' (0x5C) and '=' is never a trail byte, but ']'
  // and '\' in a section or key name must not end it.
  const char* section = "\x95\x5D";
  const char* key = "\x83\x5C\x83\x5D";
  const char* value = "\x95\x5C\x83\x41";
  ASSERT_TRUE(WritePrivateProfileStringA(section, key, value, file.c_str()));
  char buffer[32];
  EXPECT_EQ(GetPrivateProfileStringA(section, key, "", buffer, sizeof(buffer), file.c_str()), 4u);
  EXPECT_STREQ(buffer, value);
  EXPECT_EQ(GetPrivateProfileStringA(nullptr, nullptr, "", buffer, sizeof(buffer), file.c_str()), 3u);
  EXPECT_EQ(std::string(buffer, 3), std::string("\x95\x5D\0", 3));
  EXPECT_EQ(ReadRaw(file), std::string("[") + section + "]\r\n" + key + "=" + value + "\r\n");
}

}  // namespace
