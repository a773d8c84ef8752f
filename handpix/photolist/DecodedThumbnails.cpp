#include "handpix/photolist/DecodedThumbnails.h"

#include <sys/stat.h>

#include <list>
#include <mutex>
#include <string>
#include <unordered_map>

namespace handpix {
namespace {

// What tells one version of a file from another: a thumbnail remade under
// the same name gets a new inode (written beside and renamed) or new times.
struct FileIdentity {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    long long mtimeNs = 0;
    long long ctimeNs = 0;
    bool operator==(const FileIdentity&) const = default;
};

bool IdentityOf(const std::string& path, FileIdentity& id) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    id.dev = st.st_dev;
    id.ino = st.st_ino;
    id.size = st.st_size;
    id.mtimeNs = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
    id.ctimeNs = static_cast<long long>(st.st_ctim.tv_sec) * 1000000000LL + st.st_ctim.tv_nsec;
    return true;
}

// Bookkeeping of one entry besides its pixels.
constexpr std::size_t kEntryOverhead = 128;

struct Entry {
    std::string path;
    FileIdentity id;
    IPicture* picture = nullptr;  // one reference; null for a file that did not decode
    int width = 0, height = 0;
    std::size_t bytes = 0;
};

// Process-wide, so every list and item shares one budget; m_mutex guards all.
class Cache {
public:
    // The entry's picture with a reference for the caller, or false on a miss.
    bool Find(const std::string& path, const FileIdentity& id, IPicture*& picture, int& w, int& h) {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_index.find(path);
        if (it == m_index.end()) return false;
        if (!(it->second->id == id)) {
            Drop(it->second);
            return false;
        }
        m_lru.splice(m_lru.begin(), m_lru, it->second);  // most recently used first
        picture = it->second->picture;
        if (picture) picture->AddRef();
        w = it->second->width;
        h = it->second->height;
        return true;
    }

    void Insert(const std::string& path, const FileIdentity& id, IPicture* picture, int w, int h) {
        Entry e{path, id, picture, w, h, kEntryOverhead + path.size()};
        if (picture) {
            picture->AddRef();
            // The pixels, and the rendering at the tile's size the picture keeps.
            e.bytes += 2 * static_cast<std::size_t>(w > 0 ? w : 0) * static_cast<std::size_t>(h > 0 ? h : 0) * 4;
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_decodes;
        if (auto it = m_index.find(path); it != m_index.end()) Drop(it->second);
        m_bytes += e.bytes;
        m_lru.push_front(std::move(e));
        m_index.emplace(path, m_lru.begin());
        Trim();
    }

    DecodedThumbnailUsage Usage() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return DecodedThumbnailUsage{m_lru.size(), m_bytes, m_decodes};
    }

    void SetBudget(std::size_t bytes) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_budget = bytes;
        Trim();
    }

    void Clear() {
        std::lock_guard<std::mutex> lock(m_mutex);
        while (!m_lru.empty()) Drop(m_lru.begin());
    }

private:
    // Evicts from the least recently used end until the budget holds.
    void Trim() {
        while (m_bytes > m_budget && !m_lru.empty()) Drop(std::prev(m_lru.end()));
    }
    void Drop(std::list<Entry>::iterator it) {
        if (it->picture) it->picture->Release();
        m_bytes -= it->bytes;
        m_index.erase(it->path);
        m_lru.erase(it);
    }

    std::mutex m_mutex;
    std::list<Entry> m_lru;
    std::unordered_map<std::string, std::list<Entry>::iterator> m_index;
    std::size_t m_bytes = 0;
    std::size_t m_budget = kDecodedThumbnailBytes;
    std::size_t m_decodes = 0;
};

Cache& TheCache() {
    static Cache* cache = new Cache;  // never destroyed: items may be drawn during static destruction
    return *cache;
}

}  // namespace

bool LoadDecodedThumbnail(const CString& path, CPicture& picture) {
    picture.Free();
    FileIdentity id;
    if (path.IsEmpty() || !IdentityOf(path.str(), id)) return false;
    IPicture* cached = nullptr;
    int w = 0, h = 0;
    if (TheCache().Find(path.str(), id, cached, w, h)) {
        if (!cached) return false;  // as a failed load: the size stays what it was
        picture.m_pPicture = cached;
        picture.m_nWidth = w;
        picture.m_nHeight = h;
        return true;
    }
    // Read and decoded outside the lock: a paint elsewhere need not wait.
    picture.SetPicture(path);
    TheCache().Insert(path.str(), id, picture.m_pPicture, picture.m_nWidth, picture.m_nHeight);
    return picture.m_pPicture != nullptr;
}

DecodedThumbnailUsage GetDecodedThumbnailUsage() { return TheCache().Usage(); }

void SetDecodedThumbnailBudget(std::size_t bytes) { TheCache().SetBudget(bytes); }

void ClearDecodedThumbnails() { TheCache().Clear(); }

}  // namespace handpix
