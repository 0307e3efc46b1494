// STUB: replaced by the real implementation.
#include <istream>
#include "lumivex/surfaces.h"
namespace lumivex {
TLens::TLens(double z, const complex& n, double hm, double n2, double v)
    : TElement(z), TGeneralLens(z, n, hm, -0.5 * v, 0), secondIndex(n2), vertexLength(v) {}
std::ostream& TLens::write(std::ostream& os) const { return os; }
std::istream& TLens::read(std::istream& is) { return is; }
}  // namespace lumivex
