// STUB: replaced by the real implementation.
#include "lumivex/grin.h"
namespace lumivex {
TGRIN::TGRIN(double z, double n0_, double g_, double h4_, double h6_)
    : TElement(z), n0(n0_), g(g_), h4(h4_), h6(h6_), step(0) {}
TGRIN::~TGRIN() = default;
void TGRIN::traceBeam(TBeam&, const TElement&) { throw xmsg("not built yet"); }
TBeamNode TGRIN::RKStep(TBeamNode& node, const TVector&) { return node; }
TVector TGRIN::exitNormal(const TVector&) const { return {0, 0, 1}; }
TVector TGRIN::findInitialValues(const TBeamNode&) const { return {}; }
TVector TGRIN::RungeKutta(TVector& y, const TVector&, double, double) { return y; }
}  // namespace lumivex
