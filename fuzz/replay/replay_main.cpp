// The driver of a fuzz target in builds without libFuzzer: runs the target
// once on every file named on the command line, or found directly in a
// named directory, in name order. Each input sits in a heap block of
// exactly its size, so a sanitizer sees any read past its end.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

bool replay_file(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return false;
    }
    const std::vector<char> bytes{std::istreambuf_iterator<char>(in), {}};
    const auto input = std::make_unique<uint8_t[]>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), input.get());
    LLVMFuzzerTestOneInput(input.get(), bytes.size());
    return true;
}

std::vector<std::filesystem::path> inputs_of(const std::filesystem::path& arg)
{
    if (!std::filesystem::is_directory(arg))
        return {arg};
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(arg))
        if (entry.is_regular_file())
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace

int main(int argc, char** argv)
{
    if (LLVMFuzzerInitialize)
        LLVMFuzzerInitialize(&argc, &argv);
    size_t count = 0;
    bool ok = true;
    for (int i = 1; i < argc; ++i) {
        for (const auto& path : inputs_of(argv[i])) {
            ok = replay_file(path) && ok;
            ++count;
        }
    }
    std::fprintf(stderr, "%s: replayed %zu inputs\n", argv[0], count);
    return ok && count > 0 ? 0 : 1;
}
