/* A host in C99 against the installed library: the public C header alone,
 * a picture from the interface, a failed open and an unknown handle. */
#include "w32_qorfilesdk/QorFile.h"

#include <stdio.h>

int main(void)
{
    QORPICTURE picture;
    int ok = 1;
    if (Qor_InitPicture(&picture, 5, 3, 16, 1) != 48u || picture.uiWidthBytes != 12u || !picture.pData)
        ok = 0;
    else if (((const unsigned char*)picture.pData)[picture.uiSize - 1] != 0)
        ok = 0;
    Qor_DestroyPicture(&picture);
    if (Qor_FileOpenForRead(L"/nonexistent/folder/missing.vt5") != 0)
        ok = 0;
    if (Qor_FileClose(12345) != QOR_ERR_NOT_FOUND)
        ok = 0;
    puts(ok ? "C consumer ok" : "C consumer failed");
    return ok ? 0 : 1;
}
