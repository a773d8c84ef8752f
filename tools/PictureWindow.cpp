#include "tools/PictureWindow.h"

#include <algorithm>
#include <filesystem>

#include "tools/HandsetDisplay.h"

namespace handpix::tool {
namespace {
constexpr UINT kFrameTimer = 1;
constexpr int kMaxWidth = 1024, kMaxHeight = 768, kMinWidth = 200, kMinHeight = 150;
}  // namespace

const handpix::MessageMap* PictureWindow::GetMessageMap() const {
    namespace msg = handpix::msg;
    static constexpr handpix::MessageEntry entries[] = {
        msg::Paint<&PictureWindow::OnPaint>(),
        msg::Message<WM_TIMER, &PictureWindow::OnTimer>(),
    };
    static constexpr handpix::MessageMap map{&CWnd::MessageMapOf, entries};
    return &map;
}

bool PictureWindow::Open(const std::string& path, std::string& why) {
    m_path = path;
    if (DetectHandsetFile(path) != HandsetFormat::none) {
        if (!ReadHandsetFacts(path, m_facts, why)) return false;
        m_frame = 0;
        if (!DrawFrame()) {
            why = "the file could not be drawn";
            return false;
        }
        return true;
    }
    if (m_picture->SetPicture(path.c_str()) == 0) {
        why = "not a picture that loads (JPEG, BMP or GIF)";
        return false;
    }
    return true;
}

bool PictureWindow::DrawFrame() {
    return DrawHandsetDisplay(*m_picture, CString(m_path.c_str()), m_facts.format == HandsetFormat::img, m_frame,
                              m_display);
}

bool PictureWindow::ShowOnScreen(int zoom) {
    const std::string title = std::filesystem::path(m_path).filename().string();
    CSize size(kDisplayWidth, kDisplayHeight);
    if (!IsHandset()) {
        const CSize picture = m_picture->GetImageSize();
        size = CSize(std::clamp<int>(picture.cx, kMinWidth, kMaxWidth), std::clamp<int>(picture.cy, kMinHeight, kMaxHeight));
    }
    if (!CreateEx(0, nullptr, title.c_str(), WS_OVERLAPPED, CRect(CPoint(0, 0), size), nullptr, 0)) return false;
    SetFocus();
    if (!m_screen.Show(this, IsHandset() ? zoom : 1, !IsHandset())) return false;
    if (IsHandset()) ScheduleNext();
    return true;
}

void PictureWindow::ScheduleNext() {
    const bool last = m_frame + 1 >= m_facts.frames;
    if (m_facts.frames <= 1 || (last && !LoopsForever(m_facts))) {
        m_screen.KillTimer(this, kFrameTimer);
        return;
    }
    m_screen.SetTimer(this, kFrameTimer, static_cast<int>(FrameDelayTenths(m_facts, m_frame)) * 100);
}

LRESULT PictureWindow::OnTimer(WPARAM id, LPARAM) {
    if (id != kFrameTimer) return 0;
    m_frame = (m_frame + 1) % std::max(m_facts.frames, 1);
    DrawFrame();
    Invalidate(FALSE);
    ScheduleNext();
    return 0;
}

void PictureWindow::OnPaint() {
    CPaintDC dc(this);
    CRect client;
    GetClientRect(&client);
    if (!IsHandset()) {
        m_picture->Draw(&dc, client);
        return;
    }
    CDC mem;
    mem.CreateCompatibleDC(&dc);
    CBitmap* old = mem.SelectObject(&m_display);
    dc.BitBlt(0, 0, kDisplayWidth, kDisplayHeight, &mem, 0, 0, SRCCOPY);
    mem.SelectObject(old);
}

BOOL PictureWindow::PreTranslateMessage(MSG* pMsg) {
    if (pMsg->message == WM_KEYDOWN && pMsg->wParam == VK_ESCAPE) {
        PostMessage(WM_CLOSE);
        return TRUE;
    }
    return CWnd::PreTranslateMessage(pMsg);
}

}  // namespace handpix::tool
