// Lite-variant blobs of about 10,000 keys in nested levels: writing, reading
// every key by name in stored order (found at the cursor, O(1) each) and in a
// shuffled order (binary search through each level's index), against a raw
// walk over the same records as the baseline.
#include "gnr_system/CKzLiteVariant.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

struct Shape {
    int levels;
    int keys; // per level
};

std::vector<std::wstring> keyNames(int n)
{
    std::vector<std::wstring> v;
    for (int i = 0; i < n; ++i) {
        wchar_t b[32];
        swprintf(b, 32, L"key%05d", (i * 7919) % 100000); // not in name order
        v.push_back(b);
    }
    return v;
}

std::vector<std::wstring> levelNames(int n)
{
    std::vector<std::wstring> v;
    for (int i = 0; i < n; ++i) {
        wchar_t b[32];
        swprintf(b, 32, L"a%d", i);
        v.push_back(b);
    }
    return v;
}

void build(CKzLiteVariantR& r, const Shape& s, const std::vector<std::wstring>& lv, const std::vector<std::wstring>& keys)
{
    CKzLiteVariantW w;
    w.LevelBegin(L"Root");
    for (int l = 0; l < s.levels; ++l) {
        w.LevelBegin(lv[l].c_str());
        for (int k = 0; k < s.keys; ++k) w.Set(k + l, keys[k].c_str());
        w.LevelEnd();
    }
    w.Finalize(r);
}

Shape shapeOf(const benchmark::State& st)
{
    return Shape{(int)st.range(0), (int)st.range(1)};
}

void BM_Write(benchmark::State& st)
{
    Shape s = shapeOf(st);
    auto lv = levelNames(s.levels);
    auto keys = keyNames(s.keys);
    for (auto _ : st) {
        CKzLiteVariantR r;
        build(r, s, lv, keys);
        benchmark::DoNotOptimize(r.GetData());
    }
    st.SetItemsProcessed(st.iterations() * s.levels * s.keys);
}

void BM_ReadStoredOrder(benchmark::State& st)
{
    Shape s = shapeOf(st);
    auto lv = levelNames(s.levels);
    auto keys = keyNames(s.keys);
    CKzLiteVariantR r;
    build(r, s, lv, keys);
    for (auto _ : st) {
        long sum = 0;
        r.Reset();
        r.LevelBegin(L"Root");
        for (int l = 0; l < s.levels; ++l) {
            r.LevelBegin(lv[l].c_str());
            for (int k = 0; k < s.keys; ++k) sum += r.Get(keys[k].c_str(), 0);
            r.LevelEnd();
            r.NextValue();
        }
        benchmark::DoNotOptimize(sum);
    }
    st.SetItemsProcessed(st.iterations() * s.levels * s.keys);
}

void BM_ReadShuffled(benchmark::State& st)
{
    Shape s = shapeOf(st);
    auto lv = levelNames(s.levels);
    auto keys = keyNames(s.keys);
    std::vector<int> order(s.keys);
    for (int i = 0; i < s.keys; ++i) order[i] = i;
    std::shuffle(order.begin(), order.end(), std::mt19937(7));
    CKzLiteVariantR r;
    build(r, s, lv, keys);
    for (auto _ : st) {
        long sum = 0;
        r.Reset();
        r.LevelBegin(L"Root");
        for (int l = 0; l < s.levels; ++l) {
            r.LevelBegin(lv[l].c_str());
            for (int k : order) sum += r.Get(keys[k].c_str(), 0);
            r.LevelEnd();
            r.NextValue();
        }
        benchmark::DoNotOptimize(sum);
    }
    st.SetItemsProcessed(st.iterations() * s.levels * s.keys);
}

// Baseline: the same records walked with raw pointer arithmetic, no names compared.
void BM_BaselineRawWalk(benchmark::State& st)
{
    Shape s = shapeOf(st);
    auto lv = levelNames(s.levels);
    auto keys = keyNames(s.keys);
    CKzLiteVariantR r;
    build(r, s, lv, keys);
    const unsigned char* p = r.GetData();
    for (auto _ : st) {
        long sum = 0;
        size_t off = 2 + 2 * (size_t)p[1] + 12; // first sub-level
        for (int l = 0; l < s.levels; ++l) {
            size_t h = 2 + 2 * (size_t)p[off + 1];
            uint64_t x;
            std::memcpy(&x, p + off + h + 4, 8);
            size_t c = off + h + 12;
            for (int k = 0; k < s.keys; ++k) {
                size_t ph = 2 + 2 * (size_t)p[c + 1];
                int v;
                std::memcpy(&v, p + c + ph, 4);
                sum += v;
                c += ph + 4;
            }
            uint32_t kk;
            std::memcpy(&kk, p + off + h, 4);
            off += x + 8 * (uint64_t)kk;
        }
        benchmark::DoNotOptimize(sum);
    }
    st.SetItemsProcessed(st.iterations() * s.levels * s.keys);
}

// About 10,000 keys nested as 100 x 100, then flat levels of growing size:
// stored-order reads stay flat per key, shuffled reads grow with log(keys).
#define SHAPES Args({100, 100})->Args({1000, 10})->Args({10, 1000})->Args({1, 10000})
BENCHMARK(BM_Write)->SHAPES;
BENCHMARK(BM_ReadStoredOrder)->SHAPES;
BENCHMARK(BM_ReadShuffled)->SHAPES;
BENCHMARK(BM_BaselineRawWalk)->SHAPES;

} // namespace
