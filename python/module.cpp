// SPDX-License-Identifier: Apache-2.0
// The compiled part of the Python package: lumivex._lumivex.
#include <cmath>

#include "bindings.h"

namespace lumivex::python {

PyObject* errorType = nullptr;
PyObject* traceErrorType = nullptr;

void raiseTraceError(const std::string& message, const TBeam& beam) {
    py::object exc = py::reinterpret_borrow<py::object>(traceErrorType)(message);
    exc.attr("beam") = py::cast(beam);
    PyErr_SetObject(traceErrorType, exc.ptr());
    throw py::error_already_set();
}

void raiseValueError(const std::string& message) { throw py::value_error(message); }

namespace {

// The error of the given type; one that names a place in a text carries it
// as .source, .line, .column and .surface (None where not known).
void setError(PyObject* type, const xmsg& error) {
    py::object exc = py::reinterpret_borrow<py::object>(type)(error.message());
    if (error.hasLocation()) {
        const TSourceLocation& where = error.location();
        auto known = [](int value, int unknown) {
            return value == unknown ? py::object(py::none()) : py::object(py::int_(value));
        };
        exc.attr("source") = where.source;
        exc.attr("line") = known(where.line, 0);
        exc.attr("column") = known(where.column, 0);
        exc.attr("surface") = known(where.surface, -1);
    }
    PyErr_SetObject(type, exc.ptr());
}

}  // namespace

void raiseValueError(const xmsg& error) {
    setError(PyExc_ValueError, error);
    throw py::error_already_set();
}

void bindErrors(py::module_& m) {
    errorType = PyErr_NewExceptionWithDoc(
        "lumivex.Error",
        "An error the library reports: bad input it cannot trace, a failed\n"
        "computation. A RuntimeError; the message is the library's own. An error\n"
        "at a place in a file also has .source, .line, .column and .surface.",
        PyExc_RuntimeError, nullptr);
    traceErrorType = PyErr_NewExceptionWithDoc(
        "lumivex.TraceError",
        "A ray that could not be traced through the system.\n\n"
        "Attributes\n----------\nbeam : Beam\n    The nodes traced before the failure, "
        "the terminal node included.",
        errorType, nullptr);
    PyObject_SetAttrString(traceErrorType, "beam", Py_None);
    m.add_object("Error", py::handle(errorType));
    m.add_object("TraceError", py::handle(traceErrorType));
    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p) std::rethrow_exception(p);
        } catch (const xmsg& e) {
            setError(errorType, e);
        }
    });
}

}  // namespace lumivex::python

PYBIND11_MODULE(_lumivex, m) {
    using namespace lumivex::python;
    m.doc() = "Compiled core of the lumivex package; import lumivex instead.";
    bindErrors(m);
    bindBeam(m);
    bindElements(m);
    py::class_<System> system = bindSystem(m);
    bindTracing(m, system);
    bindField(m);
    bindLensFile(m, system);
    bindAnalysis(m);
    bindPrescription(m);
    bindOptimize(m);
}
