// Records every message box shown while it lives.
#pragma once
#include <string>
#include <vector>

#include "handpix/platform/core/MessageBox.h"

struct BoxRecord {
    std::string text;
    std::string caption;
    UINT type;
};

class MessageRecorder {
public:
    MessageRecorder() {
        m_previous = handpix::SetMessageBoxHandler([this](const char* text, const char* caption, UINT type) {
            boxes.push_back({text ? text : "", caption ? caption : "", type});
            return IDOK;
        });
    }
    ~MessageRecorder() { handpix::SetMessageBoxHandler(m_previous); }
    std::vector<BoxRecord> boxes;

private:
    handpix::MessageBoxHandler m_previous;
};
