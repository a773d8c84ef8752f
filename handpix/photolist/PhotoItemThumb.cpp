// Still-picture thumbnails, apart from the rest of the items so that a
// program that never makes thumbnails does not pull in resizing.
#include <cstdint>

#include "handpix/photolist/PhotoItem.h"
#include "handpix/platform/core/File.h"

void CPictureItem::MakeThumbNail(CPicture* pPicture, CString& strCacheDir) {
    if (handpix::LastSeparator(m_strPath) >= 0) m_strThumb = strCacheDir + "/" + m_strName;
    // Linux has no short names; the size is the low 32 bits of the file's own length.
    long long length = handpix::FileSizeOf(m_strPath);
    int size = length < 0 ? 0 : static_cast<int>(static_cast<std::uint32_t>(length));
    // Fix: the working picture is shared by every item of a list; a source
    // that does not load must not leave the size of the one made before it.
    pPicture->m_nWidth = 0;
    pPicture->m_nHeight = 0;
    pPicture->ResizingImage(m_strPath, m_strThumb);
    SetImageInfo(pPicture, size);
    SetPictureFile(m_strThumb);
}
