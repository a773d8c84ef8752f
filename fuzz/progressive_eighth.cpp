// fuzz-link: handpix_ijl handpix_core
// Arbitrary bytes through the reduced progressive reader. Whatever it
// accepts, libjpeg-turbo must decode to the same pixels: the stand-in is asked
// for R, G, B rows, which the reduced reader leaves to libjpeg, and the two
// are compared. A difference aborts.
#include <cstdlib>
#include <vector>

#include "fuzz/FuzzFiles.h"
#include "handpix/platform/ijl/Ijl.h"
#include "handpix/platform/ijl/ProgressiveEighth.h"

namespace {
bool Setup(JPEG_CORE_PROPERTIES& p, const std::uint8_t* data, std::size_t size, IJL_COLOR order,
           std::vector<BYTE>& px) {
    ijlInit(&p);
    p.JPGBytes = const_cast<BYTE*>(data);
    p.JPGSizeBytes = static_cast<DWORD>(size);
    if (ijlRead(&p, IJL_JBUFF_READPARAMS) != IJL_OK) return false;
    p.DIBScaleDenom = 8;
    p.DIBColor = order;
    p.DIBChannels = 3;
    p.DIBWidth = ijlScaledSize(p.JPGWidth, 8);
    p.DIBHeight = static_cast<int>(ijlScaledSize(p.JPGHeight, 8));
    px.assign(static_cast<std::size_t>(p.DIBWidth) * 3 * static_cast<std::size_t>(p.DIBHeight), 0);
    p.DIBBytes = px.data();
    return true;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    handpix::fuzz::LimitPictures();
    if (size == 0 || size > (1u << 20)) return 0;
    JPEG_CORE_PROPERTIES ours{}, theirs{};
    std::vector<BYTE> a, b;
    if (Setup(ours, data, size, IJL_BGR, a) && handpix::ReadProgressiveEighth(data, size, ours)) {
        if (!Setup(theirs, data, size, IJL_RGB, b) || ijlRead(&theirs, IJL_JBUFF_READWHOLEIMAGE) != IJL_OK) std::abort();
        for (std::size_t i = 0; i < a.size(); i += 3)
            if (a[i] != b[i + 2] || a[i + 1] != b[i + 1] || a[i + 2] != b[i]) std::abort();
    }
    ijlFree(&ours);
    ijlFree(&theirs);
    return 0;
}
