// Physical units: names, lookups, factors, conversions, composite names and
// the choice of a display unit.
#include "gnr_system/KzUnits.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <thread>

TEST(KzUnits, NamesAfterInitialisation)
{
    // The tables are zero until the host initialises them.
    static bool first = true;
    if (first) {
        first = false;
        EXPECT_STREQ(Get_Unit_Name(2), L"");
    }
    EXPECT_EQ(Units_Initialize(), 0);
    EXPECT_EQ(Units_Initialize(), 0);
    EXPECT_STREQ(Get_Unit_Name(2), L"\u00B5m");
    EXPECT_STREQ(Get_Unit_Name(-1), L"unknown");
    EXPECT_STREQ(Get_Unit_Name(29), L"unknown");
    EXPECT_STREQ(Get_Unit_Name(-2147483647 - 1), L"unknown");
    EXPECT_STREQ(Get_Unit_ShortName(29), L"??");
    EXPECT_STREQ(Get_Unit_LongName(24), L"Degrees Fahrenheit");
    EXPECT_STREQ(Get_Unit_ShortName(20), L"");
    EXPECT_STREQ(Get_Unit_ShortName(22), L"\u221E" L"C");
}

TEST(KzUnits, Lookup)
{
    Units_Initialize();
    struct Case { const wchar_t* text; int id; };
    const Case cases[] = {
        {L"UM", 2}, {L"um", 2}, {L"Micrometers", 2}, {L"m", 6}, {L"\u221E" L"C", 22}, {L"furlong", 10},
        {L"MIN", 15}, {L"Minutes", 15}, {L"in", 9}, {L"px", 0}, {L"%", 21}, {L"M", 6}, {L"Moles", 28},
        {L"", 20},  // the empty short name of "val"
        {L"unknown", 10}, {L"??", 10},
    };
    for (const auto& c : cases) EXPECT_EQ(Get_Unit_ID(c.text), c.id) << std::wstring(c.text).size();
    EXPECT_EQ(Get_Unit_ID(nullptr), 10);
}

TEST(KzUnits, TypesAndTables)
{
    EXPECT_EQ(Get_Unit_Type(0), 1);
    EXPECT_EQ(Get_Unit_Type(10), 0);
    EXPECT_EQ(Get_Unit_Type(12), 4);
    EXPECT_EQ(Get_Unit_Type(19), 6);
    EXPECT_EQ(Get_Unit_Type(21), 7);
    EXPECT_EQ(Get_Unit_Type(24), 8);
    EXPECT_EQ(Get_Unit_Type(28), 10);
    EXPECT_EQ(Get_Unit_Type(29), 0);
    EXPECT_EQ(Get_Unit_Type(0xFFFFFFFFu), 0);
    struct T { unsigned int type; int num, def, k0, klast; };
    const T types[] = {{1, 10, 2, 0, 9}, {2, 10, 2, 0, 9}, {4, 3, 11, 11, 13}, {5, 1, 1, 1, 1}, {6, 6, 16, 14, 19},
                       {7, 2, 21, 20, 21}, {8, 3, 22, 22, 24}, {10, 4, 25, 25, 28}};
    for (const auto& t : types) {
        EXPECT_EQ(Get_UnitType_NumUnits(t.type), t.num) << t.type;
        EXPECT_EQ(Get_Unit_Default(t.type), t.def) << t.type;
        EXPECT_EQ(Get_UnitType_Unit(t.type, 0), t.k0) << t.type;
        EXPECT_EQ(Get_UnitType_Unit(t.type, static_cast<unsigned int>(t.num - 1)), t.klast) << t.type;
        EXPECT_EQ(Get_UnitType_Unit(t.type, static_cast<unsigned int>(t.num)), 10) << t.type;  // past the end
    }
    for (unsigned int t : {0u, 9u}) {
        EXPECT_EQ(Get_UnitType_NumUnits(t), 0);
        EXPECT_EQ(Get_UnitType_Unit(t, 0), 10);
        EXPECT_EQ(Get_Unit_Default(t), 10);
    }
    EXPECT_EQ(Get_UnitType_NumUnits(11), 0);
    EXPECT_EQ(Get_UnitType_Unit(11, 0), 0);
    EXPECT_EQ(Get_Unit_Default(11), 316);
    EXPECT_EQ(Get_UnitType_NumUnits(12), 0);
    EXPECT_EQ(Get_UnitType_Unit(12, 0), 0);
    EXPECT_EQ(Get_Unit_Default(12), 10);

    EXPECT_EQ(GetUnitGroup(8), 1);
    EXPECT_EQ(GetUnitGroup(24), 1);
    EXPECT_EQ(GetUnitGroup(5), 2);
    EXPECT_EQ(GetUnitGroup(2), 6);
    EXPECT_EQ(HowManyMicronsAmI(9), 25400.0);
    EXPECT_EQ(HowManyMicronsAmI(0), 1.0);
    EXPECT_EQ(HowManyMicronsAmI(100), 1.0);
}

TEST(KzUnits, FactorsAndConversions)
{
    EXPECT_TRUE(std::isnan(Get_Unit_MulFactor(1, 0)));
    EXPECT_TRUE(std::isnan(Get_Unit_MulFactor(3, 0)));
    EXPECT_EQ(Get_Unit_MulFactor(2, 3), 1e6);
    EXPECT_EQ(Get_Unit_MulFactor(3, 4), 1e12);
    EXPECT_EQ(Get_Unit_MulFactor(4, 11), 0.017453292519943334);
    EXPECT_EQ(Get_Unit_MulFactor(4, 99), 1.0);
    EXPECT_EQ(Get_Unit_MulFactor(6, 14), 3600.0);
    EXPECT_EQ(Get_Unit_MulFactor(7, 20), 1.0);
    EXPECT_EQ(Get_Unit_MulFactor(7, 21), 0.01);
    EXPECT_EQ(Get_Unit_MulFactor(10, 28), 1e9);
    EXPECT_EQ(Get_Unit_MulFactor(11, 316), 1.0);
    EXPECT_EQ(Get_Unit_MulFactor(11, 414), 1000.0 / 3600.0);
    EXPECT_EQ(Get_Unit_MulFactor(8, 23), 1.0);

    struct Case { int type, from, to; double value, expect; };
    const Case cases[] = {
        {1, 3, 2, 1.5, 1500}, {1, 0, 2, 5, 5}, {1, 2, 0, 5, 5}, {8, 22, 24, 100, 212}, {8, 23, 22, 0, -273.15},
        {8, 24, 23, 32, 273.15}, {6, 14, 16, 1, 3600}, {11, 316, 716, 1e6, 1}, {11, 116, 115, 2, 120},
        {2, 3, 2, 1, 1e6}, {7, 21, 20, 50, 0.5}, {4, 12, 11, M_PI, 180}, {10, 28, 25, 1, 1e9}, {1, 7, 7, 3, 3},
        {-5, 1, 2, 4, 4}, {11, -100, 316, 4, 4},
    };
    for (const auto& c : cases)
        EXPECT_NEAR(Convert_Unit_To_Unit(c.type, c.from, c.to, c.value), c.expect, 1e-9 * std::max(1.0, std::fabs(c.expect)))
            << c.type << " " << c.from << " " << c.to;
}

TEST(KzUnits, CompositeNames)
{
    Units_Initialize();
    EXPECT_STREQ(Get_UnitType_ShortName(2, 3), L"mm\u00B2");
    EXPECT_STREQ(Get_UnitType_LongName(3, 6), L"Meters\u00B3");
    EXPECT_STREQ(Get_UnitType_ShortName(11, 316), L"\u00B5m/s");
    EXPECT_STREQ(Get_UnitType_LongName(11, 415), L"Millimeters/Minutes");
    EXPECT_STREQ(Get_UnitType_ShortName(6, 14), L"h");
    // Codes outside the tables give the unknown unit's name, not other memory.
    EXPECT_STREQ(Get_UnitType_ShortName(11, -5), L"?\?/?\?");
    EXPECT_STREQ(Get_UnitType_ShortName(11, 99999), L"?\?/?\?");
    EXPECT_STREQ(Get_UnitType_ShortName(2, 77), L"??\u00B2");
    EXPECT_STREQ(Get_UnitType_LongName(11, 1017), L"Inches/Milliseconds");

    EXPECT_EQ(Get_UnitType_ID(11, L"mm/min"), 415);
    EXPECT_EQ(Get_UnitType_ID(11, L"\u00B5m/s"), 316);
    EXPECT_EQ(Get_UnitType_ID(11, L"mm"), 10);
    EXPECT_EQ(Get_UnitType_ID(11, L"furlong/s"), 10);
    EXPECT_EQ(Get_UnitType_ID(11, L"s/mm"), 10);
    EXPECT_EQ(Get_UnitType_ID(11, L"/"), 10);
    EXPECT_EQ(Get_UnitType_ID(2, L"mm\u00B2"), 3);
    EXPECT_EQ(Get_UnitType_ID(3, L"cm\u00B3"), 4);
    EXPECT_EQ(Get_UnitType_ID(2, L""), 10);  // nothing before the text is read
    EXPECT_EQ(Get_UnitType_ID(3, nullptr), 10);
    EXPECT_EQ(Get_UnitType_ID(1, nullptr), 10);
    EXPECT_EQ(Get_UnitType_ID(6, L"ms"), 17);

    // Each thread has its own composite-name buffer.
    std::wstring other;
    std::thread t([&] { other = Get_UnitType_ShortName(2, 7); });
    const wchar_t* mine = Get_UnitType_ShortName(2, 3);
    t.join();
    EXPECT_STREQ(mine, L"mm\u00B2");
    EXPECT_EQ(other, L"km\u00B2");
}

TEST(KzUnits, AutoUnits)
{
    struct Case { unsigned int current; double value; int unit; };
    const Case cases[] = {
        {2, 2500, 3}, {2, 0.05, 1}, {2, 5, 2}, {2, 5e7, 6}, {2, 1e12, 7}, {2, 1e-9, 1},
        {9, 100, 9},   // 2540 in mils: exponent 3, inch (4) is nearer
        {8, 0.001, 8}, {2, 0, 0}, {2, -3, 0}, {2, NAN, 0},
    };
    for (const auto& c : cases) {
        int u = -1;
        Calc_Auto_Units(&u, c.current, c.value);
        EXPECT_EQ(u, c.unit) << c.current << " " << c.value;
    }
    Calc_Auto_Units(nullptr, 2, 5);

    int u = -1;
    Calc_Auto_Units_Precision(&u, 0, 2500);  // e = 3.4: mm (3) is 0.4 away
    EXPECT_EQ(u, 3);
    Calc_Auto_Units_Precision(&u, 2, 2500);  // cm: 0.6 + 2; mm: 0.4 below
    EXPECT_EQ(u, 3);
    Calc_Auto_Units_Precision(&u, 0, 8000);  // e = 3.9: cm 0.1 above
    EXPECT_EQ(u, 4);
    Calc_Auto_Units_Precision(&u, 1, 8000);  // cm 1.1, mm 0.9
    EXPECT_EQ(u, 3);
    Calc_Auto_Units_Precision(&u, 0, NAN);
    EXPECT_EQ(u, 0);
    Calc_Auto_Units_Precision(nullptr, 0, 1);
}
