// SPDX-License-Identifier: Apache-2.0
// A sampled field through a system and back into a field.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>

#include "lumivex/analysis.h"
#include "lumivex/field.h"

namespace lumivex {

namespace {

constexpr double kPi = 3.141592653589793;

std::string number(double v) {
    if (v == 0.0) v = 0.0;  // no "-0"
    char text[32];
    std::snprintf(text, sizeof text, "%g", v);
    return text;
}

}  // namespace

double TFieldRow::power() const {
    double sum = 0.0;
    for (const complex& v : value) sum += std::norm(v);
    return x.size() > 1 ? sum * (x[1] - x[0]) : sum;
}

TFieldRow sampledRow(double wavelength, double z, long long samples, double window, double waist,
                     double tilt) {
    if (!(wavelength > 0.0) || !std::isfinite(wavelength))
        throw xmsg("sampledRow: the wavelength must be a positive number");
    if (samples < 2) throw xmsg("sampledRow: at least 2 samples are needed");
    if (!(window > 0.0) || !std::isfinite(window))
        throw xmsg("sampledRow: the window must be a positive number");
    if (!(waist > 0.0)) throw xmsg("sampledRow: the waist must be positive");
    if (!(std::fabs(tilt) < 0.5 * kPi)) throw xmsg("sampledRow: the tilt must lie within ±90°");
    const double dx = window / (samples - 1);
    // The conversion follows the phase from sample to sample, so a tilt
    // that turns it by π or more between neighbours would alias.
    const double phasePerSample = 2.0 * kPi * std::sin(tilt) * dx / wavelength;
    if (std::fabs(phasePerSample) >= kPi) {
        char text[200];
        std::snprintf(text, sizeof text,
                      "a tilt of %g deg turns the phase by %.3g rad between samples %g apart; it "
                      "must stay below pi",
                      tilt * 180.0 / kPi, phasePerSample, dx);
        throw xmsg(text);
    }
    // A count beyond any memory fails here, as std::bad_alloc.
    TFieldRow row;
    row.z = z;
    row.dx = dx;
    row.x.resize(static_cast<std::size_t>(samples));
    row.value.resize(static_cast<std::size_t>(samples));
    for (long long c = 0; c < samples; ++c) {
        const double x = (c - 0.5 * (samples - 1)) * dx;
        const double amplitude = std::isinf(waist) ? 1.0 : std::exp(-(x * x) / (waist * waist));
        row.x[c] = x;
        row.value[c] = std::polar(amplitude, 2.0 * kPi * std::sin(tilt) * x / wavelength);
    }
    return row;
}

TFieldRoundTrip fieldRoundTrip(TOpticalSystem& system, const TFieldRow& in, double wavelength,
                               int rays, double outZ, int outSamples, double outDx,
                               const TTraceOptions& options) {
    using Error = TFieldRoundTripError;
    if (system.getSize() == 0) throw xmsg("fieldRoundTrip: the system holds no element");
    if (in.x.size() < 2 || in.value.size() != in.x.size())
        throw xmsg("fieldRoundTrip: the row needs at least 2 samples, each with its x");
    if (!(in.dx > 0.0) || !std::isfinite(in.dx))
        throw xmsg("fieldRoundTrip: the row's spacing must be a positive number");
    if (in.x.size() > static_cast<std::size_t>(INT_MAX))
        throw xmsg("fieldRoundTrip: a row holds at most " + std::to_string(INT_MAX) + " samples");
    if (std::isnan(outZ)) outZ = system.getLast()->zPosition;
    const int columns = static_cast<int>(in.x.size());
    const double dx = in.dx;
    TMatrix field(columns, 1);
    std::copy(in.value.begin(), in.value.end(), field.data);

    TBeamFan fan;
    try {
        fieldToBeamFan(field, dx, dx, rays, 1, wavelength, fan);
    } catch (const xmsg& e) {
        throw Error("the field cannot be turned into rays: " + e.message(), Error::ToRays);
    }
    // The conversion starts the rays in z = 0 with its own wavelength; they
    // go from the row's plane at the row's.
    for (int i = 0; i < fan.getSize(); ++i) {
        fan[i]->wavelength = wavelength;
        fan[i]->getLast().position.z = in.z;
    }

    TRayBatch batch(wavelength);
    batch.reserve(static_cast<std::size_t>(fan.getSize()));
    for (int i = 0; i < fan.getSize(); ++i) batch.add(fan[i]->getLast());
    TTraceOptions kept = options;
    kept.keepNodes = true;
    traceRays(system, batch, kept);
    int failed = 0;
    std::string firstFailure;
    for (std::size_t i = 0; i < batch.size(); ++i) {
        *fan[static_cast<int>(i)] = batch.beam(i);
        if (!batch.ok(i) && failed++ == 0)
            firstFailure =
                "ray " + std::to_string(i + 1) + ": " + failureSummary(batch.message(i));
    }
    if (failed > 0)
        throw Error(std::to_string(failed) + " of " + std::to_string(fan.getSize()) +
                        " rays failed, and the output field needs every ray (" + firstFailure +
                        ")",
                    Error::Trace);

    // Every ray straight on to the output plane through the air behind the
    // system, with the phase of that stretch.
    for (int i = 0; i < fan.getSize(); ++i) {
        TBeam& beam = *fan[i];
        TBeamNode node = beam.getLast();
        if (!(node.kVector.z > 0.0))
            throw Error("ray " + std::to_string(i + 1) + " does not leave towards +z", Error::Exit);
        const double t = (outZ - node.position.z) / node.kVector.z;
        node.position += node.kVector * t;
        node.opticalPath += 2.0 * kPi * t / beam.wavelength;
        beam.addNode(node);
    }

    // By default the output row spans the rays' end points with a margin:
    // beyond them the rays say nothing and the splines only extrapolate.
    TFieldRoundTrip result;
    const int outColumns = outSamples > 0 ? outSamples : columns;
    double reach = 0.0;
    for (int i = 0; i < fan.getSize(); ++i)
        reach = std::max(reach, std::fabs(fan[i]->getLast().position.x));
    if (std::isnan(outDx)) outDx = reach > 0.0 ? 2.2 * reach / (outColumns - 1) : dx;
    const double fanWidth = (*fan[fan.getSize() - 1])[0].position.x - (*fan[0])[0].position.x;
    // An imaging system turns the row over; the conversion reads the rays
    // from the lowest x up, so an inverted fan is handed over in reverse.
    bool ascending = true, descending = true;
    for (int i = 1; i < fan.getSize(); ++i) {
        const double step = fan[i]->getLast().position.x - fan[i - 1]->getLast().position.x;
        ascending = ascending && step > 0.0;
        descending = descending && step < 0.0;
    }
    if (!ascending && !descending)
        throw Error("the rays cross each other before z = " + number(outZ) +
                        ", so they do not form one field there",
                    Error::Crossing);
    TBeamFan reversed;
    if (descending)
        for (int i = fan.getSize() - 1; i >= 0; --i) reversed.addBeam(new TBeam(*fan[i]));
    result.inverted = descending;
    TMatrix sampled(outColumns, 1);
    try {
        beamFanToField(descending ? reversed : fan, outDx, outDx, fanWidth, 0.0, &sampled);
    } catch (const xmsg& e) {
        throw Error("the traced rays cannot be turned back into a field at z = " + number(outZ) +
                        ": " + e.message(),
                    Error::ToField);
    }
    for (int i = 0; i < fan.getSize(); ++i) result.rays.push_back(*fan[i]);
    result.out.z = outZ;
    result.out.dx = outDx;
    for (int c = 0; c < outColumns; ++c) {
        result.out.x.push_back((c - outColumns / 2) * outDx);
        result.out.value.push_back(sampled.at(c, 0));
    }
    return result;
}

}  // namespace lumivex
