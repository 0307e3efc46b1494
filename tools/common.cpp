#include "common.h"

#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

#include "builtin_example.h"

namespace lumivex::cli {

namespace {

constexpr double kPi = 3.141592653589793;

bool isBlank(const std::string& text) {
    return text.find_first_not_of(" \t\r\n\f\v") == std::string::npos;
}

}  // namespace

std::string readStopMessage(const std::string& name, const TReadReport& report) {
    return name + ":" + std::to_string(report.line) + ": " + describeStop(report);
}

Description loadDescription(const std::string& path) {
    Description description;
    if (path.empty()) {
        description.name = kBuiltinExampleName;
        description.text = kBuiltinExampleText;
        description.builtin = true;
        return description;
    }
    description.name = path;

    struct stat info;
    if (::stat(path.c_str(), &info) != 0)
        throw ToolError(kExitInput, "cannot open '" + path + "': " + std::strerror(errno));
    if (S_ISDIR(info.st_mode))
        throw ToolError(kExitInput, "cannot read '" + path + "': it is a directory");
    std::ifstream in(path, std::ios::binary);
    if (!in) throw ToolError(kExitInput, "cannot open '" + path + "': " + std::strerror(errno));
    description.text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad())
        throw ToolError(kExitInput, "cannot read '" + path + "': " + std::strerror(errno));
    if (isBlank(description.text)) throw ToolError(kExitInput, "'" + path + "' is empty");
    return description;
}

LoadedSystem readSystem(const std::string& path) {
    LoadedSystem loaded;
    loaded.source = loadDescription(path);
    loaded.system = std::make_unique<TOpticalSystem>(0.0);
    std::istringstream is(loaded.source.text);
    readDescription(is, *loaded.system, &loaded.report);
    return loaded;
}

LoadedSystem loadSystem(const std::string& path) {
    LoadedSystem loaded = readSystem(path);
    const std::string& name = loaded.source.name;
    if (loaded.report.stopped)
        throw ToolError(kExitInput, readStopMessage(name, loaded.report) +
                                        " (lumivex check shows the whole reading)");
    if (loaded.system->getSize() == 0)
        throw ToolError(kExitInput, "'" + name + "' holds no optical element");
    return loaded;
}

std::string elementKind(const TElement& e) {
    const TElementKind* kind = kindOf(e);
    return kind ? kind->name : "Element";
}

std::string elementParameters(const TElement& e) {
    const TElementKind* kind = kindOf(e);
    if (!kind) return "";
    std::string text;
    for (const TElementParameter& p : kind->parameters(e)) {
        const std::string value =
            p.value.imag() == 0.0
                ? number(p.value.real())
                : "(" + number(p.value.real()) + "," + number(p.value.imag()) + ")";
        text += (text.empty() ? "" : " ") + p.name + "=" + value;
    }
    return text;
}

bool isGradientIndex(const TElement& element) {
    const TElementKind* kind = kindOf(element);
    return kind && kind->gradientIndex;
}

std::string failureSummary(const std::string& message) {
    static const std::string driverContext = "TOpticalSystem::traceBeam: \n";
    std::string rest = message;
    if (rest.compare(0, driverContext.size(), driverContext) == 0)
        rest.erase(0, driverContext.size());
    std::size_t start = 0;
    while (start <= rest.size()) {
        std::size_t end = rest.find_first_of("\r\n", start);
        if (end == std::string::npos) end = rest.size();
        std::string line = rest.substr(start, end - start);
        const std::size_t first = line.find_first_not_of(" \t");
        if (first != std::string::npos) {
            const std::size_t last = line.find_last_not_of(" \t");
            return line.substr(first, last - first + 1);
        }
        start = end + 1;
    }
    return "failed";
}

void addFanOptions(CLI::App& command, FanOptions& options) {
    command.add_option("-n,--rays", options.rays, "Number of rays in the fan")
        ->capture_default_str()
        ->check(CLI::PositiveNumber);
    command.add_option("--height", options.halfHeight,
                       "Half-height of the fan where it meets the first element "
                       "(default: 80% of that element's radius)");
    command
        .add_option("-a,--angle", options.angleDegrees,
                    "Field angle of the fan in the x-z plane, degrees")
        ->capture_default_str()
        ->check(CLI::Range(-89.0, 89.0));
    command.add_option("--start-z", options.startZ,
                       "z of the plane the rays start in (default: a little in front of "
                       "the first element)");
    command
        .add_option("-w,--wavelength", options.wavelength,
                    "Wavelength in the description's length unit (5.5e-4 is 550 nm in mm)")
        ->capture_default_str()
        ->check(CLI::PositiveNumber);
    command.add_option("-p,--polarization", options.polarization, "Polarization: x or y")
        ->capture_default_str()
        ->check(CLI::IsMember({"x", "y"}));
}

Fan resolveFan(const FanOptions& options, const TOpticalSystem& system) {
    const TElement* first = system[0];
    const TElement* last = system.getLast();
    Fan fan;
    fan.rays = options.rays;
    fan.angle = options.angleDegrees * kPi / 180.0;
    fan.wavelength = options.wavelength;
    fan.polarization = options.polarization == "y" ? 'y' : 'x';

    const double radius = first->getRadius() > 0.0 ? first->getRadius() : 1.0;
    fan.halfHeight = std::isnan(options.halfHeight) ? 0.8 * radius : options.halfHeight;
    if (!std::isfinite(fan.halfHeight) || fan.halfHeight < 0.0)
        throw ToolError(kExitInput, "--height must be a finite number of at least 0");

    const double span = last->zPosition - first->zPosition;
    const double margin = 0.15 * std::max(span, 2.0 * radius);
    fan.startZ = std::isnan(options.startZ) ? first->zPosition - margin : options.startZ;
    if (!std::isfinite(fan.startZ)) throw ToolError(kExitInput, "--start-z must be finite");
    return fan;
}

TBeamNode fanStartNode(const Fan& fan, const TOpticalSystem& system, double h) {
    // Parallel rays aimed so that the fan is centred on the axis where it
    // meets the first element, whatever the field angle.
    const double s = std::sin(fan.angle);
    const double c = std::cos(fan.angle);
    const double x = h - (s / c) * (system[0]->zPosition - fan.startZ);
    const TVector k(s, 0.0, c);
    // The field stays perpendicular to the ray: in the x–z plane for x.
    const TVector e = fan.polarization == 'x' ? TVector(c, 0.0, -s) : TVector(0.0, 1.0, 0.0);
    return TBeamNode(TVector(x, 0.0, fan.startZ), k, 1.0, e, 0.0);
}

std::vector<double> fanHeights(const Fan& fan) {
    std::vector<double> heights;
    for (int i = 0; i < fan.rays; ++i)
        heights.push_back(
            fan.rays == 1 ? 0.0 : -fan.halfHeight + 2.0 * fan.halfHeight * i / (fan.rays - 1));
    return heights;
}

std::vector<TracedRay> traceEach(TOpticalSystem& system, const std::vector<TBeam>& beams,
                                 Progress* progress) {
    system.initOptRadius();
    std::vector<TracedRay> traced;
    traced.reserve(beams.size());
    for (const TBeam& start : beams) {
        traced.emplace_back(start);
        TracedRay& ray = traced.back();
        try {
            system.traceBeam(ray.beam);
            ray.status = "ok";
        } catch (const xmsg& e) {
            ray.ok = false;
            ray.message = e.message();
            ray.status = failureSummary(ray.message);
        }
        if (progress) progress->advance();
    }
    if (progress) progress->finish();
    return traced;
}

std::vector<TracedRay> traceFan(TOpticalSystem& system, const Fan& fan, Progress* progress) {
    std::vector<TBeam> beams;
    for (double h : fanHeights(fan)) {
        TBeam beam(fan.wavelength);
        beam.addNode(fanStartNode(fan, system, h));
        beams.push_back(std::move(beam));
    }
    return traceEach(system, beams, progress);
}

TVector positionAtZ(const TBeam& beam, double z) {
    const int n = beam.getSize();
    if (n == 0) return TVector();
    auto extend = [z](const TBeamNode& node) {
        if (node.kVector.z == 0.0) return node.position;
        return node.position + node.kVector * ((z - node.position.z) / node.kVector.z);
    };
    const TBeamNode first = beam[0];
    if (n == 1 || z < first.position.z) return extend(first);
    TVector a = first.position;
    for (int i = 1; i < n; ++i) {
        const TVector b = beam[i].position;
        if (b.z != a.z && ((a.z <= z && z <= b.z) || (b.z <= z && z <= a.z)))
            return a + (b - a) * ((z - a.z) / (b.z - a.z));
        a = b;
    }
    return extend(beam.getLast());
}

ParaxialFocus paraxialFocus(TOpticalSystem& system, const Fan& fan) {
    ParaxialFocus focus;
    const double eps = 1e-3 * (fan.halfHeight > 0.0 ? fan.halfHeight : 1.0);
    TBeamNode exits[2];
    for (int i = 0; i < 2; ++i) {
        TBeam beam(fan.wavelength);
        beam.addNode(fanStartNode(fan, system, i == 0 ? -eps : eps));
        try {
            system.traceBeam(beam);
        } catch (const xmsg& e) {
            focus.failure = "a near-axis ray fails: " + failureSummary(e.message());
            return focus;
        }
        exits[i] = beam.getLast();
        if (!(exits[i].kVector.z > 0.0)) {
            focus.failure = "a near-axis ray does not leave towards +z";
            return focus;
        }
    }
    const TVector& p1 = exits[0].position;
    const TVector& p2 = exits[1].position;
    const double s1 = exits[0].kVector.x / exits[0].kVector.z;
    const double s2 = exits[1].kVector.x / exits[1].kVector.z;
    // x1 + (z − z1)·s1 = x2 + (z − z2)·s2
    const double z = (p2.x - p1.x + p1.z * s1 - p2.z * s2) / (s1 - s2);
    const TElement* firstElement = system[0];
    const TElement* lastElement = system.getLast();
    const double scale = std::max({std::fabs(lastElement->zPosition - firstElement->zPosition),
                                   lastElement->getRadius(), 1.0});
    focus.found = true;
    // Beyond ten thousand system lengths the difference of the exit slopes
    // is the integration's rounding rather than optical power.
    if (!std::isfinite(z) || std::fabs(z - lastElement->zPosition) > 1e4 * scale) {
        focus.atInfinity = true;
        return focus;
    }
    focus.z = z;
    focus.x = p1.x + (z - p1.z) * s1;
    focus.isVirtual = z < std::max(p1.z, p2.z);
    return focus;
}

Spot spotAt(const std::vector<TracedRay>& rays, double z) {
    Spot spot;
    spot.z = z;
    std::vector<TVector> points;
    for (const TracedRay& ray : rays)
        if (ray.ok) points.push_back(positionAtZ(ray.beam, z));
    spot.rays = static_cast<int>(points.size());
    if (points.empty()) return spot;
    for (const TVector& p : points) {
        spot.centroidX += p.x;
        spot.centroidY += p.y;
    }
    spot.centroidX /= spot.rays;
    spot.centroidY /= spot.rays;
    double sum = 0.0;
    for (const TVector& p : points) {
        const double dx = p.x - spot.centroidX;
        const double dy = p.y - spot.centroidY;
        sum += dx * dx + dy * dy;
    }
    spot.rms = std::sqrt(sum / spot.rays);
    return spot;
}

std::string format(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    std::string text(n > 0 ? static_cast<std::size_t>(n) : 0, '\0');
    if (n > 0) std::vsnprintf(&text[0], text.size() + 1, fmt, args);
    va_end(args);
    return text;
}

std::string number(double value, int digits) {
    if (value == 0.0) value = 0.0;  // no "-0"
    return format("%.*g", digits, value);
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    if (!out) throw ToolError(kExitInput, "cannot write '" + path + "': " + std::strerror(errno));
    out << text;
    out.close();
    if (!out) throw ToolError(kExitFailure, "cannot write '" + path + "': " + std::strerror(errno));
}

Progress::Progress(std::string label_, int total_)
    : label(std::move(label_)),
      total(total_),
      enabled(::isatty(STDERR_FILENO) == 1),
      start(std::chrono::steady_clock::now()),
      lastDraw(start) {}

Progress::~Progress() { finish(); }

void Progress::advance() {
    ++done;
    if (!enabled) return;
    const auto now = std::chrono::steady_clock::now();
    // Quick work draws nothing; long work redraws about ten times a second.
    if (!shown && now - start < std::chrono::milliseconds(300)) return;
    if (shown && now - lastDraw < std::chrono::milliseconds(100) && done < total) return;
    lastDraw = now;
    draw();
}

void Progress::draw() {
    constexpr int width = 30;
    const int filled = total > 0 ? width * done / total : width;
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.append(static_cast<std::size_t>(width - filled), '.');
    std::cerr << '\r' << label << " [" << bar << "] " << done << '/' << total << std::flush;
    shown = true;
}

void Progress::finish() {
    if (shown) std::cerr << "\r\033[K" << std::flush;
    shown = false;
}

}  // namespace lumivex::cli
