// SPDX-License-Identifier: Apache-2.0
// The element catalogue: one entry per element kind. Adding a kind means
// writing its class and one entry here, in the list below, ahead of every
// kind it derives from.
#include <cmath>
#include <cstdio>
#include <type_traits>
#include <typeinfo>
#include <utility>

#include "description/kernel_shape.h"
#include "lumivex/description.h"
#include "lumivex/grin.h"
#include "lumivex/surfaces.h"

namespace lumivex {

namespace {

constexpr double kPi = 3.141592653589793;

// A number as a person reads it, six significant digits and no "-0".
std::string number(double value) {
    if (value == 0.0) value = 0.0;
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

using Parameters = std::vector<TElementParameter>;
using Values = std::vector<complex>;

double real(const Values& v, std::size_t i) { return v[i].real(); }

// The parts of a kind's entry that follow from its class alone.
template <class T>
TElementKind kind(const std::string& name) {
    TElementKind k;
    k.name = name;
    k.is = [](const TElement& e) { return dynamic_cast<const T*>(&e) != nullptr; };
    k.isExactly = [](const TElement& e) { return typeid(e) == typeid(T); };
    k.surface = std::is_base_of<TSurface, T>::value;
    k.gradientIndex = std::is_base_of<TGRIN, T>::value;
    // A surface's getRefIndex is its refIndex; a rod's index varies.
    k.constantIndex = !k.gradientIndex;
    return k;
}

// As kind<T>, and copies of elements of exactly that class.
template <class T>
TElementKind concreteKind(const std::string& name) {
    TElementKind k = kind<T>(name);
    k.clone = [](const TElement& e) -> std::unique_ptr<TElement> {
        return std::make_unique<T>(dynamic_cast<const T&>(e));
    };
    return k;
}

template <class T>
std::function<Parameters(const TElement&)> describedBy(Parameters (*f)(const T&)) {
    return [f](const TElement& e) { return f(dynamic_cast<const T&>(e)); };
}

// The parameters shared along the class tree, in the order a person reads
// them: the index first, the shape, then the folding depth where it folds.
Parameters surfaceParameters(const TSurface& s) { return {{"n", s.refIndex}}; }

void addFolding(Parameters& p, const TFunctionalSurface& s) {
    if (s.heightModulus != 0.0) p.push_back({"heightModulus", s.heightModulus});
}

Parameters functionalParameters(const TFunctionalSurface& s) {
    Parameters p = surfaceParameters(s);
    addFolding(p, s);
    return p;
}

Parameters conicParameters(const TGeneralLens& s) {
    Parameters p = surfaceParameters(s);
    p.push_back({"R", s.curvatureRadius});
    p.push_back({"conic", s.conicConstant});
    addFolding(p, s);
    return p;
}

Parameters lensParameters(const TLens& s) {
    Parameters p = surfaceParameters(s);
    p.push_back({"n2", s.secondIndex});
    p.push_back({"vertexLength", s.vertexLength});
    p.push_back({"R", s.curvatureRadius});
    p.push_back({"conic", s.conicConstant});
    addFolding(p, s);
    return p;
}

Parameters sphereParameters(const TSphericalLens& s) {
    Parameters p = surfaceParameters(s);
    p.push_back({"R", s.curvatureRadius});
    addFolding(p, s);
    return p;
}

template <class Conic>
Parameters semiAxisParameters(const Conic& s) {
    Parameters p = surfaceParameters(s);
    p.push_back({"a", s.axialSemiAxis});
    p.push_back({"b", s.radialSemiAxis});
    addFolding(p, s);
    return p;
}

Parameters fresnelParameters(const TFresnelLens& s) {
    Parameters p = surfaceParameters(s);
    p.push_back({"indexRatio", s.indexRatio});
    p.push_back({"f", s.focalLength});
    addFolding(p, s);
    return p;
}

Parameters matrixLensParameters(const TMatrixLens& s) {
    Parameters p = surfaceParameters(s);
    p.push_back({"nx", s.nx});
    p.push_back({"ny", s.ny});
    p.push_back({"dx", s.dx});
    p.push_back({"dy", s.dy});
    return p;
}

Parameters grinParameters(const TGRIN& rod) {
    Parameters p{{"n0", rod.n0}, {"g", rod.g}, {"h4", rod.h4}, {"h6", rod.h6}};
    if (rod.g > 0.0) p.push_back({"pitch", 2.0 * kPi / rod.g});
    return p;
}

// The vector kernels' shapes, each constant as the class computes it. A
// folded surface (height modulus not 0) takes the scalar path, as do the
// plane a zero radius stands for and a conic constant that is not finite,
// which the scalar code reports.
using detail::KernelShape;
using detail::SurfaceShape;

bool planeKernel(const TElement&, KernelShape& k) {
    k.shape = SurfaceShape::kPlane;
    return true;
}

bool sphereKernel(const TElement& e, KernelShape& k) {
    const auto& s = dynamic_cast<const TSphericalLens&>(e);
    if (s.heightModulus != 0.0) return false;
    k.shape = SurfaceShape::kSphere;
    k.sphere.R = s.curvatureRadius;
    k.sphere.R2 = s.curvatureRadius * s.curvatureRadius;
    return true;
}

detail::ConicConstants conicConstants(double curvatureRadius, double kappa) {
    detail::ConicConstants c;
    c.C = 1.0 / curvatureRadius;
    c.rootFactor = (1.0 + kappa) * c.C * c.C;
    c.C3 = c.C * c.C * c.C;
    c.kappaPlus1 = kappa + 1.0;
    c.twoC = 2.0 * c.C;
    return c;
}

// TGeneralLens and TLens, whose conic is the general lens's.
bool conicKernel(const TElement& e, KernelShape& k) {
    const auto& s = dynamic_cast<const TGeneralLens&>(e);
    if (s.heightModulus != 0.0 || s.curvatureRadius == 0.0 || !std::isfinite(s.conicConstant))
        return false;
    k.shape = SurfaceShape::kConic;
    k.conic = conicConstants(s.curvatureRadius, s.conicConstant);
    return true;
}

bool evenAsphereKernel(const TElement& e, KernelShape& k) {
    const auto& s = dynamic_cast<const TEvenAsphere&>(e);
    if (s.heightModulus != 0.0 || !std::isfinite(s.conicConstant)) return false;
    k.shape = SurfaceShape::kEvenAsphere;
    k.asphere.conicPart = s.curvatureRadius != 0.0;
    if (k.asphere.conicPart) k.conic = conicConstants(s.curvatureRadius, s.conicConstant);
    for (int i = 1; i <= detail::AsphereTerms::kCount; ++i) {
        const double a = s.getCoefficients()[static_cast<std::size_t>(i - 1)];
        k.asphere.alpha[i - 1] = a;
        k.asphere.slopeAlpha[i - 1] = 2.0 * i * a;
    }
    return true;
}

// The ellipse and the hyperbola.
template <class Conic, SurfaceShape shape>
bool semiAxisKernel(const TElement& e, KernelShape& k) {
    const auto& s = dynamic_cast<const Conic&>(e);
    if (s.heightModulus != 0.0) return false;
    const double a = s.axialSemiAxis, b = s.radialSemiAxis;
    k.shape = shape;
    k.semiAxes.a = a;
    k.semiAxes.b2 = b * b;
    k.semiAxes.aOverB = a / b;
    k.semiAxes.minusAOverB = -(a / b);
    return true;
}

// A record field held in a real data member of T (or of a base of T).
template <class T>
TRecordField realField(std::string key, std::string description, double T::*member,
                       bool positive = false) {
    TRecordField f{std::move(key), std::move(description), false, positive, {}, {}};
    f.get = [member](const TElement& e) { return complex(dynamic_cast<const T&>(e).*member); };
    f.set = [member](TElement& e, const complex& v) { dynamic_cast<T&>(e).*member = v.real(); };
    return f;
}

// The index of the medium behind a surface, read as a complex number. The
// slab's record keeps the whole index; the conic surfaces' records hold
// its real part (their write drops the absorption), which is what the
// record's values then show. A read assigns the whole value either way.
TRecordField indexField(bool wholeIndex) {
    TRecordField f{"n", "refractive index", true, true, {}, {}};
    f.get = [wholeIndex](const TElement& e) {
        const complex& n = dynamic_cast<const TSurface&>(e).refIndex;
        return wholeIndex ? n : complex(n.real(), 0.0);
    };
    f.set = [](TElement& e, const complex& v) { dynamic_cast<TSurface&>(e).refIndex = v; };
    return f;
}

TRecordField zField() { return realField<TElement>("z", "z position", &TElement::zPosition); }
TRecordField heightModulusField() {
    return realField<TFunctionalSurface>("heightModulus", "height modulus",
                                         &TFunctionalSurface::heightModulus);
}
template <class T>
TRecordField radiusField() {
    return realField<T>("R", "curvature radius", &T::curvatureRadius);
}
template <class T>
TRecordField conicField() {
    return realField<T>("conic", "conic constant", &T::conicConstant);
}

TElementKind slabKind() {
    TElementKind k = concreteKind<TSlab>("Slab");
    k.keyword = "Slab";
    k.fields = {zField(), indexField(true)};
    k.make = [](const Values& v) -> std::unique_ptr<TElement> {
        return std::make_unique<TSlab>(real(v, 0), v[1]);
    };
    k.parameters = describedBy<TSurface>(surfaceParameters);
    k.kernelShape = planeKernel;
    return k;
}

TElementKind lensKind() {
    TElementKind k = concreteKind<TLens>("Lens");
    k.keyword = "Lens";
    k.fields = {zField(), indexField(false),
                realField<TLens>("secondIndex", "second index", &TLens::secondIndex),
                realField<TLens>("vertexLength", "vertex length", &TLens::vertexLength),
                heightModulusField()};
    // The imaginary part of the index is dropped: the conic is real.
    k.make = [](const Values& v) -> std::unique_ptr<TElement> {
        return std::make_unique<TLens>(real(v, 0), complex(real(v, 1), 0.0), real(v, 4),
                                       real(v, 2), real(v, 3));
    };
    k.parameters = describedBy<TLens>(lensParameters);
    k.kernelShape = conicKernel;
    k.derived = [](const TElement& e) -> Parameters {
        const auto& s = dynamic_cast<const TLens&>(e);
        return {{"curvature radius", s.curvatureRadius}, {"conic constant", s.conicConstant}};
    };
    k.remarks = [](const TElement& e) {
        const auto& s = dynamic_cast<const TLens&>(e);
        std::vector<std::string> notes;
        if (s.secondIndex == 0.0)
            notes.push_back(
                "has second index 0, so its conic constant is not finite and rays through it "
                "fail");
        if (s.vertexLength == 0.0) notes.push_back("has vertex length 0: a flat surface");
        return notes;
    };
    return k;
}

TElementKind generalLensKind() {
    TElementKind k = concreteKind<TGeneralLens>("GeneralLens");
    k.keyword = "GeneralLens";
    k.fields = {zField(), indexField(false), heightModulusField(), radiusField<TGeneralLens>(),
                conicField<TGeneralLens>()};
    k.make = [](const Values& v) -> std::unique_ptr<TElement> {
        return std::make_unique<TGeneralLens>(real(v, 0), v[1], real(v, 2), real(v, 3),
                                              real(v, 4));
    };
    k.parameters = describedBy<TGeneralLens>(conicParameters);
    k.kernelShape = conicKernel;
    return k;
}

// The conic of the general lens plus α1·ρ² + … + α8·ρ¹⁶.
TElementKind evenAsphereKind() {
    TElementKind k = concreteKind<TEvenAsphere>("EvenAsphere");
    k.keyword = "EvenAsphere";
    k.fields = {zField(), indexField(false), heightModulusField(), radiusField<TEvenAsphere>(),
                conicField<TEvenAsphere>()};
    for (int i = 1; i <= TEvenAsphere::kMaxCoefficients; ++i) {
        const std::string n = std::to_string(i);
        const auto at = static_cast<std::size_t>(i - 1);
        TRecordField f{"a" + n, "coefficient a" + n + " (of r^" + std::to_string(2 * i) + ")",
                       false, false, {}, {}};
        f.get = [at](const TElement& e) {
            return complex(dynamic_cast<const TEvenAsphere&>(e).getCoefficients()[at]);
        };
        f.set = [at](TElement& e, const complex& v) {
            auto& s = dynamic_cast<TEvenAsphere&>(e);
            std::vector<double> alpha(s.getCoefficients().begin(), s.getCoefficients().end());
            alpha[at] = v.real();
            s.setCoefficients(alpha);
        };
        k.fields.push_back(f);
    }
    k.make = [](const Values& v) -> std::unique_ptr<TElement> {
        std::vector<double> alpha;
        for (std::size_t i = 5; i < v.size(); ++i) alpha.push_back(v[i].real());
        return std::make_unique<TEvenAsphere>(real(v, 0), v[1], real(v, 2), real(v, 3),
                                              real(v, 4), alpha);
    };
    k.parameters = [](const TElement& e) {
        const auto& s = dynamic_cast<const TEvenAsphere&>(e);
        Parameters p = surfaceParameters(s);
        p.push_back({"R", s.curvatureRadius});
        p.push_back({"conic", s.conicConstant});
        int i = 1;
        for (double a : s.getCoefficients()) {
            if (a != 0.0) p.push_back({"a" + std::to_string(i), a});
            ++i;
        }
        addFolding(p, s);
        return p;
    };
    k.kernelShape = evenAsphereKernel;
    return k;
}

TElementKind grinRodKind() {
    TElementKind k = concreteKind<TGrinRod>("GrinRod");
    k.keyword = "GrinRod";
    k.fields = {zField(), realField<TGRIN>("n0", "n0", &TGRIN::n0, true),
                realField<TGRIN>("g", "g", &TGRIN::g), realField<TGRIN>("h4", "h4", &TGRIN::h4),
                realField<TGRIN>("h6", "h6", &TGRIN::h6)};
    k.make = [](const Values& v) -> std::unique_ptr<TElement> {
        return std::make_unique<TGrinRod>(real(v, 0), real(v, 1), real(v, 2), real(v, 3),
                                          real(v, 4));
    };
    k.parameters = describedBy<TGRIN>(grinParameters);
    k.rodProfile = [](const TElement& e, detail::RodProfile& p) {
        const auto& r = dynamic_cast<const TGrinRod&>(e);
        p.n0 = r.n0, p.g = r.g, p.h4 = r.h4, p.h6 = r.h6;
        return true;
    };
    k.remarks = [](const TElement& e) {
        const auto& r = dynamic_cast<const TGrinRod&>(e);
        std::vector<std::string> notes;
        if (!(r.n0 > 0.0)) notes.push_back("has an axial index n0 of at most 0");
        // Without higher-order terms n² turns negative beyond r = 1/g.
        if (r.g > 0.0 && r.getRadius() > 1.0 / r.g && r.h4 == 0.0 && r.h6 == 0.0)
            notes.push_back("has no real index beyond r = 1/g = " + number(1.0 / r.g) +
                            ", inside its radius " + number(r.getRadius()));
        return notes;
    };
    return k;
}

std::vector<TElementKind> buildCatalogue() {
    std::vector<TElementKind> kinds;
    kinds.push_back(slabKind());
    kinds.push_back(lensKind());

    kinds.push_back(generalLensKind());

    TElementKind sphere = concreteKind<TSphericalLens>("SphericalLens");
    sphere.parameters = describedBy<TSphericalLens>(sphereParameters);
    sphere.kernelShape = sphereKernel;
    kinds.push_back(sphere);

    TElementKind ellipse = concreteKind<TEllipticalLens>("EllipticalLens");
    ellipse.parameters = describedBy<TEllipticalLens>(semiAxisParameters<TEllipticalLens>);
    ellipse.kernelShape = semiAxisKernel<TEllipticalLens, SurfaceShape::kEllipse>;
    kinds.push_back(ellipse);

    TElementKind hyperbola = concreteKind<THyperbolicLens>("HyperbolicLens");
    hyperbola.parameters = describedBy<THyperbolicLens>(semiAxisParameters<THyperbolicLens>);
    hyperbola.kernelShape = semiAxisKernel<THyperbolicLens, SurfaceShape::kHyperbola>;
    kinds.push_back(hyperbola);

    TElementKind fresnel = concreteKind<TFresnelLens>("FresnelLens");
    fresnel.parameters = describedBy<TFresnelLens>(fresnelParameters);
    kinds.push_back(fresnel);

    TElementKind polynomialXY = concreteKind<TPolynomialXYSurface>("PolynomialXYSurface");
    polynomialXY.parameters = describedBy<TFunctionalSurface>(functionalParameters);
    kinds.push_back(polynomialXY);

    TElementKind polynomial = concreteKind<TPolynomialSurface>("PolynomialSurface");
    polynomial.parameters = describedBy<TFunctionalSurface>(functionalParameters);
    kinds.push_back(polynomial);

    kinds.push_back(evenAsphereKind());

    TElementKind functional = kind<TFunctionalSurface>("FunctionalSurface");
    functional.parameters = describedBy<TFunctionalSurface>(functionalParameters);
    kinds.push_back(functional);

    TElementKind matrixLens = concreteKind<TMatrixLens>("MatrixLens");
    matrixLens.parameters = describedBy<TMatrixLens>(matrixLensParameters);
    kinds.push_back(matrixLens);

    TElementKind matrix = concreteKind<TMatrixSurface>("MatrixSurface");
    matrix.parameters = describedBy<TSurface>(surfaceParameters);
    kinds.push_back(matrix);

    TElementKind surface = kind<TSurface>("Surface");
    surface.parameters = describedBy<TSurface>(surfaceParameters);
    kinds.push_back(surface);

    kinds.push_back(grinRodKind());

    TElementKind grin = kind<TGRIN>("GRIN");
    grin.parameters = describedBy<TGRIN>(grinParameters);
    kinds.push_back(grin);

    // Every entry answers every question; the empty answers are filled here.
    for (TElementKind& k : kinds) {
        // A record's values are its fields' (none for a kind without one).
        k.recordValues = [fields = k.fields](const TElement& e) {
            Values values;
            for (const TRecordField& f : fields) values.push_back(f.get(e));
            return values;
        };
        if (!k.derived) k.derived = [](const TElement&) { return Parameters(); };
        if (!k.remarks) k.remarks = [](const TElement&) { return std::vector<std::string>(); };
    }
    return kinds;
}

}  // namespace

const std::vector<TElementKind>& elementKinds() {
    static const std::vector<TElementKind> kinds = buildCatalogue();
    return kinds;
}

const TElementKind* kindForKeyword(const std::string& keyword) {
    if (keyword.empty()) return nullptr;
    for (const TElementKind& k : elementKinds())
        if (k.keyword == keyword) return &k;
    return nullptr;
}

const TElementKind* kindOf(const TElement& element) {
    for (const TElementKind& k : elementKinds())
        if (k.is(element)) return &k;
    return nullptr;
}

const TElementKind* exactKindOf(const TElement& element) {
    for (const TElementKind& k : elementKinds())
        if (k.isExactly(element)) return &k;
    return nullptr;
}

std::unique_ptr<TElement> cloneElement(const TElement& element) {
    const TElementKind* k = exactKindOf(element);
    return k && k->clone ? k->clone(element) : nullptr;
}

}  // namespace lumivex
