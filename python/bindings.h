// SPDX-License-Identifier: Apache-2.0
// Shared pieces of the Python bindings: the exception types, the element
// registry that gives every library element its own Python class, and the
// system as Python holds it.
#ifndef LUMIVEX_PYTHON_BINDINGS_H
#define LUMIVEX_PYTHON_BINDINGS_H

#include <pybind11/complex.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "lumivex/lumivex.h"

namespace py = pybind11;

namespace lumivex::python {

// lumivex.Error (a RuntimeError) and lumivex.TraceError, derived from it.
// Both live as long as the process: the module holds a reference too.
extern PyObject* errorType;
extern PyObject* traceErrorType;

// Raises lumivex.TraceError carrying the message and the partial beam.
[[noreturn]] void raiseTraceError(const std::string& message, const TBeam& beam);
// Raises ValueError with the message.
[[noreturn]] void raiseValueError(const std::string& message);
// A ValueError with the library's message; an error at a place in a text
// (a description's stop, a lens file's line) carries .source, .line,
// .column and .surface.
[[noreturn]] void raiseValueError(const xmsg& error);

// The Python object of an element, as an instance of its own kind's class;
// the object owns the element. A TypeError for a class the bindings lack.
py::object wrapElement(std::unique_ptr<TElement> element);

// What Python holds as a system: the element objects themselves, so that an
// element stays the one object a script built and changes. Tracing goes
// through a TOpticalSystem of copies made at that moment (the copies are cheap
// next to any trace and leave no element with two owners).
class System {
public:
    explicit System(double defaultRadius) : defaultRadius(defaultRadius) {}

    double defaultRadius;
    std::vector<py::object> elements;

    void add(const py::object& element);
    TElement& at(std::size_t i) const;
    // Copies of the elements as they are now, after checking that every
    // value is finite and every medium's index has a real part that is not
    // negative (a ValueError naming the element otherwise). With `traced`,
    // also the element objects copied, in order: what the trace worked on,
    // whatever another thread adds to the system meanwhile.
    std::unique_ptr<TOpticalSystem> build(std::vector<py::object>* traced = nullptr) const;
};

// The traced radii of the copies, back into the element objects they were
// copied from (by identity, not by position in the system, which another
// thread may have grown while the GIL was released).
void takeTracedRadii(const TOpticalSystem& system, const std::vector<py::object>& traced);

// Checks a default radius a script gives.
double checkedDefaultRadius(double radius);

// Trace options whose progress callback lets Python handle signals now and
// then (taking the GIL back): a pending KeyboardInterrupt, or whatever a
// handler raised, stops the trace; rethrow() raises it in place of the
// library's "stopped by the host".
class Interruptible {
public:
    explicit Interruptible(int threads, bool keepNodes = false);
    Interruptible(const Interruptible&) = delete;
    Interruptible& operator=(const Interruptible&) = delete;

    TTraceOptions& options() { return opts; }
    // Raises what stopped the trace, if Python did; otherwise returns.
    void rethrow() const;

private:
    TTraceOptions opts;
    std::chrono::steady_clock::time_point lastCheck;
    std::size_t lastDone = 0;
    std::optional<py::error_already_set> raised;
};

// A Python system holding copies of the library system's elements.
System fromSystem(const TOpticalSystem& read);
// The str of a path: str, bytes or os.PathLike.
std::string pathOf(const py::object& path);
// The whole file, at most kMaxInputBytes: OSError when it cannot be opened
// (IsADirectoryError for a directory), ValueError when it is larger.
std::string readFile(const std::string& name);

// The nodes of a beam as a structured array (position, direction,
// polarization, intensity, phase).
py::array beamNodes(const TBeam& beam);

void bindErrors(py::module_& m);
void bindBeam(py::module_& m);
void bindElements(py::module_& m);
py::class_<System> bindSystem(py::module_& m);
void bindTracing(py::module_& m, py::class_<System>& system);
void bindField(py::module_& m);
void bindLensFile(py::module_& m, py::class_<System>& system);
void bindAnalysis(py::module_& m);
void bindPrescription(py::module_& m);
void bindOptimize(py::module_& m);

}  // namespace lumivex::python

#endif
