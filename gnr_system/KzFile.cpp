#include "gnr_system/KzFile.h"

#include "gnr_system/CKzString.h"
#include "gnr_system/KzTextConv.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Wide path to the UTF-8 bytes the system gets, whatever the locale. Refuses
// a null path, an empty one and a character beyond U+10FFFF (which has no
// UTF-8 form: passing a stand-in would name another file).
bool PathToUtf8(const wchar_t* path, std::string& out)
{
    out.clear();
    if (!path || !*path) return false;
    CKzStringA utf8;
    if (!CKzStringUtils::WtoUTF8(path, utf8)) return false;
    out.assign(utf8.GetString(), static_cast<size_t>(utf8.GetLength()));
    return true;
}

int OpenRetry(const char* path, int flags, mode_t mode)
{
    int fd;
    do fd = ::open(path, flags | O_CLOEXEC, mode);
    while (fd < 0 && errno == EINTR);
    return fd;
}

bool IsDirectory(const char* path)
{
    struct stat st;
    return ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

// mkdir that accepts a directory already there.
bool MakeDirTolerant(const char* path, mode_t mode)
{
    if (::mkdir(path, mode) == 0) return true;
    return errno == EEXIST && IsDirectory(path);
}

// Path conversions allocate; an allocation failure becomes the function's own
// code instead of an exception leaving a C-linkage function.
template <class F>
int Guarded(int failure, F&& body) noexcept
{
    try {
        return body();
    } catch (...) {
        return failure;
    }
}

}  // namespace

int KZ_OpenFile(const wchar_t* path, unsigned int flags, unsigned int, unsigned int, FILE** file)
{
    return Guarded(KZ_ERR_FILE_OPEN, [&]() -> int {
        if (!file) return KZ_ERR_FILE_OPEN;
        *file = nullptr;
        std::string name;
        if (!PathToUtf8(path, name)) return KZ_ERR_FILE_OPEN;

        // The descriptor is opened first and the stream made over it, so that the
        // choice "create when missing, else keep" is one atomic open: an existing
        // file opened for update is never truncated, whatever happens meanwhile.
        int oflags;
        const char* mode;
        if (flags & 0x10) {
            const bool read = (flags & 1) != 0;
            oflags = (read ? O_RDWR : O_WRONLY) | O_CREAT | O_TRUNC;
            mode = read ? "w+b" : "wb";
        } else if (flags & 4) {
            oflags = O_RDWR | O_CREAT;
            mode = "r+b";
        } else {
            oflags = O_RDWR;
            mode = "r+b";
        }
        const int fd = OpenRetry(name.c_str(), oflags, 0666);
        if (fd < 0) return KZ_ERR_FILE_OPEN;
        FILE* f = ::fdopen(fd, mode);
        if (!f) {
            ::close(fd);
            return KZ_ERR_FILE_OPEN;
        }
        *file = f;
        return KZ_OK;
    });
}

int KZ_CloseFile(FILE* file)
{
    if (!file) return KZ_ERR_FILE_CLOSE;
    return std::fclose(file) == 0 ? KZ_OK : KZ_ERR_FILE_CLOSE;
}

int KZ_ReadFile(FILE* file, void* buffer, size_t length, uint64_t* count)
{
    size_t got = 0;
    if (file && (buffer || length == 0)) got = std::fread(buffer, 1, length, file);
    if (count) *count = got;
    if (!file || (!buffer && length)) return KZ_ERR_FILE_READ;
    return got == length ? KZ_OK : KZ_ERR_FILE_READ;
}

int KZ_WriteFile(FILE* file, const void* data, size_t length, uint64_t* count, _KzIOASYNCINFO*)
{
    if (count) *count = 0;
    if (!file || (!data && length)) return KZ_ERR_FILE_WRITE;
    const size_t put = length ? std::fwrite(data, 1, length, file) : 0;
    if (count) *count = put;
    // Bytes left in the stream's buffer are not written until the flush has
    // succeeded; a write short by even one byte is a failure.
    const bool flushed = std::fflush(file) == 0;
    return (put == length && flushed) ? KZ_OK : KZ_ERR_FILE_WRITE;
}

int KZ_SeekFile(FILE* file, int64_t offset, int origin)
{
    if (!file) return KZ_ERR_FILE_SEEK;
    const int whence = origin == 0 ? SEEK_SET : origin == 2 ? SEEK_END : SEEK_CUR;
    if (::fseeko(file, static_cast<off_t>(offset), whence) != 0) return KZ_ERR_FILE_SEEK;
    return std::fflush(file) == 0 ? KZ_OK : KZ_ERR_FILE_SEEK;
}

int KZ_FilePosition(FILE* file, uint64_t* position)
{
    if (!file || !position) return KZ_ERR_FILE_SEEK;
    const off_t at = ::ftello(file);
    if (at < 0) return KZ_ERR_FILE_SEEK;
    *position = static_cast<uint64_t>(at);
    return KZ_OK;
}

int KZ_SetEOF(FILE* file)
{
    if (!file) return KZ_ERR_FILE_SETEOF;
    // Pending output would land behind the cut, and the position would not yet count it.
    if (std::fflush(file) != 0) return KZ_ERR_FILE_SETEOF;
    const off_t at = ::ftello(file);
    if (at < 0) return KZ_ERR_FILE_SETEOF;
    int rc;
    do rc = ::ftruncate(::fileno(file), at);
    while (rc != 0 && errno == EINTR);
    return rc == 0 ? KZ_OK : KZ_ERR_FILE_SETEOF;
}

int KZ_GetFileSize(FILE* file, uint64_t* size)
{
    if (!file || !size) return KZ_ERR_FILE_SIZE;
    struct stat st;
    if (::fstat(::fileno(file), &st) != 0) return KZ_ERR_FILE_SIZE;
    *size = static_cast<uint64_t>(st.st_size);
    return KZ_OK;
}

int KZ_GetFileSizeFromName(const wchar_t* path, uint64_t* size)
{
    return Guarded(KZ_ERR_FILE_SIZE, [&]() -> int {
        std::string name;
        if (!size || !PathToUtf8(path, name)) return KZ_ERR_FILE_SIZE;
        struct stat st;
        if (::stat(name.c_str(), &st) != 0) return KZ_ERR_FILE_SIZE;
        *size = static_cast<uint64_t>(st.st_size);
        return KZ_OK;
    });
}

int KZ_AccessFile(const wchar_t* path, unsigned int mode)
{
    return Guarded(KZ_ERR_FILE_READ, [&]() -> int {
        std::string name;
        if (!PathToUtf8(path, name)) return KZ_ERR_FILE_READ;
        int how = F_OK;
        if (mode & 1) how |= R_OK;
        if (mode & 2) how |= W_OK;
        if (mode & 4) how |= X_OK;
        return ::access(name.c_str(), how) == 0 ? KZ_OK : KZ_ERR_FILE_READ;
    });
}

int KZ_RemoveFile(const wchar_t* path, int report)
{
    return Guarded(report ? KZ_ERR_FILE_READ : KZ_OK, [&]() -> int {
        std::string name;
        const bool removed = PathToUtf8(path, name) && ::unlink(name.c_str()) == 0;
        return (removed || !report) ? KZ_OK : KZ_ERR_FILE_READ;
    });
}

int KZ_CreateDirectory(const wchar_t* path, int recursive, mode_t mode)
{
    return Guarded(KZ_ERR_FILE_MKDIR, [&]() -> int {
        std::string name;
        if (!PathToUtf8(path, name)) return KZ_ERR_FILE_MKDIR;
        if (!recursive) return ::mkdir(name.c_str(), mode) == 0 ? KZ_OK : KZ_ERR_FILE_MKDIR;

        // Each parent in turn, then the path itself; parents (and the path) that
        // already exist as directories are fine. No length limit: a cut path would
        // create some other directory and still report success.
        if (name.size() > 1 && name.back() == '/') name.pop_back();
        if (name == "/") return KZ_OK;
        for (size_t i = 1; i < name.size(); ++i) {
            if (name[i] != '/') continue;
            const std::string parent = name.substr(0, i);
            if (!MakeDirTolerant(parent.c_str(), mode)) return KZ_ERR_FILE_MKDIR;
        }
        return MakeDirTolerant(name.c_str(), mode) ? KZ_OK : KZ_ERR_FILE_MKDIR;
    });
}

int KZ_GetTempPath(wchar_t* buffer, unsigned int length)
{
    if (length == 0) return KZ_OK;
    if (!buffer) return KZ_ERR_INVALID_ARG;
    std::wcsncpy(buffer, L"/tmp/", length);
    return KZ_OK;
}

int KZ_GetTempFileName(const wchar_t* directory, const wchar_t* prefix, int create, wchar_t* buffer,
                       unsigned int length)
{
    return Guarded(KZ_ERR_FILE_TEMPNAME, [&]() -> int {
        if (!buffer || length == 0) return KZ_ERR_FILE_TEMPNAME;
        buffer[0] = L'\0';

        std::string dir;
        if (!PathToUtf8(directory, dir) || !IsDirectory(dir.c_str()) || ::access(dir.c_str(), W_OK | X_OK) != 0)
            dir = "/tmp";
        std::string pre;
        if (prefix && *prefix && !PathToUtf8(prefix, pre)) return KZ_ERR_FILE_TEMPNAME;
        if (pre.find('/') != std::string::npos) return KZ_ERR_FILE_TEMPNAME;  // would leave the directory

        std::string name = dir;
        if (name.empty() || name.back() != '/') name += '/';
        name += pre;
        name += "XXXXXX";
        // The name is chosen and the file created exclusively in one step, so no
        // other process can slip in between; for a bare name the file goes again.
        const int fd = ::mkostemp(name.data(), O_CLOEXEC);
        if (fd < 0) return KZ_ERR_FILE_TEMPNAME;
        ::close(fd);

        CKzStringW wide;
        if (!CKzStringUtils::UTF8toW(name.c_str(), wide) || static_cast<unsigned>(wide.GetLength()) >= length) {
            ::unlink(name.c_str());
            return KZ_ERR_FILE_TEMPNAME;
        }
        if (!create) ::unlink(name.c_str());
        std::wmemcpy(buffer, wide.GetString(), static_cast<size_t>(wide.GetLength()) + 1);
        return KZ_OK;
    });
}

int KZ_CopyFile(const wchar_t* source, const wchar_t* destination)
{
    return Guarded(KZ_FAIL, [&]() -> int {
        std::string from, to;
        if (!PathToUtf8(source, from) || !PathToUtf8(destination, to)) return KZ_FAIL;
        const int in = OpenRetry(from.c_str(), O_RDONLY, 0);
        if (in < 0) return KZ_FAIL;
        const int out = OpenRetry(to.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
        if (out < 0) {
            const int e = errno;
            ::close(in);
            errno = e;
            return KZ_FAIL;
        }

        // Heap block: hosts may call from threads with small stacks.
        static const size_t kBlock = 64 * 1024;
        char* block = static_cast<char*>(std::malloc(kBlock));
        bool failed = block == nullptr;
        while (!failed) {
            ssize_t got = ::read(in, block, kBlock);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) {
                failed = got < 0;
                break;
            }
            for (ssize_t done = 0; done < got && !failed;) {
                const ssize_t put = ::write(out, block + done, static_cast<size_t>(got - done));
                if (put < 0 && errno == EINTR) continue;
                if (put <= 0) {
                    failed = true;
                    break;
                }
                done += put;
            }
        }
        const int e = errno;
        std::free(block);
        if (failed) {
            ::close(out);
            ::close(in);
            errno = e;
            return KZ_FAIL;
        }
        if (::close(out) != 0) {
            const int e = errno;
            ::close(in);
            errno = e;
            return KZ_FAIL;
        }
        ::close(in);
        return KZ_OK;
    });
}

int KZ_MoveFile(const wchar_t*, const wchar_t*)
{
    return KZ_ERR_FAILED;
}
