#include "vt5file/CKzFileMemoWrapper.h"

#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <cwchar>

#include "gnr_system/CKzByteArray.h"
#include "gnr_system/CKzString.h"
#include "gnr_system/KzTextConv.h"

namespace vt5_wrapper_detail {
WriteFn g_pfnWrite = &KZ_WriteFile;
} // namespace vt5_wrapper_detail

using vt5_wrapper_detail::kReadPiece;
using vt5_wrapper_detail::kWritePiece;


CKzFileMemoWrapper::CKzFileMemoWrapper() : m_bFile(true), m_pFile(nullptr), m_pData(nullptr), m_bReadOnly(true)
{
    m_wsPath[0] = 0;
}

CKzFileMemoWrapper::CKzFileMemoWrapper(const CKzFileMemoWrapper& other)
    : m_bFile(other.m_bFile), m_pFile(other.m_pFile), m_pData(other.m_pData), m_bReadOnly(other.m_bReadOnly)
{
    std::wmemcpy(m_wsPath, other.m_wsPath, ePathCapacity);
}

CKzFileMemoWrapper& CKzFileMemoWrapper::operator=(const CKzFileMemoWrapper& other)
{
    if (this != &other) {
        m_bFile = other.m_bFile;
        std::wmemcpy(m_wsPath, other.m_wsPath, ePathCapacity);
        m_pFile = other.m_pFile;
        m_pData = other.m_pData;
        m_bReadOnly = other.m_bReadOnly;
    }
    return *this;
}

CKzFileMemoWrapper::~CKzFileMemoWrapper() = default;

int CKzFileMemoWrapper::Initialize(const wchar_t* path, bool bReadOnly, bool bExisting)
{
    if (!path)
        return KZ_ERR_INVALID_ARG;
    const size_t len = std::wcslen(path);
    if (len >= ePathCapacity)
        return KZ_ERR_INVALID_ARG;
    // The path may be our own member (reopening the same file).
    if (path != m_wsPath)
        std::wmemcpy(m_wsPath, path, len + 1);
    m_bFile = true;
    m_pData = nullptr;
    m_pFile = nullptr;
    m_bReadOnly = bReadOnly;
    return bReadOnly ? openRead(m_wsPath) : openWrite(m_wsPath, bExisting);
}

int CKzFileMemoWrapper::openRead(const wchar_t* path)
{
    // Paths reach the system as UTF-8 in both directions, so a file written
    // by one open is found by the other whatever the process locale is.
    CKzStringA narrow;
    if (!CKzStringUtils::WtoUTF8(path, narrow))
        return KZ_ERR_FAILED;
    m_pFile = std::fopen(narrow.GetString(), "rb");
    return m_pFile ? KZ_OK : KZ_ERR_FAILED;
}

int CKzFileMemoWrapper::openWrite(const wchar_t* path, bool bExisting)
{
    FILE* f = nullptr;
    if (KZ_OpenFile(path, bExisting ? 11u : 15u, 3u, static_cast<unsigned int>(-1), &f) != KZ_OK || !f) {
        m_pFile = nullptr;
        return KZ_ERR_FAILED;
    }
    m_pFile = f;
    m_bReadOnly = false;
    return KZ_OK;
}

int CKzFileMemoWrapper::Initialize(CKzByteArray& data, bool bReadOnly, bool)
{
    m_bFile = false;
    m_wsPath[0] = 0;
    m_pFile = nullptr;
    m_pData = &data;
    m_bReadOnly = bReadOnly;
    data.SetCurrentOffset(0);
    return KZ_OK;
}

int CKzFileMemoWrapper::Finalize()
{
    if (m_bFile) {
        if (m_pFile) {
            // The stream is gone even when closing reports an error: forget
            // it, so a second Finalize cannot close it twice.
            FILE* f = m_pFile;
            m_pFile = nullptr;
            if (KZ_CloseFile(f) != KZ_OK)
                return KZ_ERR_FAILED;
        }
        return KZ_OK;
    }
    m_pData = nullptr;
    return KZ_OK;
}

bool CKzFileMemoWrapper::IsOpen() const
{
    return m_bFile ? m_pFile != nullptr : m_pData != nullptr;
}

int CKzFileMemoWrapper::ReadFile(void* buffer, size_t length, size_t* count, _KzIOASYNCINFO*)
{
    if (length == 0 || !buffer || !count)
        return KZ_ERR_INVALID_ARG;
    if (!m_bFile) {
        if (!m_pData)
            return KZ_ERR_FAILED;
        const u64 size = m_pData->GetSize();
        const u64 pos = m_pData->GetCurrentOffset();
        const u64 avail = pos < size ? size - pos : 0;
        const size_t n = length < avail ? length : static_cast<size_t>(avail);
        if (n)
            std::memcpy(buffer, m_pData->GetData() + pos, n);
        m_pData->SetCurrentOffset(pos + n);
        *count = n;
        return KZ_OK;
    }
    if (!m_pFile) {
        *count = 0;
        return KZ_ERR_FAILED;
    }
    if (length <= kReadPiece) {
        const size_t got = std::fread(buffer, 1, length, m_pFile);
        *count = got;
        return got == length ? KZ_OK : KZ_ERR_FAILED;
    }
    // Longer reads go in pieces of 4 GiB - 1 bytes.
    *count = 0;
    unsigned char* dst = static_cast<unsigned char*>(buffer);
    size_t left = length;
    while (left) {
        const size_t piece = left < kReadPiece ? left : kReadPiece;
        const size_t got = std::fread(dst, 1, piece, m_pFile);
        *count += got;
        if (got != piece)
            return KZ_ERR_FAILED;
        dst += piece;
        left -= piece;
    }
    return KZ_OK;
}

int CKzFileMemoWrapper::WriteFile(const void* data, size_t length, size_t* count, _KzIOASYNCINFO* async)
{
    if (length == 0)
        return KZ_OK;
    if (!data || !count)
        return KZ_ERR_INVALID_ARG;
    if (!m_bFile) {
        if (!m_pData || m_bReadOnly)
            return KZ_ERR_FAILED;
        const u64 pos = m_pData->GetCurrentOffset();
        const u64 end = pos + length;
        if (end < pos)
            return KZ_ERR_FAILED;
        if (end > m_pData->GetAllocated()) {
            // Grow geometrically so that many small writes stay linear.
            u64 want = m_pData->GetAllocated() * 2;
            if (want < end)
                want = end;
            kz_result r = m_pData->SetData(nullptr, want, CKzByteArray::eModeOpReplace, CKzByteArray::eModeAllocExact);
            if (r != KZ_OK || m_pData->GetAllocated() < end)
                return KZ_ERR_OUT_OF_MEMORY;
        }
        unsigned char* base = m_pData->GetData(end > m_pData->GetSize() ? end : m_pData->GetSize());
        std::memcpy(base + pos, data, length);
        m_pData->SetCurrentOffset(end);
        *count = length;
        return KZ_OK;
    }
    if (!m_pFile)
        return KZ_ERR_FAILED;
    uint64_t written = 0;
    vt5_wrapper_detail::g_pfnWrite(m_pFile, data, length, &written, async);
    if (written > 0) {
        // A short write is told by the count, which every caller compares.
        *count = static_cast<size_t>(written);
        return KZ_OK;
    }
    if (length <= kWritePiece)
        return KZ_ERR_FAILED;
    // Nothing of the large block went out: try again in 32 MiB pieces.
    *count = 0;
    const unsigned char* src = static_cast<const unsigned char*>(data);
    size_t left = length;
    while (left) {
        const size_t piece = left < kWritePiece ? left : kWritePiece;
        uint64_t got = 0;
        vt5_wrapper_detail::g_pfnWrite(m_pFile, src, piece, &got, async);
        if (got == 0)
            return KZ_ERR_FAILED;
        *count += static_cast<size_t>(got);
        src += piece;
        left -= piece;
    }
    return KZ_OK;
}

int CKzFileMemoWrapper::SeekFile(long offset, unsigned int origin)
{
    if (!m_bFile) {
        if (!m_pData)
            return KZ_ERR_FAILED;
        const i64 size = static_cast<i64>(m_pData->GetSize());
        i64 base;
        if (origin == 0)
            base = 0;
        else if (origin == 2)
            base = size;
        else
            base = static_cast<i64>(m_pData->GetCurrentOffset());
        if ((offset > 0 && base > size - offset) || base + offset < 0)
            return KZ_ERR_FAILED;
        m_pData->SetCurrentOffset(static_cast<unsigned long>(base + offset));
        return KZ_OK;
    }
    if (!m_pFile)
        return KZ_ERR_FAILED;
    return KZ_SeekFile(m_pFile, offset, static_cast<int>(origin > 2 ? 1 : origin));
}

int CKzFileMemoWrapper::FilePosition(size_t* position)
{
    if (!position)
        return KZ_ERR_INVALID_ARG;
    if (!m_bFile) {
        if (!m_pData)
            return KZ_ERR_FAILED;
        *position = m_pData->GetCurrentOffset();
        return KZ_OK;
    }
    if (!m_pFile)
        return KZ_ERR_FAILED;
    const off_t p = ftello(m_pFile);
    if (p < 0)
        return KZ_ERR_FAILED;
    *position = static_cast<size_t>(p);
    return KZ_OK;
}

int CKzFileMemoWrapper::SetEOF()
{
    if (!m_bFile) {
        // The array ends where the file would: at the position.
        if (m_pData && !m_bReadOnly)
            m_pData->SetSize(m_pData->GetCurrentOffset());
        return KZ_OK;
    }
    if (!m_pFile)
        return KZ_OK;
    return KZ_SetEOF(m_pFile);
}

int CKzFileMemoWrapper::GetSize(u64* size)
{
    if (!size)
        return KZ_ERR_INVALID_ARG;
    if (!m_bFile) {
        if (!m_pData)
            return KZ_ERR_FAILED;
        *size = m_pData->GetSize();
        return KZ_OK;
    }
    if (!m_pFile)
        return KZ_ERR_FAILED;
    uint64_t s = 0;
    if (KZ_GetFileSize(m_pFile, &s) != KZ_OK)
        return KZ_ERR_FAILED;
    *size = s;
    return KZ_OK;
}

int CKzFileMemoWrapper::ReadAt(u64 offset, void* head, size_t headLength, void* body, size_t bodyLength,
                               size_t* count)
{
    if (!count || (headLength && !head) || (bodyLength && !body))
        return KZ_ERR_INVALID_ARG;
    *count = 0;
    if (!m_bFile) {
        if (!m_pData)
            return KZ_ERR_FAILED;
        const u64 size = m_pData->GetSize();
        const unsigned char* src = m_pData->GetData();
        u64 pos = offset;
        struct {
            void* p;
            size_t n;
        } parts[2] = {{head, headLength}, {body, bodyLength}};
        for (auto& part : parts) {
            if (!part.n)
                continue;
            const u64 avail = pos < size ? size - pos : 0;
            const size_t n = part.n < avail ? part.n : static_cast<size_t>(avail);
            if (n)
                std::memcpy(part.p, src + pos, n);
            *count += n;
            pos += n;
            if (n != part.n)
                return KZ_ERR_FAILED;
        }
        return KZ_OK;
    }
    if (!m_pFile)
        return KZ_ERR_FAILED;
    if (offset > static_cast<u64>(INT64_MAX))
        return KZ_ERR_FAILED;
    const int fd = fileno(m_pFile);
    struct iovec iov[2];
    int n = 0;
    if (headLength)
        iov[n++] = {head, headLength};
    if (bodyLength)
        iov[n++] = {body, bodyLength};
    struct iovec* cur = iov;
    u64 pos = offset;
    while (n > 0) {
        const ssize_t got = preadv(fd, cur, n, static_cast<off_t>(pos));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return KZ_ERR_FAILED;
        }
        if (got == 0)
            return KZ_ERR_FAILED;
        *count += static_cast<size_t>(got);
        pos += static_cast<u64>(got);
        size_t left = static_cast<size_t>(got);
        while (n > 0 && left >= cur->iov_len) {
            left -= cur->iov_len;
            ++cur;
            --n;
        }
        if (n > 0 && left) {
            cur->iov_base = static_cast<unsigned char*>(cur->iov_base) + left;
            cur->iov_len -= left;
        }
    }
    return KZ_OK;
}
