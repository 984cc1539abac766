// Fuzz target: the Registry.Value text of a copied registry value, from any
// value type and size, with the copier's substitution table. Each input is
// checked against the notation written out here from its definition:
//
//   REG_SZ         the text up to its first zero (or the end of the data)
//   REG_EXPAND_SZ  "#%" and the text
//   REG_BINARY     "#x" and two upper-case hexadecimal digits per byte
//   REG_DWORD      "#" and the unsigned decimal number of up to four bytes
//   REG_MULTI_SZ   "[~]", each string followed by "[~]"; an empty list "[~][~]"
//   other types    an empty text
//
// and the substitutions: root 0 ".lnk2" (any case) replaces the default
// value's data by "lnkfile2" and its zero; root 0 "lnkfile2" leaves out
// "IsShortcut" (any case). An entry applies once and is then cleared.
//
// Input: byte 0 the type (below 0xF0: one of 0..12; else the next four bytes),
// byte 1 the destination root (bits 0-1) and how the key and the value name are
// chosen (bits 2-4, 5-7), then the chosen names' lengths and characters, then
// the value's data. The value buffer is kept across inputs, as the copier keeps
// it across the values of a key.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "runtime/services.h"
#include "system/dynamic_registry.h"

namespace {

struct Reader {
  const uint8_t* data;
  size_t size;
  size_t at = 0;
  uint8_t Byte() { return at < size ? data[at++] : 0; }
  // A name made of characters that compare the same in every code page.
  std::string Name() {
    static const char kAlphabet[] = "lLnNkKfFiIeE2.sShHoOrRtTcCuU\\x";
    size_t length = Byte() % 16;
    std::string name;
    for (size_t i = 0; i < length; ++i) name += kAlphabet[Byte() % (sizeof kAlphabet - 1)];
    return name;
  }
};

std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

std::string TextOf(const uint8_t* data, size_t size) {
  size_t length = 0;
  while (length < size && data[length]) ++length;
  return std::string(reinterpret_cast<const char*>(data), length);
}

std::string Notation(uint32_t type, const uint8_t* data, size_t size) {
  switch (type) {
    case 1:
      return TextOf(data, size);
    case 2:
      return "#%" + TextOf(data, size);
    case 3: {
      std::string text = "#x";
      for (size_t i = 0; i < size; ++i) {
        text += "0123456789ABCDEF"[data[i] >> 4];
        text += "0123456789ABCDEF"[data[i] & 15];
      }
      return text;
    }
    case 4: {
      uint32_t number = 0;
      for (size_t i = 0; i < size && i < 4; ++i) number |= static_cast<uint32_t>(data[i]) << (8 * i);
      return "#" + std::to_string(number);
    }
    case 7: {
      std::string text = "[~]";
      size_t at = 0, strings = 0;
      while (at < size && data[at]) {
        std::string one = TextOf(data + at, size - at);
        text += one + "[~]";
        at += one.size() + 1;
        ++strings;
      }
      return strings ? text : "[~][~]";
    }
    default:
      return "";
  }
}

void Fail(const char* what, const std::string& expected, const std::string& got) {
  std::fprintf(stderr, "registry_value: %s\n  expected \"%s\"\n  got      \"%s\"\n", what,
               expected.c_str(), got.c_str());
  std::abort();
}

// Reachable to the end, so never reported as a leak.
struct {
  char* text = nullptr;
  DWORD size = 0;
} g_value;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Reader in{data, size};
  uint8_t first = in.Byte();
  uint32_t type = first % 13;
  if (first >= 0xF0) {
    type = 0;
    for (int i = 0; i < 4; ++i) type |= static_cast<uint32_t>(in.Byte()) << (8 * i);
  }
  uint8_t choice = in.Byte();
  int root = choice & 3;
  static const char* const kKeys[] = {".lnk2", ".LNK2",    "lnkfile2", "LnkFile2",
                                      ".lnk",  "lnkfile", "x"};
  static const char* const kNames[] = {"", "IsShortcut", "ISSHORTCUT", "isShortcutX", "Other", "+"};
  unsigned keyChoice = (choice >> 2) & 7, nameChoice = (choice >> 5) & 7;
  std::string key = keyChoice < 7 ? kKeys[keyChoice] : in.Name();
  std::string name = nameChoice < 6 ? kNames[nameChoice] : in.Name();
  const uint8_t* value = data + in.at;
  size_t valueSize = size - in.at;

  // What the definition says.
  bool replaces = root == 0 && Lower(key) == ".lnk2" && name.empty();
  bool leavesOut = root == 0 && Lower(key) == "lnkfile2" && Lower(name) == "isshortcut";
  bool hasEntry = root == 0 && (Lower(key) == ".lnk2" || Lower(key) == "lnkfile2");
  static const uint8_t kClass[] = "lnkfile2";
  std::string expected = replaces ? Notation(type, kClass, sizeof kClass)
                                  : Notation(type, value, valueSize);

  const viduzo::RegistrySubstitution* entry =
      viduzo::FindRegistrySubstitution(root, key.c_str());
  if ((entry != nullptr) != hasEntry)
    Fail("wrong substitution entry for the key", hasEntry ? "an entry" : "none", key);
  const viduzo::RegistrySubstitution* pending = entry;
  viduzo::RowValue row = viduzo::RegistryRowValue(&pending, name.c_str(), type, value,
                                                  static_cast<DWORD>(valueSize), &g_value.text,
                                                  &g_value.size);
  if (leavesOut) {
    if (row != viduzo::RowValue::kLeftOut) Fail("IsShortcut was not left out", "", name);
  } else {
    if (row != viduzo::RowValue::kWritten) Fail("no value was written", expected, "");
    std::string got(g_value.text);
    if (got != expected) Fail("wrong notation", expected, got);
    if (g_value.size <= got.size()) Fail("buffer size below the text", expected, got);
  }
  bool applied = replaces || leavesOut;
  if (pending != (applied ? nullptr : entry))
    Fail("the entry was not cleared exactly when it applied", "", key);
  return 0;
}
