// SPDX-License-Identifier: Apache-2.0
// lumivex spot and fan on a prescription: the lens as its file defines it.
#include "lens_analyses.h"

#include <cmath>
#include <iostream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "analysis_svg.h"
#include "format.h"
#include "load.h"
#include "lumivex/results.h"

namespace lumivex::cli {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();


std::string apertureWords(const TPrescription& lens) {
    switch (lens.aperture.kind) {
        case TApertureKind::entrancePupilDiameter:
            return "entrance pupil diameter " + number(lens.aperture.value);
        case TApertureKind::imageFNumber:
            return "image-space F/" + number(lens.aperture.value);
        case TApertureKind::objectNA:
            return "object-space NA " + number(lens.aperture.value);
        case TApertureKind::stopSemiDiameter:
            return "stop semi-diameter " + number(lens.aperture.value);
    }
    return "";
}

void printLensHeader(std::ostream& out, const std::string& name, const TPrescription& lens,
                     double wavelengthUm, const TParaxialData& p) {
    out << "Lens: " << name << ", wavelength " << number(lens.resolveWavelength(wavelengthUm))
        << " um, aperture: " << apertureWords(lens) << ", stop at surface " << lens.stop + 1
        << '\n';
    out << "Paraxial: EFL " << number(p.efl) << ", BFL " << number(p.bfl)
        << " (from the last surface), focus z = " << number(p.focusZ) << ", F/"
        << number(p.fNumber, 4) << ", entrance pupil diameter "
        << number(p.entrancePupilDiameter) << " at z = " << number(p.entrancePupilZ) << '\n';
}

}  // namespace

// The prescription with the command line's choices over its own.
TPrescription lensFor(const LoadedPrescription& loaded, const AnalysisOptions& options) {
    TPrescription lens = loaded.lens;
    if (!std::isnan(options.pupil))
        lens.aperture = {TApertureKind::entrancePupilDiameter, options.pupil};
    if (!std::isnan(options.fNumber)) lens.aperture = {TApertureKind::imageFNumber, options.fNumber};
    if (!options.fields.empty()) {
        lens.fields.clear();
        for (double v : options.fields) lens.fields.push_back({v, 0.0, 1.0});
    }
    try {
        lens.validate();
        if (!std::isnan(options.wavelength)) lens.resolveWavelength(options.wavelength);
    } catch (const xmsg& e) {
        throw ToolError(kExitInput, loaded.source.name + ": " + failureSummary(e.message()));
    }
    return lens;
}

// "5 deg", "5, 2 deg", "h 10" as the field is given.
std::string fieldLabel(const TPrescription& lens, int k) {
    const TField& f = lens.fields[static_cast<std::size_t>(k)];
    std::string xy = number(f.x);
    if (f.y != 0.0) xy += ", " + number(f.y);
    return lens.fieldKind == TFieldKind::angle ? xy : "h " + xy;
}

const char* fieldHeader(const TPrescription& lens) {
    return lens.fieldKind == TFieldKind::angle ? "field deg" : "field height";
}

TCollimatedBeam analysisBeam(TOpticalSystem& system, const AnalysisOptions& options,
                             double wavelength) {
    TCollimatedBeam beam;
    beam.wavelength = wavelength;
    if (!std::isnan(options.pupil)) beam.pupilRadius = 0.5 * options.pupil;
    beam = analysed([&] { return resolveFilledBeam(system, beam); });
    if (!std::isnan(options.fNumber)) {
        const TParaxialData p = analysed([&] { return paraxialData(system, beam); });
        beam.pupilRadius = std::fabs(p.efl) / (2.0 * options.fNumber);
    }
    return beam;
}

std::vector<double> fieldAngles(const AnalysisOptions& options) {
    std::vector<double> angles;
    for (double degrees : options.fields) angles.push_back(degrees * (3.141592653589793 / 180.0));
    if (angles.empty()) angles.push_back(0.0);
    return angles;
}

void runLensSpot(const AnalysisOptions& options, int rings, bool throughFocusToo) {
    const LoadedPrescription loaded = loadPrescription(options.file);
    const TPrescription lens = lensFor(loaded, options);
    const double wl = options.wavelength;  // µm; NaN: the primary
    TTraceOptions trace;
    trace.threads = options.threads;
    const TParaxialData paraxial = analysed([&] { return paraxialData(lens, wl); });
    const std::vector<TPupilPoint> pupil = hexapolar(1.0, rings);
    // Every wavelength's rays with its weight, or the one -w names.
    std::vector<TWavelength> spectrum;
    if (!std::isnan(wl)) spectrum.push_back({wl, 1.0});
    std::vector<TSpotDiagram> spots;
    for (int k = 0; k < static_cast<int>(lens.fields.size()); ++k)
        spots.push_back(analysed([&] { return polychromaticSpot(lens, k, pupil, options.imageZ, spectrum, trace); }));
    TThroughFocus curve;
    if (throughFocusToo) {
        // As for a bare system: about the image plane by the depth over which
        // the axial spot grows by its own size, and never less than ±4·λ·N².
        const TSpotDiagram& axial = spots.front();
        const double N = paraxial.fNumber;
        const double lambda = lens.wavelengthInLensUnit(wl);
        const double half = std::max(4.0 * N * axial.spot.largest, 4.0 * lambda * N * N);
        const double lastZ = lens.surfaces.back().element->zPosition;
        curve = analysed([&] {
            return throughFocus(lens, 0, pupil, std::max(axial.z - half, lastZ), axial.z + half, 21,
                                wl, trace);
        });
    }

    if (!options.output.empty())
        writeOutput(options.output,
                    spotSvg("Spot diagrams: " + loaded.source.name, spots, lens.unit));
    std::ostream& out = isStandardOutput(options.output) ? std::cerr : std::cout;
    if (options.json) {
        nlohmann::json j{{"lens", loaded.source.name},
                         {"wavelengthUm", lens.resolveWavelength(wl)},
                         {"paraxial", paraxial},
                         {"spots", spots}};
        if (throughFocusToo) j["throughFocus"] = curve;
        out << j.dump(2) << '\n';
        return;
    }
    printLensHeader(out, loaded.source.name, lens, wl, paraxial);
    if (spots.front().wavelengthsUm.size() > 1) {
        out << "Rays at every wavelength, each weighted by its wavelength's weight:";
        for (std::size_t k = 0; k < spots.front().wavelengthsUm.size(); ++k)
            out << ' ' << number(spots.front().wavelengthsUm[k]) << " um ("
                << number(spots.front().weights[k], 4) << ')';
        out << "; the Airy radius at " << number(spots.front().wavelengthsUm[0]) << " um\n";
    }
    out << '\n';
    TextTable table;
    for (const char* h : {fieldHeader(lens), "image z", "rays", "vignetted", "failed", "chief x",
                          "chief y", "RMS radius", "GEO radius", "Airy radius"})
        table.addColumn(h);
    for (const TSpotDiagram& s : spots)
        table.addRow({fieldLabel(lens, s.field), number(s.z), std::to_string(s.spot.rays),
                      std::to_string(s.spot.vignetted), std::to_string(s.spot.failed),
                      number(s.chiefX), number(s.chiefY), number(s.spot.rms, 4),
                      number(s.spot.largest, 4), number(s.airyRadius, 4)});
    table.print(out);
    if (throughFocusToo) {
        out << "\nThrough focus, field 1\n";
        TextTable tf;
        tf.addColumn("z");
        tf.addColumn("RMS radius");
        for (std::size_t i = 0; i < curve.z.size(); ++i)
            tf.addRow({number(curve.z[i]), number(curve.rms[i], 4)});
        tf.print(out);
        out << "Least RMS radius " << number(curve.bestRms, 4) << " at z = " << number(curve.bestZ)
            << '\n';
    }
    if (!options.output.empty() && !isStandardOutput(options.output))
        out << "\nWrote " << options.output << '\n';
}

void runLensFan(const AnalysisOptions& options, int rays) {
    const LoadedPrescription loaded = loadPrescription(options.file);
    const TPrescription lens = lensFor(loaded, options);
    const double wl = options.wavelength;
    TTraceOptions trace;
    trace.threads = options.threads;
    const TParaxialData paraxial = analysed([&] { return paraxialData(lens, wl); });
    std::vector<TRayFan> fans;
    for (int k = 0; k < static_cast<int>(lens.fields.size()); ++k)
        fans.push_back(analysed([&] { return rayFan(lens, k, rays, options.imageZ, wl, trace); }));

    if (!options.output.empty())
        writeOutput(options.output,
                    fanSvg("Ray and OPD fans: " + loaded.source.name, fans, lens.unit));
    std::ostream& out = isStandardOutput(options.output) ? std::cerr : std::cout;
    if (options.json) {
        out << nlohmann::json{{"lens", loaded.source.name},
                              {"wavelengthUm", lens.resolveWavelength(wl)},
                              {"fans", fans}}
                   .dump(2)
            << '\n';
        return;
    }
    printLensHeader(out, loaded.source.name, lens, wl, paraxial);
    out << "Transverse aberration in the image plane relative to the chief ray; OPD in waves "
           "against the chief ray on the reference sphere\n";
    const auto cell = [](double v, int digits) {
        return std::isfinite(v) ? number(v, digits) : std::string("-");
    };
    for (const TRayFan& f : fans) {
        out << "\nField " << fieldLabel(lens, f.field) << ", image z = " << number(f.z)
            << ", reference sphere radius " << number(f.referenceRadius);
        if (f.vignetted > 0) out << ", " << f.vignetted << " rays vignetted";
        if (f.failed > 0) out << ", " << f.failed << " rays failed (" << f.failure << ")";
        out << '\n';
        TextTable table;
        for (const char* h : {"rho", "tan d", "sag d", "tan OPD", "sag OPD"}) table.addColumn(h);
        for (std::size_t i = 0; i < f.rho.size(); ++i)
            table.addRow({fixed(f.rho[i], 3), cell(f.tangential[i], 4), cell(f.sagittal[i], 4),
                          cell(f.tangentialOpd[i], 4), cell(f.sagittalOpd[i], 4)});
        table.print(out);
    }
    if (!options.output.empty() && !isStandardOutput(options.output))
        out << "\nWrote " << options.output << '\n';
}

}  // namespace lumivex::cli

namespace lumivex::cli {

void runLensCheck(const LoadedPrescription& loaded, double wavelengthUm, bool table,
                  std::ostream& os, bool write) {
    const TPrescription& lens = loaded.lens;
    if (table) os << "Prescription " << loaded.source.name << '\n' << lens.table() << '\n';
    else os << "\nAs a prescription\n";
    try {
        const TParaxialData p = paraxialData(lens, wavelengthUm);
        printLensHeader(os, loaded.source.name, lens, wavelengthUm, p);
        os << "Image plane z = " << number(lens.imagePlaneZ()) << '\n';
    } catch (const xmsg& e) {
        os << "No first-order data: " << failureSummary(e.message()) << '\n';
    }
    if (!loaded.skipped.empty()) {
        os << "\nSkipped (they change no ray path)\n";
        TextTable skipped;
        for (const char* h : {"line", "surface", "keyword", "what it is"}) {
            const std::string heading = h;
            skipped.addColumn(heading, heading == "keyword" || heading == "what it is");
        }
        for (const TZmxItem& item : loaded.skipped)
            skipped.addRow({std::to_string(item.line),
                            item.surface < 0 ? std::string("-") : std::to_string(item.surface),
                            item.keyword, item.why});
        skipped.print(os);
    }
    for (const std::string& note : loaded.notes) os << "Note: " << note << '\n';
    if (write) std::cout << lens.toJson() << '\n';
}

}  // namespace lumivex::cli
