// Conversions between the host records and the library's records, checked
// field by field in both directions against values set by hand here. Record
// offsets are taken from the published layout, not from the header, so a
// field written to the wrong place shows.
#include "w32_qorfilesdk/KzQorConversions.h"

#include "gnr_metaformats/CKzExperimentAPI.h"
#include "gnr_metaformats/SKzExperiment.h"
#include "gnr_metaformats/SKzPictureMetadata.h"
#include "gnr_metaformats/meta_test_support.h"
#include "vt5file/IKzImageFile.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

using kzmt::W;

namespace {

std::wstring Field(const wchar_t* f, size_t n) { return std::wstring(f, wcsnlen(f, n)); }

// A record filled with a byte pattern, so untouched bytes can be told apart.
template <class R>
std::unique_ptr<R> Filled(unsigned char byte)
{
    std::unique_ptr<R> r(new R);
    std::memset(r.get(), byte, sizeof(R));
    return r;
}

template <class R>
const wchar_t* At(const R& r, size_t offset)
{
    return reinterpret_cast<const wchar_t*>(reinterpret_cast<const char*>(&r) + offset);
}
template <class R>
double DoubleAt(const R& r, size_t offset)
{
    double d;
    std::memcpy(&d, reinterpret_cast<const char*>(&r) + offset, 8);
    return d;
}
template <class R>
u32 U32At(const R& r, size_t offset)
{
    u32 v;
    std::memcpy(&v, reinterpret_cast<const char*>(&r) + offset, 4);
    return v;
}

std::wstring Repeat(const wchar_t* unit, size_t count)
{
    std::wstring s;
    while (s.size() < count) s += unit;
    s.resize(count);
    return s;
}

// ---- attributes -------------------------------------------------------------------

TEST(RecordsAttributes, LibraryToHostEveryField)
{
    SKzImageAttributes a{};
    a.uiWidth = 640;
    a.uiWidthBytes = 1282;
    a.uiHeight = 480;
    a.uiComp = 3;
    a.uiBpcInMemory = 16;
    a.uiBpcSignificant = 12;
    a.ePixelType = 2;
    a.uiSequenceCount = 77;
    a.uiTileWidth = 64;
    a.uiTileHeight = 32;
    a.eCompression = 2;
    a.dCompressionParam = 0.25;
    auto r = Filled<_QORATTRIBUTES>(0xCD);
    ASSERT_EQ(0, ConvertGetAttributes(*r, a));
    const u32 expected[11] = {640, 1282, 480, 3, 16, 12, 77, 64, 32, 2, 25};
    for (int i = 0; i < 11; ++i) EXPECT_EQ(expected[i], U32At(*r, 4 * i)) << "field at " << 4 * i;
}

TEST(RecordsAttributes, QualityRoundsHalfUpWithoutUndefinedConversions)
{
    struct Case {
        double param;
        u32 quality;
    } cases[] = {
        {0.5, 50}, {0.857, 86}, {0.854, 85}, {0.995, 100}, {0.0, 0}, {0.004, 0}, {0.005, 1},
        {NAN, 0},  {1e300, (u32)INT_MAX}, {-1e300, 0}, {-0.5, 0}, {-0.006, 0},
    };
    for (const Case& c : cases) {
        SKzImageAttributes a{};
        a.dCompressionParam = c.param;
        _QORATTRIBUTES r{};
        ConvertGetAttributes(r, a);
        EXPECT_EQ(c.quality, r.uiQuality) << "parameter " << c.param;
    }
}

TEST(RecordsAttributes, HostToLibraryEveryField)
{
    _QORATTRIBUTES r;
    const u32 v[11] = {320, 960, 200, 3, 8, 8, 12, 99, 98, 0, 50};
    std::memcpy(&r, v, sizeof v);
    SKzImageAttributes a{};
    std::memset(&a, 0xEE, sizeof a);
    ASSERT_EQ(0, ConvertSetAttributes(a, r));
    EXPECT_EQ(320u, a.uiWidth);
    EXPECT_EQ(960u, a.uiWidthBytes);
    EXPECT_EQ(200u, a.uiHeight);
    EXPECT_EQ(3u, a.uiComp);
    EXPECT_EQ(8, a.uiBpcInMemory);
    EXPECT_EQ(8, a.uiBpcSignificant);
    EXPECT_EQ(1, a.ePixelType);
    EXPECT_EQ(12u, a.uiSequenceCount);
    EXPECT_EQ(0u, a.uiTileWidth);   // tiles are never taken from a host
    EXPECT_EQ(0u, a.uiTileHeight);
    EXPECT_EQ(0, a.eCompression);
    EXPECT_DOUBLE_EQ(0.5, a.dCompressionParam);

    // Depths beyond 8 bits saturate instead of wrapping to a plausible value.
    r.uiBpcInMemory = 264;
    r.uiBpcSignificant = 256;
    r.uiCompression = 2;
    r.uiQuality = 86;
    ConvertSetAttributes(a, r);
    EXPECT_EQ(255, a.uiBpcInMemory);
    EXPECT_EQ(255, a.uiBpcSignificant);
    EXPECT_EQ(2, a.eCompression);
    EXPECT_DOUBLE_EQ(0.86, a.dCompressionParam);
}

// ---- text information --------------------------------------------------------------

TEST(RecordsTextInfo, EveryItemLandsInItsFieldCutToItsLength)
{
    // Published offsets and lengths of the fifteen fields.
    const size_t offsets[15] = {0x0,    0x400,  0x800,  0xC00,  0x1000, 0x1400, 0x5400, 0x9400,
                                0x9800, 0x9C00, 0xA000, 0xA400, 0xA800, 0xAC00, 0xB000};
    const size_t lengths[15] = {256, 256, 256, 256, 256, 4096, 4096, 256, 256, 256, 256, 256, 256, 256, 256};
    SKzImageTextInfo info;
    std::vector<std::wstring> texts(15);
    for (int k = 0; k < 15; ++k) texts[k] = L"item " + std::to_wstring(k);
    texts[0] = Repeat(L"abcdefghij", 300);    // cut to 255
    texts[5] = Repeat(L"0123456789", 300);    // whole
    texts[6] = Repeat(L"ZYXWV", 5000);        // cut to 4095
    texts[14] = Repeat(L"v", 256);            // exactly the field: cut to 255
    for (int k = 0; k < 15; ++k) info.wsText[k] = texts[k].c_str();

    auto r = Filled<_QORTEXTINFO>(0xAB);
    ASSERT_EQ(0, ConvertGetTextinfo(*r, info));
    for (int k = 0; k < 15; ++k) {
        const std::wstring expect = texts[k].substr(0, lengths[k] - 1);
        EXPECT_EQ(expect, Field(At(*r, offsets[k]), lengths[k])) << "item " << k;
        EXPECT_EQ(L'\0', At(*r, offsets[k])[expect.size()]) << "item " << k << " unterminated";
    }
    EXPECT_EQ(300u, Field(At(*r, 0x1400), 4096).size());
}

TEST(RecordsTextInfo, HostTextIsNeverTaken)
{
    SKzImageTextInfo info;
    for (int k = 0; k < 15; ++k) info.wsText[k] = L"kept";
    auto r = Filled<_QORTEXTINFO>(0);
    r->wsItem3[0] = L'x';
    EXPECT_EQ(0, ConvertSetTextinfo(info, *r));
    for (int k = 0; k < 15; ++k) EXPECT_EQ(L"kept", W(info.wsText[k]));
}

// ---- metadata -----------------------------------------------------------------------

// A metadata record of two planes: plane 0 fluorescent with a probe and a
// filter path, plane 1 without filters; one sample setting with an
// optical-configuration name.
void TwoPlanes(SKzPictureMetadata& md)
{
    md.dTimeAbsolute = 2460000.25;
    md.dAngle = 12.5;
    md.dTemperK = 300.5;
    md.dCalibration = 0.325;
    md.bCalibrated = true;
    md.dAspect = 1.25;
    md.wsObjectiveName = Repeat(L"Plan Apo ", 300).c_str();
    md.dObjectiveMag = 63;
    md.dObjectiveNA = 1.4;
    md.dRefractIndex1 = 1.518;
    md.dRefractIndex2 = 1.33;
    md.dZoom = 1.5;
    md.dProjectiveMag = 0.63;
    SKzPicturePlanes& ps = md.sPicturePlanes;
    SKzPicturePlanes::Free(ps);
    ASSERT_EQ(0, SKzPicturePlanes::Alloc(ps, 2, 1));
    ps.uiCompCount = 2;
    ps.eRepresentation = 2;
    SKzPicturePlaneDesc& p0 = ps.pPlanes[0];
    p0.uiCompCount = 1;
    p0.uiColor = 0x0000FF00;
    p0.uiModalityMask = 0x201;
    p0.sDescription = L"GFP";
    CKzStringW dye(L"EGFP");
    CKzOpticalFilterSpectrum exc = kzmt::Band(470, 495), em = kzmt::Band(510, 540);
    p0.pFluorescentProbe = CKzFluorescentProbe(dye, 0x00FF00, exc, em);
    CKzOpticalFilter f[2] = {kzmt::Filter(1, kzmt::Band(460, 490), CKzOpticalFilterSpectrum()),
                             kzmt::Filter(2, CKzOpticalFilterSpectrum(), kzmt::Band(500, 550))};
    p0.pFilterPath = CKzOpticalFilterPath(f, 2);
    SKzPicturePlaneDesc& p1 = ps.pPlanes[1];
    p1.uiCompCount = 1;
    p1.uiColor = 0x000000FF;
    p1.uiModalityMask = 0x2;
    p1.sDescription = Repeat(L"N", 400).c_str();
    ASSERT_EQ(0, SKzPicturePlanes::SetPlaneOCName(ps, 0, 4, CKzStringW(L"FITC cube")));
}

TEST(RecordsMetadata, DescriptionLibraryToHostEveryField)
{
    kzmt::PinLocale();
    SKzPictureMetadata md;
    TwoPlanes(md);
    auto r = Filled<_QORMETADATA_DESC>(0x5A);
    ASSERT_EQ(0, QorApiSupport_MetadataDesc_QorToApi(md, *r));
    EXPECT_EQ(2460000.25, DoubleAt(*r, 0x000));
    EXPECT_EQ(12.5, DoubleAt(*r, 0x008));
    EXPECT_EQ(0.325, DoubleAt(*r, 0x010));
    EXPECT_EQ(1.25, DoubleAt(*r, 0x018));
    EXPECT_EQ(Repeat(L"Plan Apo ", 255), Field(At(*r, 0x020), 256));
    EXPECT_EQ(L'\0', At(*r, 0x020)[255]);
    EXPECT_EQ(63.0, DoubleAt(*r, 0x420));
    EXPECT_EQ(1.4, DoubleAt(*r, 0x428));
    EXPECT_EQ(1.518, DoubleAt(*r, 0x430));
    EXPECT_EQ(1.33, DoubleAt(*r, 0x438));
    EXPECT_EQ(0x5A5A5A5Au, U32At(*r, 0x440));   // not written
    EXPECT_EQ(1.5, DoubleAt(*r, 0x448));
    EXPECT_EQ(0.63, DoubleAt(*r, 0x450));
    EXPECT_EQ(2u, U32At(*r, 0x458));
    EXPECT_EQ(2u, U32At(*r, 0x45C));
    EXPECT_EQ(2u, U32At(*r, 0x460));
    const size_t p0 = 0x468, p1 = 0x468 + 0x810;
    EXPECT_EQ(1u, U32At(*r, p0));
    EXPECT_EQ(0x0000FF00u, U32At(*r, p0 + 4));
    EXPECT_EQ(L"GFP", Field(At(*r, p0 + 8), 256));
    EXPECT_EQ(L"FITC cube", Field(At(*r, p0 + 0x408), 256));
    EXPECT_EQ(525.0, DoubleAt(*r, p0 + 0x808));   // middle of the emission band
    EXPECT_EQ(Repeat(L"N", 255), Field(At(*r, p1 + 8), 256));
    EXPECT_EQ(L"FITC cube", Field(At(*r, p1 + 0x408), 256));   // both planes use sample setting 0
    EXPECT_EQ(-1.0, DoubleAt(*r, p1 + 0x808));   // no filter: unknown
    EXPECT_EQ(0x5A5A5A5Au, U32At(*r, 0x468 + 2 * 0x810));   // planes past the count untouched
}

TEST(RecordsMetadata, CalibrationFlagFollowsEachRecordsRule)
{
    struct Case {
        double calibration;
        bool descCalibrated, oldCalibrated;
    } cases[] = {{0.0, false, false}, {-0.5, false, true}, {0.2, true, true}};
    for (const Case& c : cases) {
        _QORMETADATA_DESC* d = new _QORMETADATA_DESC();
        std::unique_ptr<_QORMETADATA_DESC> dOwn(d);
        std::unique_ptr<_QORMETADATA> o(new _QORMETADATA());
        d->dCalibration = c.calibration;
        o->dCalibration = c.calibration;
        SKzPictureMetadata a, b;
        a.bCalibrated = !c.descCalibrated;
        b.bCalibrated = !c.oldCalibrated;
        ASSERT_EQ(0, QorApiSupport_MetadataDesc_ApiToQor(*d, a));
        ASSERT_EQ(0, QorApiSupport_Metadata_ApiToQor(*o, b));
        EXPECT_EQ(c.descCalibrated, a.bCalibrated) << c.calibration;
        EXPECT_EQ(c.oldCalibrated, b.bCalibrated) << c.calibration;
        EXPECT_EQ(c.calibration, a.dCalibration);
        EXPECT_EQ(c.calibration, b.dCalibration);
    }
    // Towards the host an uncalibrated record reports 0 whatever it holds.
    SKzPictureMetadata md;
    md.dCalibration = 0.7;
    md.bCalibrated = false;
    std::unique_ptr<_QORMETADATA_DESC> d(new _QORMETADATA_DESC());
    std::unique_ptr<_QORMETADATA> o(new _QORMETADATA());
    QorApiSupport_MetadataDesc_QorToApi(md, *d);
    QorApiSupport_Metadata_QorToApi(md, *o);
    EXPECT_EQ(0.0, d->dCalibration);
    EXPECT_EQ(0.0, o->dCalibration);
}

TEST(RecordsMetadata, DescriptionHostToLibraryEveryField)
{
    auto r = Filled<_QORMETADATA_DESC>(0);
    r->dTimeAbsolute = 2459000.5;
    r->dAngle = -3;
    r->dCalibration = 0.1;
    r->dAspect = 0.9;
    for (int i = 0; i < 256; ++i) r->wsObjectiveName[i] = L'O';   // no terminator
    r->dObjectiveMag = 40;
    r->dObjectiveNA = 0.95;
    r->dRefractIndex1 = 1.0;
    r->dRefractIndex2 = 1.1;
    r->dReserved = 123;
    r->dZoom = 2;
    r->dProjectiveMag = 1;
    r->uiRepresentation = 2;
    r->uiPlaneCount = 2;
    r->uiCompCount = 4;
    r->sPlanes[0].uiCompCount = 1;
    r->sPlanes[0].uiColor = 0xFF;
    wcscpy(r->sPlanes[0].wsName, L"DAPI");
    wcscpy(r->sPlanes[0].wsOCName, L"ignored");
    r->sPlanes[0].dEmissionWavelength = 520.0;
    r->sPlanes[1].uiCompCount = 3;
    r->sPlanes[1].uiColor = 0xFFFFFF;
    wcscpy(r->sPlanes[1].wsName, L"RGB");
    r->sPlanes[1].dEmissionWavelength = -1.0;

    SKzPictureMetadata md;
    TwoPlanes(md);
    md.dXPos = 17;   // members the record does not carry keep their values
    md.dTemperK = 280;
    ASSERT_EQ(0, QorApiSupport_MetadataDesc_ApiToQor(*r, md));
    EXPECT_EQ(2459000.5, md.dTimeAbsolute);
    EXPECT_EQ(-3.0, md.dAngle);
    EXPECT_EQ(0.1, md.dCalibration);
    EXPECT_TRUE(md.bCalibrated);
    EXPECT_EQ(0.9, md.dAspect);
    EXPECT_EQ(Repeat(L"O", 256), W(md.wsObjectiveName));
    EXPECT_EQ(40.0, md.dObjectiveMag);
    EXPECT_EQ(0.95, md.dObjectiveNA);
    EXPECT_EQ(1.0, md.dRefractIndex1);
    EXPECT_EQ(1.1, md.dRefractIndex2);
    EXPECT_EQ(2.0, md.dZoom);
    EXPECT_EQ(1.0, md.dProjectiveMag);
    EXPECT_EQ(17.0, md.dXPos);
    EXPECT_EQ(280.0, md.dTemperK);
    const SKzPicturePlanes& ps = md.sPicturePlanes;
    EXPECT_EQ(2u, ps.eRepresentation);
    EXPECT_EQ(2u, ps.uiCount);
    EXPECT_EQ(4u, ps.uiCompCount);
    EXPECT_EQ(1u, ps.uiSampleCount);   // one default sample setting: names are not kept
    EXPECT_EQ(L"", W(SKzPicturePlanes::GetPlaneOCName(ps, 0, 0)));

    const SKzPicturePlaneDesc& a = ps.pPlanes[0];
    EXPECT_EQ(1u, a.uiCompCount);
    EXPECT_EQ(0xFFu, a.uiColor);
    EXPECT_EQ(L"DAPI", W(a.sDescription));
    EXPECT_EQ(MODALITY_FLUORESCENCE, a.uiModalityMask);   // a default plane's mask and probe
    EXPECT_EQ(0u, a.pFluorescentProbe.m_EmissionSpectrum.GetCount());
    ASSERT_EQ(1u, a.pFilterPath.GetCount());
    const CKzOpticalFilter& f = *a.pFilterPath[0];
    EXPECT_EQ(L"Emission", W(f.m_sName));
    EXPECT_EQ(2u, (unsigned)f.m_ePlacement);
    EXPECT_EQ(0u, (unsigned)f.m_eNature);
    EXPECT_EQ(1u, (unsigned)f.m_eSpctType);
    EXPECT_EQ(0xFFu, f.m_uiColor);
    EXPECT_TRUE(kzmt::SameSpectrum(CKzOpticalFilterSpectrum(), f.m_ExcitationSpectrum));
    EXPECT_TRUE(kzmt::SameSpectrum(kzmt::Spec({{1, 520.0, 0.0}}), f.m_EmissionSpectrum));
    EXPECT_TRUE(kzmt::SameSpectrum(CKzOpticalFilterSpectrum(), f.m_MirrorSpectrum));

    const SKzPicturePlaneDesc& b = ps.pPlanes[1];
    EXPECT_EQ(3u, b.uiCompCount);
    EXPECT_EQ(L"RGB", W(b.sDescription));
    EXPECT_EQ(0u, b.pFilterPath.GetCount());   // unknown emission: no filter at -1 nm

    // And back: the plane whose path holds the measured point reports it.
    auto back = Filled<_QORMETADATA_DESC>(0);
    QorApiSupport_MetadataDesc_QorToApi(md, *back);
    EXPECT_EQ(520.0, back->sPlanes[0].dEmissionWavelength);
    EXPECT_EQ(-1.0, back->sPlanes[1].dEmissionWavelength);
}

// Plane counts against the 256 planes a record holds, in both directions and
// for both records. Host -> library keeps the count (the planes beyond the
// record stay default); library -> host keeps its cap of 256; a count no
// picture can have is refused, leaving the metadata as it was.
TEST(RecordsMetadata, PlaneCountsAroundTheRecordsCapacity)
{
    struct Case {
        u32 count;
        int rc;
    } toLibrary[] = {{0, 0}, {1, 0}, {255, 0}, {256, 0}, {257, 0}, {300, 0}, {65536, 0}, {65537, -9}, {0xFFFFFFFFu, -9}};
    std::unique_ptr<_QORMETADATA_DESC> d(new _QORMETADATA_DESC());
    std::unique_ptr<_QORMETADATA> o(new _QORMETADATA());
    for (u32 i = 0; i < QOR_MAX_PLANES; ++i) {
        const std::wstring name = L"p" + std::to_wstring(i);
        wcscpy(d->sPlanes[i].wsName, name.c_str());
        wcscpy(o->sPlanes[i].wsName, name.c_str());
        d->sPlanes[i].uiCompCount = o->sPlanes[i].uiCompCount = 1;
        d->sPlanes[i].dEmissionWavelength = 520.0;
        o->sPlanes[i].uiModalityMask = 0x1;
    }
    for (const Case& c : toLibrary) {
        for (int old = 0; old < 2; ++old) {
            SCOPED_TRACE(testing::Message() << "count " << c.count << (old ? " (old record)" : " (description)"));
            d->uiPlaneCount = o->uiPlaneCount = c.count;
            d->dAngle = o->dAngle = 99;
            SKzPictureMetadata md;
            TwoPlanes(md);
            const int rc = old ? QorApiSupport_Metadata_ApiToQor(*o, md) : QorApiSupport_MetadataDesc_ApiToQor(*d, md);
            ASSERT_EQ(c.rc, rc);
            const SKzPicturePlanes& ps = md.sPicturePlanes;
            if (rc != 0) {
                EXPECT_EQ(12.5, md.dAngle);
                ASSERT_EQ(2u, ps.uiCount);
                EXPECT_EQ(L"GFP", W(ps.pPlanes[0].sDescription));
                continue;
            }
            EXPECT_EQ(99.0, md.dAngle);
            ASSERT_EQ(c.count, ps.uiCount);
            ASSERT_EQ(c.count == 0, ps.pPlanes == nullptr);
            const u32 converted = c.count < QOR_MAX_PLANES ? c.count : (u32)QOR_MAX_PLANES;
            if (converted > 0) {
                EXPECT_EQ(L"p" + std::to_wstring(converted - 1), W(ps.pPlanes[converted - 1].sDescription));
                EXPECT_EQ(1u, ps.pPlanes[converted - 1].uiCompCount);
            }
            // Planes beyond the record's 256 are there, default.
            for (u32 i = QOR_MAX_PLANES; i < c.count && i < QOR_MAX_PLANES + 2; ++i) {
                const SKzPicturePlaneDesc fresh;
                EXPECT_EQ(L"", W(ps.pPlanes[i].sDescription)) << i;
                EXPECT_EQ(fresh.uiCompCount, ps.pPlanes[i].uiCompCount) << i;
                EXPECT_EQ(fresh.uiModalityMask, ps.pPlanes[i].uiModalityMask) << i;
                EXPECT_EQ(0u, ps.pPlanes[i].pFilterPath.GetCount()) << i;
            }
            EXPECT_EQ(1u, ps.uiSampleCount);
        }
    }

    // Library -> host: at most 256 planes are counted and written.
    const u32 toHost[] = {0, 2, 256, 257, 300};
    for (u32 count : toHost) {
        SCOPED_TRACE(testing::Message() << "library planes " << count);
        SKzPictureMetadata md;
        SKzPicturePlanes& ps = md.sPicturePlanes;
        ASSERT_EQ(0, SKzPicturePlanes::Alloc(ps, count, 1));
        for (u32 i = 0; i < count; ++i) ps.pPlanes[i].sDescription = (L"q" + std::to_wstring(i)).c_str();
        auto r = Filled<_QORMETADATA_DESC>(0x11);
        std::unique_ptr<_QORMETADATA> old(new _QORMETADATA());
        ASSERT_EQ(0, QorApiSupport_MetadataDesc_QorToApi(md, *r));
        ASSERT_EQ(0, QorApiSupport_Metadata_QorToApi(md, *old));
        const u32 expected = count < QOR_MAX_PLANES ? count : (u32)QOR_MAX_PLANES;
        EXPECT_EQ(expected, r->uiPlaneCount);
        EXPECT_EQ(expected, old->uiPlaneCount);
        if (expected > 0) {
            const std::wstring last = L"q" + std::to_wstring(expected - 1);
            EXPECT_EQ(last, Field(r->sPlanes[expected - 1].wsName, 256));
            EXPECT_EQ(last, Field(old->sPlanes[expected - 1].wsName, 256));
        }
        if (expected < QOR_MAX_PLANES) EXPECT_EQ(0x11111111u, r->sPlanes[expected].uiCompCount);
    }

    // A plane count without a plane array converts no plane.
    SKzPictureMetadata md;
    SKzPicturePlanes& ps = md.sPicturePlanes;
    SKzPicturePlanes::Free(ps);
    ps.uiCount = 5;
    auto e = Filled<_QORMETADATA_DESC>(0x22);
    QorApiSupport_MetadataDesc_QorToApi(md, *e);
    EXPECT_EQ(0x22222222u, e->sPlanes[0].uiCompCount);
    ps.uiCount = 0;
}

TEST(RecordsMetadata, OldRecordLibraryToHostProbeAndFilters)
{
    SKzPictureMetadata md;
    TwoPlanes(md);
    std::unique_ptr<_QORMETADATA> r(new _QORMETADATA());
    std::memset(r.get(), 0x33, sizeof *r);
    ASSERT_EQ(0, QorApiSupport_Metadata_QorToApi(md, *r));
    EXPECT_EQ(2460000.25, DoubleAt(*r, 0x000));
    EXPECT_EQ(12.5, DoubleAt(*r, 0x008));
    EXPECT_EQ(300.5, DoubleAt(*r, 0x010));
    EXPECT_EQ(0.325, DoubleAt(*r, 0x018));
    EXPECT_EQ(1.25, DoubleAt(*r, 0x020));
    EXPECT_EQ(Repeat(L"Plan Apo ", 255), Field(At(*r, 0x028), 256));
    EXPECT_EQ(63.0, DoubleAt(*r, 0x428));
    EXPECT_EQ(1.4, DoubleAt(*r, 0x430));
    EXPECT_EQ(1.518, DoubleAt(*r, 0x438));
    EXPECT_EQ(1.33, DoubleAt(*r, 0x440));
    EXPECT_EQ(0x33333333u, U32At(*r, 0x448));
    EXPECT_EQ(1.5, DoubleAt(*r, 0x450));
    EXPECT_EQ(0.63, DoubleAt(*r, 0x458));
    EXPECT_EQ(2u, U32At(*r, 0x460));
    EXPECT_EQ(2u, U32At(*r, 0x464));
    EXPECT_EQ(2u, U32At(*r, 0x468));
    const size_t p0 = 0x470, p1 = 0x470 + 0x860;
    EXPECT_EQ(1u, U32At(*r, p0));
    EXPECT_EQ(0x0000FF00u, U32At(*r, p0 + 4));
    u64 mask;
    std::memcpy(&mask, reinterpret_cast<const char*>(r.get()) + p0 + 8, 8);
    EXPECT_EQ(0x201u, mask);
    EXPECT_EQ(L"GFP", Field(At(*r, p0 + 0x10), 256));
    EXPECT_EQ(L"FITC cube", Field(At(*r, p0 + 0x410), 256));
    const double plane0[10] = {482.5, 470, 495, 525, 510, 540, 460, 490, 500, 550};
    for (int i = 0; i < 10; ++i) EXPECT_EQ(plane0[i], DoubleAt(*r, p0 + 0x810 + 8 * i)) << "wavelength " << i;
    // Plane 1: no probe, no filter: every wavelength unknown.
    for (int i = 0; i < 10; ++i) EXPECT_EQ(-1.0, DoubleAt(*r, p1 + 0x810 + 8 * i)) << "wavelength " << i;
    std::memcpy(&mask, reinterpret_cast<const char*>(r.get()) + p1 + 8, 8);
    EXPECT_EQ(0x2u, mask);
}

TEST(RecordsMetadata, OldPlaneHostToLibraryFiltersAndProbe)
{
    struct Case {
        const char* name;
        double w[10];   // probe exc peak/start/end, em peak/start/end, filter exc low/high, em low/high
        unsigned filters;           // 1 excitation, 2 emission, 3 both
        bool probeReplaced, probeExcitation, probeEmission;
    } cases[] = {
        {"excitation filter only", {-1, -1, -1, -1, -1, -1, 460, 490, 0, 0}, 1, false, false, false},
        {"both filters", {-1, -1, -1, -1, -1, -1, 460, 490, 500, 550}, 3, false, false, false},
        {"emission edge unknown", {-1, -1, -1, -1, -1, -1, -1, -1, 500, -1}, 0, false, false, false},
        {"probe excitation only", {480, 470, 495, -1, -1, -1, 0, 0, 0, 0}, 0, true, true, false},
        {"probe both bands", {0, 470, 495, 0, 510, 540, 0, 0, 510, 540}, 2, true, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<_QORPICTUREPLANE> r(new _QORPICTUREPLANE());
        r->uiCompCount = 1;
        r->uiColor = 0x00ABCDEF;
        r->uiModalityMask = 0x10001;
        for (int i = 0; i < 256; ++i) r->wsName[i] = L'n';   // unterminated
        double* w = &r->dProbeExcitationPeak;
        for (int i = 0; i < 10; ++i) w[i] = c.w[i];
        SKzPicturePlaneDesc p;
        CKzStringW keep(L"Keep");
        CKzOpticalFilterSpectrum ke = kzmt::Line(400), km = kzmt::Line(450);
        p.pFluorescentProbe = CKzFluorescentProbe(keep, 7, ke, km);
        p.pFilterPath = CKzOpticalFilterPath(kzmt::Filter(6, kzmt::Line(1), kzmt::Line(2)));
        ASSERT_EQ(0, QorApiSupport_PicturePlane_ApiToQor(p, *r));
        EXPECT_EQ(1u, p.uiCompCount);
        EXPECT_EQ(0x00ABCDEFu, p.uiColor);
        EXPECT_EQ(0x10001u, p.uiModalityMask);
        EXPECT_EQ(Repeat(L"n", 256), W(p.sDescription));

        const unsigned count = (c.filters & 1) + ((c.filters >> 1) & 1);
        ASSERT_EQ(count, p.pFilterPath.GetCount());
        unsigned k = 0;
        if (c.filters & 1) {
            const CKzOpticalFilter& f = *p.pFilterPath[k++];
            EXPECT_EQ(L"Excitation", W(f.m_sName));
            EXPECT_EQ(1u, (unsigned)f.m_ePlacement);
            EXPECT_EQ(0u, (unsigned)f.m_eNature);
            EXPECT_EQ(1u, (unsigned)f.m_eSpctType);
            EXPECT_EQ(0x00ABCDEFu, f.m_uiColor);
            EXPECT_TRUE(kzmt::SameSpectrum(kzmt::Spec({{2, c.w[6], 0}, {3, c.w[7], 0}}), f.m_ExcitationSpectrum));
            EXPECT_EQ(0u, f.m_EmissionSpectrum.GetCount());
            EXPECT_EQ(0u, f.m_MirrorSpectrum.GetCount());
        }
        if (c.filters & 2) {
            const CKzOpticalFilter& f = *p.pFilterPath[k++];
            EXPECT_EQ(L"Emission", W(f.m_sName));
            EXPECT_EQ(2u, (unsigned)f.m_ePlacement);
            EXPECT_EQ(1u, (unsigned)f.m_eSpctType);
            EXPECT_EQ(0u, f.m_ExcitationSpectrum.GetCount());
            EXPECT_TRUE(kzmt::SameSpectrum(kzmt::Spec({{2, c.w[8], 0}, {3, c.w[9], 0}}), f.m_EmissionSpectrum));
            EXPECT_EQ(0u, f.m_MirrorSpectrum.GetCount());
        }

        const CKzFluorescentProbe& probe = p.pFluorescentProbe;
        if (!c.probeReplaced) {
            EXPECT_EQ(L"Keep", W(probe.m_sName));
            EXPECT_TRUE(kzmt::SameSpectrum(kzmt::Line(450), probe.m_EmissionSpectrum));
            continue;
        }
        EXPECT_EQ(L"Dye", W(probe.m_sName));
        EXPECT_EQ(0x00ABCDEFu, probe.m_uiColor);
        EXPECT_TRUE(kzmt::SameSpectrum(c.probeExcitation ? kzmt::Spec({{2, c.w[1], 0}, {3, c.w[2], 0}})
                                                         : CKzOpticalFilterSpectrum(),
                                       probe.m_ExcitationSpectrum));
        EXPECT_TRUE(kzmt::SameSpectrum(c.probeEmission ? kzmt::Spec({{2, c.w[4], 0}, {3, c.w[5], 0}})
                                                       : CKzOpticalFilterSpectrum(),
                                       probe.m_EmissionSpectrum));
    }
}

TEST(RecordsMetadata, OldRecordHostToLibraryCarriesTemperatureAndPlanes)
{
    std::unique_ptr<_QORMETADATA> r(new _QORMETADATA());
    r->dTimeAbsolute = 1.5;
    r->dTemperK = 310.0;
    r->dCalibration = 0.5;
    wcscpy(r->wsObjectiveName, L"20x");
    r->uiPlaneCount = 1;
    r->uiCompCount = 1;
    r->sPlanes[0].uiCompCount = 1;
    r->sPlanes[0].uiModalityMask = 0x1;
    wcscpy(r->sPlanes[0].wsName, L"Cy5");
    r->sPlanes[0].dFilterEmissionLow = 660;
    r->sPlanes[0].dFilterEmissionHigh = 700;
    SKzPictureMetadata md;
    ASSERT_EQ(0, QorApiSupport_Metadata_ApiToQor(*r, md));
    EXPECT_EQ(1.5, md.dTimeAbsolute);
    EXPECT_EQ(310.0, md.dTemperK);
    EXPECT_EQ(L"20x", W(md.wsObjectiveName));
    ASSERT_EQ(1u, md.sPicturePlanes.uiCount);
    EXPECT_EQ(1u, md.sPicturePlanes.pPlanes[0].uiModalityMask);
    EXPECT_EQ(L"Cy5", W(md.sPicturePlanes.pPlanes[0].sDescription));
    ASSERT_EQ(1u, md.sPicturePlanes.pPlanes[0].pFilterPath.GetCount());
    // And back to the description record: the emission band's middle.
    std::unique_ptr<_QORMETADATA_DESC> d(new _QORMETADATA_DESC());
    QorApiSupport_MetadataDesc_QorToApi(md, *d);
    EXPECT_EQ(680.0, d->sPlanes[0].dEmissionWavelength);
}

// ---- experiment ------------------------------------------------------------------------

typedef SKzExperiment::EKzExperimentType EType;

// A chain of levels, outermost first; each level's count given.
struct LevelSpec {
    EType type;
    u32 count;
    double value;   // time period or Z step
};

SKzExperiment* Chain(const std::vector<LevelSpec>& levels)
{
    SKzExperiment* root = nullptr;
    for (size_t i = 0; i < levels.size(); ++i) {
        SKzExperiment* lv = nullptr;
        EXPECT_EQ(0, SKzExperiment::Alloc(&lv));
        const LevelSpec& s = levels[i];
        if (s.type == SKzExperiment::eExpNETimeLoop) {
            EXPECT_EQ(0, SKzExperiment::Init(*lv, s.type, false, 0, 2, 0, 1));
            lv->uLoopPars.sNETimeLoop.pPeriod[0].uiCount = s.count;
            lv->uLoopPars.sNETimeLoop.pPeriod[1].uiCount = 4;
        } else {
            EXPECT_EQ(0, SKzExperiment::Init(*lv, s.type, false, s.count, 0, 0, 1));
        }
        if (s.type == SKzExperiment::eExpTimeLoop) lv->uLoopPars.sTimeLoop.dPeriod = s.value;
        if (s.type == SKzExperiment::eExpZStackLoop) lv->uLoopPars.sZStackLoop.dZStep = s.value;
        EXPECT_EQ(0, CKzExperimentAPI::AddExperimentLevel(root, lv, (u32)i));
    }
    return root;
}

struct TreeFree {
    void operator()(SKzExperiment* e) const { SKzExperiment::FreeRecursive(e); }
};
typedef std::unique_ptr<SKzExperiment, TreeFree> Tree;

TEST(RecordsExperiment, LevelsToHostSkipSpectralLoops)
{
    Tree tree(Chain({{SKzExperiment::eExpTimeLoop, 10, 250.0},
                     {SKzExperiment::eExpSpectLoop, 3, 0},
                     {SKzExperiment::eExpXYPosLoop, 4, 0},
                     {SKzExperiment::eExpXYDiscrLoop, 6, 0},
                     {SKzExperiment::eExpNETimeLoop, 3, 0},
                     {SKzExperiment::eExpManualTimeLoop, 2, 0},
                     {SKzExperiment::eExpPolarLoop, 5, 0},
                     {SKzExperiment::eExpCustomLoop, 8, 0},
                     {SKzExperiment::eExpZStackLoop, 7, 0.5}}));
    ASSERT_TRUE(tree);
    // A valid-item flag array makes the XY loop count only its valid items.
    SKzExperiment* xy = tree->ppNextLevelEx[0]->ppNextLevelEx[0];
    ASSERT_EQ(SKzExperiment::eExpXYPosLoop, xy->eType);
    xy->pItemValid = new bool[4]{true, false, true, true};

    auto r = Filled<_QOREXPERIMENT>(0x77);
    ASSERT_EQ(0, QorApiSupport_Experiment_QorToApi(*tree, *r));
    struct Entry {
        u32 type, size;
        double value;
    } expected[] = {{0, 10, 250.0}, {1, 3, 0}, {1, 6, 0}, {0, 7, 0}, {0, 2, 0}, {3, 5, 0}, {3, 8, 0}, {2, 7, 0.5}};
    ASSERT_EQ(8u, U32At(*r, 0));
    for (u32 i = 0; i < 8; ++i) {
        EXPECT_EQ(expected[i].type, U32At(*r, 8 + 16 * i)) << "level " << i;
        EXPECT_EQ(expected[i].size, U32At(*r, 12 + 16 * i)) << "level " << i;
        EXPECT_EQ(expected[i].value, DoubleAt(*r, 16 + 16 * i)) << "level " << i;
    }
    EXPECT_EQ(0x77777777u, U32At(*r, 8 + 16 * 8));   // nothing past the levels

    // One level on its own, and no tree at all.
    std::unique_ptr<_QOREXPERIMENTLEVEL> one(QorApiSupport_ExperimentLevel_QorToApi(tree.get()));
    ASSERT_TRUE(one);
    EXPECT_EQ(0u, one->uiType);
    EXPECT_EQ(10u, one->uiSize);
    EXPECT_EQ(250.0, one->dValue);
    EXPECT_EQ(0, QorApiSupport_Experiment_QorToApi(nullptr, *r));
    EXPECT_EQ(0u, r->uiLevelCount);
}

TEST(RecordsExperiment, TimeOverSpectralOverZGivesTwoEntries)
{
    Tree tree(Chain({{SKzExperiment::eExpTimeLoop, 4, 1000.0},
                     {SKzExperiment::eExpSpectLoop, 2, 0},
                     {SKzExperiment::eExpZStackLoop, 9, 0.25}}));
    _QOREXPERIMENT r{};
    ASSERT_EQ(0, QorApiSupport_Experiment_QorToApi(*tree, r));
    ASSERT_EQ(2u, r.uiLevelCount);
    EXPECT_EQ(0u, r.sLevels[0].uiType);
    EXPECT_EQ(2u, r.sLevels[1].uiType);
    EXPECT_EQ(9u, r.sLevels[1].uiSize);
    EXPECT_EQ(0.25, r.sLevels[1].dValue);
}

TEST(RecordsExperiment, MoreLevelsThanTheRecordHoldsGiveNone)
{
    std::vector<LevelSpec> levels(257, LevelSpec{SKzExperiment::eExpTimeLoop, 1, 1.0});
    Tree tree(Chain(levels));
    auto r = Filled<_QOREXPERIMENT>(0x44);
    EXPECT_EQ(-9, QorApiSupport_Experiment_QorToApi(*tree, *r));
    EXPECT_EQ(0u, r->uiLevelCount);
    // 256 non-spectral levels with spectral ones between still fit.
    levels.resize(256);
    levels.insert(levels.begin() + 10, LevelSpec{SKzExperiment::eExpSpectLoop, 1, 0});
    Tree fits(Chain(levels));
    EXPECT_EQ(0, QorApiSupport_Experiment_QorToApi(*fits, *r));
    EXPECT_EQ(256u, r->uiLevelCount);
}

TEST(RecordsExperiment, HostLevelsBuildAChainOutermostFirst)
{
    _QOREXPERIMENT r{};
    r.uiLevelCount = 3;
    r.sLevels[0] = {0, 10, 100.0};
    r.sLevels[1] = {1, 4, 123.0};
    r.sLevels[2] = {2, 5, 0.5};
    SKzExperiment* root = nullptr;
    ASSERT_EQ(0, QorApiSupport_Experiment_ApiToQor(r, root));
    Tree own(root);
    ASSERT_TRUE(root);
    EXPECT_EQ(3u, CKzExperimentAPI::GetExperimentCount(root));

    EXPECT_EQ(SKzExperiment::eExpTimeLoop, root->eType);
    const SKzExperiment::SKzExpTimeLoop& t = root->uLoopPars.sTimeLoop;
    EXPECT_EQ(10u, t.uiCount);
    EXPECT_EQ(100.0, t.dPeriod);
    EXPECT_EQ(0.0, t.dStart);
    EXPECT_EQ(900.0, t.dDuration);
    EXPECT_EQ(10u, CKzExperimentAPI::GetLoopSize(root));

    const SKzExperiment* xy = CKzExperimentAPI::GetNextLevelExperiment(root, 0);
    ASSERT_TRUE(xy);
    EXPECT_EQ(SKzExperiment::eExpXYPosLoop, xy->eType);
    EXPECT_EQ(4u, CKzExperimentAPI::GetLoopSize(xy));

    const SKzExperiment* z = CKzExperimentAPI::GetNextLevelExperiment(xy, 0);
    ASSERT_TRUE(z);
    EXPECT_EQ(SKzExperiment::eExpZStackLoop, z->eType);
    const SKzExperiment::SKzExpZStackLoop& zs = z->uLoopPars.sZStackLoop;
    EXPECT_EQ(5u, zs.uiCount);
    EXPECT_EQ(2, zs.iType);
    EXPECT_EQ(0.5, zs.dZStep);
    EXPECT_EQ(-1.0, zs.dZLow);
    EXPECT_EQ(1.0, zs.dZHigh);
    EXPECT_EQ(0.0, zs.dZHome);
    EXPECT_EQ(200u, CKzExperimentAPI::GetAllImagesCount(root));

    // And back: the same entries (the XY level reports no value).
    _QOREXPERIMENT back{};
    ASSERT_EQ(0, QorApiSupport_Experiment_QorToApi(*root, back));
    ASSERT_EQ(3u, back.uiLevelCount);
    EXPECT_EQ(0.0, back.sLevels[1].dValue);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(r.sLevels[i].uiType, back.sLevels[i].uiType);
        EXPECT_EQ(r.sLevels[i].uiSize, back.sLevels[i].uiSize);
    }
    EXPECT_EQ(100.0, back.sLevels[0].dValue);
    EXPECT_EQ(0.5, back.sLevels[2].dValue);
}

TEST(RecordsExperiment, EmptyLoopsSpanNothing)
{
    struct Case {
        _QOREXPERIMENTLEVEL entry;
        double duration, low, high;
    } cases[] = {{{0, 0, 100.0}, 0.0, 0, 0}, {{0, 1, 100.0}, 0.0, 0, 0}, {{2, 0, 2.0}, 0, 0.0, 0.0},
                 {{2, 1, 2.0}, 0, 0.0, 0.0}, {{2, 4, 2.0}, 0, -3.0, 3.0}};
    for (const Case& c : cases) {
        SKzExperiment* lv = nullptr;
        ASSERT_EQ(0, QorApiSupport_ExperimentLevel_ApiToQor(c.entry, lv));
        Tree own(lv);
        if (c.entry.uiType == 0) {
            EXPECT_EQ(c.duration, lv->uLoopPars.sTimeLoop.dDuration) << c.entry.uiSize;
        } else {
            EXPECT_EQ(c.low, lv->uLoopPars.sZStackLoop.dZLow) << c.entry.uiSize;
            EXPECT_EQ(c.high, lv->uLoopPars.sZStackLoop.dZHigh) << c.entry.uiSize;
        }
    }
}

TEST(RecordsExperiment, HostRecordFailures)
{
    SKzExperiment* const sentinel = reinterpret_cast<SKzExperiment*>(alignof(SKzExperiment));
    // No levels: root untouched.
    _QOREXPERIMENT r{};
    SKzExperiment* root = sentinel;
    EXPECT_EQ(0, QorApiSupport_Experiment_ApiToQor(r, root));
    EXPECT_EQ(sentinel, root);
    // More levels than the record holds: refused before anything is read.
    r.uiLevelCount = 257;
    EXPECT_EQ(-9, QorApiSupport_Experiment_ApiToQor(r, root));
    EXPECT_EQ(sentinel, root);
    // An unknown type at a later level releases what was built.
    r.uiLevelCount = 3;
    r.sLevels[0] = {0, 2, 10.0};
    r.sLevels[1] = {2, 3, 1.0};
    r.sLevels[2] = {3, 1, 0.0};
    root = nullptr;
    EXPECT_EQ(-4, QorApiSupport_Experiment_ApiToQor(r, root));
    EXPECT_EQ(nullptr, root);
    // An unknown type for one level leaves the level alone.
    SKzExperiment* lv = nullptr;
    EXPECT_EQ(-4, QorApiSupport_ExperimentLevel_ApiToQor(r.sLevels[2], lv));
    EXPECT_EQ(nullptr, lv);
    // A host XY count that would need gigabytes of positions is refused.
    _QOREXPERIMENTLEVEL huge{1, 0xFFFFFFFFu, 0};
    EXPECT_EQ(-4, QorApiSupport_ExperimentLevel_ApiToQor(huge, lv));
    EXPECT_EQ(nullptr, lv);
    // A huge time loop needs no per-item memory.
    _QOREXPERIMENTLEVEL longTime{0, 0xFFFFFFFFu, 1.0};
    ASSERT_EQ(0, QorApiSupport_ExperimentLevel_ApiToQor(longTime, lv));
    Tree own(lv);
    EXPECT_EQ(0xFFFFFFFFu, CKzExperimentAPI::GetLoopSize(lv));
    EXPECT_EQ(4294967294.0, lv->uLoopPars.sTimeLoop.dDuration);
}

TEST(RecordsExperiment, ExistingRootIsRebuiltInPlace)
{
    // The root's old subtree is released (the sanitizer build checks it).
    SKzExperiment* root = Chain({{SKzExperiment::eExpXYPosLoop, 3, 0}, {SKzExperiment::eExpZStackLoop, 2, 1.0}});
    SKzExperiment* const same = root;
    _QOREXPERIMENT r{};
    r.uiLevelCount = 2;
    r.sLevels[0] = {0, 6, 50.0};
    r.sLevels[1] = {1, 2, 0};
    ASSERT_EQ(0, QorApiSupport_Experiment_ApiToQor(r, root));
    Tree own(root);
    EXPECT_EQ(same, root);
    EXPECT_EQ(SKzExperiment::eExpTimeLoop, root->eType);
    EXPECT_EQ(2u, CKzExperimentAPI::GetExperimentCount(root));
    EXPECT_EQ(12u, CKzExperimentAPI::GetAllImagesCount(root));
}

} // namespace
