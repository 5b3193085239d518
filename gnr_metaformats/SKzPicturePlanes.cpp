#include "gnr_metaformats/SKzPicturePlanes.h"
#include "gnr_metaformats/KzMetaInternal.h"
#include "gnr_metaformats/SKzCameraSetting.h"

#include <new>

namespace {

SKzSampleSetting* NewSamples(unsigned n)
{
    if (n == 0) return nullptr;
    try {
        return new (std::nothrow) SKzSampleSetting[n];
    } catch (...) {
        return nullptr;
    }
}

void FreePlanes(SKzPicturePlanes& s)
{
    SKzPicturePlaneDesc::FreeArray(s.pPlanes);
    s.pPlanes = nullptr;
    s.uiCount = 0;
    s.uiCompCount = 0;
}

void FreeSamples(SKzPicturePlanes& s)
{
    delete[] s.pSamples;
    s.pSamples = nullptr;
    s.uiSampleCount = 0;
}

// Name "a<j>".
struct IndexName {
    wchar_t text[24];
    explicit IndexName(unsigned j) { swprintf(text, 24, L"a%i", static_cast<int>(j)); }
};

} // namespace

SKzPicturePlanes::SKzPicturePlanes()
    : uiCount(0), uiCompCount(0), pPlanes(nullptr), uiSampleCount(0), pSamples(nullptr), eRepresentation(0)
{
}

SKzPicturePlanes::SKzPicturePlanes(const SKzPicturePlanes& o)
    : uiCount(o.uiCount), uiCompCount(o.uiCompCount), pPlanes(o.pPlanes), uiSampleCount(o.uiSampleCount),
      pSamples(o.pSamples), sDescription(o.sDescription), eRepresentation(o.eRepresentation)
{
}

SKzPicturePlanes& SKzPicturePlanes::operator=(const SKzPicturePlanes& o)
{
    uiCount = o.uiCount;
    uiCompCount = o.uiCompCount;
    pPlanes = o.pPlanes;
    uiSampleCount = o.uiSampleCount;
    pSamples = o.pSamples;
    sDescription = o.sDescription;
    eRepresentation = o.eRepresentation;
    return *this;
}

SKzPicturePlanes::~SKzPicturePlanes() {}

int SKzPicturePlanes::Alloc(SKzPicturePlanes& s, unsigned planes, unsigned samples)
{
    SKzPicturePlaneDesc* p = nullptr;
    if (SKzPicturePlaneDesc::AllocArray(p, planes) != KZ_OK) return KZ_ERR_OUT_OF_MEMORY;
    SKzSampleSetting* q = NewSamples(samples);
    if (samples && !q) {
        SKzPicturePlaneDesc::FreeArray(p);
        return KZ_ERR_OUT_OF_MEMORY;
    }
    s.uiCount = planes;
    s.pPlanes = p;
    s.uiSampleCount = samples;
    s.pSamples = q;
    return KZ_OK;
}

void SKzPicturePlanes::Free(SKzPicturePlanes& s)
{
    FreePlanes(s);
    FreeSamples(s);
}

int SKzPicturePlanes::Copy(SKzPicturePlanes& dst, const SKzPicturePlanes& src)
{
    if (src.uiCount == 0 || !src.pPlanes) return KZ_ERR_INVALID_ARG;
    if (&dst == &src) return src.uiSampleCount && src.pSamples ? KZ_OK : KZ_ERR_INVALID_ARG;
    if (!dst.pPlanes || dst.uiCount != src.uiCount) {
        SKzPicturePlaneDesc* p = nullptr;
        if (SKzPicturePlaneDesc::AllocArray(p, src.uiCount) != KZ_OK) return KZ_ERR_OUT_OF_MEMORY;
        if (dst.pPlanes != src.pPlanes) SKzPicturePlaneDesc::FreeArray(dst.pPlanes);
        dst.pPlanes = p;
    }
    dst.uiCount = src.uiCount;
    dst.uiCompCount = src.uiCompCount;
    dst.eRepresentation = src.eRepresentation;
    dst.sDescription = src.sDescription;
    SKzPicturePlaneDesc::CopyArray(dst.pPlanes, src.pPlanes, src.uiCount);
    if (src.uiSampleCount == 0 || !src.pSamples) return KZ_ERR_INVALID_ARG;
    if (!dst.pSamples || dst.uiSampleCount != src.uiSampleCount) {
        SKzSampleSetting* q = NewSamples(src.uiSampleCount);
        if (!q) return KZ_ERR_OUT_OF_MEMORY;
        if (dst.pSamples != src.pSamples) delete[] dst.pSamples;
        dst.pSamples = q;
        dst.uiSampleCount = src.uiSampleCount;
    }
    return SKzSampleSetting::CopyArray(dst.pSamples, src.pSamples, src.uiSampleCount);
}

SKzSampleSetting* SKzPicturePlanes::GetPlaneSettings(unsigned i)
{
    if (i >= uiCount || !pPlanes || !pSamples) return nullptr;
    const kz_uint32 k = pPlanes[i].uiSampleIndex;
    return k < uiSampleCount ? &pSamples[k] : nullptr;
}

const SKzSampleSetting* SKzPicturePlanes::GetPlaneSettings(unsigned i) const
{
    return const_cast<SKzPicturePlanes*>(this)->GetPlaneSettings(i);
}

CKzStringW SKzPicturePlanes::GetPlaneOCName(const SKzPicturePlanes& s, unsigned i, unsigned key)
{
    const SKzSampleSetting* ss = s.GetPlaneSettings(i);
    return ss ? SKzSampleSetting::GetOCName(*ss, key) : CKzStringW();
}

CKzStringW SKzPicturePlanes::GetPlaneOCNameAll(const SKzPicturePlanes& s, unsigned i)
{
    const SKzSampleSetting* ss = s.GetPlaneSettings(i);
    return ss ? SKzSampleSetting::GetOCNameAll(*ss) : CKzStringW();
}

int SKzPicturePlanes::SetPlaneOCName(SKzPicturePlanes& s, unsigned i, unsigned key, const CKzStringW& name)
{
    SKzSampleSetting* ss = s.GetPlaneSettings(i);
    return ss ? SKzSampleSetting::SetOCName(*ss, key, name) : KZ_ERR_FAILED;
}

CKzStringW SKzPicturePlanes::GetPlaneCameraUniqueName(const SKzPicturePlanes& s, unsigned i)
{
    const SKzSampleSetting* ss = s.GetPlaneSettings(i);
    return ss ? ss->GetCameraUniqueName() : CKzStringW();
}

CKzStringW SKzPicturePlanes::GetPlaneCameraUserName(const SKzPicturePlanes& s, unsigned i)
{
    const SKzSampleSetting* ss = s.GetPlaneSettings(i);
    return ss ? ss->GetCameraUserName() : CKzStringW();
}

// ---- lite form ----------------------------------------------------------------

int SKzPicturePlanes::SaveToLiteVariant(CKzLiteVariantW& w, const SKzPicturePlanes& s)
{
    const unsigned planes = s.pPlanes ? s.uiCount : 0;
    const unsigned samples = s.pSamples ? s.uiSampleCount : 0;
    w.Set(static_cast<unsigned int>(s.uiCount), L"uiCount");
    w.Set(static_cast<unsigned int>(s.uiCompCount), L"uiCompCount");
    if (w.LevelBegin(L"sPlaneNew") == KZ_OK) {
        for (unsigned j = 0; j < planes; ++j) {
            if (w.LevelBegin(IndexName(j).text) != KZ_OK) continue;
            if (SKzPicturePlaneDesc::SaveToLiteVariant(w, s.pPlanes[j]) != KZ_OK) kzmeta::MetaFailure(__LINE__);
            w.LevelEnd();
        }
        w.LevelEnd();
    }
    w.Set(static_cast<unsigned int>(s.uiSampleCount), L"uiSampleCount");
    if (w.LevelBegin(L"sSampleSetting") == KZ_OK) {
        for (unsigned j = 0; j < samples; ++j) {
            if (w.LevelBegin(IndexName(j).text) != KZ_OK) continue;
            if (SKzSampleSetting::SaveToLiteVariant(w, s.pSamples[j]) != KZ_OK) kzmeta::MetaFailure(__LINE__);
            w.LevelEnd();
        }
        w.LevelEnd();
    }
    w.Set(s.sDescription.GetString(), L"sDescription");
    w.Set(static_cast<unsigned int>(s.eRepresentation), L"eRepresentation");
    return KZ_OK;
}

namespace {

// One sample setting from the legacy keys of the first plane of "sPlane"
// (the reader stands in the set's level). False when nothing was made.
bool LegacySampleLite(SKzPicturePlanes& s, CKzLiteVariantR& r)
{
    if (r.LevelBegin(L"sPlane") != KZ_OK) return false;
    bool made = false;
    if (kzmeta::EnterChild(r, L"a0", 0)) {
        SKzCameraSetting cam;
        int rc = KZ_ERR_FAILED;
        if (r.LevelBegin(L"sCameraSetting") == KZ_OK) {
            rc = SKzCameraSetting::LoadFromLiteVariant(cam, r);
            r.LevelEnd();
        }
        if (rc == KZ_OK) {
            CKzVariant tree;
            if (r.IsValueSet(L"sOpticalConfigFull")) r.Get(L"sOpticalConfigFull", tree);
            CKzStringW name;
            r.GetCKzStringW(name, L"sOpticalConfigName", L"");
            SKzSampleSetting* q = NewSamples(1);
            if (q) {
                s.pSamples = q;
                s.uiSampleCount = 1;
                if (SKzSampleSetting::TranslateSettings(cam, q[0]) == KZ_OK) q[0].dExposureTime *= s.uiCount;
                const SKzSettingsHandlers& d = SKzSampleSetting::sDeviceHandlers;
                if (d.pfnLoadFromVariant && q[0].pDeviceSetting)
                    d.DeviceLoadFromVariant()(tree, q[0].pDeviceSetting);
                SKzPicturePlanes::SetPlaneOCName(s, 0, 15, name);
                made = true;
            }
        }
        r.LevelEnd();
    }
    r.LevelEnd();
    return made;
}

} // namespace

int SKzPicturePlanes::LoadFromLiteVariant(SKzPicturePlanes& s, CKzLiteVariantR& r)
{
    Free(s);
    s.uiCompCount = r.Get(L"uiCompCount", 0u);
    s.uiCount = r.Get(L"uiCount", static_cast<unsigned int>(s.uiCompCount));
    bool haveList = r.LevelBegin(L"sPlaneNew") == KZ_OK;
    if (!haveList) haveList = r.LevelBegin(L"sPlane") == KZ_OK;
    bool planesRead = false;
    if (haveList) {
        const unsigned present = kzmeta::CountRecords(r);
        if (present == s.uiCount && present != 0 &&
            SKzPicturePlaneDesc::AllocArray(s.pPlanes, present) == KZ_OK) {
            planesRead = true;
            for (unsigned j = 0; j < present; ++j) {
                if (!kzmeta::EnterChild(r, IndexName(j).text, j)) {
                    kzmeta::MetaFailure(__LINE__);
                    continue;
                }
                if (SKzPicturePlaneDesc::LoadFromLiteVariant(s.pPlanes[j], r) != KZ_OK) kzmeta::MetaFailure(__LINE__);
                r.LevelEnd();
            }
        }
        r.LevelEnd();
    }
    if (!planesRead) {
        s.pPlanes = nullptr;
        s.uiCount = 0;
        s.uiCompCount = 0;
    }
    const unsigned samples = r.Get(L"uiSampleCount", 0u);
    if (r.LevelBegin(L"sSampleSetting") == KZ_OK) {
        const unsigned present = kzmeta::CountRecords(r);
        if (present == samples && present != 0) {
            SKzSampleSetting* q = NewSamples(present);
            if (q) {
                s.pSamples = q;
                s.uiSampleCount = present;
                for (unsigned j = 0; j < present; ++j) {
                    if (!kzmeta::EnterChild(r, IndexName(j).text, j)) {
                        kzmeta::MetaFailure(__LINE__);
                        continue;
                    }
                    if (SKzSampleSetting::LoadFromLiteVariant(q[j], r) != KZ_OK) kzmeta::MetaFailure(__LINE__);
                    r.LevelEnd();
                }
            }
        }
        r.LevelEnd();
    } else if (s.uiCount) {
        LegacySampleLite(s, r);
    }
    r.GetCKzStringW(s.sDescription, L"sDescription", L"");
    s.eRepresentation = r.Get(L"eRepresentation", static_cast<unsigned int>(s.eRepresentation));
    return KZ_OK;
}

// ---- variant form ---------------------------------------------------------------

int SKzPicturePlanes::SaveToVariant(CKzVariant& node, const SKzPicturePlanes& s)
{
    const unsigned planes = s.pPlanes ? s.uiCount : 0;
    const unsigned samples = s.pSamples ? s.uiSampleCount : 0;
    kzmeta::BeginStruct(node, "RKzPicturePlanes");
    node[L"uiCount"] = static_cast<unsigned int>(s.uiCount);
    node[L"uiCompCount"] = static_cast<unsigned int>(s.uiCompCount);
    CKzVariant& old = kzmeta::ListMember(node, L"sPlane");
    for (unsigned j = 0; j < planes; ++j)
        if (SKzPicturePlaneDesc::SaveToVariantOld(kzmeta::AppendChild(old, IndexName(j).text), s, j) != KZ_OK)
            kzmeta::MetaFailure(__LINE__);
    CKzVariant& cur = kzmeta::ListMember(node, L"sPlaneNew");
    for (unsigned j = 0; j < planes; ++j)
        if (SKzPicturePlaneDesc::SaveToVariant(kzmeta::AppendChild(cur, IndexName(j).text), s.pPlanes[j]) != KZ_OK)
            kzmeta::MetaFailure(__LINE__);
    node[L"uiSampleCount"] = static_cast<unsigned int>(s.uiSampleCount);
    CKzVariant& ss = kzmeta::ListMember(node, L"sSampleSetting");
    for (unsigned j = 0; j < samples; ++j)
        if (SKzSampleSetting::SaveToVariant(kzmeta::AppendChild(ss, IndexName(j).text), s.pSamples[j]) != KZ_OK)
            kzmeta::MetaFailure(__LINE__);
    node[L"sDescription"] = s.sDescription;
    node[L"eRepresentation"] = static_cast<unsigned int>(s.eRepresentation);
    return KZ_OK;
}

namespace {

bool LegacySampleVariant(SKzPicturePlanes& s, const CKzVariant& node)
{
    const CKzVariant& list = node[L"sPlane"];
    const CKzVariant* a0 = kzmeta::ChildOf(list, L"a0", 0);
    if (!a0) return false;
    SKzCameraSetting cam;
    if (SKzCameraSetting::LoadFromVariant(cam, (*a0)[L"sCameraSetting"]) != KZ_OK) return false;
    const CKzVariant& full = (*a0)[L"sOpticalConfigFull"];
    const CKzVariant& tree = full.GetCount() == 1 ? full[0] : g_UndefVariant;
    const CKzStringW name = (*a0)[L"sOpticalConfigName"].GetCKzStringW();
    SKzSampleSetting* q = NewSamples(1);
    if (!q) return false;
    s.pSamples = q;
    s.uiSampleCount = 1;
    if (SKzSampleSetting::TranslateSettings(cam, q[0]) == KZ_OK) q[0].dExposureTime *= s.uiCount;
    const SKzSettingsHandlers& d = SKzSampleSetting::sDeviceHandlers;
    if (d.pfnLoadFromVariant && q[0].pDeviceSetting)
        d.DeviceLoadFromVariant()(tree, q[0].pDeviceSetting);
    SKzPicturePlanes::SetPlaneOCName(s, 0, 15, name);
    return true;
}

} // namespace

int SKzPicturePlanes::LoadFromVariant(SKzPicturePlanes& s, const CKzVariant& node)
{
    if (!kzmeta::IsRunType(node, "RKzPicturePlanes")) return KZ_ERR_INVALID_ARG;
    Free(s);
    s.uiCompCount = node[L"uiCompCount"].GetKz_uint32();
    s.uiCount = node[L"uiCount"].GetKz_uint32();
    const CKzVariant& cur = node[L"sPlaneNew"];
    const CKzVariant& old = node[L"sPlane"];
    const int nCur = cur.GetCount() > 0 ? cur.GetCount() : 0, nOld = old.GetCount() > 0 ? old.GetCount() : 0;
    const unsigned larger = static_cast<unsigned>(nCur > nOld ? nCur : nOld);
    if (s.uiCount != 0 && s.uiCount == larger && SKzPicturePlaneDesc::AllocArray(s.pPlanes, larger) == KZ_OK) {
        const CKzVariant& list = nCur > 0 ? cur : old;
        for (unsigned j = 0; j < larger; ++j) {
            const CKzVariant* c = kzmeta::ChildOf(list, IndexName(j).text, j);
            if (!c || SKzPicturePlaneDesc::LoadFromVariant(s.pPlanes[j], *c) != KZ_OK) kzmeta::MetaFailure(__LINE__);
        }
    } else {
        s.pPlanes = nullptr;
        s.uiCount = 0;
        s.uiCompCount = 0;
    }
    const unsigned samples = node[L"uiSampleCount"].GetKz_uint32();
    const CKzVariant& ss = node[L"sSampleSetting"];
    bool read = false;
    if (samples != 0 && ss.GetCount() > 0 && static_cast<unsigned>(ss.GetCount()) == samples) {
        SKzSampleSetting* q = NewSamples(samples);
        if (q) {
            s.pSamples = q;
            s.uiSampleCount = samples;
            read = true;
            for (unsigned j = 0; j < samples; ++j) {
                const CKzVariant* c = kzmeta::ChildOf(ss, IndexName(j).text, j);
                if (!c || SKzSampleSetting::LoadFromVariant(q[j], *c) != KZ_OK) kzmeta::MetaFailure(__LINE__);
            }
        }
    }
    if (!read && s.uiCount) LegacySampleVariant(s, node);
    s.sDescription = node[L"sDescription"].GetCKzStringW();
    const CKzVariant& rep = node[L"eRepresentation"];
    if (!rep.IsUndefined()) s.eRepresentation = rep.GetKz_uint32();
    return KZ_OK;
}
