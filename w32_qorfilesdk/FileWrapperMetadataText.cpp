// The texts of the metadata symbols: camera names and settings, the modality
// names of a plane and the multi-line description of an acquisition.
#include "w32_qorfilesdk/FileWrapperTextInfo.h"

#include "gnr_metaformats/CKzExperimentAPI.h"
#include "gnr_metaformats/SKzExperiment.h"
#include "gnr_metaformats/SKzPictureMetadata.h"

namespace {

typedef SKzExperiment::EKzExperimentType EType;

// Levels followed down one chain at most (a damaged tree cannot loop us).
const u32 kMaxLevels = 1024;

CKzStringW Decimal(const wchar_t* format, double value)
{
    CKzStringW s;
    s.Format(format, value);
    return s;
}

// Each line of a settings text prefixed by two blanks; lines are cut after
// every line feed, which each keeps.
void AppendIndentedLines(CKzStringW& out, const CKzStringW& text)
{
    const wchar_t* p = text.GetString();
    const int n = text.GetLength();
    int start = 0;
    while (start < n) {
        int end = start;
        while (end < n && p[end] != L'\n') ++end;
        if (end < n) ++end;   // the line feed stays with its line
        out += L"  ";
        out.AddChars(p + start, end - start);
        start = end;
    }
}

u32 PlaneCount(const SKzPicturePlanes& ps) { return ps.pPlanes ? ps.uiCount : 0u; }

// The loop size the dimension line shows for a spectral level: that of the
// union of the tree's channels when there is one.
u32 SpectralSize(const SKzExperiment* tree, const SKzExperiment* level)
{
    SKzExperiment* superset = nullptr;
    u32 size = CKzExperimentAPI::GetLoopSize(level);
    if (CKzExperimentAPI::GetSupersetSpectExp(tree, superset) == KZ_OK && superset) {
        SKzExperiment* found = nullptr;
        u32 depth = 0;
        if (CKzExperimentAPI::FindExperiment(superset, SKzExperiment::eExpSpectLoop, nullptr, 0, &depth, &found) ==
                KZ_OK &&
            found)
            size = CKzExperimentAPI::GetLoopSize(found);
        SKzExperiment::FreeRecursive(superset);
    }
    return size;
}

CKzStringW Dimensions(const SKzExperiment* tree)
{
    CKzStringW joined;
    u32 guard = 0;
    for (const SKzExperiment* lv = tree; lv && guard < kMaxLevels;
         lv = CKzExperimentAPI::GetNextLevelExperiment(lv, 0), ++guard) {
        CKzStringW part;
        const u32 size = CKzExperimentAPI::GetLoopSize(lv);
        switch (lv->eType) {
        case SKzExperiment::eExpTimeLoop: part.Format(L"T(%d)", (int)size); break;
        case SKzExperiment::eExpXYPosLoop: part.Format(L"XY(%d)", (int)size); break;
        case SKzExperiment::eExpXYDiscrLoop: part.Format(L"XY'(%d)", (int)size); break;
        case SKzExperiment::eExpZStackLoop:
            part.Format(L"Z(%d)", (int)CKzExperimentAPI::GetZStackSizeMax(lv, nullptr));
            break;
        case SKzExperiment::eExpPolarLoop: part.Format(L"(%d)", (int)size); break;
        case SKzExperiment::eExpSpectLoop: part.Format(L"\u03BB(%d)", (int)SpectralSize(tree, lv)); break;
        case SKzExperiment::eExpCustomLoop: part.Format(L"C(%d)", (int)size); break;
        case SKzExperiment::eExpNETimeLoop: part.Format(L"T'(%d)", (int)size); break;
        case SKzExperiment::eExpManualTimeLoop: part.Format(L"T\"(%d)", (int)size); break;
        default: break;
        }
        // Every level has its place in the line, also one of no known type
        // (an empty part between its separators).
        if (lv != tree) joined += L" x ";
        joined += part;
    }
    return joined;
}

// The camera text of merged cameras: the first two different plane camera names.
CKzStringW MergedCameraText(const SKzPicturePlanes& ps)
{
    CKzStringW first, second;
    for (u32 i = 0; i < PlaneCount(ps); ++i) {
        const CKzStringW name = SKzPicturePlanes::GetPlaneCameraUserName(ps, i);
        if (name.IsEmpty()) continue;
        if (first.IsEmpty()) {
            first = name;
        } else if (!(name == first)) {
            second = name;
            break;
        }
    }
    CKzStringW text = first;
    if (!second.IsEmpty()) text.AppendFormat(L" + %s", second.GetString());
    return text;
}

// The emission lines of a fluorescent plane.
void AppendEmission(CKzStringW& out, const SKzPicturePlaneDesc& plane)
{
    const CKzOpticalFilterSpectrum* spectrum = nullptr;
    if (plane.pFluorescentProbe.m_EmissionSpectrum.GetCount() > 0) {
        spectrum = &plane.pFluorescentProbe.m_EmissionSpectrum;
    } else {
        const CKzOpticalFilterPath& path = plane.pFilterPath;
        for (u32 f = 0; f < path.GetCount(); ++f)
            if (path[f]->GetPlacement() == CKzOpticalFilter::eOFPlacementEmission) {
                spectrum = &path[f]->m_EmissionSpectrum;
                break;
            }
    }
    if (!spectrum || spectrum->GetCount() == 0) return;
    double peak = 0, low = 0, high = 0;
    spectrum->GetPeakAndFwhm(peak, low, high);
    if (!(peak > 0.1)) return;
    out.AppendFormat(L" Emission Wavelength: %s\r\n", Decimal(L"%.1f nm", peak).GetString());
    if (high - low >= 0.1)
        out.AppendFormat(L" Emission Wavelength Bandwidth: %s\r\n", Decimal(L"%.1f nm", high - low).GetString());
}

void AppendPlanes(CKzStringW& out, const SKzPicturePlanes& ps, bool merged)
{
    const u32 n = PlaneCount(ps);
    if (n == 0) return;
    if (n == 1 && ps.pPlanes[0].uiCompCount == 3) {
        // A colour picture: only its camera settings.
        const SKzSampleSetting* s = ps.GetPlaneSettings(0);
        if (s && !s->sSpecSettings.IsEmpty())
            out.AppendFormat(L" Camera Settings: %s\r\n", s->sSpecSettings.GetString());
        return;
    }
    if (n >= 2) out.AppendFormat(L"Number of Picture Planes: %d\r\n", (int)n);
    for (u32 i = 0; i < n; ++i) {
        const SKzPicturePlaneDesc& plane = ps.pPlanes[i];
        if (n >= 2) out.AppendFormat(L"Plane #%d:\r\n", (int)(i + 1));
        if (merged)
            out.AppendFormat(L"Camera: %s\r\n", SKzPicturePlanes::GetPlaneCameraUserName(ps, i).GetString());
        out.AppendFormat(L" Name: %s\r\n", plane.sDescription.GetString());
        out.AppendFormat(L" Component Count: %d\r\n", (int)plane.uiCompCount);
        out.AppendFormat(L" Modality: %s\r\n",
                         FileWrapperTextInfo::GetModalityText(plane.uiModalityMask).GetString());
        if (SKzPicturePlaneDesc::IsModalityMonochrome((unsigned long)plane.uiModalityMask))
            AppendEmission(out, plane);
        if (const SKzSampleSetting* s = ps.GetPlaneSettings(i)) {
            CKzStringW lines;
            AppendIndentedLines(lines, s->sSpecSettings);
            if (!lines.IsEmpty()) out.AppendFormat(L" Camera Settings: %s\r\n", lines.GetString());
        }
    }
}

void AppendLoops(CKzStringW& out, const SKzExperiment* tree)
{
    u32 guard = 0;
    for (const SKzExperiment* lv = tree; lv && guard < kMaxLevels;
         lv = CKzExperimentAPI::GetNextLevelExperiment(lv, 0), ++guard) {
        const int count = (int)CKzExperimentAPI::GetLoopSize(lv);
        switch (lv->eType) {
        case SKzExperiment::eExpNETimeLoop: out.AppendFormat(L"Time Loop: %d\r\n- Nonequidistant\r\n", count); break;
        case SKzExperiment::eExpManualTimeLoop: out.AppendFormat(L"Time Loop: %d\r\n- Manual\r\n", count); break;
        case SKzExperiment::eExpTimeLoop: {
            const SKzExperiment::SKzExpTimeLoop& t = lv->uLoopPars.sTimeLoop;
            out.AppendFormat(L"Time Loop: %d\r\n", count);
            if (t.dPeriod != 0.0)
                out.AppendFormat(L"- Equidistant (Period %s ms)\r\n", Decimal(L"%.1f", t.dPeriod).GetString());
            else
                out.AppendFormat(L"- Equidistant (Duration %s s)\r\n",
                                 Decimal(L"%.2f", t.dDuration * 0.001).GetString());
            break;
        }
        default: break;
        }
    }
    guard = 0;
    for (const SKzExperiment* lv = tree; lv && guard < kMaxLevels;
         lv = CKzExperimentAPI::GetNextLevelExperiment(lv, 0), ++guard) {
        if (lv->eType != SKzExperiment::eExpZStackLoop) continue;
        double step = 1.0;
        CKzExperimentAPI::GetZStackStepSize(lv, &step);
        out.AppendFormat(L"Z Stack Loop: %d\r\n", (int)CKzExperimentAPI::GetLoopSize(lv));
        out.AppendFormat(L"- Step %s %cm\r\n", Decimal(L"%.1f", step).GetString(), L'u');
    }
}

} // namespace

CKzStringW FileWrapperTextInfo::GetModalityText(kz_uint64 mask)
{
    struct SName {
        kz_uint64 bit;
        const wchar_t* name;
    };
    static const SName names[] = {
        {0x1, L"Widefield Fluorescence"},
        {0x2, L"Brightfield"},
        {0x10, L"Phase Contrast"},
        {0x20, L"DI Contrast"},
        {0x200, L"Laser Scan Confocal"},
        {0x400, L"Spinning Disk Confocal"},
        {0x800, L"Swept Field Confocal(Slit)"},
        {0x1000, L"Swept Field Confocal(Pinholes)"},
        {0x10000, L"Multi Photon Fluorescence"},
        {0x200000, L"Spectral"},
        {0x400000, L"QIRA IF"},
        {0x800000, L"QIRA NF"},
        {0x2000, L"DSD Confocal"},
        {0x20000000, L"AUX"},
    };
    // From "Phase Contrast" on, a third name on a line starts a new one.
    const unsigned firstBreakable = 2;
    CKzStringW text;
    int onLine = 0;
    bool first = true;
    for (unsigned i = 0; i < sizeof names / sizeof names[0]; ++i) {
        if (!(mask & names[i].bit)) continue;
        if (!first) text += L", ";
        if (i >= firstBreakable && onLine == 2) {
            text += L"\r\n           ";
            onLine = 0;
        }
        text += names[i].name;
        ++onLine;
        first = false;
    }
    return first ? CKzStringW(L"Unknown") : text;
}

CKzStringW FileWrapperTextInfo::GetCameraNames(const SKzPictureMetadata& md)
{
    const SKzPicturePlanes& ps = md.sPicturePlanes;
    const u32 n = ps.pSamples ? ps.uiSampleCount : 0u;
    CKzStringW text, last;
    bool any = false;
    for (u32 i = 0; i < n; ++i) {
        const SKzSampleSetting& s = ps.pSamples[i];
        if (!s.pCameraSetting) continue;
        const CKzStringW name = s.GetCameraUserName();
        if (name.IsEmpty()) continue;
        if (any && name == last) continue;
        if (any) text += L" + ";
        text += name;
        last = name;
        any = true;
    }
    return text;
}

CKzStringW FileWrapperTextInfo::GetCameraSettings(const SKzPictureMetadata& md)
{
    const SKzPicturePlanes& ps = md.sPicturePlanes;
    const u32 n = ps.pSamples ? ps.uiSampleCount : 0u;
    if (n == 1) return ps.pSamples[0].sSpecSettings;
    CKzStringW text;
    for (u32 i = 0; i < n; ++i) {
        const CKzStringW& settings = ps.pSamples[i].sSpecSettings;
        if (settings.IsEmpty()) continue;
        if (!text.IsEmpty()) text += L"\r\n";
        text.AppendFormat(L"Sample %d:\r\n", (int)(i + 1));
        AppendIndentedLines(text, settings);
    }
    return text;
}

CKzStringW FileWrapperTextInfo::GetMetadataDescription(const SKzPictureMetadata& md, const SKzExperiment* experiment)
{
    CKzStringW out;
    const SKzPicturePlanes& ps = md.sPicturePlanes;

    if (experiment) {
        const CKzStringW dims = Dimensions(experiment);
        if (!dims.IsEmpty()) out.Format(L"Dimensions: %s\r\n", dims.GetString());
    }

    bool merged = false;
    if (experiment) {
        CKzExperimentAPI::GetCameraDescription(experiment, nullptr, nullptr, &merged);
        CKzStringW camera;
        if (merged)
            camera = MergedCameraText(ps);
        else if (PlaneCount(ps) > 0)
            camera = SKzPicturePlanes::GetPlaneCameraUserName(ps, 0);
        if (!camera.IsEmpty()) out.AppendFormat(L"Camera Name: %s\r\n", camera.GetString());
    } else {
        out.AppendFormat(L"Camera Name: %s\r\n", GetCameraNames(md).GetString());
    }

    if (md.dObjectiveNA > 0.0)
        out.AppendFormat(L"Numerical Aperture: %s\r\n", Decimal(L"%5.3f", md.dObjectiveNA).GetString());
    if (md.dRefractIndex1 > 0.0)
        out.AppendFormat(L"Refractive Index: %s\r\n", Decimal(L"%.3f", md.dRefractIndex1).GetString());

    AppendPlanes(out, ps, merged);
    if (experiment) AppendLoops(out, experiment);
    return out;
}
