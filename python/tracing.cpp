// SPDX-License-Identifier: Apache-2.0
// Tracing from Python: rays as (N, 3) arrays through traceRays, with the
// results read in place from the batch's nodes; one beam at a time through
// the system's own traceBeam.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>

#include "bindings.h"

namespace lumivex::python {

namespace {

static_assert(sizeof(TBeamNode) == 11 * sizeof(double), "a beam node is 11 doubles");

// One node as numpy sees it: the layout of TBeamNode.
struct NodeRecord {
    double position[3];
    double direction[3];
    double polarization[3];
    double intensity;
    double phase;
};
static_assert(sizeof(NodeRecord) == sizeof(TBeamNode), "a node record is a beam node");

using Rows = py::array_t<double, py::array::c_style | py::array::forcecast>;

// The argument as doubles, converted once; the message names the argument.
Rows doubles(const py::object& value, const char* name) {
    if (value.is_none()) raiseValueError(std::string(name) + " must be an array, not None");
    try {
        return py::module_::import("numpy").attr("ascontiguousarray")(value, py::arg("dtype") = "float64").cast<Rows>();
    } catch (py::error_already_set& e) {
        raiseValueError(std::string(name) + ": " + e.what());
    }
}

void checkFinite(const Rows& a, const char* name) {
    const double* v = a.data();
    const py::ssize_t n = a.size();
    // A value is not finite exactly when its exponent bits are all set. The
    // test without a branch runs in vector lanes over millions of values;
    // only a failure looks for where it is.
    constexpr std::uint64_t exponent = 0x7ff0000000000000u;
    std::uint64_t notFinite = 0;
    for (py::ssize_t i = 0; i < n; ++i) {
        std::uint64_t bits;
        std::memcpy(&bits, v + i, sizeof bits);
        notFinite |= static_cast<std::uint64_t>((bits & exponent) == exponent);
    }
    if (!notFinite) return;
    for (py::ssize_t i = 0; i < n; ++i)
        if (!std::isfinite(v[i]))
            raiseValueError(std::string(name) + " contain a value that is not finite (element " +
                            std::to_string(i) + ")");
}

Rows vectors(const py::object& value, const char* name, py::ssize_t n = -1) {
    Rows a = doubles(value, name);
    if (a.ndim() != 2 || a.shape(1) != 3)
        raiseValueError(std::string(name) + " must have shape (N, 3)");
    if (n >= 0 && a.shape(0) != n)
        raiseValueError(std::string(name) + " has " + std::to_string(a.shape(0)) + " rows, positions has " +
                        std::to_string(n));
    checkFinite(a, name);
    return a;
}

Rows scalars(const py::object& value, const char* name, py::ssize_t n) {
    Rows a = doubles(value, name);
    if (a.ndim() != 1) raiseValueError(std::string(name) + " must have shape (N,)");
    if (a.shape(0) != n)
        raiseValueError(std::string(name) + " has " + std::to_string(a.shape(0)) + " values, positions has " +
                        std::to_string(n) + " rows");
    checkFinite(a, name);
    return a;
}

Rows vector3(const py::object& value, const char* name) {
    Rows a = doubles(value, name);
    if (a.ndim() != 1 || a.shape(0) != 3) raiseValueError(std::string(name) + " must have shape (3,)");
    checkFinite(a, name);
    return a;
}

void checkWavelength(double wavelength) {
    if (!(wavelength > 0.0) || !std::isfinite(wavelength))
        raiseValueError("wavelength must be positive and finite, not " + std::to_string(wavelength));
}

// A wavelength as a script passes it: any real number, checked; a string or
// None is a TypeError that names the argument rather than pybind11's
// "Unable to cast".
double wavelengthOf(const py::object& value) {
    if (!py::isinstance<py::float_>(value) && !py::isinstance<py::int_>(value) &&
        !py::hasattr(value, "__float__"))
        throw py::type_error("wavelength must be a positive number, not " +
                             std::string(py::str(py::type::of(value).attr("__name__"))));
    const double wavelength = py::float_(value).cast<double>();
    checkWavelength(wavelength);
    return wavelength;
}

// Directions are refused, not normalised, unless they are unit vectors to
// rounding: the refraction takes them as unit vectors, and a silent
// normalisation would change the bits of rays a host traces from the same
// arrays.
void checkDirections(const double* k, py::ssize_t n, const char* name) {
    for (py::ssize_t i = 0; i < n; ++i, k += 3) {
        if (k[0] == 0.0 && k[1] == 0.0 && k[2] == 0.0)
            raiseValueError(std::string(name) + " has a zero vector (row " + std::to_string(i) + ")");
        const double squared = k[0] * k[0] + k[1] * k[1] + k[2] * k[2];
        if (!(std::fabs(squared - 1.0) <= 1e-12))
            raiseValueError(std::string(name) + " must be unit vectors; row " + std::to_string(i) +
                            " has length " + std::string(py::repr(py::float_(std::sqrt(squared)))));
    }
}

// Polarizations are directions of the field: their length carries nothing,
// and the trace scales them to unit length. A vector whose squared length
// overflows or underflows is scaled by its largest component first (else
// the trace saw (0, 0, 0) and reported a changed power as success); a zero
// vector has no direction. Returns the rows, rescaled where needed.
std::vector<double> checkPolarizations(const double* e, py::ssize_t n, const char* name) {
    std::vector<double> scaled;
    for (py::ssize_t i = 0; i < n; ++i) {
        const double* v = e + 3 * i;
        const double squared = v[0] * v[0] + v[1] * v[1] + v[2] * v[2];
        if (squared >= 1e-150 && squared <= 1e150) continue;
        const double largest = std::max({std::fabs(v[0]), std::fabs(v[1]), std::fabs(v[2])});
        if (largest == 0.0)
            raiseValueError(std::string(name) + " has a zero vector (row " + std::to_string(i) +
                            "): a polarization needs a direction");
        if (scaled.empty()) scaled.assign(e, e + 3 * n);
        const TVector unit = TVector(v[0] / largest, v[1] / largest, v[2] / largest).unit();
        scaled[3 * i] = unit.x;
        scaled[3 * i + 1] = unit.y;
        scaled[3 * i + 2] = unit.z;
    }
    return scaled;
}

void checkIntensities(const double* w, py::ssize_t n, const char* name) {
    for (py::ssize_t i = 0; i < n; ++i)
        if (w[i] < 0.0)
            raiseValueError(std::string(name) + " must not be negative (element " + std::to_string(i) + " is " +
                            std::string(py::repr(py::float_(w[i]))) + ")");
}

// The default polarization: x̂ with its component along k removed, so the
// field lies in the plane of k and the x axis; for k along x, ŷ instead.
TVector defaultPolarization(const TVector& k) {
    const TVector kHat = k.unit();
    TVector e = TVector(1, 0, 0) - kHat * kHat.x;
    if (e.length() < 1e-6) e = TVector(0, 1, 0) - kHat * kHat.y;
    return e.unit();
}

std::vector<double> defaultPolarizations(const double* k, py::ssize_t n) {
    std::vector<double> e(static_cast<std::size_t>(3 * n));
    for (py::ssize_t i = 0; i < n; ++i) {
        const TVector v = defaultPolarization(TVector(k[3 * i], k[3 * i + 1], k[3 * i + 2]));
        e[3 * i] = v.x;
        e[3 * i + 1] = v.y;
        e[3 * i + 2] = v.z;
    }
    return e;
}

// What system.trace returns: arrays that view the batch's nodes in place,
// each keeping the batch alive through a capsule.
struct TraceResult {
    std::shared_ptr<TRayBatch> batch;
    py::array nodes, position, direction, polarization, intensity, phase, ok, failed_element, vignetted,
        vignetted_element;

    std::size_t index(py::ssize_t i) const {
        const auto n = static_cast<py::ssize_t>(batch->size());
        if (i < 0) i += n;
        if (i < 0 || i >= n) throw py::index_error("ray index out of range");
        return static_cast<std::size_t>(i);
    }
};

void readOnly(py::array& a) { a.attr("flags").attr("writeable") = false; }

TraceResult makeResult(std::shared_ptr<TRayBatch> batch) {
    TraceResult r;
    r.batch = batch;
    const auto n = static_cast<py::ssize_t>(batch->size());
    py::capsule owner(new std::shared_ptr<TRayBatch>(batch),
                      [](void* p) { delete static_cast<std::shared_ptr<TRayBatch>*>(p); });
    const double* nodes = reinterpret_cast<const double*>(batch->nodeData());
    static double none[11] = {};
    if (!nodes) nodes = none;
    const py::ssize_t stride = sizeof(TBeamNode);
    auto columns = [&](std::size_t offset) {
        py::array a = py::array_t<double>({n, py::ssize_t(3)}, {stride, py::ssize_t(sizeof(double))},
                                          nodes + offset / sizeof(double), owner);
        readOnly(a);
        return a;
    };
    auto column = [&](std::size_t offset) {
        py::array a = py::array_t<double>({n}, {stride}, nodes + offset / sizeof(double), owner);
        readOnly(a);
        return a;
    };
    // All eleven doubles of each last node in one contiguous buffer: what a
    // host that ships results elsewhere sends without repacking them.
    r.nodes = py::array_t<double>({n, py::ssize_t(11)}, {stride, py::ssize_t(sizeof(double))}, nodes, owner);
    readOnly(r.nodes);
    r.position = columns(offsetof(TBeamNode, position));
    r.direction = columns(offsetof(TBeamNode, kVector));
    r.polarization = columns(offsetof(TBeamNode, polarization));
    r.intensity = column(offsetof(TBeamNode, intensity));
    r.phase = column(offsetof(TBeamNode, opticalPath));
    static const int noFailure = -1;
    const int* failed = batch->failedElementData() ? batch->failedElementData() : &noFailure;
    r.failed_element = py::array_t<int>({n}, {py::ssize_t(sizeof(int))}, failed, owner);
    readOnly(r.failed_element);
    const int* stopped = batch->vignettedElementData() ? batch->vignettedElementData() : &noFailure;
    r.vignetted_element = py::array_t<int>({n}, {py::ssize_t(sizeof(int))}, stopped, owner);
    readOnly(r.vignetted_element);
    py::array_t<bool> ok(n), vignetted(n);
    bool* out = ok.mutable_data();
    bool* outV = vignetted.mutable_data();
    for (py::ssize_t i = 0; i < n; ++i) {
        out[i] = failed[i] < 0 && stopped[i] < 0;
        outV[i] = stopped[i] >= 0;
    }
    r.ok = ok;
    readOnly(r.ok);
    r.vignetted = vignetted;
    readOnly(r.vignetted);
    return r;
}

// Traces with the GIL released, stopping for a pending KeyboardInterrupt.
void traceReleased(TOpticalSystem& system, TRayBatch& batch, int threads, bool keepNodes,
                   std::vector<double> clipRadii = {}) {
    Interruptible interrupts(threads, keepNodes);
    interrupts.options().clipRadii = std::move(clipRadii);
    try {
        py::gil_scoped_release nogil;
        traceRays(system, batch, interrupts.options());
    } catch (const xmsg&) {
        interrupts.rethrow();
        throw;
    }
}

TraceResult trace(System& s, const py::object& positions, const py::object& directions,
                  const py::object& wavelengthArgument, const py::object& polarizations,
                  const py::object& intensities, const py::object& phases, int threads, bool keepNodes,
                  const py::object& clipRadii) {
    const double wavelength = wavelengthOf(wavelengthArgument);
    if (threads < 0) raiseValueError("threads must be 0 (every core) or more");
    std::vector<double> clip;
    if (!clipRadii.is_none()) {
        const Rows c = doubles(clipRadii, "clip_radii");
        if (c.ndim() != 1) raiseValueError("clip_radii must be one radius per element, shape (M,)");
        clip.assign(c.data(), c.data() + c.size());
        if (clip.size() > s.elements.size())
            raiseValueError("clip_radii has " + std::to_string(clip.size()) + " entries for a system of " +
                            std::to_string(s.elements.size()) + " elements");
        for (std::size_t i = 0; i < clip.size(); ++i)
            if (clip[i] < 0.0) raiseValueError("clip_radii[" + std::to_string(i) + "] is negative");
    }
    const Rows p = vectors(positions, "positions");
    const py::ssize_t n = p.shape(0);
    const Rows k = vectors(directions, "directions", n);
    checkDirections(k.data(), n, "directions");
    std::vector<double> defaults;
    Rows e;
    const double* pol = nullptr;
    if (polarizations.is_none()) {
        defaults = defaultPolarizations(k.data(), n);
        pol = defaults.data();
    } else {
        e = vectors(polarizations, "polarizations", n);
        defaults = checkPolarizations(e.data(), n, "polarizations");
        pol = defaults.empty() ? e.data() : defaults.data();
    }
    std::optional<Rows> w, phi;
    if (!intensities.is_none()) {
        w = scalars(intensities, "intensities", n);
        checkIntensities(w->data(), n, "intensities");
    }
    if (!phases.is_none()) phi = scalars(phases, "phases", n);

    auto batch = std::make_shared<TRayBatch>(wavelength);
    batch->add(static_cast<std::size_t>(n), p.data(), k.data(), pol, w ? w->data() : nullptr,
               phi ? phi->data() : nullptr);
    std::vector<py::object> traced;
    std::unique_ptr<TOpticalSystem> system = s.build(&traced);
    traceReleased(*system, *batch, threads, keepNodes, std::move(clip));
    takeTracedRadii(*system, traced);
    return makeResult(std::move(batch));
}

TBeam traceBeam(System& s, const py::object& position, const py::object& direction,
                const py::object& wavelengthArgument, const py::object& polarization) {
    const double wavelength = wavelengthOf(wavelengthArgument);
    const Rows p = vector3(position, "position");
    const Rows k = vector3(direction, "direction");
    checkDirections(k.data(), 1, "direction");
    const TVector kv(k.at(0), k.at(1), k.at(2));
    TVector ev = defaultPolarization(kv);
    if (!polarization.is_none()) {
        const Rows e = vector3(polarization, "polarization");
        const std::vector<double> scaled = checkPolarizations(e.data(), 1, "polarization");
        const double* v = scaled.empty() ? e.data() : scaled.data();
        ev = TVector(v[0], v[1], v[2]);
    }
    TBeam beam(wavelength);
    beam.addNode(TBeamNode(TVector(p.at(0), p.at(1), p.at(2)), kv, 1.0, ev, 0.0));
    std::vector<py::object> traced;
    std::unique_ptr<TOpticalSystem> system = s.build(&traced);
    std::string failure;
    {
        py::gil_scoped_release nogil;
        try {
            system->traceBeam(beam);
        } catch (const xmsg& x) {
            failure = x.message();
            if (failure.empty()) failure = "the trace failed";
        }
    }
    takeTracedRadii(*system, traced);
    if (!failure.empty()) raiseTraceError(failure, beam);
    return beam;
}

double traceBatchSeconds(System& s, const py::object& positions, const py::object& directions,
                         const py::object& polarizations, double wavelength, int threads) {
    checkWavelength(wavelength);
    const Rows p = vectors(positions, "positions");
    const Rows k = vectors(directions, "directions", p.shape(0));
    const Rows e = vectors(polarizations, "polarizations", p.shape(0));
    std::unique_ptr<TOpticalSystem> system = s.build();
    py::gil_scoped_release nogil;
    TTraceOptions options;
    options.threads = threads;
    // What a C++ host pays: filling a batch from its arrays, then tracing.
    const auto start = std::chrono::steady_clock::now();
    TRayBatch batch(wavelength);
    batch.add(static_cast<std::size_t>(p.shape(0)), p.data(), k.data(), e.data());
    traceRays(*system, batch, options);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

py::array beamNodes(const TBeam& beam) {
    py::array_t<NodeRecord> nodes(beam.getSize());
    NodeRecord* out = nodes.mutable_data();
    for (int i = 0; i < beam.getSize(); ++i) {
        const TBeamNode node = beam[i];
        out[i] = {{node.position.x, node.position.y, node.position.z},
                  {node.kVector.x, node.kVector.y, node.kVector.z},
                  {node.polarization.x, node.polarization.y, node.polarization.z},
                  node.intensity,
                  node.opticalPath};
    }
    return nodes;
}

void bindBeam(py::module_& m) {
    PYBIND11_NUMPY_DTYPE(NodeRecord, position, direction, polarization, intensity, phase);
    py::class_<TBeam>(m, "Beam", R"(One ray: the nodes at which its state was recorded.

Parameters
----------
wavelength : float
    Vacuum wavelength, in the system's length unit.

Attributes
----------
nodes : ndarray
    Structured array (a copy) with fields ``position`` (3,), ``direction`` (3,),
    ``polarization`` (3,), ``intensity`` and ``phase`` (radians).
)")
        .def(py::init([](double wavelength) {
                 checkWavelength(wavelength);
                 return TBeam(wavelength);
             }),
             py::arg("wavelength"))
        .def_readonly("wavelength", &TBeam::wavelength)
        .def_property_readonly("nodes", &beamNodes)
        .def("__len__", &TBeam::getSize)
        .def(
            "add_node",
            [](TBeam& b, const py::object& position, const py::object& direction, const py::object& polarization,
               double intensity, double phase) {
                const Rows p = vector3(position, "position");
                const Rows k = vector3(direction, "direction");
                TVector ev = defaultPolarization(TVector(k.at(0), k.at(1), k.at(2)));
                if (!polarization.is_none()) {
                    const Rows e = vector3(polarization, "polarization");
                    ev = TVector(e.at(0), e.at(1), e.at(2));
                }
                b.addNode(TBeamNode(TVector(p.at(0), p.at(1), p.at(2)), TVector(k.at(0), k.at(1), k.at(2)),
                                    intensity, ev, phase));
            },
            py::arg("position"), py::arg("direction"), py::arg("polarization") = py::none(),
            py::arg("intensity") = 1.0, py::arg("phase") = 0.0, "Appends a node.")
        .def(
            "optical_path_point",
            [](const TBeam& b, const py::object& s) -> py::object {
                if (b.getSize() < 2) raiseValueError("the beam needs at least 2 nodes");
                const Rows values = doubles(s, "s");
                py::array_t<double> points({values.size(), py::ssize_t(3)});
                auto out = points.mutable_unchecked<2>();
                for (py::ssize_t i = 0; i < values.size(); ++i) {
                    const TVector p = b.getOpticalPathPoint(values.data()[i]);
                    out(i, 0) = p.x; out(i, 1) = p.y; out(i, 2) = p.z;
                }
                if (py::module_::import("numpy").attr("ndim")(s).cast<int>() == 0)
                    return points.attr("reshape")(3);
                return points;
            },
            py::arg("s"), R"(The points of the ray at optical phase s.

Parameters
----------
s : float or array_like, shape (M,)
    Optical phase in radians.

Returns
-------
ndarray, shape (3,) or (M, 3)
)")
        .def("__repr__", [](const TBeam& b) {
            return "Beam(wavelength=" + std::string(py::str(py::float_(b.wavelength))) + ", " +
                   std::to_string(b.getSize()) + " nodes)";
        });
}

void bindTracing(py::module_& m, py::class_<System>& system) {
    py::class_<TraceResult>(m, "TraceResult", R"(The rays of one system.trace, after tracing.

Attributes
----------
position, direction, polarization : ndarray, shape (N, 3)
    Each ray's last node (for a failed ray the terminal node its failure left).
intensity, phase : ndarray, shape (N,)
ok : ndarray of bool, shape (N,)
    Rays that went through every element: neither failed nor vignetted.
failed_element : ndarray of int32, shape (N,)
    The element a ray failed at; -1 when it did not fail.
vignetted : ndarray of bool, shape (N,)
    Rays a clear aperture (``clip_radii``) stopped; not failures.
vignetted_element : ndarray of int32, shape (N,)
    The element whose clear aperture stopped a ray; -1 when none did.
wavelength : float
nodes : ndarray, shape (N, 11)
    The last nodes whole, one contiguous array: position, direction,
    polarization, intensity, phase; the arrays above are its columns.

The arrays are read-only views of the traced nodes, not copies.
)")
        .def_readonly("nodes", &TraceResult::nodes)
        .def_readonly("position", &TraceResult::position)
        .def_readonly("direction", &TraceResult::direction)
        .def_readonly("polarization", &TraceResult::polarization)
        .def_readonly("intensity", &TraceResult::intensity)
        .def_readonly("phase", &TraceResult::phase)
        .def_readonly("ok", &TraceResult::ok)
        .def_readonly("failed_element", &TraceResult::failed_element)
        .def_readonly("vignetted", &TraceResult::vignetted)
        .def_readonly("vignetted_element", &TraceResult::vignetted_element)
        .def_property_readonly("wavelength", [](const TraceResult& r) { return r.batch->wavelength(); })
        .def_property_readonly("nodes_kept", [](const TraceResult& r) { return r.batch->nodesKept(); })
        .def("__len__", [](const TraceResult& r) { return r.batch->size(); })
        .def("message", [](const TraceResult& r, py::ssize_t i) { return r.batch->message(r.index(i)); },
             py::arg("i"), "Why ray i failed; '' when it did not.")
        .def("beam", [](const TraceResult& r, py::ssize_t i) { return r.batch->beam(r.index(i)); }, py::arg("i"),
             R"(Ray i's whole beam (a copy).

Raises
------
lumivex.Error
    Unless the trace was made with keep_nodes=True.
)")
        .def("beams",
             [](const TraceResult& r) {
                 py::list beams;
                 for (std::size_t i = 0; i < r.batch->size(); ++i) beams.append(r.batch->beam(i));
                 return beams;
             },
             "Every ray's beam, as a list (keep_nodes=True only).")
        .def("__repr__", [](const TraceResult& r) {
            std::size_t failed = 0, vignetted = 0;
            for (std::size_t i = 0; i < r.batch->size(); ++i) {
                failed += r.batch->failedElement(i) >= 0;
                vignetted += r.batch->vignetted(i);
            }
            return "TraceResult(" + std::to_string(r.batch->size()) + " rays, " + std::to_string(failed) +
                   " failed" + (vignetted ? ", " + std::to_string(vignetted) + " vignetted" : std::string()) + ")";
        });

    system.def("trace", &trace, py::arg("positions"), py::arg("directions"), py::kw_only(), py::arg("wavelength"),
               py::arg("polarizations") = py::none(), py::arg("intensities") = py::none(),
               py::arg("phases") = py::none(), py::arg("threads") = 0, py::arg("keep_nodes") = false,
               py::arg("clip_radii") = py::none(),
               R"(Traces many rays of one wavelength through the system.

Parameters
----------
positions, directions : array_like, shape (N, 3)
    Start points and unit directions of the rays (unit to 1e-12 in the
    squared length).
wavelength : float
    Vacuum wavelength in the system's length unit; positive.
polarizations : array_like, shape (N, 3), optional
    Field directions, not zero; only the direction counts (a vector too
    large or too small to square is scaled to unit length). By default x with its component along each
    direction removed, normalised (the field in the plane of the ray and the
    x axis); y instead for a ray along x.
intensities, phases : array_like, shape (N,), optional
    Start intensities (default 1) and optical phases (default 0).
threads : int
    Worker threads; 0 uses every core. Results do not depend on it.
keep_nodes : bool
    Keep every ray's whole beam for TraceResult.beam.
clip_radii : array_like, shape (M,), optional
    Clear apertures by element (M at most the number of elements): a ray
    that meets element k farther from the axis than ``clip_radii[k]`` ends
    there, vignetted (see TraceResult.vignetted). NaN: no clip.

Returns
-------
TraceResult
    Each ray's last node, whether it failed and where.

Raises
------
ValueError
    For a wrong shape, mismatched lengths, a value that is not finite, a
    direction that is not a unit vector (directions are refused, never
    normalised), a zero polarization, a negative intensity, a wavelength that
    is not positive, or an element whose values are not finite; the message
    names the argument or the element.
TypeError
    For a wavelength that is not a number.
KeyboardInterrupt
    When interrupted; the trace stops soon after.

Notes
-----
The trace works on copies of the elements made when it starts: elements
another thread adds while it runs are not traced, and the traced radii go
back to the element objects that were traced.

Examples
--------
>>> import numpy as np, lumivex
>>> s = lumivex.System.from_text("OpticalSystem 6\nSlab 0 1\nLens 5 1.5 1 50 0\n")
>>> x = np.linspace(-3, 3, 5)
>>> r = s.trace(np.c_[x, 0*x, -1 + 0*x], [[0, 0, 1]] * 5, wavelength=5e-4)
>>> bool(r.ok.all()), r.position.shape
(True, (5, 3))
)")
        .def("trace_beam", &traceBeam, py::arg("position"), py::arg("direction"), py::kw_only(),
             py::arg("wavelength"), py::arg("polarization") = py::none(), R"(Traces one ray, keeping every node.

Parameters
----------
position, direction : array_like, shape (3,)
wavelength : float
polarization : array_like, shape (3,), optional
    As in System.trace.

Returns
-------
Beam

Raises
------
TraceError
    If the ray fails; ``.beam`` holds the nodes traced until then.
ValueError
    For bad arguments, as System.trace.
)")
        .def("_trace_batch_seconds", &traceBatchSeconds, py::arg("positions"), py::arg("directions"),
             py::arg("polarizations"), py::arg("wavelength"), py::arg("threads") = 0,
             "Seconds a C++ host takes to fill a batch with these rays and trace it (for the benchmark).");
}

Interruptible::Interruptible(int threads, bool keepNodes) : lastCheck(std::chrono::steady_clock::now()) {
    opts.threads = threads;
    opts.keepNodes = keepNodes;
    opts.progress = [this](std::size_t done, std::size_t) {
        // Reading the clock for every ray would cost more than a slab's trace.
        if (done - lastDone < 256) return true;
        lastDone = done;
        const auto now = std::chrono::steady_clock::now();
        if (now - lastCheck < std::chrono::milliseconds(50)) return true;
        lastCheck = now;
        py::gil_scoped_acquire gil;
        if (PyErr_CheckSignals() == 0) return true;
        raised.emplace();
        return false;
    };
}

void Interruptible::rethrow() const {
    if (raised) throw *raised;
}

}  // namespace lumivex::python
