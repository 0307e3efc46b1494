// The system: an ordered list of element objects, read from and written to
// the description format.
#include <cerrno>
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

std::unique_ptr<TOpticalSystem> System::build() const {
    auto system = std::make_unique<TOpticalSystem>(defaultRadius);
    for (std::size_t i = 0; i < elements.size(); ++i) {
        std::unique_ptr<TElement> copy = cloneElement(at(i));
        if (!copy) throw py::type_error("element " + std::to_string(i) + " cannot be copied for tracing");
        system->addElement(copy.release());
    }
    return system;
}

void System::takeTracedRadii(const TOpticalSystem& traced) const {
    for (std::size_t i = 0; i < elements.size(); ++i) at(i).optRadius = traced[static_cast<int>(i)]->optRadius;
}

System fromSystem(const TOpticalSystem& read) {
    System system(read.defaultRadius);
    for (int i = 0; i < read.getSize(); ++i) system.elements.push_back(wrapElement(cloneElement(*read[i])));
    return system;
}

std::string pathOf(const py::object& path) {
    return py::str(py::module_::import("os").attr("fspath")(path));
}

namespace {

System readText(std::istream& is, const std::string& source) {
    TOpticalSystem read(0.0);
    TReadReport report;
    readDescription(is, read, &report);
    if (report.stopped)
        raiseValueError(source + " line " + std::to_string(report.line) + ", word \"" + report.word +
                        "\": " + describeStop(report));
    return fromSystem(read);
}

std::string toText(const System& system, int precision) {
    if (precision < 1 || precision > 40) raiseValueError("precision must lie in 1 ... 40");
    for (std::size_t i = 0; i < system.elements.size(); ++i) {
        const TElementKind* kind = kindOf(system.at(i));
        if (!kind || kind->keyword.empty())
            raiseValueError("element " + std::to_string(i) + " (" + (kind ? kind->name : "Element") +
                            ") has no description record; only Slab, Lens and GrinRod records exist");
    }
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
it was added changes the system. Every trace works on copies made when it
starts, and the traced radii are written back to ``opt_radius``.

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
                System s(defaultRadius);
                if (!elements.is_none())
                    for (py::handle e : elements) s.add(py::reinterpret_borrow<py::object>(e));
                return s;
            }),
            py::arg("default_radius") = 0.0, py::arg("elements") = py::none())
        .def_readwrite("default_radius", &System::defaultRadius)
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
                        std::ifstream is(name);
                        if (!is) {
                            if (errno == 0) errno = ENOENT;
                            PyErr_SetFromErrnoWithFilename(PyExc_OSError, name.c_str());
                            throw py::error_already_set();
                        }
                        return readText(is, name);
                    },
                    py::arg("path"), R"(Reads a system description from a file.

Parameters
----------
path : str or os.PathLike

Returns
-------
System

Raises
------
FileNotFoundError
    If the file does not exist (OSError for other failures to open it).
ValueError
    If reading stops before the end of the file; the message names the line and word.
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
                 if (!os || !(os << text)) {
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
