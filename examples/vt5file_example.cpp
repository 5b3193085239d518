// A host of libvt5 that writes a version-3 VT5 file through the VT5 format
// (three deflated 16-bit frames, text information, a custom-data item), opens
// it through the image-format registry, reads the attributes, a frame and the
// custom data, and loads frame 0 as a picture.
// Usage: vt5file_example [path]   (default: a file in the temporary folder)
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "gnr_picture/CKzPicBufAPI.h"
#include "gnr_system/CKzByteArray.h"
#include "gnr_system/ImageFormatManager.h"
#include "vt5file/CKzImageFormatVT5.h"

int main(int argc, char** argv)
{
    const std::string p = argc > 1 ? argv[1] : "/tmp/vt5file_example_" + std::to_string(getpid()) + ".vt5";
    const std::wstring path(p.begin(), p.end());
    const unsigned w = 64, h = 32;
    std::vector<unsigned short> frame(w * h);

    CKzImageFormatVT5 format;
    IKzOutputImageFile* writer = nullptr;
    if (format.CreateOutputImageFile(CKzStringW(path.c_str()), writer) != 0) {
        std::printf("cannot create %s\n", p.c_str());
        return 1;
    }
    SKzImageAttributes a{};
    a.uiWidth = w;
    a.uiHeight = h;
    a.uiComp = 1;
    a.uiBpcInMemory = 16;
    a.uiBpcSignificant = 12;
    a.ePixelType = 1;
    a.eCompression = 0;  // deflated
    a.dCompressionParam = 6;
    writer->SetImageAttributes(a);
    for (unsigned k = 0; k < 3; ++k) {
        for (unsigned i = 0; i < w * h; ++i)
            frame[i] = (unsigned short)((i % w) * 16 + (i / w) * 8 + k);
        writer->FlushData(k, frame.data(), nullptr, nullptr);
    }
    SKzImageTextInfo text;
    text.wsText[0] = L"example file";
    writer->SetImageTextInfo(text);
    const char note[] = "written by vt5file_example";
    writer->SetCustomData(L"Note", note, sizeof(note));
    const int finished = writer->Finalize();
    writer->Release();
    std::printf("wrote %s: %d\n", p.c_str(), finished);

    IKzImageFormatManager* registry = static_cast<IKzImageFormatManager*>(
        CKzRTTI::CreateAndQuery("CKzImageFormatManagerImpl", "IKzImageFormatManager", SKzFileLine{"no file", -1}));
    registry->LoadAllImageFormats(false);
    IKzInputImageFile* reader = nullptr;
    if (CKzImageFormatAPI::CreateInputImageFile(registry, path.c_str(), reader) != 0) {
        std::printf("cannot open %s\n", p.c_str());
        return 1;
    }
    SKzImageAttributes got{};
    reader->GetImageAttributes(got);
    std::printf("attributes: %ux%u, %u component(s), %u/%u bits, %u frames, compression %d\n", got.uiWidth,
                got.uiHeight, got.uiComp, got.uiBpcInMemory, got.uiBpcSignificant, got.uiSequenceCount,
                got.eCompression);
    std::vector<unsigned short> back(w * h);
    const int r2 = reader->GetData(2, back.data(), nullptr, nullptr);
    std::printf("frame 2: %d, first samples %u %u %u\n", r2, back[0], back[1], back[w]);
    CKzByteArray bytes;
    reader->GetCustomData(L"Note", bytes);
    std::printf("custom data \"Note\": %s\n", reinterpret_cast<const char*>(bytes.GetData()));
    reader->Release();

    SKzPicBuf picture;
    CKzPicBufAPI::Init(&picture);
    const int loaded = KZ_LoadPictureFromFile(path.c_str(), &picture, nullptr, nullptr, nullptr, nullptr);
    std::printf("picture from the file: %d, %ux%u, %u bits\n", loaded, picture.uiWidth, picture.uiHeight,
                (unsigned)picture.uiBpc);
    CKzPicBufAPI::Free(&picture);
    if (argc <= 1)
        unlink(p.c_str());
    return loaded == 0 && r2 == 0 ? 0 : 1;
}
