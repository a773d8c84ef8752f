#include "handpix/platform/windows/Input.h"

#include <array>
#include <atomic>

#include "handpix/platform/windows/Desktop.h"
#include "handpix/platform/windows/DesktopState.h"

using handpix::Desktop;

namespace {
using KeyTable = std::array<std::atomic<bool>, 256>;
// The live state of keys and buttons, changed when input is injected.
KeyTable& Keys() {
    static KeyTable keys{};
    return keys;
}
// The state as of the input message being handled, changed when the pump
// delivers it (one desktop thread handles input here, so one table serves).
KeyTable& MessageKeys() {
    static KeyTable keys{};
    return keys;
}

bool Get(KeyTable& t, int vk) { return vk >= 0 && vk < 256 && t[static_cast<std::size_t>(vk)].load(); }
void Put(KeyTable& t, int vk, bool down) {
    if (vk >= 0 && vk < 256) t[static_cast<std::size_t>(vk)].store(down);
}
bool KeyDown(int vk) { return Get(Keys(), vk); }

// The button a mouse message presses (true) or releases (false), if any.
bool ButtonOf(UINT message, int* vk, bool* down) {
    switch (message) {
    case WM_LBUTTONDOWN: *vk = VK_LBUTTON, *down = true; return true;
    case WM_LBUTTONUP: *vk = VK_LBUTTON, *down = false; return true;
    case WM_RBUTTONDOWN: *vk = VK_RBUTTON, *down = true; return true;
    case WM_RBUTTONUP: *vk = VK_RBUTTON, *down = false; return true;
    default: return false;
    }
}

const handpix::Cursor kArrow{32512, nullptr};
const handpix::Cursor kHand{32649, nullptr};

UINT MouseKeyFlags() {
    UINT f = 0;
    if (KeyDown(VK_LBUTTON)) f |= MK_LBUTTON;
    if (KeyDown(VK_RBUTTON)) f |= MK_RBUTTON;
    if (KeyDown(VK_MBUTTON)) f |= MK_MBUTTON;
    if (KeyDown(VK_SHIFT)) f |= MK_SHIFT;
    if (KeyDown(VK_CONTROL)) f |= MK_CONTROL;
    return f;
}
}  // namespace

HCURSOR LoadCursor(HINSTANCE hInstance, LPCTSTR name) {
    if (!IS_INTRESOURCE(name)) return nullptr;
    auto id = static_cast<UINT>(reinterpret_cast<std::uintptr_t>(name));
    if (!hInstance) return id == 32512 ? &kArrow : id == 32649 ? &kHand : nullptr;
    auto image = handpix::FindResourceImage(RT_CURSOR, id);
    if (!image) return nullptr;
    Desktop& d = Desktop::Get();
    std::lock_guard<std::mutex> lock(d.mu);
    auto& slot = d.cursors[id];
    if (!slot || slot->image != image) slot = std::make_unique<handpix::Cursor>(handpix::Cursor{id, image});
    return slot.get();
}

HCURSOR SetCursor(HCURSOR cursor) {
    Desktop& d = Desktop::Get();
    std::lock_guard<std::mutex> lock(d.mu);
    HCURSOR old = d.cursor;
    d.cursor = cursor;
    return old;
}

HCURSOR GetCursor() {
    Desktop& d = Desktop::Get();
    std::lock_guard<std::mutex> lock(d.mu);
    return d.cursor;
}

BOOL GetCursorPos(LPPOINT p) {
    if (!p) return FALSE;
    Desktop& d = Desktop::Get();
    std::lock_guard<std::mutex> lock(d.mu);
    *p = d.cursorPos;
    return TRUE;
}

BOOL SetCursorPos(int x, int y) {
    Desktop& d = Desktop::Get();
    std::lock_guard<std::mutex> lock(d.mu);
    d.cursorPos = CPoint(x, y);
    return TRUE;
}

SHORT GetAsyncKeyState(int vk) { return KeyDown(vk) ? static_cast<SHORT>(0x8000) : 0; }
SHORT GetKeyState(int vk) { return Get(MessageKeys(), vk) ? static_cast<SHORT>(0x8000) : 0; }

namespace handpix {

void SetKeyState(int vk, bool down) {
    Put(Keys(), vk, down);
    Put(MessageKeys(), vk, down);
}

void NoteDelivered(const MSG& m) {
    int vk = 0;
    bool down = false;
    if (m.message == WM_KEYDOWN || m.message == WM_KEYUP) Put(MessageKeys(), static_cast<int>(m.wParam), m.message == WM_KEYDOWN);
    else if (ButtonOf(m.message, &vk, &down)) Put(MessageKeys(), vk, down);
}

void ResetInput() {
    for (auto& k : Keys()) k.store(false);
    for (auto& k : MessageKeys()) k.store(false);
    Desktop& d = Desktop::Get();
    std::lock_guard<std::mutex> lock(d.mu);
    d.cursorPos = CPoint();
    d.cursor = &kArrow;
}

void PostMouse(CWnd* target, UINT message, CPoint client) {
    int vk = 0;
    bool down = false;
    if (ButtonOf(message, &vk, &down)) Put(Keys(), vk, down);
    CPoint screen = client;
    target->ClientToScreen(&screen);
    SetCursorPos(screen.x, screen.y);
    target->PostMessage(message, MouseKeyFlags(), MAKELPARAM(client.x, client.y));
}

void PostWheel(CWnd* target, int delta, CPoint client) {
    CPoint screen = client;
    target->ClientToScreen(&screen);
    SetCursorPos(screen.x, screen.y);
    target->PostMessage(WM_MOUSEWHEEL, MAKEWPARAM(static_cast<int>(MouseKeyFlags()), delta),
                        MAKELPARAM(screen.x, screen.y));
}

void PostKey(CWnd* target, int vk, bool down) {
    Put(Keys(), vk, down);
    // Bit 30: the key was down before; bit 31: it is being released.
    LPARAM bits = down ? 1 : static_cast<LPARAM>(0xC0000001u);
    target->PostMessage(down ? WM_KEYDOWN : WM_KEYUP, static_cast<WPARAM>(vk), bits);
}

}  // namespace handpix
