// A small host of libvt5: writes a little VT5 container (an attributes chunk
// and three frames), reads it back by name and in ranges, and checks every byte.
// Usage: vt5_example [path]   (default: a file in the system's temporary folder)
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "gnr_system/CKzByteArray.h"
#include "gnr_system/CKzString.h"
#include "vt5file/CKzFileChunker.h"

namespace {

std::vector<unsigned char> makeFrame(int index, size_t size)
{
    std::vector<unsigned char> frame(size);
    for (size_t i = 0; i < size; ++i)
        frame[i] = static_cast<unsigned char>(i * 31 + index * 7);
    return frame;
}

} // namespace

int main(int argc, char** argv)
{
    std::printf("vt5 example host\n");
    const std::string path = argc > 1 ? argv[1] : "/tmp/vt5_example_" + std::to_string(getpid()) + ".vt5";
    const std::wstring wpath(path.begin(), path.end());
    const int frames = 3;
    const size_t frameSize = 640 * 480 * 2;

    // Write: a new container, one description chunk, the frames as two-part chunks.
    {
        CKzFileChunker writer;
        CKzStringA version("Ver3.0");
        if (writer.Initialize_File(wpath.c_str(), false, false, version) != 0) {
            std::printf("cannot create %s\n", path.c_str());
            return 1;
        }
        const char attributes[] = "width=640 height=480 bits=16";
        writer.SetChunk(attributes, sizeof attributes, "ImageAttributesLV");
        for (int i = 0; i < frames; ++i) {
            const unsigned long long time = 1700000000000ull + 100u * i;
            const std::vector<unsigned char> frame = makeFrame(i, frameSize);
            CKzStringA name;
            name.Format("ImageDataSeq|%i!", i);
            if (writer.SetChunk(&time, 8, frame.data(), static_cast<unsigned>(frame.size()), name.GetString()) != 0) {
                std::printf("cannot write frame %d\n", i);
                return 1;
            }
        }
        if (writer.Finalize() != 0) {
            std::printf("cannot finish %s\n", path.c_str());
            return 1;
        }
    }

    // Read: list the chunks, read each frame whole and one row of it.
    int failures = 0;
    {
        CKzFileChunker reader;
        CKzStringA version;
        if (reader.Initialize_File(wpath.c_str(), true, true, version) != 0) {
            std::printf("cannot open %s\n", path.c_str());
            return 1;
        }
        std::printf("%s: version %s, %zu chunks\n", path.c_str(), version.GetString(), reader.GetChunkCount());
        CKzStringA name;
        for (int r = reader.GetNextChunkID(name, ""); r == 0;) {
            const std::string current = name.GetString();
            SKzChunkMapMember member;
            reader.GetMapMember(current.c_str(), member);
            std::printf("  %-20s offset %8llu size %8llu\n", current.c_str(),
                        static_cast<unsigned long long>(member.uiOffset),
                        static_cast<unsigned long long>(member.uiSize));
            r = reader.GetNextChunkID(name, current.c_str());
        }
        CKzByteArray data(4096);
        for (int i = 0; i < frames; ++i) {
            CKzStringA chunk;
            chunk.Format("ImageDataSeq|%i!", i);
            const std::vector<unsigned char> frame = makeFrame(i, frameSize);
            if (reader.GetChunk(data, chunk.GetString()) != 0 || data.GetSize() != 8 + frameSize ||
                std::memcmp(data.GetData() + 8, frame.data(), frameSize) != 0)
                ++failures;
            SKzChunkHeader header{0, 0, 0};
            const size_t row = 240, rowBytes = 640 * 2;
            if (reader.GetChunkPart(header, data, 8 + row * rowBytes, rowBytes, chunk.GetString()) != 0 ||
                std::memcmp(data.GetData(), frame.data() + row * rowBytes, rowBytes) != 0)
                ++failures;
        }
        reader.Finalize();
    }
    if (argc <= 1)
        unlink(path.c_str());
    std::printf(failures ? "read back with %d failures\n" : "read back every frame intact\n", failures);
    return failures ? 1 : 0;
}
