// The public C header compiles as pedantic C++ on its own (its layout checks
// become static_asserts here).
#include "w32_qorfilesdk/QorFile.h"

size_t QorRecordsCxxTotal()
{
    QORFILECUSTOMDATASET tags{};
    QORUSEREVENT event{};
    return sizeof tags + sizeof event + sizeof(QORMETADATA);
}
