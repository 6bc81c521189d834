#pragma once
// What zelflash shows while it works: the library's messages at the chosen
// verbosity, and progress as a bar redrawn in place on a terminal or as
// plain lines (one per tenth of the work and per component) otherwise.
// Errors go to standard error, everything else to standard output. Below
// -v, the library's transfer errors of a board restarting after a loader
// stage are left out: the loader's waiting message says what happened.
// With --json standard output carries only JSON objects, one a line (start,
// component begin and end, progress at most ten times a second, result),
// and every text goes to standard error.

#include "flash_json.h"
#include "flash_options.h"

#include <chrono>
#include <cstdio>
#include <string>

struct upg_progress;

class FlashOutput
{
public:
    // terminal: standard output is a terminal, so the bar may be redrawn.
    FlashOutput(Verbosity verbosity, bool terminal, bool json);
    // Removes the library hooks if they still point here.
    ~FlashOutput();
    FlashOutput(const FlashOutput &) = delete;
    FlashOutput &operator=(const FlashOutput &) = delete;

    // Points the library's log and progress hooks at this object.
    void install();
    // One line of the program's own, "zelflash: " first on standard error.
    void error(const std::string &text);
    // One line of the program's own on standard output (shown unless quiet).
    void info(const std::string &text);
    // Ends a bar line so later output starts on a line of its own.
    void finish();

    bool json() const { return m_json; }
    // With --json: writes the object as one line, with "event" and "time"
    // (seconds since the start) first.
    void event(const char *name, const JsonObject &fields);
    // Where the last procedure stood: the FWC it was in and its bytes sent,
    // "" before the first FWC.
    std::string position() const;

    void libraryMessage(int level, const char *text);
    void progress(const upg_progress &p);

private:
    void write(FILE *stream, const std::string &text);
    void flushHeldErrors();
    std::string progressText(const upg_progress &p, bool bar);

    void jsonProgress(const upg_progress &p);

    Verbosity m_verbosity;
    bool m_terminal;
    bool m_json;
    std::chrono::steady_clock::time_point m_created;
    std::chrono::steady_clock::time_point m_lastJsonProgress;
    std::string m_fwcName;
    uint32_t m_fwcSent = 0;
    uint32_t m_fwcSize = 0;
    bool m_barShown = false;
    std::string m_heldErrors;
    int m_lastTenth = -1;
    bool m_clockRunning = false;
    std::chrono::steady_clock::time_point m_start;
};
