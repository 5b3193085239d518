// Optical records read from hostile bytes. The first byte picks the record
// (spectrum, filter, path, probe, camera setting) and the stored form (lite
// blob or XML text); the rest is that form. Whatever loads must save, load and
// save again to the very same bytes, and every evaluation function must stay
// bounded on it.
#include "gnr_metaformats/CKzFluorescentProbe.h"
#include "gnr_metaformats/CKzOpticalFilter.h"
#include "gnr_metaformats/SKzCameraSetting.h"
#include "gnr_system/CKzLiteVariant.h"
#include "gnr_system/CKzSerializerXMLString.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

enum Kind { kSpectrum, kFilter, kPath, kProbe, kCamera, kKinds };

struct Record {
    CKzOpticalFilterSpectrum spectrum;
    CKzOpticalFilter filter;
    CKzOpticalFilterPath path;
    CKzFluorescentProbe probe;
    SKzCameraSetting camera;
};

void LiteLoad(Kind k, Record& rec, CKzLiteVariantR& r)
{
    if (r.LevelBegin(L"R") != 0) return;
    switch (k) {
    case kSpectrum: CKzOpticalFilterSpectrum::LoadFromVariantNew(rec.spectrum, r); break;
    case kFilter: CKzOpticalFilter::LoadFromLiteVariant(rec.filter, r); break;
    case kPath: CKzOpticalFilterPath::LoadFromLiteVariant(rec.path, r); break;
    case kProbe: CKzFluorescentProbe::LoadFromVariantNew(rec.probe, r); break;
    default: SKzCameraSetting::LoadFromLiteVariant(rec.camera, r); break;
    }
    r.LevelEnd();
}

std::string LiteSave(Kind k, const Record& rec)
{
    CKzLiteVariantW w;
    w.LevelBegin(L"R");
    switch (k) {
    case kSpectrum: CKzOpticalFilterSpectrum::SaveToVariantNew(w, rec.spectrum); break;
    case kFilter: CKzOpticalFilter::SaveToLiteVariant(w, rec.filter); break;
    case kPath: CKzOpticalFilterPath::SaveToLiteVariant(w, rec.path); break;
    case kProbe: CKzFluorescentProbe::SaveToVariantNew(w, rec.probe); break;
    default: SKzCameraSetting::SaveToLiteVariant(w, rec.camera); break;
    }
    w.LevelEnd();
    CKzLiteVariantR r;
    w.Finalize(r);
    return std::string((const char*)r.GetData(), (size_t)r.GetSize());
}

void XmlLoad(Kind k, Record& rec, const CKzVariant& v)
{
    switch (k) {
    case kSpectrum: CKzOpticalFilterSpectrum::LoadFromVariant(rec.spectrum, v); break;
    case kFilter: CKzOpticalFilter::LoadFromVariant(rec.filter, v); break;
    case kPath: CKzOpticalFilterPath::LoadFromVariant(rec.path, v); break;
    case kProbe: CKzFluorescentProbe::LoadFromVariant(rec.probe, v); break;
    default: SKzCameraSetting::LoadFromVariant(rec.camera, v); break;
    }
}

std::string XmlSave(Kind k, const Record& rec)
{
    CKzVariant v(CKzListVariant(), L"R");
    switch (k) {
    case kSpectrum: CKzOpticalFilterSpectrum::SaveToVariant(v, rec.spectrum); break;
    case kFilter: CKzOpticalFilter::SaveToVariant(v, rec.filter); break;
    case kPath: CKzOpticalFilterPath::SaveToVariant(v, rec.path); break;
    case kProbe: CKzFluorescentProbe::SaveToVariant(v, rec.probe); break;
    default: SKzCameraSetting::SaveToVariant(v, rec.camera); break;
    }
    CKzStringA doc;
    CKzSerializerXMLString::VariantToDocument_UTF8(doc, v);
    return std::string(doc.GetString(), (size_t)doc.GetLength());
}

void LoadLiteBytes(Kind k, Record& rec, const void* data, size_t size)
{
    CKzLiteVariantR r;
    if (size) r.SetData(data, size, CKzByteArray::eModeOpReplace, CKzByteArray::eModeAllocExact);
    r.Reset();
    LiteLoad(k, rec, r);
}

void LoadXmlText(Kind k, Record& rec, const char* text, size_t size)
{
    CKzVariant v;
    if (CKzSerializerXMLString::VariantFromXML_UTF8(v, text, (unsigned)size) == 0) XmlLoad(k, rec, v);
}

void Evaluate(CKzOpticalFilterSpectrum& s)
{
    double a, b, c, buf[64], buf2[64];
    unsigned idx = 0, colour = 0;
    s.GetPeakAndFwhm(a, b, c);
    (void)s.GetTabbedPointCount();
    (void)s.GetTabbedPointCountEx();
    s.GetTabbedCurve(buf, buf2, 64);
    s.GetTabbedCurveEx(buf, buf2, 64);
    s.GetWavelenghtRange(a, b);
    s.GetWavelenghtRangeExact(a, b);
    s.FindNearestPoint(500, idx);
    s.GetRGBColor(colour);
    s.GetsRGBColor(colour);
    if (colour > 0xFFFFFF) std::abort();
    CKzOpticalFilterSpectrum band(500, SKzOFSpectrumPoint::eOFPointBandStart), copy(s);
    SKzOFSpectrumPoint end = {SKzOFSpectrumPoint::eOFPointBandEnd, 550, 1};
    band.AddPoint(end);
    copy.Combine(band, true);
    CKzOpticalFilterSpectrum other(s);
    band.Combine(other, true);
    double gap = -1;
    copy.Combine(s, 5.0, &gap);
    (void)s.GetPoint(s.GetCount());
}

void Evaluate(CKzOpticalFilterPath& p)
{
    CKzStringW t;
    p.GetEmissionWavelengthDescription(t);
    (void)p.GetMeanEmissionWavelength();
    (void)p.GetLowEmissionWavelength();
    (void)p.GetHightEmissionWavelength();
    (void)p.GetMeanExcitationWavelength();
    (void)p.GetLowExcitationWavelength();
    (void)p.GetHightExcitationWavelength();
    for (unsigned i = 0; i < p.GetCount() && i < 8; ++i) {
        CKzOpticalFilter& f = *p[i];
        Evaluate(f.m_ExcitationSpectrum);
        Evaluate(f.m_EmissionSpectrum);
        Evaluate(f.m_MirrorSpectrum);
    }
}

void Evaluate(Kind k, Record& rec)
{
    switch (k) {
    case kSpectrum: Evaluate(rec.spectrum); break;
    case kFilter: {
        CKzOpticalFilterPath p(rec.filter);
        Evaluate(p);
        CKzOpticalFilter g(rec.filter);
        g.SetPlacement(CKzOpticalFilter::eOFPlacementEmission);
        g.SetPlacement(CKzOpticalFilter::eOFPlacementExcitation);
        break;
    }
    case kPath: {
        Evaluate(rec.path);
        CKzOpticalFilterPath copy(rec.path);
        copy = rec.path;
        break;
    }
    case kProbe: {
        double a, b, c;
        double offered[4] = {405, 488, 561, 640};
        rec.probe.GetExcitationPeakAndFwhm(a, b, c);
        rec.probe.GetEmissionPeakAndFwhm(a, b, c);
        (void)rec.probe.GetExcitationWavelength();
        (void)rec.probe.GetEmissionWavelength();
        const int sel = rec.probe.SelectExcitation(offered, 4);
        if (sel < -1 || sel > 3) std::abort();
        Evaluate(rec.probe.m_ExcitationSpectrum);
        Evaluate(rec.probe.m_EmissionSpectrum);
        break;
    }
    default: break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1 || size > (1u << 20)) return 0;
    const Kind k = (Kind)(data[0] % kKinds);
    const bool xml = (data[0] / kKinds) % 2 != 0;
    ++data;
    --size;

    Record first;
    std::string save1, save2;
    if (xml) {
        LoadXmlText(k, first, (const char*)data, size);
        save1 = XmlSave(k, first);
        Record second;
        LoadXmlText(k, second, save1.data(), save1.size());
        save2 = XmlSave(k, second);
    } else {
        LoadLiteBytes(k, first, data, size);
        save1 = LiteSave(k, first);
        Record second;
        LoadLiteBytes(k, second, save1.data(), save1.size());
        save2 = LiteSave(k, second);
    }
    if (save1 != save2) std::abort();
    Evaluate(k, first);
    return 0;
}
