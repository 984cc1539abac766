// advapi32's SID, ACL and security descriptor functions, on the binary layouts
// Windows uses, and the descriptor reading and writing the registry needs.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "winsim/advapi32/registry.h"

namespace winsim {
namespace {

constexpr DWORD kSidHeader = 8;  // revision, count, 6-byte authority
constexpr DWORD kAceFixed = sizeof(ACE_HEADER) + sizeof(ACCESS_MASK);

const BYTE* Bytes(const void* p) { return static_cast<const BYTE*>(p); }

DWORD ReadDword(const BYTE* p) {
  DWORD v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

WORD ReadWord(const BYTE* p) {
  WORD v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// The first byte after the last ACE, or null when the ACEs overrun the ACL.
BYTE* FirstFreeAce(ACL* acl) {
  BYTE* base = reinterpret_cast<BYTE*>(acl);
  DWORD offset = sizeof(ACL);
  for (WORD i = 0; i < acl->AceCount; ++i) {
    if (offset + sizeof(ACE_HEADER) > acl->AclSize) return nullptr;
    WORD size = ReadWord(base + offset + offsetof(ACE_HEADER, AceSize));
    if (size < sizeof(ACE_HEADER) || offset + size > acl->AclSize) return nullptr;
    offset += size;
  }
  return base + offset;
}

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

// Adds an ACE of the "mask + SID" form at the end of the ACL.
DWORD AddKnownAce(PACL acl, DWORD revision, DWORD flags, DWORD mask, PSID sid, BYTE type) {
  if (!acl) return ERROR_INVALID_PARAMETER;
  if (!SidIsValid(sid)) return ERROR_INVALID_SID;
  if (acl->AclRevision > MAX_ACL_REVISION || revision > MAX_ACL_REVISION)
    return ERROR_REVISION_MISMATCH;
  if (flags & ~static_cast<DWORD>(VALID_INHERIT_FLAGS)) return ERROR_INVALID_PARAMETER;
  if (!AclIsValid(acl)) return ERROR_INVALID_ACL;
  BYTE* free = FirstFreeAce(acl);
  if (!free) return ERROR_INVALID_ACL;
  DWORD sidLength = SidLength(sid);
  DWORD aceSize = kAceFixed + sidLength;
  BYTE* end = reinterpret_cast<BYTE*>(acl) + acl->AclSize;
  if (free > end || static_cast<size_t>(end - free) < aceSize) return ERROR_ALLOTTED_SPACE_EXCEEDED;
  ACE_HEADER header{type, static_cast<BYTE>(flags), static_cast<WORD>(aceSize)};
  std::memcpy(free, &header, sizeof header);
  std::memcpy(free + sizeof header, &mask, sizeof mask);
  std::memcpy(free + kAceFixed, sid, sidLength);
  acl->AceCount++;
  if (revision > acl->AclRevision) acl->AclRevision = static_cast<BYTE>(revision);
  return ERROR_SUCCESS;
}

// A copy of a SID that must be valid, or an error.
DWORD CopyValidSid(const void* sid, std::vector<BYTE>* out) {
  if (!SidIsValid(sid)) return ERROR_INVALID_SECURITY_DESCR;
  out->assign(Bytes(sid), Bytes(sid) + SidLength(sid));
  return ERROR_SUCCESS;
}

void AppendAce(std::vector<BYTE>* acl, BYTE type, BYTE flags, DWORD mask,
               const std::vector<BYTE>& sid) {
  ACE_HEADER header{type, flags, static_cast<WORD>(kAceFixed + sid.size())};
  const BYTE* h = reinterpret_cast<const BYTE*>(&header);
  acl->insert(acl->end(), h, h + sizeof header);
  const BYTE* m = reinterpret_cast<const BYTE*>(&mask);
  acl->insert(acl->end(), m, m + sizeof mask);
  acl->insert(acl->end(), sid.begin(), sid.end());
}

// The DACL a key has until one is written: full control for SYSTEM, the
// administrators and the owner of the hive, read access for users.
std::vector<BYTE> DefaultDacl(const std::string& userSid) {
  std::vector<BYTE> acl(sizeof(ACL), 0);
  const BYTE flags = CONTAINER_INHERIT_ACE;
  AppendAce(&acl, ACCESS_ALLOWED_ACE_TYPE, flags, KEY_ALL_ACCESS, SidFromText("S-1-5-18"));
  AppendAce(&acl, ACCESS_ALLOWED_ACE_TYPE, flags, KEY_ALL_ACCESS, SidFromText("S-1-5-32-544"));
  WORD count = 2;
  if (!userSid.empty()) {
    AppendAce(&acl, ACCESS_ALLOWED_ACE_TYPE, flags, KEY_ALL_ACCESS, SidFromText(userSid));
    ++count;
  }
  AppendAce(&acl, ACCESS_ALLOWED_ACE_TYPE, flags, KEY_READ, SidFromText("S-1-5-32-545"));
  ++count;
  ACL header{ACL_REVISION, 0, static_cast<WORD>(acl.size()), count, 0};
  std::memcpy(acl.data(), &header, sizeof header);
  return acl;
}

}  // namespace

bool SidIsValid(const void* sid) {
  if (!sid) return false;
  const BYTE* p = Bytes(sid);
  return p[0] == SID_REVISION && p[1] <= SID_MAX_SUB_AUTHORITIES;
}

DWORD SidLength(const void* sid) { return kSidHeader + 4u * Bytes(sid)[1]; }

std::string SidText(const void* sid) {
  const BYTE* p = Bytes(sid);
  unsigned long long authority = 0;
  for (int i = 0; i < 6; ++i) authority = (authority << 8) | p[2 + i];
  char buffer[64];
  std::string text = "S-1-";
  if (authority >> 32)
    std::snprintf(buffer, sizeof buffer, "0x%012llX", authority);
  else
    std::snprintf(buffer, sizeof buffer, "%llu", authority);
  text += buffer;
  for (BYTE i = 0; i < p[1]; ++i) {
    std::snprintf(buffer, sizeof buffer, "-%lu",
                  static_cast<unsigned long>(ReadDword(p + kSidHeader + 4u * i)));
    text += buffer;
  }
  return text;
}

std::vector<BYTE> SidFromText(const std::string& text) {
  if (text.compare(0, 4, "S-1-") != 0) return {};
  std::vector<unsigned long long> parts;
  size_t at = 4;
  while (true) {
    size_t end = text.find('-', at);
    std::string part = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
    if (part.empty() || part.size() > 20) return {};
    char* stop = nullptr;
    int base = (part.size() > 2 && part[0] == '0' && (part[1] == 'x' || part[1] == 'X')) ? 16 : 10;
    for (size_t i = base == 16 ? 2 : 0; i < part.size(); ++i)
      if (!(base == 16 ? std::isxdigit(static_cast<unsigned char>(part[i]))
                       : std::isdigit(static_cast<unsigned char>(part[i]))))
        return {};
    parts.push_back(std::strtoull(part.c_str(), &stop, base));
    if (end == std::string::npos) break;
    at = end + 1;
  }
  if (parts.size() > 1u + SID_MAX_SUB_AUTHORITIES || parts[0] >> 48) return {};
  for (size_t i = 1; i < parts.size(); ++i)
    if (parts[i] > 0xFFFFFFFFull) return {};
  std::vector<BYTE> sid(kSidHeader + 4 * (parts.size() - 1), 0);
  sid[0] = SID_REVISION;
  sid[1] = static_cast<BYTE>(parts.size() - 1);
  for (int i = 0; i < 6; ++i) sid[2 + i] = static_cast<BYTE>(parts[0] >> (8 * (5 - i)));
  for (size_t i = 1; i < parts.size(); ++i) {
    DWORD v = static_cast<DWORD>(parts[i]);
    std::memcpy(&sid[kSidHeader + 4 * (i - 1)], &v, sizeof v);
  }
  return sid;
}

bool AclIsValid(const ACL* acl) {
  if (!acl) return false;
  if (acl->AclRevision < MIN_ACL_REVISION || acl->AclRevision > MAX_ACL_REVISION) return false;
  if (acl->AclSize < sizeof(ACL)) return false;
  return FirstFreeAce(const_cast<ACL*>(acl)) != nullptr;
}

DWORD ApplySecurityDescriptor(const void* descriptor, SECURITY_INFORMATION info,
                              StoredSecurity* into) {
  const BYTE* base = Bytes(descriptor);
  if (base[0] != SECURITY_DESCRIPTOR_REVISION) return ERROR_UNKNOWN_REVISION;
  WORD control = ReadWord(base + 2);
  bool relative = (control & SE_SELF_RELATIVE) != 0;
  // Resolves one of the four part references of either form.
  auto part = [&](size_t relativeOffset, size_t absoluteOffset) -> const BYTE* {
    if (relative) {
      DWORD offset = ReadDword(base + relativeOffset);
      return offset ? base + offset : nullptr;
    }
    const void* pointer;
    std::memcpy(&pointer, base + absoluteOffset, sizeof pointer);
    return Bytes(pointer);
  };
  StoredSecurity next = *into;
  if (info & OWNER_SECURITY_INFORMATION) {
    const BYTE* owner =
        part(offsetof(SECURITY_DESCRIPTOR_RELATIVE, Owner), offsetof(SECURITY_DESCRIPTOR, Owner));
    if (DWORD error = CopyValidSid(owner, &next.owner)) return error;
    next.ownerSet = true;
  }
  if (info & GROUP_SECURITY_INFORMATION) {
    const BYTE* group =
        part(offsetof(SECURITY_DESCRIPTOR_RELATIVE, Group), offsetof(SECURITY_DESCRIPTOR, Group));
    if (DWORD error = CopyValidSid(group, &next.group)) return error;
    next.groupSet = true;
  }
  if (info & DACL_SECURITY_INFORMATION) {
    next.daclSet = true;
    next.daclWrites++;
    next.daclPresent = (control & SE_DACL_PRESENT) != 0;
    next.nullDacl = false;
    next.dacl.clear();
    if (next.daclPresent) {
      const BYTE* dacl =
          part(offsetof(SECURITY_DESCRIPTOR_RELATIVE, Dacl), offsetof(SECURITY_DESCRIPTOR, Dacl));
      if (!dacl) {
        next.nullDacl = true;
      } else {
        const ACL* acl = reinterpret_cast<const ACL*>(dacl);
        if (!AclIsValid(acl)) return ERROR_INVALID_ACL;
        next.dacl.assign(dacl, dacl + acl->AclSize);
      }
    }
  }
  *into = std::move(next);
  return ERROR_SUCCESS;
}

SECURITY_INFORMATION PresentParts(const void* descriptor) {
  const BYTE* base = Bytes(descriptor);
  if (base[0] != SECURITY_DESCRIPTOR_REVISION) return 0;
  WORD control = ReadWord(base + 2);
  SECURITY_INFORMATION info = (control & SE_DACL_PRESENT) ? DACL_SECURITY_INFORMATION : 0;
  bool owner, group;
  if (control & SE_SELF_RELATIVE) {
    owner = ReadDword(base + offsetof(SECURITY_DESCRIPTOR_RELATIVE, Owner)) != 0;
    group = ReadDword(base + offsetof(SECURITY_DESCRIPTOR_RELATIVE, Group)) != 0;
  } else {
    SECURITY_DESCRIPTOR sd;
    std::memcpy(&sd, base, sizeof sd);
    owner = sd.Owner != nullptr;
    group = sd.Group != nullptr;
  }
  if (owner) info |= OWNER_SECURITY_INFORMATION;
  if (group) info |= GROUP_SECURITY_INFORMATION;
  return info;
}

std::vector<BYTE> SelfRelativeDescriptor(const StoredSecurity& stored, SECURITY_INFORMATION info,
                                         const std::string& userSid) {
  SECURITY_DESCRIPTOR_RELATIVE header{};
  header.Revision = SECURITY_DESCRIPTOR_REVISION;
  header.Control = SE_SELF_RELATIVE;
  std::vector<BYTE> out(sizeof header, 0);
  auto append = [&](const std::vector<BYTE>& bytes) -> DWORD {
    DWORD offset = static_cast<DWORD>(out.size());
    out.insert(out.end(), bytes.begin(), bytes.end());
    return offset;
  };
  if (info & DACL_SECURITY_INFORMATION) {
    if (!stored.daclSet) {
      header.Control |= SE_DACL_PRESENT;
      header.Dacl = append(DefaultDacl(userSid));
    } else if (stored.daclPresent) {
      header.Control |= SE_DACL_PRESENT;
      if (!stored.nullDacl) header.Dacl = append(stored.dacl);
    }
  }
  if (info & OWNER_SECURITY_INFORMATION)
    header.Owner = append(stored.ownerSet ? stored.owner : SidFromText("S-1-5-32-544"));
  if (info & GROUP_SECURITY_INFORMATION)
    header.Group = append(stored.groupSet ? stored.group : SidFromText("S-1-5-18"));
  std::memcpy(out.data(), &header, sizeof header);
  return out;
}

}  // namespace winsim

// ---- advapi32: SIDs ---------------------------------------------------------------

BOOL WINAPI AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY authority, BYTE count, DWORD s0,
                                     DWORD s1, DWORD s2, DWORD s3, DWORD s4, DWORD s5, DWORD s6,
                                     DWORD s7, PSID* sid) {
  if (!authority || !sid) return winsim::Fail(ERROR_INVALID_PARAMETER);
  if (count > 8) return winsim::Fail(ERROR_INVALID_SID);
  DWORD length = GetSidLengthRequired(count);
  BYTE* p = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), 0, length));
  if (!p) return winsim::Fail(ERROR_NOT_ENOUGH_MEMORY);
  p[0] = SID_REVISION;
  p[1] = count;
  std::memcpy(p + 2, authority->Value, 6);
  const DWORD sub[8] = {s0, s1, s2, s3, s4, s5, s6, s7};
  std::memcpy(p + winsim::kSidHeader, sub, 4u * count);
  *sid = p;
  return TRUE;
}

PVOID WINAPI FreeSid(PSID sid) {
  if (sid) HeapFree(GetProcessHeap(), 0, sid);
  return nullptr;
}

DWORD WINAPI GetLengthSid(PSID sid) { return sid ? winsim::SidLength(sid) : 0; }

DWORD WINAPI GetSidLengthRequired(UCHAR count) { return winsim::kSidHeader + 4u * count; }

BOOL WINAPI IsValidSid(PSID sid) { return winsim::SidIsValid(sid) ? TRUE : FALSE; }

BOOL WINAPI EqualSid(PSID a, PSID b) {
  if (!winsim::SidIsValid(a) || !winsim::SidIsValid(b)) return winsim::Fail(ERROR_INVALID_SID);
  DWORD length = winsim::SidLength(a);
  if (length != winsim::SidLength(b) || std::memcmp(a, b, length) != 0) {
    SetLastError(ERROR_SUCCESS);
    return FALSE;
  }
  return TRUE;
}

BOOL WINAPI CopySid(DWORD destinationLength, PSID destination, PSID source) {
  if (!winsim::SidIsValid(source)) return winsim::Fail(ERROR_INVALID_SID);
  DWORD length = winsim::SidLength(source);
  if (destinationLength < length) return winsim::Fail(ERROR_INSUFFICIENT_BUFFER);
  if (!destination) return winsim::Fail(ERROR_INVALID_PARAMETER);
  std::memmove(destination, source, length);
  return TRUE;
}

// ---- advapi32: ACLs ---------------------------------------------------------------

BOOL WINAPI InitializeAcl(PACL acl, DWORD length, DWORD revision) {
  if (revision < MIN_ACL_REVISION || revision > MAX_ACL_REVISION)
    return winsim::Fail(ERROR_INVALID_PARAMETER);
  if (length < sizeof(ACL)) return winsim::Fail(ERROR_INSUFFICIENT_BUFFER);
  if (length > 0xFFFF || !acl) return winsim::Fail(ERROR_INVALID_PARAMETER);
  std::memset(acl, 0, sizeof(ACL));
  acl->AclRevision = static_cast<BYTE>(revision);
  acl->AclSize = static_cast<WORD>(length);
  return TRUE;
}

BOOL WINAPI IsValidAcl(PACL acl) { return winsim::AclIsValid(acl) ? TRUE : FALSE; }

BOOL WINAPI AddAccessAllowedAceEx(PACL acl, DWORD revision, DWORD flags, DWORD mask, PSID sid) {
  DWORD error = winsim::AddKnownAce(acl, revision, flags, mask, sid, ACCESS_ALLOWED_ACE_TYPE);
  return error ? winsim::Fail(error) : TRUE;
}

BOOL WINAPI AddAccessAllowedAce(PACL acl, DWORD revision, DWORD mask, PSID sid) {
  return AddAccessAllowedAceEx(acl, revision, 0, mask, sid);
}

BOOL WINAPI AddAccessDeniedAce(PACL acl, DWORD revision, DWORD mask, PSID sid) {
  DWORD error = winsim::AddKnownAce(acl, revision, 0, mask, sid, ACCESS_DENIED_ACE_TYPE);
  return error ? winsim::Fail(error) : TRUE;
}

BOOL WINAPI GetAce(PACL acl, DWORD index, LPVOID* ace) {
  if (!acl || !ace || index >= acl->AceCount) return winsim::Fail(ERROR_INVALID_PARAMETER);
  BYTE* p = reinterpret_cast<BYTE*>(acl) + sizeof(ACL);
  for (DWORD i = 0; i < index; ++i) p += winsim::ReadWord(p + offsetof(ACE_HEADER, AceSize));
  *ace = p;
  return TRUE;
}

// ---- advapi32: security descriptors ------------------------------------------------

BOOL WINAPI InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR descriptor, DWORD revision) {
  if (revision != SECURITY_DESCRIPTOR_REVISION) return winsim::Fail(ERROR_UNKNOWN_REVISION);
  if (!descriptor) return winsim::Fail(ERROR_INVALID_PARAMETER);
  SECURITY_DESCRIPTOR empty{};
  empty.Revision = SECURITY_DESCRIPTOR_REVISION;
  std::memcpy(descriptor, &empty, sizeof empty);
  return TRUE;
}

BOOL WINAPI IsValidSecurityDescriptor(PSECURITY_DESCRIPTOR descriptor) {
  if (!descriptor) return winsim::Fail(ERROR_INVALID_PARAMETER);
  if (winsim::Bytes(descriptor)[0] != SECURITY_DESCRIPTOR_REVISION)
    return winsim::Fail(ERROR_INVALID_SECURITY_DESCR);
  return TRUE;
}

BOOL WINAPI SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR descriptor, BOOL present, PACL dacl,
                                      BOOL defaulted) {
  if (!descriptor) return winsim::Fail(ERROR_INVALID_PARAMETER);
  auto* sd = static_cast<SECURITY_DESCRIPTOR*>(descriptor);
  if (sd->Revision != SECURITY_DESCRIPTOR_REVISION) return winsim::Fail(ERROR_UNKNOWN_REVISION);
  if (sd->Control & SE_SELF_RELATIVE) return winsim::Fail(ERROR_INVALID_SECURITY_DESCR);
  if (!present) {
    sd->Control &= static_cast<WORD>(~SE_DACL_PRESENT);
    return TRUE;
  }
  sd->Control |= SE_DACL_PRESENT;
  sd->Dacl = dacl;
  if (defaulted)
    sd->Control |= SE_DACL_DEFAULTED;
  else
    sd->Control &= static_cast<WORD>(~SE_DACL_DEFAULTED);
  return TRUE;
}

BOOL WINAPI GetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR descriptor, LPBOOL present, PACL* dacl,
                                      LPBOOL defaulted) {
  if (!descriptor || !present || !dacl || !defaulted) return winsim::Fail(ERROR_INVALID_PARAMETER);
  const BYTE* base = winsim::Bytes(descriptor);
  if (base[0] != SECURITY_DESCRIPTOR_REVISION) return winsim::Fail(ERROR_UNKNOWN_REVISION);
  WORD control = winsim::ReadWord(base + 2);
  if (!(control & SE_DACL_PRESENT)) {
    *present = FALSE;
    return TRUE;
  }
  *present = TRUE;
  if (control & SE_SELF_RELATIVE) {
    DWORD offset = winsim::ReadDword(base + offsetof(SECURITY_DESCRIPTOR_RELATIVE, Dacl));
    *dacl = offset ? reinterpret_cast<PACL>(const_cast<BYTE*>(base) + offset) : nullptr;
  } else {
    *dacl = static_cast<const SECURITY_DESCRIPTOR*>(descriptor)->Dacl;
  }
  *defaulted = (control & SE_DACL_DEFAULTED) ? TRUE : FALSE;
  return TRUE;
}
