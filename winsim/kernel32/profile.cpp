// INI profile files: GetPrivateProfileStringA, GetPrivateProfileIntA and
// WritePrivateProfileStringA over files of the sandboxed file system.
//
// A file is read whole on every call (no cache to go stale) and kept as its
// lines, each classified once; a write changes only the lines it must and
// writes every line back with CR LF, so comments, blank lines and the order
// of everything else survive. Text is handled in UTF-16 so that a double-byte
// character whose trail byte is '[', ']', '=' or ';' stays one character.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include <windows.h>

#include "winsim/core/codepage.h"
#include "winsim/kernel32/host.h"
#include "winsim/kernel32/paths.h"

namespace winsim {
namespace {

enum class Encoding { kAnsi, kUtf8, kUtf16Le, kUtf16Be };

struct Line {
  enum Kind { kBlank, kSection, kKey, kBare, kComment } kind = kBlank;
  std::u16string text;   // the line as it is written to the file
  std::u16string name;   // section or key name
  std::u16string value;  // key value
};

struct Profile {
  std::vector<Line> lines;
  Encoding encoding = Encoding::kAnsi;
};

bool IsBlank(char16_t c) { return (c >= 0x09 && c <= 0x0D) || c == 0x1A || c == 0x20; }

std::u16string Trim(std::u16string_view s) {
  size_t begin = 0, end = s.size();
  while (begin < end && IsBlank(s[begin])) ++begin;
  while (end > begin && IsBlank(s[end - 1])) --end;
  return std::u16string(s.substr(begin, end - begin));
}

Line Classify(std::u16string text) {
  Line line;
  std::u16string trimmed = Trim(text);
  line.text = std::move(text);
  if (trimmed.empty()) return line;
  if (trimmed[0] == u'[') {
    size_t close = trimmed.rfind(u']');
    if (close != std::u16string::npos && close > 0) {
      line.kind = Line::kSection;
      line.name = Trim(std::u16string_view(trimmed).substr(1, close - 1));
      return line;
    }
  }
  if (trimmed[0] == u';') {
    line.kind = Line::kComment;
    return line;
  }
  size_t eq = trimmed.find(u'=');
  if (eq == std::u16string::npos) {
    // A line without "=" names a key that has no value.
    line.kind = Line::kBare;
    line.name = trimmed;
    return line;
  }
  line.kind = Line::kKey;
  line.name = Trim(std::u16string_view(trimmed).substr(0, eq));
  line.value = Trim(std::u16string_view(trimmed).substr(eq + 1));
  return line;
}

std::u16string DecodeFile(const std::string& bytes, Encoding* encoding) {
  auto byte = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
  if (bytes.size() >= 3 && byte(0) == 0xEF && byte(1) == 0xBB && byte(2) == 0xBF) {
    *encoding = Encoding::kUtf8;
    return FromUtf8(std::string_view(bytes).substr(3));
  }
  if (bytes.size() >= 2 && ((byte(0) == 0xFF && byte(1) == 0xFE) || (byte(0) == 0xFE && byte(1) == 0xFF))) {
    bool little = byte(0) == 0xFF;
    *encoding = little ? Encoding::kUtf16Le : Encoding::kUtf16Be;
    std::u16string text;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2)
      text += static_cast<char16_t>(little ? byte(i) | (byte(i + 1) << 8) : (byte(i) << 8) | byte(i + 1));
    return text;
  }
  *encoding = Encoding::kAnsi;
  return ToWide(bytes);
}

std::string EncodeFile(const std::u16string& text, Encoding encoding) {
  switch (encoding) {
    case Encoding::kUtf8:
      return "\xEF\xBB\xBF" + ToUtf8(text);
    case Encoding::kUtf16Le:
    case Encoding::kUtf16Be: {
      bool little = encoding == Encoding::kUtf16Le;
      std::string bytes = little ? "\xFF\xFE" : "\xFE\xFF";
      for (char16_t c : text) {
        char low = static_cast<char>(c & 0xFF), high = static_cast<char>(c >> 8);
        bytes += little ? low : high;
        bytes += little ? high : low;
      }
      return bytes;
    }
    case Encoding::kAnsi:
      break;
  }
  return ToAnsi(text);
}

// The full Windows path of a profile file: a name without any path is in the
// Windows folder, no name at all means win.ini, an empty name is refused.
bool ProfilePath(LPCSTR file, std::u16string* full, DWORD* error) {
  std::u16string name = file ? ToWide(file) : std::u16string(u"win.ini");
  if (name.empty()) {
    *error = ERROR_ACCESS_DENIED;
    return false;
  }
  bool bare = name.find_first_of(u"\\/") == std::u16string::npos &&
              !(name.size() >= 2 && name[1] == u':');
  if (bare) name = std::u16string(kWindowsFolder) + u"\\" + name;
  return FullWindowsPath(name, full, error);
}

// Reads a profile; a file that does not exist reads as empty. False only when
// the path itself is unusable.
bool Load(const std::string& host, Profile* profile) {
  int fd = ::open(host.c_str(), O_RDONLY);
  if (fd < 0) return errno == ENOENT || errno == ENOTDIR;
  struct stat st;
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    return false;
  }
  std::string bytes;
  char chunk[4096];
  ssize_t n;
  while ((n = ::read(fd, chunk, sizeof(chunk))) > 0) bytes.append(chunk, static_cast<size_t>(n));
  ::close(fd);
  std::u16string text = DecodeFile(bytes, &profile->encoding);
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != u'\r' && text[i] != u'\n') continue;
    profile->lines.push_back(Classify(text.substr(start, i - start)));
    if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) profile->lines.push_back(Classify(text.substr(start)));
  return true;
}

DWORD Save(const std::string& host, const Profile& profile) {
  std::u16string text;
  for (const Line& line : profile.lines) text += line.text + u"\r\n";
  std::string bytes = EncodeFile(text, profile.encoding);
  int fd = ::open(host.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
  if (fd < 0) return ErrorFromErrno(errno, host);
  size_t written = 0;
  while (written < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
    if (n <= 0) {
      int err = errno;
      ::close(fd);
      return ErrorFromErrno(err, host);
    }
    written += static_cast<size_t>(n);
  }
  ::close(fd);
  return ERROR_SUCCESS;
}

// Index of the first "[name]" line, or -1. The lines before the first
// section header belong to no section.
long FindSection(const Profile& profile, std::u16string_view name) {
  std::u16string wanted = Trim(name);
  for (size_t i = 0; i < profile.lines.size(); ++i)
    if (profile.lines[i].kind == Line::kSection && EqualNoCase(profile.lines[i].name, wanted))
      return static_cast<long>(i);
  return -1;
}

// One past the last line of the section that starts at `header`.
size_t SectionEnd(const Profile& profile, long header) {
  size_t i = static_cast<size_t>(header) + 1;
  while (i < profile.lines.size() && profile.lines[i].kind != Line::kSection) ++i;
  return i;
}

long FindKey(const Profile& profile, long header, std::u16string_view name) {
  std::u16string wanted = Trim(name);
  size_t end = SectionEnd(profile, header);
  for (size_t i = static_cast<size_t>(header) + 1; i < end; ++i) {
    const Line& line = profile.lines[i];
    if ((line.kind == Line::kKey || line.kind == Line::kBare) && EqualNoCase(line.name, wanted))
      return static_cast<long>(i);
  }
  return -1;
}

// A value in matching single or double quotes is returned without them.
std::u16string StripQuotes(std::u16string value) {
  if (value.size() >= 2 && (value[0] == u'"' || value[0] == u'\'') && value.back() == value[0])
    return value.substr(1, value.size() - 2);
  return value;
}

// Copies one string: the length copied; a string that does not fit is cut to
// size - 1 characters and size - 1 is returned.
DWORD CopyString(const std::string& text, LPSTR buffer, DWORD size) {
  size_t count = text.size() < size ? text.size() : size - 1;
  std::memcpy(buffer, text.data(), count);
  buffer[count] = '\0';
  return static_cast<DWORD>(count);
}

// Copies a list of names, each ending with a NUL, and one more NUL after the
// last. A list that does not fit (the size must leave room for both final
// NULs) is cut, ends with two NULs, and size - 2 is returned.
DWORD CopyList(const std::vector<std::u16string>& names, LPSTR buffer, DWORD size) {
  std::string list;
  for (const std::u16string& name : names) {
    list += ToAnsi(name);
    list += '\0';
  }
  if (list.empty() || size < 2) {
    buffer[0] = '\0';
    return 0;
  }
  if (list.size() <= size - 2) {
    std::memcpy(buffer, list.data(), list.size());
    buffer[list.size()] = '\0';
    return static_cast<DWORD>(list.size());
  }
  std::memcpy(buffer, list.data(), size - 2);
  buffer[size - 2] = '\0';
  buffer[size - 1] = '\0';
  return size - 2;
}

}  // namespace
}  // namespace winsim

using winsim::Line;
using winsim::Profile;

DWORD WINAPI GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue,
                                      LPSTR buffer, DWORD size, LPCSTR file) {
  if (!buffer || !size) return 0;
  Profile profile;
  std::u16string full;
  DWORD error;
  if (winsim::ProfilePath(file, &full, &error))
    winsim::Load(winsim::HostPathOf(full), &profile);  // unreadable reads as empty

  std::u16string fallback = winsim::ToWide(defaultValue ? defaultValue : "");
  if (!section) {
    std::vector<std::u16string> names;
    for (const Line& line : profile.lines)
      if (line.kind == Line::kSection && !line.name.empty()) names.push_back(line.name);
    return winsim::CopyList(names, buffer, size);
  }
  long header = winsim::FindSection(profile, winsim::ToWide(section));
  if (!key) {
    std::vector<std::u16string> names;
    if (header >= 0) {
      size_t end = winsim::SectionEnd(profile, header);
      for (size_t i = static_cast<size_t>(header) + 1; i < end; ++i)
        if (profile.lines[i].kind == Line::kKey && !profile.lines[i].name.empty())
          names.push_back(profile.lines[i].name);
    }
    if (!names.empty()) return winsim::CopyList(names, buffer, size);
    return winsim::CopyString(winsim::ToAnsi(winsim::StripQuotes(fallback)), buffer, size);
  }
  // The default loses its trailing blanks; the value was trimmed when read.
  while (!fallback.empty() && fallback.back() == u' ') fallback.pop_back();
  std::u16string result = fallback;
  if (header >= 0) {
    long at = winsim::FindKey(profile, header, winsim::ToWide(key));
    if (at >= 0 && profile.lines[at].kind == Line::kKey) result = profile.lines[at].value;
  }
  return winsim::CopyString(winsim::ToAnsi(winsim::StripQuotes(result)), buffer, size);
}

UINT WINAPI GetPrivateProfileIntA(LPCSTR section, LPCSTR key, INT defaultValue, LPCSTR file) {
  char text[30];
  if (GetPrivateProfileStringA(section, key, "", text, sizeof(text), file) == 0)
    return static_cast<UINT>(defaultValue);
  // Leading blanks, a sign, an optional 0x / 0o / 0b prefix, then digits up
  // to the first character that is not one; the value wraps at 32 bits.
  const char* p = text;
  while (*p && static_cast<unsigned char>(*p) <= ' ') ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  unsigned base = 10;
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) { base = 16; p += 2; }
  else if (p[0] == '0' && (p[1] == 'o' || p[1] == 'O')) { base = 8; p += 2; }
  else if (p[0] == '0' && (p[1] == 'b' || p[1] == 'B')) { base = 2; p += 2; }
  uint32_t value = 0;
  for (;; ++p) {
    unsigned digit;
    if (*p >= '0' && *p <= '9') digit = *p - '0';
    else if (*p >= 'a' && *p <= 'f') digit = *p - 'a' + 10;
    else if (*p >= 'A' && *p <= 'F') digit = *p - 'A' + 10;
    else break;
    if (digit >= base) break;
    value = value * base + digit;
  }
  return negative ? 0u - value : value;
}

BOOL WINAPI WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR file) {
  if (!section && !key && !value) return FALSE;  // "flush the cache": there is none
  std::u16string full;
  DWORD error;
  if (!winsim::ProfilePath(file, &full, &error)) {
    SetLastError(error);
    return FALSE;
  }
  std::string host = winsim::HostPathOf(full);
  Profile profile;
  if (!winsim::Load(host, &profile)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }

  if (!key) {
    // No key: the section goes, with every line up to the next section.
    long header = winsim::FindSection(profile, winsim::ToWide(section));
    if (header < 0) return TRUE;
    profile.lines.erase(profile.lines.begin() + header,
                        profile.lines.begin() + winsim::SectionEnd(profile, header));
  } else if (!section) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  } else if (!value) {
    // No value: the key goes; a missing key is no error.
    long header = winsim::FindSection(profile, winsim::ToWide(section));
    long at = header < 0 ? -1 : winsim::FindKey(profile, header, winsim::ToWide(key));
    if (at < 0) return TRUE;
    profile.lines.erase(profile.lines.begin() + at);
  } else {
    std::u16string sectionName = winsim::Trim(winsim::ToWide(section));
    std::u16string keyName = winsim::Trim(winsim::ToWide(key));
    std::u16string text = winsim::ToWide(value);
    size_t lead = 0;
    while (lead < text.size() && winsim::IsBlank(text[lead])) ++lead;
    text.erase(0, lead);

    long header = winsim::FindSection(profile, sectionName);
    if (header < 0) {
      profile.lines.push_back(winsim::Classify(u"[" + sectionName + u"]"));
      profile.lines.push_back(winsim::Classify(keyName + u"=" + text));
    } else {
      long at = winsim::FindKey(profile, header, keyName);
      if (at >= 0) {
        Line& line = profile.lines[at];
        if (line.kind == Line::kKey && line.value == text) return TRUE;  // nothing changes
        line = winsim::Classify(line.name + u"=" + text);
      } else {
        // After the section's last line that is not blank.
        size_t insert = winsim::SectionEnd(profile, header);
        while (insert > static_cast<size_t>(header) + 1 &&
               profile.lines[insert - 1].kind == Line::kBlank)
          --insert;
        profile.lines.insert(profile.lines.begin() + insert,
                             winsim::Classify(keyName + u"=" + text));
      }
    }
  }

  DWORD saved = winsim::Save(host, profile);
  if (saved != ERROR_SUCCESS) {
    SetLastError(saved);
    return FALSE;
  }
  return TRUE;
}
