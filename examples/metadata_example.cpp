// A small host of libvt5: describes a two-channel frame (a fluorescence
// channel with its dye and filters, a transmitted-light channel), stores the
// record's lite form as the frame-0 metadata chunk of a new container, reads
// the chunk back and prints what it holds.
// Usage: metadata_example [path]   (default: a file in the system's temporary folder)
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <string>

#include "gnr_metaformats/SKzPictureMetadata.h"
#include "gnr_system/CKzByteArray.h"
#include "gnr_system/CKzLiteVariant.h"
#include "vt5file/CKzFileChunker.h"

int main(int argc, char** argv)
{
    std::setlocale(LC_ALL, "C");
    const std::string path = argc > 1 ? argv[1] : "/tmp/metadata_example_" + std::to_string(getpid()) + ".vt5";
    const std::wstring wpath(path.begin(), path.end());

    SKzPictureMetadata md;
    md.SetToDefault();
    SKzPictureMetadata::SetCalibration(md, 6.45, 1.0, L"Plan Apo 20x", 1.0, 1.0, 1.0, 1.0);
    md.dXPos = 1250.0;
    md.dYPos = -310.5;
    SKzPicturePlanes& set = md.sPicturePlanes;
    if (SKzPicturePlanes::Alloc(set, 2, 2) != 0) return 1;
    set.uiCompCount = 2;
    set.pPlanes[0].sDescription = L"GFP";
    CKzStringW dye(L"EGFP");
    set.pPlanes[0].pFluorescentProbe = CKzFluorescentProbe(dye, 488, 507);
    set.pPlanes[0].uiColor = set.pPlanes[0].pFluorescentProbe.m_uiColor;
    CKzOpticalFilterSpectrum none, excitation(470, SKzOFSpectrumPoint::eOFPointBandStart),
        emission(500, SKzOFSpectrumPoint::eOFPointBandStart);
    SKzOFSpectrumPoint exEnd = {SKzOFSpectrumPoint::eOFPointBandEnd, 490, 1}, emEnd = {SKzOFSpectrumPoint::eOFPointBandEnd, 550, 1};
    excitation.AddPoint(exEnd);
    emission.AddPoint(emEnd);
    CKzStringW exName(L"Ex 480/20"), emName(L"Em 525/50");
    CKzOpticalFilter ex(exName, CKzOpticalFilter::eOFPlacementExcitation, CKzOpticalFilter::eOFNatureUnknown,
                        CKzOpticalFilter::eOFSpctTypeDefault, 0, excitation, none, none);
    CKzOpticalFilter em(emName, CKzOpticalFilter::eOFPlacementEmission, CKzOpticalFilter::eOFNatureUnknown,
                        CKzOpticalFilter::eOFSpctTypeDefault, 0, none, emission, none);
    set.pPlanes[0].pFilterPath = CKzOpticalFilterPath(ex, em);
    set.pPlanes[1].sDescription = L"DIC";
    set.pPlanes[1].uiModalityMask = MODALITY_BRIGHTFIELD | MODALITY_DIC | MODALITY_CAMERA;
    set.pPlanes[1].uiSampleIndex = 1;
    SKzSampleSetting::SetOCName(set.pSamples[0], 1, CKzStringW(L"GFP cube"));
    set.pSamples[0].dExposureTime = 120;
    SKzSampleSetting::SetOCName(set.pSamples[1], 1, CKzStringW(L"Transmitted"));
    set.pSamples[1].dExposureTime = 8;

    // Store the lite form as a chunk of a new container.
    CKzLiteVariantW writer;
    SKzPictureMetadata::SaveToLiteVariant(writer, md);
    CKzLiteVariantR blob;
    if (!writer.Finalize(blob)) return 1;
    {
        CKzFileChunker file;
        CKzStringA version("Ver3.0");
        if (file.Initialize_File(wpath.c_str(), false, false, version) != 0 ||
            file.SetChunk(blob.GetData(), static_cast<unsigned>(blob.GetSize()), "ImageMetadataSeqLV|0!") != 0 ||
            file.Finalize() != 0) {
            std::printf("cannot write %s\n", path.c_str());
            return 1;
        }
    }

    // Read it back.
    CKzFileChunker file;
    CKzStringA version;
    CKzByteArray bytes;
    if (file.Initialize_File(wpath.c_str(), true, true, version) != 0 ||
        file.GetChunk(bytes, "ImageMetadataSeqLV|0!") != 0) {
        std::printf("cannot read %s\n", path.c_str());
        return 1;
    }
    CKzLiteVariantR reader;
    reader.SetData(bytes.GetData(), bytes.GetSize(), CKzByteArray::eModeOpReplace, CKzByteArray::eModeAllocExact);
    reader.Reset();
    SKzPictureMetadata back;
    SKzPictureMetadata::LoadFromLiteVariant(back, reader);
    std::printf("metadata chunk: %lu bytes; stage %.1f, %.1f; %.3f per pixel with %ls\n",
                static_cast<unsigned long>(bytes.GetSize()), back.dXPos, back.dYPos, back.dCalibration,
                back.wsObjectiveName.GetString());
    const SKzPicturePlanes& planes = back.sPicturePlanes;
    for (unsigned i = 0; i < planes.uiCount; ++i) {
        SKzPicturePlaneDesc& p = planes.pPlanes[i];
        CKzStringW band;
        p.pFilterPath.GetEmissionWavelengthDescription(band);
        const SKzSampleSetting* s = planes.GetPlaneSettings(i);
        std::printf("channel %u \"%ls\": %ls; dye \"%ls\" %.0f nm; emission %ls; %ls, %.0f ms\n", i,
                    p.sDescription.GetString(), p.PlaneModalityHumanReadableShort(0).GetString(),
                    p.pFluorescentProbe.m_sName.GetString(), p.pFluorescentProbe.GetEmissionWavelength(),
                    band.IsEmpty() ? L"-" : band.GetString(), SKzPicturePlanes::GetPlaneOCName(planes, i, 0).GetString(),
                    s ? s->dExposureTime : 0.0);
    }
    if (argc <= 1) unlink(path.c_str());
    return planes.uiCount == 2 && planes.uiSampleCount == 2 ? 0 : 1;
}
