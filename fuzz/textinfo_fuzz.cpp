// Text-information templates and the host-record conversions over hostile
// metadata, experiment and template text, as a file would hand them over.
//
// Input: one flag byte, a 16-bit little-endian length and that many bytes of
// a lite blob holding a picture metadata record, another length and blob
// holding an experiment tree, then the template: each byte below 0x20 stands
// for the info symbol of that row (when there is one), any other byte for
// itself. Translations must stay within their bound, the description must
// not depend on the call, and every conversion must round-trip its counts.
#include "gnr_metaformats/SKzExperiment.h"
#include "gnr_metaformats/SKzPictureMetadata.h"
#include "gnr_system/CKzLiteVariant.h"
#include "w32_qorfilesdk/FileWrapperTextInfo.h"
#include "w32_qorfilesdk/KzQorConversions.h"

#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace {

void check(bool ok)
{
    if (!ok) __builtin_trap();
}

const wchar_t* const kSymbols[] = {
    L"%KEEP_INFO%", L"%OBJECTIVE%",   L"%CALIBRATION%",  L"%UNIT%",     L"%ASPECT%",
    L"%MEAS_FRAME%", L"%USER%",       L"%DATE%",         L"%TIME%",     L"%SAMPLE_NUMBER%",
    L"%ALL_METADATA%", L"%CAMERA%",   L"%CAMERA_SETTINGS%", L"%STAGE_POS_X%", L"%STAGE_POS_Y%",
    L"%STAGE_POS_Z%", L"%EMPTY%",
};

// Takes a length-prefixed blob off the front of the input.
bool take(const uint8_t*& data, size_t& size, const uint8_t*& blob, size_t& length)
{
    if (size < 2) return false;
    length = (size_t)data[0] | ((size_t)data[1] << 8);
    data += 2;
    size -= 2;
    if (length > size) length = size;
    blob = data;
    data += length;
    size -= length;
    return true;
}

void reader(CKzLiteVariantR& r, const uint8_t* data, size_t size)
{
    r.Clear();
    if (size) r.SetData(data, size, CKzByteArray::eModeOpReplace, CKzByteArray::eModeAllocExact);
    r.Reset();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool once = [] {
        setenv("TZ", "UTC0", 1);
        setlocale(LC_ALL, "C");
        return true;
    }();
    (void)once;
    if (size < 1) return 0;
    const unsigned flags = data[0];
    ++data;
    --size;

    const uint8_t* blob = nullptr;
    size_t length = 0;
    SKzPictureMetadata md;
    if (take(data, size, blob, length)) {
        CKzLiteVariantR r;
        reader(r, blob, length);
        SKzPictureMetadata::LoadFromLiteVariant(md, r);
    }
    SKzExperiment* tree = nullptr;
    if ((flags & 1) && take(data, size, blob, length) && SKzExperiment::Alloc(&tree) == KZ_OK && tree) {
        CKzLiteVariantR r;
        reader(r, blob, length);
        SKzExperiment::LoadFromLiteVariant(*tree, r);
    }
    if (flags & 2) md.bCalibrated = !md.bCalibrated;

    CKzStringW text;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] < 0x20) {
            if (data[i] < sizeof kSymbols / sizeof kSymbols[0]) text += kSymbols[data[i]];
        } else {
            text.AddChar((wchar_t)data[i]);
        }
    }

    FileWrapperTextInfo wrapper(md, tree);
    wrapper.RegisterInfoSymbols();
    const CKzStringW description = FileWrapperTextInfo::GetMetadataDescription(md, tree);
    check(description == FileWrapperTextInfo::GetMetadataDescription(md, tree));

    CKzStringW out(L"before %KEEP_INFO%");
    wrapper.TranslateTextInfo(out, text.GetString(), md, tree);
    // Each symbol's pass may add one replacement beyond the bound.
    long long longest = 64;
    for (int n : {description.GetLength(), md.wsObjectiveName.GetLength(),
                  FileWrapperTextInfo::GetCameraNames(md).GetLength(),
                  FileWrapperTextInfo::GetCameraSettings(md).GetLength()})
        longest = n > longest ? n : longest;
    const long long bound = text.GetLength() > FileWrapperTextInfo::kMaxTranslatedLength
                                ? text.GetLength()
                                : FileWrapperTextInfo::kMaxTranslatedLength;
    check(out.GetLength() <= bound + 17 * longest);

    // The open sequence over the template in a few items, then the edit check.
    SKzImageTextInfo info, templates;
    FileWrapperTextInfo::ClearImageTextInfoInit(info);
    info.wsText[flags % 14] = text;
    info.wsText[14] = L"writer";
    FileWrapperTextInfo::ClearImageTextInfoInit(templates);
    templates.wsText[(flags >> 4) % 14] = text;
    wrapper.AddDefaultsToTextInfo(info, info, wrapper.GetDefaults(), (flags & 4) != 0, md, tree);
    check(info.wsText[14] == L"writer");
    wrapper.UpdateImageTextInfo(templates, info, wrapper.GetDefaults(), md, tree);

    // Conversions towards a host and back.
    std::unique_ptr<_QORTEXTINFO> textRecord(new _QORTEXTINFO);
    ConvertGetTextinfo(*textRecord, info);
    std::unique_ptr<_QORMETADATA_DESC> desc(new _QORMETADATA_DESC());
    std::unique_ptr<_QORMETADATA> old(new _QORMETADATA());
    QorApiSupport_MetadataDesc_QorToApi(md, *desc);
    QorApiSupport_Metadata_QorToApi(md, *old);
    check(desc->uiPlaneCount <= QOR_MAX_PLANES && old->uiPlaneCount <= QOR_MAX_PLANES);
    SKzPictureMetadata back;
    if (QorApiSupport_MetadataDesc_ApiToQor(*desc, back) == KZ_OK) check(back.sPicturePlanes.uiCount == desc->uiPlaneCount);
    if (QorApiSupport_Metadata_ApiToQor(*old, back) == KZ_OK) check(back.sPicturePlanes.uiCount == old->uiPlaneCount);
    std::unique_ptr<_QOREXPERIMENT> experiment(new _QOREXPERIMENT());
    if (QorApiSupport_Experiment_QorToApi(tree, *experiment) == KZ_OK && experiment->uiLevelCount > 0) {
        SKzExperiment* rebuilt = nullptr;
        if (QorApiSupport_Experiment_ApiToQor(*experiment, rebuilt) == KZ_OK) {
            std::unique_ptr<_QOREXPERIMENT> again(new _QOREXPERIMENT());
            check(QorApiSupport_Experiment_QorToApi(rebuilt, *again) == KZ_OK);
            check(again->uiLevelCount == experiment->uiLevelCount);
        }
        SKzExperiment::FreeRecursive(rebuilt);
    }
    SKzExperiment::FreeRecursive(tree);
    return 0;
}
