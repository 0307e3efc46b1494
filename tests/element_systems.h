// SPDX-License-Identifier: Apache-2.0
// Small systems that put one element of every kind the library provides in
// the path of rays, some of which fail there: for the batch-tracing tests.
#ifndef LUMIVEX_TESTS_ELEMENT_SYSTEMS_H
#define LUMIVEX_TESTS_ELEMENT_SYSTEMS_H

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "lumivex/field.h"
#include "lumivex/grin.h"
#include "lumivex/surfaces.h"
#include "lumivex/system.h"

namespace lumivex::test_systems {

// Every kind of the catalogue that has elements of its own class (the
// abstract kinds have none); a test checks the two lists agree.
constexpr int kElementKinds = 13;

// Air, a flat entry face into glass of index 1.5, the element of kind k
// leaving the glass at z = 5 (a steep face sends rays past total internal
// reflection, a conic ends where rays still arrive), and a screen. The last
// kind is a quarter-pitch gradient-index rod behind the entry face, whose
// profile fails beyond 1/g = 5 from the axis.
inline std::unique_ptr<TOpticalSystem> elementSystem(int k, std::string& name) {
    auto system = std::make_unique<TOpticalSystem>(12.0);
    system->addElement(new TSlab(0.0, complex(1.0, 0.0)));
    const complex glass(1.5, 0.0);
    TElement* e = nullptr;
    switch (k) {
        case 0: name = "Slab"; e = new TSlab(5.0, glass); break;
        case 1: name = "Lens"; e = new TLens(5.0, glass, 0.0, 1.0, 20.0); break;
        case 2: name = "GeneralLens"; e = new TGeneralLens(5.0, glass, 0.0, -12.0, -0.5); break;
        case 3: name = "SphericalLens"; e = new TSphericalLens(5.0, glass, 0.0, -8.0); break;
        case 4: name = "EllipticalLens"; e = new TEllipticalLens(5.0, glass, 0.0, 6.0, 7.0); break;
        case 5: name = "HyperbolicLens"; e = new THyperbolicLens(5.0, glass, 0.0, 5.0, 4.0); break;
        case 6: name = "FresnelLens"; e = new TFresnelLens(5.0, glass, 0.5, 1.5, 30.0); break;
        case 7: {
            name = "PolynomialSurface";
            auto* s = new TPolynomialSurface(5.0, glass, 0.0);
            s->setCoefficients({0.0, 0.0, -0.03, 0.0, -2e-4});
            e = s;
            break;
        }
        case 8: {
            name = "PolynomialXYSurface";
            auto* s = new TPolynomialXYSurface(5.0, glass, 0.0, 3, 3);
            s->setCoefficient(2, 0, -0.04);
            s->setCoefficient(0, 2, -0.02);
            s->setCoefficient(1, 1, 0.01);
            e = s;
            break;
        }
        case 9: {
            name = "MatrixSurface";
            auto* table = new TMatrix(41, 41);
            for (int r = 0; r < 41; ++r)
                for (int c = 0; c < 41; ++c) {
                    const double x = (c - 20.5) * 0.5, y = (r - 20.5) * 0.5;
                    table->at(c, r) = complex(-0.03 * (x * x + 0.5 * y * y), 0.0);
                }
            e = new TMatrixSurface(5.0, glass, 0.5, 0.5, table);
            break;
        }
        case 10: name = "MatrixLens"; e = new TMatrixLens(5.0, glass, -20.0, 0.0, 0.0, 41, 41, 0.5, 0.5); break;
        case 11:
            name = "EvenAsphere";
            e = new TEvenAsphere(5.0, glass, 0.0, -12.0, -0.5, {-1e-4, 2e-6});
            break;
        default: name = "GrinRod"; e = new TGrinRod(3.14159 / (2 * 0.2), 1.6, 0.2, 0.0, 0.0); break;
    }
    system->addElement(e);
    system->addElement(new TSlab(30.0, complex(1.0, 0.0)));
    return system;
}

// Rays from z = −2 across and beyond the aperture, some steep, a few
// running towards −z.
inline std::vector<TBeamNode> elementRays(int count) {
    std::vector<TBeamNode> rays;
    for (int i = 0; i < count; ++i) {
        const double t = 2.399963 * i;  // the golden angle spreads them evenly
        const double rho = 10.5 * std::sqrt((i + 0.5) / count);
        const double tilt = 0.9 * ((i * 7) % 11) / 10.0;
        const TVector k = TVector(tilt * std::cos(3 * t), tilt * std::sin(3 * t),
                                  i % 23 == 5 ? -1.0 : 1.0)
                              .unit();
        rays.emplace_back(TVector(rho * std::cos(t), rho * std::sin(t), -2.0), k, 1.0,
                          TVector(0.0, 1.0, 0.0).cross(k).unit(), 0.0);
    }
    return rays;
}

}  // namespace lumivex::test_systems

#endif
