// The shared action services, at their own boundary, against a real package.
#include <cstring>
#include <string>

#include "runtime/services.h"
#include "tests/fixture.h"

#ifndef _WIN32
#include "winsim/control.h"
#endif

using namespace viduzo;
using namespace viduzo_test;

namespace {

struct Buffer {
  char* text = nullptr;
  DWORD size = 0;
  ~Buffer() { FreeBuffer(&text); }
};

struct GrowCase {
  DWORD startLength;  // ~0u: start from a null buffer
  DWORD wanted;
  DWORD expectedSize;
};

TEST(GrowBuffer, SizesFollowFirstAllocationAndExactGrowth) {
  const GrowCase cases[] = {
      {~0u, 10, 261},   // a fresh buffer is never smaller than 261 bytes
      {~0u, 300, 301},  // unless the length needs more
      {~0u, 260, 261},  {~0u, 261, 262},
      {10, 260, 261},   // an existing 261-byte buffer holds 260 characters
      {10, 261, 262},   // and grows to exactly length + 1
      {300, 5, 301},    // never shrinks
  };
  for (const GrowCase& c : cases) {
    Buffer b;
    if (c.startLength != ~0u) {
      ASSERT_TRUE(GrowBuffer(&b.text, &b.size, c.startLength));
      std::strcpy(b.text, "kept");
    }
    ASSERT_TRUE(GrowBuffer(&b.text, &b.size, c.wanted));
    ASSERT_NE(b.text, nullptr);
    EXPECT_EQ(b.size, c.expectedSize) << c.startLength << " -> " << c.wanted;
    if (c.startLength != ~0u) {
      EXPECT_STREQ(b.text, "kept");
    }
    std::memset(b.text, 'x', b.size);  // the whole block is usable (ASan checks)
  }
}

class ServicesTest : public ::testing::Test {
 protected:
  Package pkg;
};

TEST_F(ServicesTest, GetPropertyValueGrowsOnceForLongValues) {
  const std::string longValue(600, 'v');
  pkg.Property("LONG", longValue).Property("SHORT", "abc");
  MSIHANDLE h = pkg.Open();

  struct Case {
    const char* name;
    std::string value;
    DWORD size;
  } cases[] = {
      {"LONG", longValue, 601},  // 234 first, then a buffer of exactly 601 bytes
      {"SHORT", "abc", 513},
      {"MISSING", "", 513},  // a property that is not set reads as empty, result 0
      {"MAX512", std::string(512, 'm'), 513},
      {"OVER512", std::string(513, 'o'), 514},
  };
  SetProp(h, "MAX512", std::string(512, 'm'));
  SetProp(h, "OVER512", std::string(513, 'o'));
  for (const Case& c : cases) {
    Buffer b;
    DWORD length = 99;
    EXPECT_EQ(GetPropertyValue(h, c.name, &b.text, &b.size, &length), ERROR_SUCCESS) << c.name;
    EXPECT_EQ(b.text, c.value) << c.name;
    EXPECT_EQ(length, c.value.size()) << c.name;
    EXPECT_EQ(b.size, c.size) << c.name;
  }
}

TEST_F(ServicesTest, GetPropertyValueReallocatesAGivenBufferAndRejectsNoBuffer) {
  pkg.Property("P", "value");
  MSIHANDLE h = pkg.Open();
  Buffer b;
  ASSERT_TRUE(GrowBuffer(&b.text, &b.size, 2000));
  EXPECT_EQ(GetPropertyValue(h, "P", &b.text, &b.size, nullptr), ERROR_SUCCESS);
  EXPECT_STREQ(b.text, "value");
  EXPECT_EQ(b.size, 513u);  // a block passed in is reallocated to 513 bytes, whatever its size
  EXPECT_EQ(GetPropertyValue(h, "P", nullptr, nullptr, nullptr), ERROR_INSTALL_FAILURE);
}

TEST_F(ServicesTest, FormatTextResolvesPropertiesAndGrows) {
  const std::string folder = "C:\\Program Files\\Velmar\\" + std::string(300, 'd') + "\\";
  pkg.Property("QVADIR.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60", folder);
  MSIHANDLE h = pkg.Open();

  Buffer b;
  char* resolved = nullptr;
  ASSERT_EQ(FormatText(h, "[QVADIR.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60]HOSTCFG.INI", &b.text,
                       &resolved, &b.size),
            ERROR_SUCCESS);
  ASSERT_NE(resolved, nullptr);
  EXPECT_EQ(std::string(resolved), folder + "HOSTCFG.INI");
  EXPECT_EQ(b.size, std::string("1: " + folder + "HOSTCFG.INI ").size() + 1);

  // A second call reuses the grown buffer with its size.
  const DWORD grown = b.size;
  ASSERT_EQ(FormatText(h, "plain", &b.text, &resolved, &b.size), ERROR_SUCCESS);
  EXPECT_STREQ(resolved, "plain");
  EXPECT_EQ(b.size, grown);

  // An existing buffer without a size is refused.
  EXPECT_EQ(FormatText(h, "x", &b.text, &resolved, nullptr), ERROR_INSTALL_FAILURE);
  DWORD zero = 0;
  EXPECT_EQ(FormatText(h, "x", &b.text, &resolved, &zero), ERROR_INSTALL_FAILURE);
}

TEST_F(ServicesTest, FormatTextOfAnEmptyTemplate) {
  MSIHANDLE h = pkg.Open();
  Buffer b;
  char* resolved = reinterpret_cast<char*>(&b);
  ASSERT_EQ(FormatText(h, "", &b.text, &resolved, &b.size), ERROR_SUCCESS);
  ASSERT_NE(resolved, nullptr);
  EXPECT_STREQ(resolved, "");
  EXPECT_EQ(b.size, 261u);
}

TEST_F(ServicesTest, HideCancelSendsTheCommonDataMessage) {
  MSIHANDLE h = pkg.Open();
  EXPECT_EQ(HideCancelMessage(h), ERROR_SUCCESS);
  EXPECT_EQ(CallAction(h, "HideCancelButton"), ERROR_SUCCESS);
  // Without an install session the message goes nowhere; the action still succeeds.
  EXPECT_EQ(CallAction(0, "HideCancelButton"), ERROR_SUCCESS);
#ifndef _WIN32
  const auto& messages = winsim::Messages();
  ASSERT_EQ(messages.size(), 2u);
  for (const auto& m : messages) {
    EXPECT_EQ(m.type, INSTALLMESSAGE_COMMONDATA);
    ASSERT_EQ(m.fields.size(), 3u);
    EXPECT_EQ(m.fields[1], "2");
    EXPECT_EQ(m.fields[2], "0");
  }
#endif
}

bool IsUpperHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

TEST(GuidSuffix, AppendsADotAndThirtySixCharacters) {
#ifndef _WIN32
  const std::size_t blocks = winsim::HeapBlockCount();
#endif
  char first[128] = "DYN_REG";
  char second[128] = "DYN_REG";
  char* where = first;  // non-null on entry: receives where the suffix begins
  ASSERT_TRUE(AppendGuidSuffix(0, first, &where));
  EXPECT_EQ(where, first + 7);
  char* untouched = nullptr;
  ASSERT_TRUE(AppendGuidSuffix(0, second, &untouched));
  EXPECT_EQ(untouched, nullptr);

  for (const char* name : {first, second}) {
    ASSERT_EQ(std::strlen(name), 7u + 37u) << name;
    EXPECT_EQ(std::string(name, 8), "DYN_REG.");
    const char* s = name + 8;
    for (int i = 0; i < 36; ++i) {
      if (i == 8 || i == 13 || i == 18 || i == 23) {
        EXPECT_EQ(s[i], '_') << name;
      } else {
        EXPECT_TRUE(IsUpperHex(s[i])) << name;
      }
    }
  }
  EXPECT_STRNE(first, second);

  char* guid = nullptr;
  ASSERT_TRUE(NewGuidString(0, &guid));
  EXPECT_EQ(std::strlen(guid), 38u);
  EXPECT_EQ(guid[0], '{');
  EXPECT_EQ(guid[37], '}');
  FreeBuffer(&guid);
#ifndef _WIN32
  EXPECT_EQ(winsim::HeapBlockCount(), blocks) << "every GUID text released";
#endif
}

TEST(BytesToHexString, WritesPrefixAndUpperCaseDigits) {
  const BYTE bytes[] = {0x01, 0xAB, 0x00, 0xFF};
  struct Case {
    DWORD count;
    const char* prefix;
    const char* expected;
  } cases[] = {
      {2, "#x", "#x01AB"},
      {4, "#x", "#x01AB00FF"},
      {0, "#x", "#x"},
      {4, nullptr, "01AB00FF"},
  };
  for (const Case& c : cases) {
    Buffer b;
    ASSERT_TRUE(BytesToHexString(bytes, c.count, &b.text, c.prefix, &b.size));
    EXPECT_STREQ(b.text, c.expected);
    EXPECT_GE(b.size, std::strlen(c.expected) + 1);
  }

  // A buffer of its own size without a size pointer is measured by its text.
  Buffer b;
  ASSERT_TRUE(BytesToHexString(bytes, 1, &b.text, nullptr, nullptr));
  BYTE many[400];
  for (int i = 0; i < 400; ++i) many[i] = static_cast<BYTE>(i);
  ASSERT_TRUE(BytesToHexString(many, 400, &b.text, "#x", nullptr));
  EXPECT_EQ(std::strlen(b.text), 802u);
  EXPECT_EQ(std::string(b.text + 2, 6), "000102");
}

TEST(GrowableText, JoinGrowsToTwiceTheJoinedLengthAndKeepsItsRoom) {
  GrowableText t;
  const std::string tail(200, 't');
  ASSERT_TRUE(t.Join("abc", tail.c_str()));
  EXPECT_EQ(std::string(t.text), "abc" + tail);
  EXPECT_EQ(t.size, 2u * 203u + 1u);
  ASSERT_TRUE(t.Join("x", "y"));  // fits: the block stays
  EXPECT_STREQ(t.text, "xy");
  EXPECT_EQ(t.size, 407u);
  const std::string exact(406, 'e');  // exactly fills the block with its terminator
  ASSERT_TRUE(t.Join(exact.c_str(), ""));
  EXPECT_EQ(t.size, 407u);
  const std::string more(500, 'm');
  ASSERT_TRUE(t.Join(more.c_str(), "z"));
  EXPECT_EQ(std::string(t.text), more + "z");
  EXPECT_EQ(t.size, 2u * 501u + 1u);
  ASSERT_TRUE(t.Join("", ""));
  EXPECT_STREQ(t.text, "");
}

TEST_F(ServicesTest, FormatTextFramesAndValuesHoldingColons) {
  MSIHANDLE h = pkg.Open();
  Buffer b;
  char* resolved = nullptr;
  // The first ": " is the frame's; one in the value stays.
  ASSERT_EQ(FormatText(h, "key: value", &b.text, &resolved, &b.size), ERROR_SUCCESS);
  EXPECT_STREQ(resolved, "key: value");
  // Without asking for the value, the engine's output is left as it is.
  ASSERT_EQ(FormatText(h, "plain", &b.text, nullptr, &b.size), ERROR_SUCCESS);
  EXPECT_STREQ(b.text, "1: plain ");
}

#ifndef _WIN32
// Allocation failures in the services: false, null or 1603, and nothing left
// on the heap.
TEST_F(ServicesTest, AllocationFailuresLeaveNothingBehind) {
  MSIHANDLE h = pkg.Open();
  SetProp(h, "LONG", std::string(700, 'l'));
  const std::size_t blocks = winsim::HeapBlockCount();
  FreeBuffer(nullptr);  // nothing to release

  Buffer b;
  ASSERT_TRUE(GrowBuffer(&b.text, &b.size, 10));
  winsim::FailHeapAllocation(0);
  EXPECT_FALSE(GrowBuffer(&b.text, &b.size, 1000));
  EXPECT_EQ(b.text, nullptr);
  EXPECT_EQ(winsim::HeapBlockCount(), blocks);

  winsim::FailHeapAllocation(0);
  EXPECT_EQ(FormatText(h, "x", &b.text, nullptr, &b.size), ERROR_INSTALL_FAILURE);
  EXPECT_EQ(b.text, nullptr);
  winsim::FailHeapAllocation(1);  // the first block, then its growth
  EXPECT_EQ(FormatText(h, "[LONG]", &b.text, nullptr, &b.size), ERROR_INSTALL_FAILURE);
  EXPECT_EQ(b.text, nullptr);
  EXPECT_EQ(winsim::HeapBlockCount(), blocks);

  DWORD length = 5;
  winsim::FailPropertyRead("LONG");
  EXPECT_NE(GetPropertyValue(h, "LONG", &b.text, &b.size, &length), ERROR_SUCCESS);
  EXPECT_EQ(length, 0u);
  FreeBuffer(&b.text);
  winsim::ResetSession();

  char name[128] = "NAME";
  winsim::FailHeapAllocation(0);
  EXPECT_FALSE(AppendGuidSuffix(0, name, nullptr));
  EXPECT_STREQ(name, "NAME");
  char* guid = nullptr;
  winsim::FailHeapAllocation(0);
  EXPECT_FALSE(NewGuidString(0, &guid));
  ASSERT_TRUE(NewGuidString(0, &guid));
  ASSERT_TRUE(NewGuidString(0, &guid));  // a block passed in is released first
  FreeBuffer(&guid);
  const BYTE bytes[] = {1, 2};
  winsim::FailHeapAllocation(0);
  EXPECT_FALSE(BytesToHexString(bytes, 2, &b.text, "#x", &b.size));
  EXPECT_EQ(b.text, nullptr);
  GrowableText t;
  winsim::FailHeapAllocation(0);
  EXPECT_FALSE(t.Join("a", "b"));
  EXPECT_EQ(winsim::HeapBlockCount(), blocks);
}
#endif

}  // namespace
