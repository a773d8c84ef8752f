// Data resources by type name and identifier, as FindResource sees them. The
// host fills the registry (pictures of type "IMAGE"); loads read from it.
#pragma once
#include <cstdint>
#include <vector>

#include "handpix/platform/draw/Gdi.h"

namespace handpix {
// Adds or replaces the resource; the type name compares without regard to case.
void RegisterDataResource(const char* type, UINT id, std::vector<std::uint8_t> bytes);
inline void RegisterImageResource(UINT id, std::vector<std::uint8_t> bytes) {
    RegisterDataResource("IMAGE", id, std::move(bytes));
}
}  // namespace handpix

// name is MAKEINTRESOURCE(id); type a name such as "IMAGE". Null when absent.
HRSRC FindResource(HMODULE module, LPCTSTR name, LPCTSTR type);
DWORD SizeofResource(HMODULE module, HRSRC resource);
HGLOBAL LoadResource(HMODULE module, HRSRC resource);
void* LockResource(HGLOBAL loaded);
BOOL FreeResource(HGLOBAL loaded);
