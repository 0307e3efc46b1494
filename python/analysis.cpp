// The analysis layer for Python: lumivex._lumivex._analysis, the compiled half
// of lumivex.analysis. Arguments arrive checked by the Python half; these
// functions build the collimated beam, run the library's analysis on a copy
// of the system with the GIL released and hand the results back as numpy
// arrays and dicts, unchanged.
#include <algorithm>
#include <array>
#include <cmath>
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

py::array_t<double> array(const std::vector<double>& v) { return py::array_t<double>(v.size(), v.data()); }

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

py::dict paraxialDict(const TParaxialData& p) {
    py::dict d;
    d["efl"] = p.efl;
    d["bfl"] = p.bfl;
    d["focus_z"] = p.focusZ;
    d["f_number"] = p.fNumber;
    d["pupil_radius"] = p.pupilRadius;
    return d;
}

py::dict paraxial(System& s, double wavelength, const py::object& pupilRadius) {
    const TParaxialData p = analysed(s, [&](TOpticalSystem& system) {
        return paraxialData(system, filledBeam(system, wavelength, 0.0, pupilRadius));
    });
    return paraxialDict(p);
}

py::dict spotDict(const TSpotDiagram& d, double wavelength, double pupilRadius) {
    std::vector<TPupilPoint> points(d.x.size());
    for (std::size_t i = 0; i < points.size(); ++i) points[i] = {d.x[i], d.y[i]};
    py::dict r;
    r["field_angle"] = d.fieldAngle;
    r["image_z"] = d.z;
    r["chief"] = pair(d.chiefX, d.chiefY);
    r["pupil"] = pointArray(d.pupil);
    r["points"] = pointArray(points);
    r["centroid"] = pair(d.centroidX, d.centroidY);
    r["rays"] = d.spot.rays;
    r["failed"] = d.spot.failed;
    r["vignetted"] = d.spot.vignetted;
    r["rms_radius"] = d.spot.rms;
    r["geo_radius"] = d.spot.largest;
    r["airy_radius"] = d.airyRadius;
    r["wavelength"] = wavelength;
    r["pupil_radius"] = pupilRadius;
    return r;
}

py::list spots(System& s, double wavelength, const std::vector<double>& fieldAngles, const std::string& pattern,
               int n, std::uint64_t seed, const py::object& pupilRadius, const py::object& imageZ, int threads) {
    double radius = 0.0;
    const std::vector<TSpotDiagram> diagrams = analysed(s, [&](TOpticalSystem& system) {
        const TCollimatedBeam beam = filledBeam(system, wavelength, 0.0, pupilRadius);
        radius = beam.pupilRadius;
        return spotDiagrams(system, beam, fieldAngles, pupilSet(pattern, beam.pupilRadius, n, seed),
                            orDefault(imageZ), traceOptions(threads));
    });
    py::list out;
    for (const TSpotDiagram& d : diagrams) out.append(spotDict(d, wavelength, radius));
    return out;
}

py::dict throughFocusCurve(System& s, double wavelength, double fieldAngle, const std::string& pattern, int n,
                           std::uint64_t seed, const py::object& pupilRadius, const py::object& zFrom,
                           const py::object& zTo, int steps, int threads) {
    const TThroughFocus curve = analysed(s, [&](TOpticalSystem& system) {
        const TCollimatedBeam beam = filledBeam(system, wavelength, fieldAngle, pupilRadius);
        const std::vector<TPupilPoint> pupil = pupilSet(pattern, beam.pupilRadius, n, seed);
        const TTraceOptions options = traceOptions(threads);
        double from = orDefault(zFrom), to = orDefault(zTo);
        if (std::isnan(from)) {
            // As `lumivex spot --through-focus`: about the paraxial image by
            // the depth over which the spot grows by its own size, and never
            // less than the diffraction-limited depth of focus ±4·λ·N².
            const TParaxialData paraxial = paraxialData(system, beam);
            const TSpotDiagram spot = spotDiagram(system, beam, pupil, kNaN, options);
            const double N = paraxial.fNumber;
            const double half = std::max(4.0 * N * spot.spot.largest, 4.0 * wavelength * N * N);
            from = std::max(spot.z - half, system.getLast()->zPosition);
            to = spot.z + half;
        }
        return throughFocus(system, beam, pupil, from, to, steps, options);
    });
    py::dict d;
    d["z"] = array(curve.z);
    d["rms"] = array(curve.rms);
    d["best_z"] = curve.bestZ;
    d["best_rms"] = curve.bestRms;
    return d;
}

py::dict fan(System& s, double wavelength, double fieldAngle, int n, const py::object& pupilRadius,
             const py::object& imageZ, int threads) {
    const TRayFan f = analysed(s, [&](TOpticalSystem& system) {
        return rayFan(system, filledBeam(system, wavelength, fieldAngle, pupilRadius), n, orDefault(imageZ),
                      traceOptions(threads));
    });
    py::dict d;
    d["field_angle"] = f.fieldAngle;
    d["image_z"] = f.z;
    d["reference_radius"] = f.referenceRadius;
    d["rho"] = array(f.rho);
    d["tangential"] = array(f.tangential);
    d["sagittal"] = array(f.sagittal);
    d["tangential_opd"] = array(f.tangentialOpd);
    d["sagittal_opd"] = array(f.sagittalOpd);
    return d;
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

void bindAnalysis(py::module_& m) {
    py::module_ a = m.def_submodule("_analysis", "Compiled half of lumivex.analysis; use that instead.");
    a.def("paraxial", &paraxial, py::arg("system"), py::arg("wavelength"), py::arg("pupil_radius"));
    a.def("spots", &spots, py::arg("system"), py::arg("wavelength"), py::arg("field_angles"), py::arg("pattern"),
          py::arg("n"), py::arg("seed"), py::arg("pupil_radius"), py::arg("image_z"), py::arg("threads"));
    a.def("through_focus", &throughFocusCurve, py::arg("system"), py::arg("wavelength"), py::arg("field_angle"),
          py::arg("pattern"), py::arg("n"), py::arg("seed"), py::arg("pupil_radius"), py::arg("z_from"),
          py::arg("z_to"), py::arg("steps"), py::arg("threads"));
    a.def("ray_fan", &fan, py::arg("system"), py::arg("wavelength"), py::arg("field_angle"), py::arg("n"),
          py::arg("pupil_radius"), py::arg("image_z"), py::arg("threads"));
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
}

}  // namespace lumivex::python
