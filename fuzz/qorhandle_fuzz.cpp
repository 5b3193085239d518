// Opens arbitrary bytes as a VT5 file through the handle layer and reads
// everything a host can: attributes, every frame (up to a count and size
// cap) with its time and stage position, text information, tags through
// both record readers, events, binary-layer descriptors and layers, the
// acquisition records and foreign blocks; some inputs also set a tag, so
// the close writes it back into the damaged file.
//
// An input that starts with a chunk header's magic is the file itself (the
// shipped corpus holds whole files); any other input is built into a valid
// file around it (vt5_skeleton.h), so that the target finds its way past
// the signature, the map and the attributes from an empty corpus.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "gnr_metaformats/SKzExperimentEvent.h"
#include "gnr_system/CKzByteArray.h"
#include "w32_qorfilesdk/CKzBinaryMetadata.h"
#include "w32_qorfilesdk/KzQorCustomData.h"
#include "w32_qorfilesdk/QorFile.h"
#include "w32_qorfilesdk/SKzQorFileHandle.h"
#include "vt5_skeleton.h"

namespace {

const u64 kCap = 8u << 20;     // largest frame or layer buffer handed out
const u32 kFrameCap = 64;      // frames read per input
const u32 kLayerFrames = 4;    // frames whose layers are read

std::string g_narrowPath;

void removeFile() { std::remove(g_narrowPath.c_str()); }

const std::wstring& filePath()
{
    static const std::wstring path = [] {
        g_narrowPath = "/tmp/qorhandle_fuzz_" + std::to_string(getpid()) + ".vt5";
        std::atexit(removeFile);
        return std::wstring(g_narrowPath.begin(), g_narrowPath.end());
    }();
    return path;
}

bool writeFile(const uint8_t* data, size_t size)
{
    FILE* f = std::fopen(g_narrowPath.c_str(), "wb");
    if (!f)
        return false;
    const bool ok = size == 0 || std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

void readFrames(SKzQorFileHandle& rec)
{
    const SKzImageAttributes& a = rec.m_Attributes;
    const u64 bytes = (u64)a.uiWidthBytes * a.uiHeight;
    std::vector<u8> frame;
    if (bytes && bytes <= kCap)
        frame.resize(bytes);
    const u32 frames = a.uiSequenceCount < kFrameCap ? a.uiSequenceCount : kFrameCap;
    for (u32 f = 0; f < frames + 1; ++f) {
        double t = 0, x = 0, y = 0, z = 0;
        rec.GetLocalAcqTime(f, &t);
        rec.GetLocalPos(f, &x, &y, &z);
        if (!frame.empty())
            rec.m_pInputFile->GetData(f, frame.data(), nullptr, nullptr);
    }
    double x, y, z;
    rec.GetLocalPos(0xFFFFFFFFu, &x, &y, &z);
    rec.GetLocalAcqTime(0xFFFFFFFFu, &x);
}

void readTags(int h, SKzQorFileHandle& rec)
{
    QORFILECUSTOMDATASET set{};
    std::vector<std::vector<u8>> buffers;
    if (Qor_FileGetCustomData(h, &set) == 0) {
        buffers.resize(set.uiCount);
        for (u32 i = 0; i < set.uiCount; ++i) {
            // Half the buffers are one byte short: the copy is bounded by uiSize.
            const u32 n = set.sData[i].uiSize ? set.sData[i].uiSize - (i & 1) : 0;
            buffers[i].resize(n + 1);
            set.sData[i].pData = buffers[i].data();
            set.sData[i].uiSize = n;
        }
        Qor_FileGetCustomData(h, &set);
    }
    rec.GetCustomData(&set);
    const int listSize = Qor_FileGetCustomData(h, (void*)nullptr);
    if (listSize > 0 && (u64)listSize <= kCap) {
        std::vector<u8> list((size_t)listSize);
        Qor_FileGetCustomData(h, (void*)list.data());
    }
    for (const auto& e : rec.m_aCustomDataMap) {
        const unsigned int n = Qor_FileGetCustomDataTag(h, e.first.GetString(), nullptr);
        std::vector<u8> bytes(n + 1);
        Qor_FileGetCustomDataTag(h, e.first.GetString(), bytes.data());
    }
    KzQorNameVector names;
    QorApiSupport_FileLoad3rdPartyCustomDataGetAllTags(names, rec.m_pInputFile);
    if (names.size() > 64)
        names.resize(64);
    KzQor3rdPartyMap blocks;
    QorApiSupport_FileLoad3rdPartyCustomDataMap(blocks, names, rec.m_pInputFile);
    static SKzQuarnStormAcqData_v3 storm;
    QorApiSupport_FileLoadQuarnStormAcqData(storm, rec.m_pInputFile);
    SKzQuarnSimAcqData sim;
    QorApiSupport_FileLoadQuarnSimAcqData(sim, rec.m_pInputFile);
}

void readLayers(int h, SKzQorFileHandle& rec)
{
    QORBINARIES* d = new QORBINARIES;
    Qor_FileGetBinaryDescriptors(h, d);
    delete d;
    if (!rec.m_pBinaryMetadata)
        return;
    const SKzImageAttributes& a = rec.m_Attributes;
    const u64 stride = ((u64)a.uiWidth * 2 + 3) & ~3ull;
    const u64 bytes = stride * a.uiHeight;
    if (!bytes || bytes > kCap)
        return;
    std::vector<u8> samples(bytes);
    QORPICTURE p{};
    p.uiWidth = a.uiWidth;
    p.uiHeight = a.uiHeight;
    p.uiBpc = 16;
    p.uiComp = 1;
    p.uiWidthBytes = (u32)stride;
    p.uiSize = bytes;
    p.pData = samples.data();
    const u32 layers = rec.m_pBinaryMetadata->GetItemCount() < 8 ? rec.m_pBinaryMetadata->GetItemCount() : 8;
    for (u32 f = 0; f < kLayerFrames; ++f)
        for (u32 l = 0; l <= layers; ++l)
            Qor_FileGetBinary(h, f, (int)l, &p);
}

// The exported readers: descriptions, frames into host pictures and
// rectangles, experiment queries, recorded data, events, the custom
// description form, alignment points from the file's tag (set as the
// handle's alignment) and stage coordinates of pixels.
void readExported(int h, SKzQorFileHandle& rec)
{
    QORATTRIBUTES attributes;
    Qor_FileGetAttributes(h, &attributes);
    static QORMETADATA_DESC md;
    Qor_FileGetMetadata(h, &md);
    static QORTEXTINFO text;
    Qor_FileGetTextinfo(h, &text);
    static QOREXPERIMENT exp;
    if (Qor_FileGetExperiment(h, &exp) == 0) {
        uint32_t c[8];
        Qor_GetCoordsFromSeqIndex(&exp, 5, c);
        Qor_GetSeqIndexFromCoords(&exp, c);
    }

    const SKzImageAttributes& a = rec.m_Attributes;
    double info[4];
    QORPICTURE p{};
    if ((u64)a.uiWidth * a.uiComp * 8 * a.uiHeight <= kCap &&
        Qor_InitPicture(&p, a.uiWidth, a.uiHeight, a.uiBpcInMemory, a.uiComp) > 0) {
        for (u32 f = 0; f < 3; ++f) Qor_FileGetImageData(h, f, &p, info);
        Qor_FileGetImageRectData(h, 0, a.uiWidth, a.uiHeight, 0, 0, a.uiWidth, a.uiHeight, p.pData, p.uiWidthBytes,
                                 0, info);
        Qor_FileGetImageRectData(h, 1, a.uiWidth / 2 + 1, a.uiHeight / 2 + 1, 1, 1, a.uiWidth / 2, a.uiHeight / 2,
                                 p.pData, p.uiWidthBytes, 0, info);
        Qor_DestroyPicture(&p);
    }

    wchar_t name[256];
    for (u32 i = 0; i < 3; ++i) Qor_GetMultipointName(h, i, name);
    Qor_GetZStackHome(h);
    int fx = 0, fy = 0;
    double overlap = 0;
    Qor_GetLargeImageDimensions(h, &fx, &fy, &overlap);
    for (const wchar_t* n : {L"X", L"Y", L"Z"})
        for (int f : {-1, 0, 1, 7}) {
            int i = 0;
            double d = 0;
            Qor_GetRecordedDataInt(h, n, f, &i);
            Qor_GetRecordedDataDouble(h, n, f, &d);
            Qor_GetRecordedDataString(h, n, f, name);
        }

    QORUSEREVENT ev;
    int id = -1;
    for (int k = 0; k < 64 && Qor_GetNextUserEvent(h, &id, &ev) == 0; ++k) {
    }
    const int items = Qor_GetCustomDataCount(h);
    for (int i = -1; i < items && i < 16; ++i) {
        int type = 0, length = 8;
        uint32_t flags = 0;
        double d = 0;
        Qor_GetCustomDataInfo(h, i, name, name, &type, &flags);
        Qor_GetCustomDataDouble(h, i, &d);
        Qor_GetCustomDataString(h, i, name, &length);
    }

    int count = 0;
    if (Qor_GetAlignmentPoints(h, &count, nullptr, nullptr, nullptr, nullptr, nullptr) == 0 && count > 0) {
        const int n = count < 64 ? count : 64;
        std::vector<int> seq(n), x(n), y(n);
        std::vector<double> dx(n), dy(n), sx(n), sy(n);
        count = n;
        Qor_GetAlignmentPoints(h, &count, seq.data(), x.data(), y.data(), dx.data(), dy.data());
        for (int i = 0; i < n; ++i) sx[i] = x[i], sy[i] = y[i];
        Qor_SetStageAlignment(h, n, sx.data(), sy.data(), dx.data(), dy.data());
    }
    const int frames[] = {0, 1, -1, (int)a.uiSequenceCount};
    const uint32_t px[] = {0, a.uiWidth / 2, a.uiWidth + 5, 0xFFFFFFFFu};
    const uint32_t py[] = {0, a.uiHeight / 2, 3, 0xFFFFFFFFu};
    double sx[4], sy[4], sz[4];
    Qor_GetStageCoordinates(h, 4, frames, px, py, sx, sy, sz);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    filePath();
    if (size > (4u << 20))
        return 0;
    const bool whole = size >= 4 && data[0] == 0xDA && data[1] == 0xCE && data[2] == 0xBE && data[3] == 0x0A;
    if (whole ? !writeFile(data, size) : !vt5skeleton::Build(data, size, g_narrowPath))
        return 0;
    const int h = SKzQorFileHandle::OpenInputFile(filePath().c_str());
    if (!h)
        return 0;
    SKzQorFileHandle* rec = nullptr;
    if (SKzQorFileHandle::GetInputFile(h, &rec) && rec) {
        readFrames(*rec);
        readTags(h, *rec);
        readLayers(h, *rec);
        readExported(h, *rec);
        SKzExperimentRecord events;
        rec->m_pInputFile->GetImageEvents(events, nullptr);
        // A plain record: zeroed before it receives a copy.
        SKzExperimentEvent e{};
        SKzExperimentRecord::GetEvent(events, 0, &e);
        SKzExperimentEvent::Free(e);
        if (size % 3 == 0)
            Qor_FileSetCustomDataTag(h, L"fuzz", "tag", 3);
    }
    SKzQorFileHandle::Close(h);
    return 0;
}
