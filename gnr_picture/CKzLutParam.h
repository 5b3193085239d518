// LUT parameter classes: the display contrast a host edits and stores, for
// multichannel (CKzLutParamMCH), true-colour (CKzLutParamRGB) and spectral
// pictures (true colour, custom colours, grouped). Ranges are in sample
// units of one bit depth (8 to 31 bits); offsets in sample units, gains as
// factors. Each class persists as one lite-variant level named after it.
//
// Results are 0, or -9 for a refused argument (also for memory that cannot be
// allocated); getters answer out-of-range indices with neutral values.
// Channel and component counts are at most kMaxCounts.
#pragma once

#include "gnr_system/kz_base.h"

class CKzLiteVariantW;
class CKzLiteVariantR;
namespace kzlutparam {
struct Parts;
}

class KZ_EXPORT CKzLutParamMCH {
public:
    static constexpr unsigned kMaxCounts = 192;

    // How a single-channel picture shows values outside [minimum, maximum]:
    // clamped to the curve's ends, both at the lowest output, or (with a
    // gradient) the palette spread over the window only.
    enum EKzLutOutside : i32 {
        eLutOutsideClamp = 0,
        eLutOutsideLow = 1,
        eLutOutsideGradientWindow = 2,
    };

    CKzLutParamMCH();
    CKzLutParamMCH(unsigned channels, unsigned comps, unsigned* compSizes, unsigned bits);
    CKzLutParamMCH(const CKzLutParamMCH& other);
    CKzLutParamMCH& operator=(const CKzLutParamMCH& other);
    ~CKzLutParamMCH();

    void Init();
    void Free();
    // New shape and depth; the ranges of the channels that remain are
    // rescaled to the new depth, new channels get the full range. -9 (and
    // nothing changed) for bits below 8 or above 31, counts above kMaxCounts,
    // or given per-channel counts whose sum differs from a non-zero comps.
    int Reinit(unsigned channels, unsigned comps, unsigned* compSizes, unsigned bits);
    bool CompareWith(const CKzLutParamMCH& other) const;

    unsigned GetChannelCount() const { return m_uiChannelCount; }
    unsigned GetComponentCount() const { return m_uiCompCount; }
    unsigned GetBpc() const { return m_uiBpc; }
    int GetGradient() const { return m_iGradient; }
    EKzLutOutside GetOutside() const { return m_eOutside; }
    // The object's own per-channel count array (null when none).
    int GetComponentSizes(unsigned** out) const;

    unsigned GetMin(unsigned ch) const;
    unsigned GetMax(unsigned ch) const;
    double GetGamma(unsigned ch) const;
    int SetMin(unsigned ch, unsigned value);
    int SetMax(unsigned ch, unsigned value);
    int SetGamma(unsigned ch, double gamma);
    int SetGradient(int gradient);
    int SetOutside(EKzLutOutside outside);

    bool IsUnit() const;
    void SetUnit();
    int SaveToLiteVariant(CKzLiteVariantW& w) const;
    int LoadFromLiteVariant(CKzLiteVariantR& r);

private:
    unsigned m_uiBpc;
    unsigned m_uiChannelCount;
    unsigned m_uiCompCount;
    unsigned* m_puiComp;
    unsigned* m_puiMin;
    unsigned* m_puiMax;
    double* m_pdGamma;
    EKzLutOutside m_eOutside;
    int m_iGradient;
};

class KZ_EXPORT CKzLutParamRGB {
public:
    CKzLutParamRGB();
    explicit CKzLutParamRGB(unsigned bits);

    void Init();
    void Free();
    // On an empty object the channels first get the full range of bits (even
    // when bits are then refused); -9 for bits below 8 or above 31.
    int Reinit(unsigned bits);
    bool CompareWith(const CKzLutParamRGB& other) const;

    unsigned GetBpc() const { return m_uiBpc; }
    unsigned GetMin(unsigned i) const;
    unsigned GetMax(unsigned i) const;
    unsigned GetMaxDst(unsigned i) const;
    // The destination maximum rescaled to another depth.
    unsigned GetMaxDst(unsigned i, unsigned bits) const;
    double GetGamma(unsigned i) const;
    int SetMin(unsigned i, unsigned v);
    int SetMax(unsigned i, unsigned v);
    int SetMaxDst(unsigned i, unsigned v);
    int SetGamma(unsigned i, double g);

    bool IsUnit() const;
    void SetUnit();
    int SaveToLiteVariant(CKzLiteVariantW& w) const;
    int LoadFromLiteVariant(CKzLiteVariantR& r);

private:
    unsigned m_uiBpc;
    unsigned m_uiMin[3];
    unsigned m_uiMax[3];
    unsigned m_uiMaxDst[3];
    double m_dGamma[3];
};

// Spectral pictures: K channels, of which the first S are spectral; their
// components render together, each of the other K - S channels has its own
// offset/gain slot after the spectral slots.
class KZ_EXPORT CKzLutParamSpectralTrueColor {
public:
    CKzLutParamSpectralTrueColor();
    CKzLutParamSpectralTrueColor(unsigned spectral, unsigned channels, unsigned comps, unsigned* compSizes,
                                 unsigned bits);
    CKzLutParamSpectralTrueColor(const CKzLutParamSpectralTrueColor& other);
    CKzLutParamSpectralTrueColor& operator=(const CKzLutParamSpectralTrueColor& other);
    ~CKzLutParamSpectralTrueColor();

    void Init();
    void Free();
    int Reinit(unsigned spectral, unsigned channels, unsigned comps, unsigned* compSizes, unsigned bits);

    unsigned GetChannelCount() const { return m_uiChannelCount; }
    unsigned GetSpectralChannelCount() const { return m_uiSpectralChannelCount; }
    unsigned GetComponentCount() const { return m_uiCompCount; }
    unsigned GetBpc() const { return m_uiBpc; }
    double GetGamma() const { return m_dGamma; }
    int GetComponentSizes(unsigned** out) const;
    unsigned GetSpectralComponentCount() const;
    // Slots: 0 for the spectral set, then one per ordinary channel.
    unsigned GetSlotCount() const;
    double GetOffset(unsigned i) const;
    double GetGain(unsigned i) const;
    int SetOffset(unsigned i, double v);
    int SetGain(unsigned i, double v);
    int SetGamma(double g);
    int GetGradient() const { return m_iGradient; }
    int SetGradient(int gradient);

    bool CompareWith(const CKzLutParamSpectralTrueColor& other) const;
    bool IsUnit() const;
    void SetUnit();
    int SaveToLiteVariant(CKzLiteVariantW& w) const;
    int LoadFromLiteVariant(CKzLiteVariantR& r);

private:
    // A view of the members for the code the three classes share.
    __attribute__((visibility("hidden"))) kzlutparam::Parts parts() const;

    unsigned m_uiBpc;
    unsigned m_uiSpectralChannelCount;
    unsigned m_uiChannelCount;
    unsigned m_uiCompCount;
    unsigned* m_puiComp;
    double* m_pdOffset;
    double* m_pdGain;
    double m_dGamma;
    int m_iGradient;
};

class KZ_EXPORT CKzLutParamSpectralCustomColor {
public:
    CKzLutParamSpectralCustomColor();
    CKzLutParamSpectralCustomColor(unsigned nodes, unsigned spectral, unsigned channels, unsigned comps,
                                   unsigned* compSizes, unsigned bits);
    CKzLutParamSpectralCustomColor(const CKzLutParamSpectralCustomColor& other);
    CKzLutParamSpectralCustomColor& operator=(const CKzLutParamSpectralCustomColor& other);
    ~CKzLutParamSpectralCustomColor();

    void Init();
    void Free();
    int Reinit(unsigned nodes, unsigned spectral, unsigned channels, unsigned comps, unsigned* compSizes,
               unsigned bits);

    unsigned GetChannelCount() const { return m_uiChannelCount; }
    unsigned GetSpectralChannelCount() const { return m_uiSpectralChannelCount; }
    unsigned GetComponentCount() const { return m_uiCompCount; }
    unsigned GetBpc() const { return m_uiBpc; }
    double GetGamma() const { return m_dGamma; }
    unsigned GetNodeCount() const { return m_uiNodeCount; }
    int GetComponentSizes(unsigned** out) const;
    unsigned GetSpectralComponentCount() const;
    // Slots: one per node, then one per ordinary channel.
    unsigned GetSlotCount() const;
    double GetOffset(unsigned i) const;
    double GetGain(unsigned i) const;
    int SetOffset(unsigned i, double v);
    int SetGain(unsigned i, double v);
    int SetGamma(double g);
    unsigned GetColor(unsigned i) const;
    void SetColor(unsigned i, unsigned c);
    // One colour per component (out holds the component count): node
    // colours interpolated over the spectral components, white for the
    // others. -9 for a null output.
    int GetCompColors(unsigned* out) const;

    bool CompareWith(const CKzLutParamSpectralCustomColor& other) const;
    bool IsUnit() const;
    void SetUnit();
    int SaveToLiteVariant(CKzLiteVariantW& w) const;
    int LoadFromLiteVariant(CKzLiteVariantR& r);

private:
    // A view of the members for the code the three classes share.
    __attribute__((visibility("hidden"))) kzlutparam::Parts parts() const;

    unsigned m_uiBpc;
    unsigned m_uiNodeCount;
    unsigned m_uiSpectralChannelCount;
    unsigned m_uiChannelCount;
    unsigned m_uiCompCount;
    unsigned* m_puiComp;
    double* m_pdOffset;
    double* m_pdGain;
    unsigned* m_puiColor;
    double m_dGamma;
};

class KZ_EXPORT CKzLutParamSpectralGrouped {
public:
    CKzLutParamSpectralGrouped();
    CKzLutParamSpectralGrouped(unsigned groups, unsigned* groupSizes, unsigned spectral, unsigned channels,
                               unsigned comps, unsigned* compSizes, unsigned bits);
    CKzLutParamSpectralGrouped(const CKzLutParamSpectralGrouped& other);
    CKzLutParamSpectralGrouped& operator=(const CKzLutParamSpectralGrouped& other);
    ~CKzLutParamSpectralGrouped();

    void Init();
    void Free();
    // Group sizes (each at least 1, together at most the spectral
    // components) are required whenever the arrays are made anew, and taken
    // whenever given.
    int Reinit(unsigned groups, unsigned* groupSizes, unsigned spectral, unsigned channels, unsigned comps,
               unsigned* compSizes, unsigned bits);

    unsigned GetChannelCount() const { return m_uiChannelCount; }
    unsigned GetSpectralChannelCount() const { return m_uiSpectralChannelCount; }
    unsigned GetComponentCount() const { return m_uiCompCount; }
    unsigned GetBpc() const { return m_uiBpc; }
    double GetGamma() const { return m_dGamma; }
    unsigned GetGroupCount() const { return m_uiGroupCount; }
    int GetComponentSizes(unsigned** out) const;
    int GetGroupSizes(unsigned** out) const;
    unsigned GetSpectralComponentCount() const;
    // Slots: one per group, then one per ordinary channel.
    unsigned GetSlotCount() const;
    double GetOffset(unsigned i) const;
    double GetGain(unsigned i) const;
    int SetOffset(unsigned i, double v);
    int SetGain(unsigned i, double v);
    int SetGamma(double g);
    // The colour without its flag byte; SetColor keeps all 32 bits.
    unsigned GetColor(unsigned i) const;
    void SetColor(unsigned i, unsigned c);

    bool CompareWith(const CKzLutParamSpectralGrouped& other) const;
    bool IsUnit() const;
    void SetUnit();
    int SaveToLiteVariant(CKzLiteVariantW& w) const;
    int LoadFromLiteVariant(CKzLiteVariantR& r);

private:
    // A view of the members for the code the three classes share.
    __attribute__((visibility("hidden"))) kzlutparam::Parts parts() const;

    unsigned m_uiBpc;
    unsigned m_uiGroupCount;
    unsigned m_uiSpectralChannelCount;
    unsigned m_uiChannelCount;
    unsigned m_uiCompCount;
    unsigned* m_puiComp;
    unsigned* m_puiGroupSize;
    double* m_pdOffset;
    double* m_pdGain;
    unsigned* m_puiColor;
    double m_dGamma;
};
