// lumivex psf: the point spread function of each field by FFT of the pupil
// function, with the Strehl ratio and the encircled energy, as a table and
// an SVG figure.
#include <CLI/CLI.hpp>
#include <cmath>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>

#include "commands.h"
#include "diffraction.h"
#include "diffraction_svg.h"
#include "format.h"
#include "load.h"

namespace lumivex::cli {

namespace {

constexpr double kRadians = 3.141592653589793 / 180.0;
// The encircled energy is reported at these multiples of the Airy radius.
const std::vector<double> kAiryMultiples{0.5, 1.0, 1.5, 2.0, 3.0, 5.0};

std::vector<double> airyRadii(const TPsf& p) {
    std::vector<double> radii;
    for (double k : kAiryMultiples) radii.push_back(k * 1.22 * p.wavelengths[0] * p.fNumbers[0]);
    return radii;
}

void runPsf(const DiffractionOptions& options) {
    LoadedSystem loaded = loadSystem(options.file, options.wavelength);
    const std::vector<TPsf> psfs = fieldPsfs(loaded, options);
    std::vector<std::vector<double>> energy;
    for (const TPsf& p : psfs) energy.push_back(encircledEnergy(p, airyRadii(p)));

    if (!options.output.empty())
        writeOutput(options.output, psfSvg("Point spread function: " + loaded.source.name, psfs,
                                           options.unit));
    if (!options.csvFile.empty()) {
        std::ostringstream os;
        os << "field_deg,x,y,intensity\n";
        for (const TPsf& p : psfs)
            for (int j = 0; j < p.size; ++j)
                for (int i = 0; i < p.size; ++i)
                    os << format("%.17g,%.17g,%.17g,%.17g\n", p.fieldAngle / kRadians,
                                 p.centreX + (i - p.size / 2) * p.dx,
                                 p.centreY + (j - p.size / 2) * p.dx,
                                 p.image[static_cast<std::size_t>(j) * p.size + i]);
        writeFile(options.csvFile, os.str());
    }
    std::ostream& out = isStandardOutput(options.output) ? std::cerr : std::cout;
    if (options.json) {
        nlohmann::json rows = nlohmann::json::array();
        for (std::size_t f = 0; f < psfs.size(); ++f) {
            const TPsf& p = psfs[f];
            rows.push_back({{"fieldAngleDegrees", p.fieldAngle / kRadians},
                            {"z", p.z},
                            {"centre", {{"x", p.centreX}, {"y", p.centreY}}},
                            {"dx", p.dx},
                            {"size", p.size},
                            {"pupilSamples", p.pupilSamples},
                            {"fNumber", p.fNumbers[0]},
                            {"strehl", p.strehl},
                            {"power", p.power},
                            {"peak", p.peak},
                            {"encircledEnergy", {{"radius", airyRadii(p)}, {"energy", energy[f]}}}});
        }
        out << nlohmann::json{{"system", loaded.source.name},
                              {"wavelength", loaded.wavelength},
                              {"psfs", rows}}
                   .dump(2)
            << '\n';
        return;
    }
    const TPsf& first = psfs.front();
    out << "System: " << loaded.source.name << ", wavelength " << number(loaded.wavelength)
        << ", F/" << number(first.fNumbers[0], 4) << "\nPSF by FFT: " << first.pupilSamples
        << " pupil samples across, FFT " << first.size << ", sample pitch " << number(first.dx, 4)
        << " (λ·F#·N/M); power is the pupil's transmitted fraction\n\n";
    TextTable table;
    for (const char* h : {"field deg", "image z", "chief x", "Strehl", "power", "dx"})
        table.addColumn(h);
    for (const TPsf& p : psfs)
        table.addRow({number(p.fieldAngle / kRadians), number(p.z), number(p.centreX),
                      fixed(p.strehl, 4), fixed(p.power, 4), number(p.dx, 4)});
    table.print(out);
    out << "\nEncircled energy about the centroid, radii in Airy radii (1.22 λ N = "
        << number(1.22 * first.wavelengths[0] * first.fNumbers[0], 4) << ")\n";
    TextTable ee;
    ee.addColumn("field deg");
    for (double k : kAiryMultiples) ee.addColumn(number(k) + " Airy");
    for (std::size_t f = 0; f < psfs.size(); ++f) {
        std::vector<std::string> row{number(psfs[f].fieldAngle / kRadians)};
        for (double e : energy[f]) row.push_back(fixed(e, 4));
        ee.addRow(row);
    }
    ee.print(out);
    if (!options.output.empty() && !isStandardOutput(options.output))
        out << "\nWrote " << options.output << '\n';
}

}  // namespace

void addPsfCommand(CLI::App& app) {
    auto options = std::make_shared<DiffractionOptions>("psf.svg");
    CLI::App* command = app.add_subcommand(
        "psf", "Point spread functions by FFT at field angles, with the Strehl ratio and "
               "encircled energy, as a table and an SVG");
    addDiffractionOptions(*command, *options, "Also write every PSF sample as CSV");
    command->callback([options] { runPsf(*options); });
}

}  // namespace lumivex::cli
