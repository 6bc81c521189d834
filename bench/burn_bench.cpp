// burn_bench: whole-process benchmarks of the ZelBurner worker against the
// board farm, printed as Markdown tables (see README.md, "Benchmarks").
//
//   burn_bench [--runs N] [--in-process | --quick | --only SECTION] [--burner PATH]
//              [--flasher PATH] [--farm PATH] [--vusb DIR]
//
// --in-process measures only on the in-process harness: every measured
// process serves its own board through the test library (ZEL_VBOARD_LOCAL),
// with no socket between host and board. --quick measures once, on smaller
// images, only what the headline ratios need. --only measures one section of
// the full run: link, plug-in, console or worker-overhead (N runs each).
//
// Every figure is the median of N runs (default 5) measured in this one
// invocation; ratios compare figures of the same invocation.

#include "bare_client.h"
#include "child_process.h"
#include "farm_process.h"
#include "image_builder.h"
#include "worker_batch.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace
{

constexpr double kMiB = 1024.0 * 1024.0;
constexpr double kTimeoutS = 600;

struct Paths {
    std::string burner = ZELBURNER;
    std::string flasher = ZELFLASH;
    std::string console = VELDMARK;
    std::string farm = VBOARD_FARM;
    std::string vusbDir = VUSB_DIR;
    std::string self;
};

double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

std::string fixed(double v, int decimals)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    return buf;
}

std::vector<uint8_t> noiseBytes(size_t size, uint32_t seed)
{
    std::vector<uint8_t> bytes(size);
    uint64_t x = 0x9e3779b97f4a7c15ull * (seed + 1);
    for (size_t i = 0; i + 8 <= size; i += 8) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        std::memcpy(&bytes[i], &x, 8);
    }
    return bytes;
}

// An image of one component: a target ("image.target.rootfs", burned) or a
// loader stage ("updater.spl", run), of mib MiB.
bool writeImage(const std::string &path, bool target, size_t mib)
{
    zelimg::ImageDesc desc;
    desc.platform = "zk3308";
    desc.product = "bench";
    desc.version = "1.0";
    desc.mediaType = "emmc";
    desc.mediaId = "mmc0";
    zelimg::Component c;
    c.name = target ? "image.target.rootfs" : "updater.spl";
    c.partition = target ? "rootfs" : "spl";
    c.ram = target ? 0 : 0x200000;
    c.attributes = target ? "burn" : "run";
    c.bytes = noiseBytes(mib << 20, uint32_t(mib));
    desc.components.push_back(std::move(c));
    std::string error;
    if (!zelimg::writeImage(desc, path, &error)) {
        std::fprintf(stderr, "burn_bench: %s\n", error.c_str());
        return false;
    }
    return true;
}

class Bench
{
public:
    Bench(const Paths &paths, int runs, const std::string &scratch)
        : m_paths(paths), m_runs(runs), m_scratch(scratch),
          m_farm(paths.farm, scratch + "/runtime/farm.sock", scratch + "/farm.log"),
          m_batch(WorkerEnvironment{paths.burner, paths.vusbDir, scratch + "/runtime/farm.sock",
                                    scratch + "/runtime", scratch + "/work"})
    {
    }

    bool prepare(bool quick);
    bool hostCost();
    bool linkEfficiency();
    bool parallelScale();
    bool startUp();
    bool inProcessEfficiency(bool targetsOnly);
    bool inProcessHostCost();
    bool inProcessParallel();
    bool sharedBus(size_t mib);
    bool plugInLatency(int arrivals);
    bool consoleUnderWorkers(int mib);
    // A private folder for a real console (16 slots, image selected) and
    // the console started there offscreen against the farm.
    std::string consoleHome(const std::string &name, const std::string &imageName) const;
    bool startConsole(const std::string &home, Child *console) const;
    // One line per goal: the figure, the goal and whether it was met.
    void printHeadlines() const;

private:
    void headline(const std::string &what, double value, int decimals, const std::string &goal,
                  bool met);
    // The environment of a process that serves its own board at 1:1 with
    // these board options and reports it into report.
    std::map<std::string, std::string> localBoard(const std::string &options,
                                                  const std::string &report) const;
    // Link time the board in a report file was charged (the file is removed).
    double reportedLinkS(const std::string &report) const;
    // One worker, flasher or bare client with its own board; its usage and
    // the link time its board was charged.
    bool localWorker(const std::string &image, const std::string &options, uint64_t bytes,
                     ChildUsage *usage, double *linkS);
    bool localFlasher(const std::string &image, const std::string &options, ChildUsage *usage,
                      double *linkS);
    bool localBare(uint64_t bytes, uint32_t packet, const std::string &options, ChildUsage *usage,
                   double *linkS);
    // One farm, the workers of jobs against it; the farm's usage and the
    // link time each board was charged.
    bool burn(const std::vector<std::string> &farmArgs, const std::vector<WorkerJob> &jobs,
              uint64_t bytesEach, std::vector<WorkerOutcome> *out, ChildUsage *farm,
              std::vector<double> *linkS);
    bool bare(const std::vector<std::string> &farmArgs, uint64_t bytes, uint32_t packet,
              ChildUsage *client, ChildUsage *farm);
    // The bare client moving bytes in packets to the board at 1:1, with env.
    bool bareClient(uint64_t bytes, uint32_t packet, const std::map<std::string, std::string> &env,
                    ChildUsage *usage);
    std::string image(const std::string &name) const { return m_scratch + "/" + name; }

    Paths m_paths;
    int m_runs;
    std::string m_scratch;
    FarmProcess m_farm;
    WorkerBatch m_batch;
    std::vector<double> m_firstReportS;
    std::vector<double> m_peakRssKb;
    std::vector<std::string> m_headlines;
};

void Bench::headline(const std::string &what, double value, int decimals, const std::string &goal,
                     bool met)
{
    m_headlines.push_back("- " + what + ": " + fixed(value, decimals) + " (goal " + goal + ", " +
                          (met ? "met" : "NOT met") + ")");
}

void Bench::printHeadlines() const
{
    std::printf("### Headline ratios\n\n");
    for (const std::string &line : m_headlines)
        std::printf("%s\n", line.c_str());
    std::printf("\n");
}

bool Bench::prepare(bool quick)
{
    if (!m_batch.listen()) {
        std::fprintf(stderr, "burn_bench: cannot take the console's report socket\n");
        return false;
    }
    return writeImage(image("loader1.img"), false, 1) &&
           writeImage(image("target16.img"), true, 16) &&
           writeImage(image("target64.img"), true, 64) &&
           (quick || (writeImage(image("target256.img"), true, 256) &&
                      writeImage(image("loader64.img"), false, 64)));
}

bool Bench::burn(const std::vector<std::string> &farmArgs, const std::vector<WorkerJob> &jobs,
                 uint64_t bytesEach, std::vector<WorkerOutcome> *out, ChildUsage *farm,
                 std::vector<double> *linkS)
{
    if (!m_farm.start(farmArgs)) {
        std::fprintf(stderr, "burn_bench: the farm did not start (see %s/farm.log)\n",
                     m_scratch.c_str());
        return false;
    }
    *out = m_batch.run(jobs, kTimeoutS);
    linkS->clear();
    for (const WorkerJob &s : jobs)
        linkS->push_back(m_farm.linkBusyS(s.position));
    *farm = m_farm.stop();
    for (size_t i = 0; i < out->size(); ++i) {
        const WorkerOutcome &o = (*out)[i];
        if (o.result != 1 || uint64_t(o.lastProgress) != bytesEach) {
            std::fprintf(stderr,
                         "burn_bench: the worker for %s failed (result %d, %lld of %llu bytes)\n",
                         jobs[i].position.c_str(), o.result, o.lastProgress,
                         static_cast<unsigned long long>(bytesEach));
            return false;
        }
        // Start-up is measured on workers that had the machine to themselves.
        if (jobs.size() == 1)
            m_firstReportS.push_back(o.firstReportS);
        m_peakRssKb.push_back(double(o.peakRssKb));
    }
    return true;
}

bool Bench::bare(const std::vector<std::string> &farmArgs, uint64_t bytes, uint32_t packet,
                 ChildUsage *client, ChildUsage *farm)
{
    if (!m_farm.start(farmArgs))
        return false;
    const bool ok = bareClient(bytes, packet,
                               {{"ZEL_VBOARD_FARM", m_scratch + "/runtime/farm.sock"}}, client);
    *farm = m_farm.stop();
    return ok;
}

bool Bench::bareClient(uint64_t bytes, uint32_t packet,
                       const std::map<std::string, std::string> &env, ChildUsage *usage)
{
    Child c;
    if (c.start(
            {m_paths.self, "--bare-client", "1:1", std::to_string(bytes), std::to_string(packet)},
            environmentWith(env), "", m_scratch + "/bare.out"))
        c.wait();
    *usage = c.usage();
    if (!usage->exitedOk)
        std::fprintf(stderr, "burn_bench: the bare client failed (see %s/bare.out)\n",
                     m_scratch.c_str());
    return usage->exitedOk;
}

bool Bench::hostCost()
{
    std::printf(
        "### Host cost per MiB, link model off\n\n"
        "One target component in 64 KiB packets to one board in upgrade mode. *Worker*: CPU "
        "(user + system) of the ZelBurner process; *bare client*: a process that moves the same "
        "bytes through the same test library without any host logic; *host share*: worker minus "
        "bare client, run by run; *worker user*: the worker's user time alone (the test library's "
        "socket traffic is system time); *farm*: CPU of the farm serving the worker.\n\n");
    std::printf(
        "| image | worker ms/MiB | bare client ms/MiB | host share ms/MiB | worker user ms/MiB | "
        "farm ms/MiB | worker wall s | MB/s | peak RSS, median MiB |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|\n");
    const std::vector<std::string> farmArgs = {"--board", "1:1", "upgrade=1"};
    for (size_t mib : {16, 64, 256}) {
        const uint64_t bytes = uint64_t(mib) << 20;
        std::vector<double> worker, client, share, user, farmCpu, wall, rss;
        for (int r = 0; r < m_runs; ++r) {
            std::vector<WorkerOutcome> out;
            ChildUsage farm, bareClient, bareFarm;
            std::vector<double> link;
            if (!burn(farmArgs, {{0, image("target" + std::to_string(mib) + ".img"), "1:1"}}, bytes,
                      &out, &farm, &link) ||
                !bare(farmArgs, bytes, 65536, &bareClient, &bareFarm))
                return false;
            const ChildUsage &w = out[0].usage;
            worker.push_back(w.cpuS * 1000 / double(mib));
            client.push_back(bareClient.cpuS * 1000 / double(mib));
            share.push_back((w.cpuS - bareClient.cpuS) * 1000 / double(mib));
            user.push_back(w.userS * 1000 / double(mib));
            farmCpu.push_back(farm.cpuS * 1000 / double(mib));
            wall.push_back(w.wallS);
            rss.push_back(double(out[0].peakRssKb) / 1024);
        }
        std::printf("| %zu MiB | %s | %s | %s | %s | %s | %s | %s | %s |\n", mib,
                    fixed(median(worker), 2).c_str(), fixed(median(client), 2).c_str(),
                    fixed(median(share), 2).c_str(), fixed(median(user), 2).c_str(),
                    fixed(median(farmCpu), 2).c_str(), fixed(median(wall), 3).c_str(),
                    fixed(double(bytes) / 1e6 / median(wall), 0).c_str(),
                    fixed(median(rss), 1).c_str());
        std::fflush(stdout);
    }
    std::printf("\n");
    return true;
}

bool Bench::linkEfficiency()
{
    std::printf(
        "### Burn time against the link bound, USB 2.0 high-speed link model on\n\n"
        "*Bound*: the time the link model charged for the worker's transfers; *burn*: the "
        "worker process from start to exit; *efficiency*: bound / burn. The bare client moves the "
        "same bytes in the same packets without any host logic: its efficiency is what the "
        "harness (test library and farm) allows.\n\n");
    std::printf("| component kind | image | bound s | burn s | efficiency | bare client s | "
                "bare client efficiency |\n");
    std::printf("|---|---|---|---|---|---|---|\n");
    struct Kind {
        const char *label;
        const char *image;
        size_t mib;
        uint32_t packet;
        std::vector<std::string> farmArgs;
    };
    const std::vector<Kind> kinds = {
        {"targets", "target64.img", 64, 65536, {"--board", "1:1", "upgrade=1", "link=1", "bus_mbps=0"}},
        {"loader stages", "loader64.img", 64, 2048, {"--board", "1:1", "link=1", "bus_mbps=0", "loader_stage="}},
    };
    for (const Kind &k : kinds) {
        std::vector<double> bound, burnS, ratio, bareS, bareRatio;
        for (int r = 0; r < m_runs; ++r) {
            std::vector<WorkerOutcome> out;
            ChildUsage farm, client;
            std::vector<double> link;
            if (!burn(k.farmArgs, {{0, image(k.image), "1:1"}}, uint64_t(k.mib) << 20, &out, &farm,
                      &link) ||
                !bare(k.farmArgs, uint64_t(k.mib) << 20, k.packet, &client, &farm))
                return false;
            bound.push_back(link[0]);
            burnS.push_back(out[0].usage.wallS);
            ratio.push_back(link[0] / out[0].usage.wallS);
            bareS.push_back(client.wallS);
            bareRatio.push_back(link[0] / client.wallS);
        }
        std::printf("| %s, %u-byte packets | %zu MiB | %s | %s | %s | %s | %s |\n", k.label,
                    k.packet, k.mib, fixed(median(bound), 3).c_str(),
                    fixed(median(burnS), 3).c_str(), fixed(median(ratio), 3).c_str(),
                    fixed(median(bareS), 3).c_str(), fixed(median(bareRatio), 3).c_str());
        std::fflush(stdout);
    }
    std::printf("\n");
    return true;
}

bool Bench::startUp()
{
    // The floor of any start: ZelBurner without arguments loads the same
    // libraries and ends at once.
    std::vector<double> empty, emptyCpu;
    for (int r = 0; r < m_runs; ++r) {
        Child c;
        if (!c.start({m_paths.burner}, environmentWith({{"LD_LIBRARY_PATH", m_paths.vusbDir}}),
                     m_scratch + "/work", "/dev/null"))
            return false;
        c.wait();
        empty.push_back(c.usage().wallS);
        emptyCpu.push_back(c.usage().cpuS);
    }
    std::printf(
        "### Worker start-up and memory\n\n"
        "*First report*: process start to its first report handled, over the single-board runs "
        "above; *peak RSS*: over every worker above; *empty start*: ZelBurner without arguments, "
        "start to exit (library loading and process set-up only), and the CPU "
        "time it takes.\n\n");
    std::printf(
        "| first report, median ms | max ms | empty start, median ms | empty start CPU ms | "
        "peak RSS, median MiB | max MiB |\n");
    std::printf("|---|---|---|---|---|---|\n");
    std::printf(
        "| %s | %s | %s | %s | %s | %s |\n\n", fixed(median(m_firstReportS) * 1000, 1).c_str(),
        fixed(*std::max_element(m_firstReportS.begin(), m_firstReportS.end()) * 1000, 1).c_str(),
        fixed(median(empty) * 1000, 1).c_str(), fixed(median(emptyCpu) * 1000, 1).c_str(),
        fixed(median(m_peakRssKb) / 1024, 1).c_str(),
        fixed(*std::max_element(m_peakRssKb.begin(), m_peakRssKb.end()) / 1024, 1).c_str());
    return true;
}

bool Bench::parallelScale()
{
    std::printf(
        "### Parallel boards, each on a link of its own\n\n"
        "N workers burn the 64 MiB target image into N boards of one farm at once. *Time ratio*: "
        "a board's burn time over the single-board time (median of the N=1 runs); *farm cores*: "
        "the farm's CPU time over the batch's wall time.\n\n");
    std::printf(
        "| boards | aggregate MB/s | median time ratio | worst time ratio | median efficiency | "
        "worker ms/MiB | farm cores |\n");
    std::printf("|---|---|---|---|---|---|---|\n");
    const uint64_t bytes = 64ull << 20;
    double single = 0;
    for (int n : {1, 2, 4, 8, 16}) {
        std::vector<double> aggregate, medianTime, worstTime, efficiency, cpu, farmCores;
        for (int r = 0; r < m_runs; ++r) {
            std::vector<WorkerJob> jobs;
            for (int i = 0; i < n; ++i)
                jobs.push_back({i, image("target64.img"), "1:" + std::to_string(i + 1)});
            std::vector<WorkerOutcome> out;
            ChildUsage farm;
            std::vector<double> link;
            if (!burn({"--boards", std::to_string(n), "upgrade=1", "link=1", "bus_mbps=0"}, jobs,
                      bytes, &out,
                      &farm, &link))
                return false;
            double first = out[0].spawnedAt, last = 0;
            std::vector<double> times;
            for (size_t i = 0; i < out.size(); ++i) {
                first = std::min(first, out[i].spawnedAt);
                last = std::max(last, out[i].spawnedAt + out[i].usage.wallS);
                times.push_back(out[i].usage.wallS);
                efficiency.push_back(link[i] / out[i].usage.wallS);
                cpu.push_back(out[i].usage.cpuS * 1000 / 64);
            }
            aggregate.push_back(double(n) * double(bytes) / 1e6 / (last - first));
            medianTime.push_back(median(times));
            worstTime.push_back(*std::max_element(times.begin(), times.end()));
            farmCores.push_back(farm.cpuS / (last - first));
        }
        if (n == 1)
            single = median(medianTime);
        std::vector<double> medianRatio, worstRatio;
        for (double t : medianTime)
            medianRatio.push_back(t / single);
        for (double t : worstTime)
            worstRatio.push_back(t / single);
        std::printf("| %d | %s | %s | %s | %s | %s | %s |\n", n,
                    fixed(median(aggregate), 0).c_str(), fixed(median(medianRatio), 3).c_str(),
                    fixed(median(worstRatio), 3).c_str(), fixed(median(efficiency), 3).c_str(),
                    fixed(median(cpu), 2).c_str(), fixed(median(farmCores), 2).c_str());
        std::fflush(stdout);
    }
    std::printf("\n");
    return true;
}

bool Bench::sharedBus(size_t mib)
{
    constexpr int kBoards = 16;
    constexpr double kBusMbps = 320; // the board farm's default, bulk data through USB 2.0
    std::printf(
        "### Sixteen boards on shared buses\n\n"
        "16 workers burn the %zu MiB target image at once into boards that share the bulk "
        "bandwidth of their bus (%.0f Mbit/s, %.0f MB/s each). *Bound*: the buses' bandwidth; "
        "*aggregate*: every board's bytes over the time from the first worker's start to the last "
        "one's exit; *fairness*: the slowest board's time over the fastest's, each from the "
        "first worker's start (the moment the line starts them all) to its worker's exit.\n\n",
        mib, kBusMbps, kBusMbps / 8);
    std::printf("| buses | boards per bus | bound MB/s | aggregate MB/s | aggregate / bound | "
                "fairness | farm cores |\n");
    std::printf("|---|---|---|---|---|---|---|\n");
    const uint64_t bytes = uint64_t(mib) << 20;
    for (int buses : {1, 4}) {
        std::vector<std::string> farmArgs = {"upgrade=1", "link=1",
                                             "bus_mbps=" + fixed(kBusMbps, 0)};
        std::vector<WorkerJob> jobs;
        for (int i = 0; i < kBoards; ++i) {
            const std::string position = std::to_string(1 + i / (kBoards / buses)) + ":" +
                                         std::to_string(1 + i % (kBoards / buses));
            farmArgs.insert(farmArgs.end(), {"--board", position});
            jobs.push_back({i, image("target" + std::to_string(mib) + ".img"), position});
        }
        const double bound = buses * kBusMbps / 8;
        std::vector<double> aggregate, fairness, farmCores;
        for (int r = 0; r < m_runs; ++r) {
            std::vector<WorkerOutcome> out;
            ChildUsage farm;
            std::vector<double> link;
            if (!burn(farmArgs, jobs, bytes, &out, &farm, &link))
                return false;
            double first = out[0].spawnedAt;
            for (const WorkerOutcome &o : out)
                first = std::min(first, o.spawnedAt);
            double fastest = 1e9, slowest = 0;
            for (const WorkerOutcome &o : out) {
                fastest = std::min(fastest, o.spawnedAt + o.usage.wallS - first);
                slowest = std::max(slowest, o.spawnedAt + o.usage.wallS - first);
            }
            aggregate.push_back(kBoards * double(bytes) / 1e6 / slowest);
            fairness.push_back(slowest / fastest);
            farmCores.push_back(farm.cpuS / slowest);
        }
        const double ratio = median(aggregate) / bound;
        std::printf("| %d | %d | %s | %s | %s | %s | %s |\n", buses, kBoards / buses,
                    fixed(bound, 0).c_str(), fixed(median(aggregate), 1).c_str(),
                    fixed(ratio, 3).c_str(), fixed(median(fairness), 3).c_str(),
                    fixed(median(farmCores), 2).c_str());
        std::fflush(stdout);
        const std::string layout = buses == 1 ? "16 boards on one bus" : "16 boards on 4 buses of 4";
        headline(layout + ", aggregate / bus bound", ratio, 3, ">= 0.95", ratio >= 0.95);
        headline(layout + ", slowest / fastest board", median(fairness), 3, "<= 1.05",
                 median(fairness) <= 1.05);
    }
    std::printf("\n");
    return true;
}

std::string Bench::consoleHome(const std::string &name, const std::string &imageName) const
{
    const std::string home = m_scratch + "/" + name;
    mkdir(home.c_str(), 0700);
    mkdir((home + "/runtime").c_str(), 0700);
    std::ofstream ini(home + "/Veldmark.ini");
    ini << "[common]\nimage_path=" << image(imageName) << "\nmax_dev_count=16\ndev_column_count=2\n";
    return home;
}

bool Bench::startConsole(const std::string &home, Child *console) const
{
    // Its own runtime directory: the report socket of this benchmark's batches is taken.
    return console->start({m_paths.console},
                          environmentWith({{"ZEL_VBOARD_FARM", m_scratch + "/runtime/farm.sock"},
                                           {"LD_LIBRARY_PATH", m_paths.vusbDir},
                                           {"QT_QPA_PLATFORM", "offscreen"},
                                           {"XDG_RUNTIME_DIR", home + "/runtime"}}),
                          home, home + "/console.out");
}

bool Bench::plugInLatency(int arrivals)
{
    std::printf(
        "### Plug-in to first command\n\n"
        "The real console (offscreen, 16 slots, an image of one 1 MiB loader stage selected) and its "
        "workers "
        "against a farm: boards arrive in waves, each plugged through the farm's hotplug; each "
        "board's latency runs from its arrival on the bus to the first command its worker sends "
        "it, both taken on the farm's monotonic clock, over the boards that got one; *never "
        "started*: boards that got no command within 10 s. A wave's boards are removed once "
        "they hold the image, 0.5 s before the next wave.\n\n");
    std::printf("| boards per wave | arrivals | never started | p50 ms | p99 ms | max ms |\n");
    std::printf("|---|---|---|---|---|---|\n");
    const std::string home = consoleHome("console", "loader1.img");
    if (!m_farm.start({})) {
        std::fprintf(stderr, "burn_bench: the farm did not start\n");
        return false;
    }
    Child console;
    if (!startConsole(home, &console)) {
        m_farm.stop();
        return false;
    }
    const uint64_t imageBytes = 1u << 20;
    std::string reply;
    // Plugs the boards of a wave, waits for each one's first command and its
    // image, removes them. Latencies in ms; a board that got no command in
    // timeoutS counts as missed. False once the console has ended.
    auto wave = [&](int boards, std::vector<double> *latencies, int *missed, double timeoutS) {
        for (int i = 1; i <= boards; ++i)
            if (!m_farm.command("plug board 1:" + std::to_string(i) + " link=1 loader_stage=",
                                &reply))
                return false;
        const double deadline = nowSeconds() + timeoutS;
        for (int i = 1; i <= boards; ++i) {
            const std::string at = "1:" + std::to_string(i);
            long long first = -1;
            while ((first = m_farm.stateField(at, "first_command_ns")) == 0 &&
                   nowSeconds() < deadline && !console.poll())
                usleep(2000);
            if (first <= 0) {
                ++*missed;
                continue;
            }
            latencies->push_back(double(first - m_farm.stateField(at, "arrived_ns")) / 1e6);
            while (m_farm.stateField(at, "fwc_bytes") < (long long)imageBytes &&
                   nowSeconds() < deadline)
                usleep(5000);
        }
        // The worker's closing commands and result report.
        usleep(200000);
        // The console must see the removal before the next wave comes: a
        // removal and an arrival at the same port within one burst of device
        // changes can leave its listing unchanged.
        for (int i = 1; i <= boards; ++i)
            m_farm.command("remove 1:" + std::to_string(i), &reply);
        usleep(500000);
        return !console.poll();
    };
    // The console takes boards once its window is up; the first board may
    // come before that and is then retried.
    std::vector<double> warmUp;
    int warmUpMissed = 0;
    bool ok = true;
    for (int attempt = 0; attempt < 6 && warmUp.empty() && ok; ++attempt)
        ok = wave(1, &warmUp, &warmUpMissed, 10);
    if (warmUp.empty()) {
        std::fprintf(stderr, "burn_bench: the console never burned a board (see %s/console.out)\n",
                     home.c_str());
        ok = false;
    }
    for (int boards : {1, 8, 16}) {
        std::vector<double> latencies;
        int missed = 0;
        while (ok && int(latencies.size()) + missed < arrivals)
            ok = wave(boards, &latencies, &missed, 10);
        if (!ok || latencies.empty()) {
            std::fprintf(stderr, "burn_bench: the console ended or started no worker\n");
            ok = false;
            break;
        }
        std::sort(latencies.begin(), latencies.end());
        const double p50 = latencies[latencies.size() / 2];
        const double p99 = latencies[std::min(latencies.size() - 1, latencies.size() * 99 / 100)];
        std::printf("| %d | %zu | %d | %s | %s | %s |\n", boards, latencies.size() + size_t(missed),
                    missed, fixed(p50, 1).c_str(), fixed(p99, 1).c_str(),
                    fixed(latencies.back(), 1).c_str());
        std::fflush(stdout);
        headline("plug-in to first command, waves of " + std::to_string(boards) +
                     ", p99 ms (boards never started: " + std::to_string(missed) + ")",
                 p99, 1, "< 100, none missed", p99 < 100 && missed == 0);
    }
    std::printf("\n");
    console.kill();
    m_farm.stop();
    return ok;
}

// CPU time a running process has used so far, in seconds; -1 when it is gone.
static double runningCpuS(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const size_t end = text.rfind(')');
    if (end == std::string::npos)
        return -1;
    std::istringstream fields(text.substr(end + 2));
    std::string field;
    long long user = 0, system = 0;
    for (int i = 0; i <= 12 && fields >> field; ++i) {
        if (i == 0 && field == "Z")
            return -1;
        if (i == 11)
            user = std::stoll(field);
        if (i == 12)
            system = std::stoll(field);
    }
    return double(user + system) / double(sysconf(_SC_CLK_TCK));
}

bool Bench::consoleUnderWorkers(int mib)
{
    std::printf(
        "### The console under its workers' reports\n\n"
        "The real console (offscreen, 16 slots, an image of one %d MiB target selected) burns 16 "
        "farm boards, each on a bus of its own, with its own workers, which report their progress "
        "at most ten times a second and at the image's end; the console's CPU time is taken from "
        "the first board's first command to the last board holding the whole image (results of "
        "boards done earlier included). Its workers and the farm share the machine's cores with "
        "it, so the boards burn at the pace the machine allows (a USB 2.0 link: 44.6 MiB/s).\n\n",
        mib);
    std::printf("| workers | seconds | MiB/s per worker | console CPU, %% of one core |\n");
    std::printf("|---|---|---|---|\n");
    const std::string home = consoleHome("console-load", "target" + std::to_string(mib) + ".img");
    if (!m_farm.start({})) {
        std::fprintf(stderr, "burn_bench: the farm did not start\n");
        return false;
    }
    std::string reply;
    std::vector<std::string> boards;
    for (int bus = 1; bus <= 16; ++bus) {
        boards.push_back(std::to_string(bus) + ":1");
        if (!m_farm.command("plug board " + boards.back() + " upgrade=1 link=1", &reply)) {
            m_farm.stop();
            return false;
        }
    }
    // The boards are there at its start: the console binds them all at once.
    Child console;
    if (!startConsole(home, &console)) {
        m_farm.stop();
        return false;
    }
    const long long imageBytes = (long long)mib << 20;
    const auto waitAll = [&](const std::string &field, long long atLeast, double timeoutS) {
        const double deadline = nowSeconds() + timeoutS;
        for (const std::string &at : boards)
            while (m_farm.stateField(at, field) < atLeast)
                if (nowSeconds() > deadline || console.poll())
                    return false;
                else
                    usleep(2000);
        return true;
    };
    bool ok = waitAll("first_command_ns", 1, 20);
    const double from = nowSeconds();
    const double cpuFrom = runningCpuS(console.pid());
    ok = ok && waitAll("fwc_bytes", imageBytes, 300);
    const double seconds = nowSeconds() - from;
    const double cpuTo = runningCpuS(console.pid());
    console.kill();
    m_farm.stop();
    if (!ok || cpuFrom < 0 || cpuTo < 0) {
        std::fprintf(stderr, "burn_bench: the console did not burn its 16 boards (see %s/console.out)\n",
                     home.c_str());
        return false;
    }
    const double percent = 100 * (cpuTo - cpuFrom) / seconds;
    std::printf("| 16 | %s | %s | %s |\n\n", fixed(seconds, 2).c_str(),
                fixed(mib / seconds, 1).c_str(), fixed(percent, 1).c_str());
    headline("console CPU, 16 workers reporting, % of one core (" + fixed(mib / seconds, 0) +
                 " MiB/s each)",
             percent, 1, "< 5", percent < 5);
    return true;
}

std::map<std::string, std::string> Bench::localBoard(const std::string &options,
                                                     const std::string &report) const
{
    return {{"ZEL_VBOARD_FARM", ""},
            {"ZEL_VBOARD_LOCAL", "board 1:1 " + options},
            {"ZEL_VBOARD_REPORT", report},
            {"LD_LIBRARY_PATH", m_paths.vusbDir}};
}

double Bench::reportedLinkS(const std::string &report) const
{
    std::ifstream in(report);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::remove(report.c_str());
    std::smatch m;
    if (!std::regex_search(text, m, std::regex("link_us=(\\d+)")))
        return 0;
    return std::stod(m[1]) / 1e6;
}

bool Bench::localWorker(const std::string &image, const std::string &options, uint64_t bytes,
                        ChildUsage *usage, double *linkS)
{
    const std::string report = m_scratch + "/report-worker.txt";
    const std::vector<WorkerOutcome> out =
        m_batch.run({{0, image, "1:1", localBoard(options, report)}}, kTimeoutS);
    *usage = out[0].usage;
    *linkS = reportedLinkS(report);
    if (out[0].result != 1 || uint64_t(out[0].lastProgress) != bytes) {
        std::fprintf(stderr, "burn_bench: the in-process worker failed (result %d)\n",
                     out[0].result);
        return false;
    }
    m_firstReportS.push_back(out[0].firstReportS);
    m_peakRssKb.push_back(double(out[0].peakRssKb));
    return true;
}

bool Bench::localFlasher(const std::string &image, const std::string &options, ChildUsage *usage,
                         double *linkS)
{
    const std::string report = m_scratch + "/report-flasher.txt";
    Child c;
    if (c.start({m_paths.flasher, "burn", "-q", "-p", "1:1", image},
                environmentWith(localBoard(options, report)), m_scratch + "/work",
                m_scratch + "/flasher.out"))
        c.wait();
    *usage = c.usage();
    *linkS = reportedLinkS(report);
    if (!usage->exitedOk)
        std::fprintf(stderr, "burn_bench: zelflash failed (see %s/flasher.out)\n",
                     m_scratch.c_str());
    return usage->exitedOk;
}

bool Bench::localBare(uint64_t bytes, uint32_t packet, const std::string &options,
                      ChildUsage *usage, double *linkS)
{
    const std::string report = m_scratch + "/report-bare.txt";
    const bool ok = bareClient(bytes, packet, localBoard(options, report), usage);
    *linkS = reportedLinkS(report);
    return ok;
}

bool Bench::inProcessEfficiency(bool targetsOnly)
{
    std::printf(
        "### Burn time against the link bound, in-process harness\n\n"
        "Each process serves its own board through the test library, USB 2.0 high-speed link "
        "model on. *Bound*: the link time the board was charged; *efficiency*: bound / process "
        "start to exit. The bare client shows the harness's own ceiling.\n\n");
    std::printf("| component kind | image | bound s | bare client efficiency | worker s | worker "
                "efficiency | zelflash s | zelflash efficiency |\n");
    std::printf("|---|---|---|---|---|---|---|---|\n");
    struct Kind {
        const char *label;
        const char *image;
        uint32_t packet;
        const char *options;
    };
    const std::vector<Kind> kinds = {
        {"targets", "target64.img", 65536, "upgrade=1 link=1 bus_mbps=0"},
        {"loader stages", "loader64.img", 2048, "link=1 bus_mbps=0 loader_stage="},
    };
    const uint64_t bytes = 64ull << 20;
    for (const Kind &k : kinds) {
        if (targetsOnly && k.packet != 65536)
            continue;
        std::vector<double> bound, bare, workerS, worker, flasherS, flasher;
        for (int r = 0; r < m_runs; ++r) {
            ChildUsage u;
            double link = 0;
            if (!localBare(bytes, k.packet, k.options, &u, &link))
                return false;
            bare.push_back(link / u.wallS);
            if (!localWorker(image(k.image), k.options, bytes, &u, &link))
                return false;
            bound.push_back(link);
            workerS.push_back(u.wallS);
            worker.push_back(link / u.wallS);
            if (!localFlasher(image(k.image), k.options, &u, &link))
                return false;
            flasherS.push_back(u.wallS);
            flasher.push_back(link / u.wallS);
        }
        std::printf("| %s, %u-byte packets | 64 MiB | %s | %s | %s | %s | %s | %s |\n", k.label,
                    k.packet, fixed(median(bound), 3).c_str(), fixed(median(bare), 3).c_str(),
                    fixed(median(workerS), 3).c_str(), fixed(median(worker), 3).c_str(),
                    fixed(median(flasherS), 3).c_str(), fixed(median(flasher), 3).c_str());
        std::fflush(stdout);
        const std::string what = std::string("in-process ") + k.label + ", ";
        headline(what + "worker / link bound", median(worker), 3, ">= 0.98", median(worker) >= 0.98);
        headline(what + "zelflash / link bound", median(flasher), 3, ">= 0.98",
                 median(flasher) >= 0.98);
    }
    std::printf("\n");
    return true;
}

bool Bench::inProcessHostCost()
{
    std::printf("### Host cost per MiB, in-process harness, link model off\n\n"
                "CPU (user + system) per MiB of a 64 MiB target component; the board's own work "
                "(its CRC, its copies) runs in the same process in every column.\n\n");
    std::printf("| image | bare client ms/MiB | worker ms/MiB | zelflash ms/MiB |\n");
    std::printf("|---|---|---|---|\n");
    const uint64_t bytes = 64ull << 20;
    std::vector<double> bare, worker, flasher;
    for (int r = 0; r < m_runs; ++r) {
        ChildUsage u;
        double link = 0;
        if (!localBare(bytes, 65536, "upgrade=1", &u, &link))
            return false;
        bare.push_back(u.cpuS * 1000 / 64);
        if (!localWorker(image("target64.img"), "upgrade=1", bytes, &u, &link))
            return false;
        worker.push_back(u.cpuS * 1000 / 64);
        if (!localFlasher(image("target64.img"), "upgrade=1", &u, &link))
            return false;
        flasher.push_back(u.cpuS * 1000 / 64);
    }
    std::printf("| 64 MiB | %s | %s | %s |\n\n", fixed(median(bare), 2).c_str(),
                fixed(median(worker), 2).c_str(), fixed(median(flasher), 2).c_str());
    return true;
}

bool Bench::inProcessParallel()
{
    std::printf("### Parallel boards, in-process harness\n\n"
                "N workers burn the 64 MiB target image at once, each into a board of its own "
                "served inside its own process, link model on. *Time ratio*: a worker's time "
                "over the single-worker median.\n\n");
    std::printf("| boards | median time ratio | worst time ratio | median efficiency |\n");
    std::printf("|---|---|---|---|\n");
    const uint64_t bytes = 64ull << 20;
    double single = 0;
    for (int n : {1, 16}) {
        std::vector<double> medianTime, worstTime, efficiency;
        for (int r = 0; r < m_runs; ++r) {
            std::vector<WorkerJob> jobs;
            for (int i = 0; i < n; ++i)
                jobs.push_back({i, image("target64.img"), "1:1",
                                localBoard("upgrade=1 link=1 bus_mbps=0",
                                           m_scratch + "/report-" + std::to_string(i) + ".txt")});
            const std::vector<WorkerOutcome> out = m_batch.run(jobs, kTimeoutS);
            std::vector<double> times;
            for (size_t i = 0; i < out.size(); ++i) {
                if (out[i].result != 1 || uint64_t(out[i].lastProgress) != bytes) {
                    std::fprintf(stderr, "burn_bench: in-process worker %zu failed\n", i);
                    return false;
                }
                times.push_back(out[i].usage.wallS);
                efficiency.push_back(
                    reportedLinkS(m_scratch + "/report-" + std::to_string(i) + ".txt") /
                    out[i].usage.wallS);
            }
            medianTime.push_back(median(times));
            worstTime.push_back(*std::max_element(times.begin(), times.end()));
        }
        if (n == 1)
            single = median(medianTime);
        std::vector<double> medianRatio, worstRatio;
        for (double t : medianTime)
            medianRatio.push_back(t / single);
        for (double t : worstTime)
            worstRatio.push_back(t / single);
        std::printf("| %d | %s | %s | %s |\n", n, fixed(median(medianRatio), 3).c_str(),
                    fixed(median(worstRatio), 3).c_str(), fixed(median(efficiency), 3).c_str());
        std::fflush(stdout);
    }
    std::printf("\n");
    return true;
}

std::string firstLineOf(const std::string &path, const std::string &prefix)
{
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line))
        if (line.compare(0, prefix.size(), prefix) == 0)
            return line.substr(line.find(':') + 2);
    return "unknown";
}

void printMachine(int runs)
{
    char date[32];
    const std::time_t t = std::time(nullptr);
    std::strftime(date, sizeof date, "%Y-%m-%d %H:%M UTC", std::gmtime(&t));
    double load[3] = {0, 0, 0};
    if (getloadavg(load, 3) < 0)
        load[0] = -1;
    std::printf("Measured %s on %s, %ld CPUs, load average %.1f at start; medians of %d runs.\n\n",
                date, firstLineOf("/proc/cpuinfo", "model name").c_str(),
                sysconf(_SC_NPROCESSORS_ONLN), load[0], runs);
}

int usage()
{
    std::fprintf(stderr,
                 "usage: burn_bench [--runs N] [--in-process | --quick | --only link|plug-in|console|"
                 "worker-overhead] [--burner PATH] [--flasher PATH] [--farm PATH] [--vusb DIR]\n");
    return 2;
}
} // namespace

int main(int argc, char *argv[])
{
    if (argc == 5 && std::strcmp(argv[1], "--bare-client") == 0)
        return runBareClient(argv[2], std::strtoull(argv[3], nullptr, 10),
                             uint32_t(std::atoi(argv[4])));

    Paths paths;
    int runs = 5;
    bool inProcessOnly = false;
    bool quick = false;
    std::string only;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--in-process" || option == "--quick") {
            (option == "--quick" ? quick : inProcessOnly) = true;
            continue;
        }
        if (i + 1 >= argc)
            return usage();
        const std::string value = argv[++i];
        if (option == "--only")
            only = value;
        else if (option == "--runs")
            runs = std::atoi(value.c_str());
        else if (option == "--burner")
            paths.burner = value;
        else if (option == "--flasher")
            paths.flasher = value;
        else if (option == "--farm")
            paths.farm = value;
        else if (option == "--vusb")
            paths.vusbDir = value;
        else
            return usage();
    }
    if (runs < 1 || int(quick) + int(inProcessOnly) + int(!only.empty()) > 1 ||
        (!only.empty() && only != "link" && only != "plug-in" && only != "console" &&
         only != "worker-overhead"))
        return usage();
    if (quick)
        runs = 1;
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0)
        return 1;
    paths.self.assign(self, size_t(n));

    char scratchTemplate[] = "/tmp/burn_bench.XXXXXX";
    if (!mkdtemp(scratchTemplate))
        return 1;
    const std::string scratch = scratchTemplate;
    mkdir((scratch + "/runtime").c_str(), 0700);
    mkdir((scratch + "/work").c_str(), 0700);
    // The console's report socket lives in this private directory.
    setenv("XDG_RUNTIME_DIR", (scratch + "/runtime").c_str(), 1);
    unsetenv("ZEL_VBOARD_FARM");

    QCoreApplication app(argc, argv);
    bool ok;
    {
        Bench bench(paths, runs, scratch);
        printMachine(runs);
        ok = bench.prepare(quick || (!only.empty() && only != "link"));
        if (ok && only == "link")
            ok = bench.linkEfficiency();
        else if (ok && only == "plug-in")
            ok = bench.plugInLatency(100);
        else if (ok && only == "console")
            for (int r = 0; r < runs && ok; ++r)
                ok = bench.consoleUnderWorkers(64);
        else if (ok && only == "worker-overhead")
            ok = bench.inProcessEfficiency(true);
        else if (ok && quick)
            ok = bench.sharedBus(16) && bench.plugInLatency(8) && bench.consoleUnderWorkers(64) &&
                 bench.inProcessEfficiency(true);
        else {
            if (ok && !inProcessOnly)
                ok = bench.hostCost() && bench.linkEfficiency() && bench.parallelScale() &&
                     bench.sharedBus(64) && bench.plugInLatency(100) &&
                     bench.consoleUnderWorkers(64) && bench.startUp();
            ok = ok && bench.inProcessEfficiency(false) && bench.inProcessHostCost() &&
                 bench.inProcessParallel();
        }
        if (ok)
            bench.printHeadlines();
    }
    if (ok)
        std::filesystem::remove_all(scratch);
    else
        std::fprintf(stderr, "burn_bench: scratch files kept in %s\n", scratch.c_str());
    return ok ? 0 : 1;
}
