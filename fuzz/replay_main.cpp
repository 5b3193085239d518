// Runs a fuzz target over every file of a corpus folder (recursively), so the
// corpus is replayed by any compiler and under any sanitizer.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s corpus-folder-or-file...\n", argv[0]);
        return 2;
    }
    size_t runs = 0;
    for (int i = 1; i < argc; ++i) {
        std::filesystem::path root(argv[i]);
        std::vector<std::filesystem::path> files;
        if (std::filesystem::is_directory(root)) {
            for (auto& e : std::filesystem::recursive_directory_iterator(root))
                if (e.is_regular_file()) files.push_back(e.path());
        } else if (std::filesystem::is_regular_file(root)) {
            files.push_back(root);
        } else {
            std::fprintf(stderr, "no such corpus: %s\n", argv[i]);
            return 2;
        }
        for (auto& f : files) {
            std::ifstream in(f, std::ios::binary);
            std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
            ++runs;
        }
    }
    // Also the empty input, which every target must take.
    LLVMFuzzerTestOneInput(nullptr, 0);
    std::printf("replayed %zu inputs\n", runs + 1);
    return runs ? 0 : 1;
}
