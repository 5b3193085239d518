// XML text form of variant trees: writer and expat-based reader.
#include "gnr_system/CKzSerializerXMLString.h"
#include "gnr_system/CKzVariantText.h"

#include <expat.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

// ---------------------------------------------------------------------------
// interfaces

CKzClass* IKzInterface::GetClass() { return nullptr; }
IKzInterface::~IKzInterface() {}
IKzSerializer::~IKzSerializer() {}
CKzSerializerXMLString::CKzSerializerXMLString() {}
CKzSerializerXMLString::~CKzSerializerXMLString() {}

namespace {

// Private-use characters of plane 15 carry what no attribute value may hold.
// In wide text they are written as the surrogate pair U+DB80, U+DC00 + k
// (the UTF-16 form of U+F0000 + k); the UTF-8 form holds the 4-byte sequence
// of U+F0000 + k, which the parser accepts.
//  - a control character c (other than tab, CR, LF) is U+F0000 + c;
//  - any other character that cannot travel (a surrogate code point, U+FFFE,
//    U+FFFF, a value above U+10FFFF) and a literal U+F0000..U+F001F or U+F00FF
//    of the user's text is the marker U+F00FF followed by its 32 bits as four
//    characters U+F0000 + byte, most significant first.
const u32 kPlane15 = 0xF0000;
const u32 kMarker = 0xF00FF;

inline void PutPair(std::wstring& out, u32 k)
{
    out.push_back((wchar_t)0xDB80);
    out.push_back((wchar_t)(0xDC00 + k));
}

bool NeedsMarker(u32 c)
{
    return (c >= 0xD800 && c <= 0xDFFF) || c == 0xFFFE || c == 0xFFFF || c > 0x10FFFF ||
           (c >= kPlane15 && c <= kPlane15 + 0x1F) || c == kMarker;
}

void EscapeInto(std::wstring& out, const wchar_t* s, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        const u32 c = (u32)s[i];
        switch (c) {
        case '<': out += L"&#x003C;"; continue;
        case '"': out += L"&#x0022;"; continue;
        case '&': out += L"&#x0026;"; continue;
        case '\r': out += L"&#x000d;"; continue;
        case '\n': out += L"&#x000a;"; continue;
        case '\t': out += L"&#x0009;"; continue;
        default: break;
        }
        if (c < 0x20) {
            PutPair(out, c);
        } else if (NeedsMarker(c)) {
            PutPair(out, 0xFF);
            PutPair(out, (c >> 24) & 0xFF);
            PutPair(out, (c >> 16) & 0xFF);
            PutPair(out, (c >> 8) & 0xFF);
            PutPair(out, c & 0xFF);
        } else {
            out.push_back((wchar_t)c);
        }
    }
}

// Wide text (where only the escapes above form surrogate pairs) to UTF-8.
void AppendUTF8(std::string& out, const wchar_t* s, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        u32 c = (u32)s[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && (u32)s[i + 1] >= 0xDC00 && (u32)s[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + ((u32)s[i + 1] - 0xDC00);
            ++i;
        }
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
        if (c < 0x80) {
            out.push_back((char)c);
        } else if (c < 0x800) {
            out.push_back((char)(0xC0 | (c >> 6)));
            out.push_back((char)(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back((char)(0xE0 | (c >> 12)));
            out.push_back((char)(0x80 | ((c >> 6) & 0x3F)));
            out.push_back((char)(0x80 | (c & 0x3F)));
        } else {
            out.push_back((char)(0xF0 | (c >> 18)));
            out.push_back((char)(0x80 | ((c >> 12) & 0x3F)));
            out.push_back((char)(0x80 | ((c >> 6) & 0x3F)));
            out.push_back((char)(0x80 | (c & 0x3F)));
        }
    }
}

// UTF-8 from the parser (always well-formed) to wide text.
std::wstring FromUTF8(const char* s)
{
    std::wstring w;
    if (!s) return w;
    const unsigned char* p = (const unsigned char*)s;
    while (*p) {
        u32 c = *p++;
        int more = 0;
        if (c >= 0xF0) { c &= 0x07; more = 3; }
        else if (c >= 0xE0) { c &= 0x0F; more = 2; }
        else if (c >= 0xC0) { c &= 0x1F; more = 1; }
        else if (c >= 0x80) { w.push_back((wchar_t)0xFFFD); continue; }
        for (; more > 0; --more) {
            if ((*p & 0xC0) != 0x80) { c = 0xFFFD; break; }
            c = (c << 6) | (*p++ & 0x3F);
        }
        w.push_back((wchar_t)c);
    }
    return w;
}

std::string NarrowUTF8(const std::wstring& w)
{
    std::string s;
    AppendUTF8(s, w.data(), w.size());
    return s;
}

bool EqualsNoCaseAscii(const char* a, const char* b)
{
    for (;; ++a, ++b) {
        char x = *a, y = *b;
        if (x >= 'A' && x <= 'Z') x = (char)(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = (char)(y - 'A' + 'a');
        if (x != y) return false;
        if (!x) return true;
    }
}

// ---------------------------------------------------------------------------
// writer

struct Sink {
    bool utf8;
    std::wstring wide;
    std::string narrow;

    void Raw(const wchar_t* s)
    {
        if (utf8) AppendUTF8(narrow, s, std::wcslen(s));
        else wide += s;
    }
    void Text(const std::wstring& s)
    {
        if (utf8) AppendUTF8(narrow, s.data(), s.size());
        else wide += s;
    }
    void Escaped(const wchar_t* s, size_t n)
    {
        std::wstring e;
        e.reserve(n + 8);
        EscapeInto(e, s, n);
        Text(e);
    }
};

// "%.15g" (UTF-8 form) or "%.15f" (wide form) whenever that text reads back
// as the same double; otherwise the 17 significant digits that do, so that
// every stored double loads back unchanged.
std::string DoubleText(double x, bool utf8)
{
    std::string t = utf8 ? kzvariant::FormatDoubleG15(x) : kzvariant::FormatDoubleFixed15(x);
    if (!std::isfinite(x)) return t;
    std::wstring w(t.begin(), t.end());
    const double back = kzvariant::ScanDouble(w.c_str());
    if (std::memcmp(&back, &x, sizeof x) == 0) return t;
    return kzvariant::FormatDoubleG17(x);
}

void OpenTag(Sink& out, const CKzVariant& v)
{
    out.Raw(L"<");
    out.Raw(v.GetName().GetString());
    out.Raw(L" runtype=\"");
    std::wstring rt = FromUTF8(v.GetRunType().GetNameA());
    out.Escaped(rt.data(), rt.size());
    out.Raw(L"\"");
}

void ValueElement(Sink& out, const CKzVariant& v)
{
    OpenTag(out, v);
    out.Raw(L" value=\"");
    const CKzVariantData* d = v.GetData();
    if (d) {
        if (d->GetRunType() == CKzVariantDataDouble::m_runType) {
            const double x = static_cast<const CKzVariantDataDouble*>(d)->m_value;
            std::string t = DoubleText(x, out.utf8);
            out.Text(std::wstring(t.begin(), t.end()));
        } else {
            CKzStringW text;
            if (v.Write(text)) {
                if (d->GetRunType() == CKzVariantDataCKzByteArray::m_runType) out.Raw(text.GetString());
                else out.Escaped(text.GetString(), (size_t)text.GetLength());
            }
        }
    }
    out.Raw(L"\"/>");
}

// Iterative, so a tree of any depth is written without deep recursion.
void WriteTree(Sink& out, const CKzVariant& root)
{
    struct Frame {
        const CKzVariant* v;
        int next;
    };
    std::vector<Frame> stack;
    if (root.GetCount() < 0) {
        ValueElement(out, root);
        return;
    }
    OpenTag(out, root);
    out.Raw(L">");
    stack.push_back({&root, 0});
    while (!stack.empty()) {
        Frame& f = stack.back();
        if (f.next >= f.v->GetCount()) {
            out.Raw(L"</");
            out.Raw(f.v->GetName().GetString());
            out.Raw(L">");
            stack.pop_back();
            continue;
        }
        const CKzVariant* c = f.v->IndexPtr(f.next++);
        if (c->GetCount() < 0) {
            ValueElement(out, *c);
        } else {
            OpenTag(out, *c);
            out.Raw(L">");
            stack.push_back({c, 0});
        }
    }
}

// ---------------------------------------------------------------------------
// reader

struct StackItem {
    CKzVariant* v;
    int count;   // children when pushed, -1 for a value, -2 for a temporary
};

struct CContextXML {
    std::vector<StackItem> stack;
    CKzVariant* target = nullptr;
    int depth = -1;
    int state = 0;
    bool savedTypeChange = false;
    bool flagSaved = false;
    XML_Parser parser = nullptr;

    ~CContextXML()
    {
        for (StackItem& s : stack)
            if (s.count == -2) delete s.v;
        stack.clear();
    }
};

const int kStateDone = 100;
const int kStateBadRoot = -100;
const int kStateBadVersion = -101;
const int kStateTooDeep = -102;
const int kStateDoctype = -103;

bool IsPlainOrUnregisteredList(const CKzVariant& v)
{
    const CKzVariantData* d = v.GetData();
    if (!d || !d->IsArray()) return false;
    const CKzVariantRunType& t = d->GetRunType();
    if (t == CKzVariantDataCKzListVariant::m_runTypeOrig) return true;
    return CKzVariant::GetRunTypeIndex(t, false) < 0;
}

// A new node for an element: "" a string, "unknown" undefined, a registered
// run type its default, a structure no host registered an empty list keeping
// the structure's name, anything else a plain list.
CKzVariant* MakeNode(const std::string& runtype, const CKzStringW& name)
{
    if (runtype.empty()) return new CKzVariant(CKzStringW(), name);
    CKzVariantRunType t(runtype.c_str());
    if (t == CKzVariantRunType::m_unknown) {
        CKzVariant* v = new CKzVariant();
        v->SetName(name);
        return v;
    }
    if (CKzVariant::GetRunTypeIndex(t, false) >= 0 || t.IsStructure()) return new CKzVariant(t, name);
    return new CKzVariant(CKzListVariant(), name);
}

void ReadValue(CKzVariant& v, const std::wstring& text)
{
    if (v.GetRunType() == CKzVariantDataCKzStringW::m_runType) {
        CKzStringW s(text.c_str());
        CKzXMLAPI::RevalidateXML_AttValue(s);
        v.Read(s);
    } else {
        v.Read(text.c_str());
    }
}

void XMLCALL OnStart(void* ud, const XML_Char* name, const XML_Char** atts)
{
    CKzXMLAPI::StartElement(ud, name, atts);
}

void XMLCALL OnEnd(void* ud, const XML_Char* name)
{
    CKzXMLAPI::EndElement(ud, name);
}

// Documents of this form carry no document type; refusing one keeps entity
// expansion out of the reader.
void XMLCALL OnDoctype(void* ud, const XML_Char*, const XML_Char*, const XML_Char*, int)
{
    CContextXML* ctx = static_cast<CContextXML*>(ud);
    if (ctx->state >= 0) ctx->state = kStateDoctype;
    XML_StopParser(ctx->parser, XML_FALSE);
}

int Parse(CKzVariant& result, const char* bytes, size_t n, const char* encoding, bool report)
{
    CContextXML ctx;
    ctx.target = &result;
    XML_Parser p = XML_ParserCreate(encoding);
    if (!p) return KZ_ERR_FAILED;
    ctx.parser = p;
    XML_SetUserData(p, &ctx);
    XML_SetElementHandler(p, OnStart, OnEnd);
    XML_SetStartDoctypeDeclHandler(p, OnDoctype);
    bool ok = true;
    const size_t kChunk = 1u << 24;
    size_t off = 0;
    do {
        const size_t len = (n - off) < kChunk ? (n - off) : kChunk;
        const bool last = off + len >= n;
        if (XML_Parse(p, bytes ? bytes + off : "", (int)len, last ? XML_TRUE : XML_FALSE) != XML_STATUS_OK) {
            ok = false;
            break;
        }
        off += len;
    } while (off < n);
    if (!ok && report && ctx.state >= 0) {
        std::printf("Error: CKzSerializerXMLString::VariantFromXML(); %s at line %d\n",
                    XML_ErrorString(XML_GetErrorCode(p)), (int)XML_GetCurrentLineNumber(p));
    }
    XML_ParserFree(p);
    if (ctx.flagSaved) result.EnableTypeChange(ctx.savedTypeChange);
    if (!ok || ctx.state < 0) return KZ_ERR_FAILED;
    return KZ_OK;
}

} // namespace

// ---------------------------------------------------------------------------
// CKzXMLAPI

void CKzXMLAPI::ValidateXML_AttValue(CKzStringW& value)
{
    std::wstring e;
    e.reserve((size_t)value.GetLength() + 8);
    EscapeInto(e, value.GetString(), (size_t)value.GetLength());
    value = e.c_str();
}

void CKzXMLAPI::RevalidateXML_AttValue(CKzStringW& value)
{
    const wchar_t* s = value.GetString();
    const size_t n = (size_t)value.GetLength();
    // Code points, with the escapes' surrogate pairs joined.
    std::vector<u32> cps;
    cps.reserve(n);
    bool any = false;
    for (size_t i = 0; i < n; ++i) {
        u32 c = (u32)s[i];
        if (c == 0xDB80 && i + 1 < n && (u32)s[i + 1] >= 0xDC00 && (u32)s[i + 1] <= 0xDFFF) {
            c = kPlane15 + ((u32)s[i + 1] - 0xDC00);
            ++i;
        }
        if (c >= kPlane15 && c <= kPlane15 + 0x3FF) any = true;
        cps.push_back(c);
    }
    if (!any) return;
    std::wstring out;
    out.reserve(cps.size());
    for (size_t i = 0; i < cps.size(); ++i) {
        const u32 c = cps[i];
        if (c == kMarker && i + 4 < cps.size()) {
            bool bytes = true;
            u32 v = 0;
            for (size_t k = 1; k <= 4; ++k) {
                const u32 b = cps[i + k];
                if (b < kPlane15 || b > kPlane15 + 0xFF) { bytes = false; break; }
                v = (v << 8) | (b - kPlane15);
            }
            if (bytes) {
                out.push_back((wchar_t)v);
                i += 4;
                continue;
            }
        }
        if (c >= kPlane15 && c < kPlane15 + 0x20 && c != kPlane15 + 9 && c != kPlane15 + 10 && c != kPlane15 + 13) {
            out.push_back((wchar_t)(c - kPlane15));
            continue;
        }
        out.push_back((wchar_t)c);
    }
    value = out.c_str();
}

void CKzXMLAPI::StartElement(void* context, const char* name, const char** atts)
{
    CContextXML* ctx = static_cast<CContextXML*>(context);
    if (!ctx || ctx->state != 0) return;
    if (!name) name = "";

    if (ctx->depth == -1) {
        bool ok = EqualsNoCaseAscii(name, "variant");
        if (!ok) ctx->state = kStateBadRoot;
        else {
            bool version = false;
            for (const char** a = atts; a && a[0] && a[1]; a += 2)
                if (EqualsNoCaseAscii(a[0], "version") && std::strcmp(a[1], "1.0") == 0) version = true;
            if (!version) {
                ctx->state = kStateBadVersion;
                ok = false;
            }
        }
        if (!ok) {
            const bool old = ctx->target->EnableTypeChange(true);
            ctx->target->MakeNull();
            ctx->target->EnableTypeChange(old);
            return;
        }
        ctx->depth = 0;
        return;
    }

    if (ctx->depth >= KZ_VARIANT_MAX_DEPTH) {
        ctx->state = kStateTooDeep;
        XML_StopParser(ctx->parser, XML_FALSE);
        return;
    }

    std::string runtype;
    const char* valueText = nullptr;
    for (const char** a = atts; a && a[0] && a[1]; a += 2) {
        if (EqualsNoCaseAscii(a[0], "runtype")) runtype = a[1];
        else if (EqualsNoCaseAscii(a[0], "value")) valueText = a[1];
    }
    if (!runtype.empty()) {
        // The run-type text was escaped like any value.
        CKzStringW rt(FromUTF8(runtype.c_str()).c_str());
        RevalidateXML_AttValue(rt);
        runtype = NarrowUTF8(std::wstring(rt.GetString(), (size_t)rt.GetLength()));
    }
    const CKzStringW elementName(FromUTF8(name).c_str());

    CKzVariant* node = nullptr;
    int count = 0;
    if (ctx->depth == 0) {
        CKzVariant& t = *ctx->target;
        ctx->savedTypeChange = t.EnableTypeChange(true);
        ctx->flagSaved = true;
        t.MakeNull();
        CKzVariant* fresh = MakeNode(runtype, elementName);
        t.SwapValue(*fresh);
        delete fresh;
        t.SetName(elementName);
        node = &t;
        count = t.GetCount();
    } else {
        StackItem& top = ctx->stack.back();
        CKzVariant& parent = *top.v;
        if (IsPlainOrUnregisteredList(parent)) {
            // Members present before the element began are filled by name;
            // everything else is appended in document order.
            for (int i = 0; i < top.count && !node; ++i) {
                CKzVariant* c = parent.IndexPtr(i);
                if (c && std::wcscmp(c->GetName().GetString(), elementName.GetString()) == 0) node = c;
            }
            if (!node) {
                CKzVariant* fresh = MakeNode(runtype, elementName);
                auto* list = static_cast<CKzVariantDataCKzListVariant*>(parent.GetData());
                if (parent.IsSharedUndef() || !list) {
                    node = fresh;
                    count = -2;
                } else {
                    list->m_value.Items().push_back(fresh);
                    node = fresh;
                }
            }
        } else {
            node = parent.SearchFixedOneLevel(elementName.GetString());
            if (!node) {
                node = MakeNode(runtype, elementName);
                count = -2;
            }
        }
        if (count != -2) count = node->GetCount();
    }

    if (valueText) ReadValue(*node, FromUTF8(valueText));
    ctx->stack.push_back({node, count});
    ++ctx->depth;
}

void CKzXMLAPI::EndElement(void* context, const char*)
{
    CContextXML* ctx = static_cast<CContextXML*>(context);
    if (!ctx || ctx->state != 0) return;
    --ctx->depth;
    if (ctx->depth < 0) return;   // the root ended without a child
    if (!ctx->stack.empty()) {
        StackItem top = ctx->stack.back();
        ctx->stack.pop_back();
        if (top.count == -2) delete top.v;
    }
    if (ctx->depth == 0) {
        ctx->target->EnableTypeChange(ctx->savedTypeChange);
        ctx->flagSaved = false;
        ctx->state = kStateDone;
    }
}

// ---------------------------------------------------------------------------
// CKzSerializerXMLString

int CKzSerializerXMLString::VariantToXML(CKzStringW& out, const CKzVariant& v)
{
    Sink s{false, {}, {}};
    WriteTree(s, v);
    out += s.wide.c_str();
    return KZ_OK;
}

int CKzSerializerXMLString::VariantToXML_UTF8(CKzStringA& out, const CKzVariant& v)
{
    Sink s{true, {}, {}};
    WriteTree(s, v);
    out += s.narrow.c_str();
    return KZ_OK;
}

int CKzSerializerXMLString::VariantToDocument(CKzStringW& out, const CKzVariant& v)
{
    Sink s{false, {}, {}};
    s.Raw(L"<?xml version=\"1.0\" encoding=\"UTF-16\"?><variant version=\"1.0\">");
    WriteTree(s, v);
    s.Raw(L"</variant>");
    out = s.wide.c_str();
    return KZ_OK;
}

int CKzSerializerXMLString::VariantToDocument_UTF8(CKzStringA& out, const CKzVariant& v)
{
    Sink s{true, {}, {}};
    s.Raw(L"<?xml version=\"1.0\" encoding=\"UTF-8\"?><variant version=\"1.0\">");
    WriteTree(s, v);
    s.Raw(L"</variant>");
    out = s.narrow.c_str();
    return KZ_OK;
}

int CKzSerializerXMLString::VariantFromXML(CKzVariant& result, const wchar_t* text, unsigned n)
{
    // The parser reads UTF-16; the escapes' surrogate pairs pass as they are.
    std::vector<char16_t> units;
    units.reserve((size_t)n + 1);
    for (unsigned i = 0; i < n && text; ++i) {
        u32 c = (u32)text[i];
        if (c < 0x10000) {
            units.push_back((char16_t)c);
        } else if (c <= 0x10FFFF) {
            c -= 0x10000;
            units.push_back((char16_t)(0xD800 + (c >> 10)));
            units.push_back((char16_t)(0xDC00 + (c & 0x3FF)));
        } else {
            units.push_back((char16_t)0xFFFD);
        }
    }
    return Parse(result, reinterpret_cast<const char*>(units.data()), units.size() * 2, "UTF-16", true);
}

int CKzSerializerXMLString::VariantFromXML(CKzVariant& result, const CKzStringW& text)
{
    return VariantFromXML(result, text.GetString(), (unsigned)text.GetLength());
}

namespace {

// Writers that encode each UTF-16 unit on its own put a control character c
// as the three-byte forms of U+DB80 and U+DC00 + c. expat refuses the bytes of
// surrogate code points, so each such pair (high unit exactly U+DB80, any low
// unit) is joined into the four-byte form of the code point the pair stands
// for, U+F0000 + (low - U+DC00), which the value restorer already handles.
// Any other surrogate bytes are left for the parser to refuse.
inline bool IsJoinablePair(const unsigned char* p)
{
    return p[0] == 0xED && p[1] == 0xAE && p[2] == 0x80 && p[3] == 0xED && (p[4] & 0xF0) == 0xB0 &&
           (p[5] & 0xC0) == 0x80;
}

bool JoinEscapePairs(const char* text, size_t n, std::string& out)
{
    const unsigned char* s = reinterpret_cast<const unsigned char*>(text);
    const void* hit = n >= 6 ? std::memchr(s, 0xED, n - 5) : nullptr;
    size_t i = hit ? (size_t)(static_cast<const unsigned char*>(hit) - s) : n;
    for (; i + 6 <= n; ++i)
        if (s[i] == 0xED && IsJoinablePair(s + i)) break;
    if (i + 6 > n) return false;
    out.clear();
    out.reserve(n);
    out.append(text, i);
    while (i < n) {
        if (i + 6 <= n && s[i] == 0xED && IsJoinablePair(s + i)) {
            const u32 k = ((u32)(s[i + 4] & 0x0F) << 6) | (u32)(s[i + 5] & 0x3F);
            out.push_back((char)0xF3);
            out.push_back((char)0xB0);
            out.push_back((char)(0x80 | (k >> 6)));
            out.push_back((char)(0x80 | (k & 0x3F)));
            i += 6;
        } else {
            out.push_back((char)s[i++]);
        }
    }
    return true;
}

} // namespace

int CKzSerializerXMLString::VariantFromXML_UTF8(CKzVariant& result, const char* text, unsigned n)
{
    if (!text) n = 0;
    std::string joined;
    if (JoinEscapePairs(text, n, joined)) return Parse(result, joined.data(), joined.size(), nullptr, false);
    return Parse(result, text, n, nullptr, false);
}

int CKzSerializerXMLString::VariantFromXML_UTF8(CKzVariant& result, const CKzStringA& text)
{
    return VariantFromXML_UTF8(result, text.GetString(), (unsigned)text.GetLength());
}

static void* ParamPtr(const CKzVariant& params, const wchar_t* name, bool* found)
{
    const CKzVariant* v = params.Search(name, nullptr);
    *found = v != nullptr;
    return v ? v->GetVoidPtr() : nullptr;
}

int CKzSerializerXMLString::Save(CKzVariant& params, const CKzVariant& value)
{
    bool found = false;
    if (CKzStringW* s = (CKzStringW*)ParamPtr(params, L"string", &found)) return VariantToDocument(*s, value);
    if (CKzStringA* s = (CKzStringA*)ParamPtr(params, L"stringUTF8", &found)) return VariantToDocument_UTF8(*s, value);
    return KZ_ERR_INVALID_ARG;
}

int CKzSerializerXMLString::Load(CKzVariant& result, const CKzVariant& params)
{
    bool found = false;
    const CKzVariant* len = params.Search(L"rawStringLen", nullptr);
    if (CKzStringW* s = (CKzStringW*)ParamPtr(params, L"string", &found)) return VariantFromXML(result, *s);
    void* raw = ParamPtr(params, L"rawString", &found);
    if (found) {
        if (!len) return KZ_ERR_FAILED;
        return VariantFromXML(result, (const wchar_t*)raw, len->GetKz_uint32());
    }
    if (CKzStringA* s = (CKzStringA*)ParamPtr(params, L"stringUTF8", &found)) return VariantFromXML_UTF8(result, *s);
    raw = ParamPtr(params, L"rawStringUTF8", &found);
    if (found) {
        if (!len) return KZ_ERR_FAILED;
        return VariantFromXML_UTF8(result, (const char*)raw, len->GetKz_uint32());
    }
    return KZ_ERR_INVALID_ARG;
}
