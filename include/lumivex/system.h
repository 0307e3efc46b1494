// SPDX-License-Identifier: Apache-2.0
// The element interface and the optical system that owns and traces elements.
#ifndef LUMIVEX_SYSTEM_H
#define LUMIVEX_SYSTEM_H

#include <iosfwd>

#include "lumivex/export.h"
#include "lumivex/geometry.h"
#include "lumivex/numeric.h"

namespace lumivex {

// What every optical element is. A plain TElement lets beams pass unchanged,
// stands for a medium of index 1, and has no outline and no record. Element
// classes derive from it virtually, so every element has exactly one
// TElement part.
//
// Index convention: getRefIndex describes the medium in front of the element
// (between the previous element and this one). Tracing refracts from this
// element's index into the index of the element behind it.
class LUMIVEX_API TElement {
public:
    explicit TElement(double zPosition = 0.0);
    virtual ~TElement();

    double zPosition;  // axial position of the element's reference plane
    double radius;     // nominal aperture radius; 0 means not set
    double optRadius;  // largest ray height traced at this element; 0: none

    // optRadius if it is positive, otherwise radius.
    double getRadius() const;

    // Continues the beam from its last node through this element; `next`
    // supplies the index of the medium behind it.
    virtual void traceBeam(TBeam& beam, const TElement& next);
    // Index of the medium in front of the element at point p; the real part
    // is the refractive index used in tracing. The double is unused (0.0).
    virtual complex getRefIndex(const TVector& p, double unused) const;
    // Appends the meridional (x–z) outline for half-width r; `reverse` lists
    // it from +r to −r instead of from −r to +r.
    virtual void getPolygon(TPolygon& polygon, bool reverse, double r) const;
    // Writes the element's description record (nothing for a plain element).
    virtual std::ostream& write(std::ostream& os) const;
};

// An ordered list of elements in the order light meets them. The system owns
// its elements and drives tracing through them.
class LUMIVEX_API TOpticalSystem {
public:
    explicit TOpticalSystem(double defaultRadius);
    TOpticalSystem(TOpticalSystem&&) noexcept;
    TOpticalSystem& operator=(TOpticalSystem&&) noexcept;
    virtual ~TOpticalSystem();

    // Given to every added element whose radius is exactly 0.
    double defaultRadius;

    // Takes the element over; gives it defaultRadius if its radius is 0.
    void addElement(TElement* element);
    int getSize() const { return elements.count(); }
    // Element i, or null outside 0 … size − 1.
    TElement* operator[](int i) const { return elements[i]; }
    // The last element, or null for an empty system.
    TElement* getLast() const;

    // Traces the beam through every element, each with its successor, the
    // last with a plain element (index 1) behind it. A failure reaches the
    // caller as an xmsg prefixed with "TOpticalSystem::traceBeam: \n"; the
    // nodes appended before it stay in the beam.
    virtual void traceBeam(TBeam& beam);
    // Resets the traced radii, then traces every beam in order.
    void traceBeamFan(TBeamFan& fan);
    // Sets optRadius to 0 for every element but the last.
    void initOptRadius();

    // Writes the system's description: the header, the default radius, one
    // record line per element.
    virtual std::ostream& operator<<(std::ostream& os) const;
    // Reads a description and appends its elements; stops at the first
    // extraction that fails, leaving the stream failed for the caller.
    virtual std::istream& operator>>(std::istream& is);
    // Reads the description in the named file; a file that cannot be opened
    // leaves the system unchanged.
    void open(const char* fileName);

private:
    TIArrayAsVector<TElement> elements;
};

LUMIVEX_API std::ostream& operator<<(std::ostream& os, const TOpticalSystem& system);
LUMIVEX_API std::istream& operator>>(std::istream& is, TOpticalSystem& system);

}  // namespace lumivex

#endif
