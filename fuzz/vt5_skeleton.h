// Builds a valid VT5 file around fuzzer bytes, so that the file targets get
// past the signature, the map and the attributes from an empty corpus and
// spend their inputs on what lies behind them.
//
// Input layout (missing bytes take the defaults of kDefaults):
//   byte 0  flags: bit 0 version 2 (else 3); bit 1 deflated frames (else
//           raw); bit 2 an experiment (time over Z); bit 3 events, tags,
//           binary-layer descriptors, application record and custom
//           description form; bit 4 a thumbnail; bit 5 one byte of the
//           finished file changed (bytes 6-8); bit 6 the map trailer cut
//           off; bit 7 32-bit float samples
//   byte 1  width - 1 (mod 16)      byte 2  height - 1 (mod 16)
//   byte 3  components - 1 (mod 4)  byte 4  bits 0-1 depth (8, 12, 16, 8),
//           bits 2-3 frame count (0 to 3)
//   byte 5  first entry of kNames the chunk segments go to
//   bytes 6-7  offset (times 7) and byte 8 the value XORed in, for bit 5
//   the rest: segments separated by "\xA5\x5A": the first gives the frames'
//           samples (repeated to fill them), each later one replaces, as
//           it stands, the chunk of the next entry of kNames.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "gnr_metaformats/CKzCustomDescription.h"
#include "gnr_metaformats/SKzExperiment.h"
#include "gnr_metaformats/SKzExperimentEvent.h"
#include "gnr_metaformats/SKzPictureMetadata.h"
#include "gnr_system/CKzLiteVariant.h"
#include "gnr_system/CKzString.h"
#include "gnr_system/CKzVariant.h"
#include "vt5file/CKzFileChunker.h"
#include "vt5file/CKzImageFormatVT5.h"

namespace vt5skeleton {

inline const uint8_t kDefaults[9] = {0x0C, 7, 4, 0, 0x08, 0, 0, 0, 0};

// Chunks a segment may replace; "%V" is "LV" in version 3 and nothing in 2.
inline const char* const kNames[] = {
    "ImageMetadataSeq%V|0!",       "ImageMetadata%V!",
    "ImageTextInfo%V!",            "ImageEvents%V!",              "CustomData|Thumbnail_V1_0!",
    "ImageDataSeq|1!",             "ImageBinary!",                "CustomData|AcqTimesCache!",
    "CustomDataVar|Blob!",         "CustomDataVarSeq|Blob|3!",    "CustomData|Blob!",
    "CustomDataSeq|Blob|1!",       "CustomData|QorApi_CustomData!", "CustomDataVar|BinaryMetadata_v1!",
    "CustomData|CustomDescriptionV1_0!", "CustomDataVar|AppInfo_V1_0!", "CustomDataVar|AcqTimeV1_0!",
    "CustomData|X!",               "CustomDataVar|StreamDataV1_0!",  "ImageDataSeq|0!",
    "CustomData|AlignmentPoints_v1.0!", "CustomData|beta!",       "CustomDataVar|CustomDataV2_0!",
    "CustomDataSeq|BinarySeqV1_0|0!", "CustomData|QuarnStormAcqDataV3_0!", "CustomData|QuarnSimAcqDataV1_0!",
    "ImageAttributes%V!",
};
inline constexpr size_t kNameCount = sizeof(kNames) / sizeof(kNames[0]);

struct Input {
    uint8_t head[9];
    std::vector<std::vector<uint8_t>> segments;
};

inline Input Split(const uint8_t* data, size_t size)
{
    Input in;
    for (size_t i = 0; i < 9; ++i)
        in.head[i] = i < size ? data[i] : kDefaults[i];
    in.segments.emplace_back();
    for (size_t i = 9; i < size; ++i) {
        if (data[i] == 0xA5 && i + 1 < size && data[i + 1] == 0x5A) {
            in.segments.emplace_back();
            ++i;
            continue;
        }
        in.segments.back().push_back(data[i]);
    }
    return in;
}

inline std::string ChunkName(const char* pattern, bool v3)
{
    std::string s(pattern);
    const size_t at = s.find("%V");
    if (at != std::string::npos)
        s.replace(at, 2, v3 ? "LV" : "");
    return s;
}

inline SKzExperiment* TimeOverZ(uint32_t times, uint32_t zs)
{
    SKzExperiment* z = nullptr;
    SKzExperiment::Alloc(&z);
    SKzExperiment::Init(*z, SKzExperiment::eExpZStackLoop, false, zs, 0, 0, 1);
    z->uLoopPars.sZStackLoop.dZStep = 1.5;
    z->uLoopPars.sZStackLoop.dZHigh = 1.5 * (zs - 1);
    SKzExperiment* t = nullptr;
    SKzExperiment::Alloc(&t);
    SKzExperiment::Init(*t, SKzExperiment::eExpTimeLoop, false, times, 0, 1, 1);
    t->uLoopPars.sTimeLoop.dPeriod = 1000.0;
    t->ppNextLevelEx[0] = z;
    return t;
}

inline void writeRecords(IKzOutputImageFile* w, uint32_t comp)
{
    SKzExperimentRecord log;
    SKzExperimentEvent e1, e2;
    SKzExperimentEvent::Init(e1, 10.0, (SKzExperimentEvent::EMeaning)1, L"start", nullptr, 0);
    SKzExperimentEvent::Init(e2, 20.0, (SKzExperimentEvent::EMeaning)15, L"stim", nullptr, 1);
    SKzExperimentRecord::AddEvent(log, e1, nullptr);
    SKzExperimentRecord::AddEvent(log, e2, nullptr);
    SKzExperimentEvent::Free(e1);
    SKzExperimentEvent::Free(e2);
    w->SetImageEvents(log, nullptr);

    // Tag list (32-bit characters, a 0 after each name and at the end) and tags.
    const uint32_t list[] = {'b', 'e', 't', 'a', 0, 'X', 0, 'A', 'l', 'i', 'g', 'n', 'm', 'e', 'n', 't', 'P', 'o',
                             'i', 'n', 't', 's', '_', 'v', '1', '.', '0', 0, 0};
    w->SetCustomData(L"QorApi_CustomData", list, sizeof list);
    const unsigned char beta[] = {1, 2, 3};
    w->SetCustomData(L"beta", beta, 3);
    const double recorded[] = {1.5, 2.5, 3.5, 4.5};
    w->SetCustomData(L"X", recorded, sizeof recorded);

    CKzVariant root;
    root.EnableTypeChange(true);
    root.SetName(CKzStringW(L"BinaryMetadata_v1"));
    for (unsigned i = 0; i < 2; ++i) {
        CKzVariant item;
        item.SetName(CKzStringW(L"BinaryItem"));
        item.Append(CKzVariant(i ? 0x80000u : 0u, CKzStringW(L"uiState")));
        item.Append(CKzVariant(0x00FF00u + i, CKzStringW(L"uiColor")));
        item.Append(CKzVariant(i % comp, CKzStringW(L"uiCompOrder")));
        item.Append(CKzVariant(CKzStringW(i ? L"Nuclei" : L"Cells"), CKzStringW(L"strName")));
        item.Append(CKzVariant(CKzStringW(i ? L"Seq_B" : L"Seq_A"), CKzStringW(L"strFileTag")));
        item.Append(CKzVariant(CKzStringW(L""), CKzStringW(L"strCompName")));
        root.Append(item);
    }
    root.EnableTypeChange(false);
    w->SetCustomDataVar(L"BinaryMetadata_v1", &root);

    CKzVariant app;
    app.EnableTypeChange(true);
    app.SetName(CKzStringW(L"AppInfo_V1_0"));
    app.Append(CKzVariant(CKzStringW(L"Writer"), CKzStringW(L"m_Name")));
    app.Append(CKzVariant(CKzStringW(L"9.8.7"), CKzStringW(L"m_VersionString")));
    w->SetCustomDataVar(L"AppInfo_V1_0", &app);

    CKzCustomDescription form;
    form.SetName(L"Form");
    form << CKzCustomDescription::CKzNumber(L"Gain", 2.75, L"dB");
    form << CKzCustomDescription::CKzText(L"Note", L"hello");
    CKzLiteVariantW lw;
    form.SaveToLiteVariant(lw);
    CKzLiteVariantR lr;
    lw.Finalize(lr);
    w->SetCustomData(L"CustomDescriptionV1_0", lr.GetData(), lr.GetSize());
}

inline void writeThumbnail(IKzOutputImageFile* w, uint32_t comp, uint32_t bits, const std::vector<uint8_t>& samples)
{
    const uint32_t tw = 4, th = 3, wb = (tw * comp * ((bits + 7) / 8) + 3) & ~3u;
    std::vector<uint8_t> pixels(wb * th);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = samples.empty() ? (uint8_t)i : samples[i % samples.size()];
    CKzLiteVariantW lw;
    lw.LevelBegin(L"Thumbnail");
    lw.Set(comp, L"uiComp");
    lw.Set(bits, L"uiBpc");
    lw.Set(wb, L"uiWidthBytes");
    lw.Set(th, L"uiHeight");
    lw.Set(tw, L"uiWidth");
    const unsigned long n = pixels.size();
    lw.Set(pixels.data(), n, L"pData");
    lw.LevelEnd();
    CKzLiteVariantR lr;
    lw.Finalize(lr);
    w->SetCustomData(L"Thumbnail_V1_0", lr.GetData(), lr.GetSize());
}

// Writes the file at path; false when even the skeleton could not be made.
inline bool Build(const uint8_t* data, size_t size, const std::string& path)
{
    const Input in = Split(data, size);
    const uint8_t flags = in.head[0];
    const bool v3 = !(flags & 1);
    const std::wstring wpath(path.begin(), path.end());
    std::remove(path.c_str());
    if (!v3) {
        CKzFileChunker c;
        CKzStringA v("Ver2.0");
        if (c.Initialize_File(wpath.c_str(), false, false, v) != 0 || c.Finalize() != 0)
            return false;
    }
    CKzImageFormatVT5 format;
    IKzOutputImageFile* w = nullptr;
    if (format.CreateOutputImageFile(CKzStringW(wpath.c_str()), w) != 0 || !w)
        return false;

    static const uint8_t kDepths[4] = {8, 12, 16, 8};
    const bool floats = flags & 0x80;
    SKzImageAttributes a;
    std::memset(&a, 0, sizeof(a));
    a.uiWidth = 1u + in.head[1] % 16;
    a.uiHeight = 1u + in.head[2] % 16;
    a.uiComp = 1u + in.head[3] % 4;
    a.uiBpcInMemory = floats ? 32 : kDepths[in.head[4] & 3];
    a.uiBpcSignificant = a.uiBpcInMemory;
    a.ePixelType = floats ? 2 : 1;
    a.eCompression = (flags & 2) ? 0 : 2;
    a.dCompressionParam = 1.0;
    a.uiSequenceCount = (in.head[4] >> 2) & 3;
    w->SetImageAttributes(a);

    SKzPictureMetadata md;
    md.dXPos = 11.0;
    md.dYPos = 22.0;
    md.dZPos = 33.0;
    md.dCalibration = 0.5;
    md.bCalibrated = true;
    md.wsObjectiveName = L"Plan 40x";
    SKzPicturePlanes::Alloc(md.sPicturePlanes, 1, 1);
    md.sPicturePlanes.uiCompCount = a.uiComp;
    md.sPicturePlanes.pPlanes[0].uiCompCount = a.uiComp;
    md.sPicturePlanes.pPlanes[0].sDescription = L"Green";
    w->SetImageMetadata(0, md, nullptr);
    if (flags & 4) {
        SKzExperiment* e = TimeOverZ(2, a.uiSequenceCount / 2 ? a.uiSequenceCount / 2 : 1);
        w->SetImageMetadata(*e, nullptr);
        SKzExperiment::FreeRecursive(e);
    }
    SKzImageTextInfo info;
    info.wsText[0] = L"first";
    info.wsText[1] = L"Obj: %OBJECTIVE% %CALIBRATION% %UNIT%";
    info.wsText[5] = L"%ALL_METADATA%";
    info.wsText[9] = L"%TIME% %STAGE_POS_X%";
    w->SetImageTextInfo(info);
    if (flags & 8)
        writeRecords(w, a.uiComp);
    if (flags & 0x10)
        writeThumbnail(w, a.uiComp, a.uiBpcInMemory, in.segments[0]);

    const uint64_t sample = a.uiBpcInMemory > 8 ? (a.uiBpcInMemory > 16 ? 4 : 2) : 1;
    std::vector<uint8_t> frame((size_t)(a.uiWidth * a.uiComp * sample * a.uiHeight));
    const std::vector<uint8_t>& src = in.segments[0];
    for (uint32_t f = 0; f < a.uiSequenceCount; ++f) {
        for (size_t i = 0; i < frame.size(); ++i)
            frame[i] = src.empty() ? (uint8_t)(i * 7 + f) : (uint8_t)(src[i % src.size()] + f);
        if (f > 0) {
            md.dTimeMSec = f * 50.0;
            w->SetImageMetadata(f, md, nullptr);
        }
        w->FlushData(f, frame.data(), nullptr, nullptr);
    }
    w->Finalize();
    w->Release();

    // The segments replace chunks as they stand.
    if (in.segments.size() > 1) {
        CKzFileChunker c;
        CKzStringA version;
        if (c.Initialize_File(wpath.c_str(), false, true, version) != 0) {
            c.Finalize();
            return false;
        }
        for (size_t s = 1; s < in.segments.size(); ++s) {
            const std::vector<uint8_t>& seg = in.segments[s];
            const std::string name = ChunkName(kNames[(in.head[5] + s - 1) % kNameCount], v3);
            // Frames keep the writer's layout: the time first, the frame on a block boundary.
            if (name.compare(0, 13, "ImageDataSeq|") == 0 && seg.size() > 8)
                c.SetChunk(seg.data(), 8, seg.data() + 8, (unsigned)(seg.size() - 8), name.c_str());
            else
                c.SetChunk(seg.empty() ? nullptr : seg.data(), (unsigned)seg.size(), name.c_str());
        }
        if (c.Finalize() != 0)
            return false;
    }

    if (flags & 0x60) {
        FILE* f = std::fopen(path.c_str(), "r+b");
        if (!f)
            return false;
        std::fseek(f, 0, SEEK_END);
        const long end = std::ftell(f);
        if (flags & 0x20 && end > 0) {
            const long at = (long)((in.head[6] | (uint32_t)in.head[7] << 8) * 7u % (uint32_t)end);
            std::fseek(f, at, SEEK_SET);
            const int c = std::fgetc(f);
            std::fseek(f, at, SEEK_SET);
            std::fputc((c ^ (in.head[8] ? in.head[8] : 1)) & 0xFF, f);
        }
        std::fclose(f);
        if (flags & 0x40 && end >= 40 && truncate(path.c_str(), end - 40) != 0)
            return false;
    }
    return true;
}

}  // namespace vt5skeleton
