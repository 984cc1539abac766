// Code pages, the multibyte helpers, conversions, wsprintfA, the environment,
// the process heap and GUIDs, at the Win32 boundary. Cases that need code page
// 932 skip unless GetACP() is 932; the suite runs them again under
// LC_ALL=ja_JP.UTF-8 (their names contain "Dbcs").
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <windows.h>
#include <objbase.h>
#ifndef _WIN32
#include "winsim/control.h"
#endif

namespace {

std::string Hex(const std::string& bytes) {
  std::string out;
  char digits[4];
  for (unsigned char c : bytes) {
    std::snprintf(digits, sizeof(digits), "%02X ", c);
    out += digits;
  }
  return out;
}

TEST(TextCodePage, LeadBytesOfAnExplicitCodePage) {
  // The edges of the two lead-byte ranges of code page 932, and none in 1252.
  const BYTE lead932[] = {0x81, 0x9F, 0xE0, 0xFC};
  const BYTE single932[] = {0x5C, 0x80, 0xA0, 0xA1, 0xDF, 0xFD};
  for (BYTE b : lead932) EXPECT_TRUE(IsDBCSLeadByteEx(932, b)) << int(b);
  for (BYTE b : single932) EXPECT_FALSE(IsDBCSLeadByteEx(932, b)) << int(b);
  for (BYTE b : lead932) EXPECT_FALSE(IsDBCSLeadByteEx(1252, b)) << int(b);
}

TEST(TextDbcs, CharNextAndCharPrevKeepDoubleByteCharactersWhole) {
  if (GetACP() != 932) GTEST_SKIP() << "needs code page 932";
  EXPECT_TRUE(IsDBCSLeadByte(0x95));
  EXPECT_FALSE(IsDBCSLeadByte(0x5C));
  struct Case {
    const char* text;
    std::vector<int> starts;
  } cases[] = {
      {"A\x95\x5C" "B", {0, 1, 3}},       // a character whose trail byte is a backslash
      {"\x83\x5C\x95\x5C", {0, 2}},       // two of them in a row
      {"\x83\x41\xB1x", {0, 2, 3}},       // double-byte, half-width katakana, ASCII
      {"ab\x95", {0, 1, 2}},              // a lead byte before the terminator is one character
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Hex(c.text));
    std::vector<int> forwards, backwards;
    for (const char* p = c.text; *p; p = CharNextA(p)) forwards.push_back(int(p - c.text));
    EXPECT_EQ(forwards, c.starts);
    const char* end = c.text + std::strlen(c.text);
    EXPECT_EQ(CharNextA(end), end);
    for (const char* p = end; p != c.text;) {
      p = CharPrevA(c.text, p);
      backwards.insert(backwards.begin(), static_cast<int>(p - c.text));
    }
    EXPECT_EQ(backwards, c.starts);
    EXPECT_EQ(CharPrevA(c.text, c.text), c.text);
  }
}

TEST(TextDbcs, CaseMappingNeverTouchesTrailBytes) {
  if (GetACP() != 932) GTEST_SKIP() << "needs code page 932";
  const char* cases[][3] = {  // text, upper, lower
      {"a\x83\x61z", "A\x83\x61Z", "a\x83\x61z"},  // trail byte 'a'
      {"Q\x83\x41q", "Q\x83\x41Q", "q\x83\x41q"},  // trail byte 'A'
      {"x\x83\x5C\\y", "X\x83\x5C\\Y", "x\x83\x5C\\y"},
  };
  for (const auto& c : cases) {
    char buffer[32];
    EXPECT_EQ(Hex(CharUpperA(std::strcpy(buffer, c[0]))), Hex(c[1]));
    EXPECT_EQ(Hex(CharLowerA(std::strcpy(buffer, c[0]))), Hex(c[2]));
  }
  // Equal trail letters of different case are different characters.
  EXPECT_NE(lstrcmpiA("\x83\x41", "\x83\x61"), 0);
  EXPECT_EQ(lstrcmpiA("x\x83\x5CY", "X\x83\x5Cy"), 0);
}

// Double-byte letters change case too (full-width, Greek, Cyrillic, Roman
// numerals), and come back in the code page's preferred form: the IBM
// duplicate 0xFA4A of "Ⅰ" becomes 0x8754.
TEST(TextDbcs, CaseMappingChangesDoubleByteLetters) {
  if (GetACP() != 932) GTEST_SKIP() << "needs code page 932";
  const char* cases[][3] = {  // text, upper, lower
      {"\x82\x81\x82\x9A", "\x82\x60\x82\x79", "\x82\x81\x82\x9A"},  // "ａｚ"
      {"\x82\x60\x82\x79", "\x82\x60\x82\x79", "\x82\x81\x82\x9A"},  // "ＡＺ"
      {"\x83\xBF\x83\x9F", "\x83\x9F\x83\x9F", "\x83\xBF\x83\xBF"},  // "αΑ"
      {"\x84\x70\x84\x40\x84\x76\x84\x46", "\x84\x40\x84\x40\x84\x46\x84\x46",
       "\x84\x70\x84\x70\x84\x76\x84\x76"},  // "аАёЁ"
      {"\xFA\x40\x87\x54\xFA\x4A", "\x87\x54\x87\x54\x87\x54",
       "\xFA\x40\xFA\x40\xFA\x40"},  // "ⅰⅠⅠ"
      {"ab\xB1\xDF\x81\x40\xE0\xA0", "AB\xB1\xDF\x81\x40\xE0\xA0",
       "ab\xB1\xDF\x81\x40\xE0\xA0"},  // half-width kana, a blank, a kanji
      {"\x82\x81x\x82", "\x82\x60X\x82", "\x82\x81x\x82"},  // a lead byte at the end
  };
  for (const auto& c : cases) {
    char buffer[32];
    EXPECT_EQ(Hex(CharUpperA(std::strcpy(buffer, c[0]))), Hex(c[1]));
    EXPECT_EQ(Hex(CharLowerA(std::strcpy(buffer, c[0]))), Hex(c[2]));
  }
  EXPECT_EQ(lstrcmpiA("\x82\x81", "\x82\x60"), 0);
  // A single character in the low word of the pointer.
  EXPECT_EQ(reinterpret_cast<ULONG_PTR>(CharUpperA(reinterpret_cast<LPSTR>(ULONG_PTR{'a'}))),
            ULONG_PTR{'A'});
  EXPECT_EQ(reinterpret_cast<ULONG_PTR>(CharUpperA(reinterpret_cast<LPSTR>(ULONG_PTR{0x82}))),
            ULONG_PTR{0x82});
}

TEST(TextCodePage, Latin1LettersInCodePage1252) {
  if (GetACP() != 1252) GTEST_SKIP() << "needs code page 1252";
  char buffer[32];
  std::strcpy(buffer, "\xE9t\xE9 \xFF\x9A\x9C mix 1!");
  EXPECT_EQ(Hex(CharUpperA(buffer)), Hex("\xC9T\xC9 \x9F\x8A\x8C MIX 1!"));
  EXPECT_EQ(Hex(CharLowerA(buffer)), Hex("\xE9t\xE9 \xFF\x9A\x9C mix 1!"));
  EXPECT_EQ(lstrcmpiA("\xC9T\xC9", "\xE9t\xE9"), 0);
  EXPECT_EQ(lstrcmpA("\xE9", "f"), -1);  // an accented letter sorts with its letter
  EXPECT_EQ(lstrcmpA("\xE6", "ae"), 0);  // letters that sort as two
  EXPECT_EQ(lstrcmpiA("\x83\x41", "\x83\x61"), 0);  // "ƒA" and "ƒa": single bytes here
}

TEST(TextCompare, WordSortOrderAndResults) {
  struct Case {
    const char* a;
    const char* b;
    int cmp;
    int cmpi;
  } cases[] = {
      {"abc", "abc", 0, 0},    {"abc", "ABC", -1, 0}, {"Z", "a", 1, 1},     {"abc", "abcd", -1, -1},
      {"_", ".", 1, 1},        {"'o", "-o", -1, -1},  {"10", "9", -1, -1},  {nullptr, "", -1, -1},
      {nullptr, nullptr, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.a ? c.a : "(null)") + " / " + (c.b ? c.b : "(null)"));
    EXPECT_EQ(lstrcmpA(c.a, c.b), c.cmp);
    EXPECT_EQ(lstrcmpiA(c.a, c.b), c.cmpi);
  }
}

TEST(TextStrings, CopyConcatenateAndLength) {
  for (int count : {1, 3, 6, 40}) {
    char buffer[16];
    std::memset(buffer, 'x', sizeof(buffer));
    EXPECT_EQ(lstrcpynA(buffer, "hello", count), buffer);
    const std::string copied = std::string("hello").substr(0, count - 1);
    EXPECT_EQ(buffer, copied) << "count " << count;
    EXPECT_EQ(buffer[copied.size() + 1], 'x') << "nothing written past the terminator";
  }
  char buffer[16];
  EXPECT_EQ(lstrcpyA(buffer, "ab"), buffer);
  EXPECT_EQ(lstrcatA(buffer, "cd"), buffer);
  EXPECT_STREQ(buffer, "abcd");
  EXPECT_EQ(lstrlenA(buffer), 4);
  EXPECT_EQ(lstrlenA(nullptr), 0);
}

TEST(TextConvert, SizesCountTheTerminatorAndCodePagesMapBothWays) {
  WCHAR wide[8] = {};
  char narrow[8] = {};
  const WCHAR latin[] = {0xE9, 'x', 0}, kanji[] = {0x8868, 'A', 0};
  EXPECT_EQ(MultiByteToWideChar(1252, 0, "abc", -1, nullptr, 0), 4);
  EXPECT_EQ(WideCharToMultiByte(1252, 0, latin, -1, nullptr, 0, nullptr, nullptr), 3);
  // A buffer too small gives 0 and ERROR_INSUFFICIENT_BUFFER.
  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(1252, 0, "abc", -1, wide, 3), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  SetLastError(0);
  EXPECT_EQ(WideCharToMultiByte(932, 0, kanji, -1, narrow, 3, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  // A character the code page lacks becomes the default character.
  BOOL used = FALSE;
  EXPECT_EQ(WideCharToMultiByte(1252, 0, kanji, -1, narrow, 8, nullptr, &used), 3);
  EXPECT_STREQ(narrow, "?A");
  EXPECT_TRUE(used);

  struct Case {
    UINT codePage;
    std::string bytes;
    std::vector<WCHAR> text;
  } cases[] = {
      {1252, "\xE9\x80x", {0xE9, 0x20AC, 'x'}},
      {932, "\x95\x5C" "A\x83\x5C", {0x8868, 'A', 0x30BD}},  // trail bytes that are backslashes
      {932, "\x81\x5F\xB1", {0xFF3C, 0xFF71}},  // a full-width sign, half-width katakana
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Hex(c.bytes));
    int n = MultiByteToWideChar(c.codePage, 0, c.bytes.data(), int(c.bytes.size()), wide, 8);
    EXPECT_EQ(std::vector<WCHAR>(wide, wide + std::max(n, 0)), c.text);
    used = TRUE;
    n = WideCharToMultiByte(c.codePage, 0, c.text.data(), int(c.text.size()), narrow, 8, nullptr,
                            &used);
    EXPECT_EQ(Hex(std::string(narrow, std::max(n, 0))), Hex(c.bytes));
    EXPECT_FALSE(used);
  }
}

TEST(TextDbcs, AnsiConversionsUseCodePage932) {
  if (GetACP() != 932) GTEST_SKIP() << "needs code page 932";
  WCHAR wide[8];
  ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, "\x95\x5C\x83\x5C", -1, wide, 8), 3);
  EXPECT_EQ(wide[0], 0x8868);
  EXPECT_EQ(wide[1], 0x30BD);
  char back[8];
  ASSERT_EQ(WideCharToMultiByte(CP_ACP, 0, wide, -1, back, sizeof(back), nullptr, nullptr), 5);
  EXPECT_STREQ(back, "\x95\x5C\x83\x5C");
}

TEST(TextFormat, WsprintfConversionsStopAt1024Characters) {
  char buffer[1600];
  auto format = [&](const char* text, auto... args) {
    int length = wsprintfA(buffer, text, args...);
    EXPECT_EQ(length, static_cast<int>(std::strlen(buffer))) << text;
    return std::string(buffer);
  };
  EXPECT_EQ(format("%d|%u|%lu", -5, -1, static_cast<DWORD>(4000000000u)), "-5|4294967295|4000000000");
  EXPECT_EQ(format("%s|%s%d%s", "ab", "K", 3, "_x"), "ab|K3_x");
  EXPECT_EQ(format("%05d|%x|%.3s|100%%", 42, 255, "abcdef"), "00042|ff|abc|100%");
  std::memset(buffer, 'y', sizeof(buffer));
  EXPECT_GE(wsprintfA(buffer, "%s", std::string(1500, 'x').c_str()), 1023);
  EXPECT_EQ(std::strlen(buffer), 1023u);
  EXPECT_EQ(buffer[1024], 'y');
}

TEST(KernelEnvironment, SizeProtocolAndNamesWithoutCase) {
  const char* name = "ViduzoKernTestVariable";
  ASSERT_TRUE(SetEnvironmentVariableA(name, "SomeValue"));  // 9 characters
  char buffer[32] = "foo";
  SetLastError(0xdeadbeef);
  EXPECT_EQ(GetEnvironmentVariableA(name, nullptr, 0), 10u);
  EXPECT_EQ(GetEnvironmentVariableA(name, buffer, 9), 10u);  // too small: the size needed
  EXPECT_STREQ(buffer, "foo");                                // and the buffer untouched
  EXPECT_EQ(GetEnvironmentVariableA("VIDUZOKERNTESTVARIABLE", buffer, 10), 9u);
  EXPECT_STREQ(buffer, "SomeValue");
  EXPECT_EQ(GetLastError(), 0xdeadbeefu);

  ASSERT_TRUE(SetEnvironmentVariableA("viduzokerntestvariable", ""));
  EXPECT_EQ(GetEnvironmentVariableA(name, buffer, sizeof(buffer)), 0u);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(GetLastError(), 0xdeadbeefu);  // an empty value is no error
  ASSERT_TRUE(SetEnvironmentVariableA(name, nullptr));
  EXPECT_EQ(GetEnvironmentVariableA(name, buffer, sizeof(buffer)), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ENVVAR_NOT_FOUND));
}

TEST(KernelBasics, HeapAndGuids) {
  HANDLE heap = GetProcessHeap();
  auto* block = static_cast<unsigned char*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, 24));
  ASSERT_NE(block, nullptr);
  for (int i = 0; i < 24; ++i) EXPECT_EQ(block[i], 0) << i;
  EXPECT_TRUE(HeapFree(heap, 0, block));

  const GUID fixed = {0x0123ABCD, 0x4567, 0x89EF, {0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10}};
  WCHAR text[40];
  EXPECT_EQ(StringFromGUID2(fixed, text, 38), 0);  // no room for the terminator
  ASSERT_EQ(StringFromGUID2(fixed, text, 39), 39);
  EXPECT_EQ(std::string(text, text + 39), std::string("{0123ABCD-4567-89EF-FEDC-BA9876543210}", 39));
  GUID a;
  ASSERT_EQ(CoCreateGuid(&a), S_OK);
  EXPECT_EQ(a.Data3 >> 12, 4);            // a random GUID
  EXPECT_EQ(a.Data4[0] & 0xC0, 0x80);     // of the standard variant
}

#ifndef _WIN32
TEST(KernelNative, DebugLinesMessageBoxesHeapFailuresAndCodePageAreUpToTheTest) {
  OutputDebugStringA("first line");
  OutputDebugStringA("second line");
  ASSERT_GE(winsim::DebugLines().size(), 2u);
  EXPECT_EQ(winsim::DebugLines()[winsim::DebugLines().size() - 2], "first line");
  EXPECT_EQ(winsim::DebugLines().back(), "second line");

  winsim::ClearMessageBoxes();
  EXPECT_EQ(MessageBoxA(nullptr, "text", "caption", MB_OK), IDOK);
  winsim::SetMessageBoxAnswer(IDNO);
  EXPECT_EQ(MessageBoxA(nullptr, "sure?", "ask", MB_YESNO), IDNO);
  winsim::SetMessageBoxAnswer(IDOK);
  ASSERT_EQ(winsim::MessageBoxes().size(), 2u);
  EXPECT_EQ(winsim::MessageBoxes()[1].text, "sure?");
  EXPECT_EQ(winsim::MessageBoxes()[1].caption, "ask");
  EXPECT_EQ(winsim::MessageBoxes()[1].type, static_cast<UINT>(MB_YESNO));

  HANDLE heap = GetProcessHeap();
  winsim::FailHeapAllocation(1);  // the second allocation from now fails, and only that one
  void* blocks[] = {HeapAlloc(heap, 0, 8), HeapAlloc(heap, 0, 8), HeapAlloc(heap, 0, 8)};
  EXPECT_NE(blocks[0], nullptr);
  EXPECT_EQ(blocks[1], nullptr);
  EXPECT_NE(blocks[2], nullptr);
  for (void* block : blocks) HeapFree(heap, 0, block);
  winsim::ResetHeapFailure();

  winsim::SetCodePage(932);
  EXPECT_EQ(GetACP(), 932u);
  EXPECT_TRUE(IsDBCSLeadByte(0x95));
  winsim::SetCodePage(1252);
  EXPECT_EQ(GetACP(), 1252u);
  EXPECT_FALSE(IsDBCSLeadByte(0x95));
  winsim::SetCodePage(0);
}
#endif

}  // namespace
