// SPDX-License-Identifier: Apache-2.0
#include <fstream>
#include <istream>
#include <ostream>

#include "lumivex/system.h"
#include "system/element_checks.h"

namespace lumivex {

TOpticalSystem::TOpticalSystem(double defaultRadius_) : defaultRadius(defaultRadius_) {
    detail::requireFinite("TOpticalSystem", "the default radius", defaultRadius);
}

TOpticalSystem::TOpticalSystem(TOpticalSystem&&) noexcept = default;
TOpticalSystem& TOpticalSystem::operator=(TOpticalSystem&&) noexcept = default;
TOpticalSystem::~TOpticalSystem() = default;

void TOpticalSystem::addElement(TElement* element) {
    if (element == nullptr) throw xmsg("TOpticalSystem::addElement: null element");
    if (element->radius == 0.0) element->radius = defaultRadius;
    elements.add(element);
}

TElement* TOpticalSystem::getLast() const { return elements[elements.count() - 1]; }

void TOpticalSystem::traceBeam(TBeam& beam) {
    const int n = getSize();
    if (n == 0) return;  // nothing to pass through: the beam stays as it is
    try {
        for (int i = 0; i + 1 < n; ++i) elements[i]->traceBeam(beam, *elements[i + 1]);
        // Behind the last element lies a medium of index 1.
        const TElement behind(0.0);
        getLast()->traceBeam(beam, behind);
    } catch (const xmsg& e) {
        throw xmsg("TOpticalSystem::traceBeam: \n" + e.message());
    }
}

void TOpticalSystem::traceBeamFan(TBeamFan& fan) {
    initOptRadius();
    for (int i = 0; i < fan.getSize(); ++i) traceBeam(*fan[i]);
}

void TOpticalSystem::initOptRadius() {
    // The last element keeps its traced radius across resets.
    for (int i = 0; i + 1 < getSize(); ++i) elements[i]->optRadius = 0.0;
}

std::ostream& TOpticalSystem::operator<<(std::ostream& os) const {
    os << "OpticalSystem" << '\n' << std::flush;
    os << defaultRadius << '\n' << std::flush;
    for (int i = 0; i < getSize(); ++i) {
        elements[i]->write(os);
        os << '\n' << std::flush;
    }
    return os;
}

void TOpticalSystem::open(const char* fileName) {
    if (fileName == nullptr) return;
    std::ifstream file(fileName);
    if (!file.fail() && !file.bad()) *this >> file;
}

std::ostream& operator<<(std::ostream& os, const TOpticalSystem& system) {
    return system.operator<<(os);
}

std::istream& operator>>(std::istream& is, TOpticalSystem& system) {
    return system.operator>>(is);
}

}  // namespace lumivex
