// XML text form of variant trees.
//
// Document: <?xml version="1.0" encoding="UTF-8"?><variant version="1.0">
// element...</variant> on one line. A list is <name runtype="...">children
// </name>, anything else <name runtype="..." value="..."/>.
//
// Attribute values are escaped so that every text survives the parser:
// '<', '"', '&', tab, carriage return and line feed become character
// references; other control characters (and characters no XML text may hold)
// travel as private-use characters of plane 15 that the reader turns back.
#pragma once

#include "gnr_system/kz_base.h"
#include "gnr_system/CKzString.h"
#include "gnr_system/CKzVariant.h"

#include "gnr_system/IKzInterface.h"

class KZ_EXPORT IKzSerializer : public IKzInterface {
public:
    virtual int Load(CKzVariant& result, const CKzVariant& params) = 0;
    virtual int Save(CKzVariant& params, const CKzVariant& value) = 0;
    // After the operations: the last slot.
    virtual ~IKzSerializer();
};

// Parameters (members of params, each a voidPtr unless said otherwise):
//   "string"        CKzStringW*  Save writes the wide document; Load parses it
//   "stringUTF8"    CKzStringA*  Save writes the UTF-8 document; Load parses it
//   "rawString"     wchar_t*     Load parses "rawStringLen" characters
//   "rawStringUTF8" bytes        Load parses "rawStringLen" bytes
//   "rawStringLen"  kz_uint32
class KZ_EXPORT CKzSerializerXMLString : public IKzSerializer {
public:
    CKzSerializerXMLString();
    ~CKzSerializerXMLString() override;

    int Load(CKzVariant& result, const CKzVariant& params) override;
    int Save(CKzVariant& params, const CKzVariant& value) override;

    // Append the element of a variant (no declaration, no root); 0.
    static int VariantToXML(CKzStringW& out, const CKzVariant& v);
    static int VariantToXML_UTF8(CKzStringA& out, const CKzVariant& v);

    // Whole documents.
    static int VariantToDocument(CKzStringW& out, const CKzVariant& v);
    static int VariantToDocument_UTF8(CKzStringA& out, const CKzVariant& v);

    // Parse a document into result: 0, or -9 for text that is not a
    // well-formed variant document (nesting deeper than KZ_VARIANT_MAX_DEPTH
    // included).
    static int VariantFromXML(CKzVariant& result, const wchar_t* text, unsigned n);
    static int VariantFromXML(CKzVariant& result, const CKzStringW& text);
    static int VariantFromXML_UTF8(CKzVariant& result, const char* text, unsigned n);
    static int VariantFromXML_UTF8(CKzVariant& result, const CKzStringA& text);
};

// Escaping helpers and the parser's element handlers.
class KZ_EXPORT CKzXMLAPI {
public:
    // Escapes a value for an attribute, in place.
    static void ValidateXML_AttValue(CKzStringW& value);
    // Restores what ValidateXML_AttValue turned into private-use characters,
    // in place (the parser has already replaced the character references).
    static void RevalidateXML_AttValue(CKzStringW& value);

    // Element handlers (the context is the reader's load state).
    static void StartElement(void* context, const char* name, const char** attributes);
    static void EndElement(void* context, const char* name);
};
