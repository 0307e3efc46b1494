// SPDX-License-Identifier: Apache-2.0
// The element kinds as Python classes. Every kind is a class under its
// library name without the T, constructed with its C++ constructor's
// arguments in order (snake_case keywords); its repr and parameters come
// from the element catalogue, so a new kind needs only its class here (a
// test checks every catalogue kind has one).
#include <climits>
#include <cmath>
#include <functional>
#include <typeindex>
#include <unordered_map>

#include "bindings.h"

namespace lumivex::python {

namespace {

// A double as Python writes it: the fewest digits that read back the same.
std::string shortest(double value) { return py::repr(py::float_(value)); }

std::string valueText(const complex& v) {
    if (v.imag() == 0.0) return shortest(v.real());
    return "complex(" + shortest(v.real()) + ", " + shortest(v.imag()) + ")";
}

std::string elementRepr(const TElement& e) {
    const TElementKind* kind = kindOf(e);
    if (!kind) return "Element(z=" + shortest(e.zPosition) + ")";
    std::string text = kind->name + "(";
    const std::vector<complex> values = kind->recordValues(e);
    std::vector<std::string> parts;
    if (!values.empty()) {
        // The record itself, field by field.
        for (std::size_t i = 0; i < values.size() && i < kind->fields.size(); ++i)
            parts.push_back(kind->fields[i].key + "=" + valueText(values[i]));
    } else {
        parts.push_back("z=" + shortest(e.zPosition));
        for (const TElementParameter& p : kind->parameters(e))
            parts.push_back(p.name + "=" + valueText(p.value));
    }
    parts.push_back("radius=" + shortest(e.radius));
    for (std::size_t i = 0; i < parts.size(); ++i) text += (i ? ", " : "") + parts[i];
    return text + ")";
}

py::object parameterValue(const complex& v) {
    if (v.imag() == 0.0) return py::float_(v.real());
    return py::cast(v);
}

// Sizes a script passes for tables and term counts: refused before anything
// is allocated, so that a typo cannot ask for terabytes.
constexpr long long kMaxSamples = 100000000;

void checkCount(long long n, const char* name) {
    if (n < 1) raiseValueError(std::string(name) + " must be at least 1, not " + std::to_string(n));
    if (n > kMaxSamples)
        raiseValueError(std::string(name) + " of " + std::to_string(n) + " is more than " +
                        std::to_string(kMaxSamples));
}

std::unique_ptr<TMatrix> tableFrom(const py::object& heights) {
    py::array_t<double, py::array::c_style | py::array::forcecast> a;
    try {
        a = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(heights);
    } catch (py::error_already_set&) {
    }
    if (!a || a.ndim() != 2)
        raiseValueError("heights must be a 2-D array of shape (rows, columns)");
    checkCount(a.shape(0), "the number of height rows");
    checkCount(a.shape(1), "the number of height columns");
    if (a.shape(0) * a.shape(1) > kMaxSamples) raiseValueError("heights has too many samples");
    auto table = std::make_unique<TMatrix>(static_cast<int>(a.shape(1)), static_cast<int>(a.shape(0)));
    const double* h = a.data();
    for (std::size_t i = 0; i < table->size(); ++i) {
        if (!std::isfinite(h[i])) raiseValueError("heights contain a value that is not finite");
        table->data[i] = h[i];
    }
    return table;
}

py::array tableHeights(const TMatrixSurface& s) {
    if (!s.heightTable) return py::array_t<double>(std::vector<py::ssize_t>{0, 0});
    const TMatrix& t = *s.heightTable;
    py::array_t<double> a({static_cast<py::ssize_t>(t.rows), static_cast<py::ssize_t>(t.columns)});
    double* out = a.mutable_data();
    for (std::size_t i = 0; i < t.size(); ++i) out[i] = t.data[i].real();
    return a;
}

using Wrapper = std::function<py::object(std::unique_ptr<TElement>)>;

std::unordered_map<std::type_index, Wrapper>& wrappers() {
    static std::unordered_map<std::type_index, Wrapper> table;
    return table;
}

// The Python class of a concrete kind, registered so that elements the
// library makes (read from a description, copied) come back as it.
template <class T, class Base>
py::class_<T, Base> kindClass(py::module_& m, const char* name, const char* doc) {
    wrappers()[std::type_index(typeid(T))] = [](std::unique_ptr<TElement> e) {
        std::unique_ptr<T> typed(dynamic_cast<T*>(e.get()));
        e.release();
        return py::cast(std::move(typed));
    };
    return py::class_<T, Base>(m, name, doc);
}

}  // namespace

py::object wrapElement(std::unique_ptr<TElement> element) {
    if (!element) return py::none();
    auto it = wrappers().find(std::type_index(typeid(*element)));
    if (it == wrappers().end()) throw py::type_error("no Python class for this element kind");
    return it->second(std::move(element));
}

void bindElements(py::module_& m) {
    py::class_<TElementKind>(m, "ElementKind", R"(An entry of the library's element catalogue.

Attributes
----------
name : str
    The kind's name, which is also its Python class's.
keyword : str or None
    The description keyword; None for a kind without a record.
fields : list of str
    The record's fields in order (empty without a record).
concrete : bool
    Whether elements of exactly this kind exist (False for the abstract
    Surface, FunctionalSurface and GRIN).
)")
        .def_property_readonly("name", [](const TElementKind& k) { return k.name; })
        .def_property_readonly("keyword",
                               [](const TElementKind& k) {
                                   return k.keyword.empty() ? py::object(py::none())
                                                            : py::object(py::str(k.keyword));
                               })
        .def_property_readonly("fields",
                               [](const TElementKind& k) {
                                   std::vector<std::string> keys;
                                   for (const TRecordField& f : k.fields) keys.push_back(f.key);
                                   return keys;
                               })
        .def_property_readonly("concrete", [](const TElementKind& k) { return bool(k.clone); })
        .def("__repr__", [](const TElementKind& k) { return "ElementKind('" + k.name + "')"; });
    m.def(
        "element_kinds",
        [] {
            py::list kinds;
            for (const TElementKind& k : elementKinds())
                kinds.append(py::cast(&k, py::return_value_policy::reference));
            return kinds;
        },
        "Every element kind of the library's catalogue, most derived first.");

    py::class_<TElement>(m, "Element", R"(The base of every optical element.

Attributes
----------
z : float
    Axial position of the element's reference plane.
radius : float
    Nominal aperture radius; 0 means not set (a system gives its default).
opt_radius : float
    Largest ray height traced at this element by the last trace.
)")
        .def_readwrite("z", &TElement::zPosition)
        .def_readwrite("radius", &TElement::radius)
        .def_readwrite("opt_radius", &TElement::optRadius)
        .def_property_readonly(
            "kind", [](const TElement& e) { const TElementKind* k = kindOf(e); return k ? k->name : std::string("Element"); },
            "The kind's name, as the description and the tool name it.")
        .def_property_readonly(
            "is_surface", [](const TElement& e) { const TElementKind* k = kindOf(e); return k && k->surface; },
            "Whether the element is a refracting surface.")
        .def_property_readonly(
            "gradient_index", [](const TElement& e) { const TElementKind* k = kindOf(e); return k && k->gradientIndex; },
            "Whether the medium in front of the element is a gradient-index medium.")
        .def_property_readonly(
            "index_in_front",
            [](const TElement& e) { return e.getRefIndex(TVector(), 0.0); },
            "The index of the medium in front of the element, on the axis.")
        .def(
            "parameters",
            [](const TElement& e) {
                py::dict d;
                if (const TElementKind* k = kindOf(e))
                    for (const TElementParameter& p : k->parameters(e)) d[py::str(p.name)] = parameterValue(p.value);
                return d;
            },
            R"(The kind's parameters as a person reads them.

Returns
-------
dict
    Name to value ("n", "R", "conic", ...); complex only for an absorbing index.
)")
        .def(
            "outline",
            [](const TElement& e, py::object r, bool reverse) {
                const double half = r.is_none() ? e.getRadius() : r.cast<double>();
                if (!std::isfinite(half) || half < 0) raiseValueError("r must be finite and not negative");
                TPolygon polygon;
                e.getPolygon(polygon, reverse, half);
                py::array_t<double> points({static_cast<py::ssize_t>(polygon.getSize()), py::ssize_t(3)});
                auto out = points.mutable_unchecked<2>();
                for (int i = 0; i < polygon.getSize(); ++i) {
                    const TVector p = polygon[i];
                    out(i, 0) = p.x; out(i, 1) = p.y; out(i, 2) = p.z;
                }
                return points;
            },
            py::arg("r") = py::none(), py::arg("reverse") = false,
            R"(The meridional (x-z) outline of the element.

Parameters
----------
r : float, optional
    Half-width to draw to; the element's traced or nominal radius by default.
reverse : bool
    List the points from +r to -r instead of from -r to +r.

Returns
-------
ndarray, shape (M, 3)
    The outline's points; empty for an element without an outline.
)")
        .def("copy", [](const TElement& e) { return wrapElement(cloneElement(e)); },
             "An independent copy of the element.")
        .def("__repr__", &elementRepr);

    py::class_<TSurface, TElement>(m, "Surface", py::multiple_inheritance(),
                                   "A refracting surface; ref_index is the index in front of it.")
        .def_readwrite("ref_index", &TSurface::refIndex);

    kindClass<TSlab, TSurface>(m, "Slab", R"(The plane z = z.

Parameters
----------
z : float
    Position of the plane.
ref_index : complex or float
    Index of the medium in front of it.

Examples
--------
>>> import lumivex
>>> lumivex.Slab(0.0, 1.5)
Slab(z=0.0, n=1.5, radius=0.0)
)")
        .def(py::init<double, const complex&>(), py::arg("z"), py::arg("ref_index"));

    py::class_<TFunctionalSurface, TSurface>(m, "FunctionalSurface",
                                             "A surface whose sag is a function of x and y.")
        .def_readwrite("height_modulus", &TFunctionalSurface::heightModulus)
        .def("height", [](const TFunctionalSurface& s, double x, double y) { return s.Height(TVector(x, y, 0.0)); },
             py::arg("x"), py::arg("y"), "The sag at (x, y), folded by height_modulus.");

    kindClass<TGeneralLens, TFunctionalSurface>(m, "GeneralLens",
        "A conic surface: curvature radius R (0: flat) and conic constant.")
        .def(py::init<double, const complex&, double, double, double>(), py::arg("z"),
             py::arg("ref_index"), py::arg("height_modulus"), py::arg("curvature_radius"),
             py::arg("conic_constant"))
        .def_readwrite("curvature_radius", &TGeneralLens::curvatureRadius)
        .def_readwrite("conic_constant", &TGeneralLens::conicConstant);

    kindClass<TEvenAsphere, TFunctionalSurface>(m, "EvenAsphere", R"(A conic plus an even polynomial in rho.

h(rho) = C rho^2 / (1 + sqrt(1 - (1 + k) C^2 rho^2)) + a1 rho^2 + a2 rho^4 + ... + a8 rho^16,
C = 1/curvature_radius (0: no conic part), k = conic_constant. The a_i are in
the system's length unit to the power 1 - 2i.

Parameters
----------
z, ref_index, height_modulus : as for every surface
curvature_radius : float
conic_constant : float
coefficients : list of float
    a1, a2, ... (at most 8; the rest are 0).
)")
        .def(py::init<double, const complex&, double, double, double, const std::vector<double>&>(),
             py::arg("z"), py::arg("ref_index"), py::arg("height_modulus"),
             py::arg("curvature_radius"), py::arg("conic_constant"),
             py::arg("coefficients") = std::vector<double>())
        .def_readwrite("curvature_radius", &TEvenAsphere::curvatureRadius)
        .def_readwrite("conic_constant", &TEvenAsphere::conicConstant)
        .def_property(
            "coefficients",
            [](const TEvenAsphere& s) {
                const auto& a = s.getCoefficients();
                return std::vector<double>(a.begin(), a.end());
            },
            &TEvenAsphere::setCoefficients,
            "a1 ... a8, the coefficients of rho^2 ... rho^16 (a copy; assign to replace).");

    // The conic of a Lens follows from its record; it is fixed at
    // construction, so the record's values read only.
    kindClass<TLens, TGeneralLens>(m, "Lens",
        "The conic of the description format: R = -vertex_length/2, conic = -(n/second_index)^2.")
        .def(py::init<double, const complex&, double, double, double>(), py::arg("z"),
             py::arg("ref_index"), py::arg("height_modulus"), py::arg("second_index"),
             py::arg("vertex_length"))
        .def_property_readonly("second_index", [](const TLens& s) { return s.secondIndex; })
        .def_property_readonly("vertex_length", [](const TLens& s) { return s.vertexLength; });

    kindClass<TSphericalLens, TFunctionalSurface>(m, "SphericalLens",
        "A sphere of signed radius curvature_radius with its vertex at z.")
        .def(py::init<double, const complex&, double, double>(), py::arg("z"), py::arg("ref_index"),
             py::arg("height_modulus"), py::arg("curvature_radius"))
        .def_readwrite("curvature_radius", &TSphericalLens::curvatureRadius);

    kindClass<TEllipticalLens, TFunctionalSurface>(m, "EllipticalLens",
        "The ellipsoid (z + a)^2/a^2 + rho^2/b^2 = 1 with its vertex at z.")
        .def(py::init<double, const complex&, double, double, double>(), py::arg("z"),
             py::arg("ref_index"), py::arg("height_modulus"), py::arg("axial_semi_axis"),
             py::arg("radial_semi_axis"))
        .def_readwrite("axial_semi_axis", &TEllipticalLens::axialSemiAxis)
        .def_readwrite("radial_semi_axis", &TEllipticalLens::radialSemiAxis);

    kindClass<THyperbolicLens, TFunctionalSurface>(m, "HyperbolicLens",
        "The hyperboloid (z + a)^2/a^2 - rho^2/b^2 = 1 with its vertex at z.")
        .def(py::init<double, const complex&, double, double, double>(), py::arg("z"),
             py::arg("ref_index"), py::arg("height_modulus"), py::arg("axial_semi_axis"),
             py::arg("radial_semi_axis"))
        .def_readwrite("axial_semi_axis", &THyperbolicLens::axialSemiAxis)
        .def_readwrite("radial_semi_axis", &THyperbolicLens::radialSemiAxis);

    kindClass<TFresnelLens, TFunctionalSurface>(m, "FresnelLens",
        "The facet profile focusing axial rays inside a medium of relative index index_ratio.")
        .def(py::init<double, const complex&, double, double, double>(), py::arg("z"),
             py::arg("ref_index"), py::arg("height_modulus"), py::arg("index_ratio"),
             py::arg("focal_length"))
        .def_readwrite("index_ratio", &TFresnelLens::indexRatio)
        .def_readwrite("focal_length", &TFresnelLens::focalLength);

    kindClass<TPolynomialSurface, TFunctionalSurface>(m, "PolynomialSurface",
        "h(rho) = sum c_i rho^i, rotationally symmetric.")
        .def(py::init([](double z, const complex& n, double heightModulus, const std::vector<double>& c) {
                 auto s = std::make_unique<TPolynomialSurface>(z, n, heightModulus);
                 s->setCoefficients(c);
                 return s;
             }),
             py::arg("z"), py::arg("ref_index"), py::arg("height_modulus"),
             py::arg("coefficients") = std::vector<double>())
        .def_property("coefficients", &TPolynomialSurface::getCoefficients,
                      &TPolynomialSurface::setCoefficients, "c_0, c_1, ... (a copy; assign to replace).");

    kindClass<TPolynomialXYSurface, TFunctionalSurface>(m, "PolynomialXYSurface",
        "h(x, y) = sum c_ij x^i y^j for i < x_term_count, j < y_term_count <= 10.")
        .def(py::init([](double z, const complex& n, double heightModulus, int xTerms, int yTerms) {
                 if (xTerms > 1000000) raiseValueError("x_term_count is more than 1000000");
                 return std::make_unique<TPolynomialXYSurface>(z, n, heightModulus, xTerms, yTerms);
             }),
             py::arg("z"), py::arg("ref_index"), py::arg("height_modulus"), py::arg("x_term_count"),
             py::arg("y_term_count"))
        .def_property_readonly("x_term_count", [](const TPolynomialXYSurface& s) { return s.xTermCount; })
        .def_property_readonly("y_term_count", [](const TPolynomialXYSurface& s) { return s.yTermCount; })
        .def("set_coefficient", &TPolynomialXYSurface::setCoefficient, py::arg("i"), py::arg("j"),
             py::arg("value"), "Sets the coefficient of x^i y^j.")
        .def("coefficient", &TPolynomialXYSurface::getCoefficient, py::arg("i"), py::arg("j"),
             "The coefficient of x^i y^j.");

    kindClass<TMatrixSurface, TSurface>(m, "MatrixSurface", R"(A surface given by a table of heights.

Parameters
----------
z : float
ref_index : complex or float
dx, dy : float
    Grid spacing along x (columns) and y (rows); positive.
heights : array_like, shape (rows, columns)
    The sag of column c, row r at x = (c - columns//2)*dx, y = (r - rows//2)*dy.
)")
        .def(py::init([](double z, const complex& n, double dx, double dy, const py::object& heights) {
                 return std::make_unique<TMatrixSurface>(z, n, dx, dy, tableFrom(heights).release());
             }),
             py::arg("z"), py::arg("ref_index"), py::arg("dx"), py::arg("dy"), py::arg("heights"))
        .def_readonly("dx", &TMatrixSurface::dx)
        .def_readonly("dy", &TMatrixSurface::dy)
        .def_property_readonly("heights", &tableHeights, "The table, shape (rows, columns) (a copy).");

    kindClass<TMatrixLens, TMatrixSurface>(m, "MatrixLens",
        "The conic of GeneralLens sampled on an nx x ny grid centred on the axis.")
        .def(py::init([](double z, const complex& n, double R, double conic, double heightModulus,
                         long long nx, long long ny, double dx, double dy) {
                 if (nx > 0 && ny > 0 && nx * ny > kMaxSamples) raiseValueError("nx * ny is more than 100000000");
                 if (nx > INT_MAX || ny > INT_MAX) raiseValueError("nx or ny is too large");
                 return std::make_unique<TMatrixLens>(z, n, R, conic, heightModulus, static_cast<int>(nx),
                                                      static_cast<int>(ny), dx, dy);
             }),
             py::arg("z"), py::arg("ref_index"), py::arg("curvature_radius"), py::arg("conic_constant"),
             py::arg("height_modulus"), py::arg("nx"), py::arg("ny"), py::arg("dx"), py::arg("dy"))
        .def_readonly("nx", &TMatrixLens::nx)
        .def_readonly("ny", &TMatrixLens::ny);

    py::class_<TGRIN, TElement>(m, "GRIN", py::multiple_inheritance(),
                                "A gradient-index medium from the element in front to its exit face at z.")
        .def_readwrite("n0", &TGRIN::n0)
        .def_readwrite("g", &TGRIN::g)
        .def_readwrite("h4", &TGRIN::h4)
        .def_readwrite("h6", &TGRIN::h6);

    kindClass<TGrinRod, TGRIN>(m, "GrinRod", R"(A rod with n(r)^2 = n0^2 (1 - (g r)^2 + h4 (g r)^4 + h6 (g r)^6).

Parameters
----------
z : float
    Position of the plane exit face.
n0 : float
    Index on the axis.
g : float
    Gradient constant (reciprocal length); the pitch is 2 pi / g.
h4, h6 : float
    Higher-order profile coefficients.
)")
        .def(py::init<double, double, double, double, double>(), py::arg("z"), py::arg("n0"),
             py::arg("g"), py::arg("h4") = 0.0, py::arg("h6") = 0.0);
}

}  // namespace lumivex::python
