// Replays a fuzz target's corpus without libFuzzer: every file, and a
// handful of its prefixes, goes through the target's entry point. A target
// aborts on a broken expectation, so a regression ends this test program.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> corpusFiles() {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(TAVO_FUZZ_CORPUS)) {
        if (entry.is_regular_file())
            files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::string contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void run(const std::string& bytes, std::size_t size) {
    // A copy of exactly that many bytes, so reading past the end is caught
    // by AddressSanitizer in the sanitizer builds.
    const std::vector<std::uint8_t> input(bytes.begin(), bytes.begin() + size);
    EXPECT_EQ(LLVMFuzzerTestOneInput(input.data(), input.size()), 0);
}

TEST(FuzzCorpusReplay, EveryInputAndItsPrefixesRunClean) {
    const std::vector<fs::path> files = corpusFiles();
    ASSERT_GE(files.size(), 4u) << "corpus missing: " << TAVO_FUZZ_CORPUS;
    for (const fs::path& file : files) {
        // Named before the run: a target that aborts leaves this as the
        // last line of the test's output.
        std::printf("replaying %s\n", file.filename().c_str());
        std::fflush(stdout);
        const std::string bytes = contents(file);
        run(bytes, bytes.size());
        const std::size_t step = std::max<std::size_t>(1, bytes.size() / 64);
        for (std::size_t size = 0; size < bytes.size(); size += step)
            run(bytes, size);
    }
}

}  // namespace
