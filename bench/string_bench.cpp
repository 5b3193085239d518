// String copy and append: CKzStringW against std::wstring as the baseline,
// measured in the same run.
#include "gnr_system/CKzString.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

const wchar_t* const kText = L"C:\\Acquisitions\\2024\\Experiment 17\\Plate A\\Well B3\\Image 00042.vt5";

// Copy of a 67-character text: a shared buffer against a private one.
void BM_Copy_CKzStringW(benchmark::State& state)
{
    const CKzStringW src(kText);
    for (auto _ : state) {
        CKzStringW copy(src);
        benchmark::DoNotOptimize(copy.GetString());
    }
}
BENCHMARK(BM_Copy_CKzStringW);

void BM_Copy_StdWstring(benchmark::State& state)
{
    const std::wstring src(kText);
    for (auto _ : state) {
        std::wstring copy(src);
        benchmark::DoNotOptimize(copy.data());
    }
}
BENCHMARK(BM_Copy_StdWstring);

// Copy of a long text (a 4096-character description): no character is copied.
void BM_CopyLong_CKzStringW(benchmark::State& state)
{
    const CKzStringW src(std::wstring(4096, L'd').c_str());
    for (auto _ : state) {
        CKzStringW copy(src);
        benchmark::DoNotOptimize(copy.GetString());
    }
}
BENCHMARK(BM_CopyLong_CKzStringW);

void BM_CopyLong_StdWstring(benchmark::State& state)
{
    const std::wstring src(4096, L'd');
    for (auto _ : state) {
        std::wstring copy(src);
        benchmark::DoNotOptimize(copy.data());
    }
}
BENCHMARK(BM_CopyLong_StdWstring);

// Copies passed around and assigned, as records do with their names.
void BM_CopyAssign_CKzStringW(benchmark::State& state)
{
    const CKzStringW src(kText);
    CKzStringW slots[8];
    for (auto _ : state) {
        for (auto& s : slots) s = src;
        benchmark::DoNotOptimize(slots[7].GetString());
        for (auto& s : slots) s.Empty();
    }
}
BENCHMARK(BM_CopyAssign_CKzStringW);

void BM_CopyAssign_StdWstring(benchmark::State& state)
{
    const std::wstring src(kText);
    std::wstring slots[8];
    for (auto _ : state) {
        for (auto& s : slots) s = src;
        benchmark::DoNotOptimize(slots[7].data());
        for (auto& s : slots) s.clear();
    }
}
BENCHMARK(BM_CopyAssign_StdWstring);

// Building a text of n characters from single characters.
void BM_AppendChar_CKzStringW(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    for (auto _ : state) {
        CKzStringW s;
        for (int i = 0; i < n; ++i) s.AddChar(static_cast<wchar_t>(L'a' + (i & 15)));
        benchmark::DoNotOptimize(s.GetString());
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_AppendChar_CKzStringW)->Arg(64)->Arg(4096);

void BM_AppendChar_StdWstring(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    for (auto _ : state) {
        std::wstring s;
        for (int i = 0; i < n; ++i) s.push_back(static_cast<wchar_t>(L'a' + (i & 15)));
        benchmark::DoNotOptimize(s.data());
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_AppendChar_StdWstring)->Arg(64)->Arg(4096);

// Building a text from n pieces of text.
void BM_AppendText_CKzStringW(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    for (auto _ : state) {
        CKzStringW s;
        for (int i = 0; i < n; ++i) s += L"piece, ";
        benchmark::DoNotOptimize(s.GetString());
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_AppendText_CKzStringW)->Arg(16)->Arg(1024);

void BM_AppendText_StdWstring(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    for (auto _ : state) {
        std::wstring s;
        for (int i = 0; i < n; ++i) s += L"piece, ";
        benchmark::DoNotOptimize(s.data());
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_AppendText_StdWstring)->Arg(16)->Arg(1024);

}  // namespace
