#include "handpix/platform/draw/ResourceTable.h"

#include <map>
#include <mutex>
#include <utility>

namespace handpix {
namespace {
struct Table {
    std::mutex mu;
    std::map<std::pair<std::uintptr_t, UINT>, std::shared_ptr<const ResourceImage>> images;
};
Table& TheTable() {
    static Table t;
    return t;
}
std::uintptr_t TypeKey(const char* type) { return reinterpret_cast<std::uintptr_t>(type); }
}  // namespace

void RegisterResourceImage(const char* type, UINT id, ResourceImage image) {
    Table& t = TheTable();
    std::lock_guard<std::mutex> lock(t.mu);
    t.images[{TypeKey(type), id}] = std::make_shared<const ResourceImage>(std::move(image));
}

std::shared_ptr<const ResourceImage> FindResourceImage(const char* type, UINT id) {
    Table& t = TheTable();
    std::lock_guard<std::mutex> lock(t.mu);
    auto it = t.images.find({TypeKey(type), id});
    return it == t.images.end() ? nullptr : it->second;
}

}  // namespace handpix

// The library's module handle: the address of a constant that nothing reads.
HINSTANCE AfxGetResourceHandle() {
    static const char tag = 0;
    return const_cast<char*>(&tag);
}
HINSTANCE AfxFindResourceHandle(LPCTSTR, LPCTSTR) { return AfxGetResourceHandle(); }
