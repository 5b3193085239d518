// Date-time text and values from untrusted bytes: the parsers, formatting with
// an arbitrary format, breaking down arbitrary stored values, Julian days,
// and a matrix loaded from an arbitrary stored record.
//
// Input: byte 0 selects the operation; the rest is the text (one byte per
// character, so every value 0..255 reaches the parsers) or the raw value.
#include "gnr_system/CKzDateTime.h"
#include "gnr_system/CKzString.h"
#include "gnr_system/CKzVariant.h"
#include "numerics/CKzMatrix.h"

#include <cstdint>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1 || size > 4096) return 0;
    static bool once = [] {
        setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
        tzset();
        CKzDateTime::RefreshZoneInfo();
        return true;
    }();
    (void)once;
    const uint8_t op = data[0];
    ++data;
    --size;
    std::wstring text(data, data + size);
    CKzDateTime dt(1278261015250LL);
    switch (op % 8) {
    case 0: dt.ParseRfc822Date(text.c_str()); break;
    case 1: {
        // The text up to the first "|" is the format, the rest the input.
        const size_t bar = text.find(L'|');
        const std::wstring format = text.substr(0, bar);
        const std::wstring input = bar == std::wstring::npos ? std::wstring() : text.substr(bar + 1);
        dt.ParseFormat(input.c_str(), format.c_str(), g_DefaultDateTime, op & 8, op & 16);
        break;
    }
    case 2: dt.ParseDate(text.c_str()); break;
    case 3: dt.ParseTime(text.c_str()); break;
    case 4: dt.ParseDateTime(text.c_str(), op & 8, op & 16); break;
    case 5: {
        // A stored value, then a format applied to it in some zone.
        long long v = 0;
        std::memcpy(&v, data, size < 8 ? size : 8);
        const CKzDateTime x(v);
        const std::wstring format = size > 8 ? std::wstring(data + 8, data + size) : std::wstring(L"%c %x %l");
        x.Format(format.c_str(), CKzDateTime::TimeZone(static_cast<CKzDateTime::TZ>(op >> 3)));
        x.GetTm(CKzDateTime::TimeZone(CKzDateTime::Local));
        x.GetWeekOfMonth();
        x.IsDST();
        break;
    }
    case 6: {
        double j = 0;
        std::memcpy(&j, data, size < 8 ? size : 8);
        dt.Set(j);
        dt.GetTm();
        CKzDateTime y(dt);
        int n = 0;
        if (j == j && j > -2e9 && j < 2e9) n = static_cast<int>(j);
        y.Add(CKzDateSpan(n, static_cast<int>(size), 3, -static_cast<int>(size)));
        y.SetToWeekDay(static_cast<CKzDateTime::WeekDay>(op >> 4), n, CKzDateTime::Inv_Month, CKzDateTime::Inv_Year);
        break;
    }
    case 7: {
        // A stored matrix record: Columns, Rows, then the data bytes.
        if (size < 8) return 0;
        unsigned int cols, rows;
        std::memcpy(&cols, data, 4);
        std::memcpy(&rows, data + 4, 4);
        CKzVariant v(CKzListVariant(), L"Matrix");
        v.Append(CKzVariant(cols, L"Columns"));
        v.Append(CKzVariant(rows, L"Rows"));
        v.Append(CKzVariant(CKzByteArray(data + 8, static_cast<unsigned long>(size - 8), 1024), L"Data"));
        CKzMatrix m;
        m.LoadFromVariant(v);
        if (m.IsValid() && m.Rows() <= 16 && m.Columns() <= 16) {
            CKzMatrix u(m), w, vv;
            u.Svd(w, vv, true);
            m.Inv();
            m.Det();
            m.Eigen();
        }
        break;
    }
    }
    return 0;
}
