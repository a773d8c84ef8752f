// Addition: the decoded thumbnails of every list, shared. Items keep only the
// name of their thumbnail file; a tile that is painted takes its picture from
// here, read and decoded on a miss. The cache keeps the pictures drawn last,
// within a byte budget, so scrolling back over the screen just left costs no
// decoding while a list of any length holds only what is near the view.
#pragma once
#include <cstddef>

#include "handpix/picture/Picture.h"
#include "handpix/platform/core/String.h"

namespace handpix {

// Default budget: a few screens of 100 x 75 thumbnails, each costing its
// pixels and the rendering the picture keeps of its last size.
inline constexpr std::size_t kDecodedThumbnailBytes = 16u << 20;

// Addition: loads the picture file `path` into `picture` (its pixels shared
// with the cache, its size as CPicture::SetPicture computes it). A cached
// picture is used while the file is the one it was read from (same inode,
// size and times); a file that is missing or does not decode leaves
// `picture` empty and returns false. Any thread.
bool LoadDecodedThumbnail(const CString& path, CPicture& picture);

// Addition: what the cache holds now, and its budget (changed for tests and
// hosts with other screens; a smaller budget evicts at once).
struct DecodedThumbnailUsage {
    std::size_t pictures = 0;  // entries, failed files included
    std::size_t bytes = 0;     // their estimated memory
    std::size_t decodes = 0;   // files read and decoded since the start
};
DecodedThumbnailUsage GetDecodedThumbnailUsage();
void SetDecodedThumbnailBudget(std::size_t bytes);
// Drops every cached picture (pictures lent to items stay theirs).
void ClearDecodedThumbnails();

}  // namespace handpix
