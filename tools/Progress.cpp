#include "tools/Progress.h"

#include <fmt/core.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace handpix::tool {
namespace {

constexpr int kBarWidth = 24;
constexpr auto kRedraw = std::chrono::milliseconds(100);

// "1:05", "12:00:09"; "--:--" before there is a rate to go by.
std::string Duration(double seconds) {
    if (!(seconds >= 0) || seconds > 359999) return "--:--";
    const long s = static_cast<long>(seconds + 0.5);
    return s >= 3600 ? fmt::format("{}:{:02}:{:02}", s / 3600, s / 60 % 60, s % 60) : fmt::format("{}:{:02}", s / 60, s % 60);
}

}  // namespace

ProgressBar::ProgressBar(std::string unit) : m_unit(std::move(unit)), m_terminal(::isatty(STDERR_FILENO) != 0) {}

void ProgressBar::Update(long done, long total, const std::string& note) {
    if (!m_terminal || m_finished) return;
    m_done = done;
    m_total = total;
    m_note = note;
    if (Clock::now() - m_lastDraw >= kRedraw || (total > 0 && done >= total)) Draw();
}

void ProgressBar::Finish() {
    if (!m_terminal || m_finished || !m_drawn) return;
    m_finished = true;
    Draw();
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

void ProgressBar::Print(const std::string& line) {
    const bool redraw = m_terminal && m_drawn && !m_finished;
    fmt::print(stderr, "{}{}\n", redraw ? "\r\x1b[K" : "", line);
    if (redraw) Draw();
}

void ProgressBar::Draw() {
    m_lastDraw = Clock::now();
    const double elapsed = std::chrono::duration<double>(m_lastDraw - m_start).count();
    const double rate = elapsed > 0 ? static_cast<double>(m_done) / elapsed : 0;
    const long left = m_total > m_done ? m_total - m_done : 0;
    const int filled = m_total > 0 ? static_cast<int>(std::min(m_done, m_total) * kBarWidth / m_total) : 0;
    // Erasing to the end of the line clears what a longer drawing left.
    fmt::print(stderr, "\r[{:#<{}}{:<{}}] {}/{} {}, {:.1f}/s, {} left{}{}\x1b[K", "", filled, "", kBarWidth - filled,
               m_done, m_total, m_unit, rate, rate > 0 ? Duration(static_cast<double>(left) / rate) : Duration(-1),
               m_note.empty() ? "" : ", ", m_note);
    std::fflush(stderr);
    m_drawn = true;
}

}  // namespace handpix::tool
