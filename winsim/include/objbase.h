// The COM base API of ole32 that the library uses: GUIDs.
#pragma once

#include "guiddef.h"
#include "windows.h"
#include "wtypes.h"

HRESULT WINAPI CoCreateGuid(GUID* guid);
int WINAPI StringFromGUID2(const GUID& guid, LPWSTR buffer, int size);

// ---- creating COM objects ----------------------------------------------------------------
#include "unknwn.h"

#define CLSCTX_INPROC_SERVER 0x1
#define CLSCTX_INPROC_HANDLER 0x2
#define CLSCTX_LOCAL_SERVER 0x4
#define CLSCTX_REMOTE_SERVER 0x10

// Storage access modes (IPersistFile::Load).
#define STGM_READ 0x00000000L
#define STGM_WRITE 0x00000001L
#define STGM_READWRITE 0x00000002L

HRESULT WINAPI CoInitialize(LPVOID reserved);
void WINAPI CoUninitialize();
HRESULT WINAPI CoCreateInstance(REFCLSID classId, LPUNKNOWN outer, DWORD context, REFIID riid,
                                LPVOID* object);
