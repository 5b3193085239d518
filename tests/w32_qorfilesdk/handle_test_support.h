// Files for the handle-layer tests, written through the version-2 and
// version-3 writers (or, for attribute combinations the writers refuse,
// chunk by chunk), and small helpers around them.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "gnr_metaformats/CKzCustomDescription.h"
#include "gnr_metaformats/SKzExperiment.h"
#include "gnr_metaformats/SKzExperimentEvent.h"
#include "gnr_metaformats/SKzPictureMetadata.h"
#include "gnr_system/CKzLiteVariant.h"
#include "gnr_system/CKzVariant.h"
#include "vt5file/CKzFileChunker.h"
#include "gnr_system/ImageFormatManager.h"
#include "vt5file/CKzImageFormatVT5.h"
#include "w32_qorfilesdk/SKzQorFileHandle.h"

namespace ht {

typedef std::vector<unsigned char> Bytes;

// Paths handed out by TempName, removed when the program ends.
inline std::vector<std::string>& TempNames()
{
    static std::vector<std::string>* names = [] {
        static std::vector<std::string> v;
        std::atexit([] {
            for (const std::string& n : v)
                std::remove(n.c_str());
        });
        return &v;
    }();
    return *names;
}

// A fresh path in the test's temporary directory with the given extension.
inline std::string TempName(const char* stem, const char* ext = ".vt5")
{
    static std::atomic<int> counter{0};
    std::string name = testing::TempDir() + "qorhandle_" + std::to_string(getpid()) + "_" + stem + "_" +
                       std::to_string(counter++) + ext;
    static std::mutex m;
    std::lock_guard<std::mutex> lock(m);
    TempNames().push_back(name);
    return name;
}

inline std::wstring W(const std::string& s) { return std::wstring(s.begin(), s.end()); }

inline Bytes ReadAll(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

inline void WriteAll(const std::string& path, const Bytes& bytes)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()), (std::streamsize)bytes.size());
}

// The tag-name list as a host stores it: 32-bit characters, a 0 after each
// name, one more 0 at the end (built here by hand, not by the library).
inline std::vector<u32> NameList(const std::vector<std::wstring>& names)
{
    std::vector<u32> out;
    for (const std::wstring& n : names) {
        for (wchar_t c : n)
            out.push_back((u32)c);
        out.push_back(0);
    }
    out.push_back(0);
    return out;
}

struct FileSpec {
    int version = 3;
    u32 width = 8, height = 6, comp = 1;
    u8 bits = 8;
    u32 frames = 6;
    bool experiment = true;    // version 3 only: time loop of 2 over a Z stack of 3
    bool tags = true;          // "beta" = {1,2,3}, "alpha" = "xyz" (list order beta, alpha)
    bool descriptors = true;   // two binary-layer descriptors, no layers
    bool appInfo = true;       // version string "9.8.7"
    bool form = true;          // custom description of two items
    bool events = true;        // two events
    double timeStep = 50.0;    // frame i taken at i x timeStep ms
};

inline SKzExperiment* TimeOverZ(u32 times, u32 zs)
{
    SKzExperiment* z = nullptr;
    SKzExperiment::Alloc(&z);
    SKzExperiment::Init(*z, SKzExperiment::eExpZStackLoop, false, zs, 0, 0, 1);
    z->uLoopPars.sZStackLoop.dZStep = 1.5;
    z->uLoopPars.sZStackLoop.dZLow = 0.0;
    z->uLoopPars.sZStackLoop.dZHigh = 1.5 * (zs - 1);
    SKzExperiment* t = nullptr;
    SKzExperiment::Alloc(&t);
    SKzExperiment::Init(*t, SKzExperiment::eExpTimeLoop, false, times, 0, 1, 1);
    t->uLoopPars.sTimeLoop.dPeriod = 1000.0;
    t->ppNextLevelEx[0] = z;
    return t;
}

// Writes a file as described through the library's writers; frame i holds
// the byte value i + 1 everywhere.
inline void WriteFile(const std::string& path, const FileSpec& s)
{
    std::remove(path.c_str());
    if (s.version == 2) {
        CKzFileChunker c;
        CKzStringA v("Ver2.0");
        ASSERT_EQ(c.Initialize_File(W(path).c_str(), false, false, v), KZ_OK);
        ASSERT_EQ(c.Finalize(), KZ_OK);
    }
    CKzImageFormatVT5 format;
    IKzOutputImageFile* w = nullptr;
    ASSERT_EQ(format.CreateOutputImageFile(CKzStringW(W(path).c_str()), w), KZ_OK);

    SKzImageAttributes a;
    std::memset(&a, 0, sizeof(a));
    a.uiWidth = s.width;
    a.uiHeight = s.height;
    a.uiComp = s.comp;
    a.uiBpcInMemory = s.bits;
    a.uiBpcSignificant = s.bits;
    a.ePixelType = 1;
    a.eCompression = 2;
    a.uiSequenceCount = s.frames;
    ASSERT_EQ(w->SetImageAttributes(a), KZ_OK);

    SKzPictureMetadata md;
    md.dXPos = 11.0;
    md.dYPos = 22.0;
    md.dZPos = 33.0;
    md.dObjectiveMag = 40.0;
    md.wsObjectiveName = L"Plan 40x";
    SKzPicturePlanes::Alloc(md.sPicturePlanes, 1, 1);
    md.sPicturePlanes.uiCompCount = s.comp;
    md.sPicturePlanes.pPlanes[0].uiCompCount = s.comp;
    md.sPicturePlanes.pPlanes[0].sDescription = L"Green";
    md.dTimeMSec = 0.0;
    ASSERT_EQ(w->SetImageMetadata(0, md, nullptr), KZ_OK);
    if (s.experiment) {
        SKzExperiment* e = TimeOverZ(2, s.frames / 2 ? s.frames / 2 : 1);
        ASSERT_EQ(w->SetImageMetadata(*e, nullptr), KZ_OK);
        SKzExperiment::FreeRecursive(e);
    }
    SKzImageTextInfo info;
    info.wsText[0] = L"first text";
    info.wsText[1] = L"Obj: %OBJECTIVE%";
    info.wsText[13] = L"objective text";
    ASSERT_EQ(w->SetImageTextInfo(info), KZ_OK);
    if (s.events) {
        SKzExperimentRecord log;
        SKzExperimentEvent e1, e2;
        SKzExperimentEvent::Init(e1, 10.0, (SKzExperimentEvent::EMeaning)1, L"start", nullptr, 0);
        SKzExperimentEvent::Init(e2, 20.0, (SKzExperimentEvent::EMeaning)2, L"stop", nullptr, 1);
        SKzExperimentRecord::AddEvent(log, e1, nullptr);
        SKzExperimentRecord::AddEvent(log, e2, nullptr);
        SKzExperimentEvent::Free(e1);
        SKzExperimentEvent::Free(e2);
        w->SetImageEvents(log, nullptr);
    }
    if (s.tags) {
        const std::vector<u32> list = NameList({L"beta", L"alpha"});
        ASSERT_EQ(w->SetCustomData(L"QorApi_CustomData", list.data(), list.size() * 4), KZ_OK);
        const unsigned char beta[] = {1, 2, 3};
        ASSERT_EQ(w->SetCustomData(L"beta", beta, 3), KZ_OK);
        ASSERT_EQ(w->SetCustomData(L"alpha", "xyz", 3), KZ_OK);
    }
    if (s.descriptors) {
        CKzVariant root;
        root.EnableTypeChange(true);
        root.SetName(CKzStringW(L"BinaryMetadata_v1"));
        for (int i = 0; i < 2; ++i) {
            CKzVariant item;
            item.SetName(CKzStringW(L"BinaryItem"));
            item.Append(CKzVariant((unsigned int)(i ? 0x80000 : 0), CKzStringW(L"uiState")));
            item.Append(CKzVariant((unsigned int)(0x00FF00 + i), CKzStringW(L"uiColor")));
            item.Append(CKzVariant((unsigned int)i, CKzStringW(L"uiCompOrder")));
            item.Append(CKzVariant(CKzStringW(i ? L"Nuclei" : L"Cells"), CKzStringW(L"strName")));
            item.Append(CKzVariant(CKzStringW(i ? L"Seq_B" : L"Seq_A"), CKzStringW(L"strFileTag")));
            item.Append(CKzVariant(CKzStringW(i ? L"DAPI" : L""), CKzStringW(L"strCompName")));
            root.Append(item);
        }
        root.EnableTypeChange(false);
        ASSERT_EQ(w->SetCustomDataVar(L"BinaryMetadata_v1", &root), KZ_OK);
    }
    if (s.appInfo) {
        CKzVariant app;
        app.EnableTypeChange(true);
        app.SetName(CKzStringW(L"AppInfo_V1_0"));
        app.Append(CKzVariant(CKzStringW(L"Writer"), CKzStringW(L"m_Name")));
        app.Append(CKzVariant(CKzStringW(L"9.8.7"), CKzStringW(L"m_VersionString")));
        ASSERT_EQ(w->SetCustomDataVar(L"AppInfo_V1_0", &app), KZ_OK);
    }
    if (s.form) {
        CKzCustomDescription form;
        form.SetName(L"Form");
        form << CKzCustomDescription::CKzNumber(L"Gain", 2.75, L"dB");
        form << CKzCustomDescription::CKzText(L"Note", L"hello");
        CKzLiteVariantW lw;
        form.SaveToLiteVariant(lw);
        CKzLiteVariantR lr;
        lw.Finalize(lr);
        ASSERT_EQ(w->SetCustomData(L"CustomDescriptionV1_0", lr.GetData(), lr.GetSize()), KZ_OK);
    }
    const u64 frameBytes = (u64)s.height * s.width * s.comp * ((s.bits + 7) / 8) + 64;
    for (u32 f = 0; f < s.frames; ++f) {
        if (f > 0) {
            md.dTimeMSec = f * s.timeStep;
            w->SetImageMetadata(f, md, nullptr);
        }
        Bytes frame((size_t)frameBytes, (unsigned char)(f + 1));
        ASSERT_EQ(w->FlushData(f, frame.data(), nullptr, nullptr), KZ_OK);
    }
    ASSERT_EQ(w->Finalize(), KZ_OK);
    w->Release();
}

// A version-3 file made chunk by chunk: attributes as given (the writers
// refuse some), frames of zeros, optional extra chunks.
inline void WriteRawV3(const std::string& path, u32 width, u32 height, u32 comp, u8 bits, u8 significant, u32 frames,
                       const std::vector<std::pair<std::string, Bytes>>& extra = {})
{
    std::remove(path.c_str());
    CKzFileChunker c;
    CKzStringA v("Ver3.0");
    ASSERT_EQ(c.Initialize_File(W(path).c_str(), false, false, v), KZ_OK);
    CKzLiteVariantW lw;
    lw.LevelBegin(L"SKzImageAttributes");
    lw.Set(width, L"uiWidth");
    lw.Set((unsigned int)(width * comp * ((bits + 7) / 8)), L"uiWidthBytes");
    lw.Set(height, L"uiHeight");
    lw.Set(comp, L"uiComp");
    lw.Set((int)bits, L"uiBpcInMemory");
    lw.Set((int)significant, L"uiBpcSignificant");
    lw.Set(frames, L"uiSequenceCount");
    lw.Set((int)2, L"eCompression");
    lw.LevelEnd();
    CKzLiteVariantR lr;
    lw.Finalize(lr);
    ASSERT_EQ(c.SetChunk(lr.GetData(), (unsigned)lr.GetSize(), "ImageAttributesLV!"), KZ_OK);
    // The frames the attributes count, zero samples at time 0.
    const Bytes frame((size_t)width * comp * ((bits + 7) / 8) * height, 0);
    const double time = 0.0;
    for (u32 k = 0; k < frames; ++k) {
        const std::string name = "ImageDataSeq|" + std::to_string(k) + "!";
        ASSERT_EQ(c.SetChunk(&time, 8, frame.data(), (unsigned)frame.size(), name.c_str()), KZ_OK);
    }
    for (const auto& e : extra)
        ASSERT_EQ(c.SetChunk(e.second.data(), (unsigned)e.second.size(), e.first.c_str()), KZ_OK);
    ASSERT_EQ(c.Finalize(), KZ_OK);
}

// Owns a handle number: closes it at the end of the scope unless released.
struct HandleGuard {
    int h;
    explicit HandleGuard(int handle) : h(handle) {}
    ~HandleGuard()
    {
        if (h)
            SKzQorFileHandle::Close(h);
    }
    int release()
    {
        const int x = h;
        h = 0;
        return x;
    }
};

}  // namespace ht

namespace ht {

// A write handle on a new file (no description yet), as the writing
// interface makes one.
inline int OpenWriteHandle(const std::string& path)
{
    std::remove(path.c_str());
    IKzImageFormatManager* registry = SKzQorFileHandle::InitFormatManager();
    if (!registry)
        return 0;
    IKzImageFormat* format = nullptr;
    if (registry->GetImageFormatByFilename(CKzStringW(W(path).c_str()), format) != KZ_OK || !format)
        return 0;
    SKzQorFileHandle rec;
    const int r = format->CreateOutputImageFile(CKzStringW(W(path).c_str()), rec.m_pOutputFile);
    format->Release();
    if (r != KZ_OK)
        return 0;
    const int h = SKzQorFileHandle::Append(std::move(rec));
    if (!h)
        rec.Discard();
    return h;
}

// Writes frames of the given geometry on a write handle (the first frame
// also stores the attributes).
inline void WriteFrames(int handle, u32 width, u32 height, u32 frames)
{
    SKzQorFileHandle* rec = nullptr;
    IKzOutputImageFile* w = SKzQorFileHandle::GetOutputFile(handle, &rec);
    ASSERT_NE(w, nullptr);
    SKzImageAttributes a;
    std::memset(&a, 0, sizeof(a));
    a.uiWidth = width;
    a.uiHeight = height;
    a.uiComp = 1;
    a.uiBpcInMemory = 8;
    a.uiBpcSignificant = 8;
    a.ePixelType = 1;
    a.eCompression = 2;
    a.uiSequenceCount = frames;
    ASSERT_EQ(w->SetImageAttributes(a), KZ_OK);
    rec->m_Attributes = a;
    Bytes frame((size_t)width * height + 64, 7);
    for (u32 f = 0; f < frames; ++f)
        ASSERT_EQ(w->FlushData(f, frame.data(), nullptr, nullptr), KZ_OK);
}

}  // namespace ht
