// LUT parameters of the older generation: the display setting of a picture
// (source and destination ranges as 16-bit fractions of full scale, gamma,
// per-component refinements, palette, exposure marking) and the spectral
// colour data that decides one colour, offset and gain per channel of a
// spectral picture. Persisted in the variant form; the newer parameter
// classes (CKzLutParam.h) are converted from it.
//
// Component indices are below kMaxComponents; at or past it getters answer
// with the values of a default component and setters do nothing.
#pragma once

#include "gnr_system/kz_base.h"

#include <cstddef>

// Helpers of the exported classes stay out of the dynamic symbol table.
#define KZ_LP_HIDDEN __attribute__((visibility("hidden")))

class CKzRangeMask;
class CKzVariant;

// Refinement of one component, relative to the global range: fraction 0 is
// the global minimum, 65535 the global maximum.
struct KZ_EXPORT SKzCompLutParam {
    u16 uiMinSrc;
    u16 uiMaxSrc;
    double dGammaSrc;
    u16 uiMinDst;
    u16 uiMaxDst;
    u32 uiGroup;  // spectral group of the component
    float fMinSrc;
    float fMaxSrc;

    SKzCompLutParam();
};

// Ratio display of two channels.
struct KZ_EXPORT SKzRatioDesc {
    u8 uiNumer;
    u8 uiDenom;
    u16 uiNumOffset;
    u16 uiDenOffset;
    double dMin;
    double dMax;

    SKzRatioDesc();
};

struct KZ_EXPORT SKzLutParam {
    static constexpr unsigned kMaxComponents = 192;

    // Colours, offsets and gains of the channels of a spectral picture.
    // Colour modes: 0 true colour, 1 custom colours (nodes spread over the
    // channels), 2 grouped, 3 grey scale. A colour whose top byte is not 0
    // marks a disabled group. Colours are 0x00BBGGRR.
    struct KZ_EXPORT SKzLUTDataSpectral {
        double* pdOffset[4];  // by mode; modes 0 and 3 one value, 1 and 2 one per group
        double* pdGain[4];
        u32* puiColorCustom;  // one per group (node)
        u32* puiColorGroup;   // one per group
        u32 uiLength;         // entries of the per-group arrays
        u32 uiGroupCount;
        SKzLutParam* pOwner;  // whose sCompLutParam[].uiGroup says each channel's group
        u32 uiCompCount;      // channels, at most kMaxComponents
        u32 uiSpectralColorMode;

        explicit SKzLUTDataSpectral(SKzLutParam* owner = nullptr);
        // A copy has no owner: it sees no channel groups.
        SKzLUTDataSpectral(const SKzLUTDataSpectral& other);
        ~SKzLUTDataSpectral();
        // Copies counts, mode and values; the owner stays.
        SKzLUTDataSpectral& operator=(const SKzLUTDataSpectral& other);

        u32 GetMode() const { return uiSpectralColorMode; }
        // Per-group arrays of count entries (at most kMaxComponents), keeping
        // the first entries; new entries offset 0, gain 1, colour blue; the
        // first three colours of new arrays blue, green, red. 0; -3 when
        // memory runs out (the old arrays stay).
        int Realloc(u32 count);
        // The group count, after regrouping the channels evenly over
        // min(channels, 3) groups when regroup is set and the channels'
        // groups form another number of runs. lastIndices (kMaxComponents
        // entries) receives the last channel of every run.
        u32 GetAllGroupCount(u32* lastIndices, bool regroup);
        // Groups whose colour is enabled / channels of enabled groups.
        void GetEnabledGroupMask(CKzRangeMask& mask);
        u32 GetSpectralGroupCount();
        void GetComponentEnabledGroupMask(CKzRangeMask& mask);
        void EnableGroup(u32 i, bool enable);
        bool IsGroupEnabled(u32 i);
        // Group i's value in modes 1 and 2, the single value in modes 0 and 3;
        // indices at or past the group count are ignored (getters -1).
        void SetOffset(u32 i, double x);
        void SetGain(u32 i, double x);
        double GetOffset(u32 i);
        double GetGain(u32 i);
        void SetColor(u32 i, u32 colour);
        void Reset(u32 i);
        void Reset();
        // Linear spread of count node values over the channels at the
        // increasing positions (out holds positions[count - 1] + 1 values).
        static void InterpolateVals(const double* nodes, double* out, u32 count, const u32* positions);
        // One offset and one gain per channel (uiCompCount entries each; a
        // null array is skipped).
        void GetCompOffsetAndGains(double* offsets, double* gains);
        // One colour per channel (uiCompCount entries). keepFlag keeps the
        // top bytes; dimDisabled dims the colours of disabled groups.
        void GetCompColors(u32* colours, bool keepFlag, bool dimDisabled);
        u32 GetCompColor(u32 i, bool keepFlag);
        bool IsAbleToInsertGroup(u32 position);
        bool IsAbleToRemoveGroup(u32 i);
        // 0, or -9 when there is one group or fewer or i is not a group.
        int RemoveGroup(u32 i, u32* newCount);

    private:
        KZ_LP_HIDDEN void release();
        // Synchronises the per-group arrays with the group count; returns the
        // usable group count.
        KZ_LP_HIDDEN u32 sync();
        // Last channel of each of the groups the channels are split into;
        // returns how many groups hold channels.
        KZ_LP_HIDDEN u32 groupEnds(u32* ends);
        KZ_LP_HIDDEN void spreadEvenly(u32 groups, u32* lastIndices);
    };

    u32 uiGradient;
    u32 uiOutside;
    SKzLUTDataSpectral sLutDataSpectral;
    u16 uiMinSrc;
    u16 uiMaxSrc;
    double dGammaSrc;
    u16 uiMinDst;
    u16 uiMaxDst;
    bool bFloatSrc;
    float fMinSrc;
    float fMaxSrc;
    SKzCompLutParam sCompLutParam[kMaxComponents];
    bool bColorOverExp;
    u32 uiOverExpColor;
    bool bColorUnderExp;
    u32 uiUnderExpColor;
    u32 uiColorSpace;
    u32 uiRepresentation;
    u32 uiLutComponentCount;

    SKzLutParam();
    SKzLutParam(const SKzLutParam& other);
    SKzLutParam& operator=(const SKzLutParam& other);

    int CompatibleCopy(const SKzLutParam& other);
    void PartialCopyIndependendOnEnable(const SKzLutParam& other);
    void Init(u32 colourSpace, u32 representation, u32 lutComps, u32 comps);

    // Global ranges (fractions x / 65535; the float members in float mode).
    double GetMinSrcDbl() const;
    double GetMaxSrcDbl() const;
    u32 GetMinSrc(u32 bits) const;
    u32 GetMaxSrc(u32 bits) const;
    void SetMinSrcDbl(double x);
    void SetMaxSrcDbl(double x);
    double GetGammaSrc() const { return dGammaSrc; }
    void SetGammaSrc(double x) { dGammaSrc = x; }
    double GetMinDstDbl() const;
    double GetMaxDstDbl() const;
    u32 GetMinDst(u32 bits) const;
    u32 GetMaxDst(u32 bits) const;
    void SetMinDstDbl(double x);
    void SetMaxDstDbl(double x);

    // A component's own values.
    double GetCompMinSrcDbl(u32 i) const;
    double GetCompMaxSrcDbl(u32 i) const;
    u32 GetCompMinSrc(u32 i, u32 bits) const;
    u32 GetCompMaxSrc(u32 i, u32 bits) const;
    void SetCompMinSrcDbl(u32 i, double x);
    void SetCompMaxSrcDbl(u32 i, double x);
    double GetCompGammaSrc(u32 i) const;
    void SetCompGammaSrc(u32 i, double x);
    double GetCompMinDstDbl(u32 i) const;
    double GetCompMaxDstDbl(u32 i) const;
    u32 GetCompMinDst(u32 i, u32 bits) const;
    u32 GetCompMaxDst(u32 i, u32 bits) const;
    void SetCompMinDstDbl(u32 i, double x);
    void SetCompMaxDstDbl(u32 i, double x);

    // Effective values of component i: its fractions within the global range.
    double GetMinSrcDbl(u32 i) const;
    double GetMaxSrcDbl(u32 i) const;
    u32 GetMinSrc(u32 i, u32 bits) const;
    u32 GetMaxSrc(u32 i, u32 bits) const;
    float GetMinSrcFlt(u32 i, u32 bits) const;
    float GetMaxSrcFlt(u32 i, u32 bits) const;
    double GetGammaSrc(u32 i) const;
    double GetMinDstDbl(u32 i) const;
    double GetMaxDstDbl(u32 i) const;
    u32 GetMinDst(u32 i, u32 bits) const;
    u32 GetMaxDst(u32 i, u32 bits) const;

    bool IsUnit() const;
    void SetUnit();
    void GlobalParamToComponent();
    bool CompareWith(SKzLutParam& other);
    // True in grouped mode when the run of selected components from the
    // mask's first lies within one group; *first receives that component.
    bool IsGroupMask(const CKzRangeMask& mask, u32* first);

    static int SaveToVariant(CKzVariant& v, const SKzLutParam& p);
    static int LoadFromVariant(SKzLutParam& p, const CKzVariant& v);
    static int SaveToVariant(CKzVariant& v, const SKzRatioDesc& d);
    static int LoadFromVariant(SKzRatioDesc& d, const CKzVariant& v);

private:
    KZ_LP_HIDDEN const SKzCompLutParam& comp(u32 i) const;
};

static_assert(sizeof(SKzCompLutParam) == 32 && offsetof(SKzCompLutParam, dGammaSrc) == 8 &&
                  offsetof(SKzCompLutParam, uiMinDst) == 16 && offsetof(SKzCompLutParam, uiGroup) == 20 &&
                  offsetof(SKzCompLutParam, fMinSrc) == 24 && offsetof(SKzCompLutParam, fMaxSrc) == 28,
              "SKzCompLutParam layout");
static_assert(sizeof(SKzRatioDesc) == 24 && offsetof(SKzRatioDesc, uiNumOffset) == 2 &&
                  offsetof(SKzRatioDesc, uiDenOffset) == 4 && offsetof(SKzRatioDesc, dMin) == 8 &&
                  offsetof(SKzRatioDesc, dMax) == 16,
              "SKzRatioDesc layout");
static_assert(sizeof(SKzLutParam::SKzLUTDataSpectral) == 104 &&
                  offsetof(SKzLutParam::SKzLUTDataSpectral, uiLength) == 80 &&
                  offsetof(SKzLutParam::SKzLUTDataSpectral, pOwner) == 88 &&
                  offsetof(SKzLutParam::SKzLUTDataSpectral, uiSpectralColorMode) == 100,
              "SKzLUTDataSpectral layout");
static_assert(sizeof(SKzLutParam) == 6320 && offsetof(SKzLutParam, sLutDataSpectral) == 8 &&
                  offsetof(SKzLutParam, uiMinSrc) == 112 && offsetof(SKzLutParam, dGammaSrc) == 120 &&
                  offsetof(SKzLutParam, uiMinDst) == 128 && offsetof(SKzLutParam, bFloatSrc) == 132 &&
                  offsetof(SKzLutParam, fMinSrc) == 136 && offsetof(SKzLutParam, sCompLutParam) == 144 &&
                  offsetof(SKzLutParam, bColorOverExp) == 6288 && offsetof(SKzLutParam, uiOverExpColor) == 6292 &&
                  offsetof(SKzLutParam, uiUnderExpColor) == 6300 && offsetof(SKzLutParam, uiColorSpace) == 6304 &&
                  offsetof(SKzLutParam, uiLutComponentCount) == 6312,
              "SKzLutParam layout");
