// The library's own resources: bitmap 12000 (a blank canvas), bitmap 12002
// (the motion-picture icon background) and cursor 12001 (a pointing hand).
#pragma once
#include "handpix/platform/core/Types.h"

namespace handpix {
constexpr UINT IDB_CANVAS = 12000;
constexpr UINT IDC_HAND = 12001;
constexpr UINT IDB_MOVIE_ICON = 12002;

// Puts the three into the resource table. Safe to call any number of times
// from any thread; the first call does the work.
void RegisterLibraryResources();
}  // namespace handpix
