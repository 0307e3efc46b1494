// SPDX-License-Identifier: Apache-2.0
// Prescriptions: lumivex.Material and lumivex.Prescription.
#include <cerrno>
#include <cmath>
#include <fstream>

#include "bindings.h"

namespace lumivex::python {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// None → NaN (the primary wavelength); anything else a positive finite µm.
double wavelengthArg(const py::object& wavelength) {
    if (wavelength.is_none()) return kNaN;
    const double um = wavelength.cast<double>();
    if (!(um > 0.0) || !std::isfinite(um))
        raiseValueError("wavelength must be a positive finite number of micrometres, not " +
                        std::string(py::repr(wavelength)));
    return um;
}

void requireFile(const std::string& name) {
    std::ifstream is(name, std::ios::binary);
    if (!is) {
        if (errno == 0) errno = ENOENT;
        PyErr_SetFromErrnoWithFilename(PyExc_OSError, name.c_str());
        throw py::error_already_set();
    }
}

bool endsWith(std::string s, const std::string& tail) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

const char* apertureName(TApertureKind k) {
    switch (k) {
        case TApertureKind::entrancePupilDiameter: return "entrance pupil diameter";
        case TApertureKind::imageFNumber: return "image F-number";
        case TApertureKind::objectNA: return "object NA";
        case TApertureKind::stopSemiDiameter: return "stop semi-diameter";
    }
    return "?";
}

TApertureKind apertureKind(const std::string& name) {
    if (name == "entrance pupil diameter" || name == "epd") return TApertureKind::entrancePupilDiameter;
    if (name == "image F-number" || name == "f-number" || name == "fnum") return TApertureKind::imageFNumber;
    if (name == "object NA" || name == "na") return TApertureKind::objectNA;
    if (name == "stop semi-diameter" || name == "stop") return TApertureKind::stopSemiDiameter;
    raiseValueError("aperture type must be \"entrance pupil diameter\", \"image F-number\", "
                    "\"object NA\" or \"stop semi-diameter\", not \"" + name + "\"");
}

TAiming aimingOf(const std::string& name) {
    if (name == "real") return TAiming::real;
    if (name == "paraxial") return TAiming::paraxial;
    raiseValueError("aiming must be \"real\" or \"paraxial\", not \"" + name + "\"");
}

TMaterial materialArg(const py::object& m) {
    if (m.is_none()) return TMaterial::air();
    if (py::isinstance<TMaterial>(m)) return m.cast<TMaterial>();
    if (py::isinstance<py::str>(m)) {
        const std::string name = m.cast<std::string>();
        if (name == "air" || name == "AIR" || name.empty()) return TMaterial::air();
        return TMaterial::catalogueGlass(name);
    }
    if (py::isinstance<py::float_>(m) || py::isinstance<py::int_>(m) || PyComplex_Check(m.ptr()))
        return TMaterial::fixedIndex(m.cast<complex>());
    throw py::type_error("material must be a Material, a glass name, an index or None (air)");
}

// (N, 2) pupil coordinates.
std::vector<std::pair<double, double>> pupilArg(const py::object& pupil) {
    py::array_t<double, py::array::c_style | py::array::forcecast> a =
        py::module_::import("numpy").attr("asarray")(pupil, "float64");
    if (a.ndim() == 1 && a.shape(0) == 2) a = a.reshape({1, 2});
    if (a.ndim() != 2 || a.shape(1) != 2) raiseValueError("pupil must be an (N, 2) array of (px, py)");
    std::vector<std::pair<double, double>> points;
    auto r = a.unchecked<2>();
    for (py::ssize_t i = 0; i < r.shape(0); ++i) points.emplace_back(r(i, 0), r(i, 1));
    return points;
}

py::tuple aimed(const std::vector<TAimedRay>& rays, bool withStatus) {
    const auto n = static_cast<py::ssize_t>(rays.size());
    py::array_t<double> positions({n, py::ssize_t(3)}), directions({n, py::ssize_t(3)});
    py::array_t<bool> ok(n);
    py::list messages;
    auto p = positions.mutable_unchecked<2>();
    auto d = directions.mutable_unchecked<2>();
    auto o = ok.mutable_unchecked<1>();
    for (py::ssize_t i = 0; i < n; ++i) {
        const TAimedRay& r = rays[static_cast<std::size_t>(i)];
        const double v[6] = {r.position.x, r.position.y, r.position.z,
                             r.direction.x, r.direction.y, r.direction.z};
        for (int c = 0; c < 3; ++c) {
            p(i, c) = r.ok ? v[c] : kNaN;
            d(i, c) = r.ok ? v[3 + c] : kNaN;
        }
        o(i) = r.ok;
        messages.append(r.message);
    }
    if (withStatus) return py::make_tuple(positions, directions, ok, messages);
    return py::make_tuple(positions, directions);
}

py::dict firstOrderDict(const TFirstOrder& f) {
    py::dict d;
    d["wavelength"] = f.wavelengthUm;
    d["efl"] = f.efl;
    d["entrance_pupil_z"] = f.entrancePupilZ;
    d["entrance_pupil_diameter"] = f.entrancePupilDiameter;
    d["exit_pupil_z"] = f.exitPupilZ;
    d["exit_pupil_diameter"] = f.exitPupilDiameter;
    d["stop_semi_diameter"] = f.stopSemiDiameter;
    d["paraxial_image_z"] = f.paraxialImageZ;
    d["f_number"] = f.fNumber;
    d["object_na"] = f.objectNA;
    d["magnification"] = f.magnification;
    d["object_z"] = f.objectZ;
    return d;
}

TPrescription readPrescription(const py::object& path) {
    const std::string name = pathOf(path);
    requireFile(name);
    try {
        if (endsWith(name, ".zmx")) return importZmxPrescription(name).prescription;
        if (endsWith(name, ".json")) return TPrescription::readJson(name);
    } catch (const xmsg& e) {
        raiseValueError(e);
    }
    raiseValueError(name + ": a prescription is read from a .zmx or a .json file");
}

}  // namespace

void bindPrescription(py::module_& m) {
    py::class_<TMaterial>(m, "Material", R"(The medium between two surfaces; its index follows the wavelength.

Build one with Material.air(), Material.glass(name), Material.model(nd, abbe)
or Material.index(n). A model glass follows Cauchy's n = A + B/lambda^2 with
A and B chosen so that n(d line) = nd and nF - nC = (nd - 1)/abbe exactly.
)")
        .def_static("air", &TMaterial::air, "Air: index 1 at every wavelength.")
        .def_static(
            "glass", [](const std::string& name) { return TMaterial::catalogueGlass(name); },
            py::arg("name"),
            "A glass of the built-in catalogues by name (\"N-BK7\" or \"SCHOTT:N-BK7\"); "
            "lumivex.Error for an unknown name.")
        .def_static("model", &TMaterial::modelGlass, py::arg("nd"), py::arg("abbe"), py::arg("name") = "",
                    "A model glass from nd and the Abbe number vd.")
        .def_static("index", &TMaterial::fixedIndex, py::arg("n"), "One (complex) index at every wavelength.")
        .def_property_readonly("kind",
                               [](const TMaterial& mat) {
                                   static const char* names[] = {"air", "glass", "model", "index"};
                                   return std::string(names[static_cast<int>(mat.kind)]);
                               })
        .def_readonly("name", &TMaterial::name)
        .def_readonly("nd", &TMaterial::nd)
        .def_readonly("abbe", &TMaterial::abbe)
        .def("index_at", &TMaterial::indexAt, py::arg("wavelength"),
             "The complex index at a wavelength in micrometres.")
        .def("__repr__", [](const TMaterial& mat) { return "Material(" + mat.label() + ")"; })
        .def(py::pickle([](const TMaterial& mat) { return py::make_tuple(mat.toJson()); },
                        [](const py::tuple& t) {
                            if (t.size() != 1) raiseValueError("not a pickled Material");
                            return TMaterial::fromJson(t[0].cast<std::string>());
                        }));

    py::class_<TPrescription>(m, "Prescription", R"(A lens as designers define it.

Surfaces in order (element kinds of the catalogue, placed by their z) with the
material behind each, the aperture stop, the aperture, the fields, the
wavelengths (micrometres), the object distance and the image plane. Every
wavelength is in micrometres and every length in the prescription's unit
(mm by default); system_at builds the System at one wavelength.

Examples
--------
>>> import lumivex
>>> p = lumivex.Prescription()
>>> _ = p.add_standard(0.0, 50.0, lumivex.Material.model(1.5168, 64.17), clear_semi_diameter=6)
>>> _ = p.add_standard(5.0, -50.0)
>>> p.set_aperture("entrance pupil diameter", 10.0)
>>> p.fields = [(0.0, 0.0), (2.0, 0.0)]
>>> p.wavelengths = [0.5875618]
>>> round(p.first_order()["efl"], 3)
49.213
)")
        .def(py::init<>())
        .def_readwrite("title", &TPrescription::title)
        .def_property(
            "unit", [](const TPrescription& p) { return p.unit; },
            [](TPrescription& p, const std::string& u) {
                TPrescription probe;
                probe.unit = u;
                try {
                    probe.lensUnitsPerMicrometre();
                } catch (const xmsg& e) {
                    raiseValueError(e);
                }
                p.unit = u;
            },
            "The length unit: mm, cm, in or m.")
        .def("add_surface",
             [](TPrescription& p, const py::object& element, const py::object& material,
                double clear, double draw) {
                 if (!py::isinstance<TElement>(element))
                     throw py::type_error("add_surface takes an element");
                 std::unique_ptr<TElement> copy = cloneElement(element.cast<TElement&>());
                 if (!copy) throw py::type_error("the element cannot be copied into a prescription");
                 p.addSurface(std::move(copy), materialArg(material), clear, draw);
                 return static_cast<int>(p.surfaces.size()) - 1;
             },
             py::arg("element"), py::arg("material") = py::none(), py::arg("clear_semi_diameter") = 0.0,
             py::arg("draw_semi_diameter") = 0.0,
             "Appends a copy of an element (placed by its z) with the material behind it "
             "(a Material, a glass name, an index, or None for air); returns its index.")
        .def("add_standard",
             [](TPrescription& p, double z, double radius, const py::object& material, double conic,
                double clear, double draw) {
                 p.addStandard(z, radius, materialArg(material), conic, clear, draw);
                 return static_cast<int>(p.surfaces.size()) - 1;
             },
             py::arg("z"), py::arg("radius"), py::arg("material") = py::none(), py::arg("conic") = 0.0,
             py::arg("clear_semi_diameter") = 0.0, py::arg("draw_semi_diameter") = 0.0,
             "Appends a conic surface of vertex radius `radius` (0: flat) at z; returns its index.")
        .def("__len__", [](const TPrescription& p) { return p.surfaces.size(); })
        .def_property_readonly("surfaces",
                               [](const TPrescription& p) {
                                   py::list l;
                                   for (const TPrescriptionSurface& s : p.surfaces) {
                                       py::dict d;
                                       d["element"] = wrapElement(cloneElement(*s.element));
                                       d["material"] = s.material;
                                       d["clear_semi_diameter"] = s.clearSemiDiameter;
                                       d["draw_semi_diameter"] = s.drawSemiDiameter;
                                       d["comment"] = s.comment;
                                       l.append(d);
                                   }
                                   return l;
                               },
                               "Each surface as a dict: element (a copy), material, clear_semi_diameter "
                               "(0: none), draw_semi_diameter, comment.")
        .def_property(
            "stop", [](const TPrescription& p) { return p.stop; },
            [](TPrescription& p, int stop) {
                if (stop < 0 || stop >= static_cast<int>(p.surfaces.size()))
                    raiseValueError("stop must be a surface index 0 ... " +
                                    std::to_string(static_cast<int>(p.surfaces.size()) - 1));
                p.stop = stop;
            },
            "The stop's element index in system_at's System.")
        .def_property_readonly("aperture",
                               [](const TPrescription& p) {
                                   return py::make_tuple(apertureName(p.aperture.kind), p.aperture.value);
                               },
                               "(type, value); set with set_aperture.")
        .def("set_aperture",
             [](TPrescription& p, const std::string& type, double value) {
                 if (!(value > 0.0) || !std::isfinite(value))
                     raiseValueError("the aperture value must be positive and finite");
                 p.aperture = {apertureKind(type), value};
             },
             py::arg("type"), py::arg("value"),
             "type: \"entrance pupil diameter\" (lens units), \"image F-number\", \"object NA\" or "
             "\"stop semi-diameter\".")
        .def_property(
            "field_type",
            [](const TPrescription& p) {
                return std::string(p.fieldKind == TFieldKind::angle ? "angle" : "object height");
            },
            [](TPrescription& p, const std::string& t) {
                if (t == "angle")
                    p.fieldKind = TFieldKind::angle;
                else if (t == "object height")
                    p.fieldKind = TFieldKind::objectHeight;
                else
                    raiseValueError("field_type must be \"angle\" or \"object height\"");
            },
            "\"angle\" (degrees) or \"object height\" (lens units, finite objects).")
        .def_property(
            "fields",
            [](const TPrescription& p) {
                py::list l;
                for (const TField& f : p.fields) l.append(py::make_tuple(f.x, f.y, f.weight));
                return l;
            },
            [](TPrescription& p, const py::iterable& fields) {
                std::vector<TField> out;
                for (py::handle h : fields) {
                    py::sequence s = py::reinterpret_borrow<py::sequence>(h);
                    if (s.size() < 1 || s.size() > 3)
                        raiseValueError("a field is (x, y) or (x, y, weight)");
                    TField f;
                    f.x = s[0].cast<double>();
                    f.y = s.size() > 1 ? s[1].cast<double>() : 0.0;
                    f.weight = s.size() > 2 ? s[2].cast<double>() : 1.0;
                    out.push_back(f);
                }
                p.fields = out;
            },
            "Fields as (x, y, weight): degrees, or object heights; x is the meridional "
            "(drawn) direction. Set with (x, y) or (x, y, weight) tuples.")
        .def_property(
            "wavelengths",
            [](const TPrescription& p) {
                py::list l;
                for (const TWavelength& w : p.wavelengths) l.append(py::make_tuple(w.um, w.weight));
                return l;
            },
            [](TPrescription& p, const py::iterable& waves) {
                std::vector<TWavelength> out;
                for (py::handle h : waves) {
                    TWavelength w;
                    if (py::isinstance<py::sequence>(h)) {
                        py::sequence s = py::reinterpret_borrow<py::sequence>(h);
                        w.um = s[0].cast<double>();
                        w.weight = s.size() > 1 ? s[1].cast<double>() : 1.0;
                    } else {
                        w.um = h.cast<double>();
                    }
                    out.push_back(w);
                }
                p.wavelengths = out;
                if (p.primary >= static_cast<int>(out.size())) p.primary = 0;
            },
            "Wavelengths as (micrometres, weight); set with numbers or (um, weight) tuples.")
        .def_readwrite("primary", &TPrescription::primary, "Index of the primary wavelength.")
        .def_property_readonly("primary_wavelength", &TPrescription::primaryWavelength,
                               "The primary wavelength in micrometres.")
        .def_property(
            "object_distance", [](const TPrescription& p) { return p.objectDistance; },
            [](TPrescription& p, const py::object& d) {
                p.objectDistance = d.is_none() ? std::numeric_limits<double>::infinity() : d.cast<double>();
            },
            "From the object plane to the first vertex; inf (or None when set) for an object at "
            "infinity.")
        .def_property(
            "image_z",
            [](const TPrescription& p) -> py::object {
                if (std::isnan(p.imageZ)) return py::none();
                return py::float_(p.imageZ);
            },
            [](TPrescription& p, const py::object& z) { p.imageZ = z.is_none() ? kNaN : z.cast<double>(); },
            "The image plane's z; None: the paraxial focus at the primary wavelength.")
        .def_property_readonly("image_plane_z", &TPrescription::imagePlaneZ,
                               "The image plane in use: image_z or the paraxial focus.")
        .def_property(
            "aiming",
            [](const TPrescription& p) { return std::string(p.aiming == TAiming::real ? "real" : "paraxial"); },
            [](TPrescription& p, const std::string& a) { p.aiming = aimingOf(a); },
            "\"real\" (default): rays iterated onto their stop point; \"paraxial\": aimed at the "
            "paraxial entrance pupil.")
        .def("validate", &TPrescription::validate, "lumivex.Error naming what makes it unusable.")
        .def(
            "system_at",
            [](const TPrescription& p, const py::object& wavelength) {
                return fromSystem(p.systemAt(wavelengthArg(wavelength)));
            },
            py::arg("wavelength") = py::none(),
            "The System at a wavelength in micrometres (None: the primary), every index evaluated "
            "there. Trace it at wavelength_in_lens_unit(wavelength).")
        .def(
            "wavelength_in_lens_unit",
            [](const TPrescription& p, const py::object& wavelength) {
                return p.wavelengthInLensUnit(wavelengthArg(wavelength));
            },
            py::arg("wavelength") = py::none(), "A wavelength in micrometres in the lens unit.")
        .def(
            "first_order",
            [](const TPrescription& p, const py::object& wavelength) {
                return firstOrderDict(p.firstOrder(wavelengthArg(wavelength)));
            },
            py::arg("wavelength") = py::none(),
            "Paraxial data from y-nu traces: efl, entrance_pupil_z, entrance_pupil_diameter, "
            "exit_pupil_z, exit_pupil_diameter, stop_semi_diameter, paraxial_image_z, f_number, "
            "object_na, magnification, object_z.")
        .def("clip_radii", &TPrescription::clipRadii,
             "Per element, the radius beyond which rays are vignetted (NaN: none); the stop's "
             "semi-diameter at the stop. Passes straight to ``System.trace(clip_radii=...)``.")
        .def_property_readonly("start_z", &TPrescription::startZ,
                               "Where rays from an object at infinity start.")
        .def(
            "rays",
            [](const TPrescription& p, int field, const py::object& pupil, const py::object& wavelength,
               const py::object& aiming) {
                const auto points = pupilArg(pupil);
                const double um = wavelengthArg(wavelength);
                const TAiming how = aiming.is_none() ? p.aiming : aimingOf(aiming.cast<std::string>());
                if (field < 0 || field >= static_cast<int>(p.fields.size()))
                    raiseValueError("field must be an index 0 ... " +
                                    std::to_string(static_cast<int>(p.fields.size()) - 1));
                std::vector<TAimedRay> rays;
                {
                    py::gil_scoped_release release;
                    rays = p.rays(field, points, um, how);
                }
                return aimed(rays, false);
            },
            py::arg("field"), py::arg("pupil"), py::arg("wavelength") = py::none(),
            py::arg("aiming") = py::none(),
            R"(Start rays for a field and normalised pupil points.

Parameters
----------
field : int
    Index into fields.
pupil : array_like, shape (N, 2)
    (px, py) on the unit disk; px is the meridional direction.
wavelength : float, optional
    Micrometres; None: the primary.
aiming : {"real", "paraxial"}, optional
    None: the prescription's own.

Returns
-------
positions, directions : ndarray, shape (N, 3)
    Start points and unit directions, for System.trace on system_at(wavelength);
    NaN rows for points that could not be aimed (aim() says why).
)")
        .def(
            "aim",
            [](const TPrescription& p, int field, const py::object& pupil, const py::object& wavelength) {
                const auto points = pupilArg(pupil);
                const double um = wavelengthArg(wavelength);
                if (field < 0 || field >= static_cast<int>(p.fields.size()))
                    raiseValueError("field must be an index 0 ... " +
                                    std::to_string(static_cast<int>(p.fields.size()) - 1));
                std::vector<TAimedRay> rays;
                {
                    py::gil_scoped_release release;
                    rays = p.rays(field, points, um);
                }
                return aimed(rays, true);
            },
            py::arg("field"), py::arg("pupil"), py::arg("wavelength") = py::none(),
            "As rays, with ok (N,) and the message of every ray that could not be aimed.")
        .def_static("read", &readPrescription, py::arg("path"),
                    "Reads a .zmx lens file or a .json prescription (by extension); FileNotFoundError "
                    "for a missing file, ValueError for one that cannot be read (a .zmx file's "
                    "report names every construct it cannot model).")
        .def_static(
            "import_zmx",
            [](const py::object& path) {
                const std::string name = pathOf(path);
                requireFile(name);
                try {
                    TZmxPrescription in = importZmxPrescription(name);
                    py::list skipped;
                    for (const TZmxItem& i : in.skipped)
                        skipped.append(py::make_tuple(i.line, i.surface < 0 ? py::object(py::none())
                                                                             : py::object(py::int_(i.surface)),
                                                      i.keyword, i.why));
                    return py::make_tuple(std::move(in.prescription), skipped, in.notes);
                } catch (const xmsg& e) {
                    raiseValueError(e);
                }
            },
            py::arg("path"),
            "A .zmx file as (prescription, skipped, notes): skipped lists (line, surface or None, "
            "keyword, what it is) for every keyword that changes no ray path.")
        .def(
            "write",
            [](const TPrescription& p, const py::object& path) { p.write(pathOf(path)); },
            py::arg("path"), "Writes the prescription as JSON.")
        .def("to_json", &TPrescription::toJson)
        .def_static(
            "from_json",
            [](const std::string& text) {
                try {
                    return TPrescription::fromJson(text);
                } catch (const xmsg& e) {
                    raiseValueError(e);
                }
            },
            py::arg("text"))
        .def("__repr__", &TPrescription::table)
        .def("__copy__", [](const TPrescription& p) { return TPrescription(p); })
        .def("__deepcopy__", [](const TPrescription& p, py::dict) { return TPrescription(p); })
        .def(py::pickle([](const TPrescription& p) { return py::make_tuple(p.toJson()); },
                        [](const py::tuple& t) {
                            if (t.size() != 1) raiseValueError("not a pickled Prescription");
                            return TPrescription::fromJson(t[0].cast<std::string>(), "pickle");
                        }));
}

}  // namespace lumivex::python
