// SPDX-License-Identifier: Apache-2.0
#include "fan.h"

#include <CLI/CLI.hpp>

namespace lumivex::cli {

namespace {

constexpr double kPi = 3.141592653589793;

}  // namespace

void addFanOptions(CLI::App& command, FanOptions& options) {
    addRaysOption(command, options.rays, 1, "Number of rays in the fan");
    allow(command.add_option("--height", options.halfHeight,
                             "Half-height of the fan where it meets the first element "
                             "(default: 80% of that element's radius)"),
          Allowed::atLeast(0.0));
    allow(command
              .add_option("-a,--angle", options.angleDegrees,
                          "Field angle of the fan in the x-z plane, degrees")
              ->capture_default_str(),
          Allowed::between(-89.0, 89.0));
    addStartZOption(command, options.startZ,
                    "z of the plane the rays start in (default: a little in front of "
                    "the first element)");
    addWavelengthOption(command, options.wavelength,
                        "Wavelength in the description's length unit (default: 5.5e-4, 550 nm "
                        "in mm; for a .zmx file its primary wavelength)");
    command.add_option("-p,--polarization", options.polarization, "Polarization: x or y")
        ->capture_default_str()
        ->check(CLI::IsMember({"x", "y"}));
}

Fan resolveFan(const FanOptions& options, const TOpticalSystem& system, double wavelength) {
    // Given values were checked as the command line was read; NaN takes the
    // library's default.
    TCollimatedBeam beam;
    beam.wavelength = wavelength;
    beam.fieldAngle = options.angleDegrees * kPi / 180.0;
    beam.pupilRadius = options.halfHeight;
    beam.startZ = options.startZ;
    beam.polarization = options.polarization == "y" ? 'y' : 'x';
    beam = resolveBeam(system, beam);
    return {options.rays, beam.pupilRadius, beam.fieldAngle, beam.startZ, beam.wavelength,
            beam.polarization};
}

TCollimatedBeam collimatedBeam(const Fan& fan) {
    TCollimatedBeam beam;
    beam.wavelength = fan.wavelength;
    beam.fieldAngle = fan.angle;
    beam.pupilRadius = fan.halfHeight;
    beam.startZ = fan.startZ;
    beam.polarization = fan.polarization;
    return beam;
}

TRayBatch fanBatch(const Fan& fan, const TOpticalSystem& system) {
    return rayBatch(system, collimatedBeam(fan), meridionalFan(fan.halfHeight, fan.rays));
}

}  // namespace lumivex::cli
