// SPDX-License-Identifier: Apache-2.0
// Geometry and beam model: vectors, beam nodes, beams, fans, outline polygons
// and the owning pointer array behind the collections.
//
// Coordinates are right-handed Cartesian; z is the optical axis and light
// travels towards larger z. All lengths (positions, radii, wavelengths) share
// one unit chosen by the host.
#ifndef LUMIVEX_GEOMETRY_H
#define LUMIVEX_GEOMETRY_H

#include <cmath>
#include <exception>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "lumivex/export.h"
#include "lumivex/numeric.h"

namespace lumivex {

// A point or direction in three dimensions. A small value type: copies are
// member-wise and every operation is computed component by component.
struct TVector {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;

    TVector() = default;
    TVector(double x_, double y_, double z_) : x(x_), y(y_), z(z_) {}

    TVector operator+(const TVector& b) const { return {x + b.x, y + b.y, z + b.z}; }
    TVector operator-(const TVector& b) const { return {x - b.x, y - b.y, z - b.z}; }
    TVector operator*(double s) const { return {x * s, y * s, z * s}; }
    TVector operator-() const { return {-x, -y, -z}; }
    TVector& operator+=(const TVector& b) { x += b.x; y += b.y; z += b.z; return *this; }
    TVector& operator-=(const TVector& b) { x -= b.x; y -= b.y; z -= b.z; return *this; }
    TVector& operator*=(double s) { x *= s; y *= s; z *= s; return *this; }
    bool operator==(const TVector& b) const { return x == b.x && y == b.y && z == b.z; }
    bool operator!=(const TVector& b) const { return !(*this == b); }

    double dot(const TVector& b) const { return x * b.x + y * b.y + z * b.z; }
    TVector cross(const TVector& b) const {
        return {y * b.z - z * b.y, z * b.x - x * b.z, x * b.y - y * b.x};
    }
    double length() const { return std::sqrt(dot(*this)); }
    // Multiplies by the reciprocal of the length (computed once); the zero
    // vector stays zero.
    TVector unit() const {
        const double len = length();
        if (len == 0.0) return {};
        const double r = 1.0 / len;
        return {x * r, y * r, z * r};
    }
};

inline TVector operator*(double s, const TVector& v) { return v * s; }

// Text form "(x,y,z)" with the stream's own number formatting.
inline std::ostream& operator<<(std::ostream& os, const TVector& v) {
    return os << '(' << v.x << ',' << v.y << ',' << v.z << ')';
}

// Turns v about the axis (ax, ay, az) (normalised here) by -angle: the
// right-handed rotation with the angle negated, Rodrigues' formula
// v·C + (v × u)·S + u·(u·v)·(1 − C). With the axis K × k and the angle
// between k and K it carries k onto K, and with it a polarization vector.
LUMIVEX_API TVector rotateAboutAxis(double vx, double vy, double vz, double ax, double ay,
                                    double az, double angle);

// An indexed array of pointers that owns what it points to. Room for
// `capacity` items at first; a full array grows by `growthStep` slots. Items
// stay at the index they were added at and are deleted with the array.
template <class T>
class TIArrayAsVector {
public:
    explicit TIArrayAsVector(int capacity = 11, int growthStep = 100)
        : slots(capacity > 0 ? capacity : 0, nullptr), step(growthStep > 0 ? growthStep : 1) {}
    ~TIArrayAsVector() {
        for (int i = 0; i < used; ++i) delete slots[static_cast<std::size_t>(i)];
    }
    TIArrayAsVector(const TIArrayAsVector&) = delete;
    TIArrayAsVector& operator=(const TIArrayAsVector&) = delete;
    TIArrayAsVector(TIArrayAsVector&& other) noexcept
        : slots(std::move(other.slots)), used(other.used), step(other.step) {
        other.slots.clear();
        other.used = 0;
    }
    TIArrayAsVector& operator=(TIArrayAsVector&& other) noexcept {
        if (this != &other) {
            for (int i = 0; i < used; ++i) delete slots[static_cast<std::size_t>(i)];
            slots = std::move(other.slots);
            used = other.used;
            step = other.step;
            other.slots.clear();
            other.used = 0;
        }
        return *this;
    }

    // Appends the pointer and takes the item over; when no larger block of
    // slots can be had, throws xmsg and the item stays the caller's.
    void add(T* item) {
        if (used == capacity()) {
            const std::size_t size = slots.size() + static_cast<std::size_t>(step);
            try {
                slots.resize(size, nullptr);
            } catch (const std::exception&) {  // std::bad_alloc, std::length_error
                throw xmsg("TIArrayAsVector::add: no memory for " + std::to_string(size) +
                           " slots");
            }
        }
        slots[static_cast<std::size_t>(used++)] = item;
    }
    int count() const { return used; }
    int capacity() const { return static_cast<int>(slots.size()); }
    // The item at i, or null outside 0 … count − 1.
    T* operator[](int i) const {
        return (i >= 0 && i < used) ? slots[static_cast<std::size_t>(i)] : nullptr;
    }

private:
    std::vector<T*> slots;
    int used = 0;
    int step;
};

// One recorded state of a ray.
struct LUMIVEX_API TBeamNode {
    TVector position;      // where the ray is
    TVector kVector;       // unit propagation direction leaving this node
    TVector polarization;  // unit electric-field direction leaving this node
    double intensity = 1.0;    // power relative to the start of the beam
    double opticalPath = 0.0;  // accumulated optical phase, radians

    TBeamNode() = default;
    // Note the argument order: intensity comes before polarization.
    TBeamNode(const TVector& position_, const TVector& kVector_, double intensity_,
              const TVector& polarization_, double opticalPath_)
        : position(position_),
          kVector(kVector_),
          polarization(polarization_),
          intensity(intensity_),
          opticalPath(opticalPath_) {}
};

LUMIVEX_API std::ostream& operator<<(std::ostream& os, const TBeamNode& node);

// One ray: the append-only list of the nodes at which its state was recorded,
// and its vacuum wavelength in the system's length unit. Optical phase grows
// by 2·π·n·d/λ along every segment.
class LUMIVEX_API TBeam {
public:
    explicit TBeam(double wavelength);

    double wavelength;

    // Appends a copy of the node.
    TBeam& addNode(const TBeamNode& node);
    int getSize() const { return static_cast<int>(nodes.size()); }
    // Drops every node but keeps the room they took, so that a beam reused
    // ray after ray stops allocating once it has held its longest ray.
    void clear() { nodes.clear(); }
    // The stored last node; throws "TBeam access violation!" on an empty beam.
    TBeamNode& getLast();
    const TBeamNode& getLast() const;
    // A copy of node i; throws "TBeam access violation!" outside 0 … size − 1.
    TBeamNode operator[](int i) const;
    // The point of the ray at optical phase s, interpolated linearly between
    // the first pair of nodes (from node 1 on) whose phase reaches s, and
    // extrapolated along the first or last segment outside the beam.
    TVector getOpticalPathPoint(double s) const;

private:
    std::vector<TBeamNode> nodes;
};

// Beams traced together. The fan owns its beams.
class LUMIVEX_API TBeamFan {
public:
    TBeamFan();
    TBeamFan(TBeamFan&&) noexcept;
    TBeamFan& operator=(TBeamFan&&) noexcept;
    ~TBeamFan();

    // Takes the beam over.
    TBeamFan& addBeam(TBeam* beam);
    int getSize() const { return beams.count(); }
    // Beam i, or null outside 0 … size − 1.
    TBeam* operator[](int i) const { return beams[i]; }

private:
    TIArrayAsVector<TBeam> beams;
};

// An outline in the x–z plane, in drawing order; it does not close itself.
class LUMIVEX_API TPolygon {
public:
    TPolygon();
    TPolygon(const TPolygon& other);
    TPolygon& operator=(const TPolygon& other);
    TPolygon(TPolygon&&) noexcept;
    TPolygon& operator=(TPolygon&&) noexcept;
    ~TPolygon();

    // Appends a copy of the point.
    TPolygon& addPoint(const TVector& point);
    int getSize() const { return points.count(); }
    // A copy of point i; throws "TPolygon access violation!" outside the list.
    TVector operator[](int i) const;

private:
    TIArrayAsVector<TVector> points;
};

}  // namespace lumivex

#endif
