// Regions as lists of disjoint rectangles: clipping regions and update regions.
#pragma once
#include <vector>

#include "handpix/platform/core/Geometry.h"

namespace handpix {
// Appends the parts of a that lie outside b (at most four rectangles); nothing for an empty a.
void SubtractRect(const CRect& a, const CRect& b, std::vector<CRect>& out);
// Adds the parts of r that the disjoint list does not cover yet, so it stays disjoint.
void AddDisjoint(std::vector<CRect>& region, const CRect& r);
}  // namespace handpix
