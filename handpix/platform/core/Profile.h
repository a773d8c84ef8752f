// Profile (INI) files with the Windows semantics the thumbnail cache relies on:
// sections and keys match without regard to ASCII case, a missing file,
// section or key gives the default, and a write creates the file and the
// section as needed. Writes replace the file atomically (temporary file, then
// rename) under an advisory lock, so a crash never leaves half an index and
// two processes never interleave their updates.
#pragma once
#include "handpix/platform/core/Types.h"

UINT GetPrivateProfileIntA(const char* section, const char* key, int defaultValue, const char* file);
// key null: removes the section; value null: removes the key. FALSE when the file cannot be written.
BOOL WritePrivateProfileStringA(const char* section, const char* key, const char* value, const char* file);
// Copies the value (or the default) into out, truncated to size - 1 bytes; returns the bytes copied.
DWORD GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue, char* out,
                               DWORD size, const char* file);
