// OLE: the apartment the shell's objects live in.
#pragma once

#include "objbase.h"
#include "objidl.h"

HRESULT WINAPI OleInitialize(LPVOID reserved);
void WINAPI OleUninitialize();
