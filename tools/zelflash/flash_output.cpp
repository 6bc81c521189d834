#include "flash_output.h"

#include "image_upgrade.h"
#include "zelupg_log.h"

#include <cstring>

namespace
{

constexpr int kBarWidth = 24;
// The library's message when a loader stage's closing response fails because
// the board restarts into that stage.
constexpr char kLoaderRestart[] = "Waiting for uboot bringup ...";
constexpr double kMiB = 1024.0 * 1024.0;
// Speed and time left are guessed only after this much time.
constexpr double kFirstEstimateS = 0.2;
// JSON progress objects come at most ten times a second.
constexpr auto kJsonProgressPeriod = std::chrono::milliseconds(100);

FlashOutput *g_output = nullptr;

int logHook(int level, const char *text)
{
    if (g_output)
        g_output->libraryMessage(level, text);
    return 0;
}

void progressHook(const upg_progress *p, void *user)
{
    static_cast<FlashOutput *>(user)->progress(*p);
}

std::string format(const char *fmt, double a, double b)
{
    char buf[64];
    std::snprintf(buf, sizeof(buf), fmt, a, b);
    return buf;
}

std::string minutes(double seconds)
{
    const long s = long(seconds + 0.5);
    char buf[32];
    std::snprintf(buf, sizeof(buf), "%ld:%02ld", s / 60, s % 60);
    return buf;
}

} // namespace

FlashOutput::FlashOutput(Verbosity verbosity, bool terminal, bool json)
    : m_verbosity(verbosity), m_terminal(terminal && !json), m_json(json),
      m_created(std::chrono::steady_clock::now())
{
}

FlashOutput::~FlashOutput()
{
    finish();
    if (g_output == this) {
        zelupg_set_log_hook(nullptr);
        upg_set_progress_hook(nullptr, nullptr);
        g_output = nullptr;
    }
}

void FlashOutput::install()
{
    g_output = this;
    zelupg_set_log_hook(logHook);
    upg_set_progress_hook(progressHook, this);
}

void FlashOutput::error(const std::string &text)
{
    write(stderr, "zelflash: " + text + "\n");
}

void FlashOutput::info(const std::string &text)
{
    if (m_verbosity != Verbosity::Quiet)
        write(m_json ? stderr : stdout, text + "\n");
}

void FlashOutput::event(const char *name, const JsonObject &fields)
{
    if (!m_json)
        return;
    const double t =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - m_created).count();
    std::string line = JsonObject().add("event", name).add("time", t).text();
    const std::string rest = fields.text();
    if (rest.size() > 2)
        line = line.substr(0, line.size() - 1) + "," + rest.substr(1);
    write(stdout, line + "\n");
}

std::string FlashOutput::position() const
{
    if (m_fwcName.empty())
        return "";
    return m_fwcName + " at byte " + std::to_string(m_fwcSent) + " of " +
           std::to_string(m_fwcSize);
}

void FlashOutput::finish()
{
    flushHeldErrors();
    if (m_barShown) {
        std::fputs("\n", stdout);
        std::fflush(stdout);
    }
    m_barShown = false;
}

void FlashOutput::libraryMessage(int level, const char *text)
{
    const bool verbose = m_verbosity == Verbosity::Verbose;
    const char *message = verbose ? text : zelupg_log_message(text);
    if (level == ZELUPG_LOG_INFO && !verbose && std::strcmp(message, kLoaderRestart) == 0)
        m_heldErrors.clear();
    FILE *stream = m_json ? stderr : stdout;
    if (level == ZELUPG_LOG_DEBUG) {
        if (verbose)
            write(stream, std::string(message) + "\n");
    } else if (level == ZELUPG_LOG_PLAIN || level == ZELUPG_LOG_INFO) {
        if (m_verbosity != Verbosity::Quiet)
            write(stream, std::string(message) + "\n");
    } else if (verbose) {
        write(stderr, std::string("zelflash: ") + message + "\n");
    } else {
        m_heldErrors += std::string("zelflash: ") + message + "\n";
    }
}

void FlashOutput::progress(const upg_progress &p)
{
    flushHeldErrors();
    m_fwcName = p.fwc_name ? p.fwc_name : "";
    m_fwcSent = p.fwc_sent;
    m_fwcSize = p.fwc_size;
    if (m_json) {
        jsonProgress(p);
        return;
    }
    if (m_verbosity == Verbosity::Quiet || p.event == UPG_PROGRESS_FWC_END)
        return;
    if (!m_clockRunning) {
        m_start = std::chrono::steady_clock::now();
        m_clockRunning = true;
    }
    if (m_terminal) {
        std::fputs(("\r" + progressText(p, true) + "\033[K").c_str(), stdout);
        std::fflush(stdout);
        m_barShown = true;
        return;
    }
    const int tenth = p.total_size ? int(p.total_sent * 10 / p.total_size) : 10;
    if (p.fwc_sent != 0 && tenth == m_lastTenth)
        return;
    m_lastTenth = tenth;
    write(stdout, progressText(p, false) + "\n");
}

void FlashOutput::jsonProgress(const upg_progress &p)
{
    const char *name = p.fwc_name ? p.fwc_name : "";
    if (p.event == UPG_PROGRESS_FWC_BEGIN) {
        event("component_begin", JsonObject()
                                     .add("index", p.fwc_index)
                                     .add("name", name)
                                     .add("size", p.fwc_size)
                                     .add("crc", crcText(p.fwc_crc)));
        return;
    }
    if (p.event == UPG_PROGRESS_FWC_END) {
        JsonObject o;
        o.add("index", p.fwc_index).add("name", name).add("size", p.fwc_size);
        o.add("crc", crcText(p.fwc_crc));
        if (p.board_crc_known)
            o.add("board_crc", crcText(p.board_crc));
        else
            o.addNull("board_crc"); // a loader stage the board restarted into
        event("component_end", o);
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now - m_lastJsonProgress < kJsonProgressPeriod)
        return;
    m_lastJsonProgress = now;
    event("progress", JsonObject()
                          .add("index", p.fwc_index)
                          .add("name", name)
                          .add("sent", p.fwc_sent)
                          .add("size", p.fwc_size)
                          .add("total_sent", p.total_sent)
                          .add("total_size", p.total_size));
}

void FlashOutput::flushHeldErrors()
{
    if (m_heldErrors.empty())
        return;
    const std::string held = std::move(m_heldErrors);
    m_heldErrors.clear();
    write(stderr, held);
}

void FlashOutput::write(FILE *stream, const std::string &text)
{
    flushHeldErrors();
    // The bar makes way and comes back with the next progress: the library
    // prints some text (a port path) straight to standard output.
    if (m_barShown) {
        std::fputs("\r\033[K", stdout);
        std::fflush(stdout);
        m_barShown = false;
    }
    std::fputs(text.c_str(), stream);
    std::fflush(stream);
}

std::string FlashOutput::progressText(const upg_progress &p, bool bar)
{
    const double done = p.total_size ? double(p.total_sent) / double(p.total_size) : 1.0;
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
    std::string speed = "--.- MB/s";
    std::string left = "--:-- left";
    if (elapsed >= kFirstEstimateS && p.total_sent > 0) {
        const double rate = double(p.total_sent) / elapsed;
        speed = format("%.1f MB/s", rate / 1e6, 0);
        left = minutes(double(p.total_size - p.total_sent) / rate) + " left";
    }
    const std::string percent = format("%3.0f%%", done * 100, 0);
    std::string name = p.fwc_name ? p.fwc_name : "";
    if (p.fwc_count > 1)
        name += " (" + std::to_string(p.fwc_index + 1) + "/" + std::to_string(p.fwc_count) + ")";
    if (!bar)
        return "progress " + percent + " " + std::to_string(p.total_sent) + "/" +
               std::to_string(p.total_size) + " bytes, " + speed + ", " + left + ", " + name;
    const int filled = int(done * kBarWidth);
    return "[" + std::string(size_t(filled), '#') + std::string(size_t(kBarWidth - filled), '.') +
           "] " + percent + " " +
           format("%.1f/%.1f MiB", double(p.total_sent) / kMiB, double(p.total_size) / kMiB) +
           "  " + speed + "  " + left + "  " + name;
}
