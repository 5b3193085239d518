// Catalogue of 29 physical units in ten unit types: names in three forms,
// conversion factors, composite units (areas, volumes, velocities) and the
// choice of a display unit. C linkage, exported for hosts. The name tables
// are empty until Units_Initialize is called.
#pragma once

#include "gnr_system/kz_base.h"

#include <wchar.h>

#define KZ_UNIT_COUNT 29
#define KZ_UNIT_NAME_LEN 32

extern "C" {
KZ_EXPORT extern wchar_t Unit_Table[KZ_UNIT_COUNT][KZ_UNIT_NAME_LEN];
KZ_EXPORT extern wchar_t Unit_ShortTable[KZ_UNIT_COUNT][KZ_UNIT_NAME_LEN];
KZ_EXPORT extern wchar_t Unit_LongTable[KZ_UNIT_COUNT][KZ_UNIT_NAME_LEN];

// Fills the three name tables; returns 0.
KZ_EXPORT int Units_Initialize();
// Row of the unit in its table; an index outside 0..28 gives row 10 ("unknown").
KZ_EXPORT const wchar_t* Get_Unit_Name(int unit);
KZ_EXPORT const wchar_t* Get_Unit_ShortName(int unit);
KZ_EXPORT const wchar_t* Get_Unit_LongName(int unit);
// Unit whose name, short or long name matches (ignoring case); 10 when none
// does or the text is null.
KZ_EXPORT int Get_Unit_ID(const wchar_t* text);
KZ_EXPORT double HowManyMicronsAmI(unsigned int unit);
KZ_EXPORT int GetUnitGroup(unsigned int unit);
KZ_EXPORT int Get_Unit_Type(unsigned int unit);
KZ_EXPORT int Get_UnitType_NumUnits(unsigned int type);
KZ_EXPORT int Get_UnitType_Unit(unsigned int type, unsigned int k);
KZ_EXPORT int Get_Unit_Default(unsigned int type);
KZ_EXPORT double Get_Unit_MulFactor(unsigned int type, int unit);
KZ_EXPORT double Convert_Unit_To_Unit(int type, int from, int to, double value);
// Names of composite units (area, volume, velocity). The text lives in a
// buffer per calling thread that the next call on that thread overwrites.
KZ_EXPORT const wchar_t* Get_UnitType_ShortName(int type, int unit);
KZ_EXPORT const wchar_t* Get_UnitType_LongName(int type, int unit);
KZ_EXPORT int Get_UnitType_ID(unsigned int type, const wchar_t* text);
// Length unit for displaying `value` (in units of `current`'s family).
KZ_EXPORT void Calc_Auto_Units(int* unit, unsigned int current, double value);
KZ_EXPORT void Calc_Auto_Units_Precision(int* unit, int precision, double value);
}
