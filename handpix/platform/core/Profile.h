// Profile (INI) files with the Windows semantics the thumbnail cache relies on:
// sections and keys match without regard to ASCII case, a missing file,
// section or key gives the default, and a write creates the file and the
// section as needed. Writes replace the file atomically (temporary file, then
// rename) under an advisory lock, so a crash never leaves half an index and
// two processes never interleave their updates.
//
// Fix: a file that exists but cannot be read whole (no permission, not a
// regular file, over the size limit) is never written: a write would
// otherwise replace every section with its own. Names or values holding a
// line break are refused too; they would split the line they are written on.
#pragma once
#include <string>
#include <utility>
#include <vector>

#include "handpix/platform/core/Types.h"

namespace handpix {
// Addition: how section names match. Windows ignores ASCII case; an index
// whose sections are Linux paths needs them exact.
enum class SectionMatch { kIgnoreCase, kExact };
// Addition: what one read of a profile file found. A missing file reads as
// empty; an unreadable one is left as it is by every write.
enum class ProfileState { kRead, kMissing, kUnreadable };
// value is left as the caller set it when the key is absent or the file unreadable.
ProfileState ReadProfileInt(const char* file, const char* section, const char* key, SectionMatch match, int& value);
// The write behind WritePrivateProfileStringA, with the section match chosen.
BOOL WriteProfileString(const char* file, const char* section, const char* key, const char* value,
                        SectionMatch match);
// Addition: every section that holds key, with the key's value, in file order.
// A section named twice counts once, with its first value, as a read finds it.
ProfileState ReadProfileKeyInSections(const char* file, const char* key,
                                      std::vector<std::pair<std::string, std::string>>& out);
// Addition: removes key from each of the sections (exact names) in one
// atomic rewrite under the file's lock; a section left without keys goes
// too. FALSE when the file cannot be read whole or written.
BOOL RemoveProfileKeys(const char* file, const char* key, const std::vector<std::string>& sections);
}  // namespace handpix

UINT GetPrivateProfileIntA(const char* section, const char* key, int defaultValue, const char* file);
// key null: removes the section; value null: removes the key. FALSE when the file cannot be written.
BOOL WritePrivateProfileStringA(const char* section, const char* key, const char* value, const char* file);
// Copies the value (or the default) into out, truncated to size - 1 bytes; returns the bytes copied.
DWORD GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue, char* out,
                               DWORD size, const char* file);
