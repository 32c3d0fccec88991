// A fuzz target as an ordinary program: runs the target once on every file
// named on the command line (a directory stands for the files in it, in name
// order), so the plain and sanitizer builds replay the seeds and regression
// inputs as tests. A violated property aborts.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz.h"

namespace {

int replay(const std::filesystem::path &file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", file.c_str());
        return 1;
    }
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::fprintf(stderr, "replay %s (%zu bytes)\n", file.c_str(), bytes.size());
    // A copy of its own, so reads past the end are caught under ASan.
    auto *copy = new uint8_t[bytes.size() ? bytes.size() : 1];
    std::copy(bytes.begin(), bytes.end(), copy);
    LLVMFuzzerTestOneInput(copy, bytes.size());
    delete[] copy;
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    fuzz::exit_on_failure = true;
    fuzz::replaying = true;
    int failures = 0, files = 0;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path arg(argv[i]);
        std::vector<std::filesystem::path> list;
        if (std::filesystem::is_directory(arg)) {
            for (const auto &e : std::filesystem::directory_iterator(arg))
                if (e.is_regular_file()) list.push_back(e.path());
            std::sort(list.begin(), list.end());
        } else {
            list.push_back(arg);
        }
        for (const auto &f : list) {
            failures += replay(f);
            ++files;
        }
    }
    std::fprintf(stderr, "%d inputs replayed\n", files);
    return failures == 0 && files > 0 ? 0 : 1;
}
