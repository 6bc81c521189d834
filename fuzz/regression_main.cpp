// Runs one fuzz target's entry point, without libFuzzer, on its seeds and on
// every file of the folders given: the regression inputs kept in
// fuzz/regressions/<target>/. Built into the normal test suite, so the
// sanitizer build checks them too.

#include "fuzz_seeds.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

int main(int argc, char **argv)
{
    namespace fs = std::filesystem;
    int inputs = 0;
    for (const auto &[name, bytes] : FUZZ_SEEDS()) {
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
        inputs++;
    }
    for (int i = 1; i < argc; i++) {
        // A missing folder is a wrong path, not a target without regressions.
        if (!fs::is_directory(argv[i])) {
            std::fprintf(stderr, "no regression folder %s\n", argv[i]);
            return 1;
        }
        for (const auto &entry : fs::directory_iterator(argv[i])) {
            // Dot files hold the folder in git; they are no inputs.
            if (!entry.is_regular_file() || entry.path().filename().string().front() == '.')
                continue;
            std::ifstream in(entry.path(), std::ios::binary);
            std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                       std::istreambuf_iterator<char>());
            std::fprintf(stderr, "input %s\n", entry.path().c_str());
            LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
            inputs++;
        }
    }
    std::fprintf(stderr, "%d inputs ran without a fault\n", inputs);
    return 0;
}
