// Helpers of the fuzz targets: the picture limit, and scratch files for the
// library entry points that take file paths.
#pragma once
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "handpix/platform/core/Limits.h"
#include "handpix/platform/core/MessageBox.h"

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

// Every target decodes under a small picture limit: a few bytes claiming a
// huge picture are refused at the header instead of costing the run seconds
// and hundreds of megabytes. Call first in every input; a target that does
// much per pixel may ask for less.
inline constexpr std::uint64_t kFuzzMaxPixels = 4'000'000;
inline void LimitPictures(std::uint64_t pixels = kFuzzMaxPixels) {
    static const bool done = [pixels] {
        SetMaxPicturePixels(pixels);
        return true;
    }();
    (void)done;
}

}  // namespace handpix::fuzz
