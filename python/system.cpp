// SPDX-License-Identifier: Apache-2.0
// The system: an ordered list of element objects, read from and written to
// the description format.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <fstream>
#include <iomanip>
#include <sstream>

#include "bindings.h"

namespace lumivex::python {

void System::add(const py::object& element) {
    if (!py::isinstance<TElement>(element))
        throw py::type_error("System.add takes an element, not " +
                             std::string(py::str(py::type::of(element).attr("__name__"))));
    TElement& e = element.cast<TElement&>();
    if (e.radius == 0.0) e.radius = defaultRadius;
    elements.push_back(element);
}

TElement& System::at(std::size_t i) const { return elements.at(i).cast<TElement&>(); }

double checkedDefaultRadius(double radius) {
    if (!std::isfinite(radius))
        raiseValueError("default_radius must be a finite number, not " + std::string(py::repr(py::float_(radius))));
    return radius;
}

namespace {

std::string shortText(double v) { return py::repr(py::float_(v)); }

// The constructors refuse such values; an attribute set afterwards is
// caught here, before any ray meets it.
void checkElement(const TElement& e, std::size_t i) {
    const TElementKind* kind = kindOf(e);
    const std::string name = "element " + std::to_string(i) + " (" + (kind ? kind->name : "Element") + "): ";
    auto finite = [&](const char* what, double v) {
        if (!std::isfinite(v)) raiseValueError(name + what + " is " + shortText(v) + ", not a finite number");
    };
    finite("z", e.zPosition);
    finite("radius", e.radius);
    if (kind && kind->recordValues) {
        const std::vector<complex> values = kind->recordValues(e);
        for (std::size_t f = 0; f < values.size() && f < kind->fields.size(); ++f) {
            finite(kind->fields[f].key.c_str(), values[f].real());
            finite(kind->fields[f].key.c_str(), values[f].imag());
        }
    }
    const complex n = e.getRefIndex(TVector(0.0, 0.0, e.zPosition), 0.0);
    finite("the index", n.real());
    finite("the index", n.imag());
    if (n.real() < 0.0)
        raiseValueError(name + "the index " + shortText(n.real()) +
                        " is negative; the transmittance holds only for media of positive index");
}

}  // namespace

std::unique_ptr<TOpticalSystem> System::build(std::vector<py::object>* traced) const {
    checkedDefaultRadius(defaultRadius);
    auto system = std::make_unique<TOpticalSystem>(defaultRadius);
    for (std::size_t i = 0; i < elements.size(); ++i) {
        checkElement(at(i), i);
        std::unique_ptr<TElement> copy = cloneElement(at(i));
        if (!copy) throw py::type_error("element " + std::to_string(i) + " cannot be copied for tracing");
        system->addElement(copy.release());
    }
    if (traced) *traced = elements;
    return system;
}

void takeTracedRadii(const TOpticalSystem& system, const std::vector<py::object>& traced) {
    const std::size_t n = std::min(traced.size(), static_cast<std::size_t>(system.getSize()));
    for (std::size_t i = 0; i < n; ++i)
        traced[i].cast<TElement&>().optRadius = system[static_cast<int>(i)]->optRadius;
}

System fromSystem(const TOpticalSystem& read) {
    System system(read.defaultRadius);
    for (int i = 0; i < read.getSize(); ++i) system.elements.push_back(wrapElement(cloneElement(*read[i])));
    return system;
}

std::string pathOf(const py::object& path) {
    // fsdecode takes str, bytes and os.PathLike alike, and raises TypeError
    // for anything else.
    return py::str(py::module_::import("os").attr("fsdecode")(path));
}

std::string readFile(const std::string& name) {
    struct stat info;
    if (::stat(name.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        errno = EISDIR;
        PyErr_SetFromErrnoWithFilename(PyExc_OSError, name.c_str());
        throw py::error_already_set();
    }
    std::ifstream is(name, std::ios::binary);
    if (!is) {
        if (errno == 0) errno = ENOENT;
        PyErr_SetFromErrnoWithFilename(PyExc_OSError, name.c_str());
        throw py::error_already_set();
    }
    try {
        return readInput(is, name);
    } catch (const xmsg& e) {
        raiseValueError(e);
    }
}

namespace {

System readText(std::istream& is, const std::string& source) {
    TOpticalSystem read(0.0);
    TReadReport report;
    readDescription(is, read, &report);
    if (report.stopped)
        raiseValueError(stopError(report, source));
    return fromSystem(read);
}

std::string toText(const System& system, int precision) {
    if (precision < 1 || precision > 40) raiseValueError("precision must lie in 1 ... 40");
    for (std::size_t i = 0; i < system.elements.size(); ++i) {
        const TElementKind* kind = kindOf(system.at(i));
        if (!kind || kind->keyword.empty()) {
            std::string keywords;
            for (const TElementKind& k : elementKinds())
                if (!k.keyword.empty()) keywords += (keywords.empty() ? "" : ", ") + k.keyword;
            raiseValueError("element " + std::to_string(i) + " (" + (kind ? kind->name : "Element") +
                            ") has no description record; records exist for " + keywords);
        }
    }
    // The reader takes finite numbers only: a NaN or an infinity written
    // would make a description that cannot be read back. build() refuses them.
    std::ostringstream os;
    os << std::setprecision(precision);
    os << *system.build();
    return os.str();
}

py::ssize_t indexOf(const System& s, py::ssize_t i) {
    const auto n = static_cast<py::ssize_t>(s.elements.size());
    if (i < 0) i += n;
    if (i < 0 || i >= n) throw py::index_error("system index out of range");
    return i;
}

}  // namespace

py::class_<System> bindSystem(py::module_& m) {
    py::class_<System> cls(m, "System", R"(An optical system: elements in the order light meets them.

Parameters
----------
default_radius : float
    Given to every added element whose radius is 0.
elements : iterable of Element, optional
    Elements to add, in order.

Notes
-----
The system holds the element objects themselves: an element changed after
it was added changes the system. Every trace works on a snapshot, copies of
the elements made when it starts, and writes the traced radii back to the
``opt_radius`` of the element objects it copied. Another thread may add
elements or change them while a trace runs: the trace is that of the system
as it was when it started, never a crash. An element whose values are not
finite, or whose medium has a negative index, is a ValueError when a trace
starts.

Examples
--------
>>> import lumivex
>>> s = lumivex.System(default_radius=6.0)
>>> s.add(lumivex.SphericalLens(0.0, 1.0, 0.0, 50.0))
>>> s.add(lumivex.SphericalLens(5.0, 1.5168, 0.0, -50.0))
>>> len(s), s[-1].curvature_radius
(2, -50.0)
)");
    cls.def(py::init([](double defaultRadius, const py::object& elements) {
                System s(checkedDefaultRadius(defaultRadius));
                if (!elements.is_none())
                    for (py::handle e : elements) s.add(py::reinterpret_borrow<py::object>(e));
                return s;
            }),
            py::arg("default_radius") = 0.0, py::arg("elements") = py::none())
        .def_property(
            "default_radius", [](const System& s) { return s.defaultRadius; },
            [](System& s, double r) { s.defaultRadius = checkedDefaultRadius(r); },
            "Given to every added element whose radius is 0; finite.")
        .def("add", &System::add, py::arg("element"), R"(Appends an element.

Parameters
----------
element : Element
    Given the system's default radius if its radius is 0.

Raises
------
TypeError
    If `element` is not an element.
)")
        .def("__len__", [](const System& s) { return s.elements.size(); })
        .def("__getitem__", [](const System& s, py::ssize_t i) { return s.elements[static_cast<std::size_t>(indexOf(s, i))]; })
        .def("__iter__", [](const System& s) { return py::iter(py::cast(s.elements)); })
        .def_property_readonly("elements", [](const System& s) { return py::list(py::cast(s.elements)); },
                               "The elements, as a new list.")
        .def_static("from_text",
                    [](const std::string& text) {
                        std::istringstream is(text);
                        return readText(is, "description");
                    },
                    py::arg("text"), R"(Reads a system description.

Parameters
----------
text : str
    The description: a header word, the default radius, then records.

Returns
-------
System

Raises
------
ValueError
    If reading stops before the end of the text; the message names the line and word.

Examples
--------
>>> import lumivex
>>> s = lumivex.System.from_text("OpticalSystem 6\nSlab 0 1\nLens 5 1.5 1 50 0\n")
>>> [e.kind for e in s]
['Slab', 'Lens']
)")
        .def_static("read",
                    [](const py::object& path) {
                        const std::string name = pathOf(path);
                        std::istringstream is(readFile(name));
                        return readText(is, name);
                    },
                    py::arg("path"), R"(Reads a system description from a file.

Parameters
----------
path : str, bytes or os.PathLike

Returns
-------
System

Raises
------
FileNotFoundError
    If the file does not exist (IsADirectoryError for a directory, OSError for
    other failures to open it).
ValueError
    If reading stops before the end of the file (the message names the line
    and word), or the file is larger than any description (64 MiB).
)")
        .def("to_text", &toText, py::arg("precision") = 17, R"(The system's description.

Parameters
----------
precision : int
    Significant digits; 17 reads back to the same doubles.

Returns
-------
str

Raises
------
ValueError
    If an element's kind has no description record (Slab, Lens, GeneralLens, EvenAsphere
    and GrinRod have one).
)")
        .def("write",
             [](const System& s, const py::object& path, int precision) {
                 const std::string text = toText(s, precision);
                 const std::string name = pathOf(path);
                 std::ofstream os(name);
                 // The last buffer is written at close: a full disk shows there.
                 if (os) os << text;
                 if (os) os.close();
                 if (!os) {
                     if (errno == 0) errno = EIO;
                     PyErr_SetFromErrnoWithFilename(PyExc_OSError, name.c_str());
                     throw py::error_already_set();
                 }
             },
             py::arg("path"), py::arg("precision") = 17, "Writes to_text(precision) to a file.")
        .def("__repr__", [](const System& s) {
            std::string text = "System(default_radius=" + std::string(py::str(py::float_(s.defaultRadius))) + ", elements=[";
            for (std::size_t i = 0; i < s.elements.size(); ++i)
                text += (i ? ", " : "") + std::string(py::repr(s.elements[i]));
            return text + "])";
        });
    return cls;
}

}  // namespace lumivex::python
