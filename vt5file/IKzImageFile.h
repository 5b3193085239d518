// Image formats and the two interfaces through which the library reads and
// writes image files: the frame geometry record, the text information, the
// format interface and the reference-counted reader and writer interfaces.
//
// The virtual operations are declared in their binary slot order; new ones
// go after the existing ones only.
#pragma once

#include <cstddef>

#include "gnr_system/kz_base.h"
#include "gnr_system/CKzString.h"
#include "gnr_system/IKzInterface.h"

class CKzByteArray;
class CKzVariant;
struct SKzExperiment;
struct SKzExperimentRecord;
struct SKzPictureMetadata;
class IKzInputImageFile;
class IKzOutputImageFile;

// Called with the fraction done; true stops the operation.
typedef bool (*KzImageProgressFn)(double fraction, void* user);

// Frame geometry and storage of a file.
struct SKzImageAttributes {
    u32 uiWidth;          // pixels per row
    u32 uiWidthBytes;     // row stride in bytes (in the file and in pictures)
    u32 uiHeight;         // rows
    u32 uiComp;           // interleaved samples per pixel
    u8 uiBpcInMemory;     // bits per sample in memory, a multiple of 8
    u8 uiBpcSignificant;  // significant bits per sample (1: binary picture)
    i32 ePixelType;       // 1 default; 2 floating-point samples
    u32 uiSequenceCount;  // frames
    u32 uiTileWidth;      // 0: the frame width
    u32 uiTileHeight;     // 0: the frame height
    i32 eCompression;     // 0 deflated; 2 raw (any other value is raw too)
    double dCompressionParam;  // for deflated frames: the zlib level
};

// Fifteen texts about the image, numbered 0 to 14. Items 0 to 13 are stored
// in the file as "TextInfoItem_0" to "TextInfoItem_13"; item 14 is the
// version string of the application that wrote the file.
struct SKzImageTextInfo {
    enum : u32 { eCount = 15, eStored = 14 };
    CKzStringW wsText[eCount];
};

// Features an image format may support (asked by number).
enum _EKzImageFormatFeature : int {};

// An image format: names itself and opens paths as readers or writers.
class KZ_EXPORT IKzImageFormat : public CKzClass {
public:
    explicit IKzImageFormat(bool flag) : CKzClass(flag) {}

    virtual int GetID(CKzStringA& id) = 0;
    virtual int GetTextDescription(CKzStringW& text) = 0;
    // Extensions with their dot, separated by ";".
    virtual int GetExtensions(CKzStringW& list) = 0;
    virtual int IsFeatureSupported(_EKzImageFormatFeature feature) = 0;
    virtual int IsDataFormatSupported(u32 width, u32 height, u8 bits, u32 components) = 0;
    virtual int AdjustDataFormat(u32& width, u32& height, u8& bits, u32& components) = 0;
    virtual int IsFormatSupported(SKzImageAttributes& attributes) = 0;
    virtual int AdjustFormat(SKzImageAttributes& attributes) = 0;
    virtual int CreateOutputImageFile(CKzStringW path, IKzOutputImageFile*& writer) = 0;
    virtual int CreateInputImageFile(CKzStringW path, IKzInputImageFile*& reader) = 0;
};

// Reader of an open image file. Reference counted: the receiver of a reader
// owns one reference and gives it back with Release; the last Release deletes
// the reader. One thread at a time.
class KZ_EXPORT IKzInputImageFile {
public:
    virtual int AddRef() = 0;
    virtual int Release() = 0;
    virtual IKzImageFormat* GetImageFormat() = 0;
    // Frame seq into buffer (uiWidthBytes x uiHeight bytes).
    virtual int GetData(u32 seq, void* buffer, KzImageProgressFn progress, void* user) = 0;
    virtual int GetImageAttributes(SKzImageAttributes& attributes) = 0;
    // The experiment.
    virtual int GetImageMetadata(SKzExperiment& experiment, CKzVariant* unused) = 0;
    // The picture metadata of frame seq.
    virtual int GetImageMetadata(u32 seq, SKzPictureMetadata& metadata, CKzVariant* unused) = 0;
    virtual int GetCustomData(const wchar_t* name, CKzByteArray& data) = 0;
    virtual int GetCustomDataSeq(const wchar_t* name, u32 index, CKzByteArray& data) = 0;
    // One component of frame seq into component 0 of a caller's picture of
    // `components` samples per pixel and rowBytes bytes per row.
    virtual int GetComponentData(u32 seq, u32 component, void* buffer, u32 rowBytes, u32 components) = 0;
    virtual int SetConversionParameters(int parameters);
    virtual int GetCustomDataVar(const wchar_t* name, CKzVariant& value) = 0;
    virtual int GetCustomDataVarSeq(const wchar_t* name, u32 index, CKzVariant& value) = 0;
    virtual int GetImageTextInfo(SKzImageTextInfo& info) = 0;
    virtual int GetImageBinary(void* buffer) = 0;
    // A rectangle of the frame viewed at a virtual size (nearest neighbour).
    virtual int GetRectData(u32 seq, u32 virtualWidth, u32 virtualHeight, u32 x, u32 y, u32 width, u32 height,
                            void* buffer, u32 rowBytes, int unused, KzImageProgressFn progress, void* user) = 0;
    virtual int GetImageEvents(SKzExperimentRecord& record, CKzVariant* unused) = 0;
    virtual int GetAcqTime(double& time);

protected:
    // Readers delete themselves at their last Release.
    ~IKzInputImageFile() = default;
};

// Writer of an image file. Reference counted like the reader; the last
// Release finalizes the file and deletes the writer.
class KZ_EXPORT IKzOutputImageFile {
public:
    virtual int AddRef() = 0;
    virtual int Release() = 0;
    // Stores what remains and the chunk map, closes the file.
    virtual int Finalize() = 0;
    virtual IKzImageFormat* GetImageFormat() = 0;
    virtual int SetImageBinary(void* bits);
    virtual int SetImageCalibration(u32 seq, double calibration, double aspect, bool bValid,
                                    const CKzStringW& objective);
    virtual int SetImageAttributes(const SKzImageAttributes& attributes) = 0;
    virtual int SetImageMetadata(const SKzExperiment& experiment, const CKzVariant* unused) = 0;
    virtual int SetImageMetadata(u32 seq, const SKzPictureMetadata& metadata, const CKzVariant* description) = 0;
    virtual int SetCustomData(const wchar_t* name, const void* data, size_t length) = 0;
    virtual int FlushData(u32 seq, void* frame, KzImageProgressFn progress, void* user) = 0;
    virtual int SetCustomDataSeq(const wchar_t* name, u32 index, const void* data, size_t length) = 0;
    // A reader over the file being written.
    virtual int CreateInputImageFile(u32 seq, IKzInputImageFile*& reader, const SKzExperiment* experiment) = 0;
    virtual int SetCustomDataVar(const wchar_t* name, const CKzVariant* value) = 0;
    virtual int SetImageTextInfo(const SKzImageTextInfo& info) = 0;
    virtual int SetAcqTime(double time) = 0;
    virtual int SetImageEvents(const SKzExperimentRecord& record, const CKzVariant* unused) = 0;

protected:
    // Writers delete themselves at their last Release.
    ~IKzOutputImageFile() = default;
};
