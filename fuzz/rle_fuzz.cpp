// Run-length blobs from untrusted files: arbitrary bytes as raw and compressed
// blobs, with and without a preset size, plus the in-place header readers. What
// loads (rows in any order, runs overlapping, boxes replaced where they miss the
// pixels) keeps its pixels inside its boxes, is hit-tested against its painting,
// painted into a picture smaller than it may claim, edited, cut and measured, saved
// and reloaded, and must come back equal.
#include "gnr_picture/CKzPicBufAPI.h"
#include "gnr_picture/CKzRLEPicBufAPI.h"
#include "gnr_system/CKzAlloc.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using API = CKzRLEPicBufAPI;

void Check(bool condition)
{
    if (!condition) std::abort();
}

// The picture's counters agree with its block: it saves and loads back equal.
void CheckReloads(SKzRLEPicBuf* pic)
{
    const unsigned long n = API::SaveToMemory(pic, nullptr);
    std::vector<uint8_t> blob(n);
    API::SaveToMemory(pic, blob.data());
    SKzRLEPicBuf back;
    API::Init(&back, pic->uiCustomDataBytes, true);
    Check(API::LoadFromMemory(&back, blob.data(), blob.size()) == KZ_OK);
    Check(API::IsEqual(pic, &back));
    API::Free(&back);
}

// Editing and shape operations on a copy of what loaded.
void Edit(SKzRLEPicBuf* pic)
{
    SKzRLEPicBuf ed;
    API::Init(&ed, pic->uiCustomDataBytes, true);
    if (API::Copy(&ed, pic) != KZ_OK) {
        API::Free(&ed);
        return;
    }
    if (SKzRLEObject* first = API::GetNextRLEObject(&ed, nullptr)) {
        API::IsRectangular(first);
        API::AddObject(&ed, first, nullptr);
        first = API::GetNextRLEObject(&ed, nullptr);
        SKzRLEObject* added = nullptr;
        API::AddObjectCutDims(&ed, first, (first->uiState & 1) != 0, &added);
        first = API::GetNextRLEObject(&ed, nullptr);
        API::AddObjectCutDims(&ed, first, false, &added);
    }
    CheckReloads(&ed);
    API::CopyObjectsWithStatus(&ed, &ed, 0, 0x40);
    unsigned positions[] = {0, 2, 3};
    API::DeleteObject(&ed, positions, 3);
    API::DeleteObjectsWithStatus(&ed, 0x40);
    API::DeleteObjectWithID(&ed, 1);
    CheckReloads(&ed);

    SKzRLEPicBuf cut;
    API::Init(&cut, 2, true);
    API::Reinit(&cut, 16, 16);
    Check(API::CutRectangle(&cut, pic, 1, 1, 6, 5) == KZ_OK);
    CheckReloads(&cut);
    API::Free(&cut);

    // Box-sized work only for boxes a fuzzer run can afford.
    unsigned measured = 0;
    for (SKzRLEObject* o = API::GetNextRLEObject(pic, nullptr); o && measured < 4; o = API::GetNextRLEObject(pic, o)) {
        const int64_t w = int64_t(o->iRight) - o->iLeft + 1, h = int64_t(o->iBottom) - o->iTop + 1;
        if (w > 512 || h > 512) continue;
        ++measured;
        unsigned counts[4];
        API::Projections(o, counts, 64);
        API::OuterProjections(o, counts, pic->uiWidth);
        GetSegmentCount(o);
        CKzAlloc::Free(ObjectComplement(o));
        CKzAlloc::Free(RLEFillHolesOnObject(o));
    }
    API::Free(&ed);
}

// What loads holds every object's pixels inside its box, whatever order its rows
// and runs are stored in.
void CheckBoxes(SKzRLEPicBuf* pic)
{
    for (SKzRLEObject* o = API::GetNextRLEObject(pic, nullptr); o; o = API::GetNextRLEObject(pic, o)) {
        const uint8_t* rec = reinterpret_cast<const uint8_t*>(o);
        const uint64_t end = uint64_t(o->uiSize) - pic->uiCustomDataBytes;
        uint64_t at = sizeof(SKzRLEObject);
        for (uint32_t r = 0; r < o->uiRowCount; ++r) {
            SKzRowSegment row;
            std::memcpy(&row, rec + at, sizeof row);
            for (uint32_t k = 0; k < row.uiRunCount; ++k) {
                SKzSegment run;
                std::memcpy(&run, rec + at + 8 + 8 * uint64_t(k), sizeof run);
                if (!run.uiLength) continue;
                Check(int64_t(row.uiY) >= o->iTop && int64_t(row.uiY) <= o->iBottom);
                Check(int64_t(run.uiX) >= o->iLeft && int64_t(run.uiX) + run.uiLength - 1 <= o->iRight);
            }
            at += 8 + 8 * uint64_t(row.uiRunCount);
            Check(at <= end);
        }
    }
}

// A pixel is painted exactly where some object holds it, and hit tests agree.
void CheckHits(SKzRLEPicBuf* pic, const SKzPicBuf& img)
{
    if (img.uiWidth > 32 || img.uiHeight > 32 || pic->uiObjectCount > 256) return;
    for (unsigned y = 0; y < img.uiHeight; ++y)
        for (unsigned x = 0; x < img.uiWidth; ++x) {
            const bool painted = img.pData[y * img.uiWidthBytes + x] != 0;
            Check(API::HitTest(pic, x, y, nullptr, nullptr) == painted);
        }
}

void Exercise(SKzRLEPicBuf* pic)
{
    CheckBoxes(pic);
    Edit(pic);
    unsigned index = 0;
    SKzRLEObject* obj = nullptr;
    API::HitTest(pic, 1, 1, &index, &obj);
    API::HitTestVisible(pic, 2, 0, &index, &obj);
    double d = 0;
    API::HitTestVisibleEx(pic, 3.5, 2.5, 1.0, &index, &obj, &d);
    API::FindObjectByObjectIDCycle(pic, nullptr, 1);
    for (SKzRLEObject* o = API::GetNextRLEObject(pic, nullptr); o; o = API::GetNextRLEObject(pic, o))
        for (SKzRowSegment* r = API::GetNextRowSegment(o, nullptr); r; r = API::GetNextRowSegment(o, r)) {
        }

    // Paint into a picture of the claimed size when small, else a small one (refused).
    SKzPicBuf img;
    CKzPicBufAPI::Init(&img);
    const unsigned w = pic->uiWidth && pic->uiWidth <= 64 ? pic->uiWidth : 8;
    const unsigned h = pic->uiHeight && pic->uiHeight <= 64 ? pic->uiHeight : 8;
    if (CKzPicBufAPI::Reinit(&img, w, h, 0, 8, 1, true) == KZ_OK) {
        if (API::ConvertRLEToPicBuf(&img, pic, 0) == KZ_OK) CheckHits(pic, img);
        SKzRLEPicBuf again;
        API::Init(&again, 0, true);
        API::ConvertPicBufToPaintedRLE(&again, &img, 8);
        API::Free(&again);
        CKzPicBufAPI::Free(&img);
    }

    // A bit picture of at most 64 x 64 and the forms.
    std::vector<uint8_t> bits(8 * 64, 0);
    SKzBinPicBuf bin{w, h, 8, unsigned(bits.size()), bits.data()};
    API::ConvertRLEToBinPicBuf(&bin, pic);
    API::ConvertAndFilterRLEToBinPicBuf(&bin, pic, 1, 0x40);
    if (SKzRLEObject* first = API::GetNextRLEObject(pic, nullptr)) API::ExtractRLEObjectToBinPicBuf(&bin, first);
    if (pic->uiHeight <= 4096) {
        SKzRLEPicBuf np, pp;
        API::Init(&np, 0, false);
        API::Init(&pp, 0, true);
        if (API::ConvertRLEToNonPaintedRLE(&np, pic) == KZ_OK) API::ConvertRLEToPaintedRLE(&pp, &np);
        API::Free(&np);
        API::Free(&pp);
    }

    unsigned long len = 0;
    void* z = API::SaveToMemoryCompress(pic, 1, 1, &len);
    if (!z) return;
    SKzRLEPicBuf back;
    API::Init(&back, pic->uiCustomDataBytes, true);
    Check(API::LoadFromMemoryUncompress(&back, 1, z, len) == KZ_OK);
    Check(API::IsEqual(pic, &back));
    API::Free(&back);
    CKzAlloc::Free(z);
}

void LoadRaw(const uint8_t* data, size_t size, unsigned preset)
{
    SKzRLEPicBuf pic;
    API::Init(&pic, 0, true);
    API::Reinit(&pic, preset, preset);
    std::vector<uint8_t> copy(data, data + size);
    if (API::LoadFromMemory(&pic, copy.data(), copy.size()) == KZ_OK) {
        Exercise(&pic);
    } else {
        Check(pic.pObjects == nullptr && pic.uiObjectCount == 0);
        Check(pic.uiWidth == preset && pic.uiHeight == preset);
    }
    API::Free(&pic);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (1u << 16)) return 0;
    LoadRaw(data, size, 0);
    LoadRaw(data, size, 16);

    std::vector<uint8_t> copy(data, data + size);
    API::GetObjectCountFromMemory(copy.data(), copy.size());
    bool changed = false;
    const std::vector<uint8_t> before = copy;
    const kz_result rc = API::ResetBinObjStatesInMemory(copy.data(), copy.size(), 0x41, 0x40, &changed);
    Check(changed || copy == before);
    if (rc != KZ_OK) Check(copy == before);

    // The same bytes as a compressed blob, and the bytes compressed by us.
    for (unsigned preset : {0u, 16u}) {
        SKzRLEPicBuf pic;
        API::Init(&pic, 0, true);
        API::Reinit(&pic, preset, preset);
        std::vector<uint8_t> z(data, data + size);
        if (API::LoadFromMemoryUncompress(&pic, 1, z.data(), z.size()) == KZ_OK) Exercise(&pic);
        API::Free(&pic);
    }
    unsigned long len = 0;
    void* z = API::SaveToMemoryCompressRaw(copy.data(), copy.size(), 1, 1, &len);
    if (z) {
        SKzRLEPicBuf pic;
        API::Init(&pic, 0, true);
        if (API::LoadFromMemoryUncompress(&pic, 1, z, len) == KZ_OK) Exercise(&pic);
        API::Free(&pic);
        CKzAlloc::Free(z);
    }
    return 0;
}
