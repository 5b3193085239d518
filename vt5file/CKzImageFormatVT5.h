// The VT5 image format: opens a path as a reader or a writer of the file's
// version (2, or 3 for new files and every other version but 1).
#pragma once

#include "vt5file/IKzImageFile.h"

class KZ_EXPORT CKzImageFormatVT5 : public IKzImageFormat {
public:
    CKzImageFormatVT5();
    ~CKzImageFormatVT5() override;

    int GetID(CKzStringA& id) override;
    int GetTextDescription(CKzStringW& text) override;
    int GetExtensions(CKzStringW& list) override;
    int IsFeatureSupported(_EKzImageFormatFeature feature) override;
    int IsDataFormatSupported(u32 width, u32 height, u8 bits, u32 components) override;
    int AdjustDataFormat(u32& width, u32& height, u8& bits, u32& components) override;
    int IsFormatSupported(SKzImageAttributes& attributes) override;
    int AdjustFormat(SKzImageAttributes& attributes) override;
    int CreateOutputImageFile(CKzStringW path, IKzOutputImageFile*& writer) override;
    int CreateInputImageFile(CKzStringW path, IKzInputImageFile*& reader) override;

    // The attributes last given to AdjustFormat (zero before).
    const SKzImageAttributes& GetStoredAttributes() const { return m_Attributes; }

    // The process-wide format object that readers and writers point to.
    static CKzImageFormatVT5* GetProcessFormat();

    // Version number of a version text: -1 unless it begins with "Ver" and is
    // longer than 3 characters; else the decimal number from the fourth
    // character on (0 without digits, saturating at INT_MAX).
    static int ParseVersion(const char* text);

private:
    SKzImageAttributes m_Attributes;
};
