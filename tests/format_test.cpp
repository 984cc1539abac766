// Formatted text (MsiFormatRecordA), without and with an install session.
#include <string>
#include <vector>

#include "tests/fixture.h"

using namespace viduzo_test;

namespace {

// Formats with the size protocol: first the length (a buffer of size 0 gives
// 234), then into exactly that much room. NUL characters are kept.
std::string FormatRecord(MSIHANDLE install, MSIHANDLE record) {
  DWORD count = 0;
  char probe[1] = {'x'};
  UINT result = MsiFormatRecordA(install, record, probe, &count);
  if (result != ERROR_MORE_DATA) {
    EXPECT_EQ(result, UINT{ERROR_SUCCESS});
    return std::string();
  }
  std::vector<char> buffer(count + 1, '#');
  DWORD size = count + 1;
  EXPECT_EQ(MsiFormatRecordA(install, record, buffer.data(), &size), UINT{ERROR_SUCCESS});
  EXPECT_EQ(size, count) << "the length changed between the calls";
  EXPECT_EQ(buffer[size], '\0');
  return std::string(buffer.data(), size);
}

// A template (nullptr: the template field stays empty), string fields 1..n
// (nullptr leaves a field null) and the text expected.
struct RecordCase {
  const char* templ;
  std::vector<const char*> fields;
  std::string expected;
};

// Each case in a record of `count` fields (0: as many as the case gives).
void ExpectFormats(MSIHANDLE install, const std::vector<RecordCase>& cases, unsigned count) {
  for (const RecordCase& c : cases) {
    SCOPED_TRACE(c.templ ? c.templ : "(frame)");
    MSIHANDLE record = MsiCreateRecord(count ? count : static_cast<unsigned>(c.fields.size()));
    if (c.templ) MsiRecordSetStringA(record, 0, c.templ);
    for (unsigned i = 0; i < c.fields.size(); ++i)
      if (c.fields[i]) MsiRecordSetStringA(record, i + 1, c.fields[i]);
    EXPECT_EQ(FormatRecord(install, record), c.expected);
    MsiCloseHandle(record);
  }
}

TEST(FormatRecord, WithoutSessionOnlyRecordFieldsResolve) {
  const std::vector<const char*> boo = {"boo", "hoo"};
  ExpectFormats(0, {
      {"[1] [2]", boo, "boo hoo"},
      {"[1] test [0]", boo, "boo test [1] test [0]"},  // [0] is the template itself
      {"[01]", boo, "boo"},
      {"[100]", boo, ""},
      {"[[1]] [2]", {"2", "hey"}, "hey hey"},      // a field value names a field
      {"[[1]] [2]", {"[2]", "hey"}, "[[2]] hey"},  // but is never formatted again
      {"[1]", {"[2]", "foo"}, "[2]"},
      {"[property] [~] [\\x] [%FOO] [-1] [] [ 1] [01.]", boo,
       "[property] [~] [\\x] [%FOO] [-1] [] [ 1] [01.]"},
      {"{[1][2]} {x[3]}", {"boo", "hoo", nullptr}, "boohoo "},  // a null field drops a group
  }, 0);
}

TEST(FormatRecord, SizeProtocol) {
  MSIHANDLE record = MsiCreateRecord(1);
  MsiRecordSetStringA(record, 0, "%1");
  const struct {
    DWORD size;
    UINT result;
    const char* text;  // nullptr: buffer untouched
  } cases[] = {
      {0, ERROR_MORE_DATA, nullptr}, {1, ERROR_MORE_DATA, ""},
      {2, ERROR_MORE_DATA, "%"},     {3, ERROR_SUCCESS, "%1"},
  };
  for (const auto& c : cases) {
    char buffer[8] = "xyz";
    DWORD count = c.size;
    EXPECT_EQ(MsiFormatRecordA(0, record, buffer, &count), c.result) << c.size;
    EXPECT_EQ(count, 2u) << c.size;
    EXPECT_STREQ(buffer, c.text ? c.text : "xyz") << c.size;
  }
  DWORD count = 123;
  EXPECT_EQ(MsiFormatRecordA(0, record, nullptr, &count), UINT{ERROR_SUCCESS});
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(MsiFormatRecordA(0, record, nullptr, nullptr), UINT{ERROR_SUCCESS});
  MsiCloseHandle(record);
}

class FormatWithSession : public ::testing::Test {
 protected:
  void SetUp() override {
    pkg.Open();
    const char* props[][2] = {{"prop", "val"},       {"one", "mercury"},   {"two", "venus"},
                              {"PropA", "surprise"}, {"PropB", "[PropA]"}, {"PropC", "PropA"}};
    for (const auto& p : props) SetProp(pkg.install(), p[0], p[1]);
  }
  Package pkg;
};

TEST_F(FormatWithSession, PropertiesEscapesAndGroups) {
  const std::vector<const char*> boo = {"boo", "hoo"};
  ASSERT_TRUE(SetEnvironmentVariableA("VIDUZO_FMT_VAR", "BAR"));
  SetEnvironmentVariableA("VIDUZO_FMT_NONE", nullptr);
  ExpectFormats(pkg.install(), {
      {"[prop]", {}, "val"},
      {"[1] [invalid] [2]", boo, "boo  hoo"},
      {"[1] [2] [\\3asdf]", boo, "boo hoo 3"},  // [\x] is x
      {"[\\[]Bracket Text[\\]]", {}, "[Bracket Text]"},
      {"[1] [~] [2]", boo, std::string("boo \0 hoo", 9)},  // [~] is a NUL character
      {"x[%VIDUZO_FMT_VAR]y", {}, "xBARy"},
      {"[%VIDUZO_FMT_NONE]", {}, ""},
      // A property's value is not formatted again, but [[name]] looks up the
      // property that the value names.
      {"[PropB]", {}, "[PropA]"},
      {"[[PropC]]", {}, "surprise"},
      {"{abcd}", {}, "{abcd}"},
      {"{a[one]bc[two]de[one]f}", {}, "amercurybcvenusdemercuryf"},
      {"{a[one]bc[bad]de[two]f}", {}, ""},
      {"{abc}{{def}hi{j[one]k}}", {}, "{abc}"},
      {"{[one]}{[bad]}x", {}, "mercuryx"},
      {"[1]", {"[2]", "foo"}, ""},  // field values are formatted as property text
  }, 12);
  SetEnvironmentVariableA("VIDUZO_FMT_VAR", nullptr);
}

// A resolved [~] inside a reference ends its name: the engine reads the name
// as NUL-terminated text. The region it replaces ends one character early, so
// what followed is read again ("]" is then plain text).
TEST_F(FormatWithSession, NullCharacterInsideAReferenceEndsItsName) {
  SetProp(pkg.install(), "B", "bee");
  SetProp(pkg.install(), "BX", "bx");
  ExpectFormats(pkg.install(), {
      {"[B[~]x]", {}, "bee]"},
      {"a[B[~]x]b", {}, "abee]b"},
      {"[B[~]]", {}, "bee]"},
      {"[BX[~]]", {}, "bx]"},
      {"[B[~][~]x]", {}, "beex]"},
      {"[B[~]xx]y]", {}, "bee]y]"},
      {"[B[~]x][B]", {}, "bee]bee"},
      {"{[B[~]x]}", {}, "bee]"},
      {"[B [~]x]", {}, "]"},      // "B " is no property
      {"[Q[~]x]", {}, "]"},       // nor is Q
      {"[[B][~]x]", {}, "]"},     // the name is the value "bee"
      {"{a[Q[~]x]b}", {}, ""},
      {"[B[~]x", {}, "[B[~]x"},  // unbalanced: left as it is
  }, 1);
}

// The frame that the actions cut their value out of: a template of one field,
// put into field 1 with an empty template field.
TEST_F(FormatWithSession, EmptyTemplateResolvesPropertyTextInFields) {
  SetProp(pkg.install(), "QVADIR", "C:\\Program Files\\Velmar\\");
  ExpectFormats(pkg.install(), {
      {nullptr, {"[QVADIR]HOSTCFG.INI"}, "1: C:\\Program Files\\Velmar\\HOSTCFG.INI "},
      {nullptr, {"[prop]", "[noprop]", "stuff", "[2]"}, "1: val 2:  3: stuff 4:  "},
      {nullptr, {"{[one]}", "{[bad]}x", "a[~]b", "{{x}}"}, "1: mercury 2: x 3: a 4:  "},
      {nullptr, {"[\\[]x[\\]]"}, "1: [x] "},
      // The control codes that stand for masked RTF syntax pass through.
      {nullptr, {"\x11\\rtf1 [one]\x12"}, "1: \x11\\rtf1 mercury\x12 "},
      {nullptr, {"\x13par \x11[one]\x12"}, "1: \x13par \x11mercury\x12 "},
  }, 0);
}

TEST(FormatRecordFiles, FileKeys) {
  Package pkg;
  pkg.Table("Directory")
      .Table("Component")
      .Table("Feature")
      .Table("FeatureComponents")
      .Table("File")
      .Sql("INSERT INTO `Directory` (`Directory`, `Directory_Parent`, `DefaultDir`) "
           "VALUES ('TARGETDIR', '', 'SourceDir')")
      .Sql("INSERT INTO `Component` (`Component`, `ComponentId`, `Directory_`, `Attributes`, "
           "`Condition`, `KeyPath`) VALUES ('Main', '{5A1D5C3E-8F0B-4D7A-9C21-3B6E0F4A8D12}', "
           "'TARGETDIR', 0, '', 'log')")
      .Sql("INSERT INTO `Feature` (`Feature`, `Feature_Parent`, `Title`, `Description`, "
           "`Display`, `Level`, `Directory_`, `Attributes`) VALUES ('Core', '', 'Core', '', 1, 1, "
           "'TARGETDIR', 0)")
      .Sql("INSERT INTO `FeatureComponents` (`Feature_`, `Component_`) VALUES ('Core', 'Main')")
      .Sql("INSERT INTO `File` (`File`, `Component_`, `FileName`, `FileSize`, `Version`, "
           "`Language`, `Attributes`, `Sequence`) VALUES ('log', 'Main', 'ZNCWIN~1.LOG|zncwin32.log', "
           "10, '', '', 0, 1)")
      .Property("TARGETDIR", "C:\\Inst\\");
  MSIHANDLE install = pkg.Open();
  for (const char* action : {"CostInitialize", "FileCost", "CostFinalize"})
    ASSERT_EQ(MsiDoActionA(install, action), UINT{ERROR_SUCCESS}) << action;
  ExpectFormats(install, {
      {"[#log]", {}, "C:\\Inst\\zncwin32.log"},
      {"[#nofile]|", {}, "|"},
      {"{x[#nofile]}", {}, "{x}"},
      {nullptr, {"[#log]"}, "1: C:\\Inst\\zncwin32.log "},
  }, 1);
}

// Double-byte characters are single characters: a trail byte that equals "[",
// "]", "{", "}" or "\" is never syntax. Runs where the code page is 932.
TEST(FormatRecordDbcs, TrailBytesAreNotSyntax) {
  if (GetACP() != 932) GTEST_SKIP() << "needs code page 932";
  Package pkg;
  MSIHANDLE install = pkg.Open();
  SetProp(install, "a", "AV");
  SetProp(install, "\x95\x5C", "v");           // a property named by one character
  SetProp(install, "dbv", "\x83\x5B\x83\x5D");  // two characters ending in "[" and "]"
  ExpectFormats(install, {
      {"[\x95\x5C]", {}, "v"},
      {"\x83\x5B[a]\x83\x5D", {}, "\x83\x5B" "AV\x83\x5D"},
      {"{\x81\x7D[a]}", {}, "\x81\x7D" "AV"},
      {"[\\\x95\x5C]", {}, "\x95\x5C"},
      {"[dbv]x", {}, "\x83\x5B\x83\x5Dx"},
      {nullptr, {"[dbv]\x83\x5D"}, "1: \x83\x5B\x83\x5D\x83\x5D "},
  }, 1);
}

}  // namespace
