// Version resources of PE files in the sandbox: GetFileVersionInfoSizeA,
// GetFileVersionInfoA and VerQueryValueA.
//
// The file is read as a PE image file (32- or 64-bit) and its resource
// directory walked to RT_VERSION, resource 1 (VS_VERSION_INFO), the language
// neutral entry or else the first language. A file that is no PE image has no
// resources at all (ERROR_RESOURCE_DATA_NOT_FOUND); an image without version
// resource reports what the resource lookup missed (type, name or language).
//
// As on Windows, the block handed out is the resource followed by the "FE2X"
// mark and as much room again: VerQueryValueA converts a text value to ANSI
// into that room, at the value's own offset.
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

constexpr WORD kRtVersion = 16;
constexpr WORD kVersionInfoId = 1;
constexpr char kMark[4] = {'F', 'E', '2', 'X'};
constexpr unsigned long long kLargestImage = 256ull * 1024 * 1024;

template <class T>
T Fail(DWORD error, T result) {
  SetLastError(error);
  return result;
}

// Little-endian reads that fail instead of running past the end.
struct Bytes {
  const unsigned char* data;
  size_t size;
  bool Has(size_t offset, size_t count) const { return offset <= size && count <= size - offset; }
  WORD U16(size_t offset) const {
    return static_cast<WORD>(data[offset] | (data[offset + 1] << 8));
  }
  DWORD U32(size_t offset) const {
    return static_cast<DWORD>(data[offset]) | (static_cast<DWORD>(data[offset + 1]) << 8) |
           (static_cast<DWORD>(data[offset + 2]) << 16) | (static_cast<DWORD>(data[offset + 3]) << 24);
  }
};

bool ReadWholeFile(const std::string& host, std::vector<unsigned char>* out, DWORD* error) {
  int fd = ::open(host.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *error = ErrorFromErrno(errno, host);
    return false;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    *error = S_ISDIR(st.st_mode) ? ERROR_ACCESS_DENIED : ErrorFromErrno(errno, host);
    ::close(fd);
    return false;
  }
  size_t size = static_cast<size_t>(
      static_cast<unsigned long long>(st.st_size) > kLargestImage ? kLargestImage : st.st_size);
  out->resize(size);
  size_t done = 0;
  while (done < size) {
    ssize_t got = ::read(fd, out->data() + done, size - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<size_t>(got);
  }
  out->resize(done);
  ::close(fd);
  return true;
}

struct Section {
  DWORD virtualAddress, virtualSize, rawSize, rawOffset;
};

// The file offset of an image address, or false when no section holds it.
bool FileOffset(const std::vector<Section>& sections, DWORD rva, size_t* offset) {
  for (const Section& s : sections) {
    DWORD extent = s.virtualSize > s.rawSize ? s.virtualSize : s.rawSize;
    if (rva >= s.virtualAddress && rva - s.virtualAddress < extent) {
      if (rva - s.virtualAddress >= s.rawSize) return false;
      *offset = static_cast<size_t>(s.rawOffset) + (rva - s.virtualAddress);
      return true;
    }
  }
  return false;
}

// An entry of a resource directory: the offset (from the resource root) of
// what the entry with `id` points to; `any` takes the preferred language.
bool DirectoryEntry(const Bytes& b, size_t dir, WORD id, bool any, DWORD* target) {
  if (!b.Has(dir, 16)) return false;
  WORD named = b.U16(dir + 12), ids = b.U16(dir + 14);
  size_t first = dir + 16 + static_cast<size_t>(named) * 8;
  if (!b.Has(first, static_cast<size_t>(ids) * 8)) return false;
  bool found = false;
  for (WORD i = 0; i < ids; ++i) {
    size_t entry = first + static_cast<size_t>(i) * 8;
    WORD entryId = static_cast<WORD>(b.U32(entry) & 0xFFFF);
    if (any ? (!found || entryId == 0) : entryId == id) {
      *target = b.U32(entry + 4);
      found = true;
      if (!any || entryId == 0) break;
    }
  }
  if (!found && any && named > 0 && b.Has(dir + 16, 8)) {
    *target = b.U32(dir + 16 + 4);
    found = true;
  }
  return found;
}

// Finds the version resource of a PE image: its offset in the file and size.
bool FindVersionResource(const std::vector<unsigned char>& file, size_t* offset, DWORD* size,
                         DWORD* error) {
  Bytes b{file.data(), file.size()};
  *error = ERROR_RESOURCE_DATA_NOT_FOUND;
  if (!b.Has(0, 64) || b.data[0] != 'M' || b.data[1] != 'Z') return false;
  size_t pe = b.U32(0x3C);
  if (!b.Has(pe, 24) || std::memcmp(b.data + pe, "PE\0\0", 4) != 0) return false;
  WORD sectionCount = b.U16(pe + 6);
  WORD optionalSize = b.U16(pe + 20);
  size_t optional = pe + 24;
  if (!b.Has(optional, 2)) return false;
  size_t directories, countAt;
  switch (b.U16(optional)) {
    case 0x10B:  // PE32
      countAt = optional + 92;
      directories = optional + 96;
      break;
    case 0x20B:  // PE32+
      countAt = optional + 108;
      directories = optional + 112;
      break;
    default:
      *error = ERROR_BAD_EXE_FORMAT;
      return false;
  }
  if (!b.Has(countAt, 4)) return false;
  if (b.U32(countAt) <= 2 || !b.Has(directories + 16, 8)) return false;
  DWORD resourceRva = b.U32(directories + 16), resourceSize = b.U32(directories + 20);
  if (resourceRva == 0 || resourceSize == 0) return false;

  std::vector<Section> sections;
  size_t table = optional + optionalSize;
  if (!b.Has(table, static_cast<size_t>(sectionCount) * 40)) return false;
  for (WORD i = 0; i < sectionCount; ++i) {
    size_t s = table + static_cast<size_t>(i) * 40;
    sections.push_back({b.U32(s + 12), b.U32(s + 8), b.U32(s + 16), b.U32(s + 20)});
  }
  size_t root;
  if (!FileOffset(sections, resourceRva, &root)) return false;

  DWORD next;
  *error = ERROR_RESOURCE_TYPE_NOT_FOUND;
  if (!DirectoryEntry(b, root, kRtVersion, false, &next) || !(next & 0x80000000u)) return false;
  *error = ERROR_RESOURCE_NAME_NOT_FOUND;
  if (!DirectoryEntry(b, root + (next & 0x7FFFFFFFu), kVersionInfoId, false, &next) ||
      !(next & 0x80000000u))
    return false;
  *error = ERROR_RESOURCE_LANG_NOT_FOUND;
  if (!DirectoryEntry(b, root + (next & 0x7FFFFFFFu), 0, true, &next) || (next & 0x80000000u))
    return false;
  size_t data = root + next;
  *error = ERROR_RESOURCE_DATA_NOT_FOUND;
  if (!b.Has(data, 16)) return false;
  DWORD dataRva = b.U32(data), dataSize = b.U32(data + 4);
  size_t at;
  if (dataSize == 0 || !FileOffset(sections, dataRva, &at) || !b.Has(at, dataSize)) return false;
  *offset = at;
  *size = dataSize;
  return true;
}

bool LoadVersionResource(LPCSTR fileName, std::vector<unsigned char>* resource, DWORD* error) {
  if (!fileName) {
    *error = ERROR_INVALID_PARAMETER;
    return false;
  }
  if (!*fileName) {
    *error = ERROR_BAD_PATHNAME;
    return false;
  }
  std::string host;
  if (!MapPathOfAnyLength(fileName, &host, error)) return false;
  std::vector<unsigned char> file;
  if (!ReadWholeFile(host, &file, error)) return false;
  size_t offset;
  DWORD size;
  if (!FindVersionResource(file, &offset, &size, error)) return false;
  resource->assign(file.begin() + static_cast<std::ptrdiff_t>(offset),
                   file.begin() + static_cast<std::ptrdiff_t>(offset + size));
  return true;
}

// ---- the VS_VERSIONINFO tree -------------------------------------------------------------

size_t Align4(size_t offset) { return (offset + 3) & ~static_cast<size_t>(3); }

// One node: wLength, wValueLength, wType, the key, then the value and the
// children, each aligned on 4 bytes from the start of the block.
struct Node {
  size_t start = 0, end = 0;
  WORD valueLength = 0;
  bool text = false;
  std::u16string key;
  size_t value = 0, valueBytes = 0;
  size_t children = 0;
};

bool ReadNode(const Bytes& b, size_t start, size_t limit, Node* node) {
  if (start + 6 > limit || !b.Has(start, 6)) return false;
  WORD length = b.U16(start);
  if (length < 6 || start + length > limit) return false;
  node->start = start;
  node->end = start + length;
  node->valueLength = b.U16(start + 2);
  node->text = b.U16(start + 4) == 1;
  node->key.clear();
  size_t p = start + 6;
  for (;; p += 2) {
    if (p + 2 > node->end) return false;
    char16_t c = static_cast<char16_t>(b.U16(p));
    if (c == 0) break;
    node->key += c;
  }
  node->value = Align4(p + 2);
  node->valueBytes = static_cast<size_t>(node->valueLength) * (node->text ? 2 : 1);
  if (node->value > node->end) node->value = node->end;
  if (node->value + node->valueBytes > node->end) node->valueBytes = node->end - node->value;
  node->children = Align4(node->value + node->valueBytes);
  return true;
}

bool FindChild(const Bytes& b, const Node& parent, std::u16string_view key, Node* child) {
  for (size_t p = parent.children; p < parent.end;) {
    if (!ReadNode(b, p, parent.end, child)) return false;
    if (EqualNoCase(child->key, key)) return true;
    p = Align4(child->end);
  }
  return false;
}

}  // namespace
}  // namespace winsim

DWORD WINAPI GetFileVersionInfoSizeA(LPCSTR fileName, LPDWORD handle) {
  if (handle) *handle = 0;
  std::vector<unsigned char> resource;
  DWORD error;
  if (!winsim::LoadVersionResource(fileName, &resource, &error)) return winsim::Fail(error, 0u);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(resource.size() * 2 + sizeof winsim::kMark);
}

BOOL WINAPI GetFileVersionInfoA(LPCSTR fileName, DWORD handle, DWORD length, LPVOID data) {
  if (!data) return winsim::Fail(ERROR_INVALID_DATA, FALSE);
  std::vector<unsigned char> resource;
  DWORD error;
  if (!winsim::LoadVersionResource(fileName, &resource, &error)) return winsim::Fail(error, FALSE);
  size_t copied = resource.size() < length ? resource.size() : length;
  std::memcpy(data, resource.data(), copied);
  winsim::Bytes b{resource.data(), resource.size()};
  if (b.Has(0, 2)) {
    size_t blockLength = b.U16(0);
    if (length >= blockLength + sizeof winsim::kMark)
      std::memcpy(static_cast<char*>(data) + blockLength, winsim::kMark, sizeof winsim::kMark);
  }
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL WINAPI VerQueryValueA(LPCVOID block, LPCSTR subBlock, LPVOID* buffer, PUINT length) {
  if (!block || !buffer) return winsim::Fail(ERROR_INVALID_PARAMETER, FALSE);
  const unsigned char* base = static_cast<const unsigned char*>(block);
  WORD blockLength = static_cast<WORD>(base[0] | (base[1] << 8));
  winsim::Bytes b{base, blockLength};
  winsim::Node node;
  if (!winsim::ReadNode(b, 0, blockLength, &node)) {
    if (length) *length = 0;
    return winsim::Fail(ERROR_RESOURCE_TYPE_NOT_FOUND, FALSE);
  }
  std::string path = subBlock && *subBlock ? subBlock : "\\";
  std::u16string wide = winsim::ToWide(path);
  for (size_t start = 0; start < wide.size();) {
    size_t slash = wide.find(u'\\', start);
    if (slash == std::u16string::npos) slash = wide.size();
    if (slash > start) {
      winsim::Node child;
      if (!winsim::FindChild(b, node, std::u16string_view(wide).substr(start, slash - start), &child)) {
        if (length) *length = 0;
        return winsim::Fail(ERROR_RESOURCE_TYPE_NOT_FOUND, FALSE);
      }
      node = child;
    }
    start = slash + 1;
  }

  unsigned char* value = const_cast<unsigned char*>(base) + node.value;
  if (!node.text) {
    *buffer = value;
    if (length) *length = node.valueLength;
    return TRUE;
  }
  // Text goes to the room after the mark, converted to the ANSI code page.
  if (std::memcmp(base + blockLength, winsim::kMark, sizeof winsim::kMark) != 0)
    return winsim::Fail(ERROR_INVALID_DATA, FALSE);
  std::u16string text;
  for (size_t p = node.value; p + 2 <= node.value + node.valueBytes; p += 2) {
    char16_t c = static_cast<char16_t>(b.U16(p));
    if (c == 0) break;
    text += c;
  }
  std::string ansi = winsim::ToAnsi(text);
  size_t room = blockLength - node.value;
  if (ansi.size() + 1 > room) ansi.resize(room - 1);
  char* converted = reinterpret_cast<char*>(const_cast<unsigned char*>(base)) + blockLength +
                    sizeof winsim::kMark + node.value;
  std::memcpy(converted, ansi.c_str(), ansi.size() + 1);
  *buffer = converted;
  if (length) *length = static_cast<UINT>(ansi.size() + 1);
  return TRUE;
}
