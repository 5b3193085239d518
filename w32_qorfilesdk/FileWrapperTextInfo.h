// Text-information templates: the fifteen free texts of a file may hold info
// symbols ("%OBJECTIVE%", "%CAMERA%", ...) that are replaced, when the file
// is opened, by values of the frame-0 picture metadata and the experiment.
// FileWrapperTextInfo holds the symbol table and the default templates and
// fills defaults, translates templates and finds the texts a user edited.
//
// One object serves one file on one thread; it shares nothing.
#pragma once

#include "gnr_system/kz_base.h"
#include "gnr_system/CKzString.h"
#include "vt5file/IKzImageFile.h"

struct SKzPictureMetadata;
struct SKzExperiment;

// Which replacement rule an info symbol follows.
enum EKzInfoSymbolID : kz_int32 {
    eInfoKeepInfo = 1,
    eInfoObjective = 2,
    eInfoCalibration = 3,
    eInfoUnit = 4,
    eInfoAspect = 5,
    eInfoMeasFrame = 6,
    eInfoUser = 7,
    eInfoDate = 8,
    eInfoSampleNumber = 9,
    eInfoAllMetadata = 10,
    eInfoCamera = 11,
    eInfoCameraSettings = 12,
    eInfoStagePosX = 13,
    eInfoStagePosY = 14,
    eInfoStagePosZ = 15,
    eInfoTime = 17,
    eInfoEmpty = 18,
};

// One row of the symbol table. The texts are owned by the table.
struct SKzInfoSymbol {
    EKzInfoSymbolID eID;
    wchar_t* pSymbol;   // searched for in templates
    wchar_t* pLabel;    // human-readable name
    unsigned int uiValue;   // carried for callers, not interpreted
};

class KZ_EXPORT FileWrapperTextInfo {
public:
    enum : unsigned int { eMaxSymbols = 17 };

    // An empty symbol table and the default templates: item 5
    // "%ALL_METADATA%", item 6 the cameras and their settings, item 9 the
    // acquisition time, item 13 the objective.
    FileWrapperTextInfo(SKzPictureMetadata& metadata, const SKzExperiment* experiment);
    ~FileWrapperTextInfo();
    FileWrapperTextInfo(const FileWrapperTextInfo&) = delete;
    FileWrapperTextInfo& operator=(const FileWrapperTextInfo&) = delete;

    // Empties the table, then registers the seventeen symbols in replacement order.
    void RegisterInfoSymbols();
    // Appends a row with copies of both texts; a full table prints the
    // failure diagnostic and adds nothing. 0; -17 when full; -3; -4 for a null text.
    int RegisterInfoSymbol(EKzInfoSymbolID id, const wchar_t* symbol, const wchar_t* label, unsigned int value);
    void UnregisterInfoSymbols();
    // The row with that identifier, or null.
    const SKzInfoSymbol* GetInfoSymbol(int id) const;
    unsigned int GetInfoSymbolCount() const { return m_uiSymbolCount; }
    // The default templates.
    SKzImageTextInfo& GetDefaults() { return m_Defaults; }

    // Items 0 to 13 become "%EMPTY%".
    static void ClearImageTextInfoInit(SKzImageTextInfo& info);
    // Items 0 to 13 whose mask item is not empty become "%EMPTY%".
    void ClearImageTextInfo(SKzImageTextInfo& target, SKzImageTextInfo& mask);

    // out receives the template with every registered symbol replaced; the
    // text may be out's own characters.
    void TranslateTextInfo(CKzStringW& out, const wchar_t* text, SKzPictureMetadata& metadata,
                           const SKzExperiment* experiment);
    // Items 0 to 13 of src translated into dst (13, 1, 3, 4, 5, 0, 2, 6 ... 12
    // in this order); item 14 untouched. dst may be src.
    void TranslateImageTextInfo(SKzImageTextInfo& dst, const SKzImageTextInfo& src, SKzPictureMetadata& metadata,
                                const SKzExperiment* experiment);
    // Translates src, with defaults taken for its "%EMPTY%" items (or all
    // defaults when useDefaults), into dst. dst may be src.
    void AddDefaultsToTextInfo(SKzImageTextInfo& dst, SKzImageTextInfo& src, SKzImageTextInfo& defaults,
                               bool useDefaults, SKzPictureMetadata& metadata, const SKzExperiment* experiment);
    // Where the text a template produces now differs from the current text,
    // the current text becomes the template (the user's edit wins).
    void UpdateImageTextInfo(SKzImageTextInfo& templates, SKzImageTextInfo& current, SKzImageTextInfo& defaults,
                             SKzPictureMetadata& metadata, const SKzExperiment* experiment);

    // ---- texts the symbols stand for ------------------------------------------------
    // The samples' camera user names, adjacent repeats dropped, joined by " + ".
    static CKzStringW GetCameraNames(const SKzPictureMetadata& metadata);
    // The samples' settings texts ("Sample n:" blocks when there are several).
    static CKzStringW GetCameraSettings(const SKzPictureMetadata& metadata);
    // The multi-line description of the acquisition ("%ALL_METADATA%").
    static CKzStringW GetMetadataDescription(const SKzPictureMetadata& metadata, const SKzExperiment* experiment);
    // The names of the modalities of a mask, "Unknown" for none.
    static CKzStringW GetModalityText(kz_uint64 mask);
    // The acquisition date-time of the metadata (before 1973: now, moved by
    // the frame's time) and its date alone.
    static CKzStringW GetAcquisitionTime(const SKzPictureMetadata& metadata);
    static CKzStringW GetAcquisitionDate(const SKzPictureMetadata& metadata);

    // Repeated symbols never make a translation longer than this many
    // characters (or than its template, when that is longer): the first
    // occurrence of a symbol is always replaced, further ones while the text
    // stays within the bound, the rest removed. A file's template cannot make
    // a text grow without bound.
    static const int kMaxTranslatedLength = 1 << 16;

private:
    __attribute__((visibility("hidden"))) CKzStringW Replacement(const SKzInfoSymbol& row, const CKzStringW& keep, SKzPictureMetadata& metadata,
                           const SKzExperiment* experiment) const;

    unsigned int m_uiSymbolCount;
    SKzImageTextInfo m_Defaults;
    SKzInfoSymbol m_Symbols[eMaxSymbols];
};
