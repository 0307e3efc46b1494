// SPDX-License-Identifier: Apache-2.0
// The physical laws every beam keeps that was traced without failure, through
// any system: each node has a finite position and a finite direction of unit
// length, no node carries more power than the beam started with nor a
// negative one, and the optical path never runs backwards. Shared by the unit
// tests and the fuzz targets.
#ifndef LUMIVEX_TESTS_BEAM_INVARIANTS_H
#define LUMIVEX_TESTS_BEAM_INVARIANTS_H

#include <cmath>
#include <sstream>
#include <string>

#include "lumivex/geometry.h"

namespace lumivex {
namespace invariants {

inline bool isFinite(const TVector& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

// Empty when the nodes from `first` on keep the laws, relative to node 0 (the
// start, whose direction a host may have given sloppily); otherwise what the
// first broken law is, and where.
inline std::string violation(const TBeam& beam, int first = 1) {
    if (beam.getSize() == 0) return {};
    const TBeamNode start = beam[0];
    double path = beam[first > 0 ? first - 1 : 0].opticalPath;
    for (int i = first; i < beam.getSize(); ++i) {
        const TBeamNode node = beam[i];
        const char* broken = nullptr;
        if (!isFinite(node.position))
            broken = "position not finite";
        else if (!isFinite(node.kVector))
            broken = "direction not finite";
        else if (!(std::fabs(node.kVector.length() - 1.0) <= 1e-12))
            broken = "direction not of unit length";
        else if (!(node.intensity >= 0.0))
            broken = "negative intensity";
        else if (!(node.intensity <= start.intensity * (1.0 + 1e-12)))
            broken = "more intensity than at the start";
        else if (!(node.opticalPath >= path))
            broken = "optical path decreasing";
        if (broken) {
            std::ostringstream os;
            os.precision(17);
            os << broken << " at node " << i << " of " << beam.getSize() << ": " << node
               << " (start " << start << ")";
            return os.str();
        }
        path = node.opticalPath;
    }
    return {};
}

}  // namespace invariants
}  // namespace lumivex

#endif
