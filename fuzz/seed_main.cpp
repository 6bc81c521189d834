// Writes the seed corpora: <dir>/<target>/* for every fuzz target.

#include "fuzz_seeds.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_seeds DIR\n");
        return 2;
    }
    namespace fs = std::filesystem;
    const std::pair<const char *, std::vector<FuzzSeed>> sets[] = {
        {"image_readers", imageReaderSeeds()},
        {"partition", partitionSeeds()},
        {"report", reportSeeds()},
        {"command_answers", commandAnswerSeeds()},
        {"worker_args", workerArgsSeeds()},
        {"port_map", portMapSeeds()},
        {"uart", uartSeeds()},
    };
    for (const auto &[target, seeds] : sets) {
        const fs::path dir = fs::path(argv[1]) / target;
        fs::create_directories(dir);
        for (const auto &[name, bytes] : seeds) {
            std::ofstream out(dir / name, std::ios::binary);
            out.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
            if (!out) {
                std::fprintf(stderr, "fuzz_seeds: cannot write %s\n", (dir / name).c_str());
                return 1;
            }
        }
    }
    return 0;
}
