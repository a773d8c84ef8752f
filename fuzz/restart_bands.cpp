// fuzz-link: handpix_ijl handpix_core
// fuzz-sources: tests/support/JpegPeer.cpp tests/support/PhotoLike.cpp
// Arbitrary bytes as a JPEG file decoded in restart bands, at the scale and on
// the number of threads the last byte picks: whenever the bands take the file,
// every byte must equal libjpeg's single decode with the same settings, and
// the bands read from a file must take it and give the same rows.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "fuzz/FuzzFiles.h"
#include "handpix/platform/ijl/JpegGuard.h"
#include "handpix/platform/ijl/RestartBands.h"
#include "tests/support/JpegPeer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    handpix::fuzz::LimitPictures(1'000'000);
    if (size < 2) return 0;
    const unsigned denom = 1u << (data[size - 1] & 3);
    const unsigned threads = 2 + (data[size - 1] >> 2 & 3);
    jpegtest::StandInDecode bands, single;
    if (!bands.Open(data, size, denom) || !handpix::JpegHeaderFits(bands.Info(), size)) return 0;
    std::vector<std::uint8_t> ours(bands.RowBytes() * bands.Info().output_height), theirs, read(ours);
    const bool took =
        handpix::DecodeRestartBands(bands.Info(), data, size, {ours.data(), bands.RowBytes(), false}, threads);
    static const std::string path = handpix::fuzz::ScratchPath("restart_bands", ".jpg");
    const int fd = handpix::fuzz::WriteInput(path, data, size) ? ::open(path.c_str(), O_RDONLY) : -1;
    if (fd >= 0) {
        const bool fromFile =
            handpix::DecodeRestartBands(bands.Info(), fd, {read.data(), bands.RowBytes(), false}, threads);
        ::close(fd);
        if (fromFile != took || (took && read != ours)) std::abort();
    }
    if (took && (!single.Open(data, size, denom) || !single.Decode(theirs) || theirs != ours)) std::abort();
    return 0;
}
