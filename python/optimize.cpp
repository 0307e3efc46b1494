// SPDX-License-Identifier: Apache-2.0
// The optimizer for Python: lumivex._lumivex._MeritFunction, the compiled
// half of lumivex.optimize. Names arrive checked by the Python half; the
// library's merit function, solver and tables do the work with the GIL
// released, and their results come back as arrays.
#include <cmath>
#include <limits>
#include <optional>

#include "bindings.h"

namespace lumivex::python {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

template <class F>
auto named(F&& f) {
    try {
        return f();
    } catch (const xmsg& e) {
        raiseValueError(e.message());
    }
}

py::array_t<double> vector(const std::vector<double>& v) {
    return py::array_t<double>(static_cast<py::ssize_t>(v.size()), v.data());
}

py::array_t<double> matrix(const std::vector<double>& v, std::size_t rows, std::size_t columns) {
    py::array_t<double> a({static_cast<py::ssize_t>(rows), static_cast<py::ssize_t>(columns)});
    if (!v.empty()) std::copy(v.begin(), v.end(), a.mutable_data());
    return a;
}

using Rows1 = py::array_t<double, py::array::c_style | py::array::forcecast>;

// A merit function on its own copy of the prescription.
class Merit {
public:
    Merit(const TPrescription& p, const py::object& imageAtFocus)
        : merit(imageAtFocus.is_none() ? TMeritFunction(p)
                                       : TMeritFunction(p, imageAtFocus.cast<bool>())) {}

    TMeritFunction merit;

    void setValues(const Rows1& x) {
        if (x.ndim() != 1 || static_cast<std::size_t>(x.shape(0)) != merit.variables.size())
            raiseValueError("x must have one value per variable (" +
                            std::to_string(merit.variables.size()) + ")");
        std::vector<double> values(x.data(), x.data() + x.shape(0));
        merit.setValues(values);
    }

    TEvaluation evaluate(bool withJacobian) {
        py::gil_scoped_release nogil;
        return merit.evaluate(withJacobian);
    }
};

}  // namespace

void bindOptimize(py::module_& m) {
    py::class_<TEvaluation>(m, "_Evaluation")
        .def_property_readonly("residuals",
                               [](const TEvaluation& e) { return vector(e.residuals); })
        .def_property_readonly(
            "jacobian", [](const TEvaluation& e) { return matrix(e.jacobian, e.rows, e.columns); })
        .def_readonly("merit", &TEvaluation::merit)
        .def_property_readonly("values", [](const TEvaluation& e) { return vector(e.values); })
        .def_property_readonly("contributions",
                               [](const TEvaluation& e) { return vector(e.contributions); })
        .def_property_readonly(
            "methods",
            [](const TEvaluation& e) {
                py::list out;
                for (TDerivativeMethod d : e.methods)
                    out.append(d == TDerivativeMethod::exact ? "exact" : "differences");
                return out;
            })
        .def_readonly("failed_rays", &TEvaluation::failedRays);

    py::class_<TPrescriptionResult>(m, "_RunResult")
        .def_property_readonly("values",
                               [](const TPrescriptionResult& r) { return vector(r.values); })
        .def_property_readonly("history",
                               [](const TPrescriptionResult& r) { return vector(r.history); })
        .def_readonly("before", &TPrescriptionResult::before)
        .def_readonly("after", &TPrescriptionResult::after)
        .def_readonly("iterations", &TPrescriptionResult::iterations)
        .def_readonly("converged", &TPrescriptionResult::converged)
        .def_readonly("stop_reason", &TPrescriptionResult::stopReason)
        .def_readonly("seconds", &TPrescriptionResult::seconds)
        .def_readonly("prescription", &TPrescriptionResult::prescription);

    py::class_<Merit>(m, "_MeritFunction")
        .def(py::init<const TPrescription&, const py::object&>(), py::arg("prescription"),
             py::arg("image_at_focus") = py::none())
        .def("add_variable",
             [](Merit& self, const std::string& kind, int element, int term, double lower,
                double upper) {
                 TDesignVariable v;
                 v.kind = named([&] { return variableKindNamed(kind); });
                 v.element = element;
                 v.term = term;
                 v.lower = lower;
                 v.upper = upper;
                 if (!(lower <= upper))
                     raiseValueError(variableName(v) +
                                     ": the lower bound lies above the upper bound");
                 for (const TDesignVariable& w : self.merit.variables)
                     if (w.kind == v.kind && w.element == v.element &&
                         (v.kind != TVariableKind::asphere || w.term == v.term))
                         raiseValueError(variableName(v) + " is varied already");
                 try {
                     variableValue(self.merit.system(0), v);  // the element has the parameter
                 } catch (const xmsg& e) {
                     raiseValueError(e.message());
                 }
                 self.merit.variables.push_back(v);
                 try {
                     self.merit.evaluate(false);
                 } catch (const xmsg& e) {
                     self.merit.variables.pop_back();
                     raiseValueError(e.message());
                 }
             })
        .def("add_operand",
             [](Merit& self, const std::string& kind, const py::object& target, double weight,
                int field, const py::object& wavelength, int rays, bool aboutChief, double px,
                double py, int element, double height) {
                 TOperand op;
                 op.kind = named([&] { return operandKindNamed(kind); });
                 if (!(weight >= 0.0) || !std::isfinite(weight))
                     raiseValueError("weight must be finite and at least 0");
                 op.weight = weight;
                 op.field = field;
                 op.configuration = self.merit.wavelengthConfiguration(
                     wavelength.is_none() ? kNaN : wavelength.cast<double>());
                 op.rays = rays;
                 op.aboutChief = aboutChief;
                 op.pupil = {px, py};
                 op.element = element;
                 op.height = height;
                 const bool atZero =
                     op.kind == TOperandKind::rmsSpot || op.kind == TOperandKind::rayError;
                 op.target = target.is_none() ? 0.0 : target.cast<double>();
                 self.merit.operands.push_back(op);
                 try {
                     // None holds what the lens has now (a spot or a ray error: 0).
                     const TEvaluation e = self.evaluate(false);
                     if (target.is_none() && !atZero)
                         self.merit.operands.back().target = e.values.back();
                 } catch (const xmsg& e) {
                     self.merit.operands.pop_back();
                     raiseValueError(e.message());
                 }
             })
        .def_property_readonly("x", [](const Merit& self) { return vector(self.merit.values()); })
        .def("set_values", &Merit::setValues)
        .def("evaluate", &Merit::evaluate, py::arg("jacobian") = false)
        .def("evaluate_by_differences",
             [](Merit& self, double step) {
                 py::gil_scoped_release nogil;
                 return self.merit.evaluateByDifferences(step);
             })
        .def_property_readonly("bounds",
                               [](const Merit& self) {
                                   std::vector<double> lo, hi;
                                   for (const TDesignVariable& v : self.merit.variables) {
                                       lo.push_back(v.lower);
                                       hi.push_back(v.upper);
                                   }
                                   return py::make_tuple(vector(lo), vector(hi));
                               })
        .def_property_readonly("variable_names",
                               [](const Merit& self) {
                                   py::list out;
                                   for (const TDesignVariable& v : self.merit.variables)
                                       out.append(variableName(v));
                                   return out;
                               })
        .def_property_readonly("operand_names",
                               [](const Merit& self) {
                                   py::list out;
                                   for (std::size_t o = 0; o < self.merit.operands.size(); ++o)
                                       out.append(self.merit.operandLabel(o));
                                   return out;
                               })
        .def_property_readonly("targets",
                               [](const Merit& self) {
                                   std::vector<double> t;
                                   for (const TOperand& op : self.merit.operands)
                                       t.push_back(op.target);
                                   return vector(t);
                               })
        .def_property_readonly("weights",
                               [](const Merit& self) {
                                   std::vector<double> w;
                                   for (const TOperand& op : self.merit.operands)
                                       w.push_back(op.weight);
                                   return vector(w);
                               })
        .def("prescription", [](const Merit& self) { return self.merit.prescription(); })
        .def("run",
             [](Merit& self, int maxIterations, double relativeChange, double maxSeconds,
                const py::object& progress) {
                 TOptimizeOptions options;
                 options.maxIterations = maxIterations;
                 options.relativeMeritChange = relativeChange;
                 options.maxSeconds = maxSeconds;
                 std::optional<py::error_already_set> raised;
                 if (!progress.is_none())
                     options.progress = [&](const TIterationReport& r) {
                         py::gil_scoped_acquire gil;
                         try {
                             py::dict report;
                             report["iteration"] = r.iteration;
                             report["merit"] = r.merit;
                             report["step_norm"] = r.stepNorm;
                             report["accepted"] = r.stepAccepted;
                             report["seconds"] = r.seconds;
                             const py::object answer = progress(report);
                             return answer.is_none() || answer.cast<bool>();
                         } catch (py::error_already_set& e) {
                             raised.emplace(std::move(e));
                             return false;
                         }
                     };
                 TPrescriptionResult result;
                 {
                     py::gil_scoped_release nogil;
                     result = optimizePrescription(self.merit, options);
                 }
                 if (raised) throw std::move(*raised);
                 return result;
             })
        .def("sensitivities",
             [](Merit& self) {
                 TSensitivities s;
                 {
                     py::gil_scoped_release nogil;
                     s = sensitivities(self.merit);
                 }
                 py::dict out;
                 out["variables"] = s.variables;
                 py::list names;
                 for (std::size_t o = 0; o < self.merit.operands.size(); ++o)
                     names.append(self.merit.operandLabel(o));
                 out["operands"] = names;
                 out["merit"] = vector(s.merit);
                 out["operand_values"] =
                     matrix(s.operandValues, s.operands.size(), s.variables.size());
                 return out;
             })
        .def("table", [](const Merit& self, const TPrescriptionResult& r) {
            return meritTable(self.merit, r);
        });
}

}  // namespace lumivex::python
