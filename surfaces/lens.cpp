// SPDX-License-Identifier: Apache-2.0
// The conic surface of the description format, set by a second index and a
// vertex length instead of a radius and a conic constant.
#include "lumivex/surfaces.h"
#include "system/element_checks.h"

namespace lumivex {

namespace {

// A conic of eccentricity n/secondIndex. secondIndex 0 gives a constant that
// is not finite; the shape then refuses to give heights.
double conicFromIndices(double n, double secondIndex) {
    const double eccentricity = n / secondIndex;
    return -(eccentricity * eccentricity);
}

}  // namespace

TLens::TLens(double zPosition_, const complex& refIndex_, double heightModulus_,
             double secondIndex_, double vertexLength_)
    : TElement(zPosition_),
      TGeneralLens(zPosition_, complex(refIndex_.real(), 0.0), heightModulus_, -0.5 * vertexLength_,
                   0.0),
      secondIndex(secondIndex_),
      vertexLength(vertexLength_) {
    detail::requireFinite("TLens", "the second index", secondIndex);
    detail::requireFinite("TLens", "the vertex length", vertexLength);
    // Derived, and not finite for a second index of 0, which a record cut
    // short leaves: such a lens refuses to give heights.
    conicConstant = conicFromIndices(refIndex.real(), secondIndex);
}

}  // namespace lumivex
