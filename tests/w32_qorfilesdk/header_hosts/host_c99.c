/* A host written in C99 that includes only the public header: it opens a
 * file written by the test's set-up, checks its geometry, reads every frame
 * through the C-linkage functions, then derives a second file from it and
 * reads that back. Exit status 0 when everything matches. */
#include "w32_qorfilesdk/QorFile.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "pattern.h"

static int failures = 0;

#define CHECK(cond)                                                           \
    do {                                                                      \
        if (!(cond)) {                                                        \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            ++failures;                                                       \
        }                                                                     \
    } while (0)

static void widen(const char* text, wchar_t* out, size_t capacity)
{
    size_t i = 0;
    for (; text[i] && i + 1 < capacity; ++i)
        out[i] = (wchar_t)(unsigned char)text[i];
    out[i] = 0;
}

/* Checks every frame of an open read handle against the pattern from
 * `first` on. */
static void check_frames(QORFILEHANDLE h, unsigned frames, unsigned first)
{
    QORATTRIBUTES attributes;
    QORPICTURE picture;
    double info[4];
    unsigned f, x, y;
    memset(&attributes, 0, sizeof attributes);
    CHECK(Qor_FileGetAttributes(h, &attributes) == QOR_OK);
    CHECK(attributes.uiWidth == HOST_WIDTH);
    CHECK(attributes.uiHeight == HOST_HEIGHT);
    CHECK(attributes.uiComp == 1u);
    CHECK(attributes.uiBpcInMemory == 8u);
    CHECK(attributes.uiSequenceCount == frames);
    CHECK(Qor_InitPicture(&picture, attributes.uiWidth, attributes.uiHeight, attributes.uiBpcInMemory,
                          attributes.uiComp) != 0u);
    CHECK(picture.uiWidthBytes == 12u);
    for (f = 0; f < frames && picture.pData; ++f) {
        const unsigned char* rows = (const unsigned char*)picture.pData;
        memset(picture.pData, 0, (size_t)picture.uiSize);
        CHECK(Qor_FileGetImageData(h, f, &picture, info) == QOR_OK);
        for (y = 0; y < HOST_HEIGHT; ++y)
            for (x = 0; x < HOST_WIDTH; ++x)
                CHECK(rows[y * picture.uiWidthBytes + x] == host_sample(first + f, x, y));
    }
    Qor_DestroyPicture(&picture);
}

int main(int argc, char** argv)
{
    wchar_t source[1024], derived[1024];
    QORFILEHANDLE h, w, d;
    QORPICTURE picture;
    unsigned x, y;
    if (argc != 3) {
        fprintf(stderr, "usage: %s <file written by the set-up> <derived file>\n", argv[0]);
        return 2;
    }
    widen(argv[1], source, sizeof source / sizeof source[0]);
    widen(argv[2], derived, sizeof derived / sizeof derived[0]);

    h = Qor_FileOpenForRead(source);
    CHECK(h != 0);
    if (!h)
        return 1;
    check_frames(h, HOST_FRAMES, 0);

    /* A derived file of one frame: the next pattern after the source's. */
    w = Qor_FileCreateModifiedFile(derived, h, NULL, NULL, NULL, NULL);
    CHECK(w != 0);
    CHECK(Qor_InitPicture(&picture, HOST_WIDTH, HOST_HEIGHT, 8, 1) != 0u);
    if (w && picture.pData) {
        unsigned char* rows = (unsigned char*)picture.pData;
        for (y = 0; y < HOST_HEIGHT; ++y)
            for (x = 0; x < HOST_WIDTH; ++x)
                rows[y * picture.uiWidthBytes + x] = host_sample(HOST_FRAMES, x, y);
        CHECK(Qor_FileAppendImageData(w, &picture, NULL) == QOR_OK);
        CHECK(Qor_FileClose(w) == QOR_OK);
    }
    Qor_DestroyPicture(&picture);
    CHECK(Qor_FileClose(h) == QOR_OK);
    CHECK(Qor_FileClose(h) == QOR_ERR_NOT_FOUND);

    d = Qor_FileOpenForRead(derived);
    CHECK(d != 0);
    if (d) {
        /* The derived file keeps the source's frame count; its first frame
         * is the one appended. */
        QORATTRIBUTES attributes;
        QORPICTURE one;
        double info[4];
        CHECK(Qor_FileGetAttributes(d, &attributes) == QOR_OK);
        CHECK(Qor_InitPicture(&one, HOST_WIDTH, HOST_HEIGHT, 8, 1) != 0u);
        if (one.pData) {
            const unsigned char* rows = (const unsigned char*)one.pData;
            CHECK(Qor_FileGetImageData(d, 0, &one, info) == QOR_OK);
            for (y = 0; y < HOST_HEIGHT; ++y)
                for (x = 0; x < HOST_WIDTH; ++x)
                    CHECK(rows[y * one.uiWidthBytes + x] == host_sample(HOST_FRAMES, x, y));
        }
        Qor_DestroyPicture(&one);
        CHECK(Qor_FileClose(d) == QOR_OK);
    }
    if (failures)
        fprintf(stderr, "%d checks failed\n", failures);
    return failures ? 1 : 0;
}
