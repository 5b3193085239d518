#include "gnr_metaformats/SKzSampleSetting.h"
#include "gnr_metaformats/KzMetaInternal.h"
#include "gnr_metaformats/SKzCameraSetting.h"
#include "gnr_system/CKzDateTime.h"
#include "gnr_system/CKzVariantText.h"

#include <cstring>
#include <cwchar>
#include <string>

// Zero-initialised at load time (no dynamic initialiser), so a host may fill
// them from its own static constructors.
SKzSettingsHandlers SKzSampleSetting::sGrabberHandlers;
SKzSettingsHandlers SKzSampleSetting::sDeviceHandlers;

namespace {

// Layout of the camera object's first part (byte offsets, 32-bit wide characters).
const size_t kUniqueName = 0, kUniqueNameLen = 64;
const size_t kUserName = 256, kUserNameLen = 128;
const size_t kEmptyText = 768, kEmptyTextLen = 64;
const size_t kJulianDay = 1024;
const size_t kBlock1Name = 1040, kBlock1Data = 1328;
const size_t kBlock2Name = 1952, kBlock2Data = 2240;
const size_t kFormatNameLen = 64;
// Within a format data block.
const size_t kPxlX = 0, kPxlY = 4, kChipX = 8, kChipY = 12, kBinX = 32, kBinY = 40, kRect = 48;

static_assert(kBlock2Data + kRect + 16 <= KZ_CAMERA_OBJECT_MIN_BYTES, "camera layout");

u8* Bytes(void* object) { return static_cast<u8*>(object); }
const u8* Bytes(const void* object) { return static_cast<const u8*>(object); }

// Bounded wide copy: pads with zeros, leaves a text that fills the field unterminated.
void PutText(void* object, size_t offset, size_t len, const CKzStringW& text)
{
    const size_t n = text.GetLength() < 0 ? 0 : static_cast<size_t>(text.GetLength());
    for (size_t i = 0; i < len; ++i) {
        const wchar_t c = i < n ? text.GetString()[i] : L'\0';
        std::memcpy(Bytes(object) + offset + i * sizeof(wchar_t), &c, sizeof(wchar_t));
    }
}

// A text field read up to its terminator or its end, whichever comes first.
CKzStringW GetText(const void* object, size_t offset, size_t len)
{
    std::wstring t;
    for (size_t i = 0; i < len; ++i) {
        wchar_t c;
        std::memcpy(&c, Bytes(object) + offset + i * sizeof(wchar_t), sizeof(wchar_t));
        if (c == L'\0') break;
        t.push_back(c);
    }
    return CKzStringW(t.c_str(), static_cast<int>(t.size()));
}

template <class T> void Put(void* object, size_t offset, T v) { std::memcpy(Bytes(object) + offset, &v, sizeof(T)); }
template <class T> T Get(const void* object, size_t offset)
{
    T v;
    std::memcpy(&v, Bytes(object) + offset, sizeof(T));
    return v;
}

} // namespace

SKzSampleSetting::SKzSampleSetting()
    : dExposureTime(0.0), pCameraSetting(nullptr), uiModeFQ(1), pDeviceSetting(nullptr), baScanArea(1024),
      matCameraToStage(2, 2), dRelayLensZoom(1.0)
{
    if (sGrabberHandlers.pfnCreate && sGrabberHandlers.pfnDestroy) pCameraSetting = sGrabberHandlers.pfnCreate();
    if (sDeviceHandlers.pfnCreate && sDeviceHandlers.pfnDestroy) pDeviceSetting = sDeviceHandlers.pfnCreate();
}

SKzSampleSetting::~SKzSampleSetting()
{
    if (pCameraSetting && sGrabberHandlers.pfnDestroy) sGrabberHandlers.pfnDestroy(pCameraSetting);
    if (pDeviceSetting && sDeviceHandlers.pfnDestroy) sDeviceHandlers.pfnDestroy(pDeviceSetting);
}

int SKzSampleSetting::Copy(SKzSampleSetting& dst, SKzSampleSetting& src)
{
    if (&dst == &src) return KZ_OK;
    dst.sOpticalConfigs = src.sOpticalConfigs;
    dst.sSpecSettings = src.sSpecSettings;
    dst.dExposureTime = src.dExposureTime;
    dst.uiModeFQ = src.uiModeFQ;
    dst.baScanArea = src.baScanArea;
    dst.dRelayLensZoom = src.dRelayLensZoom;
    if (dst.matCameraToStage.IsValid() && src.matCameraToStage.IsValid() &&
        dst.matCameraToStage.Rows() == src.matCameraToStage.Rows() &&
        dst.matCameraToStage.Columns() == src.matCameraToStage.Columns())
        dst.matCameraToStage = src.matCameraToStage;
    if (sGrabberHandlers.pfnCopy && dst.pCameraSetting && src.pCameraSetting) {
        const int r = sGrabberHandlers.pfnCopy(dst.pCameraSetting, src.pCameraSetting);
        if (r != 0) return r;
    }
    if (sDeviceHandlers.pfnCopy && dst.pDeviceSetting && src.pDeviceSetting)
        return sDeviceHandlers.pfnCopy(dst.pDeviceSetting, src.pDeviceSetting);
    return KZ_OK;
}

int SKzSampleSetting::CopyArray(SKzSampleSetting* dst, SKzSampleSetting* src, unsigned n)
{
    if (!dst || !src) return n ? KZ_ERR_INVALID_ARG : KZ_OK;
    for (unsigned i = 0; i < n; ++i) {
        const int r = Copy(dst[i], src[i]);
        if (r != 0) return r;
    }
    return KZ_OK;
}

bool SKzSampleSetting::Compare(const SKzSampleSetting& a, const SKzSampleSetting& b)
{
    if (a.uiModeFQ != b.uiModeFQ) return false;
    if (a.sOpticalConfigs.size() != b.sOpticalConfigs.size()) return false;
    for (auto i = a.sOpticalConfigs.begin(), j = b.sOpticalConfigs.begin(); i != a.sOpticalConfigs.end(); ++i, ++j)
        if (i->first != j->first || i->second.Compare(j->second.GetString()) != 0) return false;
    if (a.sSpecSettings.Compare(b.sSpecSettings.GetString()) != 0) return false;
    if (sDeviceHandlers.pfnCompare) {
        if (!a.pDeviceSetting || !b.pDeviceSetting) {
            if (a.pDeviceSetting || b.pDeviceSetting) return false;
        } else if (!sDeviceHandlers.pfnCompare(a.pDeviceSetting, b.pDeviceSetting, 0)) {
            return false;
        }
    }
    if (!sGrabberHandlers.pfnCompare) return true;
    if (!a.pCameraSetting) return !b.pCameraSetting;
    if (!b.pCameraSetting) return false;
    return sGrabberHandlers.pfnCompare(a.pCameraSetting, b.pCameraSetting, a.uiModeFQ);
}

CKzStringW SKzSampleSetting::GetOCName(const SKzSampleSetting& s, unsigned key)
{
    if (s.sOpticalConfigs.empty()) return CKzStringW();
    if (key == 0) return s.sOpticalConfigs.begin()->second;
    for (const auto& e : s.sOpticalConfigs)
        if ((e.first & key) == key) return e.second;
    return CKzStringW();
}

CKzStringW SKzSampleSetting::GetOCNameAll(const SKzSampleSetting& s)
{
    CKzStringW t;
    for (const auto& e : s.sOpticalConfigs) {
        if (!t.IsEmpty()) t += L", ";
        t += e.second;
    }
    return t;
}

namespace {
// A name of the working table (a local type keeps the container's code out of
// the exported symbols).
struct SName {
    std::wstring text;
    bool operator<(const SName& o) const { return text < o.text; }
};
} // namespace

int SKzSampleSetting::SetOCName(SKzSampleSetting& s, unsigned key, const CKzStringW& name)
{
    if (key == 0) return KZ_ERR_FAILED;
    std::map<SName, kz_uint32> work;   // ordered by name
    work[SName{std::wstring(name.GetString(), static_cast<size_t>(name.GetLength()))}] = key;
    for (const auto& e : s.sOpticalConfigs) {
        const SName n{std::wstring(e.second.GetString(), static_cast<size_t>(e.second.GetLength()))};
        auto it = work.find(n);
        if (it != work.end()) it->second |= e.first;
        else if (e.first & key) continue;
        else work[n] = e.first;
    }
    std::map<kz_uint32, CKzStringW> rebuilt;
    for (const auto& e : work) {
        if (e.first.text.empty()) continue;
        rebuilt[e.second] = CKzStringW(e.first.text.c_str(), static_cast<int>(e.first.text.size()));
    }
    s.sOpticalConfigs.swap(rebuilt);
    return KZ_OK;
}

int SKzSampleSetting::TranslateSettings(const SKzCameraSetting& cam, SKzSampleSetting& s)
{
    void* o = s.pCameraSetting;
    if (!o) return KZ_ERR_NOT_FOUND;
    PutText(o, kUniqueName, kUniqueNameLen, cam.sCameraName);
    PutText(o, kUserName, kUserNameLen, cam.sCameraName);
    PutText(o, kEmptyText, kEmptyTextLen, CKzStringW());
    CKzDateTime now = CKzDateTime::UNow();
    now.MakeTimezone(CKzDateTime::TimeZone(CKzDateTime::Local));
    Put<double>(o, kJulianDay, now.GetJulianDayNumber());
    for (size_t b = 0; b < 2; ++b) {
        PutText(o, b ? kBlock2Name : kBlock1Name, kFormatNameLen, cam.sCameraFormatName);
        const size_t d = b ? kBlock2Data : kBlock1Data;
        Put<kz_int32>(o, d + kPxlX, static_cast<kz_int32>(cam.uiCamPxlCountX));
        Put<kz_int32>(o, d + kPxlY, static_cast<kz_int32>(cam.uiCamPxlCountY));
        Put<kz_int32>(o, d + kChipX, kzvariant::DoubleToI32(cam.dCamChipSizeX));
        Put<kz_int32>(o, d + kChipY, kzvariant::DoubleToI32(cam.dCamChipSizeY));
        Put<double>(o, d + kBinX, cam.dCamBinningX);
        Put<double>(o, d + kBinY, cam.dCamBinningY);
        Put<kz_int32>(o, d + kRect + 0, cam.rcCamChipSrc.left);
        Put<kz_int32>(o, d + kRect + 4, cam.rcCamChipSrc.top);
        Put<kz_int32>(o, d + kRect + 8, cam.rcCamChipSrc.right);
        Put<kz_int32>(o, d + kRect + 12, cam.rcCamChipSrc.bottom);
    }
    s.sSpecSettings = cam.sSpecSettings;
    s.dExposureTime = cam.dExposure;
    return KZ_OK;
}

int SKzSampleSetting::TranslateSettings(const SKzSampleSetting& s, SKzCameraSetting& cam)
{
    const void* o = s.pCameraSetting;
    if (!o) return KZ_ERR_NOT_FOUND;
    cam.sCameraName = GetText(o, kUniqueName, kUniqueNameLen);
    const bool first = s.uiModeFQ == 1;
    cam.sCameraFormatName = GetText(o, first ? kBlock1Name : kBlock2Name, kFormatNameLen);
    const size_t d = first ? kBlock1Data : kBlock2Data;
    cam.uiCamPxlCountX = static_cast<kz_uint32>(Get<kz_int32>(o, d + kPxlX));
    cam.uiCamPxlCountY = static_cast<kz_uint32>(Get<kz_int32>(o, d + kPxlY));
    cam.dCamChipSizeX = Get<kz_int32>(o, d + kChipX);
    cam.dCamChipSizeY = Get<kz_int32>(o, d + kChipY);
    cam.dCamBinningX = Get<double>(o, d + kBinX);
    cam.dCamBinningY = Get<double>(o, d + kBinY);
    cam.rcCamChipSrc.left = Get<kz_int32>(o, d + kRect + 0);
    cam.rcCamChipSrc.top = Get<kz_int32>(o, d + kRect + 4);
    cam.rcCamChipSrc.right = Get<kz_int32>(o, d + kRect + 8);
    cam.rcCamChipSrc.bottom = Get<kz_int32>(o, d + kRect + 12);
    cam.dExposure = s.dExposureTime;
    cam.sSpecSettings = s.sSpecSettings;
    return KZ_OK;
}

CKzStringW SKzSampleSetting::GetCameraUniqueName() const
{
    return pCameraSetting ? GetText(pCameraSetting, kUniqueName, kUniqueNameLen) : CKzStringW();
}

CKzStringW SKzSampleSetting::GetCameraUserName() const
{
    return pCameraSetting ? GetText(pCameraSetting, kUserName, kUserNameLen) : CKzStringW();
}

namespace {

// A camera object equal to the host's default one is not stored.
bool StoresCamera(const SKzSampleSetting& s, bool haveSaveEntry)
{
    const SKzSettingsHandlers& g = SKzSampleSetting::sGrabberHandlers;
    if (!s.pCameraSetting || !haveSaveEntry) return false;
    if (g.pDefault && g.pfnCompare && g.pfnCompare(g.pDefault, s.pCameraSetting, s.uiModeFQ)) return false;
    return true;
}

int Combined(int device, int camera) { return device != 0 ? device : camera; }

} // namespace

int SKzSampleSetting::SaveToVariant(CKzVariant& node, const SKzSampleSetting& s)
{
    int cam = 0, dev = 0;
    kzmeta::BeginStruct(node, "RKzSampleSettings");
    if (StoresCamera(s, sGrabberHandlers.pfnSaveToVariant != nullptr))
        cam = sGrabberHandlers.pfnSaveToVariant(node[L"pCameraSetting"], s.pCameraSetting);
    if (s.pDeviceSetting && sDeviceHandlers.pfnSaveToVariant)
        dev = sDeviceHandlers.pfnSaveToVariant(node[L"pDeviceSetting"], s.pDeviceSetting);
    CKzVariant& list = kzmeta::ListMember(node, L"sOpticalConfigs");
    wchar_t name[24];
    for (const auto& e : s.sOpticalConfigs) {
        swprintf(name, 24, L"_%d", static_cast<int>(e.first));
        list.Append(CKzVariant(e.second, CKzStringW(name)));
    }
    node[L"sSpecSettings"] = s.sSpecSettings;
    node[L"dExposureTime"] = s.dExposureTime;
    node[L"uiModeFQ"] = static_cast<unsigned int>(s.uiModeFQ);
    node[L"baScanArea"] = s.baScanArea;
    s.matCameraToStage.SaveToVariant(kzmeta::ListMember(node, L"matCameraToStage"));
    node[L"dRelayLensZoom"] = s.dRelayLensZoom;
    return Combined(dev, cam);
}

int SKzSampleSetting::LoadFromVariant(SKzSampleSetting& s, const CKzVariant& node)
{
    if (!kzmeta::IsRunType(node, "RKzSampleSettings")) return KZ_OK;
    int cam = 0, dev = 0;
    const CKzVariant& c = node[L"pCameraSetting"];
    if (s.pCameraSetting && sGrabberHandlers.pfnLoadFromVariant && !c.IsUndefined())
        cam = sGrabberHandlers.pfnLoadFromVariant(s.pCameraSetting, c, 0);
    const CKzVariant& d = node[L"pDeviceSetting"];
    if (s.pDeviceSetting && sDeviceHandlers.pfnLoadFromVariant && !d.IsUndefined()) {
        auto load = sDeviceHandlers.DeviceLoadFromVariant();
        dev = load(d, s.pDeviceSetting);
    }
    s.sSpecSettings = node[L"sSpecSettings"].GetCKzStringW();
    const CKzVariant& list = node[L"sOpticalConfigs"];
    const int n = list.GetCount();
    for (int i = 0; i < n; ++i) {
        const CKzVariant* e = list.IndexPtr(i);
        if (!e) continue;
        const wchar_t* nm = e->GetName().GetString();
        kz_int32 key = 0;
        if (nm[0] != L'_' || !kzvariant::ScanI32(nm + 1, key)) key = 0;
        SetOCName(s, static_cast<unsigned>(key), e->GetCKzStringW());
    }
    s.dExposureTime = node[L"dExposureTime"].GetDouble();
    s.uiModeFQ = node[L"uiModeFQ"].GetKz_uint32();
    const CKzVariant& scan = node[L"baScanArea"];
    if (!scan.IsUndefined()) s.baScanArea = scan.GetCKzByteArray();
    s.matCameraToStage.LoadFromVariant(const_cast<CKzVariant&>(node[L"matCameraToStage"]));
    s.dRelayLensZoom = node[L"dRelayLensZoom"].GetDouble();
    return Combined(dev, cam);
}

int SKzSampleSetting::SaveToLiteVariant(CKzLiteVariantW& w, const SKzSampleSetting& s)
{
    int cam = 0, dev = 0;
    if (StoresCamera(s, sGrabberHandlers.pfnSaveToLiteVariant != nullptr) && w.LevelBegin(L"pCameraSetting") == KZ_OK) {
        cam = sGrabberHandlers.pfnSaveToLiteVariant(w, s.pCameraSetting);
        w.LevelEnd();
    }
    if (s.pDeviceSetting && sDeviceHandlers.pfnSaveToLiteVariant && w.LevelBegin(L"pDeviceSetting") == KZ_OK) {
        auto save = sDeviceHandlers.DeviceSaveToLiteVariant();
        dev = save(w, s.pDeviceSetting, 0);
        w.LevelEnd();
    }
    w.Set(static_cast<unsigned int>(s.sOpticalConfigs.size()), L"uiOpticalConfigs");
    if (w.LevelBegin(L"sOpticalConfigs") == KZ_OK) {
        for (const auto& e : s.sOpticalConfigs) {
            if (w.LevelBegin(L"") != KZ_OK) continue;
            w.Set(static_cast<unsigned int>(e.first), L"uiOCTypeKey");
            w.Set(e.second.GetString(), L"sOpticalConfigName");
            w.LevelEnd();
        }
        w.LevelEnd();
    }
    w.Set(s.sSpecSettings.GetString(), L"sSpecSettings");
    w.Set(s.dExposureTime, L"dExposureTime");
    w.Set(static_cast<unsigned int>(s.uiModeFQ), L"uiModeFQ");
    w.Set(s.baScanArea, L"baScanArea");
    if (w.LevelBegin(L"matCameraToStage") == KZ_OK) {
        s.matCameraToStage.SaveToLiteVariant(w);
        w.LevelEnd();
    }
    w.Set(s.dRelayLensZoom, L"dRelayLensZoom");
    return Combined(dev, cam);
}

int SKzSampleSetting::LoadFromLiteVariant(SKzSampleSetting& s, CKzLiteVariantR& r)
{
    int cam = 0, dev = 0;
    if (s.pCameraSetting && sGrabberHandlers.pfnLoadFromLiteVariant && r.LevelBegin(L"pCameraSetting") == KZ_OK) {
        cam = sGrabberHandlers.pfnLoadFromLiteVariant(s.pCameraSetting, r, 0);
        r.LevelEnd();
    }
    if (s.pDeviceSetting && sDeviceHandlers.pfnLoadFromLiteVariant && r.LevelBegin(L"pDeviceSetting") == KZ_OK) {
        auto load = sDeviceHandlers.DeviceLoadFromLiteVariant();
        dev = load(r, s.pDeviceSetting);
        r.LevelEnd();
    }
    const unsigned count = r.Get(L"uiOpticalConfigs", 0u);
    if (count && r.LevelBegin(L"sOpticalConfigs") == KZ_OK) {
        r.FirstValue();
        for (unsigned i = 0; i < count && r.IsNextValue(); ++i) {
            if (r.CurrentLevelBegin() == KZ_OK) {
                const unsigned key = r.Get(L"uiOCTypeKey", 0u);
                CKzStringW name;
                r.GetCKzStringW(name, L"sOpticalConfigName", L"");
                SetOCName(s, key, name);
                r.LevelEnd();
            }
            if (r.NextValue() != KZ_OK) break;
        }
        r.LevelEnd();
    }
    r.GetCKzStringW(s.sSpecSettings, L"sSpecSettings", CKzStringW(s.sSpecSettings).GetString());
    s.dExposureTime = r.Get(L"dExposureTime", s.dExposureTime);
    s.uiModeFQ = r.Get(L"uiModeFQ", static_cast<unsigned int>(s.uiModeFQ));
    if (r.IsValueSet(L"baScanArea")) {
        CKzByteArray scan;
        if (r.Get(L"baScanArea", scan) == KZ_OK) s.baScanArea = scan;
    }
    if (r.LevelBegin(L"matCameraToStage") == KZ_OK) {
        s.matCameraToStage.LoadFromLiteVariant(r);
        r.LevelEnd();
    }
    s.dRelayLensZoom = r.Get(L"dRelayLensZoom", s.dRelayLensZoom);
    return Combined(dev, cam);
}
