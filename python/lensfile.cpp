// SPDX-License-Identifier: Apache-2.0
// .zmx lens files: System.from_zmx, and read_zmx with what the import found.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <sstream>
#include <memory>

#include "bindings.h"

namespace lumivex::python {

namespace {

// The import at a wavelength in µm (None: the file's primary one). A missing
// file is FileNotFoundError; a file the import refuses is ValueError, as for
// a description System.read cannot read.
std::shared_ptr<TLensFile> importFile(const py::object& path, const py::object& wavelength) {
    const std::string name = pathOf(path);
    double um = std::numeric_limits<double>::quiet_NaN();
    if (!wavelength.is_none()) {
        if (!py::isinstance<py::float_>(wavelength) && !py::isinstance<py::int_>(wavelength) &&
            !py::hasattr(wavelength, "__float__"))
            throw py::type_error("wavelength must be a number of micrometres or None, not " +
                                 std::string(py::str(py::type::of(wavelength).attr("__name__"))));
        um = py::float_(wavelength).cast<double>();
        if (!(um > 0.0) || !std::isfinite(um))
            raiseValueError("wavelength must be a positive finite number of micrometres, not " +
                            std::string(py::repr(wavelength)));
    }
    std::istringstream is(readFile(name));
    try {
        return std::make_shared<TLensFile>(importZmx(is, name, um));
    } catch (const xmsg& e) {
        raiseValueError(e);
    }
}

py::object optional(double value) {
    if (std::isnan(value)) return py::none();
    return py::float_(value);
}

py::object optional(const std::string& text) {
    if (text.empty()) return py::none();
    return py::str(text);
}

py::dict surfaceDict(const TLensSurface& s) {
    py::dict d;
    d["number"] = s.number;
    d["type"] = s.type;
    d["element"] = optional(s.element);
    d["z"] = optional(s.z);
    d["thickness"] = s.thickness;
    d["semi_diameter"] = s.semiDiameter;
    d["curvature"] = s.curvature;
    d["conic"] = s.conic;
    d["asphere"] = py::list(py::cast(s.asphere));
    d["glass"] = optional(s.glass);
    d["index"] = s.index;
    d["index_in_front"] = s.indexInFront;
    d["stop"] = s.stop;
    return d;
}

py::dict glassDict(const TLensGlass& g) {
    py::dict d;
    d["name"] = g.name;
    d["catalogue"] = optional(g.catalogue);
    d["index"] = g.index;
    d["source"] = g.source;
    return d;
}

}  // namespace

void bindLensFile(py::module_& m, py::class_<System>& system) {
    // The system itself is handed out separately; the report keeps the rest.
    py::class_<TLensFile, std::shared_ptr<TLensFile>>(m, "LensFileReport", R"(What importing a .zmx file found.

Attributes
----------
unit : str
    The file's length unit (MM, CM, IN or M); the system is in it.
wavelength : float
    Micrometres; every index was taken at it.
wavelength_in_lens_unit : float
    The same in the lens unit: the wavelength to trace the system at.
wavelengths : list of float
    The file's wavelengths in micrometres.
primary_wavelength : int or None
    1-based position of the primary wavelength in `wavelengths`.
surfaces : list of dict
    Object, surfaces, image: number, type, element (the kind built; None for
    the object), z (None for the object), thickness, semi_diameter,
    curvature, conic, asphere (coefficients of rho^2, rho^4, ...), glass (None
    for air), index (of the medium behind), index_in_front, stop.
glasses : list of dict
    Each medium once: name, catalogue, index, source (where the index came from).
stop : int or None
    Surface number of the stop.
enpd : float or None
    Entrance pupil diameter.
field_type : int
    0 angle (degrees), 1 object height, 2 paraxial and 3 real image height.
fields : list of (float, float)
    (x, y) of every field.
notes : list of str
    What the import decided and why.
)")
        .def_readonly("unit", &TLensFile::unit)
        .def_readonly("wavelength", &TLensFile::wavelength)
        .def_readonly("wavelength_in_lens_unit", &TLensFile::wavelengthInLensUnit)
        .def_readonly("wavelengths", &TLensFile::wavelengths)
        .def_property_readonly("primary_wavelength",
                               [](const TLensFile& f) -> py::object {
                                   if (f.primaryWavelength < 1) return py::none();
                                   return py::int_(f.primaryWavelength);
                               })
        .def_property_readonly("surfaces",
                               [](const TLensFile& f) {
                                   py::list l;
                                   for (const TLensSurface& s : f.surfaces) l.append(surfaceDict(s));
                                   return l;
                               })
        .def_property_readonly("glasses",
                               [](const TLensFile& f) {
                                   py::list l;
                                   for (const TLensGlass& g : f.glasses) l.append(glassDict(g));
                                   return l;
                               })
        .def_property_readonly("stop",
                               [](const TLensFile& f) -> py::object {
                                   if (f.stopSurface < 0) return py::none();
                                   return py::int_(f.stopSurface);
                               })
        .def_property_readonly("enpd", [](const TLensFile& f) { return optional(f.entrancePupilDiameter); })
        .def_readonly("field_type", &TLensFile::fieldType)
        .def_property_readonly("fields",
                               [](const TLensFile& f) {
                                   py::list l;
                                   const std::size_t n = std::max(f.fieldX.size(), f.fieldY.size());
                                   for (std::size_t i = 0; i < n; ++i)
                                       l.append(py::make_tuple(i < f.fieldX.size() ? f.fieldX[i] : 0.0,
                                                               i < f.fieldY.size() ? f.fieldY[i] : 0.0));
                                   return l;
                               })
        .def_readonly("notes", &TLensFile::notes)
        .def("__repr__", [](const TLensFile& f) {
            std::string glasses;
            for (const TLensGlass& g : f.glasses) glasses += (glasses.empty() ? "" : ", ") + g.name;
            return "LensFileReport(unit=" + f.unit + ", wavelength=" +
                   std::string(py::repr(py::float_(f.wavelength))) + " um, " +
                   std::to_string(f.surfaces.size()) + " surfaces, glasses: " +
                   (glasses.empty() ? "none" : glasses) + ")";
        });

    static const char* const wavelengthDoc = R"(
Parameters
----------
path : str, bytes or os.PathLike
    A sequential .zmx file (STANDARD and EVENASPH surfaces, object at infinity).
wavelength : float, optional
    Micrometres (the unit of the file's own wavelengths), at which the glasses'
    indices are taken; None takes the file's primary wavelength. The system is
    in the file's length unit: trace it at report.wavelength_in_lens_unit.

Raises
------
FileNotFoundError
    If the file does not exist (IsADirectoryError for a directory, OSError
    for other failures to open it).
ValueError
    If the import refuses the file (a surface type, keyword or glass it cannot
    represent, a value that is not a finite number, a wavelength outside a
    glass's range, an encoding it does not know, more than 64 MiB); the
    message names the line, the surface and the keyword. Nothing is dropped
    silently.
TypeError
    For a wavelength that is not a number.
)";

    static const std::string fromZmxDoc =
        std::string("Imports a .zmx lens file; read_zmx also returns what the import found.\n") +
        wavelengthDoc + "\nReturns\n-------\nSystem\n";
    static const std::string readZmxDoc =
        std::string("Imports a .zmx lens file with what the import found.\n") + wavelengthDoc +
        "\nReturns\n-------\n(System, LensFileReport)\n";

    system.def_static(
        "from_zmx",
        [](const py::object& path, const py::object& wavelength) {
            return fromSystem(importFile(path, wavelength)->system);
        },
        py::arg("path"), py::arg("wavelength") = py::none(), fromZmxDoc.c_str());

    m.def(
        "read_zmx",
        [](const py::object& path, const py::object& wavelength) {
            std::shared_ptr<TLensFile> lens = importFile(path, wavelength);
            System s = fromSystem(lens->system);
            // The report does not carry the system a second time.
            lens->system = TOpticalSystem(lens->system.defaultRadius);
            return py::make_tuple(std::move(s), lens);
        },
        py::arg("path"), py::arg("wavelength") = py::none(), readZmxDoc.c_str());
}

}  // namespace lumivex::python
