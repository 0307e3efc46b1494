// SPDX-License-Identifier: Apache-2.0
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
// The elements of a system, or of a prescription, in order.
using ElementList = std::vector<TElement*>;
double valueIn(const ElementList& elements, const TDesignVariable& variable);
// Sets a curvature, conic or asphere term (not a thickness); an xmsg when
// the element cannot take the value.
void setShape(TElement& element, const TDesignVariable& variable, double value);
// Restores every element to `base` (elementState of each, as first seen)
// and applies the values there: a thickness moves every element behind.
void applyValues(const ElementList& elements, const std::vector<std::vector<double>>& base,
                 const std::vector<TDesignVariable>& variables, const std::vector<double>& values);

}  // namespace detail
}  // namespace lumivex

#endif
