// Memory that cannot be had never ends the host's process: with every
// `operator new` of this program failing, the exported functions return
// their failure value (-3 for result codes, 0 for handle-creating and
// counting functions) instead of letting std::bad_alloc cross into the
// host, and the handles work as before once memory is back.
//
// This program's operator new is replaced by one that can be switched to
// fail; it is off except inside FailingNew scopes.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "replaced_operator_new.h"
#include "w32_qorfilesdk/QorFile.h"
#include "w32_qorfilesdk/handle_test_support.h"

namespace {

std::atomic<bool> g_failNew{false};

}  // namespace

void* TestNewBlock(std::size_t n)
{
    if (g_failNew.load(std::memory_order_relaxed))
        return nullptr;
    return std::malloc(n ? n : 1);
}

namespace {

// Every operator new fails while a FailingNew lives. No test assertion may
// run inside (gtest allocates to report).
struct FailingNew {
    FailingNew() { g_failNew = true; }
    ~FailingNew() { g_failNew = false; }
};

struct Call {
    const char* name;
    std::function<long long()> run;
    // Acceptable results with memory failing: the function's failure value
    // for memory, or the result it gives anyway when it needs no memory.
    std::vector<long long> allowed;
};

TEST(CapiOutOfMemory, ExportedFunctionsReturnTheirFailureValue)
{
    const std::string path = ht::TempName("oom");
    ht::FileSpec shape;
    shape.frames = 4;
    ht::WriteFile(path, shape);
    const std::wstring wpath = ht::W(path);
    const std::string outPath = ht::TempName("oom_out");
    const std::wstring wout = ht::W(outPath);

    const int h = Qor_FileOpenForRead(wpath.c_str());
    ASSERT_NE(h, 0);
    ht::HandleGuard guard(h);

    // Buffers made before memory fails.
    std::vector<unsigned char> frame(4096), rect(4096), tag(64);
    QORPICTURE pic{};
    ASSERT_GT(Qor_InitPicture(&pic, shape.width, shape.height, 8, 1), 0u);
    QORMETADATA_DESC* md = new QORMETADATA_DESC();
    QOREXPERIMENT* exp = new QOREXPERIMENT();
    QORTEXTINFO* text = new QORTEXTINFO();
    QORFILECUSTOMDATASET* tags = new QORFILECUSTOMDATASET();  // null pData: names and sizes only
    QORBINARIES* binaries = new QORBINARIES();
    QORUSEREVENT* event = new QORUSEREVENT();
    double info[4];
    double value = 0;
    int id = 1;

    const long long kNoMemory = KZ_ERR_OUT_OF_MEMORY;
    const std::vector<Call> calls = {
        // Handle-creating functions give 0.
        {"Qor_FileOpenForRead", [&] { return (long long)Qor_FileOpenForRead(wpath.c_str()); }, {0}},
        {"Qor_FileOpenForWrite", [&] { return (long long)Qor_FileOpenForWrite(wout.c_str()); }, {0}},
        {"Qor_FileCreateModifiedFile",
         [&] { return (long long)Qor_FileCreateModifiedFile(wout.c_str(), h, nullptr, nullptr, nullptr, nullptr); },
         {0}},
        // Result codes give -3 where the call needs memory.
        {"Qor_FileGetMetadata", [&] { return (long long)Qor_FileGetMetadata(h, md); }, {kNoMemory, KZ_OK}},
        {"Qor_FileGetExperiment", [&] { return (long long)Qor_FileGetExperiment(h, exp); }, {kNoMemory, KZ_OK}},
        {"Qor_FileGetTextinfo", [&] { return (long long)Qor_FileGetTextinfo(h, text); }, {kNoMemory, KZ_OK}},
        {"Qor_FileGetImageData", [&] { return (long long)Qor_FileGetImageData(h, 1, &pic, info); },
         {kNoMemory, KZ_OK}},
        {"Qor_FileGetImageRectData",
         [&] {
             return (long long)Qor_FileGetImageRectData(h, 0, 4, 3, 0, 0, 4, 3, rect.data(), 4, 0, info);
         },
         {kNoMemory}},
        {"Qor_GetNextUserEvent", [&] { return (long long)Qor_GetNextUserEvent(h, &id, event); }, {kNoMemory}},
        {"Qor_GetRecordedDataDouble", [&] { return (long long)Qor_GetRecordedDataDouble(h, L"X", 0, &value); },
         {kNoMemory, KZ_ERR_NOT_FOUND}},
        {"Qor_FileGetCustomData (record)", [&] { return (long long)Qor_FileGetCustomData(h, tags); },
         {kNoMemory, KZ_OK}},
        {"Qor_FileGetCustomData (list)", [&] { return (long long)Qor_FileGetCustomData(h, (void*)nullptr); },
         {kNoMemory}},
        {"Qor_FileGetCustomDataTag",
         [&] { return (long long)Qor_FileGetCustomDataTag(h, L"alpha", tag.data()); }, {0, 3}},
        {"Qor_FileSetCustomDataTag", [&] { return (long long)Qor_FileSetCustomDataTag(h, L"fresh", "abc", 3); },
         {kNoMemory}},
        {"Qor_FileGetBinaryDescriptors", [&] { return (long long)Qor_FileGetBinaryDescriptors(h, binaries); },
         {kNoMemory, KZ_OK}},
        {"Qor_FileGetBinary", [&] { return (long long)Qor_FileGetBinary(h, 0, 0, &pic); },
         {kNoMemory, KZ_ERR_NOT_FOUND}},
        {"Qor_SetStageAlignment",
         [&] {
             const double sx[3] = {0, 10, 0}, sy[3] = {0, 0, 10}, dx[3] = {1, 11, 1}, dy[3] = {2, 2, 12};
             return (long long)Qor_SetStageAlignment(h, 3, sx, sy, dx, dy);
         },
         {kNoMemory}},
        // Counting functions give 0.
        {"Qor_GetCustomDataCount", [&] { return (long long)Qor_GetCustomDataCount(h); }, {0, 2}},
    };

    std::vector<long long> got(calls.size());
    {
        FailingNew failing;
        for (size_t i = 0; i < calls.size(); ++i)
            got[i] = calls[i].run();
    }
    int refused = 0;
    for (size_t i = 0; i < calls.size(); ++i) {
        bool ok = false;
        for (long long a : calls[i].allowed)
            ok = ok || got[i] == a;
        EXPECT_TRUE(ok) << calls[i].name << " gave " << got[i];
        refused += got[i] == kNoMemory;
    }
    EXPECT_GE(refused, 6) << "the calls above do need memory";

    // Memory back: the handle serves as before.
    EXPECT_EQ(Qor_FileGetImageData(h, 1, &pic, info), KZ_OK);
    EXPECT_EQ(static_cast<unsigned char*>(pic.pData)[0], 2);
    EXPECT_EQ(Qor_FileGetImageRectData(h, 0, 4, 3, 0, 0, 4, 3, rect.data(), 4, 0, info), KZ_OK);
    id = 1;
    EXPECT_EQ(Qor_GetNextUserEvent(h, &id, event), KZ_OK);
    EXPECT_EQ(Qor_FileSetCustomDataTag(h, L"fresh", "abc", 3), KZ_OK);
    EXPECT_EQ(Qor_FileGetCustomDataTag(h, L"alpha", tag.data()), 3u);

    Qor_DestroyPicture(&pic);
    delete md;
    delete exp;
    delete text;
    delete tags;
    delete binaries;
    delete event;
}

}  // namespace
