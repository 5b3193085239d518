// Picture metadata records read from hostile bytes. The first byte picks the
// record (metadata, plane set, plane description, sample setting), the stored
// form (lite blob or XML text) and whether a minimal stand-in host fills the
// handler tables of sample settings; the rest is that form. Whatever loads
// must save, load and save again to the same bytes, and the accessors must
// stay bounded on it.
#include "gnr_metaformats/SKzCameraSetting.h"
#include "gnr_metaformats/SKzPictureMetadata.h"
#include "gnr_system/CKzLiteVariant.h"
#include "gnr_system/CKzSerializerXMLString.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

enum Kind { kMetadata, kPlanes, kPlane, kSample, kKinds };

// ---- stand-in host: a camera object of the documented size, an int device ----
const size_t kCam = KZ_CAMERA_OBJECT_MIN_BYTES;
int Tail(const void* o)
{
    int v;
    std::memcpy(&v, (const char*)o + kCam - 4, 4);
    return v;
}
void* CamCreate() { return std::calloc(1, kCam); }
void CamDestroy(void* o) { std::free(o); }
int CamCopy(void* d, void* s)
{
    std::memcpy(d, s, kCam);
    return 0;
}
int CamSave(CKzVariant& m, void* o)
{
    m = CKzListVariant();
    m.Append(CKzVariant(Tail(o), CKzStringW(L"tail")));
    return 0;
}
int CamSaveLite(CKzLiteVariantW& w, void* o) { return w.Set(Tail(o), L"tail"); }
int CamLoad(void* o, const CKzVariant& m, int)
{
    const int v = m[L"tail"].GetKz_int32();
    std::memcpy((char*)o + kCam - 4, &v, 4);
    return 0;
}
int CamLoadLite(void* o, CKzLiteVariantR& r, int)
{
    const int v = r.Get(L"tail", 0);
    std::memcpy((char*)o + kCam - 4, &v, 4);
    return 0;
}
// The host stores only the tail, so only the tail tells two cameras apart.
bool CamCompare(void* a, void* b, unsigned) { return Tail(a) == Tail(b); }
void* DevCreate() { return new int(0); }
void DevDestroy(void* o) { delete static_cast<int*>(o); }
int DevCopy(void* d, void* s)
{
    *static_cast<int*>(d) = *static_cast<int*>(s);
    return 0;
}
int DevSave(CKzVariant& m, void* o)
{
    m = CKzListVariant();
    m.Append(CKzVariant(*static_cast<int*>(o), CKzStringW(L"devValue")));
    return 0;
}
int DevSaveLite(CKzLiteVariantW& w, void* o, int) { return w.Set(*static_cast<int*>(o), L"devValue"); }
int DevLoad(const CKzVariant& tree, void* o)
{
    *static_cast<int*>(o) = tree[L"devValue"].GetKz_int32();
    return 0;
}
int DevLoadLite(CKzLiteVariantR& r, void* o)
{
    *static_cast<int*>(o) = r.Get(L"devValue", 0);
    return 0;
}
bool DevCompare(void* a, void* b, unsigned) { return *static_cast<int*>(a) == *static_cast<int*>(b); }

void* g_default = nullptr;

void Install()
{
    if (!g_default) g_default = std::calloc(1, kCam);
    SKzSettingsHandlers& g = SKzSampleSetting::sGrabberHandlers;
    g.pfnCreate = CamCreate;
    g.pfnDestroy = CamDestroy;
    g.pfnCopy = CamCopy;
    g.pfnSaveToVariant = CamSave;
    g.pfnSaveToLiteVariant = CamSaveLite;
    g.pfnLoadFromVariant = CamLoad;
    g.pfnLoadFromLiteVariant = CamLoadLite;
    g.pfnCompare = CamCompare;
    g.pDefault = g_default;
    SKzSettingsHandlers& d = SKzSampleSetting::sDeviceHandlers;
    d.pfnCreate = DevCreate;
    d.pfnDestroy = DevDestroy;
    d.pfnCopy = DevCopy;
    d.pfnSaveToVariant = DevSave;
    d.pfnSaveToLiteVariant = reinterpret_cast<SKzSettingsHandlers::PFN_SAVE_LITE>(DevSaveLite);
    d.pfnLoadFromVariant = reinterpret_cast<SKzSettingsHandlers::PFN_LOAD_VARIANT>(DevLoad);
    d.pfnLoadFromLiteVariant = reinterpret_cast<SKzSettingsHandlers::PFN_LOAD_LITE>(DevLoadLite);
    d.pfnCompare = DevCompare;
}

void Uninstall()
{
    SKzSampleSetting::sGrabberHandlers = SKzSettingsHandlers();
    SKzSampleSetting::sDeviceHandlers = SKzSettingsHandlers();
}

// ---- the records ----------------------------------------------------------------

struct Record {
    SKzPictureMetadata md;
    SKzPicturePlanes planes;
    SKzPicturePlaneDesc plane;
    SKzSampleSetting sample;
    ~Record() { SKzPicturePlanes::Free(planes); }
};

void LiteLoad(Kind k, Record& rec, CKzLiteVariantR& r)
{
    if (k == kMetadata) {
        SKzPictureMetadata::LoadFromLiteVariant(rec.md, r);
        return;
    }
    if (r.LevelBegin(L"R") != 0) return;
    if (k == kPlanes) SKzPicturePlanes::LoadFromLiteVariant(rec.planes, r);
    else if (k == kPlane) SKzPicturePlaneDesc::LoadFromLiteVariant(rec.plane, r);
    else SKzSampleSetting::LoadFromLiteVariant(rec.sample, r);
    r.LevelEnd();
}

std::string LiteSave(Kind k, const Record& rec)
{
    CKzLiteVariantW w;
    if (k == kMetadata) {
        SKzPictureMetadata::SaveToLiteVariant(w, rec.md);
    } else {
        w.LevelBegin(L"R");
        if (k == kPlanes) SKzPicturePlanes::SaveToLiteVariant(w, rec.planes);
        else if (k == kPlane) SKzPicturePlaneDesc::SaveToLiteVariant(w, rec.plane);
        else SKzSampleSetting::SaveToLiteVariant(w, rec.sample);
        w.LevelEnd();
    }
    CKzLiteVariantR r;
    w.Finalize(r);
    return std::string((const char*)r.GetData(), (size_t)r.GetSize());
}

void XmlLoad(Kind k, Record& rec, const CKzVariant& v)
{
    if (k == kMetadata) SKzPictureMetadata::LoadFromVariant(rec.md, v);
    else if (k == kPlanes) SKzPicturePlanes::LoadFromVariant(rec.planes, v);
    else if (k == kPlane) SKzPicturePlaneDesc::LoadFromVariant(rec.plane, v);
    else SKzSampleSetting::LoadFromVariant(rec.sample, v);
}

std::string XmlSave(Kind k, const Record& rec)
{
    CKzVariant v(CKzListVariant(), L"R");
    if (k == kMetadata) SKzPictureMetadata::SaveToVariant(v, rec.md);
    else if (k == kPlanes) SKzPicturePlanes::SaveToVariant(v, rec.planes);
    else if (k == kPlane) SKzPicturePlaneDesc::SaveToVariant(v, rec.plane);
    else SKzSampleSetting::SaveToVariant(v, rec.sample);
    CKzStringA doc;
    CKzSerializerXMLString::VariantToDocument_UTF8(doc, v);
    return std::string(doc.GetString(), (size_t)doc.GetLength());
}

void Load(Kind k, bool xml, Record& rec, const void* data, size_t size)
{
    if (xml) {
        CKzVariant v;
        if (CKzSerializerXMLString::VariantFromXML_UTF8(v, (const char*)data, (unsigned)size) == 0) XmlLoad(k, rec, v);
    } else {
        CKzLiteVariantR r;
        if (size) r.SetData(data, size, CKzByteArray::eModeOpReplace, CKzByteArray::eModeAllocExact);
        r.Reset();
        LiteLoad(k, rec, r);
    }
}

std::string Save(Kind k, bool xml, const Record& rec) { return xml ? XmlSave(k, rec) : LiteSave(k, rec); }

// The oldest plane version keeps a mask the later versions validate on load:
// such a record settles after one more trip.
bool UnvalidatedMask(const SKzPicturePlanes& s)
{
    for (unsigned i = 0; s.pPlanes && i < s.uiCount; ++i)
        if (!SKzPicturePlaneDesc::IsModalityMaskValid((unsigned long)s.pPlanes[i].uiModalityMask)) return true;
    return false;
}
bool UnvalidatedMask(Kind k, const Record& rec)
{
    if (k == kMetadata) return UnvalidatedMask(rec.md.sPicturePlanes);
    if (k == kPlanes) return UnvalidatedMask(rec.planes);
    if (k == kPlane) return !SKzPicturePlaneDesc::IsModalityMaskValid((unsigned long)rec.plane.uiModalityMask);
    return false;
}

void Accessors(SKzPicturePlanes& s)
{
    for (unsigned i = 0; i < s.uiCount + 2 && i < 64; ++i) {
        (void)s.GetPlaneSettings(i);
        (void)SKzPicturePlanes::GetPlaneOCName(s, i, 0);
        (void)SKzPicturePlanes::GetPlaneOCName(s, i, 15);
        (void)SKzPicturePlanes::GetPlaneOCNameAll(s, i);
        (void)SKzPicturePlanes::GetPlaneCameraUniqueName(s, i);
        (void)SKzPicturePlanes::GetPlaneCameraUserName(s, i);
        if (i < s.uiCount && s.pPlanes) {
            SKzPicturePlaneDesc& p = s.pPlanes[i];
            (void)p.PlaneModalityHumanReadableShort(0);
            (void)p.PlaneModalityHumanReadableShort(0x100);
            (void)SKzPicturePlaneDesc::TranslateMaskToModality((unsigned long)p.uiModalityMask);
            (void)p.IsTD();
            CKzStringW t;
            p.pFilterPath.GetEmissionWavelengthDescription(t);
            (void)p.pFluorescentProbe.GetEmissionWavelength();
            CKzLiteVariantW w;
            w.LevelBegin(L"old");
            SKzPicturePlaneDesc::SaveToLiteVariantOld(w, s, i);
            w.LevelEnd();
            CKzVariant v;
            SKzPicturePlaneDesc::SaveToVariantOld(v, s, i);
        }
    }
    for (unsigned j = 0; s.pSamples && j < s.uiSampleCount && j < 64; ++j) {
        SKzCameraSetting cam;
        SKzSampleSetting::TranslateSettings(s.pSamples[j], cam);
        SKzSampleSetting::TranslateSettings(cam, s.pSamples[j]);
        (void)SKzSampleSetting::Compare(s.pSamples[j], s.pSamples[0]);
    }
    SKzPicturePlanes copy;
    SKzPicturePlanes::Copy(copy, s);
    SKzPicturePlanes::Copy(copy, s);
    SKzPicturePlanes::Free(copy);
}

void Exercise(Kind k, Record& rec)
{
    switch (k) {
    case kMetadata: {
        Accessors(rec.md.sPicturePlanes);
        SKzPictureMetadata copy(rec.md);
        SKzPictureMetadata::Copy(copy, rec.md);
        break;
    }
    case kPlanes: Accessors(rec.planes); break;
    case kPlane: {
        (void)rec.plane.PlaneModalityHumanReadableShort(0);
        SKzPicturePlaneDesc other;
        SKzPicturePlaneDesc::Copy(other, rec.plane);
        (void)SKzPicturePlaneDesc::IsEqual(other, rec.plane);
        break;
    }
    default: {
        SKzCameraSetting cam;
        SKzSampleSetting::TranslateSettings(rec.sample, cam);
        (void)SKzSampleSetting::GetOCNameAll(rec.sample);
        (void)SKzSampleSetting::GetOCName(rec.sample, 0);
        (void)SKzSampleSetting::GetOCName(rec.sample, 3);
        SKzSampleSetting other;
        SKzSampleSetting::Copy(other, rec.sample);
        if (!SKzSampleSetting::Compare(other, rec.sample)) std::abort();
        break;
    }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1 || size > (1u << 20)) return 0;
    const Kind k = (Kind)(data[0] % kKinds);
    const bool xml = (data[0] / kKinds) % 2 != 0;
    const bool host = (data[0] / (2 * kKinds)) % 2 != 0;
    ++data;
    --size;
    if (host) Install();
    else Uninstall();
    {
        Record first;
        Load(k, xml, first, data, size);
        const std::string save1 = Save(k, xml, first);
        Record second;
        Load(k, xml, second, save1.data(), save1.size());
        const std::string save2 = Save(k, xml, second);
        if (save1 != save2) {
            if (!UnvalidatedMask(k, first)) std::abort();
            Record third;
            Load(k, xml, third, save2.data(), save2.size());
            if (Save(k, xml, third) != save2) std::abort();
        }
        Exercise(k, first);
    }
    Uninstall();
    return 0;
}
