// The LUT adapter of the plane-set colour query and its stand-in.
#include "gnr_metaformats/KzLutSpectralAdapter.h"

#include <atomic>
#include <new>

namespace kzlut {

namespace {

class NoSpectralData : public SpectralView {
public:
    bool HasSpectralData() const override { return false; }
    int GetMode() const override { return 0; }
    unsigned GetCompCount() const override { return 0; }
    void GetCompColors(unsigned*, bool, bool) const override {}
    bool IsGroupMask(const CKzRangeMask&, unsigned*) const override { return false; }
};

static_assert(sizeof(NoSpectralData) <= kViewBytes, "view storage too small");

SpectralView* StandIn(SKzLutParam*, void* storage) { return new (storage) NoSpectralData(); }

std::atomic<ViewFactory> g_factory{&StandIn};

} // namespace

ViewFactory GetViewFactory() { return g_factory.load(std::memory_order_acquire); }

ViewFactory SetViewFactory(ViewFactory factory)
{
    return g_factory.exchange(factory ? factory : &StandIn, std::memory_order_acq_rel);
}

} // namespace kzlut
