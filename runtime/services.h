// The services every action shares: the module handle, growable heap buffers,
// property reads, formatted text, the hidden Cancel button, GUID-based unique
// suffixes and hexadecimal text.
#pragma once

#include <windows.h>
#include <msi.h>
#include <msiquery.h>
#include <objbase.h>

namespace viduzo {

// The library's own module handle, recorded at process attach.
HMODULE ModuleHandle();
void SetModuleHandle(HMODULE module);

// Growable text buffers live on the process heap; release them with FreeBuffer.
void FreeBuffer(char** buffer);

// Makes *buffer hold at least length + 1 bytes: a fresh buffer gets 261 bytes (or
// length + 1 when larger), a grown one exactly length + 1. False when allocation
// failed (the pointer is then null).
bool GrowBuffer(char** buffer, DWORD* size, DWORD length);

// A growable text buffer owned by the code that declares it.
struct GrowableText {
  char* text = nullptr;
  DWORD size = 0;

  GrowableText() = default;
  GrowableText(const GrowableText&) = delete;
  GrowableText& operator=(const GrowableText&) = delete;
  ~GrowableText() { FreeBuffer(&text); }

  // Reads a property into the buffer with GetPropertyValue.
  UINT ReadProperty(MSIHANDLE hInstall, LPCSTR name);
  // Resolves formatted text into the buffer with FormatText; *resolved points at
  // the value, or is null when there is none.
  UINT Format(MSIHANDLE hInstall, LPCSTR templ, char** resolved);
  // Makes the buffer hold first followed by second; when it must grow it grows
  // to twice the joined length. False when allocation failed.
  bool Join(const char* first, const char* second);
};

// Reads a property into a growable buffer (513 bytes to start, one retry after 234).
UINT GetPropertyValue(MSIHANDLE hInstall, LPCSTR name, char** buffer, DWORD* bufferSize,
                      DWORD* valueLength);

// Reads a property into a fixed buffer of size bytes (terminator included). A
// value that does not fit gives 234, and callers treat it as missing.
UINT ReadProperty(MSIHANDLE hInstall, LPCSTR name, char* buffer, DWORD size);

// Resolves formatted text into a growable buffer. *resolved, when asked for,
// points at the resolved value inside the buffer (null when the engine's output
// has no field frame).
UINT FormatText(MSIHANDLE hInstall, LPCSTR templ, char** buffer, char** resolved,
                DWORD* bufferSize);

// Sends the engine's common-data message that hides the Cancel button.
UINT HideCancelMessage(MSIHANDLE hInstall);

// A fresh GUID in registry form ("{...}", upper case) in a 39-byte heap block.
bool NewGuidString(MSIHANDLE hInstall, char** text);

// Appends "." and a fresh GUID's 36 characters with "_" for "-" to name. When
// *suffix is non-null on entry it is set to where the suffix begins.
bool AppendGuidSuffix(MSIHANDLE hInstall, char* name, char** suffix);

// Writes prefix followed by two upper-case hexadecimal digits per byte.
bool BytesToHexString(const BYTE* bytes, DWORD count, char** buffer, LPCSTR prefix,
                      DWORD* bufferSize);

}  // namespace viduzo
