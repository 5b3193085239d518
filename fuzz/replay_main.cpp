// Runs a fuzz target over every file of a corpus folder (recursively), so the
// corpus is replayed by any compiler and under any sanitizer. An argument
// ending in ".dict" is a libFuzzer dictionary: it must parse as libFuzzer
// reads it, and each of its tokens, and all of them in a row, run as inputs.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

int hexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The tokens of a dictionary: lines `name="value"` or `"value"`, with the
// escapes \\, \" and \xHH; blank lines and lines starting with # are skipped.
bool readDictionary(const char* path, std::vector<std::vector<uint8_t>>& tokens)
{
    std::ifstream in(path);
    if (!in) return false;
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        size_t i = line.find_first_not_of(" \t");
        if (i == std::string::npos || line[i] == '#') continue;
        const size_t open = line.find('"', i);
        const size_t close = line.rfind('"');
        if (open == std::string::npos || close <= open ||
            line.find_first_not_of(" \t", close + 1) != std::string::npos) {
            std::fprintf(stderr, "%s:%d: not a dictionary line\n", path, number);
            return false;
        }
        std::vector<uint8_t> t;
        for (size_t k = open + 1; k < close; ++k) {
            if (line[k] != '\\') {
                t.push_back(static_cast<uint8_t>(line[k]));
                continue;
            }
            if (k + 1 >= close) {
                std::fprintf(stderr, "%s:%d: bad escape\n", path, number);
                return false;
            }
            const char e = line[++k];
            if (e == '\\' || e == '"') {
                t.push_back(static_cast<uint8_t>(e));
            } else if (e == 'x' && k + 2 < close && hexDigit(line[k + 1]) >= 0 && hexDigit(line[k + 2]) >= 0) {
                t.push_back(static_cast<uint8_t>(hexDigit(line[k + 1]) * 16 + hexDigit(line[k + 2])));
                k += 2;
            } else {
                std::fprintf(stderr, "%s:%d: bad escape\n", path, number);
                return false;
            }
        }
        tokens.push_back(t);
    }
    return !tokens.empty();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s corpus-folder-or-file...\n", argv[0]);
        return 2;
    }
    size_t runs = 0;
    for (int i = 1; i < argc; ++i) {
        std::filesystem::path root(argv[i]);
        if (root.extension() == ".dict") {
            std::vector<std::vector<uint8_t>> tokens;
            if (!readDictionary(argv[i], tokens)) {
                std::fprintf(stderr, "bad dictionary: %s\n", argv[i]);
                return 2;
            }
            std::vector<uint8_t> all;
            for (auto& t : tokens) {
                LLVMFuzzerTestOneInput(t.data(), t.size());
                all.insert(all.end(), t.begin(), t.end());
                ++runs;
            }
            LLVMFuzzerTestOneInput(all.data(), all.size());
            ++runs;
            continue;
        }
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
