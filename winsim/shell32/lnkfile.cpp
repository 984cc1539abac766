// The Shell Link binary format. Layout, all numbers little-endian:
//   header (76 bytes): size 0x4C, the class {00021401-0000-0000-C000-000000000046},
//     link flags, file attributes, three file times, file size, icon index,
//     show command, hotkey, reserved;
//   [item list]  when HasLinkTargetIDList: a 16-bit size, then that many bytes;
//   [link info]  when HasLinkInfo: a 32-bit size that counts itself, a header
//     (size, flags, offsets of the volume, the local base path, the network
//     link and the common path suffix; with a header of 0x24 bytes or more also
//     the offsets of the UTF-16 base path and suffix), then the data;
//   [strings]    name, relative path, working directory, arguments, icon
//     location, each present when its flag is, as a 16-bit character count and
//     the characters (UTF-16 with IsUnicode, else ANSI);
//   extra data blocks, ended by a 32-bit zero.
#include "winsim/shell32/lnkfile.h"

#include <cstdint>

#include "winsim/core/codepage.h"

namespace winsim {
namespace {

constexpr uint32_t kHeaderSize = 0x4C;
constexpr uint8_t kLinkClass[16] = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                    0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};

// Link flags.
constexpr uint32_t kHasIdList = 0x01;
constexpr uint32_t kHasLinkInfo = 0x02;
constexpr uint32_t kHasName = 0x04;
constexpr uint32_t kHasRelativePath = 0x08;
constexpr uint32_t kHasWorkingDir = 0x10;
constexpr uint32_t kHasArguments = 0x20;
constexpr uint32_t kHasIconLocation = 0x40;
constexpr uint32_t kIsUnicode = 0x80;

// Link info flags.
constexpr uint32_t kVolumeIdAndLocalBasePath = 0x01;
constexpr uint32_t kLinkInfoHeaderSize = 0x1C;
constexpr uint32_t kLinkInfoUnicodeHeaderSize = 0x24;

constexpr uint32_t kDriveFixed = 3;

// A bounded reader: every read checks that the bytes are there.
class Reader {
 public:
  explicit Reader(const std::string& bytes) : data_(bytes) {}

  bool U16(std::size_t at, uint16_t* value) const {
    if (at > data_.size() || data_.size() - at < 2) return false;
    *value = static_cast<uint16_t>(Byte(at) | Byte(at + 1) << 8);
    return true;
  }
  bool U32(std::size_t at, uint32_t* value) const {
    if (at > data_.size() || data_.size() - at < 4) return false;
    *value = Byte(at) | Byte(at + 1) << 8 | Byte(at + 2) << 16 | static_cast<uint32_t>(Byte(at + 3)) << 24;
    return true;
  }
  // A zero-terminated ANSI text that starts at `at` and ends before `end`.
  bool Ansi(std::size_t at, std::size_t end, std::string* text) const {
    for (std::size_t i = at; i < end && i < data_.size(); ++i)
      if (data_[i] == '\0') {
        *text = data_.substr(at, i - at);
        return true;
      }
    return false;
  }
  // A zero-terminated UTF-16 text, likewise.
  bool Wide(std::size_t at, std::size_t end, std::u16string* text) const {
    std::u16string out;
    for (std::size_t i = at; i + 1 < end && i + 1 < data_.size(); i += 2) {
      char16_t c = static_cast<char16_t>(Byte(i) | Byte(i + 1) << 8);
      if (c == 0) {
        *text = out;
        return true;
      }
      out += c;
    }
    return false;
  }
  // count characters of string data at *at, which moves past them.
  bool Counted(std::size_t* at, bool unicode, std::u16string* text) const {
    uint16_t count = 0;
    if (!U16(*at, &count)) return false;
    std::size_t bytes = unicode ? 2u * count : count;
    std::size_t start = *at + 2;
    if (start > data_.size() || data_.size() - start < bytes) return false;
    if (unicode) {
      text->clear();
      for (std::size_t i = 0; i < count; ++i)
        *text += static_cast<char16_t>(Byte(start + 2 * i) | Byte(start + 2 * i + 1) << 8);
    } else {
      *text = ToWide(std::string_view(data_).substr(start, count));
    }
    // Some shells count a terminating zero into the string; the text ends there.
    std::size_t zero = text->find(u'\0');
    if (zero != std::u16string::npos) text->resize(zero);
    *at = start + bytes;
    return true;
  }
  std::size_t size() const { return data_.size(); }

 private:
  uint32_t Byte(std::size_t at) const { return static_cast<unsigned char>(data_[at]); }
  const std::string& data_;
};

// The target of a link info structure that starts at `at` and is `size` bytes.
bool ParseLinkInfo(const Reader& in, std::size_t at, uint32_t size, std::string* path) {
  uint32_t headerSize = 0, flags = 0, baseOffset = 0, suffixOffset = 0;
  if (size < kLinkInfoHeaderSize || !in.U32(at + 4, &headerSize) || !in.U32(at + 8, &flags) ||
      !in.U32(at + 16, &baseOffset) || !in.U32(at + 24, &suffixOffset) ||
      headerSize < kLinkInfoHeaderSize || headerSize > size)
    return false;
  std::size_t end = at + size;
  if (!(flags & kVolumeIdAndLocalBasePath)) return true;  // a network target: none known here
  uint32_t wideBase = 0, wideSuffix = 0;
  if (headerSize >= kLinkInfoUnicodeHeaderSize &&
      (!in.U32(at + 28, &wideBase) || !in.U32(at + 32, &wideSuffix)))
    return false;
  std::string base, suffix;
  if (wideBase != 0) {
    std::u16string wide;
    if (!in.Wide(at + wideBase, end, &wide)) return false;
    base = ToAnsi(wide);
  } else if (!in.Ansi(at + baseOffset, end, &base)) {
    return false;
  }
  if (wideSuffix != 0) {
    std::u16string wide;
    if (!in.Wide(at + wideSuffix, end, &wide)) return false;
    suffix = ToAnsi(wide);
  } else if (suffixOffset != 0 && !in.Ansi(at + suffixOffset, end, &suffix)) {
    return false;
  }
  *path = base + suffix;
  return true;
}

void PutU16(std::string& out, uint32_t value) {
  out += static_cast<char>(value & 0xFF);
  out += static_cast<char>((value >> 8) & 0xFF);
}

void PutU32(std::string& out, uint32_t value) {
  PutU16(out, value & 0xFFFF);
  PutU16(out, value >> 16);
}

void PutCounted(std::string& out, const std::u16string& text) {
  PutU16(out, static_cast<uint32_t>(text.size()));
  for (char16_t c : text) PutU16(out, c);
}

}  // namespace

bool ParseLinkFile(const std::string& bytes, LinkData* link) {
  Reader in(bytes);
  uint32_t headerSize = 0, flags = 0, iconIndex = 0, showCommand = 0;
  uint16_t hotkey = 0;
  if (!in.U32(0, &headerSize) || headerSize != kHeaderSize || bytes.size() < kHeaderSize)
    return false;
  for (int i = 0; i < 16; ++i)
    if (static_cast<uint8_t>(bytes[4 + i]) != kLinkClass[i]) return false;
  in.U32(20, &flags);
  in.U32(56, &iconIndex);
  in.U32(60, &showCommand);
  in.U16(64, &hotkey);
  LinkData out;
  out.iconIndex = static_cast<int>(iconIndex);
  out.showCommand = static_cast<int>(showCommand);
  out.hotkey = hotkey;

  std::size_t at = kHeaderSize;
  if (flags & kHasIdList) {
    uint16_t size = 0;
    if (!in.U16(at, &size) || in.size() - at - 2 < size) return false;
    at += 2u + size;
  }
  if (flags & kHasLinkInfo) {
    uint32_t size = 0;
    if (!in.U32(at, &size) || in.size() - at < size) return false;
    if (!ParseLinkInfo(in, at, size, &out.path)) return false;
    at += size;
  }
  bool unicode = (flags & kIsUnicode) != 0;
  struct Field {
    uint32_t flag;
    std::u16string* text;
  };
  const Field fields[] = {{kHasName, &out.description},
                          {kHasRelativePath, &out.relativePath},
                          {kHasWorkingDir, &out.workingDirectory},
                          {kHasArguments, &out.arguments},
                          {kHasIconLocation, &out.iconLocation}};
  for (const Field& field : fields)
    if ((flags & field.flag) && !in.Counted(&at, unicode, field.text)) return false;
  *link = out;
  return true;
}

std::string WriteLinkFile(const LinkData& link) {
  uint32_t flags = kIsUnicode;
  if (!link.path.empty()) flags |= kHasLinkInfo;
  if (!link.description.empty()) flags |= kHasName;
  if (!link.relativePath.empty()) flags |= kHasRelativePath;
  if (!link.workingDirectory.empty()) flags |= kHasWorkingDir;
  if (!link.arguments.empty()) flags |= kHasArguments;
  if (!link.iconLocation.empty()) flags |= kHasIconLocation;

  std::string out;
  PutU32(out, kHeaderSize);
  out.append(reinterpret_cast<const char*>(kLinkClass), sizeof kLinkClass);
  PutU32(out, flags);
  PutU32(out, 0);                                  // file attributes
  out.append(3 * 8, '\0');                         // creation, access, write times
  PutU32(out, 0);                                  // file size
  PutU32(out, static_cast<uint32_t>(link.iconIndex));
  PutU32(out, static_cast<uint32_t>(link.showCommand));
  PutU16(out, link.hotkey);
  out.append(2 + 4 + 4, '\0');                     // reserved

  if (flags & kHasLinkInfo) {
    // A volume ID with an empty label, then the base path and an empty suffix.
    std::string volume;
    PutU32(volume, 0x11);
    PutU32(volume, kDriveFixed);
    PutU32(volume, 0);     // serial number
    PutU32(volume, 0x10);  // label offset
    volume += '\0';
    uint32_t volumeOffset = kLinkInfoHeaderSize;
    uint32_t baseOffset = volumeOffset + static_cast<uint32_t>(volume.size());
    uint32_t suffixOffset = baseOffset + static_cast<uint32_t>(link.path.size()) + 1;
    uint32_t size = suffixOffset + 1;
    PutU32(out, size);
    PutU32(out, kLinkInfoHeaderSize);
    PutU32(out, kVolumeIdAndLocalBasePath);
    PutU32(out, volumeOffset);
    PutU32(out, baseOffset);
    PutU32(out, 0);  // no network link
    PutU32(out, suffixOffset);
    out += volume;
    out += link.path;
    out += '\0';
    out += '\0';
  }
  if (flags & kHasName) PutCounted(out, link.description);
  if (flags & kHasRelativePath) PutCounted(out, link.relativePath);
  if (flags & kHasWorkingDir) PutCounted(out, link.workingDirectory);
  if (flags & kHasArguments) PutCounted(out, link.arguments);
  if (flags & kHasIconLocation) PutCounted(out, link.iconLocation);
  PutU32(out, 0);  // terminal block
  return out;
}

}  // namespace winsim
