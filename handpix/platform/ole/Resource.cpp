#include "handpix/platform/ole/Resource.h"

#include <strings.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace {
struct Entry {
    std::vector<std::uint8_t> bytes;
};

struct Registry {
    std::mutex mu;
    std::map<std::pair<std::string, UINT>, std::unique_ptr<Entry>> entries;
    // Replaced entries stay alive: a handle the host found earlier never dangles.
    std::vector<std::unique_ptr<Entry>> retired;
};

Registry& TheRegistry() {
    static Registry r;
    return r;
}

std::string TypeKey(const char* type) {
    if (!type) return std::string();
    if (IS_INTRESOURCE(type)) return "#" + std::to_string(reinterpret_cast<std::uintptr_t>(type));
    std::string s(type);
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}
}  // namespace

namespace handpix {
void RegisterDataResource(const char* type, UINT id, std::vector<std::uint8_t> bytes) {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> lock(r.mu);
    auto& slot = r.entries[{TypeKey(type), id}];
    if (slot) r.retired.push_back(std::move(slot));
    slot = std::make_unique<Entry>(Entry{std::move(bytes)});
}
}  // namespace handpix

HRSRC FindResource(HMODULE, LPCTSTR name, LPCTSTR type) {
    if (!name || !IS_INTRESOURCE(name)) return nullptr;  // resources are numbered here
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> lock(r.mu);
    auto it = r.entries.find({TypeKey(type), static_cast<UINT>(reinterpret_cast<std::uintptr_t>(name))});
    return it == r.entries.end() ? nullptr : it->second.get();
}

DWORD SizeofResource(HMODULE, HRSRC resource) {
    return resource ? static_cast<DWORD>(static_cast<Entry*>(resource)->bytes.size()) : 0;
}

HGLOBAL LoadResource(HMODULE, HRSRC resource) { return resource; }

void* LockResource(HGLOBAL loaded) { return loaded ? static_cast<Entry*>(loaded)->bytes.data() : nullptr; }

BOOL FreeResource(HGLOBAL) { return TRUE; }
