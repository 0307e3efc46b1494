// STUB: replaced by the real implementation.
#include "lumivex/surfaces.h"
namespace lumivex {
TSurface::TSurface(double z, const complex& n) : TElement(z), refIndex(n) {}
TSurface::~TSurface() = default;
void TSurface::traceBeam(TBeam&, const TElement&) { throw xmsg("not built yet"); }
complex TSurface::getRefIndex(const TVector&, double) const { return refIndex; }
TVector TSurface::getSurfaceNormal(const TVector&) const { return {0, 0, 1}; }
void TSurface::getPolygon(TPolygon&, bool, double) const {}
}  // namespace lumivex
