#include "handpix/platform/core/Profile.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "handpix/platform/core/File.h"

using handpix::ProfileState;
using handpix::SectionMatch;

namespace {

// Profile files stay small; a larger one is not an index this library wrote.
constexpr std::size_t kMaxProfileBytes = 16u << 20;

std::mutex g_profileMutex;  // one read-modify-write at a time inside the process

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

bool SameName(std::string_view a, const char* b, SectionMatch match = SectionMatch::kIgnoreCase) {
    std::size_t n = std::strlen(b);
    if (a.size() != n) return false;
    return match == SectionMatch::kExact ? std::memcmp(a.data(), b, n) == 0 : ::strncasecmp(a.data(), b, n) == 0;
}

bool HasLineBreak(const char* s) { return s && std::strpbrk(s, "\r\n") != nullptr; }

ProfileState ReadLines(const char* file, std::vector<std::string>& lines) {
    std::vector<std::uint8_t> bytes;
    lines.clear();
    if (!handpix::ReadWholeFile(file, bytes, kMaxProfileBytes)) {
        // Only nothing at all under the name reads as empty; a dangling link
        // or a folder is something we cannot see into.
        struct stat st;
        const bool missing = ::lstat(file, &st) != 0 && (errno == ENOENT || errno == ENOTDIR);
        return missing ? ProfileState::kMissing : ProfileState::kUnreadable;
    }
    std::string cur;
    for (std::uint8_t b : bytes) {
        if (b == '\n') {
            if (!cur.empty() && cur.back() == '\r') cur.pop_back();
            lines.push_back(std::move(cur));
            cur.clear();
        } else {
            cur.push_back(static_cast<char>(b));
        }
    }
    if (!cur.empty()) lines.push_back(std::move(cur));
    return ProfileState::kRead;
}

// "[name]" gives name; anything else gives false.
bool SectionName(const std::string& line, std::string_view& name) {
    std::string_view t = Trim(line);
    if (t.size() < 2 || t.front() != '[') return false;
    std::size_t close = t.rfind(']');
    if (close == std::string_view::npos || close == 0) return false;
    name = t.substr(1, close - 1);
    return true;
}

// "key=value" gives both; false for comments and lines without '='.
bool KeyValue(const std::string& line, std::string_view& key, std::string_view& value) {
    std::string_view t = Trim(line);
    if (t.empty() || t.front() == ';') return false;
    std::size_t eq = t.find('=');
    if (eq == std::string_view::npos) return false;
    key = Trim(t.substr(0, eq));
    value = Trim(t.substr(eq + 1));
    return true;
}

bool Lookup(const std::vector<std::string>& lines, const char* section, const char* key, SectionMatch match,
            std::string& out) {
    bool inSection = false;
    for (const std::string& line : lines) {
        std::string_view name, k, v;
        if (SectionName(line, name)) {
            inSection = SameName(name, section, match);
        } else if (inSection && KeyValue(line, k, v) && SameName(k, key)) {
            out.assign(v);
            return true;
        }
    }
    return false;
}

// Holds an advisory lock on "<file>.lock" for one update.
class FileLock {
public:
    explicit FileLock(const std::string& file) : m_fd(::open((file + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644)) {
        if (m_fd >= 0) ::flock(m_fd, LOCK_EX);
    }
    ~FileLock() {
        if (m_fd >= 0) ::close(m_fd);  // closing releases the lock
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

private:
    int m_fd;
};

}  // namespace

ProfileState handpix::ReadProfileInt(const char* file, const char* section, const char* key, SectionMatch match,
                                     int& value) {
    if (!section || !key || !file) return ProfileState::kMissing;
    std::vector<std::string> lines;
    std::string found;
    {
        std::lock_guard<std::mutex> lock(g_profileMutex);
        const ProfileState state = ReadLines(file, lines);
        if (state != ProfileState::kRead || !Lookup(lines, section, key, match, found)) return state;
    }
    // Windows reads the leading decimal digits; a value without any gives 0.
    value = static_cast<int>(std::strtol(found.c_str(), nullptr, 10));
    return ProfileState::kRead;
}

UINT GetPrivateProfileIntA(const char* section, const char* key, int defaultValue, const char* file) {
    int value = defaultValue;
    handpix::ReadProfileInt(file, section, key, SectionMatch::kIgnoreCase, value);
    return static_cast<UINT>(value);
}

DWORD GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue, char* out,
                               DWORD size, const char* file) {
    if (!out || size == 0) return 0;
    std::string value = defaultValue ? defaultValue : "";
    if (section && key && file) {
        std::lock_guard<std::mutex> lock(g_profileMutex);
        std::vector<std::string> lines;
        std::string found;
        if (ReadLines(file, lines) == ProfileState::kRead && Lookup(lines, section, key, SectionMatch::kIgnoreCase, found))
            value = found;
    }
    std::size_t n = value.size() < size - 1 ? value.size() : size - 1;
    std::memcpy(out, value.data(), n);
    out[n] = '\0';
    return static_cast<DWORD>(n);
}

namespace {

// The lines of the file with the key set (value null: removed; key null: the
// whole section removed).
std::vector<std::string> WithKey(const std::vector<std::string>& lines, const char* section, const char* key,
                                 const char* value, SectionMatch match) {
    std::vector<std::string> out;
    bool inSection = false, sectionSeen = false, written = false;
    std::size_t sectionEnd = 0;  // where a new key of the section goes
    for (const std::string& line : lines) {
        std::string_view name, k, v;
        if (SectionName(line, name)) {
            if (inSection) sectionEnd = out.size();
            inSection = SameName(name, section, match);
            if (inSection) {
                sectionSeen = true;
                if (!key) continue;  // removing the whole section
            }
        } else if (inSection) {
            if (!key) continue;
            if (KeyValue(line, k, v) && SameName(k, key)) {
                if (value && !written) out.push_back(std::string(key) + "=" + value);
                written = true;
                continue;
            }
        }
        out.push_back(line);
        if (inSection) sectionEnd = out.size();
    }
    if (key && value && !written) {
        std::string entry = std::string(key) + "=" + value;
        if (sectionSeen) {
            out.insert(out.begin() + static_cast<std::ptrdiff_t>(sectionEnd), entry);
        } else {
            out.push_back(std::string("[") + section + "]");
            out.push_back(entry);
        }
    }
    return out;
}

}  // namespace

BOOL handpix::WriteProfileString(const char* file, const char* section, const char* key, const char* value,
                                 SectionMatch match) {
    if (!section || !file || HasLineBreak(section) || HasLineBreak(key) || HasLineBreak(value)) return FALSE;
    std::lock_guard<std::mutex> lock(g_profileMutex);
    FileLock fileLock(file);
    std::vector<std::string> lines;
    if (ReadLines(file, lines) == ProfileState::kUnreadable) return FALSE;
    std::string text;
    for (const std::string& l : WithKey(lines, section, key, value, match)) text += l + "\r\n";
    return handpix::WriteFileAtomically(file, text.data(), text.size()) ? TRUE : FALSE;
}

ProfileState handpix::ReadProfileKeyInSections(const char* file, const char* key,
                                               std::vector<std::pair<std::string, std::string>>& out) {
    out.clear();
    if (!file || !key) return ProfileState::kMissing;
    std::vector<std::string> lines;
    {
        std::lock_guard<std::mutex> lock(g_profileMutex);
        const ProfileState state = ReadLines(file, lines);
        if (state != ProfileState::kRead) return state;
    }
    std::set<std::string, std::less<>> seen;
    std::string_view section;
    bool inSection = false;
    for (const std::string& line : lines) {
        std::string_view name, k, v;
        if (SectionName(line, name)) {
            section = name;
            inSection = true;
        } else if (inSection && KeyValue(line, k, v) && SameName(k, key) && seen.emplace(section).second) {
            out.emplace_back(std::string(section), std::string(v));
        }
    }
    return ProfileState::kRead;
}

BOOL handpix::RemoveProfileKeys(const char* file, const char* key, const std::vector<std::string>& sections) {
    if (!file || !key) return FALSE;
    const std::set<std::string, std::less<>> targets(sections.begin(), sections.end());
    std::lock_guard<std::mutex> lock(g_profileMutex);
    FileLock fileLock(file);
    std::vector<std::string> lines;
    if (ReadLines(file, lines) != ProfileState::kRead) return FALSE;
    // Section by section: a targeted one loses the key, and is dropped
    // whole (header, blank lines, comments) when no other key is left.
    std::string text;
    std::vector<std::string> block;
    bool targeted = false, keeps = false;
    auto flush = [&] {
        if (!targeted || keeps)
            for (const std::string& l : block) text += l + "\r\n";
        block.clear();
    };
    for (const std::string& line : lines) {
        std::string_view name, k, v;
        if (SectionName(line, name)) {
            flush();
            targeted = targets.count(name) != 0;
            keeps = false;
        } else if (targeted && KeyValue(line, k, v)) {
            if (SameName(k, key)) continue;
            keeps = true;
        }
        block.push_back(line);
    }
    flush();
    return handpix::WriteFileAtomically(file, text.data(), text.size()) ? TRUE : FALSE;
}

BOOL WritePrivateProfileStringA(const char* section, const char* key, const char* value, const char* file) {
    return handpix::WriteProfileString(file, section, key, value, SectionMatch::kIgnoreCase);
}
