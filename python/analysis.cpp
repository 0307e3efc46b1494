// SPDX-License-Identifier: Apache-2.0
// The analysis layer for Python: lumivex._lumivex._analysis, the compiled half
// of lumivex.analysis. Arguments arrive checked by the Python half; these
// functions build the collimated beam, run the library's analysis on a copy
// of the system with the GIL released and hand the library's results back
// as they are, bound as Python classes.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <limits>

#include "bindings.h"

namespace lumivex::python {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kDegree = 3.141592653589793 / 180.0;

using Rows = py::array_t<double, py::array::c_style | py::array::forcecast>;

// NaN for None: the library's "take the default".
double orDefault(const py::object& value) { return value.is_none() ? kNaN : value.cast<double>(); }

TCollimatedBeam filledBeam(const TOpticalSystem& system, double wavelength, double fieldAngle,
                           const py::object& pupilRadius) {
    TCollimatedBeam beam;
    beam.wavelength = wavelength;
    beam.fieldAngle = fieldAngle;
    beam.pupilRadius = orDefault(pupilRadius);
    return resolveFilledBeam(system, beam);
}

std::vector<TPupilPoint> pupilSet(const std::string& pattern, double r, int n, std::uint64_t seed) {
    if (pattern == "hexapolar") return hexapolar(r, n);
    if (pattern == "grid") return squareGrid(r, n);
    if (pattern == "random") return randomPupil(r, n, seed);
    if (pattern == "fan") return meridionalFan(r, n);
    raiseValueError("pattern must be 'hexapolar', 'grid' or 'random', not '" + pattern + "'");
}

py::array_t<double> pointArray(const std::vector<TPupilPoint>& points) {
    py::array_t<double> a({static_cast<py::ssize_t>(points.size()), py::ssize_t(2)});
    auto out = a.mutable_unchecked<2>();
    for (std::size_t i = 0; i < points.size(); ++i) {
        out(static_cast<py::ssize_t>(i), 0) = points[i].x;
        out(static_cast<py::ssize_t>(i), 1) = points[i].y;
    }
    return a;
}

py::array_t<double> pair(double a, double b) {
    const double v[2] = {a, b};
    return py::array_t<double>(2, v);
}

TTraceOptions traceOptions(int threads) {
    TTraceOptions options;
    options.threads = threads;
    return options;
}

// The copies an analysis runs on. The radii traced before (opt_radius) are
// cleared: the library takes an element's radius from them once set, so the
// default pupil and start plane would otherwise depend on which traces a
// script happened to run first. The tool analyses a freshly read system;
// so does this.
std::unique_ptr<TOpticalSystem> fresh(const System& s) {
    std::unique_ptr<TOpticalSystem> system = s.build();
    if (system->getSize() == 0) raiseValueError("system holds no element");
    for (int i = 0; i < system->getSize(); ++i) (*system)[i]->optRadius = 0.0;
    return system;
}

// Runs an analysis without the GIL. The elements themselves are left
// alone: an analysis is a question about the system, not a change to it.
template <class F>
auto analysed(const System& s, F&& f) {
    std::unique_ptr<TOpticalSystem> system = fresh(s);
    py::gil_scoped_release nogil;
    return f(*system);
}

TParaxialData paraxial(System& s, double wavelength, const py::object& pupilRadius) {
    return analysed(s, [&](TOpticalSystem& system) {
        return paraxialData(system, filledBeam(system, wavelength, 0.0, pupilRadius));
    });
}

std::vector<TSpotDiagram> spots(System& s, double wavelength, const std::vector<double>& fieldAngles,
                                const std::string& pattern, int n, std::uint64_t seed, const py::object& pupilRadius,
                                const py::object& imageZ, int threads) {
    return analysed(s, [&](TOpticalSystem& system) {
        const TCollimatedBeam beam = filledBeam(system, wavelength, 0.0, pupilRadius);
        return spotDiagrams(system, beam, fieldAngles, pupilSet(pattern, beam.pupilRadius, n, seed),
                            orDefault(imageZ), traceOptions(threads));
    });
}

TThroughFocus throughFocusCurve(System& s, double wavelength, double fieldAngle, const std::string& pattern, int n,
                                std::uint64_t seed, const py::object& pupilRadius, const py::object& zFrom,
                                const py::object& zTo, int steps, int threads) {
    return analysed(s, [&](TOpticalSystem& system) {
        const TCollimatedBeam beam = filledBeam(system, wavelength, fieldAngle, pupilRadius);
        const std::vector<TPupilPoint> pupil = pupilSet(pattern, beam.pupilRadius, n, seed);
        const TTraceOptions options = traceOptions(threads);
        if (zFrom.is_none()) return throughFocusAbout(system, beam, pupil, kNaN, steps, options);
        return throughFocus(system, beam, pupil, zFrom.cast<double>(), zTo.cast<double>(), steps, options);
    });
}

TRayFan fan(System& s, double wavelength, double fieldAngle, int n, const py::object& pupilRadius,
            const py::object& imageZ, int threads) {
    return analysed(s, [&](TOpticalSystem& system) {
        return rayFan(system, filledBeam(system, wavelength, fieldAngle, pupilRadius), n, orDefault(imageZ),
                      traceOptions(threads));
    });
}

// The OPD fan is the ray fan read through its OPD values, so that Python has
// two result types (RayFan, and OpdFan derived from it) over one C++ result.
struct OpdFan : TRayFan {
    explicit OpdFan(TRayFan f) : TRayFan(std::move(f)) {}
};

// The result types as Python classes: read-only attributes, angles in
// degrees as everywhere in lumivex.analysis, arrays as read-only numpy arrays.

// The digits a double needs to read back as itself.
int digitsOf(double v) {
    char text[32];
    for (int digits = 1; digits < 17; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, v);
        if (std::strtod(text, nullptr) == v) return digits;
    }
    return 17;
}

// The angle in degrees a script gave: lumivex.analysis turns degrees d into
// d·(π/180), and d·(π/180)/(π/180) misses d by an ulp for some angles
// (-29.5°, ...). Of the doubles next to the quotient, the one that turns
// into these radians again with the fewest digits is what was given.
double degrees(double radians) {
    constexpr double perDegree = 3.141592653589793 / 180.0;
    const double d = radians / perDegree;
    double best = d;
    for (double c : {d, std::nextafter(d, -HUGE_VAL), std::nextafter(d, HUGE_VAL)})
        if (c * perDegree == radians && (best * perDegree != radians || digitsOf(c) < digitsOf(best)))
            best = c;
    return best;
}

py::array_t<double> frozen(py::array_t<double> a) {
    py::detail::array_proxy(a.ptr())->flags &= ~py::detail::npy_api::NPY_ARRAY_WRITEABLE_;
    return a;
}

// A read-only copy: results are small, and a copy cannot outlive its owner.
py::array_t<double> values(const std::vector<double>& v) {
    return frozen(py::array_t<double>(static_cast<py::ssize_t>(v.size()), v.data()));
}

std::string g(const char* pattern, double v) {
    char text[64];
    std::snprintf(text, sizeof text, pattern, v);
    return text;
}

// The largest |v| of the rays that went through, as numpy's nanmax.
double largestMagnitude(const std::vector<double>& v) {
    double m = kNaN;
    for (double x : v)
        if (!std::isnan(x) && !(std::fabs(x) <= m)) m = std::fabs(x);
    return m;
}

template <class Fan>
void bindFanFields(py::class_<Fan>& cls) {
    cls.def_property_readonly("rho", [](const Fan& f) { return values(f.rho); })
        .def_property_readonly("image_z", [](const Fan& f) { return f.z; })
        .def_readonly("reference_radius", &Fan::referenceRadius)
        .def_property_readonly("field_angle", [](const Fan& f) { return degrees(f.fieldAngle); })
        .def_readonly("wavelength", &Fan::wavelength)
        .def_readonly("field", &Fan::field)
        .def_readonly("failed", &Fan::failed)
        .def_readonly("vignetted", &Fan::vignetted)
        .def_readonly("failure", &Fan::failure);
}

template <class Fan>
std::string fanRepr(const Fan& f, const char* name, const std::vector<double>& t, const std::vector<double>& s) {
    // A fan whose every ray failed has no largest value, not one of 0.
    const auto largest = [](const std::vector<double>& v) {
        const double m = largestMagnitude(v);
        return std::isnan(m) ? std::string("all rays failed") : "max |" + g("%.4g", m) + "|";
    };
    return std::string(name) + "(field_angle=" + g("%g", degrees(f.fieldAngle)) + " deg, " +
           std::to_string(f.rho.size()) + " rays, image_z=" + g("%.6g", f.z) + ", tangential " + largest(t) +
           ", sagittal " + largest(s) + ")";
}

void bindResults(py::module_& a) {
    const auto home = [](auto& cls) { cls.attr("__module__") = "lumivex.analysis"; };

    py::class_<TParaxialData> paraxialClass(a, "Paraxial", R"(First-order data of a system for an object at infinity.

Attributes
----------
efl : float
    Effective focal length f = -h/u', from a ray at height h near the
    axis and its exit slope u'.
bfl : float
    Back focal length: ``focus_z`` minus the last element's z.
focus_z : float
    Where the near-axis rays cross the axis after the system.
f_number : float
    |f| / (2 r), r the entrance pupil radius; the Airy radius is 1.22 λ N.
pupil_radius : float
    The r of ``f_number``.
entrance_pupil_z, entrance_pupil_diameter : float
    The entrance pupil: a prescription's stop imaged into object space; for
    a System the beam's disk at the first element's vertex plane.
exit_pupil_z, exit_pupil_diameter : float
    A prescription's stop imaged into image space; NaN for a System.
wavelength : float
    In the lens unit (a prescription's primary wavelength converted).
)");
    paraxialClass.def_readonly("efl", &TParaxialData::efl)
        .def_readonly("bfl", &TParaxialData::bfl)
        .def_readonly("focus_z", &TParaxialData::focusZ)
        .def_readonly("f_number", &TParaxialData::fNumber)
        .def_readonly("pupil_radius", &TParaxialData::pupilRadius)
        .def_readonly("wavelength", &TParaxialData::wavelength)
        .def_readonly("entrance_pupil_z", &TParaxialData::entrancePupilZ)
        .def_readonly("entrance_pupil_diameter", &TParaxialData::entrancePupilDiameter)
        .def_readonly("exit_pupil_z", &TParaxialData::exitPupilZ)
        .def_readonly("exit_pupil_diameter", &TParaxialData::exitPupilDiameter)
        .def("__repr__", [](const TParaxialData& p) {
            return "Paraxial(efl=" + g("%.6g", p.efl) + ", bfl=" + g("%.6g", p.bfl) + ", focus_z=" +
                   g("%.6g", p.focusZ) + ", f_number=" + g("%.4g", p.fNumber) + ", pupil_radius=" +
                   g("%.6g", p.pupilRadius) + ")";
        });
    home(paraxialClass);

    py::class_<TSpotDiagram> spotClass(a, "Spot", R"(A spot diagram: where the rays that went through cross the image plane.

Points are relative to the chief ray (the ray through the pupil's centre),
whose own point in the plane is ``chief``.

Attributes
----------
points : ndarray, shape (M, 2)
    x, y of each ray that went through, minus the chief ray's.
pupil : ndarray, shape (M, 2)
    The entrance-pupil point of each of those rays.
centroid : ndarray, shape (2,)
    Mean of ``points``: the centroid relative to the chief ray.
chief : ndarray, shape (2,)
    The chief ray's x, y in the image plane.
rms_radius, geo_radius : float
    Root-mean-square and largest distance of the points from the centroid.
airy_radius : float
    1.22 λ N, N the paraxial F-number.
image_z : float
rays, failed, vignetted : int
    Rays that went through, rays that failed and rays a clear aperture
    stopped.
field : int
    A prescription's field; -1 for a System's beam (whose field_angle is
    the beam's; a prescription's is its chief ray's angle in object space).
field_angle : float
    Degrees.
wavelength, pupil_radius : float
wavelengths, weights : ndarray
    A prescription's polychromatic spot: its wavelengths in micrometres
    (the reference, whose chief ray and F-number the spot uses, first) and
    their normalised weights; empty for one wavelength.
wave : ndarray of int
    Per point, the index of its wavelength in ``wavelengths``; the centroid
    and RMS weigh each point by its wavelength's weight.
)");
    spotClass
        .def_property_readonly("points",
                               [](const TSpotDiagram& d) {
                                   py::array_t<double> p({static_cast<py::ssize_t>(d.x.size()), py::ssize_t(2)});
                                   auto out = p.mutable_unchecked<2>();
                                   for (std::size_t i = 0; i < d.x.size(); ++i) {
                                       out(static_cast<py::ssize_t>(i), 0) = d.x[i];
                                       out(static_cast<py::ssize_t>(i), 1) = d.y[i];
                                   }
                                   return frozen(p);
                               })
        .def_property_readonly("pupil", [](const TSpotDiagram& d) { return frozen(pointArray(d.pupil)); })
        .def_property_readonly("centroid", [](const TSpotDiagram& d) { return frozen(pair(d.centroidX, d.centroidY)); })
        .def_property_readonly("chief", [](const TSpotDiagram& d) { return frozen(pair(d.chiefX, d.chiefY)); })
        .def_property_readonly("rms_radius", [](const TSpotDiagram& d) { return d.spot.rms; })
        .def_property_readonly("geo_radius", [](const TSpotDiagram& d) { return d.spot.largest; })
        .def_readonly("airy_radius", &TSpotDiagram::airyRadius)
        .def_readonly("image_z", &TSpotDiagram::z)
        .def_property_readonly("rays", [](const TSpotDiagram& d) { return d.spot.rays; })
        .def_property_readonly("failed", [](const TSpotDiagram& d) { return d.spot.failed; })
        .def_property_readonly("vignetted", [](const TSpotDiagram& d) { return d.spot.vignetted; })
        .def_readonly("field", &TSpotDiagram::field)
        .def_property_readonly("field_angle", [](const TSpotDiagram& d) { return degrees(d.fieldAngle); })
        .def_readonly("wavelength", &TSpotDiagram::wavelength)
        .def_readonly("pupil_radius", &TSpotDiagram::pupilRadius)
        .def_property_readonly("wavelengths", [](const TSpotDiagram& d) { return frozen(values(d.wavelengthsUm)); })
        .def_property_readonly("weights", [](const TSpotDiagram& d) { return frozen(values(d.weights)); })
        .def_property_readonly("wave", [](const TSpotDiagram& d) {
            py::array_t<int> a(static_cast<py::ssize_t>(d.wave.size()));
            std::copy(d.wave.begin(), d.wave.end(), a.mutable_data());
            a.attr("flags").attr("writeable") = false;
            return a;
        })
        .def("__repr__", [](const TSpotDiagram& d) {
            return "Spot(field_angle=" + g("%g", degrees(d.fieldAngle)) + " deg, image_z=" + g("%.6g", d.z) + ", " +
                   std::to_string(d.spot.rays) + " rays" +
                   (d.spot.failed ? ", " + std::to_string(d.spot.failed) + " failed" : std::string()) +
                   (d.spot.vignetted ? ", " + std::to_string(d.spot.vignetted) + " vignetted" : std::string()) +
                   ", rms_radius=" + g("%.4g", d.spot.rms) + ", geo_radius=" + g("%.4g", d.spot.largest) +
                   ", airy_radius=" + g("%.4g", d.airyRadius) + ")";
        });
    home(spotClass);

    py::class_<TThroughFocus> focusClass(a, "ThroughFocus", R"(The RMS spot radius against the image plane.

Unpacks as ``z, rms = through_focus(...)``.

Attributes
----------
z, rms : ndarray, shape (steps,)
    The planes and the RMS radius about the centroid in each.
best_z, best_rms : float
    The plane of least RMS radius, found exactly (the mean square radius
    is a parabola in z behind the last element), and its RMS radius.
field_angle : float
    Degrees.
)");
    focusClass.def_property_readonly("z", [](const TThroughFocus& c) { return values(c.z); })
        .def_property_readonly("rms", [](const TThroughFocus& c) { return values(c.rms); })
        .def_readonly("best_z", &TThroughFocus::bestZ)
        .def_readonly("best_rms", &TThroughFocus::bestRms)
        .def_property_readonly("field_angle", [](const TThroughFocus& c) { return degrees(c.fieldAngle); })
        .def("__iter__", [](const TThroughFocus& c) { return py::iter(py::make_tuple(values(c.z), values(c.rms))); })
        .def("__repr__", [](const TThroughFocus& c) {
            return "ThroughFocus(" + std::to_string(c.z.size()) + " planes z=" + g("%.6g", c.z.front()) + ".." +
                   g("%.6g", c.z.back()) + ", best_z=" + g("%.6g", c.bestZ) + ", best_rms=" + g("%.4g", c.bestRms) +
                   ")";
        });
    home(focusClass);

    py::class_<TRayFan> fanClass(a, "RayFan", R"(Transverse ray errors across the pupil.

Unpacks as ``rho, tangential, sagittal = ray_fan(...)``.

Attributes
----------
rho : ndarray, shape (n,)
    Normalised pupil coordinate, -1 to 1: tangential rays at
    (rho r, 0), sagittal rays at (0, rho r).
tangential, sagittal : ndarray, shape (n,)
    The image-plane point minus the chief ray's, x of the tangential
    rays and y of the sagittal rays, in length units; NaN for a ray that
    failed.
image_z, reference_radius : float
    The image plane, and the radius of the OPD's reference sphere.
field : int
    A prescription's field; -1 for a System's beam. A prescription's
    tangential rays run along its field's direction in the pupil.
failed, vignetted : int
    Fan rays that failed, and fan rays a clear aperture or the stop
    stopped (their values NaN); ``failure`` says why the first failed.
field_angle : float
    Degrees.
wavelength : float
)");
    bindFanFields(fanClass);
    fanClass.def_property_readonly("tangential", [](const TRayFan& f) { return values(f.tangential); })
        .def_property_readonly("sagittal", [](const TRayFan& f) { return values(f.sagittal); })
        .def("__iter__",
             [](const TRayFan& f) {
                 return py::iter(py::make_tuple(values(f.rho), values(f.tangential), values(f.sagittal)));
             })
        .def("__repr__", [](const TRayFan& f) { return fanRepr(f, "RayFan", f.tangential, f.sagittal); });
    home(fanClass);

    py::class_<OpdFan, TRayFan> opdClass(a, "OpdFan", R"(Optical path difference across the pupil, in waves.

Unpacks as ``rho, tangential, sagittal = opd_fan(...)``.

W = OPL(chief) - OPL(ray) from the incoming plane wavefront to a
reference sphere centred on the chief ray's image point and through the
chief ray's last node; positive where the wavefront leads. A perfect
image has W = 0.

Attributes
----------
rho : ndarray, shape (n,)
    Normalised pupil coordinate, as in RayFan.
tangential, sagittal : ndarray, shape (n,)
    W in waves; NaN for a ray that failed.
image_z, reference_radius, field_angle, wavelength
    As in RayFan.
)");
    opdClass.def_property_readonly("tangential", [](const OpdFan& f) { return values(f.tangentialOpd); })
        .def_property_readonly("sagittal", [](const OpdFan& f) { return values(f.sagittalOpd); })
        .def("__iter__",
             [](const OpdFan& f) {
                 return py::iter(py::make_tuple(values(f.rho), values(f.tangentialOpd), values(f.sagittalOpd)));
             })
        .def("__repr__", [](const OpdFan& f) { return fanRepr(f, "OpdFan", f.tangentialOpd, f.sagittalOpd); });
    home(opdClass);
}


// The layout: the geometry `lumivex draw` draws, for lumivex.plot.layout.

py::array_t<double> sectionArray(const std::vector<TSectionPoint>& points) {
    py::array_t<double> a({static_cast<py::ssize_t>(points.size()), py::ssize_t(2)});
    auto out = a.mutable_unchecked<2>();
    for (std::size_t i = 0; i < points.size(); ++i) {
        out(static_cast<py::ssize_t>(i), 0) = points[i].z;
        out(static_cast<py::ssize_t>(i), 1) = points[i].x;
    }
    return frozen(a);
}

const char* mediumName(TLayoutMedium m) {
    return m == TLayoutMedium::Gradient ? "grin" : m == TLayoutMedium::Glass ? "glass" : "air";
}

// The tool's picture: its fan of the collimated beam at the field angle, on
// a freshly read copy of the system.
TLayout fanLayout(System& s, double wavelength, double fieldAngle, int rays, const py::object& endZ, int threads) {
    return analysed(s, [&](TOpticalSystem& system) {
        TCollimatedBeam beam;
        beam.wavelength = wavelength;
        beam.fieldAngle = fieldAngle;
        return systemLayout(system, resolveBeam(system, beam), rays, orDefault(endZ), traceOptions(threads));
    });
}

// Rays the script traced: on the system as it holds them (its traced radii
// are those of that trace), the beam's start plane and height read off the
// rays, the focus that of the axis.
TLayout tracedLayout(System& s, const std::vector<TBeam>& rays, const std::vector<std::string>& failures,
                     const py::object& endZ) {
    if (rays.empty()) raiseValueError("traced holds no ray");
    for (const TBeam& ray : rays)
        if (ray.getSize() == 0) raiseValueError("traced holds a beam without nodes");
    std::unique_ptr<TOpticalSystem> system = s.build();
    if (system->getSize() == 0) raiseValueError("system holds no element");
    py::gil_scoped_release nogil;
    TCollimatedBeam beam;
    beam.wavelength = rays.front().wavelength;
    beam.startZ = rays.front()[0].position.z;
    beam.pupilRadius = 0.0;
    for (const TBeam& ray : rays) {
        beam.startZ = std::min(beam.startZ, ray[0].position.z);
        beam.pupilRadius = std::max(beam.pupilRadius, std::fabs(ray[0].position.x));
    }
    beam = resolveBeam(*system, beam);
    const TParaxialFocus focus = paraxialFocus(*system, beam);
    return systemLayout(*system, rays, failures, beam, focus, orDefault(endZ));
}

// A prescription's picture: its lenses, stop, image plane and rays of each
// field, at a wavelength in micrometres (None: the primary).
TLayout lensLayout(const TPrescription& lens, int raysPerField, const py::object& wavelength, int threads) {
    const double um = orDefault(wavelength);
    py::gil_scoped_release nogil;
    return prescriptionLayout(lens, raysPerField, um, traceOptions(threads));
}

void bindLayout(py::module_& a) {
    py::class_<TLayout> cls(a, "Layout", R"(The picture of a system and its rays in the x-z section, as geometry.

What ``lumivex draw`` draws and ``lumivex.plot.layout`` draws, in the
system's lengths; every outline is an (N, 2) array of (z, x) points.

Attributes
----------
z_min, z_max, x_max : float
    The extent: z from z_min to z_max, x within ±x_max.
exaggeration : float
    How much x is stretched against z (1: true proportions).
end_z : float
    Where the rays that went through end.
faces : list of Layout.Face
    ``element``, ``kind``, ``z``, ``radius`` (drawn to), ``medium_in_front``
    ("air", "glass" or "grin"), ``outline``, ``label`` (written above
    the face: a System's faces by kind, a Prescription's by number; "" for
    none) and ``label_at``, the (z, x) it stands above.
pieces : list of Layout.Piece
    The shaded media: ``front`` and ``back`` element, ``medium`` and the
    closed ``outline``.
rays : list of Layout.Ray
    ``points``, ``ok``, ``intensity`` (the colour value), ``start_x``,
    ``status``, ``field``, ``vignetted`` (stopped by a clear aperture where
    its points end; drawn as a ray that went through).
markers : list of Layout.Marker
    ``kind`` ("paraxial focus"), ``z``, ``x``, ``label``.
marks : list of Layout.Mark
    ``kind`` ("stop": a bar from the aperture stop's rim outwards, or
    "image plane") and ``points``, an (N, 2) polyline.
field_labels : list of str
    A Prescription's fields as the legend names them; its rays are coloured
    by ``field``. Empty: rays are coloured by intensity.
failed_rays : int
warnings : list of str
)");
    py::class_<TLayout::Face>(cls, "Face")
        .def_readonly("element", &TLayout::Face::element)
        .def_readonly("kind", &TLayout::Face::kind)
        .def_readonly("z", &TLayout::Face::z)
        .def_readonly("radius", &TLayout::Face::radius)
        .def_property_readonly("medium_in_front", [](const TLayout::Face& f) { return mediumName(f.mediumInFront); })
        .def_property_readonly("outline", [](const TLayout::Face& f) { return sectionArray(f.outline); })
        .def_readonly("label", &TLayout::Face::label)
        .def_property_readonly("label_at", [](const TLayout::Face& f) { return py::make_tuple(f.labelAt.z, f.labelAt.x); });
    py::class_<TLayout::Piece>(cls, "Piece")
        .def_readonly("front", &TLayout::Piece::front)
        .def_readonly("back", &TLayout::Piece::back)
        .def_property_readonly("medium", [](const TLayout::Piece& p) { return mediumName(p.medium); })
        .def_property_readonly("outline", [](const TLayout::Piece& p) { return sectionArray(p.outline); });
    py::class_<TLayout::Ray>(cls, "Ray")
        .def_property_readonly("points", [](const TLayout::Ray& r) { return sectionArray(r.points); })
        .def_readonly("ok", &TLayout::Ray::ok)
        .def_readonly("intensity", &TLayout::Ray::intensity)
        .def_readonly("start_x", &TLayout::Ray::startX)
        .def_readonly("status", &TLayout::Ray::status)
        .def_readonly("field", &TLayout::Ray::field)
        .def_readonly("vignetted", &TLayout::Ray::vignetted);
    py::class_<TLayout::Mark>(cls, "Mark")
        .def_property_readonly("kind", [](const TLayout::Mark& m) {
            return m.kind == TLayout::Mark::ApertureStop ? "stop" : "image plane";
        })
        .def_property_readonly("points", [](const TLayout::Mark& m) { return sectionArray(m.points); });
    py::class_<TLayout::Marker>(cls, "Marker")
        .def_property_readonly("kind", [](const TLayout::Marker&) { return "paraxial focus"; })
        .def_property_readonly("z", [](const TLayout::Marker& m) { return m.at.z; })
        .def_property_readonly("x", [](const TLayout::Marker& m) { return m.at.x; })
        .def_readonly("label", &TLayout::Marker::label);
    cls.def_readonly("z_min", &TLayout::zMin)
        .def_readonly("z_max", &TLayout::zMax)
        .def_readonly("x_max", &TLayout::xMax)
        .def_readonly("exaggeration", &TLayout::exaggeration)
        .def_readonly("end_z", &TLayout::endZ)
        .def_readonly("faces", &TLayout::faces)
        .def_readonly("pieces", &TLayout::pieces)
        .def_readonly("rays", &TLayout::rays)
        .def_readonly("markers", &TLayout::markers)
        .def_readonly("marks", &TLayout::marks)
        .def_readonly("field_labels", &TLayout::fieldLabels)
        .def_readonly("failed_rays", &TLayout::failedRays)
        .def_readonly("warnings", &TLayout::warnings)
        .def("__repr__", [](const TLayout& l) {
            return "Layout(" + std::to_string(l.faces.size()) + " faces, " + std::to_string(l.rays.size()) +
                   " rays, z " + g("%.6g", l.zMin) + ".." + g("%.6g", l.zMax) + ", x within ±" + g("%.6g", l.xMax) +
                   ")";
        });
    cls.attr("__module__") = "lumivex.analysis";
    a.def("layout_fan", &fanLayout, py::arg("system"), py::arg("wavelength"), py::arg("field_angle"),
          py::arg("rays"), py::arg("end_z"), py::arg("threads"));
    a.def("layout_traced", &tracedLayout, py::arg("system"), py::arg("rays"), py::arg("failures"),
          py::arg("end_z"));
    a.def("layout_prescription", &lensLayout, py::arg("lens"), py::arg("rays"), py::arg("wavelength"),
          py::arg("threads"));
}

// The start rays of the collimated beam through pupil points: positions,
// directions and polarizations, (M, 3) each.
py::tuple collimatedRays(System& s, const Rows& points, double fieldAngle) {
    std::unique_ptr<TOpticalSystem> system = fresh(s);
    TCollimatedBeam beam;
    beam.fieldAngle = fieldAngle;
    beam = resolveBeam(*system, beam);
    const py::ssize_t m = points.shape(0);
    py::array_t<double> p({m, py::ssize_t(3)}), k({m, py::ssize_t(3)}), e({m, py::ssize_t(3)});
    auto P = p.mutable_unchecked<2>();
    auto K = k.mutable_unchecked<2>();
    auto E = e.mutable_unchecked<2>();
    const auto put = [](auto& rows, py::ssize_t i, const TVector& v) {
        rows(i, 0) = v.x;
        rows(i, 1) = v.y;
        rows(i, 2) = v.z;
    };
    const double* xy = points.data();
    for (py::ssize_t i = 0; i < m; ++i) {
        const TBeamNode node = startNode(*system, beam, {xy[2 * i], xy[2 * i + 1]});
        put(P, i, node.position);
        put(K, i, node.kVector);
        put(E, i, node.polarization);
    }
    return py::make_tuple(p, k, e);
}

// The straight continuation of each (position, direction) to the plane z.
py::array_t<double> linesAtZ(const Rows& positions, const Rows& directions, double z) {
    const py::ssize_t n = positions.shape(0);
    py::array_t<double> out({n, py::ssize_t(3)});
    auto O = out.mutable_unchecked<2>();
    const double* p = positions.data();
    const double* k = directions.data();
    for (py::ssize_t i = 0; i < n; ++i) {
        TBeamNode node;
        node.position = TVector(p[3 * i], p[3 * i + 1], p[3 * i + 2]);
        node.kVector = TVector(k[3 * i], k[3 * i + 1], k[3 * i + 2]);
        const TVector v = positionAtZ(node, z);
        O(i, 0) = v.x;
        O(i, 1) = v.y;
        O(i, 2) = v.z;
    }
    return out;
}

py::array_t<double> beamAtZ(const TBeam& beam, double z) {
    const TVector v = positionAtZ(beam, z);
    const double xyz[3] = {v.x, v.y, v.z};
    return py::array_t<double>(3, xyz);
}

// A read-only numpy view of a result's samples; `owner` (the Python result)
// keeps them alive.
py::array_t<double> view(const std::vector<double>& v, std::vector<py::ssize_t> shape, const py::object& owner) {
    py::array_t<double> a(std::move(shape), v.data(), owner);
    a.attr("flags").attr("writeable") = false;
    return a;
}

template <class Result>
auto vectorView(std::vector<double> Result::*member) {
    return [member](const py::object& self) {
        const Result& r = self.cast<const Result&>();
        return view(r.*member, {static_cast<py::ssize_t>((r.*member).size())}, self);
    };
}

TDiffractionSampling diffractionSampling(int samples, int fftSize) {
    TDiffractionSampling sampling;
    sampling.pupilSamples = samples;
    sampling.fftSize = fftSize;
    return sampling;
}

TWavefrontMap wavefront(System& s, double wavelength, double fieldAngle, const py::object& pupilRadius,
                        const py::object& imageZ, int samples, int threads) {
    return analysed(s, [&](TOpticalSystem& system) {
        return wavefrontMap(system, filledBeam(system, wavelength, fieldAngle, pupilRadius), orDefault(imageZ),
                            samples, traceOptions(threads));
    });
}

TPsf psf(System& s, double wavelength, double fieldAngle, const py::object& pupilRadius, const py::object& imageZ,
         int samples, int fftSize, int threads) {
    return analysed(s, [&](TOpticalSystem& system) {
        return pointSpread(system, filledBeam(system, wavelength, fieldAngle, pupilRadius), orDefault(imageZ),
                           diffractionSampling(samples, fftSize), traceOptions(threads));
    });
}

void bindDiffraction(py::module_& a) {
    py::class_<TWavefrontMap>(a, "Wavefront", "The wavefront over a square grid of the entrance pupil.")
        .def_property_readonly("opd", [](const py::object& self) {
            const TWavefrontMap& w = self.cast<const TWavefrontMap&>();
            return view(w.opd, {w.samples, w.samples}, self);
        })
        .def_property_readonly("amplitude", [](const py::object& self) {
            const TWavefrontMap& w = self.cast<const TWavefrontMap&>();
            return view(w.amplitude, {w.samples, w.samples}, self);
        })
        .def_property_readonly("zernike", vectorView(&TWavefrontMap::zernike))
        .def_readonly("rms", &TWavefrontMap::rms)
        .def_readonly("pv", &TWavefrontMap::pv)
        .def_readonly("rms_to_chief", &TWavefrontMap::rmsToChief)
        .def_readonly("wavelength", &TWavefrontMap::wavelength)
        .def_readonly("image_z", &TWavefrontMap::z)
        .def_property_readonly("reference", [](const TWavefrontMap& w) { return pair(w.referenceX, w.referenceY); })
        .def_readonly("reference_radius", &TWavefrontMap::referenceRadius)
        .def_readonly("pupil_radius", &TWavefrontMap::pupilRadius)
        .def_readonly("samples", &TWavefrontMap::samples)
        .def_readonly("pitch", &TWavefrontMap::pitch)
        .def_readonly("disk", &TWavefrontMap::disk)
        .def_readonly("valid", &TWavefrontMap::valid)
        .def_readonly("field", &TWavefrontMap::field)
        .def_property_readonly("field_angle", [](const TWavefrontMap& r) { return r.fieldAngle / kDegree; })
        .def("__repr__", [](const TWavefrontMap& w) {
            return py::str("Wavefront(field_angle={:g} deg, {} x {}, rms={:.4g} waves, pv={:.4g} waves)")
                .format(w.fieldAngle / kDegree, w.samples, w.samples, w.rms, w.pv);
        });

    py::class_<TPsf>(a, "Psf", "The point spread function on a square grid of the image plane.")
        .def_property_readonly("image", [](const py::object& self) {
            const TPsf& p = self.cast<const TPsf&>();
            return view(p.image, {p.size, p.size}, self);
        })
        .def_readonly("dx", &TPsf::dx)
        .def_readonly("strehl", &TPsf::strehl)
        .def_readonly("power", &TPsf::power)
        .def_readonly("peak", &TPsf::peak)
        .def_readonly("size", &TPsf::size)
        .def_readonly("pupil_samples", &TPsf::pupilSamples)
        .def_readonly("image_z", &TPsf::z)
        .def_property_readonly("centre", [](const TPsf& p) { return pair(p.centreX, p.centreY); })
        .def_property_readonly("wavelengths", vectorView(&TPsf::wavelengths))
        .def_property_readonly("weights", vectorView(&TPsf::weights))
        .def_property_readonly("f_numbers", vectorView(&TPsf::fNumbers))
        .def_property_readonly("powers", vectorView(&TPsf::powers))
        .def_readonly("field", &TPsf::field)
        .def_property_readonly("field_angle", [](const TPsf& r) { return r.fieldAngle / kDegree; })
        .def("__repr__", [](const TPsf& p) {
            return py::str("Psf(field_angle={:g} deg, {} x {}, dx={:.4g}, strehl={:.4g}, power={:.4g})")
                .format(p.fieldAngle / kDegree, p.size, p.size, p.dx, p.strehl, p.power);
        });

    py::class_<TMtf>(a, "Mtf", "The modulation transfer function, tangential and sagittal.")
        .def_property_readonly("frequency", vectorView(&TMtf::frequency))
        .def_property_readonly("tangential", vectorView(&TMtf::tangential))
        .def_property_readonly("sagittal", vectorView(&TMtf::sagittal))
        .def_property_readonly("diffraction_limit", vectorView(&TMtf::diffractionLimit))
        .def_readonly("cutoff", &TMtf::cutoff)
        .def_readonly("image_z", &TMtf::z)
        .def_readonly("field", &TMtf::field)
        .def_property_readonly("field_angle", [](const TMtf& r) { return r.fieldAngle / kDegree; })
        .def("__repr__", [](const TMtf& m) {
            return py::str("Mtf(field_angle={:g} deg, {} frequencies up to the cutoff {:.6g})")
                .format(m.fieldAngle / kDegree, m.frequency.size(), m.cutoff);
        });

    a.def("wavefront", &wavefront, py::arg("system"), py::arg("wavelength"), py::arg("field_angle"),
          py::arg("pupil_radius"), py::arg("image_z"), py::arg("samples"), py::arg("threads"));
    a.def("psf", &psf, py::arg("system"), py::arg("wavelength"), py::arg("field_angle"), py::arg("pupil_radius"),
          py::arg("image_z"), py::arg("samples"), py::arg("fft_size"), py::arg("threads"));
    a.def("mtf", [](const TPsf& p) { return modulationTransfer(p); });
    a.def("encircled_energy", &encircledEnergy);
    a.def("ensquared_energy", &ensquaredEnergy);
}

// -- irradiance maps -----------------------------------------------------------

TDetectorGrid detector(double z, int nx, int ny, const std::array<double, 4>& extent) {
    TDetectorGrid g;
    g.z = z, g.nx = nx, g.ny = ny;
    g.xMin = extent[0], g.xMax = extent[1], g.yMin = extent[2], g.yMax = extent[3];
    return g;
}

TCollimatedBeam streamBeam(const TOpticalSystem& system, double wavelength, double fieldAngle) {
    return filledBeam(system, wavelength, fieldAngle, py::none());
}

// Where the first rays of the stream land: (xmin, xmax, ymin, ymax).
std::array<double, 4> streamExtent(System& s, double wavelength, double fieldAngle, std::uint64_t seed,
                                   double z) {
    const TDetectorGrid g = analysed(s, [&](TOpticalSystem& system) {
        return irradianceGrid(system, streamBeam(system, wavelength, fieldAngle), seed, z, 1, 1);
    });
    return {g.xMin, g.xMax, g.yMin, g.yMax};
}

// Rays first … first + count − 1 of the stream of `total` rays, in a map of
// their own.
TIrradianceMap streamMap(System& s, double wavelength, double fieldAngle, std::uint64_t seed,
                         std::uint64_t first, std::uint64_t count, std::uint64_t total, double z, int nx, int ny,
                         const std::array<double, 4>& extent, int threads) {
    if (total == 0) raiseValueError("rays must be at least 1");
    TIrradianceMap map(detector(z, nx, ny, extent), 1.0 / static_cast<double>(total));
    std::unique_ptr<TOpticalSystem> system = fresh(s);
    Interruptible interrupts(threads);
    try {
        py::gil_scoped_release nogil;
        traceIntoMap(*system, streamBeam(*system, wavelength, fieldAngle), seed, first, count, map,
                     interrupts.options());
    } catch (const xmsg&) {
        interrupts.rethrow();
        throw;
    }
    return map;
}

// The same for a prescription's stream at field `field`, wavelength in µm
// (None: the primary), plane z (None: the image plane).
std::array<double, 4> lensStreamExtent(const TPrescription& lens, int field, const py::object& wavelength,
                                       std::uint64_t seed, const py::object& z) {
    const double um = orDefault(wavelength), plane = orDefault(z);
    py::gil_scoped_release nogil;
    const TDetectorGrid g = irradianceGrid(lens, field, um, seed, plane, 1, 1);
    return {g.xMin, g.xMax, g.yMin, g.yMax};
}

TIrradianceMap lensStreamMap(const TPrescription& lens, int field, const py::object& wavelength, std::uint64_t seed,
                             std::uint64_t first, std::uint64_t count, std::uint64_t total, double z, int nx, int ny,
                             const std::array<double, 4>& extent, int threads) {
    if (total == 0) raiseValueError("rays must be at least 1");
    const double um = orDefault(wavelength);
    TIrradianceMap map(detector(z, nx, ny, extent), 1.0 / static_cast<double>(total));
    Interruptible interrupts(threads);
    try {
        py::gil_scoped_release nogil;
        traceIntoMap(lens, field, um, seed, first, count, map, interrupts.options());
    } catch (const xmsg&) {
        interrupts.rethrow();
        throw;
    }
    return map;
}

// The box around traced last nodes (at most the first 4096 that went
// through), as irradianceGrid makes it.
std::array<double, 4> nodesExtent(const py::array_t<double, py::array::c_style | py::array::forcecast>& nodes,
                                  const py::array_t<std::int32_t, py::array::c_style | py::array::forcecast>& failed,
                                  double z) {
    if (nodes.ndim() != 2 || nodes.shape(1) != 11 || failed.ndim() != 1 || failed.shape(0) != nodes.shape(0))
        raiseValueError("nodes must have shape (N, 11) and failed shape (N,)");
    const double* v = nodes.data();
    const std::int32_t* f = failed.data();
    const py::ssize_t n = std::min<py::ssize_t>(nodes.shape(0), 4096);
    std::vector<TVector> points;
    for (py::ssize_t i = 0; i < n; ++i, v += 11) {
        if (f[i] >= 0) continue;
        TBeamNode node;
        node.position = TVector(v[0], v[1], v[2]);
        node.kVector = TVector(v[3], v[4], v[5]);
        points.push_back(positionAtZ(node, z));
    }
    const TDetectorGrid g = gridAround(points, z, 1, 1);
    return {g.xMin, g.xMax, g.yMin, g.yMax};
}

// Traced last nodes, (N, 11), and failed elements (N,), in a new map.
TIrradianceMap nodesMap(const py::array_t<double, py::array::c_style | py::array::forcecast>& nodes,
                        const py::array_t<std::int32_t, py::array::c_style | py::array::forcecast>& failed,
                        double z, int nx, int ny, const std::array<double, 4>& extent, double rayPower,
                        double maxIntensity) {
    if (nodes.ndim() != 2 || nodes.shape(1) != 11 || failed.ndim() != 1 || failed.shape(0) != nodes.shape(0))
        raiseValueError("nodes must have shape (N, 11) and failed shape (N,)");
    TIrradianceMap map(detector(z, nx, ny, extent), rayPower, maxIntensity);
    const double* v = nodes.data();
    const std::int32_t* f = failed.data();
    const py::ssize_t n = nodes.shape(0);
    py::gil_scoped_release nogil;
    for (py::ssize_t i = 0; i < n; ++i, v += 11)
        map.add(TBeamNode(TVector(v[0], v[1], v[2]), TVector(v[3], v[4], v[5]), v[9], TVector(v[6], v[7], v[8]),
                          v[10]),
                f[i] < 0);
    return map;
}

}  // namespace

// A prescription's analyses: the prescription as the host gave it, with the
// entrance pupil's radius over its aperture when one is given. Wavelengths
// in micrometres (None: the primary).
TPrescription withPupil(const TPrescription& p, const py::object& pupilRadius) {
    TPrescription lens = p;
    if (!pupilRadius.is_none())
        lens.aperture = {TApertureKind::entrancePupilDiameter, 2.0 * pupilRadius.cast<double>()};
    return lens;
}

TParaxialData lensParaxial(const TPrescription& p, const py::object& wavelength, const py::object& pupilRadius) {
    const TPrescription lens = withPupil(p, pupilRadius);
    py::gil_scoped_release nogil;
    return paraxialData(lens, orDefault(wavelength));
}

std::vector<TSpotDiagram> lensSpots(const TPrescription& p, const std::vector<int>& fields, const std::string& pattern,
                                    int n, std::uint64_t seed, const py::object& pupilRadius, const py::object& imageZ,
                                    const py::object& wavelength, int threads) {
    const TPrescription lens = withPupil(p, pupilRadius);
    const double um = orDefault(wavelength), z = orDefault(imageZ);
    py::gil_scoped_release nogil;
    const std::vector<TPupilPoint> pupil = pupilSet(pattern, 1.0, n, seed);
    // Every wavelength with its weight, unless one is named.
    std::vector<TWavelength> spectrum;
    if (!std::isnan(um)) spectrum.push_back({um, 1.0});
    std::vector<TSpotDiagram> diagrams;
    for (int field : fields)
        diagrams.push_back(polychromaticSpot(lens, field, pupil, z, spectrum, traceOptions(threads)));
    return diagrams;
}

TThroughFocus lensThroughFocus(const TPrescription& p, int field, const std::string& pattern, int n,
                               std::uint64_t seed, const py::object& pupilRadius, const py::object& zFrom,
                               const py::object& zTo, int steps, const py::object& wavelength, int threads) {
    const TPrescription lens = withPupil(p, pupilRadius);
    const double um = orDefault(wavelength);
    double from = orDefault(zFrom), to = orDefault(zTo);
    py::gil_scoped_release nogil;
    const std::vector<TPupilPoint> pupil = pupilSet(pattern, 1.0, n, seed);
    const TTraceOptions options = traceOptions(threads);
    if (std::isnan(from)) {
        // As for a bare system: about the image plane by the depth over which
        // the spot grows by its own size, never less than ±4·λ·N².
        const TSpotDiagram spot = spotDiagram(lens, field, pupil, kNaN, um, options);
        const double N = lens.firstOrder(um).fNumber;
        const double lambda = lens.wavelengthInLensUnit(um);
        const double half = std::max(4.0 * N * spot.spot.largest, 4.0 * lambda * N * N);
        from = std::max(spot.z - half, lens.surfaces.back().element->zPosition);
        to = spot.z + half;
    }
    return throughFocus(lens, field, pupil, from, to, steps, um, options);
}

TRayFan lensFan(const TPrescription& p, int field, int n, const py::object& pupilRadius, const py::object& imageZ,
                const py::object& wavelength, int threads) {
    const TPrescription lens = withPupil(p, pupilRadius);
    const double um = orDefault(wavelength), z = orDefault(imageZ);
    py::gil_scoped_release nogil;
    return rayFan(lens, field, n, z, um, traceOptions(threads));
}

// -- fibre coupling ---------------------------------------------------------------

TBeamCoupling coupling(System& s, double wavelength, double fieldAngle, const py::object& pupilRadius,
                        const py::object& imageZ, double modeRadius, const py::object& beamRadius, double offsetX,
                        double offsetY, int samples, int fftSize, int threads) {
    return analysed(s, [&](TOpticalSystem& system) {
        return beamCoupling(system, filledBeam(system, wavelength, fieldAngle, pupilRadius), modeRadius,
                             orDefault(beamRadius), offsetX, offsetY, orDefault(imageZ),
                             diffractionSampling(samples, fftSize), traceOptions(threads));
    });
}

// The wavelengths of a prescription's PSF as (µm, weight) pairs, the
// reference first; none: its own.
std::vector<TWavelength> spectrumOf(const std::vector<std::pair<double, double>>& pairs) {
    std::vector<TWavelength> spectrum;
    for (const auto& [um, weight] : pairs) spectrum.push_back({um, weight});
    return spectrum;
}

TWavefrontMap lensWavefront(const TPrescription& p, int field, const py::object& pupilRadius,
                            const py::object& imageZ, const py::object& wavelength, int samples, int threads) {
    const TPrescription lens = withPupil(p, pupilRadius);
    const double um = orDefault(wavelength), z = orDefault(imageZ);
    py::gil_scoped_release nogil;
    return wavefrontMap(lens, field, z, um, samples, traceOptions(threads));
}

TPsf lensPsf(const TPrescription& p, int field, const py::object& pupilRadius, const py::object& imageZ,
             const std::vector<std::pair<double, double>>& wavelengths, int samples, int fftSize, int threads) {
    const TPrescription lens = withPupil(p, pupilRadius);
    const double z = orDefault(imageZ);
    py::gil_scoped_release nogil;
    return pointSpread(lens, field, z, spectrumOf(wavelengths), diffractionSampling(samples, fftSize),
                       traceOptions(threads));
}

void bindCurves(py::module_& a) {
    py::class_<TFocalShift>(a, "FocalShift", R"(The paraxial focus against the wavelength.

Attributes
----------
wavelengths : ndarray
    Micrometres, evenly from the shortest to the longest.
focus_z, shift : ndarray
    The paraxial focus, and it less the primary wavelength's.
primary_focus_z, range : float)")
        .def_property_readonly("wavelengths", vectorView(&TFocalShift::wavelengths))
        .def_property_readonly("focus_z", vectorView(&TFocalShift::focusZ))
        .def_property_readonly("shift", vectorView(&TFocalShift::shift))
        .def_readonly("primary_focus_z", &TFocalShift::primaryFocusZ)
        .def_readonly("range", &TFocalShift::range)
        .def("__repr__", [](const TFocalShift& f) {
            return py::str("FocalShift({} wavelengths {:.4g} ... {:.4g} um, range {:.4g})")
                .format(f.wavelengths.size(), f.wavelengths.front(), f.wavelengths.back(), f.range);
        });
    py::class_<TLateralColour>(a, "LateralColour", R"(The chief ray's height at the longest wavelength less at the shortest.

Attributes
----------
field : ndarray
    Degrees or object heights, from the axis to the largest field.
short_height, long_height, difference : ndarray
    In the image plane ``image_z``, along the field's direction.
short_wavelength, long_wavelength : float
    Micrometres.)")
        .def_property_readonly("field", vectorView(&TLateralColour::field))
        .def_property_readonly("short_height", vectorView(&TLateralColour::shortHeight))
        .def_property_readonly("long_height", vectorView(&TLateralColour::longHeight))
        .def_property_readonly("difference", vectorView(&TLateralColour::difference))
        .def_readonly("short_wavelength", &TLateralColour::shortUm)
        .def_readonly("long_wavelength", &TLateralColour::longUm)
        .def_readonly("image_z", &TLateralColour::z)
        .def("__repr__", [](const TLateralColour& c) {
            return py::str("LateralColour({} fields, {:.4g} at the largest)").format(c.field.size(),
                                                                                     c.difference.back());
        });
    py::class_<TFieldCurves>(a, "FieldCurves", R"(Field curvature and distortion against the field.

Attributes
----------
field : ndarray
    Degrees or object heights, from the axis to the largest field.
tangential, sagittal : ndarray
    The foci of close rays about the chief ray, along z from the image plane.
height, paraxial_height : ndarray
    The chief ray's height in the image plane, and the paraxial height there.
distortion : ndarray
    Per cent, 100 (height - paraxial_height) / paraxial_height.
wavelength : float
    Micrometres.)")
        .def_property_readonly("field", vectorView(&TFieldCurves::field))
        .def_property_readonly("tangential", vectorView(&TFieldCurves::tangential))
        .def_property_readonly("sagittal", vectorView(&TFieldCurves::sagittal))
        .def_property_readonly("height", vectorView(&TFieldCurves::height))
        .def_property_readonly("paraxial_height", vectorView(&TFieldCurves::paraxialHeight))
        .def_property_readonly("distortion", vectorView(&TFieldCurves::distortion))
        .def_readonly("wavelength", &TFieldCurves::wavelengthUm)
        .def_readonly("image_z", &TFieldCurves::z)
        .def("__repr__", [](const TFieldCurves& c) {
            return py::str("FieldCurves({} fields, distortion {:.4g} % at the largest)")
                .format(c.field.size(), c.distortion.back());
        });
    a.def("focal_shift", [](const TPrescription& p, int samples, const py::object& from, const py::object& to) {
        const double lo = orDefault(from), hi = orDefault(to);
        py::gil_scoped_release nogil;
        return chromaticFocalShift(p, samples, lo, hi);
    });
    a.def("lateral_colour", [](const TPrescription& p, int samples, int threads) {
        py::gil_scoped_release nogil;
        return lateralColour(p, samples, traceOptions(threads));
    });
    a.def("field_curves", [](const TPrescription& p, int samples, const py::object& wavelength, int threads) {
        const double um = orDefault(wavelength);
        py::gil_scoped_release nogil;
        return fieldCurves(p, samples, um, traceOptions(threads));
    });
}

void bindCoupling(py::module_& a) {
    py::class_<TBeamCoupling>(a, "BeamCoupling", "The coupling of a focused collimated Gaussian beam into a fibre.")
        .def_readonly("efficiency", &TBeamCoupling::efficiency)
        .def_readonly("image_efficiency", &TBeamCoupling::imageEfficiency)
        .def_readonly("transmitted", &TBeamCoupling::transmitted)
        .def_readonly("mode_match", &TBeamCoupling::modeMatch)
        .def_readonly("mode_radius", &TBeamCoupling::modeRadius)
        .def_readonly("beam_radius", &TBeamCoupling::beamRadius)
        .def_readonly("matched_radius", &TBeamCoupling::matchedRadius)
        .def_property_readonly("offset", [](const TBeamCoupling& c) { return pair(c.offsetX, c.offsetY); })
        .def_readonly("wavelength", &TBeamCoupling::wavelength)
        .def_readonly("image_z", &TBeamCoupling::z)
        .def_property_readonly("field_angle", [](const TBeamCoupling& c) { return c.fieldAngle / kDegree; })
        .def("__repr__", [](const TBeamCoupling& c) {
            return py::str("BeamCoupling(efficiency={:.6g}, mode_match={:.6g}, transmitted={:.6g})")
                .format(c.efficiency, c.modeMatch, c.transmitted);
        });
    a.def("beam_coupling", &coupling, py::arg("system"), py::arg("wavelength"), py::arg("field_angle"),
          py::arg("pupil_radius"), py::arg("image_z"), py::arg("mode_radius"), py::arg("beam_radius"),
          py::arg("offset_x"), py::arg("offset_y"), py::arg("samples"), py::arg("fft_size"), py::arg("threads"));
    py::class_<TFibreCoupling>(a, "FibreCoupling", R"(The power one fibre couples into another through a prescription.

Attributes
----------
efficiency : float
    By the overlap of the modes' far fields over the pupil.
transmitted : float
    The source's power that reaches the image plane.
mode_match : float
    efficiency / transmitted: 1 for a perfect relay whatever its faces reflect.
image_plane_efficiency : float
    By the second route, the source's mode carried as a fan of beams to the
    image plane and overlapped there (valid where the system images the
    waist onto the receiver's face).
receiver : ndarray, shape (2,)
    The receiving fibre's centre in the image plane ``image_z``.
field, rays : int
wavelength : float
    In lens units.)")
        .def_readonly("efficiency", &TFibreCoupling::efficiency)
        .def_readonly("transmitted", &TFibreCoupling::transmitted)
        .def_readonly("mode_match", &TFibreCoupling::modeMatch)
        .def_readonly("image_plane_efficiency", &TFibreCoupling::imagePlaneEfficiency)
        .def_property_readonly("receiver", [](const TFibreCoupling& c) { return frozen(pair(c.receiverX, c.receiverY)); })
        .def_readonly("image_z", &TFibreCoupling::z)
        .def_readonly("field", &TFibreCoupling::field)
        .def_readonly("rays", &TFibreCoupling::rays)
        .def_readonly("wavelength", &TFibreCoupling::wavelength)
        .def("__repr__", [](const TFibreCoupling& c) {
            return py::str("FibreCoupling(efficiency={:.6g}, image_plane_efficiency={:.6g}, transmitted={:.6g})")
                .format(c.efficiency, c.imagePlaneEfficiency, c.transmitted);
        });
    a.def("fibre_coupling", [](const TPrescription& p, int field, double source, double receiver, double dx, double dy,
                               const py::object& wavelength, int samples, int threads) {
        const double um = orDefault(wavelength);
        py::gil_scoped_release nogil;
        return fibreCoupling(p, field, source, receiver, dx, dy, um, samples, traceOptions(threads));
    });
}

void bindAnalysis(py::module_& m) {
    py::module_ a = m.def_submodule("_analysis", "Compiled half of lumivex.analysis; use that instead.");
    bindResults(a);
    bindLayout(a);
    a.def("paraxial", &paraxial, py::arg("system"), py::arg("wavelength"), py::arg("pupil_radius"));
    a.def("spots", &spots, py::arg("system"), py::arg("wavelength"), py::arg("field_angles"), py::arg("pattern"),
          py::arg("n"), py::arg("seed"), py::arg("pupil_radius"), py::arg("image_z"), py::arg("threads"));
    a.def("through_focus", &throughFocusCurve, py::arg("system"), py::arg("wavelength"), py::arg("field_angle"),
          py::arg("pattern"), py::arg("n"), py::arg("seed"), py::arg("pupil_radius"), py::arg("z_from"),
          py::arg("z_to"), py::arg("steps"), py::arg("threads"));
    a.def("ray_fan", &fan, py::arg("system"), py::arg("wavelength"), py::arg("field_angle"), py::arg("n"),
          py::arg("pupil_radius"), py::arg("image_z"), py::arg("threads"));
    a.def(
        "opd_fan",
        [](System& s, double wavelength, double fieldAngle, int n, const py::object& pupilRadius,
           const py::object& imageZ, int threads) {
            return OpdFan(fan(s, wavelength, fieldAngle, n, pupilRadius, imageZ, threads));
        },
        py::arg("system"), py::arg("wavelength"), py::arg("field_angle"), py::arg("n"), py::arg("pupil_radius"),
        py::arg("image_z"), py::arg("threads"));
    a.def("lens_paraxial", &lensParaxial);
    a.def("lens_spots", &lensSpots);
    a.def("lens_through_focus", &lensThroughFocus);
    a.def("lens_ray_fan", &lensFan);
    a.def("lens_opd_fan", [](const TPrescription& p, int field, int n, const py::object& pupilRadius,
                             const py::object& imageZ, const py::object& wavelength, int threads) {
        return OpdFan(lensFan(p, field, n, pupilRadius, imageZ, wavelength, threads));
    });
    bindCurves(a);
    bindCoupling(a);
    a.def("lens_wavefront", &lensWavefront);
    a.def("lens_psf", &lensPsf);
    a.def("pupil", [](const std::string& pattern, double r, int n, std::uint64_t seed) {
        return pointArray(pupilSet(pattern, r, n, seed));
    });
    a.def("collimated_rays", &collimatedRays);
    a.def("lines_at_z", &linesAtZ);
    a.def("beam_at_z", &beamAtZ);
    bindDiffraction(a);

    py::class_<TIrradianceMap>(a, "IrradianceMap",
                               "Exact sums of an irradiance map being gathered; merge() in any order.")
        .def("merge",
             [](TIrradianceMap& self, const TIrradianceMap& other) {
                 self.merge(other);
                 return &self;
             },
             py::return_value_policy::reference_internal)
        .def_property_readonly("image",
                               [](const TIrradianceMap& m) {
                                   const std::vector<double> v = m.image();
                                   py::array_t<double> a({static_cast<py::ssize_t>(m.grid().ny),
                                                          static_cast<py::ssize_t>(m.grid().nx)});
                                   std::copy(v.begin(), v.end(), a.mutable_data());
                                   return a;
                               })
        .def_property_readonly("extent",
                               [](const TIrradianceMap& m) {
                                   const TDetectorGrid& g = m.grid();
                                   return py::make_tuple(g.xMin, g.xMax, g.yMin, g.yMax);
                               })
        .def_property_readonly("z", [](const TIrradianceMap& m) { return m.grid().z; })
        .def_property_readonly("power", &TIrradianceMap::power)
        .def_property_readonly("power_through", &TIrradianceMap::powerThrough)
        .def_property_readonly("rays", &TIrradianceMap::rays)
        .def_property_readonly("failed", &TIrradianceMap::failed)
        .def_property_readonly("on_grid", &TIrradianceMap::onGrid)
        .def_property_readonly("centroid",
                               [](const TIrradianceMap& m) { return pair(m.centroidX(), m.centroidY()); })
        .def_property_readonly("rms_radius", &TIrradianceMap::rmsRadius)
        .def(py::pickle(
            [](const TIrradianceMap& m) {
                const std::vector<std::int64_t> s = m.state();
                return py::array_t<std::int64_t>(static_cast<py::ssize_t>(s.size()), s.data());
            },
            [](const py::array_t<std::int64_t>& state) {
                const py::array_t<std::int64_t, py::array::c_style | py::array::forcecast> a(state);
                return TIrradianceMap::fromState(std::vector<std::int64_t>(a.data(), a.data() + a.size()));
            }));
    a.def("irradiance_extent", &streamExtent, py::arg("system"), py::arg("wavelength"), py::arg("field_angle"),
          py::arg("seed"), py::arg("z"));
    a.def("irradiance_stream", &streamMap, py::arg("system"), py::arg("wavelength"), py::arg("field_angle"),
          py::arg("seed"), py::arg("first"), py::arg("count"), py::arg("total"), py::arg("z"), py::arg("nx"),
          py::arg("ny"), py::arg("extent"), py::arg("threads"));
    a.def("irradiance_extent_of", &nodesExtent, py::arg("nodes"), py::arg("failed"), py::arg("z"));
    a.def("irradiance_nodes", &nodesMap, py::arg("nodes"), py::arg("failed"), py::arg("z"), py::arg("nx"),
          py::arg("ny"), py::arg("extent"), py::arg("ray_power"), py::arg("max_intensity"));
    a.def("irradiance_lens_extent", &lensStreamExtent, py::arg("lens"), py::arg("field"), py::arg("wavelength"),
          py::arg("seed"), py::arg("z"));
    a.def("irradiance_lens_stream", &lensStreamMap, py::arg("lens"), py::arg("field"), py::arg("wavelength"),
          py::arg("seed"), py::arg("first"), py::arg("count"), py::arg("total"), py::arg("z"), py::arg("nx"),
          py::arg("ny"), py::arg("extent"), py::arg("threads"));
}

}  // namespace lumivex::python
