// The shell's file operation, delete only: the files are removed for good
// (there is no recycle bin), and a file that cannot be removed is reported
// once through the message-box handler while the rest are still removed.
#pragma once
#include "handpix/platform/windows/WinDefs.h"

constexpr UINT FO_MOVE = 0x0001;
constexpr UINT FO_COPY = 0x0002;
constexpr UINT FO_DELETE = 0x0003;
constexpr UINT FO_RENAME = 0x0004;
constexpr WORD FOF_SILENT = 0x0004;
constexpr WORD FOF_NOCONFIRMATION = 0x0010;
constexpr WORD FOF_ALLOWUNDO = 0x0040;
constexpr WORD FOF_NOCONFIRMMKDIR = 0x0200;
constexpr WORD FOF_NOERRORUI = 0x0400;

struct SHFILEOPSTRUCTA {
    HWND hwnd;
    UINT wFunc;
    LPCSTR pFrom;  // names, each ended by a zero character, and one more zero after the last
    LPCSTR pTo;
    WORD fFlags;
    BOOL fAnyOperationsAborted;
    void* hNameMappings;
    LPCSTR lpszProgressTitle;
};

// 0 when every file was removed; otherwise the error of the first failure.
// Operations other than FO_DELETE are not supported (1).
int SHFileOperationA(SHFILEOPSTRUCTA* op);
