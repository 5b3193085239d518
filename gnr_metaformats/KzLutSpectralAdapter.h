// The one place the plane-set colour query reads LUT parameters: the colour
// mode, the component count, the component colours and the group test of
// their spectral data. Until the LUT parameter classes exist, the installed
// adapter is a stand-in that reports no spectral data, so a LUT given to the
// colour query acts as absent. Internal to the library.
#pragma once

#include "gnr_system/kz_base.h"

class CKzRangeMask;
struct SKzLutParam;

namespace kzlut {

// Spectral data of one LUT parameter object.
class SpectralView {
public:
    virtual ~SpectralView() {}
    // False when the object carries no spectral data.
    virtual bool HasSpectralData() const = 0;
    // 0 true colour, 1 custom colours, 2 grouped, 3 grey scale.
    virtual int GetMode() const = 0;
    virtual unsigned GetCompCount() const = 0;
    // One 0x00BBGGRR colour per component (GetCompCount entries).
    virtual void GetCompColors(unsigned* colours, bool keepTopByte, bool dimDisabled) const = 0;
    virtual bool IsGroupMask(const CKzRangeMask& m, unsigned* first) const = 0;
};

// Makes the view of a LUT parameter object into storage the caller provides
// (at least kViewBytes bytes, suitably aligned) and returns it.
constexpr unsigned kViewBytes = 64;
typedef SpectralView* (*ViewFactory)(SKzLutParam* lut, void* storage);

// The installed factory; the stand-in when none was installed.
ViewFactory GetViewFactory();
// Installs a factory (null restores the stand-in); returns the previous one.
ViewFactory SetViewFactory(ViewFactory factory);

} // namespace kzlut
