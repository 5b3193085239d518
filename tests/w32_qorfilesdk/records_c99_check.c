/* The public C header compiles as strict C99 and its records can be used
 * from C: the layout checks inside the header run under this compiler too. */
#include "w32_qorfilesdk/QorFile.h"

#include <string.h>

size_t qor_records_c99_total(void);

size_t qor_records_c99_total(void)
{
    QORPICTURE picture;
    QORFILECUSTOMDATASET tags;
    QORUSEREVENT event;
    memset(&picture, 0, sizeof picture);
    memset(&tags, 0, sizeof tags);
    memset(&event, 0, sizeof event);
    tags.sData[0].wsTag[0] = L'A';
    tags.uiCount = 1;
    event.wsDescription[QOR_EVENT_DESCRIPTION_LENGTH - 1] = 0;
    return sizeof(QORPICTURE) + sizeof(QORATTRIBUTES) + sizeof(QORTEXTINFO) + sizeof(QORMETADATA_DESC) +
           sizeof(QORMETADATA) + sizeof(QOREXPERIMENT) + sizeof(QORBINARIES) + sizeof tags + sizeof event +
           (size_t)picture.uiWidth;
}
