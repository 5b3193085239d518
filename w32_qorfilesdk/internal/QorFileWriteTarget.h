// The writer of a write handle: the format's writer, over a temporary file
// that replaces an existing path at the close. Its reference count is
// atomic; its other state is used under the gate of the handle it serves.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "vt5file/IKzImageFile.h"

class CKzQorOutputTarget final : public IKzOutputImageFile {
public:
    // The format's writer for `path`, wrapped (one reference). An existing
    // regular file (or the file a link names) is written anew under a
    // temporary name beside it; a path naming something else is refused.
    static int Open(IKzImageFormat& format, const wchar_t* path, IKzOutputImageFile*& writer);
    // The wrapper behind a handle's writer, or null for another writer.
    static CKzQorOutputTarget* From(IKzOutputImageFile* writer);

    // Closes the file without keeping it: the temporary file, or a file this
    // writer created, is removed; an existing file is left as it was.
    void Abandon();
    // The attributes the writer accepted last; false before any.
    bool GetFrameGeometry(SKzImageAttributes& geometry) const;
    // A scratch block of at least `size` bytes for a frame in the file's row
    // layout; null when it cannot be had. Valid until the next call.
    void* RepackBuffer(size_t size);
    // The temporary file written instead of the path (empty when the path is
    // written directly).
    const std::string& GetTempPath() const { return m_strTemp; }

    int AddRef() override;
    int Release() override;
    int Finalize() override;
    IKzImageFormat* GetImageFormat() override;
    int SetImageBinary(void* bits) override;
    int SetImageCalibration(u32 seq, double calibration, double aspect, bool bValid,
                            const CKzStringW& objective) override;
    int SetImageAttributes(const SKzImageAttributes& attributes) override;
    int SetImageMetadata(const SKzExperiment& experiment, const CKzVariant* unused) override;
    int SetImageMetadata(u32 seq, const SKzPictureMetadata& metadata, const CKzVariant* description) override;
    int SetCustomData(const wchar_t* name, const void* data, size_t length) override;
    int FlushData(u32 seq, void* frame, KzImageProgressFn progress, void* user) override;
    int SetCustomDataSeq(const wchar_t* name, u32 index, const void* data, size_t length) override;
    int CreateInputImageFile(u32 seq, IKzInputImageFile*& reader, const SKzExperiment* experiment) override;
    int SetCustomDataVar(const wchar_t* name, const CKzVariant* value) override;
    int SetImageTextInfo(const SKzImageTextInfo& info) override;
    int SetAcqTime(double time) override;
    int SetImageEvents(const SKzExperimentRecord& record, const CKzVariant* unused) override;

private:
    CKzQorOutputTarget(IKzOutputImageFile* inner, std::string temp, std::string target, std::string created);
    ~CKzQorOutputTarget();
    int commit();

    std::atomic<int> m_iRef;
    IKzOutputImageFile* m_pInner;
    std::string m_strTemp;     // temporary file (UTF-8), empty when writing the path itself
    std::string m_strTarget;   // the file replaced at the close
    std::string m_strCreated;  // the path, when this writer created it
    bool m_bFinalized = false;
    int m_iFinalResult = KZ_OK;
    int m_iTagFailure = KZ_OK;
    bool m_bGeometry = false;
    SKzImageAttributes m_Geometry;
    std::vector<unsigned char> m_Repack;
};
