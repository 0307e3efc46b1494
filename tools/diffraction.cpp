// SPDX-License-Identifier: Apache-2.0
#include "diffraction.h"

#include <CLI/CLI.hpp>
#include <cmath>

#include "format.h"
#include "lens_analyses.h"

namespace lumivex::cli {

namespace {

constexpr double kRadians = 3.141592653589793 / 180.0;

TDiffractionSampling samplingOf(const DiffractionOptions& options) {
    TDiffractionSampling sampling;
    sampling.pupilSamples = options.samples;
    sampling.fftSize = options.fftSize;
    if (sampling.fftSize != 0 && sampling.fftSize < 2 * sampling.pupilSamples)
        throw ToolError(kExitInput, "--fft must be at least twice --samples (" +
                                        std::to_string(2 * sampling.pupilSamples) + "), not " +
                                        std::to_string(sampling.fftSize));
    return sampling;
}

AnalysedPsfs lensPsfs(const DiffractionOptions& options) {
    const LoadedPrescription loaded = loadPrescription(options.file);
    const TPrescription lens = lensFor(loaded, options);
    const TDiffractionSampling sampling = samplingOf(options);
    TTraceOptions trace;
    trace.threads = options.threads;
    std::vector<TWavelength> spectrum;
    if (!std::isnan(options.wavelength)) spectrum.push_back({options.wavelength, 1.0});
    AnalysedPsfs a;
    a.name = loaded.source.name;
    a.unit = lens.unit;
    a.fieldHeader = fieldHeader(lens);
    std::vector<double> um, weights;
    for (const TWavelength& w : spectrum.empty() ? lens.wavelengths : spectrum) {
        um.push_back(w.um);
        weights.push_back(w.weight);
        if (!a.wavelengthWords.empty()) a.wavelengthWords += ", ";
        a.wavelengthWords += number(w.um);
        if (spectrum.empty() && lens.wavelengths.size() > 1) a.wavelengthWords += " (" + number(w.weight) + ")";
    }
    a.wavelengthWords += " um";
    if (spectrum.empty() && lens.wavelengths.size() > 1)
        a.wavelengthWords += " (weights), primary " + number(lens.primaryWavelength()) + " um";
    a.wavelengths = {{"wavelengthsUm", um}, {"weights", weights}};
    try {
        for (int k = 0; k < static_cast<int>(lens.fields.size()); ++k) {
            a.psfs.push_back(pointSpread(lens, k, options.imageZ, spectrum, sampling, trace));
            a.fieldLabels.push_back(fieldLabel(lens, k));
        }
    } catch (const xmsg& e) {
        throw ToolError(kExitFailure, failureSummary(e.message()));
    }
    return a;
}

}  // namespace

void addDiffractionOptions(CLI::App& command, DiffractionOptions& options, const std::string& csvHelp) {
    addAnalysisOptions(command, options, csvHelp);
    allow(command.add_option("--samples", options.samples, "Pupil samples across the diameter")
              ->capture_default_str(),
          Allowed::whole(2, 1024));
    allow(command.add_option("--fft", options.fftSize,
                             "FFT size, at least twice the samples (default: 4 x samples)"),
          Allowed::whole(4, 8192));
}

std::vector<TPsf> fieldPsfs(LoadedSystem& loaded, const DiffractionOptions& options) {
    TOpticalSystem& system = *loaded.system;
    TTraceOptions trace;
    trace.threads = options.threads;
    const TDiffractionSampling sampling = samplingOf(options);
    std::vector<TPsf> psfs;
    try {
        TCollimatedBeam beam;
        beam.wavelength = loaded.wavelength;
        beam = resolveFilledBeam(system, beam);
        // One image plane for every field: the axis's.
        const double z = std::isnan(options.imageZ) ? paraxialImageZ(system, beam) : options.imageZ;
        // No --fields: the axis alone.
        const std::vector<double> fields =
            options.fields.empty() ? std::vector<double>{0.0} : options.fields;
        for (double degrees : fields) {
            beam.fieldAngle = degrees * kRadians;
            psfs.push_back(pointSpread(system, beam, z, sampling, trace));
        }
    } catch (const xmsg& e) {
        throw ToolError(kExitFailure, failureSummary(e.message()));
    }
    return psfs;
}

AnalysedPsfs analysedPsfs(const DiffractionOptions& options) {
    if (isPrescriptionFile(options.file)) return lensPsfs(options);
    LoadedSystem loaded = loadSystem(options.file, options.wavelength);
    AnalysedPsfs a;
    a.name = loaded.source.name;
    a.unit = options.unit;
    a.wavelengthWords = number(loaded.wavelength);
    a.wavelengths = {{"wavelength", loaded.wavelength}};
    a.psfs = fieldPsfs(loaded, options);
    for (const TPsf& p : a.psfs) a.fieldLabels.push_back(number(p.fieldAngle / kRadians));
    return a;
}

}  // namespace lumivex::cli
