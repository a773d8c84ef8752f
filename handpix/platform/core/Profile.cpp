#include "handpix/platform/core/Profile.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "handpix/platform/core/File.h"

namespace {

// Profile files stay small; a larger one is not an index this library wrote.
constexpr std::size_t kMaxProfileBytes = 16u << 20;

std::mutex g_profileMutex;  // one read-modify-write at a time inside the process

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

bool SameName(std::string_view a, const char* b) {
    std::size_t n = std::strlen(b);
    return a.size() == n && ::strncasecmp(a.data(), b, n) == 0;
}

std::vector<std::string> ReadLines(const char* file) {
    std::vector<std::uint8_t> bytes;
    std::vector<std::string> lines;
    if (!handpix::ReadWholeFile(file, bytes, kMaxProfileBytes)) return lines;
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
    return lines;
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

bool Lookup(const std::vector<std::string>& lines, const char* section, const char* key, std::string& out) {
    bool inSection = false;
    for (const std::string& line : lines) {
        std::string_view name, k, v;
        if (SectionName(line, name)) {
            inSection = SameName(name, section);
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

UINT GetPrivateProfileIntA(const char* section, const char* key, int defaultValue, const char* file) {
    if (!section || !key || !file) return static_cast<UINT>(defaultValue);
    std::string value;
    {
        std::lock_guard<std::mutex> lock(g_profileMutex);
        if (!Lookup(ReadLines(file), section, key, value)) return static_cast<UINT>(defaultValue);
    }
    // Windows reads the leading decimal digits; a value without any gives 0.
    return static_cast<UINT>(std::strtol(value.c_str(), nullptr, 10));
}

DWORD GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue, char* out,
                               DWORD size, const char* file) {
    if (!out || size == 0) return 0;
    std::string value = defaultValue ? defaultValue : "";
    if (section && key && file) {
        std::lock_guard<std::mutex> lock(g_profileMutex);
        std::string found;
        if (Lookup(ReadLines(file), section, key, found)) value = found;
    }
    std::size_t n = value.size() < size - 1 ? value.size() : size - 1;
    std::memcpy(out, value.data(), n);
    out[n] = '\0';
    return static_cast<DWORD>(n);
}

BOOL WritePrivateProfileStringA(const char* section, const char* key, const char* value, const char* file) {
    if (!section || !file) return FALSE;
    std::lock_guard<std::mutex> lock(g_profileMutex);
    FileLock fileLock(file);
    std::vector<std::string> lines = ReadLines(file);
    std::vector<std::string> out;
    bool inSection = false, sectionSeen = false, written = false;
    std::size_t sectionEnd = 0;  // where a new key of the section goes
    for (const std::string& line : lines) {
        std::string_view name, k, v;
        if (SectionName(line, name)) {
            if (inSection) sectionEnd = out.size();
            inSection = SameName(name, section);
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
    std::string text;
    for (const std::string& l : out) text += l + "\r\n";
    return handpix::WriteFileAtomically(file, text.data(), text.size()) ? TRUE : FALSE;
}
