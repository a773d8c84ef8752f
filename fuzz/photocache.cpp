// fuzz-link: handpix_photolist handpix_core
// Arbitrary bytes as a thumbnail list file and as the folder index file.
// The list parser must keep only thumbnail names and short texts; the index
// reader must read back what the writer has just written over whatever was there.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz/FuzzFiles.h"
#include "handpix/photolist/PhotoListCtrl.h"
#include "handpix/platform/core/File.h"
#include "handpix/platform/core/Profile.h"

namespace {

void CheckList(std::string_view bytes) {
    for (const auto& [key, entry] : handpix::ParseThumbList(bytes)) {
        if (!handpix::IsThumbnailName(entry.thumb) || key.compare(0, entry.thumb.size(), entry.thumb) != 0) std::abort();
        if (entry.info.size() > 3 * handpix::kMaxListInfoBytes) std::abort();  // each byte at most one 3-byte character
    }
}

// One index file per process, removed at exit. Plain arrays, so they
// outlive every static destructor that runs before the exit handler.
const char* IndexPath() {
    static char path[64], lock[72];
    if (!path[0]) {
        std::snprintf(path, sizeof path, "/tmp/fuzz-photocache-%d.ini", static_cast<int>(::getpid()));
        std::snprintf(lock, sizeof lock, "%s.lock", path);
        std::atexit([] {
            std::remove(path);
            std::remove(lock);
        });
    }
    return path;
}

void CheckIndex(const std::uint8_t* data, std::size_t size) {
    const char* path = IndexPath();
    if (!handpix::WriteFileAtomically(path, data, size)) return;
    GetPrivateProfileIntA("Info", "Dirnum", 0, path);
    char value[64];
    GetPrivateProfileStringA("/home/user/사진", "Foldername", "", value, sizeof value, path);
    if (WritePrivateProfileStringA("Info", "Dirnum", "7", path) && GetPrivateProfileIntA("Info", "Dirnum", 0, path) != 7)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    handpix::fuzz::LimitPictures();
    CheckList(std::string_view(reinterpret_cast<const char*>(data), size));
    CheckIndex(data, size);
    return 0;
}
