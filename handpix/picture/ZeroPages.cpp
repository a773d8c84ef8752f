// The handset buffers' memory. Most pictures (every thumbnail of a list)
// never touch it, so it must cost neither zeroing nor a mapping of its own:
// blocks are cut from mappings of many blocks. A freed block is handed back
// to the system's zero pages at once, so the next owner finds it zero, and a
// mapping whose blocks are all free is unmapped.
#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "handpix/picture/Picture.h"

namespace {

constexpr std::size_t kPage = 4096;
constexpr std::size_t kBlock = (handpix::ZeroPages::kBytes + kPage - 1) / kPage * kPage;
constexpr int kBlocksPerMapping = 64;

struct Mapping {
    BYTE* base = nullptr;
    int carved = 0;         // blocks handed out at least once, from the start
    int live = 0;           // blocks in use
    std::vector<int> free;  // blocks given back, zero again
    bool Holds(const BYTE* p) const { return p >= base && p < base + kBlock * kBlocksPerMapping; }
};

// A list of 100,000 items holds as many pictures: blocks are found in
// constant time and mappings by address, never by a walk over all of them.
class Pool {
public:
    BYTE* Take() {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_roomy.empty()) {
            void* p = ::mmap(nullptr, kBlock * kBlocksPerMapping, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS,
                             -1, 0);
            if (p == MAP_FAILED) return nullptr;
            auto m = std::make_unique<Mapping>();
            m->base = static_cast<BYTE*>(p);
            m_roomy.push_back(m.get());
            m_mappings.emplace(m->base, std::move(m));
        }
        Mapping& m = *m_roomy.back();
        int i;
        if (!m.free.empty()) {
            i = m.free.back();
            m.free.pop_back();
        } else {
            i = m.carved++;
        }
        ++m.live;
        if (!HasRoom(m)) m_roomy.pop_back();
        return m.base + kBlock * static_cast<std::size_t>(i);
    }

    void Give(BYTE* block) {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_mappings.upper_bound(block);
        if (it == m_mappings.begin()) return;
        Mapping& m = *(--it)->second;
        if (!m.Holds(block)) return;
        const bool wasFull = !HasRoom(m);
        if (--m.live == 0) {
            if (!wasFull) m_roomy.erase(std::find(m_roomy.begin(), m_roomy.end(), &m));
            ::munmap(m.base, kBlock * kBlocksPerMapping);
            m_mappings.erase(it);
            return;
        }
        ::madvise(block, kBlock, MADV_DONTNEED);  // zero again, and no longer resident
        m.free.push_back(static_cast<int>((block - m.base) / static_cast<std::ptrdiff_t>(kBlock)));
        if (wasFull) m_roomy.push_back(&m);
    }

private:
    static bool HasRoom(const Mapping& m) { return !m.free.empty() || m.carved < kBlocksPerMapping; }

    std::mutex m_mutex;
    std::map<const BYTE*, std::unique_ptr<Mapping>> m_mappings;  // by base address
    std::vector<Mapping*> m_roomy;                               // those with a block to hand out
};

// Process-wide on purpose: pictures of every thread share the mappings.
Pool& ThePool() {
    static Pool* pool = new Pool;  // never destroyed: pictures may outlive static destruction
    return *pool;
}

}  // namespace

handpix::ZeroPages::ZeroPages() : m_bytes(ThePool().Take()), m_pooled(m_bytes != nullptr) {
    if (!m_bytes) {  // out of mappings: plain zeroed memory does as well
        m_bytes = static_cast<BYTE*>(std::calloc(1, kBytes));
        if (!m_bytes) std::abort();
    }
}

handpix::ZeroPages::~ZeroPages() {
    if (m_pooled) ThePool().Give(m_bytes);
    else std::free(m_bytes);
}
