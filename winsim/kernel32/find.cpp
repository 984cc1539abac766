// Directory listings: FindFirstFileA, FindNextFileA and FindClose.
//
// The folder is listed once, when the search starts: every entry whose long
// name or 8.3 name matches the pattern, in the order NTFS keeps a folder
// (names compared as upper-case UTF-16), after "." and ".." for a folder
// that is not the root of its volume. The pattern is first rewritten the way
// FindFirstFile rewrites it for the file system ("*.*" means everything, "?"
// may match nothing at a dot or at the end, "*." means no extension, ...),
// then matched with the file system's DOS wildcard rules.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <windows.h>

#include "winsim/core/codepage.h"
#include "winsim/kernel32/entries.h"
#include "winsim/kernel32/handles.h"
#include "winsim/kernel32/host.h"
#include "winsim/kernel32/paths.h"

namespace winsim {
namespace {

// The file system's wildcards beside "*" and "?".
constexpr char16_t kDosStar = u'<';  // any run of characters short of the name's last dot
constexpr char16_t kDosQm = u'>';    // one character, or none at a dot or at the end
constexpr char16_t kDosDot = u'"';   // a dot, or nothing at the end of the name

struct FindObject : KernelObject {
  std::vector<WIN32_FIND_DATAA> entries;
  std::size_t next = 0;
  bool ClosedByCloseHandle() const override { return false; }
};

bool HasWildcard(std::u16string_view mask) {
  return mask.find_first_of(u"*?<>\"") != std::u16string_view::npos;
}

std::u16string Upper(std::u16string_view text) {
  std::u16string out(text);
  for (char16_t& c : out) c = UpperChar(c);
  return out;
}

// The pattern as FindFirstFile hands it to the file system.
std::u16string Expression(std::u16string_view mask) {
  std::u16string out;
  for (size_t i = 0; i < mask.size(); ++i) {
    char16_t c = mask[i];
    char16_t next = i + 1 < mask.size() ? mask[i + 1] : u'\0';
    if (c == u'?')
      out += kDosQm;
    else if (c == u'*' && next == u'.')
      out += kDosStar;
    else if (c == u'.' && (next == u'?' || next == u'*'))
      out += kDosDot;
    else
      out += UpperChar(c);
  }
  while (!out.empty() && out.back() == u'.') out.pop_back();
  if (out == u"<\"*") out = u"*";
  return out;
}

// Whether an upper-case name matches an expression.
class Matcher {
 public:
  Matcher(std::u16string_view expression, std::u16string_view name)
      : e_(expression), n_(name), lastDot_(name.rfind(u'.')),
        memo_((expression.size() + 1) * (name.size() + 1), kUnknown) {}

  bool Run() { return Match(0, 0); }

 private:
  static constexpr signed char kUnknown = -1;

  bool Match(size_t i, size_t j) {
    signed char& slot = memo_[i * (n_.size() + 1) + j];
    if (slot == kUnknown) slot = Compute(i, j) ? 1 : 0;
    return slot == 1;
  }

  bool Compute(size_t i, size_t j) {
    if (i == e_.size()) return j == n_.size();
    bool atEnd = j == n_.size();
    switch (e_[i]) {
      case u'*':
        return Match(i + 1, j) || (!atEnd && Match(i, j + 1));
      case kDosStar:
        return Match(i + 1, j) || (!atEnd && j != lastDot_ && Match(i, j + 1));
      case kDosQm:
        if (atEnd || n_[j] == u'.') return Match(i + 1, j);
        return Match(i + 1, j + 1);
      case kDosDot:
        if (atEnd) return Match(i + 1, j);
        return n_[j] == u'.' && Match(i + 1, j + 1);
      case u'?':
        return !atEnd && Match(i + 1, j + 1);
      default:
        return !atEnd && n_[j] == e_[i] && Match(i + 1, j + 1);
    }
  }

  std::u16string_view e_, n_;
  size_t lastDot_;
  std::vector<signed char> memo_;
};

bool Matches(const std::u16string& expression, const NamedEntry& entry) {
  if (expression == u"*") return true;
  if (Matcher(expression, Upper(entry.name)).Run()) return true;
  return !entry.data.shortName.empty() && Matcher(expression, entry.data.shortName).Run();
}

void CopyText(char* dst, size_t size, const std::string& text) {
  size_t n = std::min(text.size(), size - 1);
  std::memcpy(dst, text.data(), n);
  dst[n] = '\0';
}

WIN32_FIND_DATAA FindData(const std::u16string& name, const EntryData& data) {
  WIN32_FIND_DATAA out;
  std::memset(&out, 0, sizeof out);
  out.dwFileAttributes = data.attributes;
  out.ftCreationTime = data.creation;
  out.ftLastAccessTime = data.lastAccess;
  out.ftLastWriteTime = data.lastWrite;
  out.nFileSizeHigh = static_cast<DWORD>(data.size >> 32);
  out.nFileSizeLow = static_cast<DWORD>(data.size);
  CopyText(out.cFileName, sizeof out.cFileName, ToAnsi(name));
  CopyText(out.cAlternateFileName, sizeof out.cAlternateFileName, ToAnsi(data.shortName));
  return out;
}

// Whether a full Windows path is the root of its volume ("C:\", "\\srv\share").
bool IsVolumeRoot(const std::u16string& full) {
  if (full.size() == 3 && full[1] == u':') return true;
  return full.size() > 2 && full[0] == u'\\' && std::count(full.begin(), full.end(), u'\\') <= 3;
}

std::u16string ParentOf(const std::u16string& full) {
  size_t slash = full.rfind(u'\\');
  std::u16string parent = full.substr(0, slash);
  if (parent.size() == 2 && parent[1] == u':') parent += u'\\';
  return parent;
}

// The matching entries of a folder, in the order NTFS lists them.
bool Search(const std::u16string& folderFull, const std::u16string& expression,
            std::vector<WIN32_FIND_DATAA>* found, DWORD* error) {
  std::string hostFolder = HostPathOf(folderFull);
  std::vector<NamedEntry> entries;
  if (!ListEntries(hostFolder, &entries, error)) return false;
  std::vector<NamedEntry*> matching;
  for (NamedEntry& entry : entries)
    if (Matches(expression, entry)) matching.push_back(&entry);
  std::vector<std::pair<std::u16string, NamedEntry*>> keyed;
  for (NamedEntry* entry : matching) keyed.emplace_back(Upper(entry->name), entry);
  std::sort(keyed.begin(), keyed.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });

  if (!IsVolumeRoot(folderFull)) {
    const std::pair<const char16_t*, std::u16string> dots[] = {{u".", folderFull},
                                                              {u"..", ParentOf(folderFull)}};
    for (const auto& [name, path] : dots) {
      NamedEntry dot;
      dot.name = name;
      DWORD ignored;
      if (!Matches(expression, dot) || !QueryEntry(HostPathOf(path), &dot.data, &ignored)) continue;
      dot.data.shortName.clear();
      found->push_back(FindData(dot.name, dot.data));
    }
  }
  for (const auto& [key, entry] : keyed) found->push_back(FindData(entry->name, entry->data));
  return true;
}

// The entry a pattern without wildcards names.
bool Lookup(const std::u16string& path, std::vector<WIN32_FIND_DATAA>* found, DWORD* error) {
  std::u16string full;
  if (!FullWindowsPath(path, &full, error)) return false;
  if (IsVolumeRoot(full)) {
    *error = ERROR_FILE_NOT_FOUND;
    return false;
  }
  std::u16string name = full.substr(full.rfind(u'\\') + 1);
  std::vector<NamedEntry> entries;
  if (!ListEntries(HostPathOf(ParentOf(full)), &entries, error)) return false;
  for (const NamedEntry& entry : entries) {
    if (EqualNoCase(entry.name, name) ||
        (!entry.data.shortName.empty() && EqualNoCase(entry.data.shortName, name))) {
      found->push_back(FindData(entry.name, entry.data));
      return true;
    }
  }
  *error = ERROR_FILE_NOT_FOUND;
  return false;
}

bool StartSearch(LPCSTR fileName, std::vector<WIN32_FIND_DATAA>* found, DWORD* error) {
  std::u16string path = ToWide(fileName);
  for (char16_t& c : path)
    if (c == u'/') c = u'\\';
  size_t slash = path.rfind(u'\\');
  size_t maskStart = slash != std::u16string::npos ? slash + 1
                     : (path.size() >= 2 && path[1] == u':') ? 2 : 0;
  std::u16string mask = path.substr(maskStart);
  std::u16string folder = path.substr(0, maskStart);
  if (folder.empty()) folder = u".";

  std::u16string folderFull;
  if (mask.empty()) {
    // "folder\" names no entry: the folder is there or it is not.
    if (!FullWindowsPath(folder, &folderFull, error)) return false;
    *error = IsHostDirectory(HostPathOf(folderFull)) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
    return false;
  }
  if (!HasWildcard(mask)) return Lookup(path, found, error);
  if (!FullWindowsPath(folder, &folderFull, error)) return false;
  if (!Search(folderFull, Expression(mask), found, error)) return false;
  if (found->empty()) {
    *error = ERROR_FILE_NOT_FOUND;
    return false;
  }
  return true;
}

}  // namespace
}  // namespace winsim

HANDLE WINAPI FindFirstFileA(LPCSTR fileName, LPWIN32_FIND_DATAA findData) {
  if (!fileName) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  if (!findData) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  // The pattern goes through a buffer of MAX_PATH + 1 characters first.
  if (winsim::ToWide(fileName).size() > MAX_PATH) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return INVALID_HANDLE_VALUE;
  }
  auto search = std::make_shared<winsim::FindObject>();
  DWORD error = ERROR_SUCCESS;
  if (!winsim::StartSearch(fileName, &search->entries, &error)) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
  }
  *findData = search->entries[0];
  search->next = 1;
  return winsim::AddKernelHandle(std::move(search));
}

BOOL WINAPI FindNextFileA(HANDLE find, LPWIN32_FIND_DATAA findData) {
  auto search = winsim::GetKernel<winsim::FindObject>(find);
  if (!search) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!findData) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (search->next >= search->entries.size()) {
    SetLastError(ERROR_NO_MORE_FILES);
    return FALSE;
  }
  *findData = search->entries[search->next++];
  return TRUE;
}

BOOL WINAPI FindClose(HANDLE find) {
  if (!winsim::GetKernel<winsim::FindObject>(find) || !winsim::RemoveKernelHandle(find)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}
