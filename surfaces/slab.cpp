// STUB: replaced by the real implementation.
#include <istream>
#include "lumivex/surfaces.h"
namespace lumivex {
TSlab::TSlab(double z, const complex& n) : TElement(z), TSurface(z, n) {}
TVector TSlab::findSurfaceIntersection(const TBeamNode&) const { throw xmsg("not built yet"); }
std::ostream& TSlab::write(std::ostream& os) const { return os; }
std::istream& TSlab::read(std::istream& is) { return is; }
}  // namespace lumivex
