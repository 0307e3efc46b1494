// SPDX-License-Identifier: Apache-2.0
// The lumivex tool run as a user runs it: its tables against traces made
// here through the library, its pictures as XML, its reports of bad files.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "lumivex/lumivex.h"
#include "lumivex/results.h"

using namespace lumivex;
using nlohmann::json;

namespace {

const std::string kTool = LUMIVEX_CLI;
const std::string kExamples = LUMIVEX_EXAMPLES_DIR;
const std::string kData = LUMIVEX_TEST_DATA_DIR;

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

class CliTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/lumivex_cli_XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { std::system(("rm -rf " + quote(dir)).c_str()); }

    Outcome run(const std::vector<std::string>& args) {
        std::string command = quote(kTool);
        for (const std::string& a : args) command += " " + quote(a);
        const std::string out = dir + "/stdout", err = dir + "/stderr";
        command += " >" + quote(out) + " 2>" + quote(err) + " </dev/null";
        Outcome r;
        const int raw = std::system(command.c_str());
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        r.out = readText(out);
        r.err = readText(err);
        return r;
    }
    std::string path(const std::string& name) const { return dir + "/" + name; }

    std::string dir;
};

std::unique_ptr<TOpticalSystem> readSystem(const std::string& file) {
    auto system = std::make_unique<TOpticalSystem>(0.0);
    std::ifstream in(file);
    in >> *system;
    return system;
}

// Traces one ray from a start point of the tool's fan, here, through the
// library itself.
TBeam traceHere(TOpticalSystem& system, const json& fan, double startX) {
    const double a = fan["fieldAngleDegrees"].get<double>() * 3.141592653589793 / 180.0;
    TBeam beam(fan["wavelength"].get<double>());
    const TVector k(std::sin(a), 0.0, std::cos(a));
    const TVector e = fan["polarization"] == "x" ? TVector(std::cos(a), 0.0, -std::sin(a))
                                                 : TVector(0.0, 1.0, 0.0);
    beam.addNode(TBeamNode(TVector(startX, 0.0, fan["startZ"].get<double>()), k, 1.0, e, 0.0));
    try {
        system.traceBeam(beam);
    } catch (const xmsg&) {
    }
    return beam;
}

std::vector<std::string> descriptions() {
    return {"", kExamples + "/singlet.txt", kExamples + "/grin_relay.txt",
            kExamples + "/folded_conic.txt", kData + "/grin_cutoff.txt"};
}

std::vector<std::string> withFile(std::vector<std::string> args, const std::string& file) {
    if (!file.empty()) args.push_back(file);
    return args;
}

// A well-formedness check of the XML the tool writes: nested, closed tags,
// quoted attributes, known entities. Collects every element's name and
// attributes.
struct XmlElement {
    std::string name;
    std::map<std::string, std::string> attributes;
};

bool parseXml(const std::string& text, std::vector<XmlElement>& elements, std::string& error) {
    std::vector<std::string> open;
    std::size_t i = 0;
    auto fail = [&](const std::string& why) {
        error = why + " at offset " + std::to_string(i);
        return false;
    };
    auto entitiesOk = [](const std::string& s) {
        for (std::size_t p = s.find('&'); p != std::string::npos; p = s.find('&', p + 1)) {
            static const char* known[] = {"&amp;", "&lt;", "&gt;", "&quot;", "&apos;"};
            bool ok = false;
            for (const char* k : known) ok = ok || s.compare(p, std::strlen(k), k) == 0;
            if (!ok) return false;
        }
        return s.find('<') == std::string::npos;
    };
    bool rootSeen = false;
    while (i < text.size()) {
        const std::size_t lt = text.find('<', i);
        const std::string chars = text.substr(i, lt == std::string::npos ? lt : lt - i);
        if (!entitiesOk(chars)) return fail("bad character data");
        if (open.empty() && chars.find_first_not_of(" \t\r\n") != std::string::npos)
            return fail("text outside the root");
        if (lt == std::string::npos) break;
        i = lt;
        if (text.compare(i, 5, "<?xml") == 0) {
            const std::size_t end = text.find("?>", i);
            if (end == std::string::npos || i != 0) return fail("bad declaration");
            i = end + 2;
            continue;
        }
        if (text.compare(i, 2, "</") == 0) {
            const std::size_t end = text.find('>', i);
            if (end == std::string::npos) return fail("unclosed end tag");
            const std::string name = text.substr(i + 2, end - i - 2);
            if (open.empty() || open.back() != name) return fail("mismatched </" + name + ">");
            open.pop_back();
            i = end + 1;
            continue;
        }
        if (open.empty() && rootSeen) return fail("second root element");
        ++i;
        XmlElement element;
        while (i < text.size() && (std::isalnum(static_cast<unsigned char>(text[i])) ||
                                   text[i] == '-' || text[i] == ':' || text[i] == '_'))
            element.name += text[i++];
        if (element.name.empty()) return fail("missing tag name");
        for (;;) {
            while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
            if (i >= text.size()) return fail("unclosed tag");
            if (text.compare(i, 2, "/>") == 0) {
                i += 2;
                break;
            }
            if (text[i] == '>') {
                ++i;
                open.push_back(element.name);
                break;
            }
            std::string attribute;
            while (i < text.size() && text[i] != '=' &&
                   !std::isspace(static_cast<unsigned char>(text[i])))
                attribute += text[i++];
            if (attribute.empty() || i + 1 >= text.size() || text[i] != '=' || text[i + 1] != '"')
                return fail("unquoted attribute " + attribute);
            const std::size_t end = text.find('"', i + 2);
            if (end == std::string::npos) return fail("unterminated attribute");
            const std::string value = text.substr(i + 2, end - i - 2);
            if (!entitiesOk(value)) return fail("bad attribute value");
            if (element.attributes.count(attribute)) return fail("repeated attribute");
            element.attributes[attribute] = value;
            i = end + 1;
        }
        rootSeen = true;
        elements.push_back(element);
    }
    if (!open.empty()) return fail("unclosed <" + open.back() + ">");
    return rootSeen ? true : fail("no root element");
}

int countClass(const std::vector<XmlElement>& elements, const std::string& name,
               const std::string& cls) {
    int n = 0;
    for (const XmlElement& e : elements)
        if (e.name == name && e.attributes.count("class") && e.attributes.at("class") == cls) ++n;
    return n;
}

}  // namespace

TEST_F(CliTest, TraceJsonAndCsvMatchTracesThroughTheLibrary) {
    for (const std::string& file : descriptions()) {
        SCOPED_TRACE(file.empty() ? "built-in example" : file);
        const Outcome r =
            run(withFile({"trace", "--json", "-n", "9", "--csv", path("rays.csv")}, file));
        ASSERT_EQ(r.status, 0) << r.err;
        const json report = json::parse(r.out);
        std::unique_ptr<TOpticalSystem> system = file.empty() ? nullptr : readSystem(file);
        if (!system) {
            // The built-in example, as the tool writes it back.
            const Outcome w = run({"check", "--write", "--precision", "17"});
            ASSERT_EQ(w.status, 0);
            system = std::make_unique<TOpticalSystem>(0.0);
            std::istringstream in(w.out);
            in >> *system;
        }
        ASSERT_EQ(report["rays"].size(), 9u);
        ASSERT_EQ(report["elements"].size(), static_cast<std::size_t>(system->getSize()));
        const std::string csv = readText(path("rays.csv"));
        std::istringstream csvLines(csv);
        std::string line;
        std::getline(csvLines, line);
        EXPECT_EQ(line,
                  "ray,start_x,exit_x,exit_y,exit_z,dir_x,dir_y,dir_z,intensity,phase,status");
        for (const json& row : report["rays"]) {
            const TBeam beam = traceHere(*system, report["fan"], row["startX"].get<double>());
            const TBeamNode& exit = beam.getLast();
            EXPECT_EQ(row["nodes"].get<int>(), beam.getSize());
            EXPECT_DOUBLE_EQ(row["exit"]["x"].get<double>(), exit.position.x);
            EXPECT_DOUBLE_EQ(row["exit"]["z"].get<double>(), exit.position.z);
            EXPECT_DOUBLE_EQ(row["direction"]["x"].get<double>(), exit.kVector.x);
            EXPECT_DOUBLE_EQ(row["direction"]["z"].get<double>(), exit.kVector.z);
            EXPECT_DOUBLE_EQ(row["intensity"].get<double>(), exit.intensity);
            EXPECT_DOUBLE_EQ(row["phase"].get<double>(), exit.opticalPath);

            ASSERT_TRUE(std::getline(csvLines, line));
            std::vector<std::string> cells;
            std::stringstream cellStream(line);
            for (std::string cell; std::getline(cellStream, cell, ',');) cells.push_back(cell);
            ASSERT_GE(cells.size(), 11u);
            EXPECT_DOUBLE_EQ(std::stod(cells[2]), exit.position.x);
            EXPECT_DOUBLE_EQ(std::stod(cells[8]), exit.intensity);
            EXPECT_DOUBLE_EQ(std::stod(cells[9]), exit.opticalPath);
            EXPECT_EQ(cells[10], row["status"].get<std::string>());
        }
    }
}

TEST_F(CliTest, TraceTableRowsMatchTheJsonToThePrintedDigits) {
    const std::string file = kExamples + "/singlet.txt";
    const Outcome text = run({"trace", "-n", "5", "--angle", "2", file});
    const Outcome js = run({"trace", "-n", "5", "--angle", "2", "--json", file});
    ASSERT_EQ(text.status, 0) << text.err;
    const json report = json::parse(js.out);
    std::istringstream lines(text.out);
    std::string line;
    while (std::getline(lines, line) && line.find("start x") == std::string::npos) {
    }
    for (const json& row : report["rays"]) {
        ASSERT_TRUE(std::getline(lines, line));
        std::istringstream cells(line);
        int index;
        double startX, x, y, z, kx, ky, kz, intensity, phase;
        std::string status;
        cells >> index >> startX >> x >> y >> z >> kx >> ky >> kz >> intensity >> phase >> status;
        EXPECT_NEAR(startX, row["startX"].get<double>(), 5e-7);
        EXPECT_NEAR(x, row["exit"]["x"].get<double>(), 5e-7);
        EXPECT_NEAR(z, row["exit"]["z"].get<double>(), 5e-7);
        EXPECT_NEAR(kx, row["direction"]["x"].get<double>(), 5e-7);
        EXPECT_NEAR(intensity, row["intensity"].get<double>(), 5e-7);
        EXPECT_NEAR(phase, row["phase"].get<double>(), 5e-4);
        EXPECT_EQ(status, "ok");
    }
}

TEST_F(CliTest, ParaxialFocusAgreesWithFirstOrderOptics) {
    // The singlet's hyperbolic face focuses collimated light at its vertex
    // plus the vertex length: 5 + 50.
    Outcome r = run({"trace", "--json", kExamples + "/singlet.txt"});
    ASSERT_EQ(r.status, 0) << r.err;
    json report = json::parse(r.out);
    EXPECT_NEAR(report["paraxialFocus"]["z"].get<double>(), 55.0, 1e-6);

    // Built-in example: the singlet focuses at z = 25; the rod (n0 1.6,
    // g 0.08, length L from its entrance face at 35) images that point,
    // d = 10 in front of it, to d' behind it by the rod's ABCD matrix.
    r = run({"trace", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    report = json::parse(r.out);
    const double n0 = 1.6, g = 0.08, d = 10.0, exitZ = report["elements"][3]["z"].get<double>();
    const double gl = g * (exitZ - 35.0);
    const double image =
        (d * std::cos(gl) + std::sin(gl) / (n0 * g)) / (n0 * g * d * std::sin(gl) - std::cos(gl));
    EXPECT_NEAR(report["paraxialFocus"]["z"].get<double>(), exitZ + image, 1e-4);
    EXPECT_NEAR(report["paraxialFocus"]["x"].get<double>(), 0.0, 1e-9);
    for (const json& row : report["rays"]) EXPECT_EQ(row["status"], "ok");

    // A half-pitch rod is afocal.
    r = run({"trace", "--json", kExamples + "/grin_relay.txt"});
    EXPECT_TRUE(json::parse(r.out)["paraxialFocus"].is_null());
}

TEST_F(CliTest, SpotRadiusIsTheRmsOfTheRaysInTheImagePlane) {
    const Outcome r =
        run({"trace", "--json", "-n", "7", "--image-z", "50", kExamples + "/singlet.txt"});
    ASSERT_EQ(r.status, 0) << r.err;
    const json report = json::parse(r.out);
    // Rays leave the lens converging to (0, 0, 55): at z = 50 each lies a
    // tenth of its way in from the lens, straight on.
    double sum = 0.0;
    for (const json& row : report["rays"]) {
        const double x = row["exit"]["x"].get<double>() + (50.0 - row["exit"]["z"].get<double>()) *
                                                              row["direction"]["x"].get<double>() /
                                                              row["direction"]["z"].get<double>();
        sum += x * x;
    }
    EXPECT_NEAR(report["spot"]["rmsRadius"].get<double>(), std::sqrt(sum / 7.0), 1e-12);
    EXPECT_EQ(report["spot"]["rays"].get<int>(), 7);
}

TEST_F(CliTest, FailedRaysReportTheirFirstMeaningfulLineAndTheOthersGoOn) {
    // Beyond r = 1/g the rod's index is not real: the outermost rays fail
    // where they enter it.
    const Outcome r = run({"trace", "--json", "-n", "11", kData + "/grin_cutoff.txt"});
    ASSERT_EQ(r.status, 0) << r.err;
    const json report = json::parse(r.out);
    EXPECT_EQ(report["rays"][0]["status"], "Could not compute new k-Vector!");
    EXPECT_EQ(report["rays"][10]["status"], "Could not compute new k-Vector!");
    EXPECT_EQ(report["rays"][0]["message"].get<std::string>().rfind(
                  "TOpticalSystem::traceBeam: \nCould not compute new k-Vector!\n", 0),
              0u);
    EXPECT_EQ(report["rays"][5]["status"], "ok");
    EXPECT_TRUE(report["rays"][5]["ok"].get<bool>());

    const Outcome draw =
        run({"draw", "-n", "11", "-o", path("cutoff.svg"), kData + "/grin_cutoff.txt"});
    ASSERT_EQ(draw.status, 0) << draw.err;
    std::vector<XmlElement> elements;
    std::string error;
    ASSERT_TRUE(parseXml(readText(path("cutoff.svg")), elements, error)) << error;
    EXPECT_EQ(countClass(elements, "polyline", "ray"), 11);
}

TEST_F(CliTest, DrawWritesWellFormedSvgWithOnePathPerElementAndOnePolylinePerRay) {
    for (const std::string& file : descriptions()) {
        SCOPED_TRACE(file.empty() ? "built-in example" : file);
        const Outcome r = run(withFile({"draw", "-n", "7", "-o", path("layout.svg")}, file));
        ASSERT_EQ(r.status, 0) << r.err;
        std::vector<XmlElement> elements;
        std::string error;
        ASSERT_TRUE(parseXml(readText(path("layout.svg")), elements, error)) << error;
        ASSERT_FALSE(elements.empty());
        EXPECT_EQ(elements[0].name, "svg");
        const int count = file.empty() ? 4 : readSystem(file)->getSize();
        int paths = 0, polylines = 0;
        for (const XmlElement& e : elements) {
            paths += e.name == "path";
            polylines += e.name == "polyline";
        }
        EXPECT_EQ(paths, count);
        EXPECT_EQ(countClass(elements, "path", "element"), count);
        EXPECT_EQ(polylines, 7);
        EXPECT_EQ(countClass(elements, "polyline", "ray"), 7);
    }
}

TEST_F(CliTest, CheckReportsTheLineAndWordOfABrokenRecord) {
    const Outcome r = run({"check", kData + "/broken_record.txt"});
    EXPECT_EQ(r.status, 1);
    // The slab and the lens as far as it was read; the rod is never reached.
    EXPECT_NE(r.out.find("line 3: element 1: Slab"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("line 5: element 2: Lens"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("element 3"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("line 4: skipped \"note:\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("line 5: reading stopped at word \"one\", which is not the second "
                         "index of the Lens record"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.err.find("broken_record.txt:5:"), std::string::npos) << r.err;

    const Outcome cut = run({"check", kData + "/cut_short.txt"});
    EXPECT_EQ(cut.status, 1);
    EXPECT_NE(cut.out.find("line 4: the text ends where the g of the GrinRod record should be"),
              std::string::npos)
        << cut.out;
    EXPECT_NE(cut.out.find("it has 2 of 5 values"), std::string::npos) << cut.out;

    // The tracing commands refuse such a file with the same place.
    const Outcome trace = run({"trace", kData + "/broken_record.txt"});
    EXPECT_EQ(trace.status, 2);
    EXPECT_NE(trace.err.find("broken_record.txt:5:12: reading stopped at word \"one\""),
              std::string::npos)
        << trace.err;
}

TEST_F(CliTest, CheckWriteGivesTheLibrarysNormalisedDescription) {
    const std::string file = kExamples + "/folded_conic.txt";
    const Outcome r = run({"check", "--write", file});
    ASSERT_EQ(r.status, 0) << r.err;
    std::ostringstream expected;
    expected << *readSystem(file);
    EXPECT_EQ(r.out, expected.str());
    EXPECT_NE(r.err.find("Read 2 elements"), std::string::npos);
}

TEST_F(CliTest, UnusableFilesAreReportedInOneLineWithStatus2) {
    std::ofstream(path("empty.txt")).close();
    const std::string missing = path("no_such_file.txt");
    const std::vector<std::pair<std::string, std::string>> cases = {
        {missing, "cannot open '" + missing + "': No such file or directory"},
        {path("empty.txt"), "'" + path("empty.txt") + "' is empty"},
        {dir, "cannot read '" + dir + "': it is a directory"},
        {kData + "/no_element.txt", "'" + kData + "/no_element.txt' holds no optical element"}};
    for (const char* command : {"trace", "draw", "field", "check", "spot", "fan", "psf", "mtf"}) {
        for (const auto& [file, message] : cases) {
            SCOPED_TRACE(std::string(command) + " " + file);
            const Outcome r = run({command, file});
            EXPECT_EQ(r.status, 2);
            EXPECT_EQ(r.err, "lumivex: " + message + "\n");
        }
    }
}

TEST_F(CliTest, FieldKeepsThePowerTheRaysCarry) {
    const Outcome trace = run({"trace", "--json", "-n", "1"});
    const double axial = json::parse(trace.out)["rays"][0]["intensity"].get<double>();
    const Outcome r = run({"field", "-o", path("field.csv"), "--svg", path("field.svg")});
    ASSERT_EQ(r.status, 0) << r.err;
    std::istringstream lines(readText(path("field.csv")));
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line, "x_in,amplitude_in,phase_in,x_out,amplitude_out,phase_out");
    double powerIn = 0.0, powerOut = 0.0, dxIn = 0.0, dxOut = 0.0, lastIn = NAN, lastOut = NAN;
    int rows = 0;
    while (std::getline(lines, line)) {
        double v[6];
        char comma;
        std::istringstream cells(line);
        cells >> v[0] >> comma >> v[1] >> comma >> v[2] >> comma >> v[3] >> comma >> v[4] >>
            comma >> v[5];
        ASSERT_FALSE(cells.fail()) << line;
        powerIn += v[1] * v[1];
        powerOut += v[4] * v[4];
        if (!std::isnan(lastIn)) dxIn = v[0] - lastIn;
        if (!std::isnan(lastOut)) dxOut = v[3] - lastOut;
        lastIn = v[0];
        lastOut = v[3];
        ++rows;
    }
    EXPECT_EQ(rows, 201);
    // Power in the output row is the input's times the transmittance of the
    // surfaces (nearly that of the axial ray for this slow beam).
    EXPECT_NEAR(powerOut * dxOut / (powerIn * dxIn), axial, 0.02 * axial);

    std::vector<XmlElement> elements;
    std::string error;
    EXPECT_TRUE(parseXml(readText(path("field.svg")), elements, error)) << error;
}

TEST_F(CliTest, EveryCommandHasHelp) {
    for (const char* command : {"trace", "draw", "field", "check", "spot", "fan", "psf", "mtf",
                                "optimize", "colour", "field-curves", "couple"}) {
        const Outcome r = run({command, "--help"});
        EXPECT_EQ(r.status, 0) << command;
        EXPECT_NE(r.out.find("Usage: lumivex " + std::string(command)), std::string::npos) << r.out;
    }
    EXPECT_EQ(run({"trace", "--rays", "zero"}).status, 2);
}

TEST_F(CliTest, NumericOptionsAreRefusedInWordsInOneLine) {
    struct Case {
        std::string command, option;
        std::vector<std::string> refused;
    };
    const std::vector<Case> cases = {// Counts.
                                     {"trace", "--rays", {"nan", "inf", "0", "-1", "2.5", "1e400"}},
                                     {"field", "--samples", {"nan", "inf", "2", "-1"}},
                                     {"check", "--precision", {"nan", "0", "18", "-1"}},
                                     {"draw", "--threads", {"nan", "-1", "1.5"}},
                                     // Lengths.
                                     {"trace", "--wavelength", {"nan", "inf", "0", "-1"}},
                                     {"field", "--waist", {"nan", "inf", "0", "-1"}},
                                     {"draw", "--width", {"nan", "inf", "199", "-1"}},
                                     {"trace", "--height", {"nan", "inf", "-1"}},
                                     // Planes.
                                     {"trace", "--start-z", {"nan", "inf", "-inf"}},
                                     {"trace", "--image-z", {"nan", "-inf"}},
                                     {"field", "--out-z", {"nan", "inf"}},
                                     // Angles.
                                     {"trace", "--angle", {"nan", "inf", "90", "-90"}},
                                     {"field", "--tilt", {"nan", "-inf", "89.5"}}};
    for (const Case& c : cases)
        for (const std::string& value : c.refused) {
            SCOPED_TRACE(c.command + " " + c.option + "=" + value);
            const Outcome r = run({c.command, c.option + "=" + value});
            EXPECT_EQ(r.status, 2);
            EXPECT_EQ(r.out, "");
            EXPECT_EQ(r.err.rfind("lumivex: " + c.option + " must be ", 0), 0u) << r.err;
            EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
            EXPECT_NE(r.err.find(", not " + value + "\n"), std::string::npos) << r.err;
            int digits = 0, longest = 0;
            for (char ch : r.err)
                longest = std::max(longest, digits = std::isdigit(ch) ? digits + 1 : 0);
            EXPECT_LE(longest, 10) << r.err;
        }
    EXPECT_EQ(run({"trace", "-w", "nan"}).err,
              "lumivex: --wavelength must be a positive finite number, not nan\n");
    EXPECT_EQ(run({"trace", "-n", "0"}).err,
              "lumivex: --rays must be a whole number of at least 1, not 0\n");
    // A count may be written in exponent form.
    const Outcome tens = run({"trace", "--json", "-n", "1e1"});
    ASSERT_EQ(tens.status, 0) << tens.err;
    EXPECT_EQ(json::parse(tens.out)["rays"].size(), 10u);
}

TEST_F(CliTest, OutputsAreTheSameOnOneThreadAndOnThree) {
    // Each ray is traced on its own, so how the rays are shared between
    // threads must not show in a single byte; failing rays included.
    const std::vector<std::vector<std::string>> commands = {
        withFile({"trace", "--json", "-n", "33"}, kData + "/grin_cutoff.txt"),
        withFile({"draw", "-o", "-", "-n", "17"}, kExamples + "/grin_relay.txt"),
        withFile({"field", "--rays", "21"}, kExamples + "/singlet.txt")};
    for (const std::vector<std::string>& args : commands) {
        std::vector<std::string> one = args, three = args;
        one.insert(one.end(), {"--threads", "1"});
        three.insert(three.end(), {"--threads", "3"});
        const Outcome a = run(one), b = run(three);
        ASSERT_EQ(a.status, 0) << a.err;
        EXPECT_EQ(a.out, b.out) << args[0];
        EXPECT_EQ(a.status, b.status);
    }
}

TEST_F(CliTest, SpotAndFanReportTheSingletsAnalysesAndRefuseBadFields) {
    // examples/singlet.txt images without aberration on the axis: EFL and
    // BFL 50, F-number 50/(2·6), a spot far inside its Airy disk.
    const Outcome spot = run({"spot", kExamples + "/singlet.txt", "--fields", "0,5", "--json",
                              "-o", path("spot.svg")});
    ASSERT_EQ(spot.status, 0) << spot.err;
    const json s = json::parse(spot.out);
    EXPECT_NEAR(s["paraxial"]["efl"].get<double>(), 50.0, 1e-6);
    EXPECT_NEAR(s["paraxial"]["fNumber"].get<double>(), 50.0 / 12.0, 1e-6);
    ASSERT_EQ(s["spots"].size(), 2u);
    EXPECT_LT(s["spots"][0]["geoRadius"].get<double>(), 1e-9);
    EXPECT_GT(s["spots"][1]["rmsRadius"].get<double>(), s["spots"][1]["airyRadius"].get<double>());
    EXPECT_NE(readText(path("spot.svg")).find("Airy radius"), std::string::npos);
    // The rows are the library's one description of its spot diagrams.
    auto singlet = readSystem(kExamples + "/singlet.txt");
    const TCollimatedBeam beam = resolveFilledBeam(*singlet, TCollimatedBeam());
    EXPECT_EQ(s["spots"], json(spotDiagrams(*singlet, beam, {0.0, 5.0 * (M_PI / 180.0)},
                                            hexapolar(beam.pupilRadius, 6), NAN)));
    EXPECT_EQ(s["paraxial"], json(paraxialData(*singlet, beam)));

    const Outcome fan = run({"fan", kExamples + "/singlet.txt", "--fields", "0,5", "-n", "5",
                             "-o", path("fan.svg")});
    ASSERT_EQ(fan.status, 0) << fan.err;
    EXPECT_NE(fan.out.find("Field 5 deg"), std::string::npos) << fan.out;
    EXPECT_NE(readText(path("fan.svg")).find("OPD fan"), std::string::npos);

    const Outcome bad = run({"spot", "--fields", "0,95"});
    EXPECT_EQ(bad.status, 2);
    EXPECT_EQ(bad.err.rfind("lumivex: --fields must be ", 0), 0u) << bad.err;
    // A plate has no focus to put the image plane in.
    std::ofstream(path("plate.txt")) << "OpticalSystem 5\nSlab 0 1\nSlab 5 1.5\n";
    const Outcome afocal = run({"fan", path("plate.txt"), "-o", path("x.svg")});
    EXPECT_EQ(afocal.status, 1);
    EXPECT_NE(afocal.err.find("infinity"), std::string::npos) << afocal.err;
}

TEST_F(CliTest, PsfAndMtfOfTheAberrationFreeSinglet) {
    // On the axis the singlet's PSF is the Airy pattern: Strehl 1, 83.8 % of
    // the energy inside the first dark ring; its MTF the diffraction limit.
    const Outcome psf = run({"psf", kExamples + "/singlet.txt", "--samples", "32", "--json",
                             "-o", path("psf.svg"), "--csv", path("psf.csv")});
    ASSERT_EQ(psf.status, 0) << psf.err;
    const json p = json::parse(psf.out)["psfs"][0];
    EXPECT_NEAR(p["strehl"].get<double>(), 1.0, 1e-3);
    EXPECT_EQ(p["size"].get<int>(), 128);
    EXPECT_NEAR(p["encircledEnergy"]["energy"][1].get<double>(), 0.838, 0.01);
    std::vector<XmlElement> elements;
    std::string error;
    EXPECT_TRUE(parseXml(readText(path("psf.svg")), elements, error)) << error;
    std::istringstream csv(readText(path("psf.csv")));
    std::string line;
    double power = 0.0;
    int rows = 0;
    std::getline(csv, line);
    EXPECT_EQ(line, "field_deg,x,y,intensity");
    while (std::getline(csv, line)) {
        power += std::stod(line.substr(line.rfind(',') + 1));
        ++rows;
    }
    EXPECT_EQ(rows, 128 * 128);
    EXPECT_NEAR(power, p["power"].get<double>(), 1e-9);

    const Outcome mtf = run({"mtf", kExamples + "/singlet.txt", "--samples", "32", "--json",
                             "-o", path("mtf.svg")});
    ASSERT_EQ(mtf.status, 0) << mtf.err;
    const json m = json::parse(mtf.out)["mtfs"][0];
    ASSERT_EQ(m["frequency"].size(), 33u);
    for (std::size_t k = 0; k < 33; ++k)
        EXPECT_NEAR(m["tangential"][k].get<double>(), m["diffractionLimit"][k].get<double>(), 0.01);
    EXPECT_TRUE(parseXml(readText(path("mtf.svg")), elements, error)) << error;
    EXPECT_NE(run({"mtf", "--samples", "64", "--fft", "100"}).err.find("--fft must be at least"),
              std::string::npos);

    // A prescription brings its fields, its wavelengths with their weights
    // (the primary the reference) and its image plane; -w picks one in µm.
    const std::string triplet = kExamples + "/triplet.zmx";
    const Outcome lens = run({"psf", triplet, "--samples", "16", "--json", "-o", path("lens.svg")});
    ASSERT_EQ(lens.status, 0) << lens.err;
    const json l = json::parse(lens.out);
    ASSERT_EQ(l["psfs"].size(), 3u);
    EXPECT_EQ(l["wavelengthsUm"].size(), 3u);
    EXPECT_NEAR(l["psfs"][0]["wavelengths"][0].get<double>(), 0.5875618e-3, 1e-12);
    EXPECT_EQ(l["psfs"][2]["field"].get<int>(), 2);
    EXPECT_NEAR(l["psfs"][2]["fieldAngleDegrees"].get<double>(), 14.0, 1e-9);
    const Outcome one = run({"mtf", triplet, "--samples", "16", "-w", "0.5", "--fields", "5",
                             "--json", "-o", path("lens_mtf.svg")});
    ASSERT_EQ(one.status, 0) << one.err;
    const json o = json::parse(one.out);
    EXPECT_EQ(o["wavelengthsUm"], json::array({0.5}));
    ASSERT_EQ(o["mtfs"].size(), 1u);
    EXPECT_NEAR(o["mtfs"][0]["cutoff"].get<double>(), 1.0 / (0.5e-3 * 3.0), 20.0);
    const Outcome deepUv = run({"psf", triplet, "-w", "0.1"});
    EXPECT_EQ(deepUv.status, 1);
    EXPECT_NE(deepUv.err.find("outside the range of its dispersion formula"), std::string::npos)
        << deepUv.err;
}

TEST_F(CliTest, SpotIsMeasuredAtTheRealParaxialFocusUnlessAPlaneIsGiven) {
    // The singlet's hyperbolic face is free of spherical aberration: every
    // ray of the fan meets the axis at the focus, 50 behind the vertex.
    Outcome r = run({"trace", "--json", kExamples + "/singlet.txt"});
    ASSERT_EQ(r.status, 0) << r.err;
    json spot = json::parse(r.out)["spot"];
    EXPECT_EQ(spot["plane"], "paraxial focus");
    EXPECT_NEAR(spot["z"].get<double>(), 55.0, 1e-9);
    EXPECT_LT(spot["rmsRadius"].get<double>(), 1e-9);
    r = run({"trace", kExamples + "/singlet.txt"});
    EXPECT_NE(r.out.find("at z = 55 (the paraxial focus)"), std::string::npos) << r.out;

    // A half-pitch rod is afocal: the spot falls back to its exit face.
    r = run({"trace", "--json", kExamples + "/grin_relay.txt"});
    ASSERT_EQ(r.status, 0) << r.err;
    const json report = json::parse(r.out);
    EXPECT_EQ(report["spot"]["plane"], "last element");
    EXPECT_EQ(report["spot"]["z"], report["elements"].back()["z"]);
    r = run({"trace", kExamples + "/grin_relay.txt"});
    EXPECT_NE(r.out.find("(the last element; the paraxial focus is at infinity)"),
              std::string::npos)
        << r.out;

    r = run({"trace", "--json", "--image-z", "50", kExamples + "/singlet.txt"});
    spot = json::parse(r.out)["spot"];
    EXPECT_EQ(spot["plane"], "image-z");
    EXPECT_EQ(spot["z"].get<double>(), 50.0);
}

TEST_F(CliTest, ExhaustedMemoryEndsInOneLineWithStatus1) {
#if defined(__SANITIZE_ADDRESS__)
    // AddressSanitizer's operator new reports and ends the process where it
    // cannot allocate instead of throwing std::bad_alloc.
    GTEST_SKIP() << "operator new does not throw under AddressSanitizer";
#endif
    const Outcome r = run({"field", "--samples", "1e12"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("lumivex: ", 0), 0u) << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
}

// .zmx lens files: traced straight from the file at its primary wavelength,
// and the same rays from the description `import` writes.
TEST_F(CliTest, LensFileTracesAtItsPrimaryWavelengthAndAsItsImportedDescription) {
    const std::string zmx = kData + "/singlet.zmx";
    const Outcome direct = run({"trace", "--json", "-n", "7", "-a", "3", zmx});
    ASSERT_EQ(direct.status, 0) << direct.err;
    const json report = json::parse(direct.out);
    const TLensFile lens = importZmx(zmx);
    const double primary = report["fan"]["wavelength"].get<double>();
    EXPECT_EQ(primary, lens.wavelengthInLensUnit);  // 587.5618 nm in mm

    ASSERT_EQ(run({"import", zmx, "-o", path("singlet.txt")}).status, 0);
    std::ostringstream w;
    w.precision(17);
    w << primary;
    const Outcome viaText =
        run({"trace", "--json", "-n", "7", "-a", "3", "-w", w.str(), path("singlet.txt")});
    ASSERT_EQ(viaText.status, 0) << viaText.err;
    const json rows = json::parse(viaText.out)["rays"];
    ASSERT_EQ(rows.size(), 7u);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const json& a = report["rays"][i];
        EXPECT_EQ(a["status"], "ok");
        EXPECT_EQ(a["exit"], rows[i]["exit"]);
        EXPECT_EQ(a["direction"], rows[i]["direction"]);
        EXPECT_EQ(a["phase"], rows[i]["phase"]);
    }

    // -w is in the file's unit (mm): the F line, where N-BK7 bends more and
    // the focus moves in. The extension is matched in any case.
    std::ofstream(path("SINGLET.ZMX")) << readText(zmx);
    const Outcome blue = run({"trace", "--json", "-w", "4.861327e-4", path("SINGLET.ZMX")});
    ASSERT_EQ(blue.status, 0) << blue.err;
    const json blueReport = json::parse(blue.out);
    EXPECT_EQ(blueReport["fan"]["wavelength"].get<double>(), 4.861327e-4);
    EXPECT_LT(blueReport["paraxialFocus"]["z"].get<double>(),
              report["paraxialFocus"]["z"].get<double>() - 0.3);
}

TEST_F(CliTest, CheckListsWhatTheLensFileImportFound) {
    const Outcome r = run({"check", kData + "/singlet.zmx"});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* expected : {"unit: MM", "0.5875618 um (primary)", "N-BK7", "1.5168",
                                 "catalogue SCHOTT", "GeneralLens", "Stop: surface 1",
                                 "(ENPD): 10", "(0, 10)"})
        EXPECT_NE(r.out.find(expected), std::string::npos) << expected << " in\n" << r.out;
}

TEST_F(CliTest, RefusedLensFileIsOneLineNamingSurfaceAndKeyword) {
    std::string text = readText(kData + "/singlet.zmx");
    const std::string surface2 = "SURF 2\n  TYPE STANDARD";
    ASSERT_NE(text.find(surface2), std::string::npos);
    text.replace(text.find(surface2), surface2.size(), "SURF 2\n  TYPE COORDBRK");
    std::ofstream(path("tilted.zmx")) << text;
    for (const char* command : {"trace", "check", "import"}) {
        SCOPED_TRACE(command);
        const Outcome r = run({command, path("tilted.zmx")});
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err.rfind("lumivex: " + path("tilted.zmx"), 0), 0u) << r.err;
        EXPECT_NE(r.err.find("surface 2"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("COORDBRK"), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    }
}

TEST_F(CliTest, HostileInputEndsInOneLineAndANonZeroStatus) {
    const std::string singlet = kExamples + "/singlet.txt";
    const struct {
        std::vector<std::string> args;
        int status;
        std::string said;
    } cases[] = {
        // Each of these once exited 0: writing nothing, dropping a field,
        // printing radii of inf, reading a negative index.
        {{"spot", singlet, "-o", ""}, 2, "lumivex: --output must name a file ('-' for standard output), not ''"},
        {{"fan", singlet, "-o", ""}, 2, "lumivex: --output must name a file ('-' for standard output), not ''"},
        {{"spot", singlet, "--csv", ""}, 2, "lumivex: --csv must name a file"},
        {{"spot", singlet, "--fields", "0,,5"}, 2,
         "lumivex: --fields has an empty entry in '0,,5'; give the angles as 0,2.5,5"},
        {{"fan", singlet, "--fields", "0,5,"}, 2, "lumivex: --fields has an empty entry in '0,5,'"},
        {{"spot", singlet, "-o", "-", "--image-z", "1e300"}, 1, "lumivex: the spot at z = 1e+300 has no finite size"},
        {{"field", path("negative.txt")}, 2, "lumivex: " + path("negative.txt") + ":3:8: reading stopped at word \"-1.5\""},
        {{"import", path("flat.zmx")}, 2, "lumivex: " + path("flat.zmx") + ":28: surface 1: CURV needs a finite number"},
        {{"check", "/dev/zero"}, 2, "lumivex: cannot read '/dev/zero': more than 64 MiB"},
    };
    std::ofstream(path("negative.txt")) << "OpticalSystem 5\nSlab 0 1\nSlab 5 -1.5\nSlab 10 1\n";
    std::string zmx = readText(kData + "/singlet.zmx");
    zmx.replace(zmx.find("CURV 2.0E-2"), 11, "CURV inf");
    std::ofstream(path("flat.zmx")) << zmx;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args.back());
        const Outcome r = run(c.args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_EQ(r.err.rfind(c.said, 0), 0u) << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    }
}

TEST_F(CliTest, OptimizeRunsAMeritFileAndSaysWhereABadOneIsWrong) {
    // The triplet's spot on the axis, and at its widest field at every
    // wavelength, its focal length held; the image distance free. A line per
    // iteration, the table, and a prescription that reads back.
    std::ofstream(path("merit.json"))
        << R"({"variables": [{"vary": "curvature", "element": 1}, {"vary": "curvature", "element": 5},
                             {"vary": "thickness", "element": 6, "bounds": [30, 45]}],
               "operands": [{"operand": "rms_spot", "wavelength": [0.5875618], "rays": 40},
                            {"operand": "rms_spot", "field": 2, "wavelength": "all", "rays": 40},
                            {"operand": "efl", "weight": 1}],
               "max_iterations": 8})";
    const Outcome r = run({"optimize", kExamples + "/triplet.zmx", "--merit", path("merit.json"),
                           "-o", path("out.json")});
    ASSERT_EQ(r.status, 2) << r.err;  // a list is not a wavelength
    EXPECT_NE(r.err.find("merit.json: operands[0].wavelength: must be a number"), std::string::npos)
        << r.err;
    std::string text = readText(path("merit.json"));
    text.replace(text.find("[0.5875618]"), 11, "0.5875618");
    std::ofstream(path("merit.json")) << text;
    const Outcome ok = run({"optimize", kExamples + "/triplet.zmx", "--merit", path("merit.json"),
                            "-o", path("out.json")});
    ASSERT_EQ(ok.status, 0) << ok.err;
    EXPECT_NE(ok.out.find("iteration   1  merit"), std::string::npos) << ok.out;
    EXPECT_NE(ok.out.find("rms spot field 2 0.6563 um"), std::string::npos) << ok.out;
    const TPrescription out = TPrescription::readJson(path("out.json"));
    const TPrescription in = importZmxPrescription(kExamples + "/triplet.zmx").prescription;
    EXPECT_NEAR(out.firstOrder().efl, in.firstOrder().efl, 1e-3);  // held
    EXPECT_NE(dynamic_cast<const TGeneralLens&>(*out.surfaces[1].element).curvatureRadius,
              dynamic_cast<const TGeneralLens&>(*in.surfaces[1].element).curvatureRadius);

    // One line, status 2, and where: syntax, a name, an index.
    for (const auto& bad : std::vector<std::pair<std::string, std::string>>{
             {R"({"variables": [{"vary": "curvature" "element": 0}]})", "not JSON: parse error at line 1"},
             {R"({"variables": [{"vary": "radius", "element": 0}]})", "variables[0].vary: unknown variable"},
             {R"({"variables": [{"vary": "curvature", "element": 2}], "operands": [{"operand": "efl"}]})",
              "variables[0]: curvature 2: element 2 (Slab) has no curvature"},
             {R"({"variables": [{"vary": "curvature", "element": 1}],
                  "operands": [{"operand": "rms_spot", "field": 7}]})",
              "operands[0].field: the prescription has no field 7 (it has 3)"}}) {
        std::ofstream(path("bad.json")) << bad.first;
        const Outcome b = run({"optimize", kExamples + "/triplet.zmx", "--merit", path("bad.json")});
        EXPECT_EQ(b.status, 2);
        EXPECT_NE(b.err.find("bad.json: " + bad.second), std::string::npos) << b.err;
        EXPECT_EQ(std::count(b.err.begin(), b.err.end(), '\n'), 1) << b.err;
    }
}

// lumivex irradiance on a prescription: the library's map of the same
// stream, bin for bin, in the JSON, the CSV and the SVG.
TEST_F(CliTest, IrradianceOfAPrescriptionIsTheLibrarysMap) {
    const std::string zmx = kExamples + "/triplet.zmx";
    const Outcome r = run({"irradiance", zmx, "--field", "1", "-n", "3000", "--bins", "8", "6", "--seed",
                           "4", "--json", "--csv", path("map.csv"), "-o", path("map.svg")});
    ASSERT_EQ(r.status, 0) << r.err;
    const json j = json::parse(r.out);
    const TPrescription lens = importZmxPrescription(zmx).prescription;
    TDetectorGrid grid;
    grid.nx = 8, grid.ny = 6, grid.z = std::numeric_limits<double>::quiet_NaN();
    const TIrradianceMap m = irradiance(lens, 1, 3000, 4, grid);
    EXPECT_EQ(j["z"].get<double>(), lens.imagePlaneZ());
    EXPECT_EQ(j["rays"].get<int>(), 3000);
    const std::vector<double> image = m.image();
    ASSERT_EQ(j["image"].size(), 6u);
    for (int row = 0; row < 6; ++row)
        for (int col = 0; col < 8; ++col)
            EXPECT_EQ(j["image"][row][col].get<double>(), image[static_cast<std::size_t>(row * 8 + col)]);
    const std::string csv = readText(path("map.csv"));
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 49);
    EXPECT_NE(readText(path("map.svg")).find("class=\"bin\""), std::string::npos);

    const Outcome bad = run({"irradiance", zmx, "--field", "3"});
    EXPECT_EQ(bad.status, 2);
    EXPECT_EQ(std::count(bad.err.begin(), bad.err.end(), '\n'), 1) << bad.err;
}

TEST_F(CliTest, ColourAndFieldCurvesOfAPrescription) {
    // The triplet's focus moves with the wavelength; its chief ray's height
    // and distortion grow with the field from 0 on the axis.
    const std::string triplet = kExamples + "/triplet.zmx";
    const Outcome colour = run({"colour", triplet, "--samples", "5", "--json", "-o", path("colour.svg"),
                                "--csv", path("colour.csv")});
    ASSERT_EQ(colour.status, 0) << colour.err;
    const json c = json::parse(colour.out);
    EXPECT_EQ(c["focalShift"]["wavelengthsUm"].size(), 5u);
    EXPECT_NEAR(c["focalShift"]["wavelengthsUm"][0].get<double>(), 0.4861327, 1e-12);
    EXPECT_GT(c["focalShift"]["range"].get<double>(), 0.0);
    EXPECT_EQ(c["lateralColour"]["difference"][0].get<double>(), 0.0);
    EXPECT_EQ(readText(path("colour.csv")).rfind("curve,abscissa,value\nfocal_shift,", 0), 0u);
    std::vector<XmlElement> elements;
    std::string error;
    EXPECT_TRUE(parseXml(readText(path("colour.svg")), elements, error)) << error;

    const Outcome curves = run({"field-curves", triplet, "--samples", "3", "-w", "0.55", "--json",
                                "-o", path("curves.svg")});
    ASSERT_EQ(curves.status, 0) << curves.err;
    const json f = json::parse(curves.out)["fieldCurves"];
    EXPECT_EQ(f["field"], json::array({0.0, 7.0, 14.0}));
    EXPECT_EQ(f["wavelengthUm"].get<double>(), 0.55);
    EXPECT_EQ(f["distortionPercent"][0].get<double>(), 0.0);
    EXPECT_NEAR(f["tangential"][0].get<double>(), f["sagittal"][0].get<double>(), 1e-6);
    EXPECT_TRUE(parseXml(readText(path("curves.svg")), elements, error)) << error;

    const Outcome bare = run({"colour", kExamples + "/singlet.txt"});
    EXPECT_EQ(bare.status, 2);
    EXPECT_NE(bare.err.find("needs a prescription"), std::string::npos) << bare.err;
}

TEST_F(CliTest, CoupleThroughTheQuarterPitchGrinPair) {
    // The pair images one face onto the other 1:1: matched fibres couple what
    // the four faces pass, T = (1 − (0.6/2.6)²)⁴, and an offset d leaves
    // T·exp(−(d/w)²), by either route.
    const Outcome r = run({"couple", kExamples + "/grin_coupler.json", "--mode-radius", "0.005",
                           "--offsets", "0,0.005", "--samples", "48", "--json", "-o", path("couple.svg")});
    ASSERT_EQ(r.status, 0) << r.err;
    const json c = json::parse(r.out)["couplings"];
    ASSERT_EQ(c.size(), 2u);
    const double T = std::pow(1.0 - std::pow(0.6 / 2.6, 2), 4);
    EXPECT_NEAR(c[0]["transmitted"].get<double>(), T, 2e-3);
    EXPECT_NEAR(c[0]["imagePlaneEfficiency"].get<double>(), T, 3e-3);
    EXPECT_NEAR(c[0]["efficiency"].get<double>(), T, 0.02);
    EXPECT_NEAR(c[1]["efficiency"].get<double>(), T * std::exp(-1.0), 0.01);
    EXPECT_NEAR(c[1]["imagePlaneEfficiency"].get<double>(), T * std::exp(-1.0), 3e-3);
    EXPECT_EQ(run({"couple", kExamples + "/singlet.txt", "--mode-radius", "0.005"}).status, 2);
}
