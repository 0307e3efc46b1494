// STUB: replaced by the real implementation.
#include "lumivex/surfaces.h"
namespace lumivex {
TGeneralLens::TGeneralLens(double z, const complex& n, double hm, double R, double k)
    : TElement(z), TFunctionalSurface(z, n, hm), curvatureRadius(R), conicConstant(k) {}
double TGeneralLens::heightFunction(const TVector&) const { return 0; }
TVector TGeneralLens::heightDerivative(const TVector&) const { return {}; }
}  // namespace lumivex
