// Setting design variables on elements, and keeping an element's shape so
// that it can be restored to the bit.
#ifndef LUMIVEX_OPTIMIZE_VARIABLES_H
#define LUMIVEX_OPTIMIZE_VARIABLES_H

#include <vector>

#include "lumivex/optimize.h"
#include "lumivex/system.h"

namespace lumivex {
namespace detail {

// The element's position and shape parameters, as restoreState takes them.
std::vector<double> elementState(const TElement& element);
void restoreState(TElement& element, const std::vector<double>& state);
// Sets a curvature, conic or asphere term (not a thickness); an xmsg when
// the element cannot take the value.
void setShape(TOpticalSystem& system, const TDesignVariable& variable, double value);

}  // namespace detail
}  // namespace lumivex

#endif
