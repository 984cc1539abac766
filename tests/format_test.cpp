// Formatted text (MsiFormatRecordA), without and with an install session.
#include <algorithm>
#include <string>
#include <vector>

#include "tests/fixture.h"

using namespace viduzo_test;

namespace {

struct Formatted {
  UINT result;
  std::string text;  // as long as the reported count: NUL characters included
};

// Formats with the size protocol: first the length, then exactly that much.
Formatted FormatRecord(MSIHANDLE install, MSIHANDLE record) {
  DWORD count = 0;
  char probe[1] = {'x'};
  UINT result = MsiFormatRecordA(install, record, probe, &count);
  if (result != ERROR_MORE_DATA) return {result, std::string()};
  std::vector<char> buffer(count + 1, '#');
  DWORD size = count + 1;
  result = MsiFormatRecordA(install, record, buffer.data(), &size);
  EXPECT_EQ(size, count) << "the length changed between the calls";
  EXPECT_EQ(buffer[size], '\0');
  return {result, std::string(buffer.data(), size)};
}

// A record with a template and string fields 1..n; nullptr leaves a field null.
struct RecordCase {
  const char* templ;  // nullptr: empty template field
  std::vector<const char*> fields;
  std::string expected;
};

MSIHANDLE MakeRecord(const RecordCase& c, unsigned count) {
  MSIHANDLE record = MsiCreateRecord(count);
  if (c.templ) MsiRecordSetStringA(record, 0, c.templ);
  for (unsigned i = 0; i < c.fields.size(); ++i)
    if (c.fields[i]) MsiRecordSetStringA(record, i + 1, c.fields[i]);
  return record;
}

// count 0: a record with as many fields as the case gives.
void ExpectFormats(MSIHANDLE install, const std::vector<RecordCase>& cases, unsigned count) {
  for (const RecordCase& c : cases) {
    MSIHANDLE record = MakeRecord(c, count ? count : static_cast<unsigned>(c.fields.size()));
    Formatted f = FormatRecord(install, record);
    MsiCloseHandle(record);
    EXPECT_EQ(f.result, UINT{ERROR_SUCCESS}) << (c.templ ? c.templ : "(frame)");
    EXPECT_EQ(f.text, c.expected) << (c.templ ? c.templ : "(frame)");
  }
}

TEST(FormatRecord, WithoutSessionOnlyRecordFieldsResolve) {
  const std::vector<const char*> big = {"2", "hey", "1", nullptr, nullptr, nullptr, nullptr,
                                        nullptr, nullptr, nullptr, nullptr, "big"};
  const std::vector<const char*> boo = {"boo", "hoo"};
  const std::vector<RecordCase> cases = {
      {"%1", {}, "%1"},
      {"[1]", {}, ""},
      {"[1] [2]", boo, "boo hoo"},
      {"[1] test [0]", boo, "boo test [1] test [0]"},  // [0] is the template itself
      {"[01]", boo, "boo"},
      {"[100]", boo, ""},
      {"[[1]] [2]", {"2", "hey"}, "hey hey"},          // a field value names a field
      {"[[1]] [2]", {"[2]", "hey"}, "[[2]] hey"},      // but is never formatted again
      {"[1]", {"[2]", "foo"}, "[2]"},
      {"[[[3]]] [2]", {"2", "hey", "1"}, "hey hey"},
      {"[[3][1]] [2]", big, "big hey"},
      {"[[3][4][1]] [2]", big, "big hey"},
      {"[[3][[4]][1]] [2]", big, "[1[]2] hey"},
      {"[[[3][[4]][1]] [2]", big, "[[[3][[4]][1]] [2]"},  // unbalanced: left as it is
      {"[[3][[4]][1]] [2]]", big, "[1[]2] hey]"},
      {"[a[1]b", {"2"}, "[a[1]b"},
      {"a[1]b]", {"2"}, "a2b]"},
      {"]a[1]b", {"2"}, "]a2b"},
      {"\\[1]", {"2"}, "\\2"},
      {"[property] [~] [\\x] [%FOO] [-1] [] [ 1] [01.]", boo,
       "[property] [~] [\\x] [%FOO] [-1] [] [ 1] [01.]"},
      {"[\\[]Bracket Text[\\]]", {}, "[\\[]Bracket Text[\\]]"},
      // Groups: all references found drops the braces, one missing removes the
      // group, text without resolved references keeps them, {{...}} vanishes.
      {"{[3][1]} [2]", big, "12 hey"},
      {"[{[3][1]}] [2]", big, "[12] hey"},
      {"{test} [2]", big, "{test} hey"},
      {"{[test]} [2]", big, "{[test]} hey"},
      {"{[1][2][3][4]} [2]", big, " hey"},
      {"{[1][2][3][dummy]} [2]", big, "{2hey1[dummy]} hey"},
      {"{{[1][2]}[3][4][dummy]}", big, "{{2hey}1[dummy]}"},
      {"{{[1][2]}[3]{[4][dummy]}}", big, ""},
      {"{{[1][2]}[3]} {[1][2]}", {"1", "2", "3"}, "{{12}3} {12}"},
      {"{{[1]}[2]} {[4]}{[1][2]}", {"1", "2", "3"}, "{{1}2} {}{12}"},
      {"{{[1]}} {[4]}{[1][2]}", {"1", "2", "3"}, " 12"},
      {"{}", {}, ""},
      {"{ }", {}, "{ }"},
      {"{[]}", {}, "{[]}"},
      {"{boo [1]}", {"hoo"}, "boo hoo"},
      {"{{[1]}}", {"hoo"}, ""},
      {"{{[1]} }", {"hoo"}, "{{hoo} }"},
      {"{{a} }", {}, "{{a} }"},
      {"{{a} {b}}", {}, ""},
      {" {{a}}}", {}, " }"},
      {"{{[1]}", {"hoo"}, "{{hoo}"},
      {"[1]}", {"hoo"}, "hoo}"},
      {"a{b[1]c}d", {}, "ad"},
      {"{a[0]b}", {"foo"}, "a{a[0]b}b"},
      {"{abc}{{def}hi{j[one]k}}", {}, "{abc}"},
      {"[1] {[noprop] [one]} {abcdef}", {"one"}, "one {[noprop] [one]} {abcdef}"},
  };
  ExpectFormats(0, cases, 12);
}

TEST(FormatRecord, EmptyTemplateListsTheFields) {
  MSIHANDLE none = MsiCreateRecord(0);
  EXPECT_EQ(FormatRecord(0, none).text, "");
  MsiCloseHandle(none);

  MSIHANDLE record = MsiCreateRecord(6);
  EXPECT_EQ(FormatRecord(0, record).text, "1:  2:  3:  4:  5:  6:  ");
  MsiRecordSetStringA(record, 1, "123");
  MsiRecordSetInteger(record, 2, 4567);
  MsiRecordSetInteger(record, 3, -100);
  MsiRecordSetStringA(record, 4, "[1]");
  Formatted f = FormatRecord(0, record);
  EXPECT_EQ(f.result, UINT{ERROR_SUCCESS});
  EXPECT_EQ(f.text, "1: 123 2: 4567 3: -100 4: [1] 5:  6:  ");
  MsiRecordSetInteger(record, 0, 42);  // an integer template is its decimal text
  EXPECT_EQ(FormatRecord(0, record).text, "42");
  MsiCloseHandle(record);
}

TEST(FormatRecord, SizeProtocol) {
  MSIHANDLE record = MsiCreateRecord(1);
  MsiRecordSetStringA(record, 0, "%1");
  char buffer[8];
  struct SizeCase {
    DWORD size;
    UINT result;
    const char* text;  // nullptr: buffer untouched
  };
  const SizeCase cases[] = {
      {0, ERROR_MORE_DATA, nullptr}, {1, ERROR_MORE_DATA, ""}, {2, ERROR_MORE_DATA, "%"},
      {3, ERROR_SUCCESS, "%1"},      {8, ERROR_SUCCESS, "%1"},
  };
  for (const SizeCase& c : cases) {
    std::string before = "xyz";
    std::copy(before.c_str(), before.c_str() + 4, buffer);
    DWORD count = c.size;
    EXPECT_EQ(MsiFormatRecordA(0, record, buffer, &count), c.result) << c.size;
    EXPECT_EQ(count, 2u) << c.size;
    EXPECT_STREQ(buffer, c.text ? c.text : "xyz") << c.size;
  }
  DWORD count = 123;
  EXPECT_EQ(MsiFormatRecordA(0, record, nullptr, &count), UINT{ERROR_SUCCESS});
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(MsiFormatRecordA(0, record, nullptr, nullptr), UINT{ERROR_SUCCESS});
  EXPECT_EQ(MsiFormatRecordA(0, record, buffer, nullptr), UINT{ERROR_INVALID_PARAMETER});
  EXPECT_EQ(MsiFormatRecordA(0, 0, nullptr, nullptr), UINT{ERROR_INVALID_HANDLE});
  MsiCloseHandle(record);
  EXPECT_EQ(MsiFormatRecordA(0, record, nullptr, nullptr), UINT{ERROR_INVALID_HANDLE});
}

class FormatWithSession : public ::testing::Test {
 protected:
  void SetUp() override {
    pkg.Open();
    SetProp(pkg.install(), "prop", "val");
    SetProp(pkg.install(), "one", "mercury");
    SetProp(pkg.install(), "two", "venus");
    SetProp(pkg.install(), "b", "ball");
    SetProp(pkg.install(), "dummy", "Bork");
    SetProp(pkg.install(), "dummya", "foo");
    SetProp(pkg.install(), "dummyb", "baa");
    SetProp(pkg.install(), "adummyc", "whoa");
    SetProp(pkg.install(), "dummyc", "\\blath");
    SetProp(pkg.install(), "PropA", "surprise");
    SetProp(pkg.install(), "PropB", "[PropA]");
    SetProp(pkg.install(), "PropC", "PropA");
    SetProp(pkg.install(), "PropD", "PropC");
  }
  Package pkg;
};

TEST_F(FormatWithSession, PropertiesEscapesAndGroups) {
  const std::vector<const char*> boo = {"boo", "hoo"};
  const std::vector<RecordCase> cases = {
      {"[prop]", {}, "val"},
      {"[1] [invalid] [2]", boo, "boo  hoo"},
      {"[prop] [pro\\pblah] [prop]", {}, "val  val"},
      {"[1] [2] [\\3asdf]", boo, "boo hoo 3"},  // [\x] is x
      {"[\\x]", {}, "x"},
      {"[\\b]", {}, "b"},
      {"{\\x}", {}, "{\\x}"},
      {"\\x", {}, "\\x"},
      {"[abc\\x]", {}, ""},
      {"[\\[]", {}, "["},
      {"[\\[]]", {}, "[]"},
      {"[\\[]prop]", {}, "[prop]"},
      {"[\\a]prop]", {}, "aprop]"},
      {"[\\[]Bracket Text[\\]]", {}, "[Bracket Text]"},
      {"[[]", {}, "[[]"},
      {"[1] [~] [2]", boo, std::string("boo \0 hoo", 9)},  // [~] is a NUL character
      {"[1] [~abc] [2]", boo, "boo  hoo"},
      {"[dummy[1]] [dummy[2]] [[1]dummy[3]]", {"a", "b", "c"}, "foo baa whoa"},
      {"[dummyc] [[dummyc]]", {}, "\\blath b"},
      {"[1] [2] [[3]]", {"boo", "hoo", "\\help"}, "boo hoo h"},
      // A property's value is not formatted again, but [[name]] looks up the
      // property that the value names.
      {"[PropB]", {}, "[PropA]"},
      {"[PropC]", {}, "PropA"},
      {"[[PropC]]", {}, "surprise"},
      {"[[[PropD]]]", {}, "surprise"},
      {"[[PropB]]", {}, ""},
      {"{abcd}", {}, "{abcd}"},
      {"{a[one]bc[two]de[one]f}", {}, "amercurybcvenusdemercuryf"},
      {"{a[one]bc[bad]de[two]f}", {}, ""},
      {"{[bad]}", {}, ""},
      {"{abc}{{def}hi{j[one]k}}", {}, "{abc}"},
      {"[1] {[noprop] [one]} {abcdef}", {"one"}, "one  {abcdef}"},
      {"[1] {[one]} {abcdef}", {"one"}, "one mercury {abcdef}"},
      {"{[one]}{[bad]}x", {}, "mercuryx"},
      {"[1]", {"[2]", "foo"}, ""},  // field values are formatted as property text
  };
  ExpectFormats(pkg.install(), cases, 12);
}

// The frame that the actions cut their value out of: a template of one field,
// put into field 1 with an empty template field.
TEST_F(FormatWithSession, EmptyTemplateResolvesPropertyTextInFields) {
  SetProp(pkg.install(), "QVADIR", "C:\\Program Files\\Velmar\\");
  const std::vector<RecordCase> cases = {
      {nullptr, {"[QVADIR]HOSTCFG.INI"}, "1: C:\\Program Files\\Velmar\\HOSTCFG.INI "},
      {nullptr, {"[prop]", "[noprop]", "stuff", "[2]"}, "1: val 2:  3: stuff 4:  "},
      {nullptr, {"{[one]}", "{[bad]}x", "a[~]b", "{{x}}"}, "1: mercury 2: x 3: a 4:  "},
      {nullptr, {"[\\[]x[\\]]"}, "1: [x] "},
      // The control codes that stand for masked RTF syntax pass through.
      {nullptr, {"\x11\\rtf1 [one]\x12"}, "1: \x11\\rtf1 mercury\x12 "},
  };
  ExpectFormats(pkg.install(), cases, 0);
}

TEST_F(FormatWithSession, EnvironmentVariables) {
  ASSERT_TRUE(SetEnvironmentVariableA("VIDUZO_FMT_VAR", "BAR"));
  SetEnvironmentVariableA("VIDUZO_FMT_NONE", nullptr);
  const std::vector<RecordCase> cases = {
      {"x[%VIDUZO_FMT_VAR]y", {}, "xBARy"},
      {"[%viduzo_fmt_var]", {}, "BAR"},  // names are not case-sensitive
      {"[%VIDUZO_FMT_NONE]", {}, ""},
      {"{[%VIDUZO_FMT_VAR] [one]}", {}, "BAR mercury"},
      {"{[%VIDUZO_FMT_NONE]}", {}, ""},
  };
  ExpectFormats(pkg.install(), cases, 1);
  ExpectFormats(0, {{"[%VIDUZO_FMT_VAR]", {}, "[%VIDUZO_FMT_VAR]"}}, 1);
  SetEnvironmentVariableA("VIDUZO_FMT_VAR", nullptr);
}

TEST(FormatRecordFiles, FileAndComponentKeys) {
  Package pkg;
  pkg.Sql("CREATE TABLE `Directory` (`Directory` CHAR(72) NOT NULL, `Directory_Parent` CHAR(72), "
          "`DefaultDir` CHAR(255) NOT NULL PRIMARY KEY `Directory`)")
      .Sql("CREATE TABLE `Component` (`Component` CHAR(72) NOT NULL, `ComponentId` CHAR(38), "
           "`Directory_` CHAR(72) NOT NULL, `Attributes` SHORT NOT NULL, `Condition` CHAR(255), "
           "`KeyPath` CHAR(72) PRIMARY KEY `Component`)")
      .Sql("CREATE TABLE `Feature` (`Feature` CHAR(38) NOT NULL, `Feature_Parent` CHAR(38), "
           "`Title` CHAR(64), `Description` CHAR(255), `Display` SHORT, `Level` SHORT NOT NULL, "
           "`Directory_` CHAR(72), `Attributes` SHORT NOT NULL PRIMARY KEY `Feature`)")
      .Sql("CREATE TABLE `FeatureComponents` (`Feature_` CHAR(38) NOT NULL, `Component_` "
           "CHAR(72) NOT NULL PRIMARY KEY `Feature_`, `Component_`)")
      .Sql("CREATE TABLE `File` (`File` CHAR(72) NOT NULL, `Component_` CHAR(72) NOT NULL, "
           "`FileName` CHAR(255) NOT NULL, `FileSize` LONG NOT NULL, `Version` CHAR(72), "
           "`Language` CHAR(20), `Attributes` SHORT, `Sequence` SHORT NOT NULL PRIMARY KEY `File`)")
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
  const std::vector<RecordCase> cases = {
      {"[#log]", {}, "C:\\Inst\\zncwin32.log"},
      {"[$Main]", {}, "C:\\Inst\\"},
      {"[\\[][#log][\\]]", {}, "[C:\\Inst\\zncwin32.log]"},
      {"[#nofile]|[$NoComponent]", {}, "|"},
      {"{x[#nofile]}", {}, "{x}"},
      {nullptr, {"[#log]"}, "1: C:\\Inst\\zncwin32.log "},
  };
  ExpectFormats(install, cases, 1);
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
  const std::vector<RecordCase> cases = {
      {"[\x95\x5C]", {}, "v"},
      {"\x83\x5B[a]\x83\x5D", {}, "\x83\x5B" "AV\x83\x5D"},
      {"{\x81\x7D[a]}", {}, "\x81\x7D" "AV"},
      {"[\\\x95\x5C]", {}, "\x95\x5C"},
      {"[dbv]x", {}, "\x83\x5B\x83\x5Dx"},
      {nullptr, {"[dbv]\x83\x5D"}, "1: \x83\x5B\x83\x5D\x83\x5D "},
  };
  ExpectFormats(install, cases, 1);
}

// Malformed and deeply nested input is bounded work and never crashes.
TEST_F(FormatWithSession, DeepNestingAndLongInput) {
  const std::string deep = std::string(3000, '[') + "one" + std::string(3000, ']');
  const std::string braces = std::string(3000, '{') + "x" + std::string(3000, '}');
  const std::string open = std::string(5000, '[') + "x";
  std::string many;
  for (int i = 0; i < 3000; ++i) many += "[one]";
  const std::vector<RecordCase> cases = {
      {deep.c_str(), {}, ""},  // "mercury" names no property, and so on outwards
      {braces.c_str(), {}, ""},
      {open.c_str(), {}, open},
  };
  ExpectFormats(pkg.install(), cases, 1);
  MSIHANDLE record = MsiCreateRecord(1);
  MsiRecordSetStringA(record, 0, many.c_str());
  Formatted f = FormatRecord(pkg.install(), record);
  MsiCloseHandle(record);
  EXPECT_EQ(f.text.size(), 3000u * 7u);
}

}  // namespace
