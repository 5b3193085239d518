// File handles of the exported C interface: the record behind a handle
// number, the process-wide table of records and its lock, the open sequence
// of a read handle, the close sequence, and the per-frame time and stage
// position the frame readers report.
//
// A handle's record holds the reader (read handles) or the writer (write
// handles) of its file and everything loaded from the file at the open. The
// table lock guards the table, the handle counter and the gates beside the
// table: a lookup hands out the address of the filed record and releases the
// lock. Every exported call on a handle holds the handle's gate
// (kzqor::HandleUse) while it uses the record, so calls on one handle from
// several threads run one at a time, and a close unlinks the record first and
// then waits for the call running on it before it finalizes: a call racing a
// close either completes or finds the number unknown. Different handles are
// independent.
#pragma once

#include <pthread.h>

#include <cwchar>
#include <map>
#include <set>

#include "gnr_system/kz_base.h"
#include "gnr_system/CKzByteArray.h"
#include "gnr_system/CKzString.h"
#include "gnr_metaformats/CKzCustomDescription.h"
#include "vt5file/IKzImageFile.h"

class IKzImageFormat;
class IKzImageFormatManager;
class CKzBinaryMetadata;
struct SKzExperiment;
struct SKzPictureMetadata;
struct SKzStageAlignment;

// The C records of the exported interface (QorFile.h).
struct _QORATTRIBUTES;
struct _QORBINARIES;
struct _QORFILECUSTOMDATASET;
struct _QORMETADATA;
struct _QORPICTURE;
struct _QORTEXTINFO;

// A plain (not recursive) mutex with default attributes.
struct KZ_EXPORT SKzCriticalSectionWrapper {
    SKzCriticalSectionWrapper();
    ~SKzCriticalSectionWrapper();
    SKzCriticalSectionWrapper(const SKzCriticalSectionWrapper&) = delete;
    SKzCriticalSectionWrapper& operator=(const SKzCriticalSectionWrapper&) = delete;

    void Lock();
    void Unlock();

    pthread_mutex_t m_Mutex;
};

// Holds a SKzCriticalSectionWrapper for the life of a scope.
class SKzCriticalSectionLock {
public:
    explicit SKzCriticalSectionLock(SKzCriticalSectionWrapper& cs) : m_cs(cs) { m_cs.Lock(); }
    ~SKzCriticalSectionLock() { m_cs.Unlock(); }
    SKzCriticalSectionLock(const SKzCriticalSectionLock&) = delete;
    SKzCriticalSectionLock& operator=(const SKzCriticalSectionLock&) = delete;

private:
    SKzCriticalSectionWrapper& m_cs;
};

struct KZ_EXPORT SKzQorFileHandle {
    // Tag names in ascending order of their character codes (a name that is
    // a prefix of another comes first).
    struct __attribute__((visibility("hidden"))) STagNameLess {
        bool operator()(const CKzStringW& a, const CKzStringW& b) const
        {
            const wchar_t* p = a.GetString();
            const wchar_t* q = b.GetString();
            for (;; ++p, ++q) {
                const u32 x = (u32)*p, y = (u32)*q;
                if (x != y)
                    return x < y;
                if (!x)
                    return false;
            }
        }
    };
    typedef std::map<CKzStringW, CKzByteArray, STagNameLess> TagMap;
    typedef std::set<CKzStringW, STagNameLess> TagSet;

    IKzInputImageFile* m_pInputFile;       // reader of a read handle, else null
    IKzOutputImageFile* m_pOutputFile;     // writer of a write handle, else null
    CKzStringA m_strFormatID;              // "VTIMX" on read handles
    CKzStringW m_wsFileName;               // path of a read handle
    SKzImageAttributes m_Attributes;
    SKzExperiment* m_pExperiment;          // experiment tree, or null
    SKzPictureMetadata* m_pMetadata;       // picture metadata of frame 0, or null
    CKzByteArray m_aAcqTimes;              // one double (ms) per frame, in frame order
    CKzBinaryMetadata* m_pBinaryMetadata;  // binary-layer descriptors, or null
    SKzImageTextInfo m_TextInfo;
    CKzCustomDescription m_CustomDescription;
    u32 m_uiFrameCount;                    // write handles: the next frame to append
    TagMap m_aCustomDataMap;               // the file's tags by name
    TagSet m_aChangedTags;                 // tags set on a read handle since the open
    SKzStageAlignment* m_pStageAlignment;  // or null

    // Every pointer null, everything empty, attributes 0 but the compression (2).
    SKzQorFileHandle();
    // Member by member: pointers are copied (not what they point to).
    SKzQorFileHandle(const SKzQorFileHandle& other);
    SKzQorFileHandle& operator=(const SKzQorFileHandle&) = delete;
    // Releases the by-value members only, never the pointed-to objects.
    ~SKzQorFileHandle();

    // ---- the table ------------------------------------------------------
    // Files a copy of the record under the next handle number and returns
    // that number; 0 (nothing filed) when the numbers are used up. The caller
    // keeps the ownership of the pointed-to objects when 0 is returned.
    static int Append(const SKzQorFileHandle& record);
    // The same, but takes the record's members over instead of copying them
    // (the acquisition-time cache, tags and texts are moved; the record is
    // left empty, its pointers null) when a number could be given; a record
    // that could not be filed keeps everything.
    static int Append(SKzQorFileHandle&& record);
    // The reader of the handle; null for an unknown number or a record
    // without reader. *out receives the filed record when the number is known.
    static IKzInputImageFile* GetInputFile(int handle, SKzQorFileHandle** out);
    static IKzOutputImageFile* GetOutputFile(int handle, SKzQorFileHandle** out);
    // The filed record of any handle, null for an unknown number.
    static SKzQorFileHandle* GetHandle(int handle);
    // Unlinks the record, waits for a call running on it, and destroys it
    // (its stage alignment with it); 0, -13 for an unknown number. Does not
    // finalize.
    static kz_result Remove(int handle);
    // The image-format registry, made at the first call (one-time,
    // thread-safe); null when the class factory gives none.
    static IKzImageFormatManager* InitFormatManager();

    // ---- opening and closing -----------------------------------------------
    // Opens path for reading: registry, the format of the path's extension,
    // InitInputFile, Append. The new handle number, 0 on any failure (nothing
    // is left open and no number is used).
    static int OpenInputFile(const wchar_t* path);
    // Closes any handle: the record leaves the table first (a second close
    // of the same number finds nothing), a call still running on it ends,
    // then Finalize runs and the record is destroyed. Finalize's result; -13
    // for an unknown number.
    static kz_result Close(int handle);

    // Releases the reader or writer (a writer finishes its file) and the
    // pointed-to objects, writing no tags: for a record that was not filed.
    void Discard();

    // The open sequence of a read handle on this (default-constructed)
    // record. 0, or the failing step's code; a failure releases everything
    // the sequence made (the record is as if default-constructed again,
    // except for the format identifier and the path).
    kz_result InitInputFile(IKzImageFormat& format, const wchar_t* path);
    // Releases the reader (then writes changed tags back) or finishes the
    // writer (after storing the tags), and frees the experiment, metadata,
    // descriptors, stage alignment and time cache. A read handle: the first
    // failure of the tag write-back, else 0; a write handle: the writer's
    // Finalize failure, else the first failure of storing the tags, else 0.
    kz_result Finalize();

    // Acquisition time (ms) of a frame: from the cache when it holds the
    // frame, else from the frame's metadata (that read's result).
    kz_result GetLocalAcqTime(u32 frame, double* time);
    // Stage position of a frame from the frame-0 metadata and the experiment
    // loops. 0; -13 when the experiment gives no level (nothing written); -4
    // for a null output.
    kz_result GetLocalPos(u32 frame, double* x, double* y, double* z);
    // Fewer than 8 bytes: -9, unchanged. Otherwise, when a time is smaller
    // than the one before it, every entry j becomes j x 100.0. 0.
    static kz_result CheckAcqTimes(CKzByteArray& times);

    // ---- custom-data tags ---------------------------------------------------
    // Loads the file's tags (the list "QorApi_CustomData" and each listed
    // tag) through the reader. 0.
    kz_result LoadCustomData();
    // Writes the list of all tags and every tag's bytes through the writer.
    // 0, or the first failure.
    kz_result SaveCustomData();
    // Read handles at close: when a tag was set, reopens the file for
    // appending and writes the list and the changed tags. 0; -9 without
    // registry; -2 when the file's format is not VT5; else the failure.
    kz_result UpdateCustomData();
    // Fills a tag record from the map: -17 (nothing written) with more than
    // 32 tags. 0.
    kz_result GetCustomData(_QORFILECUSTOMDATASET* record);
    // Size of the tag (its bytes copied into buffer when not null); 0 for an
    // unknown tag.
    u32 GetCustomDataTag(const wchar_t* name, void* buffer);
    // Write handles: the record's tags created or replaced. 0; -13 unless a
    // write handle; -4 for a null record, an entry with null bytes and a
    // non-zero size, or a name that cannot be stored; -9 for a count above
    // 32. A refused record changes nothing.
    static kz_result FileSetCustomData(int handle, const _QORFILECUSTOMDATASET* record);
    // Creates or replaces one tag (read handles remember it for the close).
    // 0; -13 for an unknown handle; -4 for null bytes with a size, or a name
    // that cannot be stored.
    static kz_result FileSetCustomDataTag(int handle, const wchar_t* name, const void* bytes, u32 size);
    // True when a tag of that name can be stored: not empty, no "!", short
    // enough for a chunk name.
    static bool IsStorableTagName(const wchar_t* name);

    // ---- binary layers ------------------------------------------------------
    // Write handles: descriptors replaced by those of the record. 0; -13
    // unless a write handle; -4 for a null record; -9 for more entries than
    // the record holds.
    static kz_result FileSetBinaryDescriptors(int handle, const _QORBINARIES* record);
    // Write handles: the picture as layer `layer` of frame `frame`. The
    // writer's result; -9 when the layer index names no descriptor, the
    // picture is unusable or cannot be compressed; -13 unless a write handle.
    static kz_result FileSetBinary(int handle, u32 frame, u32 layer, const _QORPICTURE* picture);

    // ---- writing (write handles) --------------------------------------------
    static kz_result FileSetAttributes(int handle, _QORATTRIBUTES* attributes);
    static kz_result FileSetMetadata(int handle, _QORMETADATA* metadata);

    // ---- conversions between the handle's records and the C records ---------
    // Defined with the other record conversions (KzQorConversions.h), each 0:
    // attributes towards the host (quality = parameter x 100, rounded) and
    // from it (pixel type 1, no tiles, parameter = quality x 0.01); the
    // fifteen texts into their fields, cut to each field's length; texts are
    // never taken from a host.
    static kz_result ConvertGetAttributes(_QORATTRIBUTES& dst, const SKzImageAttributes& src);
    static kz_result ConvertSetAttributes(SKzImageAttributes& dst, const _QORATTRIBUTES& src);
    static kz_result ConvertGetTextinfo(_QORTEXTINFO& dst, const SKzImageTextInfo& src);
    static kz_result ConvertSetTextinfo(SKzImageTextInfo& dst, const _QORTEXTINFO& src);

    // ---- stage alignment (both run under the table lock) --------------------
    static kz_result SetStageAlignment(int handle, u32 count, const double* srcX, const double* srcY,
                                       const double* dstX, const double* dstY);
    static kz_result ConvertCoordinates(int handle, double x, double y, double z, double* outX, double* outY,
                                        double* outZ);

    // The process-wide image-format registry, null until the first open.
    static IKzImageFormatManager* s_pImageFormatManager;

private:
    // Frees the pointed-to objects the record owns and nulls them.
    __attribute__((visibility("hidden"))) void releaseObjects();
    // Step 9 of the open: the text information.
    __attribute__((visibility("hidden"))) void loadTextInfo();
    // Step 11 of the open: the binary-layer descriptors.
    __attribute__((visibility("hidden"))) void loadBinaryDescriptors();
};

// The table of filed records, the next handle number and the lock that
// guards both (and nothing else).
struct __attribute__((visibility("hidden"))) SKzHandleNumberLess {
    bool operator()(int a, int b) const { return a < b; }
};
typedef std::map<int, SKzQorFileHandle, SKzHandleNumberLess> KzQorHandleMap;
extern KzQorHandleMap g_mapFileHandles;
extern u32 g_uiHandleCounter;
extern SKzCriticalSectionWrapper g_sMapLock;
