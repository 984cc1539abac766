// Registry content scheduled at install time: temporary Registry rows under
// generated keys, and whole registry key trees copied into such rows in the
// installer's value notation.
#pragma once

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

namespace viduzo {

// Adds one temporary Registry row under a fresh "DYN_REG<n>.<GUID>" key. The
// component is a name, or "[Property]" for the value of that property; value
// may be null. False on any failure.
bool AddTempRegistryRow(MSIHANDLE hInstall, int root, LPCSTR key, LPCSTR name, LPCSTR value,
                        LPCSTR component);

// Copies the key sourceKey below root number sourceRoot (0 HKEY_CLASSES_ROOT,
// 1 HKEY_CURRENT_USER, 2 HKEY_LOCAL_MACHINE, 3 HKEY_USERS) with all its values
// and subkeys into Registry rows for destinationKey below destinationRoot. The
// copy goes on past a failed value or subkey; false when anything failed.
bool _CopyKey1ToKey2(MSIHANDLE hInstall, int sourceRoot, LPCSTR sourceKey, int destinationRoot,
                     LPCSTR destinationKey);

// ---- the pieces of the copy, for its tests ------------------------------------

// An entry of the copier's substitution table.
struct RegistrySubstitution;

// The last entry of the substitution table for a destination key, or null.
const RegistrySubstitution* FindRegistrySubstitution(int root, LPCSTR key);

enum class RowValue { kWritten, kLeftOut, kFailed };

// The Registry.Value text of one value of a copied key, in the installer's
// notation, written into the growable buffer *buffer (size in *bufferSize).
// *pending is the key's substitution entry still to apply: when its value name
// matches it is applied (the value left out, or its data replaced) and
// cleared. kFailed only when the buffer cannot grow.
RowValue RegistryRowValue(const RegistrySubstitution** pending, LPCSTR valueName, DWORD type,
                          const BYTE* data, DWORD size, char** buffer, DWORD* bufferSize);

}  // namespace viduzo
