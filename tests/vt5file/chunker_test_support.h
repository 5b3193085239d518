// Helpers of the container tests: temporary folders, file bytes, little-endian fields.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace ct {

// The fixed names of the container: signature chunk, map chunk, trailer.
inline const char* const kSig = "VT5 FILE SIGNATURE CHUNK NAME01!";
inline const char* const kMapName = "VT5 FILEMAP SIGNATURE NAME 0001!";
inline const char* const kMapSig = "VT5 CHUNK MAP SIGNATURE 0000001!";

using Bytes = std::vector<unsigned char>;

inline std::wstring widen(const std::string& s)
{
    std::wstring w;
    for (unsigned char c : s)
        w.push_back(static_cast<wchar_t>(c));
    return w;
}

inline Bytes readAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void writeAll(const std::string& path, const Bytes& b)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

inline uint32_t le32(const Bytes& b, size_t at)
{
    return uint32_t(b.at(at)) | uint32_t(b.at(at + 1)) << 8 | uint32_t(b.at(at + 2)) << 16 |
           uint32_t(b.at(at + 3)) << 24;
}

inline uint64_t le64(const Bytes& b, size_t at)
{
    return uint64_t(le32(b, at)) | uint64_t(le32(b, at + 4)) << 32;
}

inline void put32(Bytes& b, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

inline void put64(Bytes& b, uint64_t v)
{
    for (int i = 0; i < 8; ++i)
        b.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

inline std::string text(const Bytes& b, size_t at, size_t n)
{
    return std::string(reinterpret_cast<const char*>(b.data()) + at, n);
}

inline bool allZero(const Bytes& b, size_t from, size_t to)
{
    for (size_t i = from; i < to; ++i)
        if (b.at(i) != 0)
            return false;
    return true;
}

// Deterministic pattern bytes.
inline Bytes pattern(size_t n, unsigned seed)
{
    Bytes b(n);
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < n; ++i) {
        x = x * 1664525u + 1013904223u;
        b[i] = static_cast<unsigned char>(x >> 24);
    }
    return b;
}

// A fresh folder per test, removed afterwards.
class TempDirTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/vt5_container_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        m_dir = tmpl;
    }
    void TearDown() override
    {
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
    }
    std::string path(const std::string& name) const { return m_dir + "/" + name; }
    std::wstring wpath(const std::string& name) const { return widen(path(name)); }

    std::string m_dir;
};

} // namespace ct
