#include "handpix/platform/core/FileFind.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <numeric>

namespace handpix {
namespace {

// Simple upper-case mapping of the blocks file names mostly use; the rest of
// Unicode keeps its code points.
std::uint32_t Upper(std::uint32_t c) {
    if (c < 0x80) return c >= 'a' && c <= 'z' ? c - 0x20 : c;
    if (c <= 0xFF) {
        if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 0x20;
        return c == 0xFF ? 0x178 : c;
    }
    if (c <= 0x17F) {
        if (c == 0x131) return 'I';
        if (c == 0x17F) return 'S';
        // Pairs upper/lower: even/odd up to U+0137 and from U+014A, odd/even between and at the end.
        const bool evenPairs = (c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177);
        const bool oddPairs = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
        if (evenPairs && (c & 1)) return c - 1;
        if (oddPairs && !(c & 1)) return c - 1;
        return c;
    }
    if (c >= 0x3AC && c <= 0x3CE) {  // Greek
        if (c == 0x3AC) return 0x386;
        if (c <= 0x3AF) return c - 0x25;
        if (c == 0x3C2) return 0x3A3;
        if (c >= 0x3B1 && c <= 0x3CB) return c - 0x20;
        if (c == 0x3CC) return 0x38C;
        if (c >= 0x3CD) return c - 0x3F;
        return c;
    }
    if (c >= 0x430 && c <= 0x44F) return c - 0x20;  // Cyrillic
    if (c >= 0x450 && c <= 0x45F) return c - 0x50;
    if (c >= 0xFF41 && c <= 0xFF5A) return c - 0x20;  // full-width Latin
    return c;
}

// The next character of s from i (advanced), or U+DC00 + byte for a byte
// that does not start a valid sequence: overlong forms, surrogates and values
// past U+10FFFF included.
std::uint32_t NextCodePoint(std::string_view s, std::size_t& i) {
    const auto b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) {
        ++i;
        return b;
    }
    const int more = b >= 0xF5 ? 0 : b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC2 ? 1 : 0;
    std::uint32_t c = b & (0x3Fu >> more);
    bool ok = more > 0 && s.size() - i > static_cast<std::size_t>(more);
    for (int k = 1; ok && k <= more; ++k) {
        const auto t = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
        ok = (t & 0xC0) == 0x80;
        c = (c << 6) | (t & 0x3Fu);
    }
    ok = ok && !(more == 2 && c < 0x800) && !(more == 3 && c < 0x10000) && !(c >= 0xD800 && c <= 0xDFFF) &&
         c <= 0x10FFFF;
    if (!ok) {
        ++i;
        return 0xDC00u + b;
    }
    i += static_cast<std::size_t>(more) + 1;
    return c;
}

// The upper-cased name re-encoded as UTF-8 (surrogates, and so the U+DC00
// stand-ins, encoded like any other code point): that encoding keeps the order
// of code point sequences under a plain byte comparison, and a short name's key
// needs no allocation.
std::string SortKey(std::string_view name) {
    std::string key;
    key.reserve(name.size());
    for (std::size_t i = 0; i < name.size();) {
        const auto b = static_cast<unsigned char>(name[i]);
        if (b < 0x80) {
            key.push_back(static_cast<char>(b >= 'a' && b <= 'z' ? b - 0x20 : b));
            ++i;
            continue;
        }
        const std::uint32_t c = Upper(NextCodePoint(name, i));
        auto put = [&key](std::uint32_t v) { key.push_back(static_cast<char>(v)); };
        if (c < 0x80) {  // U+0131 and U+017F upper-case to ASCII
            put(c);
            continue;
        }
        if (c < 0x800) {
            put(0xC0 | (c >> 6));
        } else if (c < 0x10000) {
            put(0xE0 | (c >> 12));
            put(0x80 | ((c >> 6) & 0x3F));
        } else {
            put(0xF0 | (c >> 18));
            put(0x80 | ((c >> 12) & 0x3F));
            put(0x80 | ((c >> 6) & 0x3F));
        }
        put(0x80 | (c & 0x3F));
    }
    return key;
}

int CompareKeys(const std::string& ka, std::string_view a, const std::string& kb, std::string_view b) {
    if (const int c = ka.compare(kb)) return c < 0 ? -1 : 1;
    return a.compare(b);
}

bool EndsWithLower(std::string_view name, std::string_view ext) {
    if (name.size() < ext.size()) return false;
    name.remove_prefix(name.size() - ext.size());
    for (std::size_t i = 0; i < ext.size(); ++i) {
        char c = name[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != ext[i]) return false;
    }
    return true;
}

}  // namespace

int CompareFileNames(std::string_view a, std::string_view b) { return CompareKeys(SortKey(a), a, SortKey(b), b); }

namespace {

// sizes false: a listed type other than a link or unknown is taken as it is,
// so only those cost a call.
std::vector<FolderEntry> List(const std::string& folder, const std::function<bool(std::string_view)>& wanted,
                              bool sizes) {
    std::vector<FolderEntry> entries;
    DIR* dir = ::opendir(folder.empty() ? "/" : folder.c_str());
    if (!dir) return entries;
    while (dirent* e = ::readdir(dir)) {
        const std::string_view name(e->d_name);
        if (name == "." || name == ".." || (wanted && !wanted(name))) continue;
        FolderEntry entry;
        entry.name = name;
        struct stat st {};
        if (!sizes && e->d_type != DT_LNK && e->d_type != DT_UNKNOWN) {
            entry.file = e->d_type == DT_REG;
        } else if (::fstatat(::dirfd(dir), e->d_name, &st, 0) == 0 && S_ISREG(st.st_mode)) {
            entry.file = true;
            entry.size = sizes ? static_cast<std::uint64_t>(st.st_size) : 0;
        }
        entries.push_back(std::move(entry));
    }
    ::closedir(dir);
    // Keys made once per name, not once per comparison.
    std::vector<std::string> keys(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) keys[i] = SortKey(entries[i].name);
    std::vector<std::size_t> order(entries.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) {
        return CompareKeys(keys[x], entries[x].name, keys[y], entries[y].name) < 0;
    });
    std::vector<FolderEntry> sorted;
    sorted.reserve(entries.size());
    for (std::size_t i : order) sorted.push_back(std::move(entries[i]));
    return sorted;
}

}  // namespace

std::vector<FolderEntry> ListFolder(const std::string& folder, const std::function<bool(std::string_view)>& wanted) {
    return List(folder, wanted, true);
}

std::vector<FolderEntry> ListFolderNames(const std::string& folder,
                                         const std::function<bool(std::string_view)>& wanted) {
    return List(folder, wanted, false);
}

bool HasJpegExtension(std::string_view name) {
    return EndsWithLower(name, ".jpg") || EndsWithLower(name, ".jpeg") || EndsWithLower(name, ".jpe");
}

bool IsJpegName(std::string_view name) {
    // ".jpg" anywhere, as the original's search of the lower-cased name found it.
    for (std::size_t end = 4; end <= name.size(); ++end)
        if (EndsWithLower(name.substr(0, end), ".jpg")) return true;
    return HasJpegExtension(name);
}

}  // namespace handpix
