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

// Appends the upper-cased name re-encoded as UTF-8 (surrogates, and so the
// U+DC00 stand-ins, encoded like any other code point): that encoding keeps
// the order of code point sequences under a plain byte comparison.
void AppendSortKey(std::string& key, std::string_view name) {
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
}

int CompareKeys(std::string_view ka, std::string_view a, std::string_view kb, std::string_view b) {
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

int CompareFileNames(std::string_view a, std::string_view b) {
    std::string ka, kb;
    AppendSortKey(ka, a);
    AppendSortKey(kb, b);
    return CompareKeys(ka, a, kb, b);
}

namespace {

// sizes false: a listed type other than a link or unknown is taken as it is,
// so only those cost a call. Names and keys are gathered end to end in two
// buffers, so a large folder costs no allocation or move per name until the
// entries are made, once, in order.
std::vector<FolderEntry> List(const std::string& folder, const std::function<bool(std::string_view)>& wanted,
                              bool sizes) {
    struct Found {
        std::uint64_t head[2];  // the key's first 16 bytes, zero-padded
        std::size_t name, key;  // offsets: each ends where the next begins
    };
    std::string names, keys;
    std::vector<Found> found;
    std::vector<std::uint64_t> fileSizes;  // all ones for a file that is no regular one
    constexpr std::uint64_t kNoFile = ~std::uint64_t{0};
    DIR* dir = ::opendir(folder.empty() ? "/" : folder.c_str());
    if (!dir) return {};
    // Room for what a folder of that size can hold, so growing moves nothing;
    // pages never written cost nothing.
    struct stat self {};
    if (::fstat(::dirfd(dir), &self) == 0 && self.st_size > 0) {
        const auto room = std::min<std::size_t>(static_cast<std::size_t>(self.st_size) / 8, 1u << 20);
        found.reserve(room);
        fileSizes.reserve(room);
        names.reserve(room * 2);
        keys.reserve(room * 2);
    }
    while (dirent* e = ::readdir(dir)) {
        const std::string_view name(e->d_name);
        if (name == "." || name == ".." || (wanted && !wanted(name))) continue;
        Found f{{0, 0}, names.size(), keys.size()};
        struct stat st {};
        std::uint64_t size = kNoFile;
        if (!sizes && e->d_type != DT_LNK && e->d_type != DT_UNKNOWN) {
            if (e->d_type == DT_REG) size = 0;
        } else if (::fstatat(::dirfd(dir), e->d_name, &st, 0) == 0 && S_ISREG(st.st_mode)) {
            size = sizes ? static_cast<std::uint64_t>(st.st_size) : 0;
        }
        fileSizes.push_back(size);
        names.append(name);
        AppendSortKey(keys, name);
        for (std::size_t k = 0; k < 16 && f.key + k < keys.size(); ++k)
            f.head[k / 8] |= std::uint64_t{static_cast<unsigned char>(keys[f.key + k])} << (56 - 8 * (k % 8));
        found.push_back(f);
    }
    ::closedir(dir);
    auto piece = [&](const std::string& all, std::size_t i, std::size_t Found::*start) {
        const std::size_t end = i + 1 < found.size() ? found[i + 1].*start : all.size();
        return std::string_view(all).substr(found[i].*start, end - found[i].*start);
    };
    // Most comparisons are settled by the heads as integers: no key holds a
    // zero byte, so the zeros that pad a short key sort it first, as its
    // length would.
    std::vector<std::size_t> order(found.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) {
        const Found& a = found[x];
        const Found& b = found[y];
        if (a.head[0] != b.head[0]) return a.head[0] < b.head[0];
        if (a.head[1] != b.head[1]) return a.head[1] < b.head[1];
        return CompareKeys(piece(keys, x, &Found::key), piece(names, x, &Found::name), piece(keys, y, &Found::key),
                           piece(names, y, &Found::name)) < 0;
    });
    std::vector<FolderEntry> sorted(found.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        sorted[i].name = piece(names, order[i], &Found::name);
        sorted[i].file = fileSizes[order[i]] != kNoFile;
        sorted[i].size = sorted[i].file ? fileSizes[order[i]] : 0;
    }
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
