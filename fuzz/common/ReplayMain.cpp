// The main() of the fuzz targets outside the fuzz build: every file named on the command line goes
// once through the target's LLVMFuzzerTestOneInput, as libFuzzer runs a file it is given, so
// that the test suite replays the committed crash inputs with any compiler. libFuzzer's options
// (-name=value) are accepted and ignored, so one command line serves both builds.

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
    int ran = 0;
    for (int i = 1; i < argc; ++i) {
        const char* path = argv[i];
        if (path[0] == '-')
            continue;
        std::error_code error;
        std::ifstream file(path, std::ios::binary);
        if (!std::filesystem::is_regular_file(path, error) || !file) {
            std::fprintf(stderr, "cannot read %s: a file is needed (libFuzzer fuzzes a folder)\n", path);
            return 2;
        }
        const std::vector<char> bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
        // A buffer of exactly the input's size, as libFuzzer hands it over, so that the sanitizer
        // build sees a read past its end.
        const auto data = std::make_unique<uint8_t[]>(bytes.size());
        if (!bytes.empty())
            std::memcpy(data.get(), bytes.data(), bytes.size());
        std::fprintf(stderr, "Running: %s\n", path);
        const int result = LLVMFuzzerTestOneInput(data.get(), bytes.size());
        // libFuzzer allows 0 and -1 (keep the input out of the corpus); anything else is a fault.
        if (result != 0 && result != -1) {
            std::fprintf(stderr, "%s: LLVMFuzzerTestOneInput returned %d\n", path, result);
            return 1;
        }
        std::fprintf(stderr, "Executed %s\n", path);
        ++ran;
    }
    if (ran == 0) {
        std::fprintf(stderr, "usage: %s FILE...  (runs each file once through the fuzz target)\n", argv[0]);
        return 2;
    }
    return 0;
}
