// Damped least squares on the merit function, by Ceres's Levenberg–Marquardt
// trust region. Ceres and its headers stay in this one file.
#include <algorithm>
#include <chrono>
#include <cmath>

#include <ceres/ceres.h>

#include "lumivex/optimize.h"

namespace lumivex {

namespace {

// The whole residual vector as one cost over one parameter block of all
// the variables; its Jacobian is the merit function's, rows × variables
// row-major, which is Ceres's layout too.
class MeritCost : public ceres::CostFunction {
public:
    MeritCost(TMeritFunction& merit, std::size_t rows) : merit(merit) {
        set_num_residuals(static_cast<int>(rows));
        mutable_parameter_block_sizes()->push_back(static_cast<int>(merit.variables.size()));
    }

    bool Evaluate(double const* const* parameters, double* residuals,
                  double** jacobians) const override {
        const std::size_t nv = merit.variables.size();
        const std::vector<double> values(parameters[0], parameters[0] + nv);
        try {
            merit.setValues(values);
            const bool withJacobian = jacobians != nullptr && jacobians[0] != nullptr;
            const TEvaluation e = merit.evaluate(withJacobian);
            if (e.rows != static_cast<std::size_t>(num_residuals())) return false;
            std::copy(e.residuals.begin(), e.residuals.end(), residuals);
            if (withJacobian) std::copy(e.jacobian.begin(), e.jacobian.end(), jacobians[0]);
            return true;
        } catch (const xmsg&) {
            // A trial point the design cannot take: Ceres shrinks the step.
            return false;
        }
    }

private:
    TMeritFunction& merit;
};

class Progress : public ceres::IterationCallback {
public:
    Progress(const TOptimizeOptions& options, std::vector<double>& history)
        : options(options), history(history) {}

    ceres::CallbackReturnType operator()(const ceres::IterationSummary& s) override {
        TIterationReport report;
        report.iteration = s.iteration;
        report.merit = 2.0 * s.cost;  // Ceres minimises ½·Σ r²
        report.stepNorm = s.step_norm;
        report.stepAccepted = s.step_is_successful;
        report.seconds = s.cumulative_time_in_seconds;
        history.push_back(report.merit);
        if (options.progress && !options.progress(report))
            return ceres::SOLVER_TERMINATE_SUCCESSFULLY;
        return ceres::SOLVER_CONTINUE;
    }

private:
    const TOptimizeOptions& options;
    std::vector<double>& history;
};

}  // namespace

TOptimizeResult optimize(TMeritFunction& merit, const TOptimizeOptions& options) {
    if (options.maxIterations < 0) throw xmsg("optimize: the iteration count must be at least 0");
    if (!(options.relativeMeritChange >= 0.0))
        throw xmsg("optimize: the relative merit change must be at least 0");
    if (!(options.maxSeconds > 0.0)) throw xmsg("optimize: the time limit must be positive");
    const auto started = std::chrono::steady_clock::now();
    TOptimizeResult result;

    std::vector<double> x = merit.values();
    for (std::size_t i = 0; i < x.size(); ++i) {
        const TDesignVariable& v = merit.variables[i];
        if (!(v.lower <= v.upper))
            throw xmsg(variableName(v) + ": the lower bound lies above the upper bound");
        x[i] = std::min(std::max(x[i], v.lower), v.upper);
    }
    merit.setValues(x);
    result.before = merit.evaluate(false);

    if (!x.empty() && options.maxIterations > 0) {
        ceres::Problem::Options problemOptions;
        problemOptions.cost_function_ownership = ceres::TAKE_OWNERSHIP;
        ceres::Problem problem(problemOptions);
        problem.AddResidualBlock(new MeritCost(merit, result.before.rows), nullptr, x.data());
        for (std::size_t i = 0; i < x.size(); ++i) {
            const TDesignVariable& v = merit.variables[i];
            if (std::isfinite(v.lower)) problem.SetParameterLowerBound(x.data(), static_cast<int>(i), v.lower);
            if (std::isfinite(v.upper)) problem.SetParameterUpperBound(x.data(), static_cast<int>(i), v.upper);
        }

        ceres::Solver::Options solver;
        solver.minimizer_type = ceres::TRUST_REGION;
        solver.trust_region_strategy_type = ceres::LEVENBERG_MARQUARDT;
        solver.linear_solver_type = ceres::DENSE_QR;
        solver.max_num_iterations = options.maxIterations;
        solver.max_solver_time_in_seconds = options.maxSeconds;
        solver.function_tolerance = options.relativeMeritChange;
        solver.gradient_tolerance = 1e-14;
        solver.parameter_tolerance = 1e-12;
        solver.num_threads = 1;  // the merit function's Jacobian uses every core itself
        solver.logging_type = ceres::SILENT;
        solver.minimizer_progress_to_stdout = false;
        Progress progress(options, result.history);
        solver.callbacks.push_back(&progress);

        ceres::Solver::Summary summary;
        ceres::Solve(solver, &problem, &summary);
        result.iterations = static_cast<int>(summary.iterations.size()) - 1;
        result.converged = summary.termination_type == ceres::CONVERGENCE;
        result.stopReason = summary.message;
        if (summary.termination_type == ceres::FAILURE)
            throw xmsg("optimize: the solver failed: " + summary.message);
    }
    // Ceres leaves the best values it accepted in x.
    merit.setValues(x);
    result.values = x;
    result.after = merit.evaluate(false);
    if (result.history.empty()) result.history.push_back(result.before.merit);
    result.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return result;
}

}  // namespace lumivex
