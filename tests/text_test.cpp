// Code pages, the multibyte helpers, conversions, wsprintfA, the environment,
// the process heap, the last error and GUIDs, at the Win32 boundary. Cases
// that need code page 932 skip unless GetACP() is 932; the suite runs them
// again under LC_ALL=ja_JP.UTF-8 (their names contain "Dbcs").
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "runtime/win.h"
#ifndef _WIN32
#include "winsim/control.h"
#endif

namespace {

std::vector<int> CharStarts(const char* text) {
  std::vector<int> starts;
  for (const char* p = text; *p; p = CharNextA(p)) starts.push_back(static_cast<int>(p - text));
  return starts;
}

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
  struct Case {
    UINT codePage;
    BYTE byte;
    bool lead;
  } cases[] = {
      {932, 0x81, true},   {932, 0x95, true},   {932, 0x9F, true},   {932, 0xE0, true},
      {932, 0xFC, true},   {932, 0x80, false},  {932, 0xA0, false},  {932, 0xA1, false},
      {932, 0xDF, false},  {932, 0xFD, false},  {932, 0x5C, false},  {932, 0x41, false},
      {1252, 0x81, false}, {1252, 0x95, false}, {1252, 0xE0, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(IsDBCSLeadByteEx(c.codePage, c.byte) != FALSE, c.lead)
        << "code page " << c.codePage << " byte " << int(c.byte);
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
    EXPECT_EQ(CharStarts(c.text), c.starts);
    const char* end = c.text + std::strlen(c.text);
    EXPECT_EQ(CharNextA(end), end);
    std::vector<int> backwards;
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
  struct Case {
    const char* text;
    const char* upper;
    const char* lower;
  } cases[] = {
      {"a\x83\x61z", "A\x83\x61Z", "a\x83\x61z"},  // trail byte 'a'
      {"Q\x83\x41q", "Q\x83\x41Q", "q\x83\x41q"},  // trail byte 'A'
      {"x\x83\x5C\\y", "X\x83\x5C\\Y", "x\x83\x5C\\y"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Hex(c.text));
    char buffer[32];
    std::strcpy(buffer, c.text);
    EXPECT_EQ(CharUpperA(buffer), buffer);
    EXPECT_EQ(Hex(buffer), Hex(c.upper));
    std::strcpy(buffer, c.text);
    EXPECT_EQ(CharLowerA(buffer), buffer);
    EXPECT_EQ(Hex(buffer), Hex(c.lower));
  }
  // Equal trail letters of different case are different characters.
  EXPECT_NE(lstrcmpiA("\x83\x41", "\x83\x61"), 0);
  EXPECT_EQ(lstrcmpiA("x\x83\x5CY", "X\x83\x5Cy"), 0);
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

TEST(TextCodePage, Latin1LettersInCodePage1252) {
  if (GetACP() != 1252) GTEST_SKIP() << "needs code page 1252";
  char buffer[32];
  std::strcpy(buffer, "\xE9t\xE9 \xFF\x9A\x9C mix 1!");
  CharUpperA(buffer);
  EXPECT_EQ(Hex(buffer), Hex("\xC9T\xC9 \x9F\x8A\x8C MIX 1!"));
  CharLowerA(buffer);
  EXPECT_EQ(Hex(buffer), Hex("\xE9t\xE9 \xFF\x9A\x9C mix 1!"));
  EXPECT_EQ(lstrcmpiA("\xC9T\xC9", "\xE9t\xE9"), 0);
  EXPECT_EQ(lstrcmpA("\xE9", "f"), -1);  // an accented letter sorts with its letter
  EXPECT_EQ(lstrcmpA("\xE9", "\xE8"), -1);  // acute before grave
  EXPECT_EQ(lstrcmpA("\xE6", "ae"), 0);     // letters that sort as two
  EXPECT_EQ(lstrcmpiA("Stra\xDF" "e", "STRASSE"), 0);
  EXPECT_EQ(lstrcmpiA("\x83\x41", "\x83\x61"), 0);  // "ƒA" and "ƒa": single bytes here
}

TEST(TextCompare, WordSortOrderAndResults) {
  struct Case {
    const char* a;
    const char* b;
    int cmp;
    int cmpi;
  } cases[] = {
      {"abc", "abc", 0, 0},          {"abc", "ABC", -1, 0},   {"a1", "A1", -1, 0},
      {"a", "B", -1, -1},            {"Z", "a", 1, 1},        {"abc", "abcd", -1, -1},
      {"#", ".", -1, -1},            {"_", ".", 1, 1},        {"EndDialog", "_Property", 1, 1},
      {"'o", "-o", -1, -1},          {"`o", "-m", -1, -1},    {"10", "9", -1, -1},
      {"$", "%", -1, -1},            {"~", "+", -1, -1},      {"a\x01", "a-", -1, -1},
      {"", "", 0, 0},                {nullptr, "", -1, -1},   {"", nullptr, 1, 1},
      {nullptr, nullptr, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.a ? c.a : "(null)") + " / " + (c.b ? c.b : "(null)"));
    EXPECT_EQ(lstrcmpA(c.a, c.b), c.cmp);
    EXPECT_EQ(lstrcmpiA(c.a, c.b), c.cmpi);
  }
}

TEST(TextStrings, CopyConcatenateAndLength) {
  struct Case {
    const char* source;
    int count;
    const char* copied;
  } cases[] = {{"hello", 3, "he"}, {"hello", 6, "hello"}, {"hello", 1, ""}, {"hello", 40, "hello"}};
  for (const Case& c : cases) {
    char buffer[16];
    std::memset(buffer, 'x', sizeof(buffer));
    EXPECT_EQ(lstrcpynA(buffer, c.source, c.count), buffer);
    EXPECT_STREQ(buffer, c.copied) << "count " << c.count;
    EXPECT_EQ(buffer[std::strlen(c.copied) + 1], 'x');  // nothing written past the terminator
  }
  char buffer[16];
  EXPECT_EQ(lstrcpyA(buffer, "ab"), buffer);
  EXPECT_EQ(lstrcatA(buffer, "cd"), buffer);
  EXPECT_STREQ(buffer, "abcd");
  EXPECT_EQ(lstrlenA(buffer), 4);
  EXPECT_EQ(lstrlenA(nullptr), 0);
  std::strcpy(buffer, "Mixed 9-Case");
  EXPECT_STREQ(CharUpperA(buffer), "MIXED 9-CASE");
  EXPECT_STREQ(CharLowerA(buffer), "mixed 9-case");
}

TEST(TextConvert, MultiByteToWideCharSizes) {
  struct Case {
    UINT codePage;
    const char* source;
    int sourceLength;
    int bufferSize;
    int result;
    DWORD error;  // checked when result is 0
    std::vector<WCHAR> wide;
  } cases[] = {
      {1252, "abc", -1, 0, 4, 0, {}},
      {1252, "abc", 3, 0, 3, 0, {}},
      {1252, "abc", -1, 4, 4, 0, {'a', 'b', 'c', 0}},
      {1252, "abc", -1, 3, 0, ERROR_INSUFFICIENT_BUFFER, {}},
      {1252, "abc", 0, 4, 0, ERROR_INVALID_PARAMETER, {}},
      {1252, "\xE9\x80", 2, 4, 2, 0, {0xE9, 0x20AC}},
      {932, "\x95\x5C" "A\x83\x5C", -1, 8, 4, 0, {0x8868, 'A', 0x30BD, 0}},
      {932, "\x81\x5F\xB1", 3, 8, 2, 0, {0xFF3C, 0xFF71}},
      {CP_UTF8, "\xE8\xA1\xA8" "x", -1, 8, 3, 0, {0x8868, 'x', 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.codePage) + ": " + Hex(c.source));
    WCHAR buffer[8] = {};
    SetLastError(0xdeadbeef);
    int result = MultiByteToWideChar(c.codePage, 0, c.source, c.sourceLength,
                                     c.bufferSize ? buffer : nullptr, c.bufferSize);
    EXPECT_EQ(result, c.result);
    if (result == 0) {
      EXPECT_EQ(GetLastError(), c.error);
    }
    for (size_t i = 0; i < c.wide.size(); ++i) EXPECT_EQ(buffer[i], c.wide[i]) << "at " << i;
  }
}

TEST(TextConvert, WideCharToMultiByteSizesAndDefaultCharacter) {
  const WCHAR kanji[] = {0x8868, 'A', 0};
  const WCHAR latin[] = {0xE9, 'x', 0};
  const WCHAR bestFit[] = {0x101, 0xFF21, 0x3000, 0};  // a-macron, full-width A, ideographic space
  struct Case {
    UINT codePage;
    const WCHAR* source;
    int bufferSize;
    int result;
    DWORD error;
    const char* bytes;
    BOOL usedDefault;
  } cases[] = {
      {1252, latin, 0, 3, 0, nullptr, FALSE},
      {1252, latin, 8, 3, 0, "\xE9x", FALSE},
      {1252, latin, 2, 0, ERROR_INSUFFICIENT_BUFFER, nullptr, FALSE},
      {1252, kanji, 8, 3, 0, "?A", TRUE},
      {1252, bestFit, 8, 4, 0, "aA ", FALSE},
      {932, kanji, 8, 4, 0, "\x95\x5C" "A", FALSE},
      {932, kanji, 3, 0, ERROR_INSUFFICIENT_BUFFER, nullptr, FALSE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.codePage) + " size " + std::to_string(c.bufferSize));
    char buffer[8] = {};
    BOOL used = 2;
    SetLastError(0xdeadbeef);
    int result = WideCharToMultiByte(c.codePage, 0, c.source, -1, c.bufferSize ? buffer : nullptr,
                                     c.bufferSize, nullptr, &used);
    EXPECT_EQ(result, c.result);
    if (result == 0) {
      EXPECT_EQ(GetLastError(), c.error);
    }
    if (c.bytes) {
      EXPECT_EQ(Hex(buffer), Hex(c.bytes));
      EXPECT_EQ(used, c.usedDefault);
    }
  }
  char buffer[8];
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, kanji, -1, buffer, sizeof(buffer), nullptr, nullptr), 5);
  EXPECT_STREQ(buffer, "\xE8\xA1\xA8" "A");
}

template <class... Args>
std::string Formatted(const char* format, Args... args) {
  char buffer[1100];
  int n = wsprintfA(buffer, format, args...);
  EXPECT_EQ(n, static_cast<int>(std::strlen(buffer))) << format;
  return buffer;
}

TEST(TextFormat, WsprintfConversions) {
  const WCHAR wide[] = {'w', 'i', 0};
  EXPECT_EQ(Formatted("%d|%i|%u", -5, 7, -1), "-5|7|4294967295");
  EXPECT_EQ(Formatted("%lu|%ld", static_cast<DWORD>(4000000000u), static_cast<LONG>(-2)),
            "4000000000|-2");
  EXPECT_EQ(Formatted("%08lX|%x|%#x", static_cast<DWORD>(0xBEEF), 255, 255), "0000BEEF|ff|0xff");
  EXPECT_EQ(Formatted("%5d|%-5d|%05d", 42, 42, -42), "   42|42   |-0042");
  EXPECT_EQ(Formatted("[%-4s|%4s|%.3s]", "ab", "cd", "abcdef"), "[ab  |  cd|abc]");
  EXPECT_EQ(Formatted("%c%c %S %ls", 'o', 'k', wide, wide), "ok wi wi");
  EXPECT_EQ(Formatted("100%%"), "100%");
}

TEST(TextFormat, WsprintfStopsAt1024Characters) {
  std::string longText(1500, 'x');
  char buffer[1600];
  std::memset(buffer, 'y', sizeof(buffer));
  int n = wsprintfA(buffer, "%s", longText.c_str());
  EXPECT_EQ(std::strlen(buffer), 1023u);
  EXPECT_GE(n, 1023);
  EXPECT_EQ(buffer[1024], 'y');
}

TEST(KernelEnvironment, SizeProtocolAndNamesWithoutCase) {
  const char* name = "ViduzoKernTestVariable";
  ASSERT_TRUE(SetEnvironmentVariableA(name, "SomeValue"));  // 9 characters
  struct Case {
    const char* lookup;
    DWORD size;
    DWORD result;
    const char* buffer;  // content afterwards
  } cases[] = {
      {name, 0, 10, "foo"},
      {name, 9, 10, "foo"},  // too small: the size needed, buffer untouched
      {name, 10, 9, "SomeValue"},
      {"VIDUZOKERNTESTVARIABLE", 32, 9, "SomeValue"},
      {"viduzokerntestvariable", 32, 9, "SomeValue"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.lookup) + " size " + std::to_string(c.size));
    char buffer[32] = "foo";
    SetLastError(0xdeadbeef);
    EXPECT_EQ(GetEnvironmentVariableA(c.lookup, c.size ? buffer : nullptr, c.size), c.result);
    EXPECT_STREQ(buffer, c.buffer);
    EXPECT_EQ(GetLastError(), 0xdeadbeefu);
  }

  char buffer[32] = "foo";
  ASSERT_TRUE(SetEnvironmentVariableA("VIDUZOkernTESTvariable", ""));
  SetLastError(0xdeadbeef);
  EXPECT_EQ(GetEnvironmentVariableA(name, buffer, sizeof(buffer)), 0u);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(GetLastError(), 0xdeadbeefu);  // an empty value is no error
  EXPECT_EQ(GetEnvironmentVariableA(name, nullptr, 0), 1u);

  ASSERT_TRUE(SetEnvironmentVariableA(name, nullptr));
  std::strcpy(buffer, "foo");
  EXPECT_EQ(GetEnvironmentVariableA(name, buffer, sizeof(buffer)), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ENVVAR_NOT_FOUND));
  EXPECT_STREQ(buffer, "foo");
  EXPECT_EQ(GetEnvironmentVariableA("", buffer, sizeof(buffer)), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ENVVAR_NOT_FOUND));
}

TEST(KernelBasics, HeapZeroesWhatItIsAskedTo) {
  HANDLE heap = GetProcessHeap();
  ASSERT_NE(heap, nullptr);
  auto* block = static_cast<unsigned char*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, 24));
  ASSERT_NE(block, nullptr);
  for (int i = 0; i < 24; ++i) EXPECT_EQ(block[i], 0) << i;
  std::memset(block, 0xAB, 24);
  block = static_cast<unsigned char*>(HeapReAlloc(heap, HEAP_ZERO_MEMORY, block, 4000));
  ASSERT_NE(block, nullptr);
  for (int i = 0; i < 24; ++i) EXPECT_EQ(block[i], 0xAB) << i;
  for (int i = 24; i < 4000; ++i) ASSERT_EQ(block[i], 0) << i;
  EXPECT_TRUE(HeapFree(heap, 0, block));
  EXPECT_TRUE(HeapFree(heap, 0, nullptr));
}

TEST(KernelBasics, LastErrorBelongsToEachThread) {
  // Busy waits on atomics: no API call in between may touch the error codes.
  std::atomic<bool> go{false}, done{false};
  DWORD initialInThread = 0, seenInThread = 0;
  std::thread other([&] {
    while (!go.load()) {
    }
    initialInThread = GetLastError();
    SetLastError(42);
    seenInThread = GetLastError();
    done.store(true);
  });
  SetLastError(1234);
  go.store(true);
  while (!done.load()) {
  }
  DWORD seenInMain = GetLastError();
  other.join();
  EXPECT_NE(initialInThread, 1234u);
  EXPECT_EQ(seenInThread, 42u);
  EXPECT_EQ(seenInMain, 1234u);
}

TEST(KernelBasics, GuidTextForm) {
  const GUID fixed = {0x0123ABCD, 0x4567, 0x89EF, {0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10}};
  WCHAR text[40];
  EXPECT_EQ(StringFromGUID2(fixed, text, 38), 0);  // no room for the terminator
  ASSERT_EQ(StringFromGUID2(fixed, text, 39), 39);
  std::string narrow(text, text + 38);
  EXPECT_EQ(narrow, "{0123ABCD-4567-89EF-FEDC-BA9876543210}");
  EXPECT_EQ(text[38], 0);

  GUID a, b;
  ASSERT_EQ(CoCreateGuid(&a), S_OK);
  ASSERT_EQ(CoCreateGuid(&b), S_OK);
  EXPECT_NE(std::memcmp(&a, &b, sizeof(GUID)), 0);
  EXPECT_EQ(a.Data3 >> 12, 4);            // a random GUID
  EXPECT_EQ(a.Data4[0] & 0xC0, 0x80);     // of the standard variant
}

#ifndef _WIN32
TEST(KernelNative, DebugLinesAndMessageBoxesAreRecorded) {
  winsim::ClearMessageBoxes();
  OutputDebugStringA("first line");
  OutputDebugStringA("second line");
  ASSERT_GE(winsim::DebugLines().size(), 2u);
  EXPECT_EQ(winsim::DebugLines()[winsim::DebugLines().size() - 2], "first line");
  EXPECT_EQ(winsim::DebugLines().back(), "second line");

  EXPECT_EQ(MessageBoxA(nullptr, "text", "caption", MB_OK), IDOK);
  winsim::SetMessageBoxAnswer(IDNO);
  EXPECT_EQ(MessageBoxA(nullptr, "sure?", "ask", MB_YESNO), IDNO);
  winsim::SetMessageBoxAnswer(IDOK);
  ASSERT_EQ(winsim::MessageBoxes().size(), 2u);
  EXPECT_EQ(winsim::MessageBoxes()[1].text, "sure?");
  EXPECT_EQ(winsim::MessageBoxes()[1].caption, "ask");
  EXPECT_EQ(winsim::MessageBoxes()[1].type, static_cast<UINT>(MB_YESNO));
  winsim::ClearMessageBoxes();
}

TEST(KernelNative, HeapFailureCanBeInjected) {
  HANDLE heap = GetProcessHeap();
  winsim::FailHeapAllocation(1);
  void* first = HeapAlloc(heap, 0, 8);
  void* second = HeapAlloc(heap, 0, 8);
  void* third = HeapAlloc(heap, 0, 8);
  EXPECT_NE(first, nullptr);
  EXPECT_EQ(second, nullptr);
  EXPECT_NE(third, nullptr);
  HeapFree(heap, 0, first);
  HeapFree(heap, 0, third);
  winsim::ResetHeapFailure();
}

TEST(TextNative, CodePageFollowsTheTest) {
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
