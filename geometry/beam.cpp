// SPDX-License-Identifier: Apache-2.0
#include <exception>
#include <ostream>
#include <string>

#include "lumivex/geometry.h"

namespace lumivex {

std::ostream& operator<<(std::ostream& os, const TBeamNode& node) {
    return os << "{position " << node.position << ", kVector " << node.kVector << ", polarization "
              << node.polarization << ", intensity " << node.intensity << ", opticalPath "
              << node.opticalPath << '}';
}

// ---- TBeam ---------------------------------------------------------------

TBeam::TBeam(double wavelength_) : wavelength(wavelength_) {}

// The nodes lie in one block that grows by a sixteenth of the beam, at least
// one node: a beam never holds more than 1/16 spare room (short beams none),
// and a long one is copied about sixteen times per node over its life.
TBeam& TBeam::addNode(const TBeamNode& node) {
    const std::size_t size = nodes.size();
    if (size == nodes.capacity()) {
        const TBeamNode copy = node;  // `node` may lie in the block that moves
        const std::size_t capacity = size + (size / 16 > 0 ? size / 16 : 1);
        try {
            nodes.reserve(capacity);
        } catch (const std::exception&) {  // std::bad_alloc, std::length_error
            throw xmsg("TBeam::addNode: no memory for a beam of " + std::to_string(capacity) +
                       " nodes");
        }
        nodes.push_back(copy);
    } else {
        nodes.push_back(node);
    }
    return *this;
}

TBeamNode& TBeam::getLast() {
    if (nodes.empty()) throw xmsg("TBeam access violation!");
    return nodes.back();
}

const TBeamNode& TBeam::getLast() const {
    if (nodes.empty()) throw xmsg("TBeam access violation!");
    return nodes.back();
}

TBeamNode TBeam::operator[](int i) const {
    if (i < 0 || i >= getSize()) throw xmsg("TBeam access violation!");
    return nodes[static_cast<std::size_t>(i)];
}

TVector TBeam::getOpticalPathPoint(double s) const {
    const std::size_t n = nodes.size();
    if (n == 0) return {};
    if (n == 1) return nodes[0].position;
    // Linear search from the start: the first node from node 1 on whose phase
    // reaches s, or the last node; outside the beam the end segments extend.
    const TBeamNode* prev = &nodes[0];
    const TBeamNode* cur = &nodes[1];
    for (std::size_t k = 2; cur->opticalPath < s && k < n; ++k) {
        prev = cur;
        cur = &nodes[k];
    }
    const double span = cur->opticalPath - prev->opticalPath;
    if (span == 0.0) return cur->position;  // a segment without phase has no inside
    const double t = (s - prev->opticalPath) / span;
    const TVector d = cur->position - prev->position;
    return prev->position + d * t;
}

// ---- TBeamFan ------------------------------------------------------------

TBeamFan::TBeamFan() = default;
TBeamFan::TBeamFan(TBeamFan&&) noexcept = default;
TBeamFan& TBeamFan::operator=(TBeamFan&&) noexcept = default;
TBeamFan::~TBeamFan() = default;

TBeamFan& TBeamFan::addBeam(TBeam* beam) {
    beams.add(beam);
    return *this;
}

// ---- TPolygon ------------------------------------------------------------

TPolygon::TPolygon() = default;

TPolygon::TPolygon(const TPolygon& other) {
    for (int i = 0; i < other.getSize(); ++i) addPoint(*other.points[i]);
}

TPolygon& TPolygon::operator=(const TPolygon& other) {
    if (this != &other) {
        TPolygon copy(other);
        points = std::move(copy.points);
    }
    return *this;
}

TPolygon::TPolygon(TPolygon&&) noexcept = default;
TPolygon& TPolygon::operator=(TPolygon&&) noexcept = default;
TPolygon::~TPolygon() = default;

TPolygon& TPolygon::addPoint(const TVector& point) {
    points.add(new TVector(point));
    return *this;
}

TVector TPolygon::operator[](int i) const {
    const TVector* p = points[i];
    if (p == nullptr) throw xmsg("TPolygon access violation!");
    return *p;
}

}  // namespace lumivex
