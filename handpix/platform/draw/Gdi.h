// The GDI constants and handle types of the drawing layer.
#pragma once
#include "handpix/platform/core/Types.h"

class CDC;
// A device-context handle is the DC object itself: IPicture::Render and the
// like receive pDC->m_hDC and draw through it.
using HDC = CDC*;
using HINSTANCE = void*;
using HMODULE = void*;
using HRSRC = void*;
using HGLOBAL = void*;

constexpr DWORD SRCCOPY = 0x00CC0020;

// Background modes.
constexpr int TRANSPARENT = 1;
constexpr int OPAQUE = 2;

// DrawText formats.
constexpr UINT DT_TOP = 0x0000;
constexpr UINT DT_LEFT = 0x0000;
constexpr UINT DT_CENTER = 0x0001;
constexpr UINT DT_RIGHT = 0x0002;
constexpr UINT DT_VCENTER = 0x0004;
constexpr UINT DT_BOTTOM = 0x0008;
constexpr UINT DT_WORDBREAK = 0x0010;
constexpr UINT DT_SINGLELINE = 0x0020;
constexpr UINT DT_NOCLIP = 0x0100;
constexpr UINT DT_CALCRECT = 0x0400;
constexpr UINT DT_NOPREFIX = 0x0800;
constexpr UINT DT_END_ELLIPSIS = 0x8000;

// GetDeviceCaps indexes.
constexpr int HORZRES = 8;
constexpr int VERTRES = 10;
constexpr int BITSPIXEL = 12;
constexpr int LOGPIXELSX = 88;
constexpr int LOGPIXELSY = 90;

// Font weights, character sets, precisions, qualities, pitch and family.
constexpr int FW_DONTCARE = 0;
constexpr int FW_THIN = 100;
constexpr int FW_LIGHT = 300;
constexpr int FW_NORMAL = 400;
constexpr int FW_BOLD = 700;
constexpr BYTE ANSI_CHARSET = 0;
constexpr BYTE DEFAULT_CHARSET = 1;
constexpr BYTE HANGUL_CHARSET = 129;
constexpr BYTE OUT_DEFAULT_PRECIS = 0;
constexpr BYTE CLIP_DEFAULT_PRECIS = 0;
constexpr BYTE DEFAULT_QUALITY = 0;
constexpr BYTE NONANTIALIASED_QUALITY = 3;
constexpr BYTE ANTIALIASED_QUALITY = 4;
constexpr BYTE DEFAULT_PITCH = 0;
constexpr BYTE FF_SWISS = 0x20;
constexpr BYTE FF_ROMAN = 0x10;

// Resource types.
#define MAKEINTRESOURCE(id) (reinterpret_cast<const char*>(static_cast<std::uintptr_t>(static_cast<WORD>(id))))
#define IS_INTRESOURCE(p) ((reinterpret_cast<std::uintptr_t>(p) >> 16) == 0)
inline const char* const RT_CURSOR = MAKEINTRESOURCE(1);
inline const char* const RT_BITMAP = MAKEINTRESOURCE(2);

// The screen: 96 dpi, 32 bits.
constexpr int kScreenDpi = 96;
constexpr int kScreenWidth = 1024;
constexpr int kScreenHeight = 768;
