// Predefined palettes: the exported tables, the process-wide registry and the
// palette look-ups.
//
// Each palette channel is piecewise linear between a few knots, rounded as
// trunc(a + (b - a)(i - i0) / (i1 - i0) + 0.5) in double. The tables are built
// at compile time so they hold their contents before any static initialiser
// of a host runs.
#include "gnr_picture/CKzPredefLUTs.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>

namespace {

struct Knot {
    int pos;
    int rgb[3];
};

template <size_t N>
constexpr u8 KnotChannel(const Knot (&k)[N], int i, int c)
{
    for (size_t j = 0; j + 1 < N; ++j) {
        if (i >= k[j].pos && i <= k[j + 1].pos) {
            const double a = k[j].rgb[c], b = k[j + 1].rgb[c];
            const double v = a + (b - a) * double(i - k[j].pos) / double(k[j + 1].pos - k[j].pos) + 0.5;
            return u8(int(v));  // v is within 0.5..255.5: the conversion truncates
        }
    }
    return 0;
}

constexpr Knot kGrey[] = {{0, {0, 0, 0}}, {255, {255, 255, 255}}};
constexpr Knot kRainbowContrast[] = {
    {0, {0, 0, 255}}, {64, {0, 255, 207}}, {128, {175, 255, 0}}, {192, {255, 96, 17}}, {255, {255, 63, 255}}};
constexpr Knot kRedHot[] = {
    {0, {0, 0, 0}}, {64, {181, 0, 0}}, {128, {255, 133, 0}}, {192, {255, 255, 84}}, {255, {255, 255, 255}}};
constexpr Knot kYellowPale[] = {
    {0, {0, 0, 0}}, {64, {127, 127, 51}}, {128, {255, 255, 102}}, {192, {255, 255, 153}}, {255, {255, 255, 204}}};
constexpr Knot kMagentaHot[] = {
    {0, {0, 0, 0}}, {64, {102, 0, 102}}, {128, {255, 0, 255}}, {192, {255, 102, 255}}, {255, {255, 255, 255}}};
constexpr Knot kGreenFireBlue[] = {
    {0, {0, 0, 0}}, {64, {0, 85, 170}}, {128, {0, 255, 0}}, {192, {255, 255, 0}}, {255, {255, 255, 255}}};
constexpr Knot kRedFire[] = {
    {0, {0, 0, 31}}, {64, {146, 0, 210}}, {128, {240, 79, 0}}, {192, {255, 205, 0}}, {255, {255, 255, 255}}};
constexpr Knot kGreenFire[] = {
    {0, {0, 0, 0}}, {64, {0, 153, 153}}, {128, {0, 255, 0}}, {192, {255, 255, 0}}, {255, {255, 255, 255}}};
constexpr Knot kLemonHot[] = {
    {0, {0, 0, 0}}, {64, {191, 131, 0}}, {128, {255, 215, 0}}, {192, {255, 255, 65}}, {255, {255, 255, 255}}};
constexpr Knot kBrown[] = {
    {0, {9, 2, 2}}, {64, {142, 60, 1}}, {128, {188, 101, 13}}, {192, {221, 132, 40}}, {255, {253, 246, 238}}};
constexpr Knot kIron[] = {
    {0, {40, 0, 0}}, {64, {130, 0, 0}}, {128, {208, 15, 0}}, {192, {241, 136, 0}}, {255, {255, 255, 255}}};
// Entry 20 is a knot of its own: Rainbow Dark fades from black into it.
constexpr Knot kRainbow[] = {{0, {99, 5, 150}},   {20, {63, 27, 174}}, {64, {1, 129, 156}},
                             {128, {74, 210, 34}}, {192, {193, 155, 2}}, {255, {255, 59, 67}}};

}  // namespace

#define KZ_PAL_E(K, i) KnotChannel(K, (i), 0), KnotChannel(K, (i), 1), KnotChannel(K, (i), 2),
#define KZ_PAL_4(K, b) KZ_PAL_E(K, (b)) KZ_PAL_E(K, (b) + 1) KZ_PAL_E(K, (b) + 2) KZ_PAL_E(K, (b) + 3)
#define KZ_PAL_16(K, b) KZ_PAL_4(K, (b)) KZ_PAL_4(K, (b) + 4) KZ_PAL_4(K, (b) + 8) KZ_PAL_4(K, (b) + 12)
#define KZ_PAL_64(K, b) KZ_PAL_16(K, (b)) KZ_PAL_16(K, (b) + 16) KZ_PAL_16(K, (b) + 32) KZ_PAL_16(K, (b) + 48)
#define KZ_PALETTE(K) {KZ_PAL_64(K, 0) KZ_PAL_64(K, 64) KZ_PAL_64(K, 128) KZ_PAL_64(K, 192)}

u8 Custom_Luts[768] = KZ_PALETTE(kGrey);
u8 CA_RainbowContrast_Luts[768] = KZ_PALETTE(kRainbowContrast);
u8 RedHot_Luts[768] = KZ_PALETTE(kRedHot);
u8 YellowPale_Luts[768] = KZ_PALETTE(kYellowPale);
u8 MagentaHot_Luts[768] = KZ_PALETTE(kMagentaHot);
u8 GreenFireBlue_Luts[768] = KZ_PALETTE(kGreenFireBlue);
u8 RedFire_Luts[768] = KZ_PALETTE(kRedFire);
u8 GreenFire_Luts[768] = KZ_PALETTE(kGreenFire);
u8 LemonHot_Luts[768] = KZ_PALETTE(kLemonHot);
u8 Brown_Luts[768] = KZ_PALETTE(kBrown);
u8 CA_Iron_Luts[768] = KZ_PALETTE(kIron);
u8 CA_Rainbow_Luts[768] = KZ_PALETTE(kRainbow);

namespace {

// The registry's own tables: the grey ramp and Rainbow Dark (filled by
// InitPredefLuts from the rainbow table as it is then).
u8 g_DefaultTable[768] = KZ_PALETTE(kGrey);
u8 g_RainbowDarkTable[768];

std::once_flag g_InitOnce;

// The entries live in static storage that is never destroyed: the registry
// stays valid for code that runs during process exit.
alignas(SKzLut::SKzPredefLut) unsigned char g_EntryStorage[13 * sizeof(SKzLut::SKzPredefLut)];

struct RegistryRow {
    const wchar_t* name;
    u8* table;
};

void FillRegistry()
{
    // Entries appended before InitPredefLuts (by a host) leave it alone.
    if (!SKzLut::vecPredefLuts.empty())
        return;
    std::memcpy(g_RainbowDarkTable, CA_Rainbow_Luts, sizeof g_RainbowDarkTable);
    for (int i = 0; i < 20; ++i)
        for (int c = 0; c < 3; ++c)
            g_RainbowDarkTable[3 * i + c] = u8(i * CA_Rainbow_Luts[3 * 20 + c] / 20);

    const RegistryRow rows[] = {
        {L"Default", g_DefaultTable},
        {L"Rainbow", CA_Rainbow_Luts},
        {L"Iron", CA_Iron_Luts},
        {L"Green Fire", GreenFire_Luts},
        {L"Green Fire Blue", GreenFireBlue_Luts},
        {L"Red Fire", RedFire_Luts},
        {L"Red Hot", RedHot_Luts},
        {L"Magenta Hot", MagentaHot_Luts},
        {L"Brown", Brown_Luts},
        {L"Lemon Hot", LemonHot_Luts},
        {L"Yellow Pale", YellowPale_Luts},
        {L"Rainbow Contrast", CA_RainbowContrast_Luts},
        {L"Rainbow Dark", g_RainbowDarkTable},
    };
    constexpr size_t kRows = sizeof rows / sizeof rows[0];
    static_assert(sizeof g_EntryStorage == kRows * sizeof(SKzLut::SKzPredefLut));
    SKzLut::SKzPredefLut* made[kRows] = {};
    size_t built = 0;
    try {
        SKzLut::vecPredefLuts.reserve(kRows);
        for (; built < kRows; ++built) {
            made[built] = new (g_EntryStorage + built * sizeof(SKzLut::SKzPredefLut)) SKzLut::SKzPredefLut;
            made[built]->wsName = rows[built].name;
            made[built]->eId = SKzLut::EKzPredefLut(built);
            made[built]->pTable = rows[built].table;
        }
    } catch (...) {
        for (size_t i = 0; i < kRows; ++i)
            if (made[i])
                made[i]->~SKzPredefLut();
        throw;  // leaves the once flag unset: a later call retries
    }
    // reserve made room: these appends cannot fail.
    for (auto* p : made)
        SKzLut::vecPredefLuts.push_back(p);
}

// The palette table of registry entry n, or null for an index outside the
// registry or an entry without table.
const u8* PaletteOf(int n)
{
    if (n < 0 || size_t(n) >= SKzLut::vecPredefLuts.size())
        return nullptr;
    const SKzLut::SKzPredefLut* e = SKzLut::vecPredefLuts[size_t(n)];
    return e ? e->pTable : nullptr;
}

u32 EntryOf(u32 value, u32 range)
{
    if (range == 0)
        return 0;
    return u32(std::min<u64>(u64(value) * 256 / range, 255));
}

kz_result FillFromPalette(SKzLut& lut, const u8* pal)
{
    const size_t n = size_t(1) << lut.uiInBpc;
    u8* block = static_cast<u8**>(lut.pLut)[0];
    if (!block)
        return KZ_ERR_INVALID_ARG;
    for (size_t v = 0; v < n; ++v) {
        const size_t e = std::min<size_t>(v * 256 / n, 255);
        block[3 * v + 0] = pal[3 * e + 2];
        block[3 * v + 1] = pal[3 * e + 1];
        block[3 * v + 2] = pal[3 * e + 0];
    }
    return KZ_OK;
}

bool IsPaletteShape(const SKzLut& lut)
{
    return lut.pLut && lut.uiOutBpc == 8 && lut.uiOutComp == 3 && lut.uiInComp == 1 && lut.uiInBpc >= 1 &&
           lut.uiInBpc <= 16;
}

}  // namespace

kz_result SKzLut::InitPredefLuts()
{
    try {
        std::call_once(g_InitOnce, FillRegistry);
    } catch (...) {
        return KZ_ERR_OUT_OF_MEMORY;
    }
    return KZ_OK;
}

u32 SKzLut::GetPredefLutsCount() { return u32(vecPredefLuts.size()); }

kz_result SKzLut::GetPredefLutDescr(CKzStringW& name, u32 index)
{
    if (index >= vecPredefLuts.size())
        return KZ_ERR_INDEX;
    const SKzPredefLut* e = vecPredefLuts[index];
    if (!e)
        return KZ_ERR_INDEX;
    name = e->wsName;
    return KZ_OK;
}

kz_result SKzLut::CreatePredefLut(SKzLut& lut, u32 index)
{
    if (!IsPaletteShape(lut))
        return KZ_ERR_INVALID_ARG;
    if (index >= vecPredefLuts.size())
        return KZ_ERR_INDEX;
    const SKzPredefLut* e = vecPredefLuts[index];
    if (!e || !e->pTable)
        return -9;
    return FillFromPalette(lut, e->pTable);
}

kz_result SKzLut::CreatePredefLutEx(SKzLut& lut, EKzPredefLut id)
{
    if (!IsPaletteShape(lut))
        return KZ_ERR_INVALID_ARG;
    for (const SKzPredefLut* e : vecPredefLuts) {
        if (e && e->eId == id)
            return e->pTable ? FillFromPalette(lut, e->pTable) : -9;
    }
    return -9;
}

void SKzLut::SetCustomLut(const u8* table)
{
    if (table)
        std::memmove(Custom_Luts, table, sizeof Custom_Luts);
}

void CKzPredefLUTs::SetCustomLUTs(const u8* table) { SKzLut::SetCustomLut(table); }

void CKzPredefLUTs::GetCustomLUTs(u8* table)
{
    if (table)
        std::memmove(table, Custom_Luts, sizeof Custom_Luts);
}

u32 CKzPredefLUTs::GetLUTEntryComp(int n, u32 entry, u32 comp)
{
    entry = std::min<u32>(entry, 255);
    comp = std::min<u32>(comp, 2);
    const u8* pal = PaletteOf(n);
    return pal ? pal[3 * entry + comp] : entry;
}

u32 CKzPredefLUTs::GetLUTEntry(int n, u32 value, u32 range)
{
    const u32 e = EntryOf(value, range);
    return (GetLUTEntryComp(n, e, 0) & 0xFF) << 16 | (GetLUTEntryComp(n, e, 1) & 0xFF) << 8 |
           (GetLUTEntryComp(n, e, 2) & 0xFF);
}

u64 CKzPredefLUTs::GetLUTEntry(int n, u32 value, u32 range, u32 max)
{
    if (max == 256)
        return GetLUTEntry(n, value, range);
    const u32 e = EntryOf(value, range);
    auto word = [&](u32 comp) { return (u64(GetLUTEntryComp(n, e, comp) & 0xFF) * max >> 8) & 0xFFFF; };
    return word(2) | word(1) << 16 | word(0) << 32;
}

// The registry entry holds a string and so is not standard-layout; its
// members still lie in declaration order on this platform.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
static_assert(offsetof(SKzLut::SKzPredefLut, wsName) == 0);
static_assert(offsetof(SKzLut::SKzPredefLut, eId) == sizeof(CKzStringW));
static_assert(offsetof(SKzLut::SKzPredefLut, pTable) == sizeof(CKzStringW) + 8);
#pragma GCC diagnostic pop
static_assert(sizeof(SKzLut::SKzPredefLut) == sizeof(CKzStringW) + 16);
static_assert(sizeof(CKzStringW) == 40);
