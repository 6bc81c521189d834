#pragma once
// Windows delivery of one worker report: the top-level window titled exactly
// `title` receives WM_COPYDATA with the kind in dwData and the payload bytes,
// and the call returns once the window has handled it, or once answerWaitMs
// have passed without an answer (kNoAnswerTimeout: until the window has
// handled it or is gone). Plain C++ below any Qt type.

#include <cstddef>
#include <cstdint>

enum class WindowDelivery {
    Handled,     // the window has handled the report
    NoWindow,    // no window has the title: the report is dropped
    Unanswered,  // the window did not answer in time
};

constexpr unsigned kNoAnswerTimeout = 0xFFFFFFFFu;

WindowDelivery deliverReportToWindow(const wchar_t *title, uint32_t kind, const char *payload,
                                     size_t size, unsigned answerWaitMs);
