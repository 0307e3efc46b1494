// STUB: replaced by the real implementation.
#include "lumivex/surfaces.h"
namespace lumivex {
TFunctionalSurface::TFunctionalSurface(double z, const complex& n, double hm)
    : TElement(z), TSurface(z, n), heightModulus(hm) {}
TVector TFunctionalSurface::findSurfaceIntersection(const TBeamNode&) const { throw xmsg("not built yet"); }
TVector TFunctionalSurface::getSurfaceNormal(const TVector&) const { return {0, 0, 1}; }
void TFunctionalSurface::getPolygon(TPolygon&, bool, double) const {}
double TFunctionalSurface::Height(const TVector& p) const { return heightFunction(p); }
}  // namespace lumivex
