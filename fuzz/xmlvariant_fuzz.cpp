// Arbitrary bytes as an XML document of a variant, in both text forms. The
// reader must never crash, leak or hang; what it loads must survive a second
// trip through the writer and the reader unchanged.
#include "gnr_system/CKzSerializerXMLString.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

static void RoundTrip(const CKzVariant& loaded)
{
    CKzStringA doc;
    CKzSerializerXMLString::VariantToDocument_UTF8(doc, loaded);
    CKzVariant again;
    if (CKzSerializerXMLString::VariantFromXML_UTF8(again, doc) != 0) std::abort();
    if (!(again == loaded)) std::abort();
    CKzStringW wide;
    CKzSerializerXMLString::VariantToDocument(wide, loaded);
    CKzVariant againW;
    if (CKzSerializerXMLString::VariantFromXML(againW, wide) != 0) std::abort();
    if (!(againW == loaded)) std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (1u << 20)) return 0;
    {
        CKzVariant v;
        if (CKzSerializerXMLString::VariantFromXML_UTF8(v, (const char*)data, (unsigned)size) == 0) RoundTrip(v);
    }
    {
        // The same bytes as wide characters (32-bit units).
        std::vector<wchar_t> w(size / sizeof(wchar_t));
        if (!w.empty()) std::memcpy(w.data(), data, w.size() * sizeof(wchar_t));
        CKzVariant v;
        if (CKzSerializerXMLString::VariantFromXML(v, w.data(), (unsigned)w.size()) == 0) RoundTrip(v);
    }
    return 0;
}
