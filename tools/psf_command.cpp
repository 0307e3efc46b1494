// SPDX-License-Identifier: Apache-2.0
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
#include "lumivex/results.h"

namespace lumivex::cli {

namespace {

// The encircled energy is reported at these multiples of the Airy radius.
const std::vector<double> kAiryMultiples{0.5, 1.0, 1.5, 2.0, 3.0, 5.0};

std::vector<double> airyRadii(const TPsf& p) {
    std::vector<double> radii;
    for (double k : kAiryMultiples) radii.push_back(k * 1.22 * p.wavelengths[0] * p.fNumbers[0]);
    return radii;
}

void runPsf(const DiffractionOptions& options) {
    const AnalysedPsfs a = analysedPsfs(options);
    const std::vector<TPsf>& psfs = a.psfs;
    std::vector<std::vector<double>> energy;
    for (const TPsf& p : psfs) energy.push_back(encircledEnergy(p, airyRadii(p)));

    if (!options.output.empty())
        writeOutput(options.output, psfSvg("Point spread function: " + a.name, psfs, a.unit));
    if (!options.csvFile.empty()) writeFile(options.csvFile, psfCsv(psfs));
    std::ostream& out = isStandardOutput(options.output) ? std::cerr : std::cout;
    if (options.json) {
        nlohmann::json rows = nlohmann::json::array();
        for (std::size_t f = 0; f < psfs.size(); ++f) {
            nlohmann::json row = psfs[f];
            row["fNumber"] = psfs[f].fNumbers[0];
            row["encircledEnergy"] = {{"radius", airyRadii(psfs[f])}, {"energy", energy[f]}};
            rows.push_back(row);
        }
        nlohmann::json top{{"system", a.name}};
        top.update(a.wavelengths);
        top["psfs"] = rows;
        out << top.dump(2) << '\n';
        return;
    }
    const TPsf& first = psfs.front();
    out << "System: " << a.name << ", wavelength " << a.wavelengthWords << ", F/"
        << number(first.fNumbers[0], 4) << "\nPSF by FFT: " << first.pupilSamples
        << " pupil samples across, FFT " << first.size << ", sample pitch " << number(first.dx, 4)
        << " (λ·F#·N/M); power is the pupil's transmitted fraction\n\n";
    TextTable table;
    for (const char* h : {a.fieldHeader.c_str(), "image z", "chief x", "chief y", "Strehl", "power", "dx"})
        table.addColumn(h);
    for (std::size_t f = 0; f < psfs.size(); ++f) {
        const TPsf& p = psfs[f];
        table.addRow({a.fieldLabels[f], number(p.z), number(p.centreX), number(p.centreY),
                      fixed(p.strehl, 4), fixed(p.power, 4), number(p.dx, 4)});
    }
    table.print(out);
    out << "\nEncircled energy about the centroid, radii in Airy radii (1.22 λ N = "
        << number(1.22 * first.wavelengths[0] * first.fNumbers[0], 4) << ")\n";
    TextTable ee;
    ee.addColumn(a.fieldHeader);
    for (double k : kAiryMultiples) ee.addColumn(number(k) + " Airy");
    for (std::size_t f = 0; f < psfs.size(); ++f) {
        std::vector<std::string> row{a.fieldLabels[f]};
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
