// STUB: replaced by the real implementation.
#include <istream>
#include "lumivex/grin.h"
namespace lumivex {
TGrinRod::TGrinRod() : TElement(0), TGRIN(0, 0, 0, 0, 0) {}
TGrinRod::TGrinRod(double z, double n0_, double g_, double h4_, double h6_)
    : TElement(z), TGRIN(z, n0_, g_, h4_, h6_) {}
TGrinRod::~TGrinRod() = default;
double TGrinRod::exitHeight(const TVector&) const { return 0; }
TBeamNode TGrinRod::RKStep(TBeamNode& node, const TVector&) { return node; }
TVector TGrinRod::P(const TVector&, const TVector&, double) const { return {}; }
TVector TGrinRod::findSurfaceIntersection(const TBeamNode&) const { return {}; }
complex TGrinRod::getRefIndex(const TVector&, double) const { return {n0, 0}; }
void TGrinRod::getPolygon(TPolygon&, bool, double) const {}
std::ostream& TGrinRod::write(std::ostream& os) const { return os; }
std::istream& TGrinRod::read(std::istream& is) { return is; }
}  // namespace lumivex
