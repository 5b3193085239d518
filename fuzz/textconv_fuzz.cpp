// Decoders of untrusted text: UTF-8 and UTF-16 into wide text, both the
// lenient string forms and the strict standard-string forms, and the round
// trip back.
#include "gnr_system/KzTextConv.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (1u << 20)) return 0;
    std::string bytes(reinterpret_cast<const char*>(data), size);  // keeps a terminator behind the data

    CKzStringW w;
    CKzStringUtils::UTF8toW(bytes.c_str(), w);
    CKzStringUtils::UTF8toWn(bytes.data(), w, static_cast<unsigned>(size));
    CKzStringA back;
    CKzStringUtils::WtoUTF8(w.GetString(), back);

    std::wstring strict;
    const bool ok = base::UTF8ToWide(bytes.data(), size, &strict);
    std::string again;
    const bool ok2 = base::WideToUTF8(strict.data(), strict.size(), &again);
    if (ok && (!ok2 || again != bytes)) std::abort();  // valid UTF-8 must round-trip exactly

    std::vector<unsigned short> units(size / 2 + 1, 0);
    if (size >= 2) std::memcpy(units.data(), data, (size / 2) * 2);
    CKzStringUtils::UTF16toW(units.data(), static_cast<int>(size / 2), w);
    CKzStringUtils::UTF16toW(units.data(), -1, w);
    int count = 0;
    CKzStringUtils::WtoUTF16(w.GetString(), nullptr, count);
    std::vector<unsigned short> out(static_cast<size_t>(count) + 1);
    if (!CKzStringUtils::WtoUTF16(w.GetString(), out.data(), count)) std::abort();  // the size it asked for fits
    base::string16 s16;
    base::UTF16ToUTF8(units.data(), size / 2, &again);
    base::UTF8ToUTF16(bytes.data(), size, &s16);

    CKzStringTokenizer tok(w.GetString(), L",;");
    for (int i = 0; i < 64 && tok.HasMoreTokens(); ++i) tok.GetNextToken();
    return 0;
}
