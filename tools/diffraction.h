// SPDX-License-Identifier: Apache-2.0
// What the psf and mtf commands share: their options and the PSF of every
// field they ask for.
#ifndef LUMIVEX_TOOLS_DIFFRACTION_H
#define LUMIVEX_TOOLS_DIFFRACTION_H

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "load.h"
#include "lumivex/lumivex.h"
#include "options.h"

namespace CLI {
class App;
}

namespace lumivex::cli {

struct DiffractionOptions : AnalysisOptions {
    explicit DiffractionOptions(std::string figure) : AnalysisOptions(std::move(figure)) {}
    int samples = 64;  // across the pupil
    int fftSize = 0;   // 0: 4 × samples
};
// The analysis options, --samples and --fft.
void addDiffractionOptions(CLI::App& command, DiffractionOptions& options, const std::string& csvHelp);

// The PSF of each field in one image plane (the axis's paraxial focus unless
// --image-z), the pupil filling the first element; a ToolError when the
// analysis fails.
std::vector<TPsf> fieldPsfs(LoadedSystem& loaded, const DiffractionOptions& options);

// The PSFs a psf or mtf command reads, with what labels them: from a
// description, its fieldPsfs; from a prescription (a .zmx or .json file),
// those of its fields at its wavelengths with their weights (-w in µm: that
// one), its aperture and its image plane, --fields, --pupil and --f-number
// over them.
struct AnalysedPsfs {
    std::string name;  // the file's
    std::string unit;  // of the lengths
    std::string fieldHeader = "field deg";
    std::vector<std::string> fieldLabels;  // one per PSF
    std::string wavelengthWords;           // for the text's heading
    nlohmann::json wavelengths;            // members merged into the JSON's top level
    std::vector<TPsf> psfs;
};
AnalysedPsfs analysedPsfs(const DiffractionOptions& options);

}  // namespace lumivex::cli

#endif
