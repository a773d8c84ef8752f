// Helpers of the fuzz targets whose library entry points take file paths.
#pragma once
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "handpix/platform/core/MessageBox.h"
#include "handpix/platform/ijl/Ijl.h"

namespace handpix::fuzz {

// A per-process file in a memory-backed folder where there is one: it is rewritten for every input.
inline std::string ScratchPath(const char* tag, const char* ext) {
    return std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + "/handpix_fuzz_" + tag + "_" +
           std::to_string(getpid()) + ext;
}

inline bool WriteInput(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    return true;
}

// Message boxes are answered at once, without printing.
inline void SilenceMessages() {
    static const bool done = [] {
        SetMessageBoxHandler([](const char*, const char*, UINT) { return IDOK; });
        return true;
    }();
    (void)done;
}

// Pictures that claim millions of pixels decode correctly but slowly from a
// few bytes; the size caps themselves are exercised by the tests.
inline bool JpegClaimsFewPixels(const std::string& path) {
    JPEG_CORE_PROPERTIES probe{};
    ijlInit(&probe);
    probe.JPGFile = path.c_str();
    const bool small = ijlRead(&probe, IJL_JFILE_READPARAMS) == IJL_OK &&
                       static_cast<unsigned long long>(probe.JPGWidth) * probe.JPGHeight <= (1u << 22);
    ijlFree(&probe);
    return small;
}

}  // namespace handpix::fuzz
