// A host of libvt5 that recovers the frames of a VT5 file whose writer died
// (killed, crashed, out of power) before it closed the file.
//
// Such a file has all the chunks written before the end but no chunk map, so
// Qor_FileOpenForRead refuses it. This host rebuilds the map in place
// (CKzFileChunker::CreateMissingChunkMap), then opens the file and lists what
// it holds: every frame whose chunk was complete, with its time.
//
// Usage: vt5_repair_example FILE [OUT.vt5]
//   FILE is repaired in place. A writer that was replacing an existing file
//   wrote to a temporary beside it (".NAME.PID-N.tmp"); the format is chosen
//   by the extension, so such a file is renamed to OUT.vt5 (default: FILE
//   with ".vt5" appended) once repaired.
// Without arguments it shows the whole story: a child process writes frames
// and is killed, then this program is run on the file it left.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "gnr_system/CKzAlloc.h"
#include "gnr_system/CKzString.h"
#include "vt5file/CKzFileChunker.h"
#include "w32_qorfilesdk/QorFile.h"

namespace {

std::wstring Widen(const std::string& s) { return std::wstring(s.begin(), s.end()); }

bool EndsWith(const std::string& s, const std::string& tail)
{
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Rebuilds the chunk map when it is missing. 0 on success (also when the
// file was whole already).
int RebuildMap(const std::string& path)
{
    CKzFileChunker container;
    CKzStringA version;
    const int opened = container.Initialize_File(Widen(path).c_str(), true, false, version);
    if (opened == 0) {
        std::printf("%s has its chunk map: nothing to repair\n", path.c_str());
        container.Finalize();
        return 0;
    }
    if (!container.IsMapMissing()) {
        std::printf("%s is not a VT5 file (%d)\n", path.c_str(), opened);
        return opened;
    }
    // No callback: the chunks found are filed as they are, nothing is added.
    const int r = container.CreateMissingChunkMap(nullptr, nullptr, nullptr);
    container.Finalize();
    std::printf("%s: chunk map rebuilt (%d)\n", path.c_str(), r);
    return r;
}

// Opens the repaired file and lists its frames; 0 when every frame reads.
int List(const std::string& path)
{
    const QORFILEHANDLE h = Qor_FileOpenForRead(Widen(path).c_str());
    if (!h) {
        std::printf("%s does not open\n", path.c_str());
        return 1;
    }
    QORATTRIBUTES a{};
    Qor_FileGetAttributes(h, &a);
    std::printf("%s: %u frames of %u x %u, %u components of %u bits\n", path.c_str(), a.uiSequenceCount, a.uiWidth,
                a.uiHeight, a.uiComp, a.uiBpcInMemory);
    QORMETADATA_DESC* md = new QORMETADATA_DESC();
    if (Qor_FileGetMetadata(h, md) == 0 && md->uiPlaneCount > 0)
        std::printf("  channel 0: %ls, objective %ls\n", md->sPlanes[0].wsName, md->wsObjectiveName);
    delete md;
    int bad = 0;
    for (uint32_t f = 0; f < a.uiSequenceCount; ++f) {
        QORPICTURE p{};
        if (Qor_InitPicture(&p, a.uiWidth, a.uiHeight, a.uiBpcInMemory, a.uiComp) == 0)
            return 1;
        double info[4] = {};
        const int r = Qor_FileGetImageData(h, f, &p, info);
        CKzAlloc::Free(p.pData);
        if (r != 0)
            ++bad;
        // -1 is a time the writer never knew.
        if (f < 3 || f + 1 == a.uiSequenceCount || r != 0)
            std::printf("  frame %u: %s, time %.0f ms\n", f, r == 0 ? "read" : "unreadable", info[0]);
    }
    Qor_FileClose(h);
    return bad == 0 ? 0 : 1;
}

int Repair(const std::string& file, const std::string& out)
{
    if (RebuildMap(file) != 0)
        return 1;
    std::string path = file;
    if (!EndsWith(file, ".vt5")) {
        path = out.empty() ? file + ".vt5" : out;
        if (std::rename(file.c_str(), path.c_str()) != 0) {
            std::printf("cannot rename %s to %s\n", file.c_str(), path.c_str());
            return 1;
        }
        std::printf("renamed to %s\n", path.c_str());
    }
    return List(path);
}

// A child writes `frames` frames of 64 x 48 pixels with one named channel,
// and is killed before it closes the file.
bool WriteAndDie(const std::string& path, unsigned frames)
{
    const pid_t child = fork();
    if (child < 0)
        return false;
    if (child == 0) {
        const QORFILEHANDLE w = Qor_FileOpenForWrite(Widen(path).c_str());
        if (!w)
            _exit(2);
        QORMETADATA_DESC* md = new QORMETADATA_DESC();
        std::memset(md, 0, sizeof(*md));
        md->dCalibration = 0.65;
        md->dAspect = 1.0;
        std::wcscpy(md->wsObjectiveName, L"Plan 20x");
        md->uiPlaneCount = 1;
        md->uiCompCount = 1;
        md->sPlanes[0].uiCompCount = 1;
        md->sPlanes[0].uiColor = 0xFF0000;
        std::wcscpy(md->sPlanes[0].wsName, L"DAPI");
        md->sPlanes[0].dEmissionWavelength = 461.0;
        FileSetMetadataDesc(w, md);
        delete md;
        for (unsigned n = 0; n < frames; ++n) {
            QORPICTURE p{};
            Qor_InitPicture(&p, 64, 48, 8, 1);
            std::memset(p.pData, (int)n, p.uiSize);
            if (Qor_FileAppendImageData(w, &p, nullptr) != 0)
                _exit(2);
            CKzAlloc::Free(p.pData);
        }
        raise(SIGKILL);  // no Qor_FileClose: the map is never written
        _exit(2);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

int Demo(const char* self)
{
    char dir[] = "/tmp/vt5_repair_XXXXXX";
    if (!mkdtemp(dir))
        return 1;
    const std::string file = std::string(dir) + "/killed.vt5";
    if (!WriteAndDie(file, 25)) {
        std::printf("the writer was not killed as planned\n");
        return 1;
    }
    const QORFILEHANDLE before = Qor_FileOpenForRead(Widen(file).c_str());
    std::printf("before the repair the file %s\n", before ? "opens" : "does not open");
    if (before)
        Qor_FileClose(before);
    // The repair as a user runs it: this program with the file's name.
    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
        execl("/proc/self/exe", self, file.c_str(), (char*)nullptr);
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    std::remove(file.c_str());
    rmdir(dir);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 1)
        return Repair(argv[1], argc > 2 ? argv[2] : "");
    return Demo(argv[0]);
}
