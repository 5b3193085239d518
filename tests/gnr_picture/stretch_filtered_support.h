// Shared helpers of the filtered stretch tests: seeded pictures laid out as
// scripts/gen_resample_reference.py lays them out, padded destinations, and
// pictures that end at a guard page.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace filtered_test {

constexpr float kInvalid = -3.4028235e38f;
constexpr unsigned char kPoison = 0xA5;

inline unsigned SampleSize(const std::string& type) { return type == "u8" ? 1 : type == "u16" ? 2 : 4; }

// h rows of w x comps samples, each row followed by pad poison bytes; values
// from x <- x * 1103515245 + 12345, v = x >> 16: integers v % (max + 1),
// floats ((v % 20001) - 10000) / 64, validity pictures invalid where v % 7 is 0.
struct Seeded {
    std::vector<unsigned char> bytes;
    unsigned stride;
    Seeded(const std::string& type, unsigned w, unsigned h, unsigned comps, unsigned pad, unsigned seed,
           unsigned maxValue)
    {
        const unsigned sb = SampleSize(type);
        stride = w * comps * sb + pad;
        bytes.assign(size_t(stride) * h, kPoison);
        uint32_t x = seed;
        for (unsigned y = 0; y < h; ++y)
            for (unsigned i = 0; i < w * comps; ++i) {
                x = x * 1103515245u + 12345u;
                const unsigned v = x >> 16;
                unsigned char* at = bytes.data() + size_t(y) * stride + size_t(i) * sb;
                if (type == "u8") {
                    *at = (unsigned char)(v % (maxValue + 1));
                } else if (type == "u16") {
                    const unsigned short s = (unsigned short)(v % (maxValue + 1));
                    std::memcpy(at, &s, 2);
                } else {
                    float f = float((double(v % 20001) - 10000.0) / 64.0);
                    if (type == "val" && v % 7 == 0)
                        f = kInvalid;
                    std::memcpy(at, &f, 4);
                }
            }
    }
    template <class T>
    T* at(unsigned x, unsigned y, unsigned comps)
    {
        return reinterpret_cast<T*>(bytes.data() + size_t(y) * stride) + size_t(x) * comps;
    }
};

// A destination of h rows of rowSamples samples plus pad poison bytes.
struct Padded {
    std::vector<unsigned char> bytes;
    unsigned stride, rowBytes;
    Padded(unsigned rowBytes_, unsigned h, unsigned pad) : stride(rowBytes_ + pad), rowBytes(rowBytes_)
    {
        bytes.assign(size_t(stride) * h, kPoison);
    }
    bool PaddingIntact() const
    {
        for (size_t y = 0; y * stride < bytes.size(); ++y)
            for (unsigned i = rowBytes; i < stride; ++i)
                if (bytes[y * stride + i] != kPoison)
                    return false;
        return true;
    }
    template <class T>
    T Sample(size_t index, unsigned rowSamples) const
    {
        T v;
        std::memcpy(&v, bytes.data() + (index / rowSamples) * stride + (index % rowSamples) * sizeof(T), sizeof(T));
        return v;
    }
};

// bytes of memory that end exactly at an inaccessible page.
struct GuardBlock {
    unsigned char* base = nullptr;
    unsigned char* data = nullptr;
    size_t mapped = 0;
    explicit GuardBlock(size_t bytes)
    {
        const size_t page = size_t(sysconf(_SC_PAGESIZE));
        const size_t pages = (bytes + page - 1) / page + 1;
        mapped = pages * page;
        void* p = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED)
            return;
        base = static_cast<unsigned char*>(p);
        mprotect(base + (pages - 1) * page, page, PROT_NONE);
        data = base + (pages - 1) * page - bytes;
        std::memset(data, 0x11, bytes);
    }
    ~GuardBlock()
    {
        if (base)
            munmap(base, mapped);
    }
};

} // namespace filtered_test
