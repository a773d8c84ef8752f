#include "handpix/platform/windows/Shell.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "handpix/platform/core/MessageBox.h"
#include "handpix/platform/core/String.h"

namespace {
// Removes one name: a file, or an empty folder. 0 or the errno value.
int RemoveOne(const char* path) {
    struct stat st;
    if (::lstat(path, &st) != 0) return errno;
    int rc = S_ISDIR(st.st_mode) ? ::rmdir(path) : ::unlink(path);
    return rc == 0 ? 0 : errno;
}
}  // namespace

int SHFileOperationA(SHFILEOPSTRUCTA* op) {
    if (!op || op->wFunc != FO_DELETE || !op->pFrom) return 1;
    int first = 0;
    op->fAnyOperationsAborted = FALSE;
    for (const char* p = op->pFrom; *p; p += std::strlen(p) + 1) {
        int err = RemoveOne(p);
        if (err == 0) continue;
        if (!first) first = err;
        if (!(op->fFlags & FOF_NOERRORUI)) {
            CString text;
            text.Format("Cannot delete %s: %s", p, std::strerror(err));
            MessageBox(op->hwnd, text, "Error Deleting File", MB_OK | MB_ICONERROR);
        }
    }
    return first;
}
