// Folder listing as the original platform's CFileFind gave it, and the rule
// that says which names are JPEG pictures.
//
// Order (addition): the original file system keeps a folder's names sorted by
// their upper-cased characters, so every listing there came out in that order.
// Linux file systems return entries in hash or creation order, which would
// make the grid, the thumbnail list file and the item order differ from one
// machine to the next. ListFolder therefore sorts: each name is decoded from
// UTF-8, every character upper-cased (ASCII, Latin-1, Latin Extended-A, basic
// Greek and Cyrillic, full-width Latin; characters without case, Hangul among
// them, stay as they are), and the code point sequences are compared. A byte
// that does not belong to valid UTF-8 counts as the code point U+DC00 + byte,
// a value no valid name decodes to. Names equal after upper-casing ("A.jpg",
// "a.jpg") follow their raw bytes, so the order is total and the same
// everywhere.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace handpix {

struct FolderEntry {
    std::string name;
    bool file = false;       // a regular file, or a link to one
    std::uint64_t size = 0;  // its length, when it is a file
};

// Addition: the entries of folder, "." and ".." left out, in the order above.
// Only names that wanted accepts (all when it is empty) are kept and looked
// at; links are followed, so a dangling one or one to a folder is no file.
// A folder that cannot be read gives no entries.
std::vector<FolderEntry> ListFolder(const std::string& folder,
                                    const std::function<bool(std::string_view)>& wanted = {});

// Addition: ListFolder without the sizes (all 0), for a caller that asks for
// them later and only where needed: the listing's own type tells a regular
// file, so only links and entries of unknown type are looked at.
std::vector<FolderEntry> ListFolderNames(const std::string& folder,
                                         const std::function<bool(std::string_view)>& wanted = {});

// Addition: negative, zero or positive as a sorts before, with or after b in
// a listing.
int CompareFileNames(std::string_view a, std::string_view b);

// Addition: a name ending in ".jpg", ".jpeg" or ".jpe", in any case.
bool HasJpegExtension(std::string_view name);
// Addition: a name the library takes for a JPEG picture. The original took
// any name holding ".jpg" (in any case) anywhere, so "photo.jpg.bak" is one;
// ".jpeg" and ".jpe" endings count as well.
bool IsJpegName(std::string_view name);

}  // namespace handpix
