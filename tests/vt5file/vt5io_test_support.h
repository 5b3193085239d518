// Helpers of the VT5 reader and writer tests: attribute records, files of a
// given version, frames, and an independent check of the container layout.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "vt5file/CKzFileChunker.h"
#include "vt5file/CKzImageFormatVT5.h"
#include "vt5file/CKzVT5InputFile.h"
#include "vt5file/CKzVT5OutputFile.h"
#include "vt5file/chunker_test_support.h"

namespace vt {

using ct::Bytes;

inline SKzImageAttributes attrs(u32 w, u32 h, u32 comp, u8 bits, i32 compression, double param = 1.0,
                                u32 rowBytes = 0)
{
    SKzImageAttributes a;
    std::memset(&a, 0, sizeof(a));
    a.uiWidth = w;
    a.uiWidthBytes = rowBytes;
    a.uiHeight = h;
    a.uiComp = comp;
    a.uiBpcInMemory = bits;
    a.uiBpcSignificant = bits;
    a.ePixelType = 1;
    a.eCompression = compression;
    a.dCompressionParam = param;
    return a;
}

// An empty container of the given version text, closed.
inline void makeEmpty(const std::wstring& path, const char* version)
{
    CKzFileChunker c;
    CKzStringA v(version);
    ASSERT_EQ(c.Initialize_File(path.c_str(), false, false, v), KZ_OK);
    ASSERT_EQ(c.Finalize(), KZ_OK);
}

// A writer for path: version 3 for a new file; "Ver2.0" makes a version-2 file first.
inline IKzOutputImageFile* openWriter(const std::wstring& path, int version)
{
    if (version == 2)
        makeEmpty(path, "Ver2.0");
    CKzImageFormatVT5 format;
    IKzOutputImageFile* w = nullptr;
    EXPECT_EQ(format.CreateOutputImageFile(CKzStringW(path.c_str()), w), KZ_OK);
    return w;
}

inline IKzInputImageFile* openReader(const std::wstring& path, int* result = nullptr)
{
    CKzImageFormatVT5 format;
    IKzInputImageFile* r = nullptr;
    const int got = format.CreateInputImageFile(CKzStringW(path.c_str()), r);
    if (result)
        *result = got;
    else
        EXPECT_EQ(got, KZ_OK);
    return r;
}

// Independent check of a finished file: signature, trailer, map entries in
// descending order, each pointing at a block-aligned chunk of that name and
// data length; the file ends with the map. Returns name -> data bytes.
inline std::map<std::string, Bytes> checkContainer(const std::string& path, std::string* version = nullptr)
{
    std::map<std::string, Bytes> chunks;
    const Bytes f = ct::readAll(path);
    EXPECT_GE(f.size(), 8192u);
    EXPECT_EQ(f.size() % 4096, 0u);
    if (f.size() < 8192)
        return chunks;
    EXPECT_EQ(ct::le32(f, 0), 0x0ABECEDAu);
    EXPECT_EQ(ct::le32(f, 4), 32u);
    EXPECT_EQ(ct::le64(f, 8), 64u);
    EXPECT_EQ(ct::text(f, 16, 32), ct::kSig);
    if (version)
        *version = std::string(reinterpret_cast<const char*>(f.data()) + 48);
    EXPECT_EQ(ct::text(f, f.size() - 40, 32), ct::kMapSig);
    const uint64_t mapAt = ct::le64(f, f.size() - 8);
    EXPECT_EQ(mapAt % 4096, 0u);
    EXPECT_LT(mapAt, f.size());
    EXPECT_EQ(ct::le32(f, mapAt), 0x0ABECEDAu);
    EXPECT_EQ(ct::text(f, mapAt + 16, 32), ct::kMapName);
    const uint64_t dataLen = ct::le64(f, mapAt + 8);
    size_t at = mapAt + 48;
    const size_t end = mapAt + 48 + dataLen;
    std::string previous;
    while (at < end) {
        if (ct::text(f, at, 32) == ct::kMapSig)
            break;
        size_t bang = at;
        while (bang < end && f[bang] != '!')
            ++bang;
        const std::string name = ct::text(f, at, bang + 1 - at);
        const uint64_t off = ct::le64(f, bang + 1);
        const uint64_t size = ct::le64(f, bang + 9);
        at = bang + 17;
        if (!previous.empty())
            EXPECT_GT(previous, name) << "map order";
        previous = name;
        EXPECT_EQ(off % 4096, 0u) << name;
        EXPECT_EQ(ct::le32(f, off), 0x0ABECEDAu) << name;
        const uint32_t nf = ct::le32(f, off + 4);
        EXPECT_EQ(ct::le64(f, off + 8), size) << name;
        EXPECT_EQ(ct::text(f, off + 16, name.size()), name);
        EXPECT_TRUE(ct::allZero(f, off + 16 + name.size(), off + 16 + nf)) << name;
        EXPECT_LE(off + 16 + nf + size, mapAt) << name;
        chunks[name] = Bytes(f.begin() + off + 16 + nf, f.begin() + off + 16 + nf + size);
    }
    return chunks;
}

// Frame of pattern bytes for the attributes (normalised row bytes).
inline Bytes frame(const SKzImageAttributes& a, unsigned seed)
{
    const u64 row = a.uiWidthBytes ? a.uiWidthBytes : (u64)a.uiWidth * a.uiComp * ((a.uiBpcInMemory + 7) / 8);
    return ct::pattern(row * a.uiHeight, seed);
}

}  // namespace vt
