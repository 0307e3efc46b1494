// SPDX-License-Identifier: Apache-2.0
// Sampled complex fields as numpy arrays, to and from fans of beams.
#include <climits>
#include <cmath>
#include <limits>

#include "bindings.h"

namespace lumivex::python {

namespace {

constexpr long long kMaxBeams = 10000000;
constexpr long long kMaxSamples = 100000000;

using ComplexRows = py::array_t<complex, py::array::c_style | py::array::forcecast>;

// The samples as a contiguous complex array; a ValueError for what numpy
// cannot make one of.
ComplexRows complexSamples(const py::object& samples) {
    try {
        return py::module_::import("numpy").attr("ascontiguousarray")(samples, py::arg("dtype") = "complex128")
            .cast<ComplexRows>();
    } catch (py::error_already_set& e) {
        raiseValueError(std::string("field: ") + e.what());
    }
}

py::list fieldToFan(const py::object& samples, double dx, double dy, long long nx, long long ny,
                    double wavelength) {
    const ComplexRows field = complexSamples(samples);
    if (field.ndim() != 1 && field.ndim() != 2) raiseValueError("field must have shape (rows, columns) or (columns,)");
    const py::ssize_t rows = field.ndim() == 2 ? field.shape(0) : 1;
    const py::ssize_t columns = field.shape(field.ndim() - 1);
    if (rows * columns > kMaxSamples || rows > INT_MAX || columns > INT_MAX) raiseValueError("field has too many samples");
    if (nx < 0 || ny < 0) raiseValueError("nx and ny must not be negative");
    // Each bound first: the product of two counts near 2^32 does not fit.
    if (nx > kMaxBeams || ny > kMaxBeams || nx * ny > kMaxBeams) raiseValueError("nx * ny is more than " + std::to_string(kMaxBeams) + " beams");
    if (!(wavelength > 0.0) || !std::isfinite(wavelength)) raiseValueError("wavelength must be positive and finite");
    TMatrix matrix(static_cast<int>(columns), static_cast<int>(rows));
    const complex* in = field.data();
    for (std::size_t i = 0; i < matrix.size(); ++i) {
        if (!std::isfinite(in[i].real()) || !std::isfinite(in[i].imag()))
            raiseValueError("field contains a sample that is not finite");
        matrix.data[i] = in[i];
    }
    TBeamFan fan;
    {
        py::gil_scoped_release nogil;
        fieldToBeamFan(matrix, dx, dy, static_cast<int>(nx), static_cast<int>(ny), wavelength, fan);
    }
    py::list beams;
    for (int i = 0; i < fan.getSize(); ++i) beams.append(*fan[i]);
    return beams;
}

py::array fanToField(const py::iterable& beams, double dx, double dy, double fanWidth, double fanHeight,
                     long long columns, long long rows) {
    if (columns < 1 || rows < 1) raiseValueError("columns and rows must be at least 1");
    if (columns > kMaxSamples || rows > kMaxSamples || columns * rows > kMaxSamples)
        raiseValueError("columns * rows is more than " + std::to_string(kMaxSamples));
    TBeamFan fan;
    for (py::handle b : beams) {
        if (!py::isinstance<TBeam>(b)) throw py::type_error("fan_to_field takes a sequence of Beam");
        fan.addBeam(new TBeam(b.cast<const TBeam&>()));
    }
    TMatrix field(static_cast<int>(columns), static_cast<int>(rows));
    {
        py::gil_scoped_release nogil;
        beamFanToField(fan, dx, dy, fanWidth, fanHeight, &field);
    }
    py::array_t<complex> out({static_cast<py::ssize_t>(rows), static_cast<py::ssize_t>(columns)});
    std::copy(field.data, field.data + field.size(), out.mutable_data());
    return out;
}

// The round trip of `lumivex field`: the row through the system and sampled
// again, on copies of the elements with the GIL released.
TFieldRoundTrip roundTrip(const System& s, const py::object& samples, double dx, double wavelength, int rays,
                          const py::object& z, const py::object& outZ, int outSamples, const py::object& outDx,
                          int threads) {
    const ComplexRows field = complexSamples(samples);
    if (field.ndim() != 1 || field.shape(0) < 2) raiseValueError("field must be one row of at least 2 samples");
    if (field.shape(0) > kMaxSamples) raiseValueError("field has too many samples");
    if (!(dx > 0.0) || !std::isfinite(dx)) raiseValueError("dx must be positive and finite");
    if (!(wavelength > 0.0) || !std::isfinite(wavelength)) raiseValueError("wavelength must be positive and finite");
    if (rays < 2) raiseValueError("rays must be at least 2");
    if (outSamples < 0) raiseValueError("out_samples must not be negative");
    const auto given = [](const py::object& v, const char* name) {
        if (v.is_none()) return std::numeric_limits<double>::quiet_NaN();
        const double d = v.cast<double>();
        if (!std::isfinite(d)) raiseValueError(std::string(name) + " must be finite");
        return d;
    };
    const double outSpacing = given(outDx, "out_dx");
    if (!std::isnan(outSpacing) && !(outSpacing > 0.0)) raiseValueError("out_dx must be positive");
    std::unique_ptr<TOpticalSystem> system = s.build();
    if (system->getSize() == 0) raiseValueError("system holds no element");
    TCollimatedBeam plane;
    plane.startZ = given(z, "z");
    TFieldRow in;
    in.z = resolveBeam(*system, plane).startZ;
    in.dx = dx;
    const py::ssize_t n = field.shape(0);
    for (py::ssize_t c = 0; c < n; ++c) {
        const complex v = field.data()[c];
        if (!std::isfinite(v.real()) || !std::isfinite(v.imag())) raiseValueError("field contains a sample that is not finite");
        in.x.push_back((static_cast<double>(c) - 0.5 * static_cast<double>(n - 1)) * dx);
        in.value.push_back(v);
    }
    const double to = given(outZ, "out_z");
    py::gil_scoped_release nogil;
    TTraceOptions options;
    options.threads = threads;
    return fieldRoundTrip(*system, in, wavelength, rays, to, outSamples, outSpacing, options);
}

}  // namespace

void bindField(py::module_& m) {
    py::class_<TFieldRoundTrip>(m, "FieldRoundTrip", R"(A sampled row after its round trip through a system.

Attributes
----------
x : ndarray, shape (columns,)
    The output samples' x, around x = 0 at column columns // 2.
field : ndarray of complex, shape (columns,)
z, dx : float
    The output plane and the samples' spacing.
power : float
    The sum of |field|² times dx.
rays : list of Beam
    The rays that carried the field, from the input plane to the output plane.
inverted : bool
    Whether the system turned the row over.
)")
        .def_property_readonly("x",
                               [](const TFieldRoundTrip& r) {
                                   return py::array_t<double>(static_cast<py::ssize_t>(r.out.x.size()), r.out.x.data());
                               })
        .def_property_readonly("field",
                               [](const TFieldRoundTrip& r) {
                                   return py::array_t<complex>(static_cast<py::ssize_t>(r.out.value.size()),
                                                               r.out.value.data());
                               })
        .def_property_readonly("z", [](const TFieldRoundTrip& r) { return r.out.z; })
        .def_property_readonly("dx", [](const TFieldRoundTrip& r) { return r.out.dx; })
        .def_property_readonly("power", [](const TFieldRoundTrip& r) { return r.out.power(); })
        .def_readonly("rays", &TFieldRoundTrip::rays)
        .def_readonly("inverted", &TFieldRoundTrip::inverted)
        .def("__repr__", [](const TFieldRoundTrip& r) {
            return "FieldRoundTrip(" + std::to_string(r.out.x.size()) + " samples at z=" + std::to_string(r.out.z) +
                   ", " + std::to_string(r.rays.size()) + " rays" + (r.inverted ? ", inverted)" : ")");
        });
    m.def("field_round_trip", &roundTrip, py::arg("system"), py::arg("field"), py::arg("dx"), py::kw_only(),
          py::arg("wavelength"), py::arg("rays"), py::arg("z") = py::none(), py::arg("out_z") = py::none(),
          py::arg("out_samples") = 0, py::arg("out_dx") = py::none(), py::arg("threads") = 0,
          R"(A sampled row through the system and sampled again, as ``lumivex field`` does.

The row becomes ``rays`` rays (``field_to_fan``), they go through the
system from the plane z and straight on through the air behind it to
out_z, gathering phase, and become a row again (``fan_to_field``).

Parameters
----------
system : System
field : array_like of complex, shape (columns,)
    Samples dx apart, centred on the axis.
dx : float
wavelength : float
    In the system's unit.
rays : int
    At least 2.
z : float, optional
    The input plane; by default a little in front of the first element.
out_z : float, optional
    The output plane; by default the last element.
out_samples : int
    Samples of the output row; 0: as many as the input.
out_dx : float, optional
    Their spacing; by default the output spans the rays' end points and a
    tenth more.
threads : int

Returns
-------
FieldRoundTrip

Raises
------
ValueError
    For a bad argument.
lumivex.Error
    When a ray fails, the rays cross before out_z, or a conversion fails.

Examples
--------
>>> import numpy as np, lumivex
>>> s = lumivex.System.from_text("OpticalSystem 6\nSlab 0 1\nLens 5 1.5 1 50 0\n")
>>> x = np.linspace(-4, 4, 101)
>>> r = lumivex.field_round_trip(s, np.exp(-(x / 2) ** 2), 0.08, wavelength=5.5e-4, rays=21)
>>> r.field.shape, len(r.rays), r.inverted
((101,), 21, False)
)");

    m.def("field_to_fan", &fieldToFan, py::arg("field"), py::arg("dx"), py::arg("dy"), py::arg("nx"),
          py::arg("ny"), py::arg("wavelength"), R"(Turns a sampled field into beams starting in the plane z = 0.

Parameters
----------
field : array_like of complex, shape (rows, columns) or (columns,)
    Samples; column c lies along x, row r along y.
dx, dy : float
    Sample spacing.
nx, ny : int
    Beams across x and y on a sub-grid of the samples.
wavelength : float
    Shapes the beams' directions from the phase gradient (same unit as dx).

Returns
-------
list of Beam
    nx * ny one-node beams, x outer and y inner. Their own wavelength is the
    library's 6.328e-7, whatever `wavelength` is.

Raises
------
ValueError
    For a bad argument.
lumivex.Error
    For a field the conversion cannot use (fewer than 2 columns, ...).

Examples
--------
>>> import numpy as np, lumivex
>>> x = np.linspace(-1, 1, 65)
>>> fan = lumivex.field_to_fan(np.exp(-x**2 / 0.1), 2 / 64, 2 / 64, 9, 1, 5e-4)
>>> len(fan)
9
)");
    m.def("fan_to_field", &fanToField, py::arg("beams"), py::arg("dx"), py::arg("dy"), py::arg("fan_width"),
          py::arg("fan_height"), py::arg("columns"), py::arg("rows") = 1,
          R"(Turns a traced fan (one row of beams, ascending in x) back into a field.

Parameters
----------
beams : sequence of Beam
dx : float
    Sample spacing of the result, around x = 0 at column columns // 2.
dy, fan_height : float
    Accepted for symmetry; no effect.
fan_width : float
    The fan's start width; the intensity is corrected by the beam density
    relative to fan_width / (len(beams) - 1).
columns, rows : int
    Size of the result; only its first row is filled.

Returns
-------
ndarray of complex, shape (rows, columns)

Raises
------
lumivex.Error
    For fewer than 2 beams, end points not ascending in x, ...
)");
}

}  // namespace lumivex::python
