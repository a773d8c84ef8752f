// The SAF and SIS frame encoders over arbitrary frames: whatever they write
// the engine must read back as exactly those frames; what they refuse must
// come with a reason.
// fuzz-link: handpix_handset
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "handpix/handset/Engine.h"
#include "handpix/handset/SafEncoder.h"
#include "handpix/handset/SisEncoder.h"

namespace {

using handpix::Bytes;

void CheckDecodes(const Bytes& stream, std::uint32_t w, std::uint32_t h, unsigned bits, const std::vector<Bytes>& frames) {
    static handpix::Engine engine;
    static std::vector<std::uint8_t> pool(65536), store(25600), out(256 * 256);
    handpix::StreamInfo info;
    if (!engine.ProbeStream(stream.data(), stream.size(), info)) std::abort();
    engine.StartEngine(pool.data(), pool.size(), store.data(), store.size(), w, h);
    int step = 0;
    for (int i = 0; i < 1000000 && step == 0; ++i) step = engine.StepEngine(stream.data(), stream.size());
    if (step != 1) std::abort();
    for (std::size_t f = 0; f < frames.size(); ++f) {
        if (engine.DecodeFrames(stream.data(), stream.size(), out.data(), out.size(), static_cast<int>(f)) <= 0) std::abort();
        for (std::size_t i = 0; i < frames[f].size(); ++i) {
            const unsigned shift = 8 - bits * (1 + static_cast<unsigned>(i % (8 / bits)));
            if (((out[i * bits / 8] >> shift) & ((1u << bits) - 1)) != frames[f][i]) std::abort();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    const unsigned kind = data[0] % 3;
    const unsigned bits = kind == 0 ? 1 : kind == 1 ? 2 : 8;
    const std::uint32_t w = 8 * (1 + data[1] % 8), h = 8 * (1 + data[2] % 6);
    const std::size_t count = 1 + data[3] % 4;
    // The frames repeat the input's bytes, so that small inputs still make
    // frames with parts in common.
    std::vector<Bytes> frames(count, Bytes(std::size_t{w} * h));
    std::size_t at = 4;
    for (Bytes& f : frames)
        for (auto& v : f) {
            v = static_cast<std::uint8_t>(size > 4 ? data[4 + at++ % (size - 4)] & ((1u << bits) - 1) : 0);
            if (bits == 8 && v == 255) v = 254;
        }
    handpix::EncodeResult r;
    if (kind == 2) r = handpix::EncodeSafAnimation({w, h, frames, {}, true, 65536});
    else r = (kind == 0 ? handpix::EncodeSisKind1 : handpix::EncodeSisKind2)({w, h, frames, {}, true, 65536});
    if (!r) {
        if (r.error.empty() || !r.bytes.empty()) std::abort();
        return 0;
    }
    CheckDecodes(r.bytes, w, h, bits, frames);
    return 0;
}
