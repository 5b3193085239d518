// The writer behind a write handle. It forwards every call to the format's
// writer; when the handle's path named an existing file, that writer writes a
// temporary file in the same directory, which replaces the path only once it
// is complete (its chunk map written and flushed to the disk). Until then the
// old file stays whole, and readers that hold it open keep reading it.
#include "w32_qorfilesdk/internal/QorFileWriteTarget.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "gnr_system/CKzString.h"
#include "gnr_system/ImageFormatManager.h"
#include "gnr_system/KzTextConv.h"

namespace {

bool PathToUtf8(const wchar_t* path, std::string& out)
{
    out.clear();
    if (!path || !*path)
        return false;
    CKzStringA utf8;
    if (!CKzStringUtils::WtoUTF8(path, utf8))
        return false;
    out.assign(utf8.GetString(), static_cast<size_t>(utf8.GetLength()));
    return true;
}

bool Utf8ToPath(const std::string& path, CKzStringW& out)
{
    return CKzStringUtils::UTF8toW(path.c_str(), out);
}

// A name in the directory of `target` that no file has yet: hidden, not
// ending in the format's extension, unique within the process.
bool MakeTempName(const std::string& target, std::string& temp)
{
    static std::atomic<unsigned> s_counter{0};
    const size_t slash = target.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const unsigned n = s_counter.fetch_add(1, std::memory_order_relaxed);
        char unique[48];
        std::snprintf(unique, sizeof unique, ".%ld-%u.tmp", (long)::getpid(), n);
        temp = dir + "." + base + unique;
        struct stat st;
        if (::lstat(temp.c_str(), &st) != 0 && errno == ENOENT)
            return true;
    }
    return false;
}

}  // namespace

CKzQorOutputTarget::CKzQorOutputTarget(IKzOutputImageFile* inner, std::string temp, std::string target,
                                       std::string created)
    : m_iRef(1),
      m_pInner(inner),
      m_strTemp(std::move(temp)),
      m_strTarget(std::move(target)),
      m_strCreated(std::move(created))
{
    std::memset(&m_Geometry, 0, sizeof(m_Geometry));
}

CKzQorOutputTarget::~CKzQorOutputTarget()
{
    Finalize();
    if (m_pInner)
        m_pInner->Release();
}

int CKzQorOutputTarget::Open(IKzImageFormat& format, const wchar_t* path, IKzOutputImageFile*& writer)
{
    writer = nullptr;
    std::string target;
    if (!PathToUtf8(path, target))
        return KZ_ERR_INVALID_ARG;
    std::string temp, created;
    struct stat st;
    if (::stat(target.c_str(), &st) == 0) {
        // An existing file is replaced at the close: the new file is written
        // beside the file a link points to, so the link keeps pointing to it.
        if (!S_ISREG(st.st_mode))
            return KZ_ERR_FILE_OPEN;
        char* real = ::realpath(target.c_str(), nullptr);
        if (!real)
            return KZ_ERR_FILE_OPEN;
        target.assign(real);
        std::free(real);
        if (!MakeTempName(target, temp))
            return KZ_ERR_FILE_TEMPNAME;
    } else if (errno != ENOENT) {
        return KZ_ERR_FILE_OPEN;
    } else {
        created = target;
    }
    CKzStringW widePath;
    if (temp.empty())
        widePath = CKzStringW(path);
    else if (!Utf8ToPath(temp, widePath))
        return KZ_ERR_FILE_TEMPNAME;
    IKzOutputImageFile* inner = nullptr;
    int r = format.CreateOutputImageFile(widePath, inner);
    if (r != KZ_OK || !inner) {
        if (inner)
            inner->Release();
        if (!temp.empty())
            ::unlink(temp.c_str());
        return r != KZ_OK ? r : KZ_ERR_FAILED;
    }
    CKzQorOutputTarget* made = new (std::nothrow) CKzQorOutputTarget(inner, temp, target, created);
    if (!made) {
        inner->Finalize();
        inner->Release();
        ::unlink(temp.empty() ? created.c_str() : temp.c_str());
        return KZ_ERR_OUT_OF_MEMORY;
    }
    writer = made;
    return KZ_OK;
}

CKzQorOutputTarget* CKzQorOutputTarget::From(IKzOutputImageFile* writer)
{
    return dynamic_cast<CKzQorOutputTarget*>(writer);
}

void CKzQorOutputTarget::Abandon()
{
    if (m_bFinalized)
        return;
    m_bFinalized = true;
    m_iFinalResult = KZ_ERR_FAILED;
    m_pInner->Finalize();
    const std::string& path = m_strTemp.empty() ? m_strCreated : m_strTemp;
    if (!path.empty())
        ::unlink(path.c_str());
}

int CKzQorOutputTarget::commit()
{
    // The data reach the disk before the name does, so a crash leaves either
    // the old file or the whole new one under the path.
    const int fd = ::open(m_strTemp.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return KZ_ERR_FILE_WRITE;
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    if (!synced)
        return KZ_ERR_FILE_WRITE;
    struct stat st;
    if (::stat(m_strTarget.c_str(), &st) == 0)
        ::chmod(m_strTemp.c_str(), st.st_mode & 07777);
    if (::rename(m_strTemp.c_str(), m_strTarget.c_str()) != 0)
        return KZ_ERR_FILE_WRITE;
    return KZ_OK;
}

int CKzQorOutputTarget::AddRef() { return m_iRef.fetch_add(1, std::memory_order_relaxed) + 1; }

int CKzQorOutputTarget::Release()
{
    const int r = m_iRef.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (r == 0)
        delete this;
    return r;
}

int CKzQorOutputTarget::Finalize()
{
    if (m_bFinalized)
        return m_iFinalResult;
    m_bFinalized = true;
    int r = m_pInner->Finalize();
    // A tag that could not be stored fails the close: an existing file is
    // then kept rather than replaced by one without the host's data.
    if (r == KZ_OK)
        r = m_iTagFailure;
    if (!m_strTemp.empty()) {
        if (r == KZ_OK)
            r = commit();
        if (r != KZ_OK)
            ::unlink(m_strTemp.c_str());
    }
    m_iFinalResult = r;
    return r;
}

IKzImageFormat* CKzQorOutputTarget::GetImageFormat() { return m_pInner->GetImageFormat(); }

int CKzQorOutputTarget::SetImageBinary(void* bits) { return m_pInner->SetImageBinary(bits); }

int CKzQorOutputTarget::SetImageCalibration(u32 seq, double calibration, double aspect, bool bValid,
                                            const CKzStringW& objective)
{
    return m_pInner->SetImageCalibration(seq, calibration, aspect, bValid, objective);
}

int CKzQorOutputTarget::SetImageAttributes(const SKzImageAttributes& attributes)
{
    const int r = m_pInner->SetImageAttributes(attributes);
    if (r == KZ_OK) {
        m_Geometry = attributes;
        m_bGeometry = true;
    }
    return r;
}

int CKzQorOutputTarget::SetImageMetadata(const SKzExperiment& experiment, const CKzVariant* unused)
{
    return m_pInner->SetImageMetadata(experiment, unused);
}

int CKzQorOutputTarget::SetImageMetadata(u32 seq, const SKzPictureMetadata& metadata,
                                         const CKzVariant* description)
{
    return m_pInner->SetImageMetadata(seq, metadata, description);
}

int CKzQorOutputTarget::SetCustomData(const wchar_t* name, const void* data, size_t length)
{
    const int r = m_pInner->SetCustomData(name, data, length);
    if (r != KZ_OK && m_iTagFailure == KZ_OK)
        m_iTagFailure = r;
    return r;
}

int CKzQorOutputTarget::FlushData(u32 seq, void* frame, KzImageProgressFn progress, void* user)
{
    return m_pInner->FlushData(seq, frame, progress, user);
}

int CKzQorOutputTarget::SetCustomDataSeq(const wchar_t* name, u32 index, const void* data, size_t length)
{
    return m_pInner->SetCustomDataSeq(name, index, data, length);
}

int CKzQorOutputTarget::CreateInputImageFile(u32 seq, IKzInputImageFile*& reader, const SKzExperiment* experiment)
{
    return m_pInner->CreateInputImageFile(seq, reader, experiment);
}

int CKzQorOutputTarget::SetCustomDataVar(const wchar_t* name, const CKzVariant* value)
{
    return m_pInner->SetCustomDataVar(name, value);
}

int CKzQorOutputTarget::SetImageTextInfo(const SKzImageTextInfo& info) { return m_pInner->SetImageTextInfo(info); }

int CKzQorOutputTarget::SetAcqTime(double time) { return m_pInner->SetAcqTime(time); }

int CKzQorOutputTarget::SetImageEvents(const SKzExperimentRecord& record, const CKzVariant* unused)
{
    return m_pInner->SetImageEvents(record, unused);
}

bool CKzQorOutputTarget::GetFrameGeometry(SKzImageAttributes& geometry) const
{
    if (!m_bGeometry)
        return false;
    geometry = m_Geometry;
    return true;
}

void* CKzQorOutputTarget::RepackBuffer(size_t size)
{
    try {
        if (m_Repack.size() < size)
            m_Repack.resize(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    return m_Repack.data();
}
