// handpix browse DIR: the folder's thumbnail list in a real window. The list
// is built through the cache on its worker as `grid` builds it, and the
// list's own handlers do the work: wheel and scroll bar, click, Ctrl-click,
// drag, Ctrl+A, Page Up/Down, Home, End. Delete asks first; Enter or a double
// click opens the picture in a second window. On exit the selected paths are
// printed one per line, so a script can pick files with it.
#include <fmt/core.h>

#include <memory>
#include <string>

#include "handpix/photolist/PhotoListCtrl.h"
#include "handpix/platform/core/File.h"
#include "handpix/platform/core/MessageBox.h"
#include "handpix/platform/screen/Screen.h"
#include "handpix/platform/windows/Desktop.h"
#include "tools/FolderList.h"
#include "tools/PictureWindow.h"
#include "tools/Progress.h"
#include "tools/Verbs.h"

namespace handpix::tool {
namespace {

constexpr UINT WM_BROWSE_PROGRESS = WM_APP + 1;  // posted by the worker's progress report
constexpr UINT WM_BROWSE_OPEN = WM_APP + 2;      // posted by the list on a double click

struct BrowseOptions {
    std::string dir;
    std::string cache;
    std::string size = "800x600";
    bool mpeg = false;
};

// 1204 -> "1,204".
std::string Grouped(int n) {
    std::string digits = std::to_string(n), out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

// The list with double clicks: the list itself does not look at them.
class BrowseList : public CPhotoListCtrl {
public:
    using CPhotoListCtrl::CPhotoListCtrl;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == WM_LBUTTONDBLCLK)
            if (CWnd* parent = GetParent()) parent->PostMessage(WM_BROWSE_OPEN);
        return CPhotoListCtrl::WindowProc(message, wParam, lParam);
    }
};

class BrowseHost : public CWnd {
public:
    BrowseHost(screen::Screen& screen, BrowseList& list, const BuildState& state, std::string dir)
        : m_screen(screen), m_list(list), m_state(state), m_dir(std::move(dir)) {}

    std::string Title() const {
        return fmt::format("{} — {} / {}", m_dir, Grouped(m_state.done), Grouped(m_state.total));
    }

    BOOL PreTranslateMessage(MSG* pMsg) override {
        if (pMsg->message == WM_KEYDOWN && pMsg->wParam == VK_RETURN) OpenCurrent();
        return CWnd::PreTranslateMessage(pMsg);
    }

protected:
    const handpix::MessageMap* GetMessageMap() const override {
        namespace msg = handpix::msg;
        static constexpr handpix::MessageEntry entries[] = {
            msg::Size<&BrowseHost::OnSize>(),
            msg::Destroy<&BrowseHost::OnDestroy>(),
            msg::Message<WM_PHOTOLIST_DELETE, &BrowseHost::OnDelete>(),
            msg::Message<WM_BROWSE_PROGRESS, &BrowseHost::OnProgress>(),
            msg::Message<WM_BROWSE_OPEN, &BrowseHost::OnOpen>(),
        };
        static constexpr handpix::MessageMap map{&CWnd::MessageMapOf, entries};
        return &map;
    }

    void OnSize(UINT, int cx, int cy) {
        if (m_list.m_hWnd) m_list.MoveWindow(0, 0, cx, cy);
    }
    void OnDestroy() { m_screen.Quit(); }
    LRESULT OnProgress(WPARAM, LPARAM) {
        SetWindowText(Title().c_str());
        m_bar.Update(m_state.done, m_state.total);
        if (m_state.finished) m_bar.Finish();
        return 0;
    }
    LRESULT OnOpen(WPARAM, LPARAM) {
        OpenCurrent();
        return 0;
    }

    // Sent by the list on the Delete key: nothing goes before the user says yes.
    LRESULT OnDelete(WPARAM, LPARAM) {
        int count = 0;
        {
            std::lock_guard<std::recursive_mutex> lock(m_list.m_lock);
            count = m_list.GetSelectedList()->GetCount();
        }
        if (count == 0) return 0;
        const std::string text = count == 1 ? std::string("Delete 1 picture? It cannot be recovered.")
                                            : fmt::format("Delete {} pictures? They cannot be recovered.", count);
        if (::MessageBox(m_hWnd, text.c_str(), "Delete pictures", MB_YESNO | MB_ICONWARNING) == IDYES)
            m_list.DeleteProc();
        return 0;
    }

private:
    // The picture last pressed, else the first selected one.
    void OpenCurrent() {
        std::string path;
        {
            std::lock_guard<std::recursive_mutex> lock(m_list.m_lock);
            CPhotoItem* item = m_list.m_pCurItem;
            CObList* selected = m_list.GetSelectedList();
            if (!item && !selected->IsEmpty()) item = static_cast<CPhotoItem*>(selected->GetHead());
            if (item) path = item->m_strPath.c_str();
        }
        if (path.empty()) return;
        auto viewer = std::make_unique<PictureWindow>(m_screen);
        std::string why;
        if (!viewer->Open(path, why) || !viewer->ShowOnScreen(1)) {
            fmt::print(stderr, "browse: {}: {}\n", path, why.empty() ? "cannot show it" : why);
            return;
        }
        m_viewer = std::move(viewer);  // the one before goes with its window
    }

    screen::Screen& m_screen;
    BrowseList& m_list;
    const BuildState& m_state;
    std::string m_dir;
    std::unique_ptr<PictureWindow> m_viewer;
    ProgressBar m_bar{"pictures"};  // the build's, on the terminal the browser was started from
};

int RunBrowse(const BrowseOptions& o) {
    int width = 0, height = 0;
    if (!ParseWindowSize(o.size, width, height)) {
        fmt::print(stderr, "browse: --size wants WxH, each from 150 to 8000\n");
        return 2;
    }
    if (!IsDirectory(o.dir.c_str())) {
        fmt::print(stderr, "browse: {}: not a folder\n", o.dir);
        return 2;
    }
    screen::Screen screen;
    std::string why;
    if (!screen.Start(&why)) {
        fmt::print(stderr, "browse: cannot open a window: {}\n", why);
        return 2;
    }
    MessageBoxHandler before =
        SetMessageBoxHandler([&screen](const char* text, const char* caption, UINT type) {
            return screen.Ask(text, caption, type);
        });
    auto state = std::make_shared<BuildState>();
    auto list = std::make_unique<BrowseList>(o.mpeg ? IMG_MPEG : IMG_JPEG);
    BrowseHost host(screen, *list, *state, o.dir);
    bool ok = host.CreateEx(0, nullptr, host.Title().c_str(), WS_OVERLAPPED, CRect(0, 0, width, height), nullptr, 0);
    const HWND notify = host.m_hWnd;
    ok = ok && OpenFolderList(host, *list, "", width, height, o.dir, o.cache.empty() ? DefaultCacheRoot() : o.cache,
                              state, [notify] { ::PostMessage(notify, WM_BROWSE_PROGRESS, 0, 0); });
    if (ok) {
        list->SetFocus();
        ok = screen.Show(&host);
    }
    if (ok) screen.Run();
    {
        std::lock_guard<std::recursive_mutex> lock(list->m_lock);
        CObList* selected = list->GetSelectedList();
        for (POSITION pos = selected->GetHeadPosition(); pos;)
            fmt::print("{}\n", static_cast<CPhotoItem*>(selected->GetNext(pos))->m_strPath.c_str());
    }
    std::fflush(stdout);
    list.reset();  // stops and joins the worker while the host still stands
    SetMessageBoxHandler(before);
    if (!ok) fmt::print(stderr, "browse: cannot create the window\n");
    return ok ? 0 : 1;
}

void Register(CLI::App& app) {
    auto opts = std::make_shared<BrowseOptions>();
    CLI::App* cmd = app.add_subcommand("browse", "Open a folder's thumbnail list in a window; prints the selection on exit");
    cmd->add_option("dir", opts->dir, "Folder of pictures")->required();
    cmd->add_option("--cache", opts->cache, "Cache root (default $XDG_CACHE_HOME/handpix, else ~/.cache/handpix)");
    cmd->add_flag("--mpeg", opts->mpeg, "List motion pictures (.mpeg) instead of still pictures");
    cmd->add_option("--size", opts->size, "Window size WxH")->default_val("800x600");
    cmd->callback([opts] { SetExitCode(RunBrowse(*opts)); });
}

VerbRegistrar registrar(&Register);
}  // namespace
}  // namespace handpix::tool
