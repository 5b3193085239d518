// A stand-in host for sample settings: both handler tables filled with test
// functions over a camera object of exactly the documented minimum size (so
// AddressSanitizer sees any access past its layout) and a small device
// object. Every table entry counts its calls.
#pragma once

#include "meta_test_support.h"
#include "gnr_metaformats/SKzPictureMetadata.h"

#include <cstdlib>
#include <ctime>
#include <string>

namespace kzmt {

struct HostDevice {
    int value;
};

struct HostCalls {
    int create = 0, destroy = 0, copy = 0, save = 0, saveLite = 0, load = 0, loadLite = 0, compare = 0;
    int devCreate = 0, devDestroy = 0, devCopy = 0, devSave = 0, devSaveLite = 0, devLoad = 0, devLoadLite = 0,
        devCompare = 0;
    unsigned lastMode = 0;
    CKzVariant lastDeviceTree;
};

inline HostCalls& Calls()
{
    static HostCalls c;
    return c;
}

const size_t kCamBytes = KZ_CAMERA_OBJECT_MIN_BYTES;

// Field helpers over the camera layout.
inline void CamSetText(void* o, size_t off, const wchar_t* t, size_t len)
{
    for (size_t i = 0; i < len; ++i) {
        const wchar_t c = t[i];
        std::memcpy((char*)o + off + i * 4, &c, 4);
        if (!c) break;
    }
}
inline int CamTail(const void* o)
{
    int v;
    std::memcpy(&v, (const char*)o + kCamBytes - 4, 4);
    return v;
}
inline void CamSetTail(void* o, int v) { std::memcpy((char*)o + kCamBytes - 4, &v, 4); }

namespace host {
inline void* Create()
{
    ++Calls().create;
    return std::calloc(1, kCamBytes);
}
inline void Destroy(void* o)
{
    ++Calls().destroy;
    std::free(o);
}
inline int Copy(void* d, void* s)
{
    ++Calls().copy;
    std::memcpy(d, s, kCamBytes);
    return 0;
}
inline int Save(CKzVariant& m, void* o)
{
    ++Calls().save;
    m = CKzListVariant();
    m.Append(CKzVariant(CamTail(o), CKzStringW(L"tail")));
    return 0;
}
inline int SaveLite(CKzLiteVariantW& w, void* o)
{
    ++Calls().saveLite;
    return w.Set(CamTail(o), L"tail");
}
inline int Load(void* o, const CKzVariant& m, int)
{
    ++Calls().load;
    CamSetTail(o, m[L"tail"].GetKz_int32());
    return 0;
}
inline int LoadLite(void* o, CKzLiteVariantR& r, int)
{
    ++Calls().loadLite;
    CamSetTail(o, r.Get(L"tail", 0));
    return 0;
}
inline bool Compare(void* a, void* b, unsigned mode)
{
    ++Calls().compare;
    Calls().lastMode = mode;
    return std::memcmp((const char*)a + 2296, (const char*)b + 2296, 8) == 0 &&
           std::memcmp(a, b, 256) == 0;
}
inline void* DevCreate()
{
    ++Calls().devCreate;
    return new HostDevice{0};
}
inline void DevDestroy(void* o)
{
    ++Calls().devDestroy;
    delete static_cast<HostDevice*>(o);
}
inline int DevCopy(void* d, void* s)
{
    ++Calls().devCopy;
    *static_cast<HostDevice*>(d) = *static_cast<HostDevice*>(s);
    return 0;
}
inline int DevSave(CKzVariant& m, void* o)
{
    ++Calls().devSave;
    m = CKzListVariant();
    m.Append(CKzVariant(static_cast<HostDevice*>(o)->value, CKzStringW(L"devValue")));
    return 0;
}
inline int DevSaveLite(CKzLiteVariantW& w, void* o, int)
{
    ++Calls().devSaveLite;
    return w.Set(static_cast<HostDevice*>(o)->value, L"devValue");
}
inline int DevLoad(const CKzVariant& tree, void* o)
{
    ++Calls().devLoad;
    Calls().lastDeviceTree = tree;
    static_cast<HostDevice*>(o)->value = tree[L"devValue"].GetKz_int32();
    return 0;
}
inline int DevLoadLite(CKzLiteVariantR& r, void* o)
{
    ++Calls().devLoadLite;
    static_cast<HostDevice*>(o)->value = r.Get(L"devValue", 0);
    return 0;
}
inline bool DevCompare(void* a, void* b, unsigned mode)
{
    ++Calls().devCompare;
    return mode == 0 && static_cast<HostDevice*>(a)->value == static_cast<HostDevice*>(b)->value;
}
} // namespace host

// Installs the stand-in tables; TearDown zeroes them after the test's sample
// settings are gone (tests keep their objects inside the test body).
class HostTables : public ::testing::Test {
protected:
    void SetUp() override
    {
        PinLocale();
        setenv("TZ", "UTC", 1);
        tzset();
        Calls() = HostCalls();
        m_default = std::calloc(1, kCamBytes);
        SKzSettingsHandlers& g = SKzSampleSetting::sGrabberHandlers;
        g.pfnCreate = host::Create;
        g.pfnDestroy = host::Destroy;
        g.pfnCopy = host::Copy;
        g.pfnSaveToVariant = host::Save;
        g.pfnSaveToLiteVariant = host::SaveLite;
        g.pfnLoadFromVariant = host::Load;
        g.pfnLoadFromLiteVariant = host::LoadLite;
        g.pfnCompare = host::Compare;
        g.pDefault = m_default;
        SKzSettingsHandlers& d = SKzSampleSetting::sDeviceHandlers;
        d.pfnCreate = host::DevCreate;
        d.pfnDestroy = host::DevDestroy;
        d.pfnCopy = host::DevCopy;
        d.pfnSaveToVariant = host::DevSave;
        d.pfnSaveToLiteVariant = reinterpret_cast<SKzSettingsHandlers::PFN_SAVE_LITE>(host::DevSaveLite);
        d.pfnLoadFromVariant = reinterpret_cast<SKzSettingsHandlers::PFN_LOAD_VARIANT>(host::DevLoad);
        d.pfnLoadFromLiteVariant = reinterpret_cast<SKzSettingsHandlers::PFN_LOAD_LITE>(host::DevLoadLite);
        d.pfnCompare = host::DevCompare;
    }
    void TearDown() override
    {
        SKzSampleSetting::sGrabberHandlers = SKzSettingsHandlers();
        SKzSampleSetting::sDeviceHandlers = SKzSettingsHandlers();
        std::free(m_default);
        EXPECT_EQ(Calls().create, Calls().destroy) << "camera objects leaked or freed twice";
        EXPECT_EQ(Calls().devCreate, Calls().devDestroy) << "device objects leaked or freed twice";
    }
    void* m_default = nullptr;
};

// Without any host table.
class NoHost : public ::testing::Test {
protected:
    void SetUp() override
    {
        PinLocale();
        setenv("TZ", "UTC", 1);
        tzset();
        SKzSampleSetting::sGrabberHandlers = SKzSettingsHandlers();
        SKzSampleSetting::sDeviceHandlers = SKzSettingsHandlers();
    }
};

inline ::testing::AssertionResult SamePlane(const SKzPicturePlaneDesc& a, const SKzPicturePlaneDesc& b)
{
#define KZMT_F(f)                                                                                                      \
    if (!(a.f == b.f)) return ::testing::AssertionFailure() << #f " differs";
    KZMT_F(uiCompCount) KZMT_F(uiSampleIndex) KZMT_F(dObjCalibration1to1) KZMT_F(sizeObjFullChip.cx)
    KZMT_F(sizeObjFullChip.cy) KZMT_F(uiModalityMask) KZMT_F(dLampVoltage) KZMT_F(dFadingCorr) KZMT_F(uiColor)
    KZMT_F(dAcqTime) KZMT_F(dPinholeDiameter) KZMT_F(iChannelSeriesIndex)
#undef KZMT_F
    if (W(a.sDescription) != W(b.sDescription)) return ::testing::AssertionFailure() << "sDescription differs";
    if (auto r = SameProbe(a.pFluorescentProbe, b.pFluorescentProbe); !r) return r << " (probe)";
    if (auto r = SamePath(a.pFilterPath, b.pFilterPath); !r) return r << " (path)";
    return ::testing::AssertionSuccess();
}

inline bool SameMatrix(const CKzMatrix& a, const CKzMatrix& b)
{
    if (a.Rows() != b.Rows() || a.Columns() != b.Columns()) return false;
    for (unsigned i = 0; i < a.Rows(); ++i)
        for (unsigned j = 0; j < a.Columns(); ++j)
            if (a[i][j] != b[i][j]) return false;
    return true;
}

inline ::testing::AssertionResult SameSample(const SKzSampleSetting& a, const SKzSampleSetting& b)
{
    if (a.sOpticalConfigs.size() != b.sOpticalConfigs.size()) return ::testing::AssertionFailure() << "name count";
    for (auto i = a.sOpticalConfigs.begin(), j = b.sOpticalConfigs.begin(); i != a.sOpticalConfigs.end(); ++i, ++j)
        if (i->first != j->first || W(i->second) != W(j->second)) return ::testing::AssertionFailure() << "names";
    if (a.dExposureTime != b.dExposureTime || a.uiModeFQ != b.uiModeFQ || a.dRelayLensZoom != b.dRelayLensZoom)
        return ::testing::AssertionFailure() << "numbers";
    if (W(a.sSpecSettings) != W(b.sSpecSettings)) return ::testing::AssertionFailure() << "settings text";
    if (a.baScanArea.GetSize() != b.baScanArea.GetSize() ||
        (a.baScanArea.GetSize() && std::memcmp(a.baScanArea.GetData(), b.baScanArea.GetData(), a.baScanArea.GetSize())))
        return ::testing::AssertionFailure() << "scan area";
    if (!SameMatrix(a.matCameraToStage, b.matCameraToStage)) return ::testing::AssertionFailure() << "matrix";
    if (!a.pCameraSetting != !b.pCameraSetting || !a.pDeviceSetting != !b.pDeviceSetting)
        return ::testing::AssertionFailure() << "host objects";
    if (a.pCameraSetting && CamTail(a.pCameraSetting) != CamTail(b.pCameraSetting))
        return ::testing::AssertionFailure() << "camera object";
    if (a.pDeviceSetting &&
        static_cast<HostDevice*>(a.pDeviceSetting)->value != static_cast<HostDevice*>(b.pDeviceSetting)->value)
        return ::testing::AssertionFailure() << "device object";
    return ::testing::AssertionSuccess();
}

inline ::testing::AssertionResult SameSet(const SKzPicturePlanes& a, const SKzPicturePlanes& b)
{
    if (a.uiCount != b.uiCount || a.uiCompCount != b.uiCompCount || a.uiSampleCount != b.uiSampleCount ||
        a.eRepresentation != b.eRepresentation || W(a.sDescription) != W(b.sDescription))
        return ::testing::AssertionFailure() << "counts " << a.uiCount << "/" << a.uiCompCount << "/" << a.uiSampleCount
                                             << " vs " << b.uiCount << "/" << b.uiCompCount << "/" << b.uiSampleCount;
    for (unsigned i = 0; i < a.uiCount; ++i)
        if (auto r = SamePlane(a.pPlanes[i], b.pPlanes[i]); !r) return r << " (plane " << i << ")";
    for (unsigned i = 0; i < a.uiSampleCount; ++i)
        if (auto r = SameSample(a.pSamples[i], b.pSamples[i]); !r) return r << " (sample " << i << ")";
    return ::testing::AssertionSuccess();
}

} // namespace kzmt
