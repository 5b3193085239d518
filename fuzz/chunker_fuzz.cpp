// Opens arbitrary bytes as a chunk container (memory backing or a temporary
// file), walks the map, reads every chunk whole and in parts, repairs a
// missing map, and appends to what opens for writing.
//
// The first input byte selects the road: bit 0 file instead of memory,
// bit 1 rebuild a missing map, bit 2 open for appending, bits 3-4 where the
// progress callback stops the rebuild, bit 7 the harness writes a valid
// 4096-byte signature block first. The rest is the file (after that block).
// With bit 7 a whole container fits the fuzzer's default length limit: the
// map chunk need not be padded for the reader, so chunks, the map and its
// trailer take a few hundred bytes.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "gnr_system/CKzByteArray.h"
#include "gnr_system/CKzString.h"
#include "vt5file/CKzFileChunker.h"

namespace {

int g_stopAfter = 0;
int g_calls = 0;

bool stopper(double fraction, void*)
{
    if (fraction < 0.0 || fraction > 1.0)
        __builtin_trap();
    return g_stopAfter && ++g_calls >= g_stopAfter;
}

int seeChunk(SKzChunkHeader& header, CKzStringA& name, CKzByteArray& data, void*)
{
    if (header.uiDataLength != data.GetSize() && name.GetString()[0] != '#')
        __builtin_trap();
    return KZ_ERR_TRUNCATED;
}

void readAll(CKzFileChunker& c, const uint8_t* data, size_t size)
{
    CKzStringA name;
    CKzByteArray chunk(1024);
    CKzByteArray part(64);
    std::string previous;
    int guard = 0;
    for (int r = c.GetNextChunkID(name, ""); r == 0 && guard < 100000; ++guard) {
        previous = name.GetString();
        if (c.GetChunk(chunk, previous.c_str()) == 0) {
            const u64 n = chunk.GetSize();
            SKzChunkHeader h{0, 0, 0};
            const size_t starts[] = {0, static_cast<size_t>(n / 2), static_cast<size_t>(n ? n - 1 : 0)};
            for (size_t s : starts) {
                const unsigned len = static_cast<unsigned>(n - s < 3 ? n - s : 3);
                if (c.GetChunkPart(h, part, s, len, previous.c_str()) == 0) {
                    if (part.GetSize() != len)
                        __builtin_trap();
                    for (unsigned i = 0; i < len; ++i)
                        if (part.GetData()[i] != chunk.GetData()[s + i])
                            __builtin_trap();
                }
            }
        } else {
            SKzChunkHeader h{0, 0, 0};
            c.GetChunkPart(h, part, size ? data[size / 2] : 0, 16, previous.c_str());
        }
        r = c.GetNextChunkID(name, previous.c_str());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const uint8_t mode = data[0];
    ++data;
    --size;
    const bool useFile = mode & 1;
    const bool rebuild = mode & 2;
    const bool append = mode & 4;
    g_stopAfter = (mode >> 3) & 3;
    g_calls = 0;

    std::vector<uint8_t> withSignature;
    if (mode & 0x80) {
        withSignature.assign(4096, 0);
        const uint8_t head[16] = {0xDA, 0xCE, 0xBE, 0x0A, 32, 0, 0, 0, 64, 0, 0, 0, 0, 0, 0, 0};
        std::memcpy(withSignature.data(), head, 16);
        std::memcpy(withSignature.data() + 16, "VT5 FILE SIGNATURE CHUNK NAME01!", 32);
        std::memcpy(withSignature.data() + 48, "Ver3.0", 6);
        withSignature.insert(withSignature.end(), data, data + size);
        data = withSignature.data();
        size = withSignature.size();
    }

    CKzByteArray mem(4096);
    std::wstring wpath;
    std::string path;
    if (useFile) {
        path = "/tmp/chunker_fuzz_" + std::to_string(getpid()) + ".vt5";
        FILE* f = std::fopen(path.c_str(), "wb");
        if (!f)
            return 0;
        if (size)
            std::fwrite(data, 1, size, f);
        std::fclose(f);
        wpath.assign(path.begin(), path.end());
    } else if (size) {
        mem.SetData(data, size, CKzByteArray::eModeOpReplace, CKzByteArray::eModeAllocExact);
    }

    auto open = [&](CKzFileChunker& c, bool readOnly) {
        CKzStringA version;
        return useFile ? c.Initialize_File(wpath.c_str(), readOnly, true, version)
                       : c.Initialize_Memory(mem, readOnly, true, version);
    };

    {
        CKzFileChunker c;
        const int r = open(c, true);
        if (r == 0) {
            readAll(c, data, size);
        } else if (r == KZ_ERR_NOT_FOUND && rebuild) {
            if (c.CreateMissingChunkMap(&seeChunk, nullptr, &stopper) == 0)
                readAll(c, data, size);
        }
        c.Finalize();
    }
    if (append) {
        CKzFileChunker w;
        if (open(w, false) == 0) {
            const char frame[5000] = {1, 2, 3};
            w.SetChunk("abc", 3, "Added");
            w.SetChunk("time1234", 8, frame, sizeof frame, "Frame");
            w.SetChunkPart("time1234", 8, frame, 100, 200, false, "Rows");
            w.SetChunkPart("time1234", 8, frame, 100, 200, true, "Rows");
            if (w.Finalize() == 0) {
                CKzFileChunker r;
                if (open(r, true) != 0)
                    __builtin_trap(); // what we finished must open again
                CKzByteArray a(16);
                if (r.GetChunk(a, "Added") != 0 || a.GetSize() != 3 || r.GetChunk(a, "Frame") != 0 ||
                    a.GetSize() != 5008 || r.GetChunk(a, "Rows") != 0 || a.GetSize() != 208)
                    __builtin_trap();
                readAll(r, data, size);
                r.Finalize();
            }
        } else {
            w.Finalize();
        }
    }
    if (useFile)
        unlink(path.c_str());
    return 0;
}
