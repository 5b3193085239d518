// Character helpers and the locale conversions shared by both string widths.
#include "gnr_system/CKzStringImpl.inl"

#include <strings.h>

pthread_mutex_t CKzWORMLock_CS::ms_worm_cs = PTHREAD_MUTEX_INITIALIZER;

wchar_t KZ_ToLower(wchar_t c)
{
    return static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
}

wchar_t KZ_ToUpper(wchar_t c)
{
    return static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
}

int KZ_lstrlen(const wchar_t* text)
{
    if (!text) return 0;
    const size_t n = std::wcslen(text);
    return n > (size_t)INT_MAX ? INT_MAX : (int)n;
}

int KZ_Sstrcmp(const wchar_t* a, const wchar_t* b)
{
    return std::wcscmp(a ? a : L"", b ? b : L"");
}

int KZ_Sstricmp(const wchar_t* a, const wchar_t* b)
{
    if (!a) a = L"";
    if (!b) b = L"";
    for (;; ++a, ++b) {
        wchar_t ca = *a, cb = *b;
        if (ca != cb) {
            if (std::iswupper(static_cast<wint_t>(ca))) ca = KZ_ToLower(ca);
            if (std::iswupper(static_cast<wint_t>(cb))) cb = KZ_ToLower(cb);
            if (ca != cb) {
                const long long d = (long long)ca - (long long)cb;
                if (d > INT_MAX) return INT_MAX;
                if (d < INT_MIN) return INT_MIN;
                return (int)d;
            }
        }
        if (ca == 0) return 0;
    }
}

int kzstr::CharOps<char>::CmpNoCase(const char* a, const char* b)
{
    return strcasecmp(a, b);
}

namespace kzstr {

// One multibyte sequence at p (at most 16 of the `left` bytes offered):
// its length and character, or 0 for a byte that starts no valid sequence.
// Every character set a locale of the system library can use keeps ASCII
// as it is, so those bytes skip the conversion call.
static size_t DecodeOne(const char* p, size_t left, wchar_t* out)
{
    if (static_cast<unsigned char>(*p) < 0x80) {
        *out = static_cast<wchar_t>(*p);
        return 1;
    }
    std::mbstate_t st{};
    const size_t r = std::mbrtowc(out, p, left < 16 ? left : 16, &st);
    if (r == (size_t)-1 || r == (size_t)-2 || r == 0) return 0;
    return r;
}

wchar_t* MbToWide(const char* text, size_t* count)
{
    if (!text) text = "";
    const size_t bytes = std::strlen(text);
    size_t n = 0;
    for (size_t i = 0; i < bytes;) {
        wchar_t c;
        const size_t k = DecodeOne(text + i, bytes - i, &c);
        i += k ? k : 1;
        ++n;
    }
    wchar_t* out = static_cast<wchar_t*>(CKzAlloc::Alloc(1, (n + 1) * sizeof(wchar_t)));
    if (!out) return nullptr;
    size_t w = 0;
    for (size_t i = 0; i < bytes && w < n;) {
        wchar_t c;
        const size_t k = DecodeOne(text + i, bytes - i, &c);
        out[w++] = k ? c : L'?';
        i += k ? k : 1;
    }
    out[w] = 0;
    if (count) *count = w;
    return out;
}

char* WideToMb(const wchar_t* text, size_t* count)
{
    if (!text) text = L"";
    char tmp[MB_LEN_MAX > 16 ? MB_LEN_MAX : 16];
    size_t n = 0;
    for (const wchar_t* p = text; *p; ++p) {
        if (static_cast<unsigned>(*p) < 0x80) {
            ++n;
            continue;
        }
        std::mbstate_t st{};
        const size_t k = std::wcrtomb(tmp, *p, &st);
        n += (k == (size_t)-1) ? 1 : k;
    }
    char* out = static_cast<char*>(CKzAlloc::Alloc(1, n + 1));
    if (!out) return nullptr;
    size_t w = 0;
    for (const wchar_t* p = text; *p; ++p) {
        if (static_cast<unsigned>(*p) < 0x80) {
            out[w++] = static_cast<char>(*p);
            continue;
        }
        std::mbstate_t st{};
        const size_t k = std::wcrtomb(tmp, *p, &st);
        if (k == (size_t)-1) {
            out[w++] = '?';
        } else {
            std::memcpy(out + w, tmp, k);
            w += k;
        }
    }
    out[w] = 0;
    if (count) *count = w;
    return out;
}

wchar_t* RewriteWideFormat(const wchar_t* fmt, size_t* count)
{
    const size_t n = std::wcslen(fmt);
    // Each "%s" grows by one character at most: "%ls".
    wchar_t* out = static_cast<wchar_t*>(CKzAlloc::Alloc(0, (n + n / 2 + 2) * sizeof(wchar_t)));
    if (!out) return nullptr;
    size_t w = 0;
    size_t i = 0;
    auto isDigit = [](wchar_t c) { return c >= L'0' && c <= L'9'; };
    while (i < n) {
        const wchar_t c = fmt[i++];
        out[w++] = c;
        if (c != L'%') continue;
        if (i < n && fmt[i] == L'%') {
            out[w++] = fmt[i++];
            continue;
        }
        // Argument position ("1$"), flags, width, precision, length modifiers.
        size_t j = i;
        while (j < n && isDigit(fmt[j])) ++j;
        if (j < n && j > i && fmt[j] == L'$') {
            while (i <= j) out[w++] = fmt[i++];
        }
        while (i < n && std::wcschr(L"-+ #0'I", fmt[i])) out[w++] = fmt[i++];
        if (i < n && fmt[i] == L'*') {
            out[w++] = fmt[i++];
            while (i < n && (isDigit(fmt[i]) || fmt[i] == L'$')) out[w++] = fmt[i++];
        }
        while (i < n && isDigit(fmt[i])) out[w++] = fmt[i++];
        if (i < n && fmt[i] == L'.') {
            out[w++] = fmt[i++];
            if (i < n && fmt[i] == L'*') out[w++] = fmt[i++];
            while (i < n && (isDigit(fmt[i]) || fmt[i] == L'$')) out[w++] = fmt[i++];
        }
        bool modifier = false;
        while (i < n && std::wcschr(L"hlLqjzt", fmt[i])) {
            out[w++] = fmt[i++];
            modifier = true;
        }
        if (i >= n) break;
        const wchar_t conv = fmt[i++];
        if (conv == L's' && !modifier) {
            out[w++] = L'l';
            out[w++] = L's';
        } else if (conv == L'S' && !modifier) {
            out[w++] = L's';
        } else {
            out[w++] = conv;
        }
    }
    out[w] = 0;
    if (count) *count = w;
    return out;
}

}  // namespace kzstr
