// Installer records: numbered fields that are null, an integer or a string.
#pragma once

#include <string>
#include <vector>

#include "winsim/msi/handles.h"

namespace winsim {

struct Field {
  enum Kind { kNull, kInteger, kString, kStream } kind = kNull;
  int integer = 0;
  std::string text;

  static Field Null() { return Field{}; }
  static Field Int(int value) {
    Field f;
    if (value != MSI_NULL_INTEGER) {
      f.kind = kInteger;
      f.integer = value;
    }
    return f;
  }
  // An empty string is a null field, as on the real engine.
  static Field Str(const std::string& value) {
    Field f;
    if (!value.empty()) {
      f.kind = kString;
      f.text = value;
    }
    return f;
  }
  // A stream (the data of an OBJECT column); its bytes are held in text.
  static Field Stream(const std::string& bytes) {
    Field f;
    f.kind = kStream;
    f.text = bytes;
    return f;
  }
  bool IsNull() const { return kind == kNull; }
  // The field as text: integers in decimal, null as empty.
  std::string AsText() const;
  // The field as an integer: a string of decimal digits with an optional "-"
  // (wrapping around past 32 bits), else the null integer.
  int AsInteger() const;
  bool operator==(const Field& other) const;
};

// Field 0 is the template / extra field; fields 1..count follow.
struct Record : Object {
  explicit Record(unsigned count) : fields(count + 1) {}
  std::vector<Field> fields;
  unsigned Count() const { return static_cast<unsigned>(fields.size() - 1); }
};

// Copies text into a caller buffer with the installer's size protocol: *count comes
// in as the buffer size (terminator included) and goes out as the text length;
// 234 when the buffer was too small (the text is cut and terminated).
UINT CopyOut(const std::string& text, LPSTR buffer, DWORD* count);

}  // namespace winsim
