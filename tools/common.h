// What the subcommands share: loading a description, the fan of rays they
// trace, the figures of merit computed from a traced fan, number formatting
// and the progress bar.
#ifndef LUMIVEX_TOOLS_COMMON_H
#define LUMIVEX_TOOLS_COMMON_H

#include <chrono>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "lumivex/lumivex.h"

namespace CLI {
class App;
}

namespace lumivex::cli {

// Exit statuses.
constexpr int kExitFailure = 1;  // the work itself failed
constexpr int kExitInput = 2;    // a file or the command line is unusable

// An error reported in one line on standard error before the tool exits
// with `status`.
class ToolError : public std::runtime_error {
public:
    ToolError(int status, const std::string& message)
        : std::runtime_error(message), exitStatus(status) {}
    int status() const { return exitStatus; }

private:
    int exitStatus;
};

// A description's text and the name it is reported under.
struct Description {
    std::string name;
    std::string text;
    bool builtin = false;
};

// The text of the named file, or the built-in example for an empty path.
// A file that does not exist or cannot be read is a ToolError naming it.
Description loadDescription(const std::string& path);

struct LoadedSystem {
    Description source;
    TReadReport report;
    std::unique_ptr<TOpticalSystem> system;
};

// Reads the description with the library, keeping its report.
LoadedSystem readSystem(const std::string& path);
// describeStop's words after "FILE:LINE: ".
std::string readStopMessage(const std::string& name, const TReadReport& report);
// As readSystem, but a description that holds no element or whose reading
// stopped early is a ToolError: the tracing commands need a whole system.
LoadedSystem loadSystem(const std::string& path);

// The kind of an element as its class says ("Slab", "Lens", "GrinRod", ...).
std::string elementKind(const TElement& element);
// Its parameters in a short line, "n=1.5 R=-10 k=-2.25".
std::string elementParameters(const TElement& element);
// Whether the medium in front of the element (between it and the element
// before) is a gradient-index one.
bool isGradientIndex(const TElement& element);

// The meaningful first line of a failure message: the trace driver's
// context line and blank lines are dropped.
std::string failureSummary(const std::string& message);

// The fan of parallel rays the trace and draw commands send in, in the x–z
// plane, as given on the command line (NaN: not given).
struct FanOptions {
    int rays = 11;
    double halfHeight = std::numeric_limits<double>::quiet_NaN();
    double angleDegrees = 0.0;
    double startZ = std::numeric_limits<double>::quiet_NaN();
    double wavelength = 5.5e-4;
    std::string polarization = "x";
};
void addFanOptions(CLI::App& command, FanOptions& options);

// The fan with every default filled in from the system.
struct Fan {
    int rays;
    double halfHeight;  // where the fan meets the first element
    double angle;       // radians, in the x–z plane
    double startZ;
    double wavelength;
    char polarization;  // 'x' or 'y'
};
Fan resolveFan(const FanOptions& options, const TOpticalSystem& system);
// The start node of a ray of the fan crossing the first element at height h.
TBeamNode fanStartNode(const Fan& fan, const TOpticalSystem& system, double h);
// The heights of the fan's rays at the first element, from −h to +h.
std::vector<double> fanHeights(const Fan& fan);

struct TracedRay {
    TBeam beam;
    bool ok = true;
    std::string message;  // the whole failure message
    std::string status;   // "ok" or failureSummary(message)
    explicit TracedRay(const TBeam& start) : beam(start) {}
};

class Progress;

// Traces every beam on its own, so one failing ray does not stop the rest.
// Resets the traced radii first, as TOpticalSystem::traceBeamFan does.
std::vector<TracedRay> traceEach(TOpticalSystem& system, const std::vector<TBeam>& beams,
                                 Progress* progress);
std::vector<TracedRay> traceFan(TOpticalSystem& system, const Fan& fan, Progress* progress);

// The point of a traced ray in the plane z: on the segment that crosses it,
// or on the straight continuation of the first or last segment.
TVector positionAtZ(const TBeam& beam, double z);

// Where the near-axis rays of the fan cross after the system: two rays a
// hair above and below the fan's centre, and the meeting point of their
// exit lines in the x–z plane.
struct ParaxialFocus {
    bool found = false;
    bool atInfinity = false;  // the exit rays are parallel
    bool isVirtual = false;   // the crossing lies before the rays' exit points
    double z = 0.0;
    double x = 0.0;
    std::string failure;
};
ParaxialFocus paraxialFocus(TOpticalSystem& system, const Fan& fan);

// The RMS radius of the traced rays about their centroid in the plane z.
struct Spot {
    double z = 0.0;
    int rays = 0;
    double rms = 0.0;
    double centroidX = 0.0;
    double centroidY = 0.0;
};
Spot spotAt(const std::vector<TracedRay>& rays, double z);

// printf-style formatting into a string.
std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// A number in %.*g, as a person reads it.
std::string number(double value, int digits = 6);

// Writes text to a file, or throws a ToolError naming it.
void writeFile(const std::string& path, const std::string& text);

// A progress bar on standard error, drawn only when standard error is a
// terminal and only once the work has taken long enough to be worth it.
class Progress {
public:
    Progress(std::string label, int total);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    void advance();
    void finish();

private:
    void draw();

    std::string label;
    int total;
    int done = 0;
    bool enabled;
    bool shown = false;
    std::chrono::steady_clock::time_point start;
    std::chrono::steady_clock::time_point lastDraw;
};

}  // namespace lumivex::cli

#endif
