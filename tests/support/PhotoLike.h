// Photo-like test pictures: smooth lighting, soft shapes, edges and grain, so
// codecs and resamplers see content shaped like real photographs.
#pragma once
#include <cstdint>
#include <vector>

namespace handpix::test {
// width x height x 3 bytes, red-green-blue, top row first.
std::vector<std::uint8_t> PhotoLike(int width, int height, unsigned seed);
}  // namespace handpix::test
