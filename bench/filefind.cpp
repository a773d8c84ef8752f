// bench-link: handpix_imagefiles handpix_core
// Folder listing and the EXIF orientation read against their peers, same
// folder, same run:
//  - ListFolder (sorted by upper-cased code points, each picture stat'ed) of
//    5,000 names vs glibc scandir with alphasort plus the same stat calls, and
//    vs the unsorted readdir walk the build used before;
//  - JpegFileOrientation of a photo vs libjpeg-turbo reading the header of the
//    same file start (what any reader pays to learn something of a file).
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "handpix/imagefiles/Orientation.h"
#include "handpix/platform/core/FileFind.h"

namespace {
namespace fs = std::filesystem;

const fs::path& Folder() {
    static const fs::path dir = [] {
        fs::path d = fs::temp_directory_path() / ("bench-filefind-" + std::to_string(::getpid()));
        fs::create_directories(d);
        const char* const stems[] = {"IMG_", "img_", "DSC", "사진 ", "가족_", "Photo-"};
        for (int i = 0; i < 5000; ++i) {
            const char* ext = i % 7 == 0 ? ".JPG" : i % 11 == 0 ? ".jpeg" : i % 13 == 0 ? ".txt" : ".jpg";
            std::ofstream(d / (std::string(stems[i % 6]) + std::to_string((i * 7919) % 100000) + ext)) << i;
        }
        std::atexit([] { fs::remove_all(Folder()); });
        return d;
    }();
    return dir;
}

void BM_ListFolderSorted(benchmark::State& state) {
    const std::string dir = Folder().string();
    for (auto _ : state) benchmark::DoNotOptimize(handpix::ListFolder(dir, handpix::IsJpegName));
}
BENCHMARK(BM_ListFolderSorted)->Unit(benchmark::kMillisecond);

int WantJpeg(const dirent* e) { return handpix::IsJpegName(e->d_name) ? 1 : 0; }

void BM_PeerScandirAlphasort(benchmark::State& state) {
    const std::string dir = Folder().string();
    for (auto _ : state) {
        dirent** list = nullptr;
        const int n = ::scandir(dir.c_str(), &list, WantJpeg, alphasort);
        const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY);
        for (int i = 0; i < n; ++i) {
            struct stat st {};
            benchmark::DoNotOptimize(::fstatat(fd, list[i]->d_name, &st, 0));
            std::free(list[i]);
        }
        ::close(fd);
        std::free(list);
    }
}
BENCHMARK(BM_PeerScandirAlphasort)->Unit(benchmark::kMillisecond);

void BM_UnsortedReaddir(benchmark::State& state) {
    const std::string dir = Folder().string();
    for (auto _ : state) {
        std::vector<std::string> names;
        DIR* d = ::opendir(dir.c_str());
        while (dirent* e = ::readdir(d)) {
            if (!handpix::IsJpegName(e->d_name)) continue;
            struct stat st {};
            if (::fstatat(::dirfd(d), e->d_name, &st, 0) == 0) names.emplace_back(e->d_name);
        }
        ::closedir(d);
        benchmark::DoNotOptimize(names);
    }
}
BENCHMARK(BM_UnsortedReaddir)->Unit(benchmark::kMillisecond);

// A camera-like file start: JFIF, an Exif block of camera size, then the
// frame. Only the first bytes matter to both readers.
const std::string& Photo() {
    static const std::string path = [] {
        std::vector<unsigned char> rgb(4000 * 16 * 3, 128);
        tjhandle tj = tjInitCompress();
        unsigned char* out = nullptr;
        unsigned long size = 0;
        tjCompress2(tj, rgb.data(), 4000, 0, 16, TJPF_RGB, &out, &size, TJSAMP_420, 90, 0);
        std::string bytes(reinterpret_cast<char*>(out), size);
        tjFree(out);
        tjDestroy(tj);
        // Exif: "II", 42, IFD0 at 8 with 1 entry, Orientation SHORT 6, padded like a camera's maker notes.
        std::string tiff("II*\0\x08\0\0\0\x01\0\x12\x01\x03\0\x01\0\0\0\x06\0\0\0\0\0\0\0", 26);
        tiff.append(9000, '\0');
        const std::string payload = std::string("Exif\0\0", 6) + tiff;
        const std::size_t len = payload.size() + 2;
        std::string app1 = "\xFF\xE1";
        app1 += static_cast<char>(len >> 8);
        app1 += static_cast<char>(len & 0xFF);
        bytes.insert(20, app1 + payload);  // after SOI and the JFIF segment
        const std::string p = (Folder() / "photo.bin").string();
        std::ofstream(p, std::ios::binary) << bytes;
        return p;
    }();
    return path;
}

void BM_JpegFileOrientation(benchmark::State& state) {
    const std::string& p = Photo();
    for (auto _ : state) benchmark::DoNotOptimize(handpix::JpegFileOrientation(p.c_str()));
}
BENCHMARK(BM_JpegFileOrientation)->Unit(benchmark::kMicrosecond);

void BM_PeerTurboHeader(benchmark::State& state) {
    const std::string& p = Photo();
    tjhandle tj = tjInitDecompress();
    std::vector<unsigned char> head(64u << 10);
    for (auto _ : state) {
        const int fd = ::open(p.c_str(), O_RDONLY);
        const ssize_t n = ::read(fd, head.data(), head.size());
        ::close(fd);
        int w = 0, h = 0, sub = 0, cs = 0;
        benchmark::DoNotOptimize(tjDecompressHeader3(tj, head.data(), static_cast<unsigned long>(n), &w, &h, &sub, &cs));
    }
    tjDestroy(tj);
}
BENCHMARK(BM_PeerTurboHeader)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
