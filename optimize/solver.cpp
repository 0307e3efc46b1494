// SPDX-License-Identifier: Apache-2.0
// Damped least squares on the merit function, by MINPACK's lmder (the
// Levenberg–Marquardt trust region of Moré, with the Jacobian supplied),
// through Debian's cminpack. MINPACK knows no bounds, so a bounded variable
// is handed to it as an unbounded one, u, folded back into its interval by
// reflection at the bounds (as the trust-region-reflective methods do):
//
//   lower bound a   x = a + |u − a|
//   upper bound b   x = b − |b − u|
//   both            u − a taken modulo 2(b − a), then mirrored into [a, b]
//
// Inside the bounds x = u, so the solver sees the variables at their own
// scale and the Jacobian unchanged; a step across a bound lands as far
// inside as it would have gone outside, and the chain rule's factor is ±1.
// Unlike the sine transform, a variable that starts on a bound can leave it.
#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <string>

#include <cminpack.h>

#include "lumivex/optimize.h"

namespace lumivex {

namespace {

enum class TBounds { none, both, lower, upper, pinned };

struct TTransform {
    TBounds bounds = TBounds::none;
    double a = 0.0, b = 0.0;

    // Where u lies in the period 2(b − a) of the folding, from a.
    double phase(double u) const {
        const double period = 2.0 * (b - a);
        double t = std::fmod(u - a, period);
        if (t < 0.0) t += period;
        return t;
    }
    double toExternal(double u) const {
        double x = u;
        switch (bounds) {
            case TBounds::both: {
                const double t = phase(u);
                x = a + (t <= b - a ? t : 2.0 * (b - a) - t);
                break;
            }
            case TBounds::lower: x = a + std::fabs(u - a); break;
            case TBounds::upper: x = b - std::fabs(b - u); break;
            case TBounds::pinned: return a;
            case TBounds::none: return x;
        }
        // Rounding may step a hair outside; the bounds are the design's.
        if (bounds != TBounds::upper) x = std::max(x, a);
        if (bounds != TBounds::lower) x = std::min(x, b);
        return x;
    }
    // dx/du. On a bound the fold has a kink; the side taken is the one that
    // points into the interval as u grows, so the solver can leave the bound.
    double slope(double u) const {
        switch (bounds) {
            case TBounds::both: return phase(u) < b - a ? 1.0 : -1.0;
            case TBounds::lower: return u >= a ? 1.0 : -1.0;
            case TBounds::upper: return u < b ? 1.0 : -1.0;
            case TBounds::pinned: return 0.0;
            case TBounds::none: break;
        }
        return 1.0;
    }
};

TTransform transformOf(const TDesignVariable& v) {
    TTransform t;
    const bool lower = std::isfinite(v.lower), upper = std::isfinite(v.upper);
    t.a = v.lower;
    t.b = v.upper;
    if (lower && upper)
        t.bounds = v.lower < v.upper ? TBounds::both : TBounds::pinned;
    else if (lower || upper)
        t.bounds = lower ? TBounds::lower : TBounds::upper;
    return t;
}

// What lmder's callback needs: the merit, the transforms, the bookkeeping of
// iterations, and the stopping rules MINPACK does not have (iterations,
// time, the host's callback).
struct TRun {
    TMeritFunction& merit;
    const TOptimizeOptions& options;
    TOptimizeResult& result;
    std::vector<TTransform> transforms;
    std::size_t rows = 0;  // the merit's residuals; lmder sees at least n
    std::chrono::steady_clock::time_point started;
    std::vector<double> external;     // scratch: the variables' values
    std::vector<double> lastReported;  // internal values of the last report
    std::vector<double> lastValues;    // and the variables' values there
    double lastNorm = 0.0;            // |residuals| at the last good evaluation
    int jacobians = 0;
    std::string stopReason, failure;

    double seconds() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    }

    void setInternal(const double* u, std::size_t n) {
        external.resize(n);
        for (std::size_t j = 0; j < n; ++j) external[j] = transforms[j].toExternal(u[j]);
        merit.setValues(external);
    }

    // One report per accepted point, the starting point being iteration 0.
    int report(const double* u, std::size_t n, const double* fvec, std::size_t m) {
        const std::vector<double> here(u, u + n);
        if (!result.history.empty() && here == lastReported) return 0;
        lastReported = here;
        std::vector<double> values(n);
        for (std::size_t j = 0; j < n; ++j) values[j] = transforms[j].toExternal(u[j]);
        double step = 0.0;
        for (std::size_t j = 0; j < n && !lastValues.empty(); ++j)
            step += (values[j] - lastValues[j]) * (values[j] - lastValues[j]);
        lastValues = std::move(values);
        double sum = 0.0;
        for (std::size_t i = 0; i < m; ++i) sum += fvec[i] * fvec[i];
        TIterationReport r;
        r.iteration = static_cast<int>(result.history.size());
        r.merit = sum;
        r.stepAccepted = r.iteration > 0;
        r.stepNorm = std::sqrt(step);
        r.seconds = seconds();
        result.history.push_back(sum);
        if (options.progress && !options.progress(r)) {
            stopReason = "stopped by the progress callback";
            return -1;
        }
        return 0;
    }
};

int evaluateForMinpack(void* p, int m, int n, const double* u, double* fvec, double* fjac,
                       int ldfjac, int iflag) {
    TRun& run = *static_cast<TRun*>(p);
    const std::size_t nv = static_cast<std::size_t>(n), mr = static_cast<std::size_t>(m);
    if (iflag == 0) return run.report(u, nv, fvec, mr);
    if (run.seconds() > run.options.maxSeconds) {
        run.stopReason = "time limit reached";
        return -1;
    }
    if (iflag == 2) {
        // lmder asks for a Jacobian once per iteration, at the point its last
        // step reached: the iteration count is known here.
        if (run.jacobians++ > 0 && !run.lastReported.empty()) {
            // The step before this one was accepted: say so before going on.
            if (run.report(u, nv, fvec, mr) < 0) return -1;
        }
        if (static_cast<int>(run.result.history.size()) - 1 >= run.options.maxIterations &&
            !run.result.history.empty()) {
            run.stopReason = "iteration limit reached";
            return -1;
        }
    }
    try {
        run.setInternal(u, nv);
        const TEvaluation e = run.merit.evaluate(iflag == 2);
        if (e.rows != run.rows) throw xmsg("the merit function changed its number of residuals");
        if (iflag == 1) {
            std::copy(e.residuals.begin(), e.residuals.end(), fvec);
            std::fill(fvec + run.rows, fvec + mr, 0.0);
            double sum = 0.0;
            for (std::size_t i = 0; i < mr; ++i) sum += fvec[i] * fvec[i];
            run.lastNorm = std::sqrt(sum);
        } else {
            // Column-major for MINPACK; padding rows are zero.
            for (std::size_t j = 0; j < nv; ++j) {
                const double slope = run.transforms[j].slope(u[j]);
                double* column = fjac + j * static_cast<std::size_t>(ldfjac);
                for (std::size_t i = 0; i < run.rows; ++i) column[i] = e.jacobian[i * nv + j] * slope;
                std::fill(column + run.rows, column + mr, 0.0);
            }
        }
        return 0;
    } catch (const xmsg& error) {
        if (iflag == 2) {
            run.failure = error.what();
            return -1;
        }
        // A trial point the design cannot take: residuals far larger than
        // the last good ones make lmder reject the step and shrink its
        // trust region, as any step that raised the merit would.
        const double value = run.lastNorm > 0.0 ? 100.0 * run.lastNorm / std::sqrt(static_cast<double>(m)) : 1.0;
        std::fill(fvec, fvec + mr, value);
        return 0;
    }
}

std::string minpackReason(int info) {
    switch (info) {
        case 1: return "the relative merit change fell below its tolerance";
        case 2: return "the relative step fell below its tolerance";
        case 3: return "the relative merit change and the relative step fell below their tolerances";
        case 4: return "the residuals are orthogonal to the Jacobian's columns";
        case 5: return "evaluation limit reached";
        case 6: return "no further reduction of the merit is possible at this precision";
        case 7: return "no further improvement of the variables is possible at this precision";
        case 8: return "the residuals are orthogonal to the Jacobian's columns at this precision";
        default: break;
    }
    return "the solver stopped (code " + std::to_string(info) + ")";
}

}  // namespace

TOptimizeResult optimize(TMeritFunction& merit, const TOptimizeOptions& options) {
    if (options.maxIterations < 0) throw xmsg("optimize: the iteration count must be at least 0");
    if (!(options.relativeMeritChange >= 0.0))
        throw xmsg("optimize: the relative merit change must be at least 0");
    if (!(options.maxSeconds > 0.0)) throw xmsg("optimize: the time limit must be positive");
    TOptimizeResult result;
    TRun run{merit, options, result, {}, 0, std::chrono::steady_clock::now(), {}, {}, {}, 0.0, 0, {}, {}};

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
        const int n = static_cast<int>(x.size());
        run.rows = result.before.rows;
        // lmder wants at least as many residuals as variables; rows of zeros
        // (and zero derivatives) change neither the merit nor the steps.
        const int m = std::max(static_cast<int>(run.rows), n);
        std::vector<double> u(x.size());
        for (std::size_t j = 0; j < x.size(); ++j) {
            run.transforms.push_back(transformOf(merit.variables[j]));
            u[j] = x[j];  // inside its bounds, where the fold is the identity
        }
        const std::size_t ms = static_cast<std::size_t>(m), ns = x.size();
        std::vector<double> fvec(ms), fjac(ms * ns), diag(ns), qtf(ns), wa1(ns), wa2(ns), wa3(ns),
            wa4(ms);
        std::vector<int> ipvt(ns);
        int nfev = 0, njev = 0;
        // The tolerance on the merit's relative change is the host's; the
        // step and gradient ones only end runs that can go no further.
        const int info = lmder(evaluateForMinpack, &run, m, n, u.data(), fvec.data(), fjac.data(),
                               m, options.relativeMeritChange, 1e-12, 1e-14, INT_MAX, diag.data(),
                               1, 100.0, 1, &nfev, &njev, ipvt.data(), qtf.data(), wa1.data(),
                               wa2.data(), wa3.data(), wa4.data());
        if (!run.failure.empty()) throw xmsg("optimize: the solver failed: " + run.failure);
        if (info == 0) throw xmsg("optimize: the solver was given improper input");
        result.converged = info >= 1 && info <= 4;
        result.converged = result.converged || (info >= 6 && info <= 8);
        result.stopReason = info < 0 ? run.stopReason : minpackReason(info);
        // lmder leaves the best values it accepted in u.
        for (std::size_t j = 0; j < ns; ++j) x[j] = run.transforms[j].toExternal(u[j]);
        result.iterations = std::max(0, static_cast<int>(result.history.size()) - 1);
    }
    merit.setValues(x);
    result.values = x;
    result.after = merit.evaluate(false);
    if (result.history.empty()) result.history.push_back(result.before.merit);
    result.seconds = run.seconds();
    return result;
}

}  // namespace lumivex
