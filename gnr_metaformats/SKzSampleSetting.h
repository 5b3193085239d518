// Sample settings: the acquisition hardware state of a group of planes
// (optical-configuration names, exposure, scan area, camera-to-stage matrix)
// plus a camera object and a device object that only the host understands,
// handled through two tables of host functions.
#pragma once

#include "gnr_system/kz_base.h"
#include "gnr_system/CKzByteArray.h"
#include "gnr_system/CKzString.h"
#include "numerics/CKzMatrix.h"

#include <map>

class CKzVariant;
class CKzLiteVariantW;
class CKzLiteVariantR;
struct SKzCameraSetting;

// Ten pointer-sized entries a host fills for its camera objects
// (SKzSampleSetting::sGrabberHandlers) and its device objects
// (SKzSampleSetting::sDeviceHandlers). Entries 4 to 6 take other arguments in
// the device table: a host stores its device functions cast to the slot type
// (the PFN_DEVICE_* types below give their real signatures) and the library
// casts them back before calling.
//
// The camera object must be at least KZ_CAMERA_OBJECT_MIN_BYTES long: the
// library reads and writes its first part (names, date, two format blocks).
struct SKzSettingsHandlers {
    typedef void* (*PFN_CREATE)();
    typedef void (*PFN_DESTROY)(void* object);
    typedef int (*PFN_COPY)(void* dst, void* src);
    typedef int (*PFN_SAVE_VARIANT)(CKzVariant& member, void* object);
    typedef int (*PFN_SAVE_LITE)(CKzLiteVariantW& writer, void* object);
    typedef int (*PFN_LOAD_VARIANT)(void* object, const CKzVariant& member, int reserved);
    typedef int (*PFN_LOAD_LITE)(void* object, CKzLiteVariantR& reader, int reserved);
    typedef bool (*PFN_COMPARE)(void* a, void* b, unsigned int mode);
    // Real signatures of device entries 4, 5 and 6.
    typedef int (*PFN_DEVICE_SAVE_LITE)(CKzLiteVariantW& writer, void* object, int reserved);
    typedef int (*PFN_DEVICE_LOAD_VARIANT)(const CKzVariant& tree, void* object);
    typedef int (*PFN_DEVICE_LOAD_LITE)(CKzLiteVariantR& reader, void* object);

    PFN_CREATE pfnCreate;
    PFN_DESTROY pfnDestroy;
    PFN_COPY pfnCopy;
    PFN_SAVE_VARIANT pfnSaveToVariant;
    PFN_SAVE_LITE pfnSaveToLiteVariant;
    PFN_LOAD_VARIANT pfnLoadFromVariant;
    PFN_LOAD_LITE pfnLoadFromLiteVariant;
    PFN_COMPARE pfnCompare;
    void* pfnUnused;
    void* pDefault;   // grabber table: the default camera object

    // Device entries 4, 5 and 6 under their real signatures (null stays null).
    PFN_DEVICE_SAVE_LITE DeviceSaveToLiteVariant() const { return Retype<PFN_DEVICE_SAVE_LITE>(pfnSaveToLiteVariant); }
    PFN_DEVICE_LOAD_VARIANT DeviceLoadFromVariant() const
    {
        return Retype<PFN_DEVICE_LOAD_VARIANT>(pfnLoadFromVariant);
    }
    PFN_DEVICE_LOAD_LITE DeviceLoadFromLiteVariant() const
    {
        return Retype<PFN_DEVICE_LOAD_LITE>(pfnLoadFromLiteVariant);
    }
    // A function pointer back to the type it was stored from; the detour
    // through the parameterless function type is the sanctioned way to
    // re-type one.
    template <class To, class From>
    static To Retype(From f)
    {
        return reinterpret_cast<To>(reinterpret_cast<void (*)()>(f));
    }
};

// Bytes of the camera object the library reads and writes.
#define KZ_CAMERA_OBJECT_MIN_BYTES 2304

struct KZ_EXPORT SKzSampleSetting {
    std::map<kz_uint32, CKzStringW> sOpticalConfigs;   // names by type key, ascending
    double dExposureTime;
    void* pCameraSetting;   // host camera object, or null
    kz_uint32 uiModeFQ;     // 1: the camera object's first format block
    CKzStringW sSpecSettings;
    void* pDeviceSetting;   // host device object, or null
    CKzByteArray baScanArea;
    CKzMatrix matCameraToStage;
    double dRelayLensZoom;

    // Host tables, zero until the host fills them (before any sample setting exists).
    static SKzSettingsHandlers sGrabberHandlers;
    static SKzSettingsHandlers sDeviceHandlers;

    SKzSampleSetting();
    ~SKzSampleSetting();
    // Owned host objects: copies go through Copy.
    SKzSampleSetting(const SKzSampleSetting&) = delete;
    SKzSampleSetting& operator=(const SKzSampleSetting&) = delete;

    static int Copy(SKzSampleSetting& dst, SKzSampleSetting& src);
    static int CopyArray(SKzSampleSetting* dst, SKzSampleSetting* src, unsigned n);
    static bool Compare(const SKzSampleSetting& a, const SKzSampleSetting& b);

    static CKzStringW GetOCName(const SKzSampleSetting& s, unsigned key);
    static CKzStringW GetOCNameAll(const SKzSampleSetting& s);
    // -9 for key 0.
    static int SetOCName(SKzSampleSetting& s, unsigned key, const CKzStringW& name);

    // Between the legacy camera record and the camera object; -13 without one.
    static int TranslateSettings(const SKzCameraSetting& cam, SKzSampleSetting& s);
    static int TranslateSettings(const SKzSampleSetting& s, SKzCameraSetting& cam);

    static int SaveToVariant(CKzVariant& node, const SKzSampleSetting& s);
    static int LoadFromVariant(SKzSampleSetting& s, const CKzVariant& node);
    static int SaveToLiteVariant(CKzLiteVariantW& w, const SKzSampleSetting& s);
    static int LoadFromLiteVariant(SKzSampleSetting& s, CKzLiteVariantR& r);

    // Names held in the camera object (empty without one).
    CKzStringW GetCameraUniqueName() const;
    CKzStringW GetCameraUserName() const;
};
