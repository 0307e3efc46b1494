// Sampled complex fields as numpy arrays, to and from fans of beams.
#include <climits>
#include <cmath>

#include "bindings.h"

namespace lumivex::python {

namespace {

constexpr long long kMaxBeams = 10000000;
constexpr long long kMaxSamples = 100000000;

using ComplexRows = py::array_t<complex, py::array::c_style | py::array::forcecast>;

py::list fieldToFan(const py::object& samples, double dx, double dy, long long nx, long long ny,
                    double wavelength) {
    ComplexRows field;
    try {
        field = py::module_::import("numpy").attr("ascontiguousarray")(samples, py::arg("dtype") = "complex128")
                    .cast<ComplexRows>();
    } catch (py::error_already_set& e) {
        raiseValueError(std::string("field: ") + e.what());
    }
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

}  // namespace

void bindField(py::module_& m) {
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
