// A host of the C interface (QorFile.h only): creates a multi-frame VT5 file
// with picture metadata (two planes, a calibration) and a tag, reads it back,
// derives a second file with two binary layers per frame and reads those.
#include "w32_qorfilesdk/QorFile.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>

#include <unistd.h>

namespace {

constexpr uint32_t kWidth = 64, kHeight = 48, kFrames = 4;

std::wstring Widen(const std::string& s) { return std::wstring(s.begin(), s.end()); }

void SetText(wchar_t* field, const wchar_t* text)
{
    std::wmemset(field, 0, QOR_TEXT_LENGTH);
    std::wcsncpy(field, text, QOR_TEXT_LENGTH - 1);
}

// Two 16-bit components per pixel: a ramp and a moving spot.
void Paint(QORPICTURE& p, uint32_t frame)
{
    for (uint32_t y = 0; y < p.uiHeight; ++y) {
        auto* row = reinterpret_cast<uint16_t*>(static_cast<unsigned char*>(p.pData) + (size_t)y * p.uiWidthBytes);
        for (uint32_t x = 0; x < p.uiWidth; ++x) {
            const int dx = (int)x - (int)(10 + 12 * frame), dy = (int)y - 24;
            row[2 * x] = (uint16_t)(x * 64 + y * 16);
            row[2 * x + 1] = (uint16_t)(dx * dx + dy * dy < 64 ? 4000 : 100);
        }
    }
}

// A mask of the spot (layer 0) and of the left half (layer 1), 0 or 1.
void Mask(QORPICTURE& m, uint32_t frame, int layer)
{
    for (uint32_t y = 0; y < m.uiHeight; ++y) {
        auto* row = static_cast<unsigned char*>(m.pData) + (size_t)y * m.uiWidthBytes;
        for (uint32_t x = 0; x < m.uiWidth; ++x) {
            const int dx = (int)x - (int)(10 + 12 * frame), dy = (int)y - 24;
            row[x] = layer == 0 ? (dx * dx + dy * dy < 64) : (x < m.uiWidth / 2);
        }
    }
}

uint32_t CountSet(const QORPICTURE& m)
{
    uint32_t n = 0;
    for (uint32_t y = 0; y < m.uiHeight; ++y)
        for (uint32_t x = 0; x < m.uiWidth; ++x)
            n += static_cast<const unsigned char*>(m.pData)[(size_t)y * m.uiWidthBytes + x] != 0;
    return n;
}

int Fail(const char* what)
{
    std::printf("failed: %s\n", what);
    return 1;
}

}  // namespace

int main()
{
    char dir[] = "/tmp/qorfile_example_XXXXXX";
    if (!mkdtemp(dir))
        return Fail("temporary folder");
    const std::string first = std::string(dir) + "/acquisition.vt5";
    const std::string second = std::string(dir) + "/segmented.vt5";

    // 1. A new file: geometry, metadata and a tag, then the frames.
    const QORFILEHANDLE w = Qor_FileOpenForWrite(Widen(first).c_str());
    if (!w)
        return Fail("Qor_FileOpenForWrite");
    Qor_FileModifyAttributes(w, kWidth, kHeight, 16, 12);
    auto desc = std::make_unique<QORMETADATA_DESC>();
    std::memset(desc.get(), 0, sizeof(QORMETADATA_DESC));
    desc->dCalibration = 0.325;  // micrometres per pixel
    desc->dAspect = 1.0;
    SetText(desc->wsObjectiveName, L"Plan Apo 20x/0.75");
    desc->dObjectiveMag = 20.0;
    desc->dObjectiveNA = 0.75;
    desc->uiPlaneCount = 2;
    desc->uiCompCount = 2;
    const wchar_t* names[2] = {L"Phase", L"GFP"};
    for (int i = 0; i < 2; ++i) {
        desc->sPlanes[i].uiCompCount = 1;
        desc->sPlanes[i].uiColor = i == 0 ? 0xFFFFFF : 0x00FF00;
        SetText(desc->sPlanes[i].wsName, names[i]);
        desc->sPlanes[i].dEmissionWavelength = i == 0 ? -1.0 : 510.0;
    }
    FileSetMetadataDesc(w, desc.get());
    const char note[] = "well B4, 37 C";
    Qor_FileSetCustomDataTag(w, L"HostNote", note, (int)sizeof note);
    QORPICTURE frame{};
    if (!Qor_InitPicture(&frame, kWidth, kHeight, 16, 2))
        return Fail("Qor_InitPicture");
    for (uint32_t f = 0; f < kFrames; ++f) {
        Paint(frame, f);
        if (Qor_FileAppendImageData(w, &frame, nullptr) != QOR_OK)
            return Fail("Qor_FileAppendImageData");
    }
    if (Qor_FileClose(w) != QOR_OK)
        return Fail("Qor_FileClose (writing)");

    // 2. Read it back.
    const QORFILEHANDLE r = Qor_FileOpenForRead(Widen(first).c_str());
    if (!r)
        return Fail("Qor_FileOpenForRead");
    QORATTRIBUTES attrs{};
    Qor_FileGetAttributes(r, &attrs);
    std::printf("%s: %u frames of %u x %u, %u components of %u bits (%u significant)\n", "acquisition.vt5",
                attrs.uiSequenceCount, attrs.uiWidth, attrs.uiHeight, attrs.uiComp, attrs.uiBpcInMemory,
                attrs.uiBpcSignificant);
    auto md = std::make_unique<QORMETADATA_DESC>();
    if (Qor_FileGetMetadata(r, md.get()) == QOR_OK)
        std::printf("  %.3f um/pixel, %ls, planes %ls and %ls\n", md->dCalibration, md->wsObjectiveName,
                    md->sPlanes[0].wsName, md->sPlanes[1].wsName);
    char back[64] = {};
    const int tagSize = Qor_FileGetCustomDataTag(r, L"HostNote", back);
    std::printf("  tag HostNote (%d bytes): %s\n", tagSize, back);
    QORPICTURE read{};
    Qor_InitPicture(&read, attrs.uiWidth, attrs.uiHeight, attrs.uiBpcInMemory, attrs.uiComp);
    double info[4] = {};
    Paint(frame, 2);
    if (Qor_FileGetImageData(r, 2, &read, info) != QOR_OK || std::memcmp(read.pData, frame.pData, frame.uiSize) != 0)
        return Fail("frame 2 read back");
    std::printf("  frame 2 read back unchanged\n");

    // 3. A derived file with two binary layers, the metadata taken over.
    auto binaries = std::make_unique<QORBINARIES>();
    std::memset(binaries.get(), 0, sizeof(QORBINARIES));
    binaries->uiCount = 2;
    SetText(binaries->sBinaries[0].wsName, L"Spot");
    SetText(binaries->sBinaries[0].wsComponentName, L"GFP");
    binaries->sBinaries[0].uiColor = 0x0000FF;
    SetText(binaries->sBinaries[1].wsName, L"Left half");
    binaries->sBinaries[1].uiColor = 0xFF0000;
    const QORFILEHANDLE d = Qor_FileCreateModifiedFile(Widen(second).c_str(), r, nullptr, nullptr, binaries.get(),
                                                       nullptr);
    if (!d)
        return Fail("Qor_FileCreateModifiedFile");
    QORPICTURE layers[2] = {};
    for (auto& l : layers)
        Qor_InitPicture(&l, kWidth, kHeight, 8, 1);
    for (uint32_t f = 0; f < kFrames; ++f) {
        Qor_FileGetImageData(r, f, &read, info);
        Mask(layers[0], f, 0);
        Mask(layers[1], f, 1);
        if (Qor_FileAppendImageData(d, &read, layers) != QOR_OK)
            return Fail("Qor_FileAppendImageData (derived)");
    }
    if (Qor_FileClose(d) != QOR_OK)
        return Fail("Qor_FileClose (derived)");
    Qor_FileClose(r);

    // 4. Its layers.
    const QORFILEHANDLE s = Qor_FileOpenForRead(Widen(second).c_str());
    if (!s)
        return Fail("Qor_FileOpenForRead (derived)");
    auto got = std::make_unique<QORBINARIES>();
    Qor_FileGetBinaryDescriptors(s, got.get());
    std::printf("segmented.vt5: %u layers\n", got->uiCount);
    for (uint32_t i = 0; i < got->uiCount; ++i) {
        std::printf("  %ls:", got->sBinaries[i].wsName);
        for (uint32_t f = 0; f < kFrames; ++f) {
            std::memset(layers[i].pData, 0, layers[i].uiSize);
            if (Qor_FileGetBinary(s, f, (int)i, &layers[i]) != QOR_OK)
                return Fail("Qor_FileGetBinary");
            std::printf(" %u", CountSet(layers[i]));
        }
        std::printf(" pixels set in frames 0-%u\n", kFrames - 1);
    }
    Qor_FileClose(s);

    for (auto& l : layers)
        Qor_DestroyPicture(&l);
    Qor_DestroyPicture(&read);
    Qor_DestroyPicture(&frame);
    std::remove(first.c_str());
    std::remove(second.c_str());
    rmdir(dir);
    return 0;
}
