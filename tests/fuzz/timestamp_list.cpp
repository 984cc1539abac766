// Fuzz target: the time-stamp list that SetTimestamps applies, any text at all.
// Three files C:\ts\a, C:\ts\b and C:\ts\c are planted with known times before
// each input; afterwards each must carry the times that the list gives it,
// read here from the list's definition:
//
//   entries end at ">" (text after the last one is no entry); an entry is the
//   path up to its first "|", three numbers up to "|" and a fourth up to the
//   ">"; an entry with fewer fields, or a path over 260 characters, is
//   skipped; a number is its field's leading decimal digits, wrapping at 32
//   bits; the last entry naming a file decides its times, except that a time
//   of zero leaves that time as it was (SetFileTime's rule).
//
// Paths are compared without regard to case, as the file system does. A path
// that could name a planted file by another spelling (it holds "ts" but is not
// one of the three) leaves the times unchecked for that input: only the absence
// of crashes, overruns and leaks is checked then.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <windows.h>

#include "system/timestamps.h"

namespace {

const char* const kFiles[] = {"C:\\ts\\a", "C:\\ts\\b", "C:\\ts\\c"};
const FILETIME kPlanted = {1000, 2000};

DWORD Number(const std::string& field) {
  DWORD n = 0;
  for (char ch : field) {
    if (ch < '0' || ch > '9') break;
    n = n * 10 + static_cast<DWORD>(ch - '0');
  }
  return n;
}

std::string Upper(std::string text) {
  for (char& ch : text)
    if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
  return text;
}

struct Expected {
  FILETIME creation = kPlanted, write = kPlanted;
};

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  CreateDirectoryA("C:\\ts", nullptr);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The list is property text: it ends at its first zero.
  std::string list(reinterpret_cast<const char*>(data), size);
  list = list.c_str();
  Expected expected[3];
  for (int i = 0; i < 3; ++i) {
    HANDLE file = CreateFileA(kFiles[i], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    Check(file != INVALID_HANDLE_VALUE);
    Check(SetFileTime(file, &kPlanted, nullptr, &kPlanted));
    CloseHandle(file);
  }
  bool checked = true;
  size_t at = 0;
  for (size_t end; (end = list.find('>', at)) != std::string::npos; at = end + 1) {
    std::string entry = list.substr(at, end - at);
    std::vector<std::string> fields;
    size_t from = 0;
    for (size_t bar; fields.size() < 4 && (bar = entry.find('|', from)) != std::string::npos;
         from = bar + 1)
      fields.push_back(entry.substr(from, bar - from));
    if (fields.size() < 4 || fields[0].size() > 260) continue;
    fields.push_back(entry.substr(from));
    bool planted = false;
    for (const char* name : kFiles) planted = planted || Upper(fields[0]) == Upper(name);
    if (!planted && Upper(fields[0]).find("TS") != std::string::npos) checked = false;
    for (int i = 0; i < 3; ++i) {
      if (Upper(fields[0]) != Upper(kFiles[i])) continue;
      // A time of zero leaves that time as it was: SetFileTime's rule.
      const FILETIME creation = {Number(fields[1]), Number(fields[2])};
      const FILETIME write = {Number(fields[3]), Number(fields[4])};
      if (creation.dwLowDateTime || creation.dwHighDateTime) expected[i].creation = creation;
      if (write.dwLowDateTime || write.dwHighDateTime) expected[i].write = write;
    }
  }
  std::vector<char> text(list.begin(), list.end());
  text.push_back('\0');
  viduzo::ApplyTimestampList(text.data());
  for (int i = 0; checked && i < 3; ++i) {
    HANDLE file = CreateFileA(kFiles[i], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    Check(file != INVALID_HANDLE_VALUE);
    FILETIME creation, write;
    Check(GetFileTime(file, &creation, nullptr, &write));
    CloseHandle(file);
    Check(creation.dwLowDateTime == expected[i].creation.dwLowDateTime &&
          creation.dwHighDateTime == expected[i].creation.dwHighDateTime &&
          write.dwLowDateTime == expected[i].write.dwLowDateTime &&
          write.dwHighDateTime == expected[i].write.dwHighDateTime);
  }
  return 0;
}
