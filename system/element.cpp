// SPDX-License-Identifier: Apache-2.0
#include <ostream>

#include "lumivex/system.h"
#include "system/element_checks.h"

namespace lumivex {

TElement::TElement(double zPosition_) : zPosition(zPosition_), radius(0.0), optRadius(0.0) {
    detail::requireFinite("TElement", "the z position", zPosition);
}

TElement::~TElement() = default;

double TElement::getRadius() const { return optRadius > 0.0 ? optRadius : radius; }

void TElement::traceBeam(TBeam&, const TElement&) {}

complex TElement::getRefIndex(const TVector&, double) const { return {1.0, 0.0}; }

void TElement::getPolygon(TPolygon&, bool, double) const {}

std::ostream& TElement::write(std::ostream& os) const { return os; }

}  // namespace lumivex
