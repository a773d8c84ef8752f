// A top-level window that shows one picture on the screen: an SNI or EBA
// file plays on the 230 x 190 display at its own frame delays, looping as its
// header says (an IMG file shows its one picture there); any other picture is
// fitted into the window as CPicture::Draw fits it. Escape closes it.
#pragma once
#include <memory>
#include <string>

#include "handpix/picture/Picture.h"
#include "handpix/platform/screen/Screen.h"
#include "handpix/platform/windows/Wnd.h"
#include "tools/HandsetInfo.h"

namespace handpix::tool {

class PictureWindow : public CWnd {
public:
    explicit PictureWindow(screen::Screen& screen) : m_screen(screen) {}

    // Reads the file; false with the reason.
    bool Open(const std::string& path, std::string& why);
    // Creates the window and shows it zoomed (handset files) or resizable at
    // the picture's size within 1024 x 768 (other pictures).
    bool ShowOnScreen(int zoom);
    bool IsHandset() const { return m_facts.format != HandsetFormat::none; }
    int Frame() const { return m_frame; }

    BOOL PreTranslateMessage(MSG* pMsg) override;

protected:
    const handpix::MessageMap* GetMessageMap() const override;
    void OnPaint();
    LRESULT OnTimer(WPARAM id, LPARAM);

private:
    bool DrawFrame();
    void ScheduleNext();

    screen::Screen& m_screen;
    std::string m_path;
    HandsetFacts m_facts;
    std::unique_ptr<CPicture> m_picture = std::make_unique<CPicture>();
    CBitmap m_display;  // the current frame as the library draws it
    int m_frame = 0;
};

}  // namespace handpix::tool
