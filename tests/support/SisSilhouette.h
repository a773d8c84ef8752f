// The silhouette of a masked block, as the test encoders' reference drawing
// sees it: a pixel is inside when it lies between the first and last nonzero
// pixels of its row and between those of its column. at(x, y) reads the block.
#pragma once
#include <algorithm>

namespace handpix::test {

template <class At>
bool InSilhouette(const At& at, int width, int height, int x, int y) {
    int rowFirst = width, rowLast = -1, colFirst = height, colLast = -1;
    for (int i = 0; i < width; ++i)
        if (at(i, y)) rowFirst = std::min(rowFirst, i), rowLast = i;
    for (int i = 0; i < height; ++i)
        if (at(x, i)) colFirst = std::min(colFirst, i), colLast = i;
    return x >= rowFirst && x <= rowLast && y >= colFirst && y <= colLast;
}

}  // namespace handpix::test
