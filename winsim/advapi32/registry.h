// Internal helpers shared by winsim's registry (registry.cpp) and its security
// descriptor functions (security.cpp). Nothing outside winsim includes this.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include <windows.h>

namespace winsim {

// ---- SIDs ------------------------------------------------------------------
// A SID of revision 1 with at most 15 sub-authorities.
bool SidIsValid(const void* sid);
// 8 + 4 * sub-authority count; the SID must be valid.
DWORD SidLength(const void* sid);
// "S-1-5-32-544"; the SID must be valid.
std::string SidText(const void* sid);
// The binary SID of "S-1-..." text; empty when the text is not a SID.
std::vector<BYTE> SidFromText(const std::string& text);

// ---- ACLs ------------------------------------------------------------------
// Revision 2 to 4, a size of at least the header, and AceCount ACEs that each
// hold a header and lie inside AclSize.
bool AclIsValid(const ACL* acl);

// ---- security descriptors ----------------------------------------------------
// What a key holds: the parts written to it, with flags that tell whether each
// was ever written (the parts never written read back as defaults).
struct StoredSecurity {
  bool ownerSet = false;
  std::vector<BYTE> owner;
  bool groupSet = false;
  std::vector<BYTE> group;
  bool daclSet = false;
  unsigned daclWrites = 0;
  bool daclPresent = false;
  bool nullDacl = false;   // present with a null ACL pointer
  std::vector<BYTE> dacl;  // the ACL image (AclSize bytes) when present and not null
};

// Copies the parts named by `info` out of an absolute or self-relative
// descriptor into `into` (parts not named are left alone). Returns
// ERROR_SUCCESS, ERROR_UNKNOWN_REVISION, ERROR_INVALID_SECURITY_DESCR (a part
// that is named but malformed) or ERROR_INVALID_ACL.
DWORD ApplySecurityDescriptor(const void* descriptor, SECURITY_INFORMATION info,
                              StoredSecurity* into);

// The parts a descriptor carries: DACL_SECURITY_INFORMATION when its DACL is
// present, OWNER_ / GROUP_SECURITY_INFORMATION when it names an owner / group.
// 0 when the descriptor's revision is not 1.
SECURITY_INFORMATION PresentParts(const void* descriptor);

// The self-relative descriptor of the parts named by `info`; parts never set
// are given the defaults of a key (`userSid`: the owner of keys in a user's hive).
std::vector<BYTE> SelfRelativeDescriptor(const StoredSecurity& stored, SECURITY_INFORMATION info,
                                         const std::string& userSid);

}  // namespace winsim
