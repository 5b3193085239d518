// Whole-record operations of the lite-variant reader: extraction, merge and
// the tag text of a blob.
#include "gnr_system/CKzLiteVariant.h"
#include "gnr_system/CKzAlloc.h"
#include "gnr_system/CKzString.h"
#include "gnr_system/Base64Coder.h"

#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {

const wchar_t kRunTypeKey[] = L"__m_runType";

bool isValueCode(int code) { return code >= eKzLVBool && code <= eKzLVBytes; }

} // namespace

int CKzLiteVariantR::ExtractCurrent(CKzLiteVariantR& target)
{
    u64 c = cursor();
    if (c >= blobSize()) return KZ_ERR_FAILED;
    u8 code = blob()[c];
    if (code == 0 || code > eKzLVLevel) return KZ_ERR_FAILED;
    u64 ext;
    if (!extentAt(c, levelEnd(), ext)) return KZ_ERR_FAILED;
    void* copy = CKzAlloc::Alloc(0, ext);
    if (!copy) return KZ_ERR_OUT_OF_MEMORY;
    std::memcpy(copy, blob() + c, ext);
    int r = target.SetPointer(copy, ext, ext);
    if (&target == this) return r;
    setCursor(c);
    return r;
}

int CKzLiteVariantR::Extract(const wchar_t* name, CKzLiteVariantR& target)
{
    unsigned long off;
    if (Find(name, off) != KZ_OK) return KZ_ERR_FAILED;
    setCursor(off);
    u64 ext;
    if (!extentAt(off, levelEnd(), ext)) return KZ_ERR_FAILED;
    int r = ExtractCurrent(target);
    if (r == KZ_OK && &target != this) setCursor(off + ext);
    return r;
}

int CKzLiteVariantR::copyValue(CKzLiteVariantW& w, const wchar_t* name)
{
    u64 pl, ext;
    int code = GetCurrentType();
    if (!isValueCode(code) || !currentPayload((u8)code, (u8)code, pl, ext)) return KZ_ERR_FAILED;
    switch (code) {
    case eKzLVBool: return w.Set(GetCurrentValue(false), name);
    case eKzLVInt32: return w.Set(GetCurrentValue((int)0), name);
    case eKzLVUInt32: return w.Set(GetCurrentValue((unsigned int)0), name);
    case eKzLVInt64: return w.Set(GetCurrentValue((long)0), name);
    case eKzLVUInt64: return w.Set(GetCurrentValue((unsigned long)0), name);
    case eKzLVDouble: return w.Set(GetCurrentValue(0.0), name);
    case eKzLVPointer: return w.Set(GetCurrentValue((void*)nullptr), name);
    case eKzLVText:
        currentText(m_text);
        return w.Set(m_text.c_str(), name);
    default: {
        unsigned long len = 0;
        const void* p = GetCurrentValue(&len);
        return w.Set(p, len, name);
    }
    }
}

int CKzLiteVariantR::MergeLevel(CKzLiteVariantW& writer, CKzLiteVariantR& a, CKzLiteVariantR& b)
{
    return mergeLevel(writer, a, b, 0);
}

int CKzLiteVariantR::mergeLevel(CKzLiteVariantW& w, CKzLiteVariantR& a, CKzLiteVariantR& b, int depth)
{
    // Both sides move their own cursors; one reader cannot be both.
    if (depth >= MAX_DEPTH || &a == &b) return KZ_ERR_FAILED;
    // Buffers on the heap: this recurses once per level, and a deep blob must
    // fit a small thread stack.
    std::vector<wchar_t> nameBuf(1025);
    wchar_t* name = nameBuf.data();
    a.FirstValue();
    // Every record of a, in written order; each step either advances a or ends the merge.
    while (a.IsNextValue()) {
        a.convertAt(a.cursor());
        int code = a.GetCurrentType();
        if (a.GetCurrentName(name, 1024) != KZ_OK) return KZ_ERR_FAILED;
        int r;
        if (isValueCode(code)) {
            r = a.copyValue(w, name);
        } else if (code == eKzLVLevel) {
            if (b.LevelBegin(name, nullptr) != KZ_OK) {
                r = w.Append(a);
            } else {
                r = a.CurrentLevelBegin(nullptr);
                if (r == KZ_OK) {
                    r = w.LevelBegin(name);
                    if (r == KZ_OK) r = mergeLevel(w, a, b, depth + 1);
                    if (r == KZ_OK) r = w.LevelEnd();
                    a.LevelEnd();
                }
                b.LevelEnd();
            }
        } else {
            return KZ_ERR_FAILED;
        }
        if (r != KZ_OK) return r;
        if (a.NextValue() != KZ_OK) return KZ_ERR_FAILED;
    }
    a.FirstValue();
    b.FirstValue();
    while (b.IsNextValue()) {
        b.convertAt(b.cursor());
        int code = b.GetCurrentType();
        if (b.GetCurrentName(name, 1024) != KZ_OK) return KZ_ERR_FAILED;
        int r = KZ_OK;
        if (!a.IsValueSet(name)) {
            if (isValueCode(code))
                r = b.copyValue(w, name);
            else if (code == eKzLVLevel)
                r = w.Append(b);
            else
                return KZ_ERR_FAILED;
        }
        if (r != KZ_OK) return r;
        if (b.NextValue() != KZ_OK) return KZ_ERR_FAILED;
    }
    return KZ_OK;
}

int CKzLiteVariantR::Merge(CKzLiteVariantR& other)
{
    if (&other == this) {
        // Merging a blob with itself gives the same records; work on a copy.
        CKzLiteVariantR copy(*this);
        copy.Reset();
        return Merge(copy);
    }
    FirstValue();
    if (GetCurrentType() == eKzLVLevelAbsolute) convertAt(cursor());
    if (GetCurrentType() != eKzLVLevel) return KZ_ERR_FAILED;
    wchar_t name[1025];
    if (GetCurrentName(name, 1024) != KZ_OK) return KZ_ERR_FAILED;
    if (CurrentLevelBegin(nullptr) != KZ_OK) return KZ_ERR_FAILED;
    if (other.LevelBegin(name, nullptr) != KZ_OK) {
        LevelEnd();
        return KZ_ERR_FAILED;
    }
    CKzLiteVariantW w;
    int r = w.LevelBegin(name);
    if (r == KZ_OK) r = mergeLevel(w, *this, other, 1);
    if (r == KZ_OK) r = w.LevelEnd();
    other.LevelEnd();
    LevelEnd();
    if (r == KZ_OK) w.Finalize(*this);
    return r;
}

// ---- tag text ---------------------------------------------------------------

int CKzLiteVariantR::LiteVariantToXML(CKzStringW& out)
{
    toXML(out, 0);
    return KZ_OK;
}

int CKzLiteVariantR::Trace()
{
    CKzStringW scratch;
    return LiteVariantToXML(scratch);
}

int CKzLiteVariantR::toXML(CKzStringW& out, int depth)
{
    // Buffers on the heap: this recurses once per level, and a deep blob must
    // fit a small thread stack.
    std::vector<wchar_t> buffers(256 + 512);
    wchar_t* name = buffers.data();
    wchar_t* num = name + 256;
    while (IsNextValue()) {
        convertAt(cursor());
        int code = GetCurrentType();
        if (GetCurrentName(name, 255) != KZ_OK) return KZ_ERR_FAILED;
        const wchar_t* nm = name[0] ? name : L"no_name";
        if (code == eKzLVLevel) {
            if (depth >= MAX_DEPTH) return KZ_ERR_FAILED;
            if (CurrentLevelBegin(nullptr) != KZ_OK) return KZ_ERR_FAILED;
            std::wstring rt = L"CKzListVariant";
            if (IsNextValue() && GetCurrentType() == eKzLVText) {
                wchar_t* rn = num; // free until the values below
                if (GetCurrentName(rn, 256) == KZ_OK && !std::wcscmp(rn, kRunTypeKey) && currentText(m_text))
                    rt = m_text;
            }
            out += L"<";
            out += nm;
            out += L" runtype=\"";
            out += rt.c_str();
            out += L"\">";
            int r = toXML(out, depth + 1);
            LevelEnd();
            out += L"</";
            out += nm;
            out += L">";
            if (r != KZ_OK) return r;
        } else if (isValueCode(code)) {
            u64 pl, ext;
            if (!currentPayload((u8)code, (u8)code, pl, ext)) return KZ_ERR_FAILED;
            if (std::wcscmp(name, kRunTypeKey) != 0) {
                const wchar_t* rt = L"";
                const wchar_t* val = num;
                num[0] = 0;
                std::wstring big;
                switch (code) {
                case eKzLVBool:
                    rt = L"bool";
                    val = GetCurrentValue(false) ? L"true" : L"false";
                    break;
                case eKzLVInt32:
                    rt = L"kz_int32";
                    swprintf(num, 512, L"%d", GetCurrentValue((int)0));
                    break;
                case eKzLVUInt32:
                    rt = L"kz_uint32";
                    swprintf(num, 512, L"%u", GetCurrentValue((unsigned int)0));
                    break;
                case eKzLVInt64:
                    rt = L"kz_int64";
                    swprintf(num, 512, L"%lld", (long long)GetCurrentValue((long)0));
                    break;
                case eKzLVUInt64:
                    rt = L"kz_uint64";
                    swprintf(num, 512, L"%llu", (unsigned long long)GetCurrentValue((unsigned long)0));
                    break;
                case eKzLVDouble:
                    rt = L"double";
                    swprintf(num, 512, L"%.15f", GetCurrentValue(0.0));
                    break;
                case eKzLVPointer:
                    rt = L"voidPtr";
                    swprintf(num, 512, L"%p", GetCurrentValue((void*)nullptr));
                    break;
                case eKzLVText:
                    rt = L"CKzStringW";
                    currentText(m_text);
                    val = m_text.c_str();
                    break;
                default: {
                    rt = L"CKzByteArray";
                    unsigned long len = 0;
                    const unsigned char* p = (const unsigned char*)GetCurrentValue(&len);
                    // Base64 of the bytes; the coder counts in 32 bits.
                    if (len && len <= 0xBFFFFFFFu / 2) {
                        Base64Coder coder;
                        coder.Encode(p, (unsigned)len);
                        unsigned n = 0;
                        const char* t = coder.EncodedBuffer(&n);
                        if (t) big.assign(t, t + n);
                    }
                    val = big.c_str();
                    break;
                }
                }
                out += L"<";
                out += nm;
                out += L" runtype=\"";
                out += rt;
                out += L"\" value=\"";
                out += val;
                out += L"\"/>";
            }
        } else {
            return KZ_ERR_FAILED;
        }
        if (NextValue() != KZ_OK) return KZ_ERR_FAILED;
    }
    return KZ_OK;
}

namespace {

bool startsWith(const wchar_t* s, size_t i, size_t len, const wchar_t* word)
{
    size_t n = std::wcslen(word);
    return len - i >= n && std::wmemcmp(s + i, word, n) == 0;
}

size_t findChar(const wchar_t* s, size_t i, size_t len, wchar_t c)
{
    for (; i < len; ++i)
        if (s[i] == c) return i;
    return len;
}

void writeValue(CKzLiteVariantW& w, const std::wstring& name, const std::wstring& rt, const std::wstring& value)
{
    const wchar_t* nm = name.c_str();
    const wchar_t* v = value.c_str();
    if (rt == L"bool") {
        w.Set(value == L"true", nm);
    } else if (rt == L"CKzByteArray") {
        if (value.empty()) {
            w.Set((const void*)nullptr, 0UL, nm);
            return;
        }
        Base64Coder coder;
        coder.DecodeW(v);
        unsigned n = 0;
        const unsigned char* p = coder.DecodedBuffer(&n);
        w.Set((const void*)p, (unsigned long)n, nm);
    } else if (rt == L"double") {
        double d = 0;
        swscanf(v, L"%lf", &d);
        w.Set(d, nm);
    } else if (rt == L"kz_int32") {
        int x = 0;
        swscanf(v, L"%d", &x);
        w.Set(x, nm);
    } else if (rt == L"kz_uint32") {
        unsigned int x = 0;
        swscanf(v, L"%u", &x);
        w.Set(x, nm);
    } else if (rt == L"kz_int64") {
        long long x = 0;
        swscanf(v, L"%lld", &x);
        w.Set((long)x, nm);
    } else if (rt == L"kz_uint64") {
        unsigned long long x = 0;
        swscanf(v, L"%llu", &x);
        w.Set((unsigned long)x, nm);
    } else if (rt == L"voidPtr") {
        void* x = nullptr;
        swscanf(v, L"%p", &x);
        w.Set(x, nm);
    } else if (rt == L"CKzStringW") {
        w.Set(v, nm);
    }
}

} // namespace

int CKzLiteVariantR::LiteVariantFromXML(CKzStringW& text)
{
    CKzLiteVariantW w;
    const wchar_t* s = text.GetString();
    size_t len = (size_t)text.GetLength();
    size_t i = 0;
    std::wstring pending;
    while (i < len) {
        if (s[i] != L'<') {
            ++i;
            continue;
        }
        if (i + 1 < len && s[i + 1] == L'/') {
            size_t j = findChar(s, i + 2, len, L'>');
            if (j >= len) break;
            if (std::wstring(s + i + 2, j - i - 2) == L"variant") break;
            w.LevelEnd();
            i = j + 1;
            continue;
        }
        // Opening tag: the element name runs to the next blank. A tag that
        // closes before any blank carries no run type and is skipped.
        size_t k = i + 1;
        while (k < len && s[k] != L' ' && s[k] != L'>') ++k;
        if (k >= len) break;
        if (s[k] == L'>') {
            i = k + 1;
            continue;
        }
        std::wstring elem(s + i + 1, k - i - 1);
        i = k + 1;
        if (!startsWith(s, i, len, L"runtype=\"")) continue;
        i += 9;
        size_t q = findChar(s, i, len, L'"');
        if (q >= len) break;
        std::wstring rt(s + i, q - i);
        i = q + 1;
        bool isValue = false;
        std::wstring value;
        if (rt != L"CKzListVariant") {
            if (startsWith(s, i, len, L" value=\"")) {
                i += 8;
                q = findChar(s, i, len, L'"');
                if (q >= len) break;
                value.assign(s + i, q - i);
                i = q + 1;
                while (i < len && (s[i] == L' ' || s[i] == L'\t' || s[i] == L'\r' || s[i] == L'\n')) ++i;
                if (i >= len || s[i] != L'/') break;
                isValue = true;
            } else {
                pending = rt;
            }
        }
        size_t gt = findChar(s, i, len, L'>');
        if (gt >= len) break;
        i = gt + 1;
        if (isValue) {
            writeValue(w, elem, rt, value);
        } else {
            w.LevelBegin(elem.c_str());
            if (!pending.empty()) {
                w.Set(pending.c_str(), kRunTypeKey);
                pending.clear();
            }
        }
    }
    w.Finalize(*this);
    return KZ_OK;
}
