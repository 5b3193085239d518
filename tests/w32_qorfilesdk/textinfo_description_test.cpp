// The metadata description text ("%ALL_METADATA%"): a table of metadata and
// experiment cases with the whole expected text of each.
#include "textinfo_support.h"

#include "gnr_metaformats/meta_test_support.h"

#include <functional>

using namespace textinfo;

namespace {

typedef SKzExperiment E;

TEST(TextInfoModality, NamesAndLineBreaks)
{
    const wchar_t* br = L"\r\n           ";
    struct Case {
        kz_uint64 mask;
        std::wstring text;
    } cases[] = {
        {0x0, L"Unknown"},
        {0x100, L"Unknown"},   // a camera bit alone names no modality
        {0x1, L"Widefield Fluorescence"},
        {0x1 | 0x2, L"Widefield Fluorescence, Brightfield"},
        {0x1 | 0x2 | 0x10 | 0x200,
         std::wstring(L"Widefield Fluorescence, Brightfield, ") + br + L"Phase Contrast, Laser Scan Confocal"},
        {0x10 | 0x20 | 0x200, std::wstring(L"Phase Contrast, DI Contrast, ") + br + L"Laser Scan Confocal"},
        {0x2000 | 0x20000000 | 0x200000, L"Spectral, DSD Confocal, " + std::wstring(br) + L"AUX"},
        {0x1 | 0x2 | 0x10 | 0x20 | 0x200 | 0x400 | 0x800 | 0x1000 | 0x10000 | 0x200000 | 0x400000 | 0x800000 | 0x2000 |
             0x20000000 | 0x4,
         std::wstring(L"Widefield Fluorescence, Brightfield, ") + br + L"Phase Contrast, DI Contrast, " + br +
             L"Laser Scan Confocal, Spinning Disk Confocal, " + br +
             L"Swept Field Confocal(Slit), Swept Field Confocal(Pinholes), " + br +
             L"Multi Photon Fluorescence, Spectral, " + br + L"QIRA IF, QIRA NF, " + br + L"DSD Confocal, AUX"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.text, W(FileWrapperTextInfo::GetModalityText(c.mask))) << c.mask;
}

class TextInfoDescription : public TextInfoTest {};

TEST_F(TextInfoDescription, CasesWithTheirWholeText)
{
    struct Case {
        const char* name;
        std::function<void(SKzPictureMetadata&, Cameras&)> metadata;
        std::function<SKzExperiment*()> experiment;   // null: none
        std::wstring text;
    };
    auto onePlane = [](SKzPictureMetadata& md, unsigned comps, kz_uint64 mask) {
        Planes(md, 1, 1);
        md.sPicturePlanes.pPlanes[0].uiCompCount = comps;
        md.sPicturePlanes.pPlanes[0].uiModalityMask = mask;
        md.sPicturePlanes.pPlanes[0].sDescription = L"DAPI";
        md.sPicturePlanes.uiCompCount = comps;
    };
    auto timeLoop = [](u32 n, double period, double duration) {
        SKzExperiment* t = Level(E::eExpTimeLoop, n);
        t->uLoopPars.sTimeLoop.dPeriod = period;
        t->uLoopPars.sTimeLoop.dDuration = duration;
        return t;
    };
    const std::wstring dapi = L" Name: DAPI\r\n Component Count: 1\r\n Modality: Widefield Fluorescence\r\n";
    std::vector<Case> cases = {
        {"no experiment, one fluorescence plane, no camera",
         [&](SKzPictureMetadata& md, Cameras&) { onePlane(md, 1, 0x1); }, nullptr, L"Camera Name: \r\n" + dapi},
        {"no planes at all", [](SKzPictureMetadata& md, Cameras&) { Planes(md, 0, 0); }, nullptr,
         L"Camera Name: \r\n"},
        {"objective aperture and immersion",
         [&](SKzPictureMetadata& md, Cameras& cams) {
             onePlane(md, 1, 0x1);
             md.dObjectiveNA = 1.4;
             md.dRefractIndex1 = 1.518;
             cams.Give(md.sPicturePlanes.pSamples[0], L"Cam A");
         },
         nullptr, L"Camera Name: Cam A\r\nNumerical Aperture: 1.400\r\nRefractive Index: 1.518\r\n" + dapi},
        {"a colour plane without settings writes no plane lines",
         [&](SKzPictureMetadata& md, Cameras&) { onePlane(md, 3, 0x2); }, nullptr, L"Camera Name: \r\n"},
        {"a colour plane's settings as they stand",
         [&](SKzPictureMetadata& md, Cameras&) {
             onePlane(md, 3, 0x2);
             md.sPicturePlanes.pSamples[0].sSpecSettings = L"Gain 1\nWB auto";
         },
         nullptr, L"Camera Name: \r\n Camera Settings: Gain 1\nWB auto\r\n"},
        {"a time loop of 10 frames by duration",
         [&](SKzPictureMetadata& md, Cameras&) { onePlane(md, 1, 0x1); }, [&] { return timeLoop(10, 0, 5000); },
         L"Dimensions: T(10)\r\n" + dapi + L"Time Loop: 10\r\n- Equidistant (Duration 5.00 s)\r\n"},
        {"time over Z, camera of plane 0",
         [&](SKzPictureMetadata& md, Cameras& cams) {
             onePlane(md, 1, 0x2);
             cams.Give(md.sPicturePlanes.pSamples[0], L"Cam Z");
         },
         [&] {
             SKzExperiment* z = Level(E::eExpZStackLoop, 5);
             z->uLoopPars.sZStackLoop.dZStep = 0.5;
             return Chain({timeLoop(3, 250, 0), z});
         },
         L"Dimensions: T(3) x Z(5)\r\nCamera Name: Cam Z\r\n Name: DAPI\r\n Component Count: 1\r\n Modality: "
         L"Brightfield\r\nTime Loop: 3\r\n- Equidistant (Period 250.0 ms)\r\nZ Stack Loop: 5\r\n- Step 0.5 um\r\n"},
        {"every other loop type, a step from the range",
         [&](SKzPictureMetadata& md, Cameras&) { Planes(md, 0, 0); },
         [&] {
             SKzExperiment* z = Level(E::eExpZStackLoop, 3);
             z->uLoopPars.sZStackLoop.dZStep = 0;
             z->uLoopPars.sZStackLoop.dZLow = -1.5;
             z->uLoopPars.sZStackLoop.dZHigh = 1.5;
             return Chain({Level(E::eExpNETimeLoop, 6), Level(E::eExpManualTimeLoop, 2), Level(E::eExpXYPosLoop, 4),
                           Level(E::eExpXYDiscrLoop, 6), Level(E::eExpPolarLoop, 5), Level(E::eExpCustomLoop, 8),
                           Level(E::eExpNone, 0), z});
         },
         L"Dimensions: T'(7) x T\"(2) x XY(4) x XY'(6) x (5) x C(8) x  x Z(3)\r\nTime Loop: 7\r\n- Nonequidistant\r\n"
         L"Time Loop: 2\r\n- Manual\r\nZ Stack Loop: 3\r\n- Step 1.5 um\r\n"},
        // A level of no known type keeps its place in the dimension line.
        {"a level of no known type alone gives no dimension line",
         [&](SKzPictureMetadata& md, Cameras&) { Planes(md, 0, 0); }, [&] { return Level(E::eExpNone, 0); }, L""},
        {"two levels of no known type: two empty parts",
         [&](SKzPictureMetadata& md, Cameras&) { Planes(md, 0, 0); },
         [&] { return Chain({Level(E::eExpNone, 0), Level(E::eExpNone, 0)}); }, L"Dimensions:  x \r\n"},
        {"an empty part first and last",
         [&](SKzPictureMetadata& md, Cameras&) { Planes(md, 0, 0); },
         [&] { return Chain({Level(E::eExpNone, 0), Level(E::eExpCustomLoop, 3), Level(E::eExpNone, 0)}); },
         L"Dimensions:  x C(3) x \r\n"},
        {"emission from the probe, with its band",
         [&](SKzPictureMetadata& md, Cameras&) {
             onePlane(md, 1, 0x1);
             CKzStringW n(L"FITC");
             CKzOpticalFilterSpectrum exc, em = kzmt::Band(500, 540);
             md.sPicturePlanes.pPlanes[0].pFluorescentProbe = CKzFluorescentProbe(n, 0, exc, em);
         },
         nullptr,
         L"Camera Name: \r\n" + dapi +
             L" Emission Wavelength: 520.0 nm\r\n Emission Wavelength Bandwidth: 40.0 nm\r\n"},
        {"emission from the first emission filter, a single point",
         [&](SKzPictureMetadata& md, Cameras&) {
             onePlane(md, 1, 0x1);
             CKzOpticalFilter f[3] = {kzmt::Filter(1, kzmt::Band(450, 490), CKzOpticalFilterSpectrum()),
                                      kzmt::Filter(2, CKzOpticalFilterSpectrum(), kzmt::Spec({{1, 610.25, 1}})),
                                      kzmt::Filter(2, CKzOpticalFilterSpectrum(), kzmt::Band(700, 720))};
             md.sPicturePlanes.pPlanes[0].pFilterPath = CKzOpticalFilterPath(f, 3);
         },
         nullptr, L"Camera Name: \r\n" + dapi + L" Emission Wavelength: 610.2 nm\r\n"},
        {"no probe emission and no emission filter: no emission lines",
         [&](SKzPictureMetadata& md, Cameras&) {
             onePlane(md, 1, 0x1);
             md.sPicturePlanes.pPlanes[0].pFilterPath =
                 CKzOpticalFilterPath(kzmt::Filter(1, kzmt::Band(450, 490), CKzOpticalFilterSpectrum()));
         },
         nullptr, L"Camera Name: \r\n" + dapi},
        {"emission is reported for fluorescence planes only",
         [&](SKzPictureMetadata& md, Cameras&) {
             onePlane(md, 1, 0x2);
             CKzStringW n(L"FITC");
             CKzOpticalFilterSpectrum exc, em = kzmt::Band(500, 540);
             md.sPicturePlanes.pPlanes[0].pFluorescentProbe = CKzFluorescentProbe(n, 0, exc, em);
         },
         nullptr, L"Camera Name: \r\n Name: DAPI\r\n Component Count: 1\r\n Modality: Brightfield\r\n"},
        {"two planes of merged cameras over a spectral loop",
         [&](SKzPictureMetadata& md, Cameras& cams) {
             Planes(md, 2, 2);
             SKzPicturePlanes& ps = md.sPicturePlanes;
             ps.pPlanes[0].sDescription = L"GFP";
             ps.pPlanes[0].uiModalityMask = 0x200;
             ps.pPlanes[1].sDescription = L"RFP";
             ps.pPlanes[1].uiModalityMask = 0x400;
             cams.Give(ps.pSamples[0], L"Left");
             cams.Give(ps.pSamples[1], L"Right");
             ps.pSamples[1].sSpecSettings = L"Gain 2\nOffset 10\n";
         },
         [&] {
             SKzExperiment* s = Level(E::eExpSpectLoop, 2);
             s->uLoopPars.sSpectLoop.bMergeCameras = true;
             s->uLoopPars.sSpectLoop.pPlanes->pPlanes[0].sDescription = L"c1";
             s->uLoopPars.sSpectLoop.pPlanes->pPlanes[1].sDescription = L"c2";
             return s;
         },
         L"Dimensions: \u03BB(2)\r\nCamera Name: Left + Right\r\nNumber of Picture Planes: 2\r\n"
         L"Plane #1:\r\nCamera: Left\r\n Name: GFP\r\n Component Count: 1\r\n Modality: Laser Scan Confocal\r\n"
         L"Plane #2:\r\nCamera: Right\r\n Name: RFP\r\n Component Count: 1\r\n Modality: Spinning Disk Confocal\r\n"
         L" Camera Settings:   Gain 2\n  Offset 10\n\r\n"},
        {"not merged: the camera of plane 0 only, none when it has no name",
         [&](SKzPictureMetadata& md, Cameras& cams) {
             Planes(md, 2, 2);
             md.sPicturePlanes.pPlanes[0].uiModalityMask = 0;
             md.sPicturePlanes.pPlanes[1].uiModalityMask = 0;
             cams.Give(md.sPicturePlanes.pSamples[1], L"Right");
         },
         [&] {
             SKzExperiment* s = Level(E::eExpSpectLoop, 2);
             s->uLoopPars.sSpectLoop.pPlanes->pPlanes[0].sDescription = L"c1";
             s->uLoopPars.sSpectLoop.pPlanes->pPlanes[1].sDescription = L"c2";
             return s;
         },
         L"Dimensions: \u03BB(2)\r\nNumber of Picture Planes: 2\r\nPlane #1:\r\n Name: \r\n Component Count: 1\r\n"
         L" Modality: Unknown\r\nPlane #2:\r\n Name: \r\n Component Count: 1\r\n Modality: Unknown\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_cameras.Detach();
        SKzPictureMetadata md;
        md.dObjectiveNA = 0;
        md.dRefractIndex1 = 0;
        c.metadata(md, m_cameras);
        Tree tree(c.experiment ? c.experiment() : nullptr);
        EXPECT_EQ(c.text, W(FileWrapperTextInfo::GetMetadataDescription(md, tree.get())));
        // The symbol gives the same text.
        FileWrapperTextInfo wrapper(md, tree.get());
        wrapper.RegisterInfoSymbols();
        CKzStringW out;
        wrapper.TranslateTextInfo(out, L"%ALL_METADATA%", md, tree.get());
        EXPECT_EQ(c.text, W(out));
        m_cameras.Detach();
    }
}

TEST_F(TextInfoDescription, SpectralDimensionCountsTheUnionOfChannels)
{
    // Two stage positions each with its own channel set: {c1, c2} and {c2, c3}.
    auto spect = [](std::vector<const wchar_t*> names) {
        SKzExperiment* s = Level(E::eExpSpectLoop, (u32)names.size());
        for (size_t i = 0; i < names.size(); ++i) {
            s->uLoopPars.sSpectLoop.pPlanes->pPlanes[i].sDescription = names[i];
            s->uLoopPars.sSpectLoop.pPlanes->pPlanes[i].uiColor = (u32)(0x10 * (i + 1));
        }
        return s;
    };
    SKzExperiment* xy = Level(E::eExpXYPosLoop, 2, 2);
    SKzExperiment* a = spect({L"c1", L"c2"});
    SKzExperiment* b = spect({L"c2", L"c3"});
    b->uLoopPars.sSpectLoop.pPlanes->pPlanes[0].uiColor = 0x10;   // c2 as in a's set
    b->uLoopPars.sSpectLoop.pPlanes->pPlanes[1].uiColor = 0x30;
    a->uLoopPars.sSpectLoop.pPlanes->pPlanes[1].uiColor = 0x10;
    xy->ppNextLevelEx[0] = a;
    xy->ppNextLevelEx[1] = b;
    Tree tree(xy);
    SKzPictureMetadata md;
    Planes(md, 0, 0);
    md.dObjectiveNA = 0;
    md.dRefractIndex1 = 0;
    const std::wstring text = W(FileWrapperTextInfo::GetMetadataDescription(md, tree.get()));
    EXPECT_EQ(0u, text.find(L"Dimensions: XY(2) x \u03BB(3)\r\n")) << std::string(text.begin(), text.end());
}

} // namespace
