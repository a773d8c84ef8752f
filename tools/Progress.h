// A progress line for long verbs: count and total, rate, time left. Drawn on
// standard error only when it is a terminal, so logs and pipes get nothing
// extra; redrawn at most ten times a second.
#pragma once
#include <chrono>
#include <string>

namespace handpix::tool {

class ProgressBar {
public:
    // unit names what is counted ("pictures").
    explicit ProgressBar(std::string unit);
    ~ProgressBar() { Finish(); }
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    // note follows the figures ("3 made, 9 reused"). Skipped when the last
    // drawing is less than 0.1 s old, unless the count has reached the total.
    void Update(long done, long total, const std::string& note = "");
    // Draws the last state and ends the line, when anything was drawn;
    // later calls draw nothing.
    void Finish();
    // A line of its own on standard error (a failure, say): the bar is
    // cleared first and redrawn after it.
    void Print(const std::string& line);

private:
    void Draw();

    using Clock = std::chrono::steady_clock;
    std::string m_unit, m_note;
    bool m_terminal, m_drawn = false, m_finished = false;
    long m_done = 0, m_total = 0;
    Clock::time_point m_start = Clock::now(), m_lastDraw{};
};

}  // namespace handpix::tool
