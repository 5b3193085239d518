// Files for the reading-interface tests, written with the library's own VT5
// writer (not through the handle interface under test): frames of a pattern,
// frame-0 metadata with per-frame times, an experiment, events, recorded
// per-frame data, tags and a custom description form.
#pragma once

#include "gnr_metaformats/CKzCustomDescription.h"
#include "gnr_metaformats/SKzExperiment.h"
#include "gnr_metaformats/SKzExperimentEvent.h"
#include "gnr_metaformats/SKzPictureMetadata.h"
#include "gnr_system/CKzLiteVariant.h"
#include "vt5file/CKzImageFormatVT5.h"
#include "vt5file/IKzImageFile.h"
#include "w32_qorfilesdk/QorFile.h"
#include "w32_qorfilesdk/SKzQorFileHandle.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace capitest {

using Bytes = std::vector<unsigned char>;

// A path in the test's own temporary directory, removed with the object.
class TempPath {
public:
    explicit TempPath(const char* name)
    {
        char dir[] = "/tmp/capiread_XXXXXX";
        dir_ = mkdtemp(dir) ? dir : "/tmp";
        narrow_ = dir_ + "/" + name;
        wide_.assign(narrow_.begin(), narrow_.end());
    }
    ~TempPath()
    {
        std::remove(narrow_.c_str());
        if (dir_ != "/tmp") rmdir(dir_.c_str());
    }
    const wchar_t* w() const { return wide_.c_str(); }
    const std::string& a() const { return narrow_; }

private:
    std::string dir_, narrow_;
    std::wstring wide_;
};

inline SKzImageAttributes Attrs(u32 w, u32 h, u32 comp, u8 bits, u32 frames, i32 compression)
{
    SKzImageAttributes a;
    std::memset(&a, 0, sizeof a);
    a.uiWidth = w;
    a.uiHeight = h;
    a.uiComp = comp;
    a.uiBpcInMemory = bits;
    a.uiBpcSignificant = bits;
    a.ePixelType = 1;
    a.uiSequenceCount = frames;
    a.eCompression = compression;
    a.dCompressionParam = 0.06;
    return a;
}

// Row bytes the writer stores: the packed row.
inline u64 FileRow(const SKzImageAttributes& a) { return (u64)a.uiWidth * a.uiComp * ((a.uiBpcInMemory + 7) / 8); }

// Frame i of a file: bytes that differ from frame to frame and along rows.
inline Bytes FrameBytes(const SKzImageAttributes& a, u32 i)
{
    Bytes b(FileRow(a) * a.uiHeight);
    for (size_t k = 0; k < b.size(); ++k) b[k] = (unsigned char)(k * 7 + i * 31 + (k / 13));
    return b;
}

inline Bytes LiteBytes(CKzLiteVariantW& w)
{
    CKzLiteVariantR r;
    w.Finalize(r);
    return Bytes(r.GetData(), r.GetData() + r.GetSize());
}

// The tag-name list: each name and a 0 character, then one more 0.
inline Bytes TagList(const std::vector<std::wstring>& names)
{
    std::vector<wchar_t> w;
    for (const auto& n : names) {
        w.insert(w.end(), n.begin(), n.end());
        w.push_back(0);
    }
    w.push_back(0);
    const unsigned char* p = reinterpret_cast<const unsigned char*>(w.data());
    return Bytes(p, p + w.size() * sizeof(wchar_t));
}

template <class T>
Bytes Slots(const std::vector<T>& v)
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(v.data());
    return Bytes(p, p + v.size() * sizeof(T));
}

struct FileSpec {
    SKzImageAttributes attrs = Attrs(8, 4, 1, 16, 3, 2);
    std::vector<double> times;                 // per frame (ms); empty: none
    const SKzPictureMetadata* metadata = nullptr;
    const SKzExperiment* experiment = nullptr;
    const SKzExperimentRecord* events = nullptr;
    const CKzCustomDescription* form = nullptr;
    std::map<std::wstring, Bytes> custom;      // plain custom data
    std::map<std::wstring, Bytes> tags;        // host tags with their name list
};

inline void WriteFile(const TempPath& path, const FileSpec& s)
{
    CKzImageFormatVT5 format;
    IKzOutputImageFile* w = nullptr;
    ASSERT_EQ(0, format.CreateOutputImageFile(CKzStringW(path.w()), w));
    ASSERT_EQ(0, w->SetImageAttributes(s.attrs));
    if (s.metadata) {
        SKzPictureMetadata md(*s.metadata);
        for (u32 i = 0; i < s.attrs.uiSequenceCount; ++i) {
            md.dTimeMSec = i < s.times.size() ? s.times[i] : s.metadata->dTimeMSec;
            ASSERT_EQ(0, w->SetImageMetadata(i, md, nullptr));
        }
    }
    if (s.experiment) ASSERT_EQ(0, w->SetImageMetadata(*s.experiment, nullptr));
    if (s.events) ASSERT_EQ(0, w->SetImageEvents(*s.events, nullptr));
    for (const auto& [name, bytes] : s.custom) ASSERT_EQ(0, w->SetCustomData(name.c_str(), bytes.data(), bytes.size()));
    if (!s.tags.empty()) {
        std::vector<std::wstring> names;
        for (const auto& [name, bytes] : s.tags) {
            names.push_back(name);
            // A tag without bytes is only a name in the list.
            if (!bytes.empty()) ASSERT_EQ(0, w->SetCustomData(name.c_str(), bytes.data(), bytes.size()));
        }
        const Bytes list = TagList(names);
        ASSERT_EQ(0, w->SetCustomData(L"QorApi_CustomData", list.data(), list.size()));
    }
    if (s.form) {
        CKzLiteVariantW lw;
        ASSERT_EQ(0, s.form->SaveToLiteVariant(lw));
        const Bytes b = LiteBytes(lw);
        ASSERT_EQ(0, w->SetCustomData(L"CustomDescriptionV1_0", b.data(), b.size()));
    }
    for (u32 i = 0; i < s.attrs.uiSequenceCount; ++i) {
        Bytes f = FrameBytes(s.attrs, i);
        ASSERT_EQ(0, w->FlushData(i, f.data(), nullptr, nullptr));
    }
    ASSERT_EQ(0, w->Finalize());
    w->Release();
}

// Removes the frame-0 metadata from an open read handle's record (files of
// several frames always get at least a default record at the open).
inline void DropMetadata(int handle)
{
    SKzQorFileHandle* rec = nullptr;
    ASSERT_NE(nullptr, SKzQorFileHandle::GetInputFile(handle, &rec));
    delete rec->m_pMetadata;
    rec->m_pMetadata = nullptr;
}

// Opens the path through the interface and closes the handle at the end.
class Handle {
public:
    explicit Handle(const TempPath& p) : h_(Qor_FileOpenForRead(p.w())) {}
    ~Handle()
    {
        if (h_) Qor_FileClose(h_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    QORFILEHANDLE get() const { return h_; }
    operator QORFILEHANDLE() const { return h_; }

private:
    QORFILEHANDLE h_;
};

} // namespace capitest
