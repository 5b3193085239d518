// Opens a VT5 file and calls every reader operation: attributes, frames (up
// to a size cap), component and rectangle reads (thumbnail included), text
// information, binary picture, custom data of all four kinds, acquisition
// time, experiment, frame metadata and events.
//
// An input that starts with a chunk header's magic is the file itself (the
// shipped corpus holds whole files); any other input is built into a valid
// file around it (vt5_skeleton.h), so that the target finds its way past
// the signature, the map and the attributes from an empty corpus.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "gnr_metaformats/SKzExperiment.h"
#include "gnr_metaformats/SKzExperimentEvent.h"
#include "gnr_metaformats/SKzPictureMetadata.h"
#include "gnr_system/CKzByteArray.h"
#include "gnr_system/CKzVariant.h"
#include "vt5file/CKzImageFormatVT5.h"
#include "vt5file/KzVT5Names.h"
#include "vt5_skeleton.h"

namespace {

const u64 kCap = 16u << 20;  // largest buffer the target hands to the reader

std::string g_narrowPath;

void removeFile() { std::remove(g_narrowPath.c_str()); }

// One file per process, removed when the process ends.
const std::wstring& filePath()
{
    static const std::wstring path = [] {
        g_narrowPath = "/tmp/vt5file_fuzz_" + std::to_string(getpid()) + ".vt5";
        std::atexit(removeFile);
        return std::wstring(g_narrowPath.begin(), g_narrowPath.end());
    }();
    return path;
}

bool writeFile(const uint8_t* data, size_t size)
{
    const std::string p(filePath().begin(), filePath().end());
    FILE* f = std::fopen(p.c_str(), "wb");
    if (!f)
        return false;
    // An empty input comes with a null pointer, which fwrite may not take.
    const bool ok = size == 0 || std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

void exercise(IKzInputImageFile* r)
{
    SKzImageAttributes a{};
    const int ra = r->GetImageAttributes(a);
    const u64 frameBytes = (u64)a.uiWidthBytes * a.uiHeight;
    if (ra == 0 && frameBytes && frameBytes <= kCap) {
        std::vector<u8> frame(frameBytes);
        for (u32 seq : {0u, 1u, 2u, a.uiSequenceCount - 1, 0x80000000u})
            r->GetData(seq, frame.data(), nullptr, nullptr);
        const u64 compRow = (u64)a.uiWidth * 2;
        if (compRow * a.uiHeight <= kCap && compRow <= 0xFFFFFFFFu) {
            std::vector<u8> comp(compRow * a.uiHeight + 1);
            r->GetComponentData(0, a.uiComp ? a.uiComp - 1 : 0, comp.data(), (u32)compRow, 1);
        }
    }
    // Rectangles: enlarged, reduced, beyond the edge, and the whole virtual
    // picture (the thumbnail road of deflated frames).
    const u64 pixel = (u64)a.uiComp * 4;
    struct Rect { u32 vw, vh, x, y, w, h; };
    const Rect rects[] = {{a.uiWidth * 2 + 1, a.uiHeight * 2 + 1, 1, 1, 9, 7},
                          {a.uiWidth / 3 + 1, a.uiHeight / 3 + 1, 0, 0, 5, 4},
                          {a.uiWidth, a.uiHeight, a.uiWidth, a.uiHeight, 3, 3},
                          {16, 12, 0, 0, 16, 12}};
    for (const Rect& q : rects) {
        const u64 rowBytes = q.w * pixel;
        if (rowBytes == 0 || rowBytes > 0xFFFFFFFFu || rowBytes * q.h > kCap)
            continue;
        std::vector<u8> out(rowBytes * q.h);
        r->GetRectData(0, q.vw, q.vh, q.x, q.y, q.w, q.h, out.data(), (u32)rowBytes, 0, nullptr, nullptr);
    }
    const u64 binary = vt5names::BinaryBytes(a.uiWidth, a.uiHeight);
    if (binary <= kCap) {
        std::vector<u8> bits(binary + 1);
        r->GetImageBinary(bits.data());
    }
    SKzImageTextInfo text;
    r->GetImageTextInfo(text);
    CKzByteArray bytes;
    CKzVariant v;
    r->GetCustomData(L"Blob", bytes);
    r->GetCustomData(L"Thumbnail_V1_0", bytes);
    r->GetCustomDataSeq(L"Blob", 1, bytes);
    r->GetCustomDataVar(L"Blob", v);
    CKzVariant seq;
    r->GetCustomDataVarSeq(L"Blob", 3, seq);
    double t = 0;
    r->GetAcqTime(t);
    {
        SKzExperiment experiment;
        r->GetImageMetadata(experiment, nullptr);
    }
    for (u32 seq : {0u, 1u, a.uiSequenceCount - 1}) {
        SKzPictureMetadata metadata;
        r->GetImageMetadata(seq, metadata, nullptr);
    }
    SKzExperimentRecord events;
    r->GetImageEvents(events, nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (4u << 20))
        return 0;
    const bool whole = size >= 4 && data[0] == 0xDA && data[1] == 0xCE && data[2] == 0xBE && data[3] == 0x0A;
    filePath();
    if (whole ? !writeFile(data, size) : !vt5skeleton::Build(data, size, g_narrowPath))
        return 0;
    CKzImageFormatVT5 format;
    IKzInputImageFile* r = nullptr;
    if (format.CreateInputImageFile(CKzStringW(filePath().c_str()), r) == 0 && r) {
        exercise(r);
        r->Release();
    }
    return 0;
}
