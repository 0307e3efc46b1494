#include "diffraction.h"

#include <CLI/CLI.hpp>
#include <cmath>

namespace lumivex::cli {

namespace {
constexpr double kRadians = 3.141592653589793 / 180.0;
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
    TDiffractionSampling sampling;
    sampling.pupilSamples = options.samples;
    sampling.fftSize = options.fftSize;
    if (sampling.fftSize != 0 && sampling.fftSize < 2 * sampling.pupilSamples)
        throw ToolError(kExitInput, "--fft must be at least twice --samples (" +
                                        std::to_string(2 * sampling.pupilSamples) + "), not " +
                                        std::to_string(sampling.fftSize));
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

}  // namespace lumivex::cli
