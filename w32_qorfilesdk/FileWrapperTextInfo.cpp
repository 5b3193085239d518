// Text-information templates: symbol table, defaults and translation.
#include "w32_qorfilesdk/FileWrapperTextInfo.h"

#include "gnr_metaformats/SKzPictureMetadata.h"
#include "gnr_system/CKzAlloc.h"
#include "gnr_system/CKzDateTime.h"
#include "gnr_system/CKzVariantText.h"
#include "gnr_system/KzUnits.h"

#include <algorithm>
#include <cstring>
#include <cwchar>

namespace {

const wchar_t kEmpty[] = L"%EMPTY%";

// Order in which the items of a record are translated.
const int kTranslationOrder[14] = {13, 1, 3, 4, 5, 0, 2, 6, 7, 8, 9, 10, 11, 12};

struct SSymbolRow {
    EKzInfoSymbolID id;
    const wchar_t* symbol;
    const wchar_t* label;
    unsigned int value;
};
const SSymbolRow kSymbolRows[FileWrapperTextInfo::eMaxSymbols] = {
    {eInfoKeepInfo, L"%KEEP_INFO%", L"keep info", 1},
    {eInfoObjective, L"%OBJECTIVE%", L"objective name", 0},
    {eInfoCalibration, L"%CALIBRATION%", L"calibration", 0},
    {eInfoUnit, L"%UNIT%", L"unit", 0},
    {eInfoAspect, L"%ASPECT%", L"aspect", 0},
    {eInfoMeasFrame, L"%MEAS_FRAME%", L"measurement frame", 0},
    {eInfoUser, L"%USER%", L"user name", 0},
    {eInfoDate, L"%DATE%", L"date", 0},
    {eInfoTime, L"%TIME%", L"acquisition time", 0},
    {eInfoSampleNumber, L"%SAMPLE_NUMBER%", L"sample number", 0},
    {eInfoAllMetadata, L"%ALL_METADATA%", L"all captured metadata", 0},
    {eInfoCamera, L"%CAMERA%", L"camera name", 18},
    {eInfoCameraSettings, L"%CAMERA_SETTINGS%", L"camera settings", 2},
    {eInfoStagePosX, L"%STAGE_POS_X%", L"stage position x", 20},
    {eInfoStagePosY, L"%STAGE_POS_Y%", L"stage position y", 4},
    {eInfoStagePosZ, L"%STAGE_POS_Z%", L"stage position z", 24},
    {eInfoEmpty, L"%EMPTY%", L"copy from defaults", 0},
};

// Line of the diagnostic printed when the table is full.
const int kFullTableLine = 143;

wchar_t* CopyText(const wchar_t* text)
{
    const size_t n = std::wcslen(text);
    wchar_t* p = static_cast<wchar_t*>(CKzAlloc::Alloc(0, (n + 1) * sizeof(wchar_t)));
    if (p) std::memcpy(p, text, (n + 1) * sizeof(wchar_t));
    return p;
}

bool Calibrated(const SKzPictureMetadata& md) { return md.bCalibrated && md.dCalibration != 0.0; }

// The moment the acquisition-time symbols show.
CKzDateTime AcquisitionMoment(const SKzPictureMetadata& md)
{
    CKzDateTime start;
    const double first = start.Set(1, CKzDateTime::Jan, 1973, 0, 0, 0, 0).GetJulianDayNumber();
    CKzDateTime t;
    if (md.dTimeAbsolute >= first) {
        t.Set(md.dTimeAbsolute);
        return t;
    }
    // Unknown (or before 1973): now, moved by the frame's time.
    t = CKzDateTime::UNow();
    kz_int64 moved;
    if (!__builtin_add_overflow(t.GetValue(), kzvariant::DoubleToI64(md.dTimeMSec), &moved)) t.SetValue(moved);
    return t;
}

CKzStringW Number(const wchar_t* format, double value)
{
    CKzStringW s;
    s.Format(format, value);
    return s;
}

} // namespace

FileWrapperTextInfo::FileWrapperTextInfo(SKzPictureMetadata&, const SKzExperiment*) : m_uiSymbolCount(0)
{
    std::memset(static_cast<void*>(m_Symbols), 0, sizeof m_Symbols);
    m_Defaults.wsText[5] = L"%ALL_METADATA%";
    m_Defaults.wsText[6] = L"%CAMERA%\r\n%CAMERA_SETTINGS%";
    m_Defaults.wsText[9] = L"%TIME%";
    m_Defaults.wsText[13] = L"%OBJECTIVE%";
}

FileWrapperTextInfo::~FileWrapperTextInfo() { UnregisterInfoSymbols(); }

void FileWrapperTextInfo::RegisterInfoSymbols()
{
    UnregisterInfoSymbols();
    for (const SSymbolRow& r : kSymbolRows) RegisterInfoSymbol(r.id, r.symbol, r.label, r.value);
}

int FileWrapperTextInfo::RegisterInfoSymbol(EKzInfoSymbolID id, const wchar_t* symbol, const wchar_t* label,
                                            unsigned int value)
{
    if (!symbol || !label) return KZ_ERR_INVALID_ARG;
    if (m_uiSymbolCount >= eMaxSymbols) {
        KZ_PrintFailure("gnr_metaformats/FileWrapperTextInfo", kFullTableLine);
        return KZ_ERR_TOO_MANY;
    }
    SKzInfoSymbol& row = m_Symbols[m_uiSymbolCount];
    row.pSymbol = CopyText(symbol);
    row.pLabel = CopyText(label);
    if (!row.pSymbol || !row.pLabel) {
        CKzAlloc::Free(row.pSymbol);
        CKzAlloc::Free(row.pLabel);
        row = SKzInfoSymbol();
        return KZ_ERR_OUT_OF_MEMORY;
    }
    row.eID = id;
    row.uiValue = value;
    ++m_uiSymbolCount;
    return KZ_OK;
}

void FileWrapperTextInfo::UnregisterInfoSymbols()
{
    for (unsigned int i = 0; i < m_uiSymbolCount; ++i) {
        CKzAlloc::Free(m_Symbols[i].pSymbol);
        CKzAlloc::Free(m_Symbols[i].pLabel);
        m_Symbols[i] = SKzInfoSymbol();
    }
    m_uiSymbolCount = 0;
}

const SKzInfoSymbol* FileWrapperTextInfo::GetInfoSymbol(int id) const
{
    for (unsigned int i = 0; i < m_uiSymbolCount; ++i)
        if (m_Symbols[i].eID == id) return &m_Symbols[i];
    return nullptr;
}

void FileWrapperTextInfo::ClearImageTextInfoInit(SKzImageTextInfo& info)
{
    for (u32 k = 0; k < SKzImageTextInfo::eStored; ++k) info.wsText[k] = kEmpty;
}

void FileWrapperTextInfo::ClearImageTextInfo(SKzImageTextInfo& target, SKzImageTextInfo& mask)
{
    for (u32 k = 0; k < SKzImageTextInfo::eStored; ++k)
        if (!mask.wsText[k].IsEmpty()) target.wsText[k] = kEmpty;
}

CKzStringW FileWrapperTextInfo::GetAcquisitionTime(const SKzPictureMetadata& md)
{
    return AcquisitionMoment(md).FormatDateTime(CKzDateTime::TimeZone(CKzDateTime::Local));
}

CKzStringW FileWrapperTextInfo::GetAcquisitionDate(const SKzPictureMetadata& md)
{
    return AcquisitionMoment(md).FormatDate(CKzDateTime::TimeZone(CKzDateTime::Local));
}

CKzStringW FileWrapperTextInfo::Replacement(const SKzInfoSymbol& row, const CKzStringW& keep,
                                            SKzPictureMetadata& md, const SKzExperiment* experiment) const
{
    switch (row.eID) {
    case eInfoKeepInfo: return keep;
    case eInfoObjective: return md.wsObjectiveName;
    case eInfoCalibration:
        return Calibrated(md) ? Number(L"%.3f", md.dCalibration / HowManyMicronsAmI(1)) : CKzStringW(L"Uncalibrated");
    case eInfoUnit: return Calibrated(md) ? CKzStringW(Get_Unit_Name(1)) : CKzStringW(L"pixel");
    case eInfoAspect: return Calibrated(md) ? Number(L"%.4f", md.dAspect) : CKzStringW(L"1.0");
    case eInfoDate: return GetAcquisitionDate(md);
    case eInfoTime: return GetAcquisitionTime(md);
    case eInfoAllMetadata: return GetMetadataDescription(md, experiment);
    case eInfoCamera: return GetCameraNames(md);
    case eInfoCameraSettings: return GetCameraSettings(md);
    case eInfoStagePosX: return Number(L"X = %lf", md.dXPos);
    case eInfoStagePosY: return Number(L"Y = %lf", md.dYPos);
    case eInfoStagePosZ: return Number(L"Z = %lf", md.dZPos);
    default: return CKzStringW();   // measurement frame, user, sample number, empty
    }
}

void FileWrapperTextInfo::TranslateTextInfo(CKzStringW& out, const wchar_t* text, SKzPictureMetadata& md,
                                            const SKzExperiment* experiment)
{
    // The template is taken before out changes: it may be out's own text.
    CKzStringW work(text);
    const CKzStringW keep = out;
    for (unsigned int i = 0; i < m_uiSymbolCount; ++i) {
        const SKzInfoSymbol& row = m_Symbols[i];
        const int symbolLength = (int)std::wcslen(row.pSymbol);
        if (symbolLength == 0) continue;
        int pos = work.Find(row.pSymbol, 0);
        if (pos < 0) continue;
        // One pass builds the result, so many occurrences cost no more than
        // the text's length; what is inserted is never searched again. The
        // replacement is the same for every occurrence within one pass.
        const CKzStringW replacement = Replacement(row, keep, md, experiment);
        // Repeated symbols cannot make a text grow without bound: the first
        // occurrence is always replaced, further ones while the text stays
        // within the bound (or its own length, when longer); the rest are removed.
        long long occurrences = 0;
        for (int p = pos; p >= 0; p = work.Find(row.pSymbol, p + symbolLength)) ++occurrences;
        const long long literal = work.GetLength() - occurrences * symbolLength;
        const long long room = std::max<long long>(kMaxTranslatedLength, work.GetLength()) - literal;
        long long replaced = replacement.GetLength() > 0
                                 ? std::max(1LL, std::min(occurrences, room / replacement.GetLength()))
                                 : occurrences;
        CKzStringW result;
        int from = 0;
        while (pos >= 0) {
            result.AddChars(work.GetString() + from, pos - from);
            if (replaced > 0) {
                result += replacement;
                --replaced;
            }
            from = pos + symbolLength;
            pos = work.Find(row.pSymbol, from);
        }
        result.AddChars(work.GetString() + from, work.GetLength() - from);
        work = result;
    }
    out = work;
}

void FileWrapperTextInfo::TranslateImageTextInfo(SKzImageTextInfo& dst, const SKzImageTextInfo& src,
                                                 SKzPictureMetadata& md, const SKzExperiment* experiment)
{
    for (int k : kTranslationOrder) {
        const CKzStringW text = src.wsText[k];   // dst and src may be one record
        TranslateTextInfo(dst.wsText[k], text.GetString(), md, experiment);
    }
}

void FileWrapperTextInfo::AddDefaultsToTextInfo(SKzImageTextInfo& dst, SKzImageTextInfo& src,
                                                SKzImageTextInfo& defaults, bool useDefaults, SKzPictureMetadata& md,
                                                const SKzExperiment* experiment)
{
    SKzImageTextInfo work;
    if (useDefaults) {
        for (u32 k = 0; k < SKzImageTextInfo::eCount; ++k) work.wsText[k] = defaults.wsText[k];
    } else {
        for (u32 k = 0; k < SKzImageTextInfo::eStored; ++k)
            work.wsText[k] = src.wsText[k] == kEmpty ? defaults.wsText[k] : src.wsText[k];
    }
    TranslateImageTextInfo(dst, work, md, experiment);
}

void FileWrapperTextInfo::UpdateImageTextInfo(SKzImageTextInfo& templates, SKzImageTextInfo& current,
                                              SKzImageTextInfo& defaults, SKzPictureMetadata& md,
                                              const SKzExperiment* experiment)
{
    SKzImageTextInfo produced;
    AddDefaultsToTextInfo(produced, templates, defaults, false, md, experiment);
    for (u32 k = 0; k < SKzImageTextInfo::eStored; ++k)
        if (!(produced.wsText[k] == current.wsText[k])) templates.wsText[k] = current.wsText[k];
}
