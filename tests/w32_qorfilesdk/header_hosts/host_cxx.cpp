// A host written in C++20 that includes only the public header. It is the
// set-up of the header tests: it writes a file from nothing through the
// C++-linkage functions, then reads it back through the C-linkage ones.
// Exit status 0 when everything matches.
#include "w32_qorfilesdk/QorFile.h"

#include <cstdio>
#include <cstring>
#include <string>

extern "C" {
#include "pattern.h"
}

namespace {

int failures = 0;

void Check(bool ok, const char* what, int line)
{
    if (!ok) {
        std::fprintf(stderr, "line %d: check failed: %s\n", line, what);
        ++failures;
    }
}
#define CHECK(cond) Check((cond), #cond, __LINE__)

std::wstring Widen(const char* text)
{
    std::wstring out;
    for (; *text; ++text)
        out.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*text)));
    return out;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <file to write>\n", argv[0]);
        return 2;
    }
    const std::wstring path = Widen(argv[1]);

    const QORFILEHANDLE w = Qor_FileOpenForWrite(path.c_str());
    CHECK(w != 0);
    if (!w)
        return 1;
    CHECK(Qor_FileModifyAttributes(w, HOST_WIDTH, HOST_HEIGHT, 8, 8) == QOR_OK);
    QORPICTURE picture{};
    CHECK(Qor_InitPicture(&picture, HOST_WIDTH, HOST_HEIGHT, 8, 1) != 0);
    for (unsigned f = 0; f < HOST_FRAMES && picture.pData; ++f) {
        auto* rows = static_cast<unsigned char*>(picture.pData);
        for (unsigned y = 0; y < HOST_HEIGHT; ++y)
            for (unsigned x = 0; x < HOST_WIDTH; ++x)
                rows[y * picture.uiWidthBytes + x] = host_sample(f, x, y);
        CHECK(Qor_FileAppendImageData(w, &picture, nullptr) == QOR_OK);
    }
    CHECK(Qor_FileClose(w) == QOR_OK);

    const QORFILEHANDLE h = Qor_FileOpenForRead(path.c_str());
    CHECK(h != 0);
    if (h) {
        QORATTRIBUTES attributes{};
        CHECK(Qor_FileGetAttributes(h, &attributes) == QOR_OK);
        CHECK(attributes.uiSequenceCount == HOST_FRAMES);
        double info[4] = {};
        for (unsigned f = 0; f < HOST_FRAMES && picture.pData; ++f) {
            std::memset(picture.pData, 0, picture.uiSize);
            CHECK(Qor_FileGetImageData(h, f, &picture, info) == QOR_OK);
            const auto* rows = static_cast<const unsigned char*>(picture.pData);
            for (unsigned y = 0; y < HOST_HEIGHT; ++y)
                for (unsigned x = 0; x < HOST_WIDTH; ++x)
                    CHECK(rows[y * picture.uiWidthBytes + x] == host_sample(f, x, y));
        }
        CHECK(Qor_FileClose(h) == QOR_OK);
    }
    Qor_DestroyPicture(&picture);
    if (failures)
        std::fprintf(stderr, "%d checks failed\n", failures);
    return failures ? 1 : 0;
}
