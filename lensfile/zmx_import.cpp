// SPDX-License-Identifier: Apache-2.0
// Sequential .zmx lens files as optical systems.
//
// A .zmx file is a list of keyword lines: system data at the left margin,
// then one block per surface opened by "SURF n" whose lines are indented.
// Every surface keyword is either used, known to carry nothing optical (the
// program's display and bookkeeping settings), or refused: a keyword that is
// not understood may tilt, decentre or clip the surface, and an import that
// dropped it would trace a different lens.
#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <memory>
#include <set>
#include <sstream>

#include "glass/text.h"
#include "lumivex/description.h"
#include "lumivex/lensfile.h"
#include "lumivex/surfaces.h"

namespace lumivex {

TLensFile::TLensFile() : system(1.0) {}

namespace {

using detail::upperCase;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();

bool parseInteger(const std::string& field, int& value) {
    const char* first = field.data() + (!field.empty() && field[0] == '+' ? 1 : 0);
    const char* last = field.data() + field.size();
    const auto result = std::from_chars(first, last, value);
    return result.ec == std::errc() && result.ptr == last && first != last;
}

std::string str(double v) {
    std::ostringstream os;
    os.precision(12);
    os << v;
    return os.str();
}

struct TRecord {
    std::size_t line;  // 0-based
    std::vector<std::string> fields;
};

struct TRawSurface {
    int number;
    std::size_t line;
    std::vector<TRecord> records;
};

// Surface keywords used by the import.
const std::set<std::string> kUsed = {"TYPE", "CURV", "CONI", "DISZ", "DIAM", "STOP", "GLAS", "PARM",
                                     "CLAP", "FLAP"};
// Surface keywords that change nothing a ray meets, and what they are:
// comments, drawing and editor settings, the mechanical semi-diameter,
// coatings (the trace takes Fresnel transmittance from the indices alone),
// physical-optics settings, identifiers, the thermal coefficient (the import
// has no temperature). They are skipped and listed.
const std::map<std::string, std::string> kInert = {
    {"COMM", "comment"},
    {"FIMP", "import setting"},
    {"HIDE", "drawing setting"},
    {"MIRR", "mirror substrate drawing"},
    {"SLAB", "editor slab number"},
    {"MEMA", "mechanical semi-diameter"},
    {"OEMA", "mechanical edge setting"},
    {"MAZH", "mechanical aperture setting"},
    {"POPS", "physical optics setting"},
    {"TCE", "thermal coefficient"},
    {"COAT", "coating"},
    {"SSID", "surface identifier"},
    {"NAME", "surface name"},
    {"MNUM", "multi-configuration number"},
    {"BLNK", "blank"},
    {"LCMN", "lens catalogue note"},
    {"PZUP", "pickup setting"},
    {"VPAR", "variable flag"},
    {"VCON", "variable flag"},
    {"VDSZ", "variable flag"},
    {"VCRV", "variable flag"},
};
// System keywords the import reads.
const std::set<std::string> kSystemUsed = {"MODE", "UNIT", "ENPD", "FNUM", "OBNA", "FLOA", "WAVM",
                                           "WAVL", "PWAV", "FTYP", "XFLN", "XFLD", "YFLN", "YFLD",
                                           "FWGN", "FWGT", "GCAT", "NSOB", "NSCS"};

class TZmxReader {
public:
    // The requested wavelength is in micrometres, or in the lens unit when
    // inLensUnit_ is set.
    TZmxReader(std::string source_, double wavelength_, bool inLensUnit_,
               const TGlassCatalog& catalog_)
        : source(std::move(source_)),
          requestedWavelength(wavelength_),
          requestInLensUnit(inLensUnit_),
          catalog(catalog_) {}

    TLensFile read(const std::string& text);

private:
    std::string source;
    double requestedWavelength;
    bool requestInLensUnit;
    const TGlassCatalog& catalog;
    std::vector<std::string> preferred;  // GCAT
    int fieldCount = -1;                 // from FTYP, when it says
    int waveCount = -1;
    TLensFile file;

public:
    // What the prescription needs beyond the bare system, gathered in the
    // same pass.
    std::vector<TZmxItem> refused;   // every construct that changes ray paths unmodelled
    std::vector<TZmxItem> skipped;   // keywords that change no ray path
    std::vector<TMaterial> materials;   // behind each surface, by SURF number
    std::vector<double> clear;          // CLAP/FLAP semi-diameter by SURF number; 0: none
    std::vector<double> fieldWeights;   // FWGN
    std::vector<double> waveWeights;    // WAVM's third field
    std::string apertureKey = "ENPD";   // ENPD, FNUM, OBNA or FLOA
    double apertureValue = kNaN;
    double objectDistance = kInfinity;
    std::string title;  // NAME

private:
    void refuse(std::size_t line, int surface, const std::string& keyword, const std::string& why) {
        refused.push_back({static_cast<int>(line) + 1, surface, keyword, why});
    }
    void skip(std::size_t line, int surface, const std::string& keyword, const std::string& why) {
        skipped.push_back({static_cast<int>(line) + 1, surface, keyword, why});
    }
    TMaterial material(const TRecord& glas, const TLensGlass& g);
    std::size_t ftypLine = 0;

    // Everything the import cannot model, in one message on one line.
    [[noreturn]] void throwRefused(const std::string& also) const {
        std::string text = std::to_string(refused.size()) +
                           (refused.size() == 1 ? " construct changes" : " constructs change") +
                           " ray paths and cannot be modelled: ";
        for (std::size_t i = 0; i < refused.size(); ++i) {
            const TZmxItem& r = refused[i];
            text += (i ? "; " : "") + locationPrefix({source, r.line, 0, r.surface}) + " " + r.why;
        }
        if (!also.empty()) text += "; and: " + also;
        throw xmsg(TSourceLocation{source}, text);
    }

public:
    bool forPrescription = false;
    TZmxPrescription readPrescription(const std::string& text);

private:

    // The place of a line of the file (counted from 0), and of a surface's.
    TSourceLocation where(std::size_t line, int surface = -1) const {
        return {source, static_cast<int>(line) + 1, 0, surface};
    }
    TSourceLocation at(const TRawSurface& s, const TRecord& r) const {
        return where(r.line, s.number);
    }
    // A finite number: an infinity or a NaN would build a surface that is
    // not the file's (CURV inf as a plane) or a description that cannot be
    // read back.
    double number(const TRecord& r, std::size_t i, const TSourceLocation& context) const {
        double v = 0.0;
        if (i >= r.fields.size() || !detail::parseNumber(r.fields[i], v) || !std::isfinite(v))
            throw xmsg(context, r.fields[0] + " needs a finite number in field " +
                       std::to_string(i) +
                       (i < r.fields.size() ? ", read \"" + r.fields[i] + "\"" : ""));
        return v;
    }
    // Counts and positions (surface and wavelength numbers, field types) are
    // integers in the file; "2.7" is refused rather than cut to 2.
    int integer(const TRecord& r, std::size_t i, const TSourceLocation& context) const {
        int v = 0;
        if (i >= r.fields.size() || !parseInteger(r.fields[i], v))
            throw xmsg(context, r.fields[0] + " needs an integer in field " +
                       std::to_string(i) +
                       (i < r.fields.size() ? ", read \"" + r.fields[i] + "\"" : ""));
        return v;
    }

    void readSystemRecord(const TRecord& r);
    void chooseWavelength();
    TLensGlass medium(const TRawSurface& s, const TRecord& glas);
    void build(const std::vector<TRawSurface>& raw);
};

void TZmxReader::readSystemRecord(const TRecord& r) {
    const std::string& key = r.fields[0];
    const TSourceLocation context = where(r.line);
    if (key == "NAME") {
        for (std::size_t i = 1; i < r.fields.size(); ++i) title += (i > 1 ? " " : "") + r.fields[i];
    }
    if (!kSystemUsed.count(key)) {
        // Title, notes, ray-aiming and editor settings, tolerances, the
        // defaults of the non-sequential mode that every file carries, …:
        // nothing that changes the sequential surfaces.
        skip(r.line, -1, key, "system setting");
        return;
    }
    if (key == "MODE") {
        if (r.fields.size() > 1 && upperCase(r.fields[1]) != "SEQ")
            refuse(r.line, -1, "MODE", "MODE " + r.fields[1] + ", non-sequential: only sequential files import");
    } else if (key == "NSOB" || key == "NSCS") {
        refuse(r.line, -1, key, key + ", a non-sequential object");
    } else if (key == "UNIT") {
        if (r.fields.size() < 2) throw xmsg(context, "UNIT without a unit");
        file.unit = upperCase(r.fields[1]);
        if (file.unit == "METER") file.unit = "M";
        if (file.unit != "MM" && file.unit != "CM" && file.unit != "IN" && file.unit != "M")
            throw xmsg(context, "UNIT " + r.fields[1] + " is not a lens unit (MM, CM, IN, M)");
    } else if (key == "ENPD") {
        file.entrancePupilDiameter = number(r, 1, context);
        if (apertureKey == "ENPD") apertureValue = file.entrancePupilDiameter;
    } else if (key == "FNUM" || key == "OBNA") {
        // The aperture's type is the line the file writes; ENPD is also
        // written for every type.
        apertureKey = key;
        apertureValue = number(r, 1, context);
    } else if (key == "FLOA") {
        apertureKey = key;
    } else if (key == "FWGN" || key == "FWGT") {
        fieldWeights.clear();
        for (std::size_t i = 1; i < r.fields.size(); ++i) fieldWeights.push_back(number(r, i, context));
    } else if (key == "WAVM") {
        const int i = integer(r, 1, context);
        if (i < 1 || i > 100) throw xmsg(context, "WAVM number out of range");
        if (file.wavelengths.size() < static_cast<std::size_t>(i))
            file.wavelengths.resize(static_cast<std::size_t>(i), kNaN);
        file.wavelengths[static_cast<std::size_t>(i - 1)] = number(r, 2, context);
        if (waveWeights.size() < static_cast<std::size_t>(i)) waveWeights.resize(static_cast<std::size_t>(i), 1.0);
        waveWeights[static_cast<std::size_t>(i - 1)] = r.fields.size() > 3 ? number(r, 3, context) : 1.0;
    } else if (key == "WAVL") {
        file.wavelengths.clear();
        for (std::size_t i = 1; i < r.fields.size(); ++i) file.wavelengths.push_back(number(r, i, context));
    } else if (key == "PWAV") {
        file.primaryWavelength = integer(r, 1, context);
    } else if (key == "FTYP") {
        ftypLine = r.line;
        file.fieldType = integer(r, 1, context);
        // Then a flag, the number of fields and the number of wavelengths.
        if (r.fields.size() > 4) {
            fieldCount = integer(r, 3, context);
            waveCount = integer(r, 4, context);
        }
    } else if (key == "XFLN" || key == "XFLD" || key == "YFLN" || key == "YFLD") {
        std::vector<double>& values = key[0] == 'X' ? file.fieldX : file.fieldY;
        values.clear();
        for (std::size_t i = 1; i < r.fields.size(); ++i) values.push_back(number(r, i, context));
    } else if (key == "GCAT") {
        preferred.assign(r.fields.begin() + 1, r.fields.end());
    }
}

void TZmxReader::chooseWavelength() {
    // WAVM lists a fixed number of slots; FTYP says how many are in use.
    if (waveCount >= 0 && static_cast<std::size_t>(waveCount) < file.wavelengths.size())
        file.wavelengths.resize(static_cast<std::size_t>(waveCount));
    if (fieldCount >= 0) {
        if (static_cast<std::size_t>(fieldCount) < file.fieldX.size())
            file.fieldX.resize(static_cast<std::size_t>(fieldCount));
        if (static_cast<std::size_t>(fieldCount) < file.fieldY.size())
            file.fieldY.resize(static_cast<std::size_t>(fieldCount));
    }
    if (file.primaryWavelength == 0 && !file.wavelengths.empty()) file.primaryWavelength = 1;
    if (file.unit.empty()) {
        file.unit = "MM";
        file.notes.push_back("no UNIT line: lengths taken as millimetres");
    }
    const double mmPerUnit =
        file.unit == "CM" ? 10.0 : file.unit == "IN" ? 25.4 : file.unit == "M" ? 1000.0 : 1.0;
    if (!std::isnan(requestedWavelength)) {
        if (!(requestedWavelength > 0.0) || !std::isfinite(requestedWavelength))
            throw xmsg(TSourceLocation{source}, "the import wavelength must be a positive number of " +
                       (requestInLensUnit ? "lens units (" + file.unit + ")" : "micrometres"));
        if (requestInLensUnit) {
            // Kept exactly as given for the beams; the glasses take it in µm.
            file.wavelengthInLensUnit = requestedWavelength;
            file.wavelength = requestedWavelength * mmPerUnit * 1e3;
            return;
        }
        file.wavelength = requestedWavelength;
    } else {
        const std::size_t p = static_cast<std::size_t>(file.primaryWavelength);
        if (p < 1 || p > file.wavelengths.size() || !(file.wavelengths[p - 1] > 0.0))
            throw xmsg(TSourceLocation{source},
                       "the file names no primary wavelength (PWAV with WAVM or WAVL); give "
                       "the wavelength to import at");
        file.wavelength = file.wavelengths[p - 1];
    }
    file.wavelengthInLensUnit = file.wavelength * 1e-3 / mmPerUnit;
}

// The medium as the prescription holds it, its index following the
// wavelength: a glass the catalogues know by its name (a model glass's name
// included), else the file's nd and Abbe number through the model glass's
// dispersion law, else its nd alone.
TMaterial TZmxReader::material(const TRecord& glas, const TLensGlass& g) {
    if (g.source == "air" || g.name.empty()) return TMaterial::air();
    if (catalog.contains(g.name)) return TMaterial::fromGlass(catalog.find(g.name, preferred));
    double nd = g.index, vd = 0.0;
    if (glas.fields.size() > 5) detail::parseNumber(glas.fields[5], vd);
    if (glas.fields.size() > 4) detail::parseNumber(glas.fields[4], nd);
    if (vd > 0.0 && std::isfinite(vd) && nd >= 1.0) {
        file.notes.push_back("glass " + g.name + ": a model glass of nd " + str(nd) + " and vd " +
                             str(vd) + " (Cauchy dispersion)");
        return TMaterial::modelGlass(nd, vd, g.name);
    }
    file.notes.push_back("glass " + g.name + ": no Abbe number, so its index " + str(nd) +
                         " is the same at every wavelength");
    return TMaterial::fixedIndex(nd);
}

TLensGlass TZmxReader::medium(const TRawSurface& s, const TRecord& glas) {
    const TSourceLocation context = at(s, glas);
    TLensGlass g;
    if (glas.fields.size() < 2) throw xmsg(context, "GLAS without a name");
    g.name = glas.fields[1];
    const std::string upper = upperCase(g.name);
    if (upper == "MIRROR") {
        refuse(glas.line, s.number, "GLAS", "GLAS MIRROR, a reflecting surface");
        g.source = "air";
        return g;
    }
    if (upper == "AIR") {
        g.source = "air";
        return g;
    }
    // GLAS name, a model flag (1: the glass is the nd and vd that follow),
    // a flag, nd, vd, ….
    double modelFlag = 0.0;
    double nd = 0.0;
    const bool hasModel = glas.fields.size() > 2 && detail::parseNumber(glas.fields[2], modelFlag);
    const bool readNd = glas.fields.size() > 4 && detail::parseNumber(glas.fields[4], nd);
    if (readNd && !std::isfinite(nd))
        throw xmsg(context, "GLAS " + g.name + " gives nd " + glas.fields[4] +
                   ", not a finite number");
    const bool hasNd = readNd && nd > 0.0;
    if (hasModel && modelFlag == 1.0) {
        if (!hasNd) throw xmsg(context, "model glass " + g.name + " without nd");
        g.index = nd;
        g.source = "nd from the file (model glass; its dispersion is not modelled)";
        file.notes.push_back("surface " + std::to_string(s.number) + ": model glass " + g.name +
                             " taken at nd = " + glas.fields[4] + " at every wavelength");
        return g;
    }
    const TGlass* found = nullptr;
    try {
        found = &catalog.find(g.name, preferred);
    } catch (const xmsg& e) {
        if (!hasNd) throw xmsg(context, e.message());
        g.index = nd;
        g.source = "nd from the file (not in the glass catalogue; dispersion not modelled)";
        file.notes.push_back("surface " + std::to_string(s.number) + ": glass " + g.name +
                             " is not in the glass catalogue; taken at the file's nd = " +
                             glas.fields[4] + " at every wavelength");
        return g;
    }
    try {
        g.index = found->index(file.wavelength, TLengthUnit::micrometre);
    } catch (const xmsg& e) {
        throw xmsg(context, e.message());
    }
    g.catalogue = found->catalogue;
    g.source = "catalogue " + found->catalogue;
    return g;
}

void TZmxReader::build(const std::vector<TRawSurface>& raw) {
    if (raw.size() < 3)
        throw xmsg(TSourceLocation{source}, std::to_string(raw.size()) +
                   " surfaces; a lens needs an object, at least one surface and an image");
    double z = 0.0;
    double frontIndex = 1.0;  // the medium behind the previous surface
    double largest = 0.0;
    std::map<int, double> clearOf;
    for (std::size_t k = 0; k < raw.size(); ++k) {
        const TRawSurface& s = raw[k];
        if (s.number != static_cast<int>(k))
            throw xmsg(where(s.line), "SURF " + std::to_string(s.number) + " where SURF " +
                       std::to_string(k) + " was expected");
        TLensSurface info;
        info.number = s.number;
        info.type = "STANDARD";
        bool hasDisz = false;
        std::vector<std::pair<int, double>> parms;
        std::size_t parmLine = s.line;
        bool typeRefused = false;
        const TRecord* glas = nullptr;
        for (const TRecord& r : s.records) {
            const std::string& key = r.fields[0];
            const TSourceLocation context = at(s, r);
            const auto inert = kInert.find(key);
            if (inert != kInert.end()) {
                skip(r.line, s.number, key, inert->second);
                continue;
            }
            if (!kUsed.count(key)) {
                refuse(r.line, s.number, key,
                       key + ", a surface keyword the import does not model (it may tilt, decentre, "
                             "clip or reshape the surface)");
                continue;
            }
            if (key == "TYPE") {
                info.type = r.fields.size() > 1 ? upperCase(r.fields[1]) : "";
                if (info.type != "STANDARD" && info.type != "EVENASPH") {
                    refuse(r.line, s.number, "TYPE",
                           "TYPE " + info.type +
                               (info.type == "COORDBRK"   ? ", a coordinate break"
                                : info.type == "TOROIDAL" ? ", a toroid"
                                : info.type.find("GRAT") != std::string::npos
                                    ? ", a grating"
                                    : ", a surface type the import does not model (STANDARD and "
                                      "EVENASPH are)"));
                    typeRefused = true;
                }
            } else if (key == "CLAP" || key == "FLAP") {
                // A circular aperture: minimum and maximum radius. The
                // floating aperture vignettes at the semi-diameter it writes.
                const double inner = number(r, 1, context);
                const double outer = number(r, 2, context);
                if (inner != 0.0)
                    refuse(r.line, s.number, key, key + " " + str(inner) + " " + str(outer) +
                                                      ", an annular aperture");
                else if (outer > 0.0)
                    clearOf[s.number] = outer;
            } else if (key == "CURV") {
                info.curvature = number(r, 1, context);
                // The element takes the radius 1/CURV; below about 1e-308
                // it is no longer a number.
                if (info.curvature != 0.0 && !std::isfinite(1.0 / info.curvature))
                    throw xmsg(context, "CURV " + r.fields[1] +
                               " is too small: its radius of curvature is not a finite number "
                               "(write 0 for a plane)");
            } else if (key == "CONI") {
                info.conic = number(r, 1, context);
            } else if (key == "DIAM") {
                info.semiDiameter = number(r, 1, context);
            } else if (key == "STOP") {
                info.stop = true;
            } else if (key == "GLAS") {
                glas = &r;
            } else if (key == "PARM") {
                parms.emplace_back(integer(r, 1, context), number(r, 2, context));
                parmLine = r.line;
            } else if (key == "DISZ") {
                hasDisz = true;
                const std::string v = r.fields.size() > 1 ? upperCase(r.fields[1]) : "";
                if (v == "INFINITY" || v == "INF") {
                    info.thickness = kInfinity;
                } else {
                    info.thickness = number(r, 1, context);
                    if (!std::isfinite(info.thickness))
                        throw xmsg(context, "DISZ " + r.fields[1] + " is not a thickness");
                }
            }
        }
        const TSourceLocation surfaceRef = where(s.line, s.number);
        // Standard surfaces have no parameters; on an even asphere PARM 1 … 8
        // are the coefficients of r², r⁴, … r¹⁶.
        for (const auto& parm : parms) {
            if (parm.second == 0.0 || typeRefused) continue;
            if (info.type != "EVENASPH" || parm.first < 1 || parm.first > 8) {
                refuse(parmLine, s.number, "PARM",
                       "PARM " + std::to_string(parm.first) + " = " + str(parm.second) +
                           " on a " + info.type + " surface, a shape the import does not model");
                continue;
            }
            if (info.asphere.size() < static_cast<std::size_t>(parm.first))
                info.asphere.resize(static_cast<std::size_t>(parm.first), 0.0);
            info.asphere[static_cast<std::size_t>(parm.first - 1)] = parm.second;
        }
        if (info.type == "EVENASPH" && info.asphere.empty()) info.asphere.assign(1, 0.0);
        const bool isObject = k == 0;
        const bool isImage = k + 1 == raw.size();
        if (isObject) {
            // The object plane, DISZ before the first surface.
            objectDistance = hasDisz ? info.thickness : 0.0;
            if (!(objectDistance > 0.0))
                refuse(s.line, s.number, "DISZ",
                       "DISZ " + str(objectDistance) +
                           " on the object surface: a real object lies in front of the first surface");
            if (info.stop) refuse(s.line, s.number, "STOP", "STOP on the object surface");
            info.z = kNaN;
        } else {
            if (std::isinf(info.thickness))
                throw xmsg(surfaceRef, "DISZ INFINITY is supported only on the object surface");
            info.z = z;
            if (!isImage) z += info.thickness;
        }
        TLensGlass g;
        if (glas) {
            g = medium(s, *glas);
        } else {
            g.name = "";
            g.source = "air";
        }
        info.glass = g.source == "air" ? "" : g.name;
        info.index = g.index;
        info.indexInFront = frontIndex;
        if (!info.glass.empty()) {
            bool seen = false;
            for (const TLensGlass& other : file.glasses) seen = seen || other.name == g.name;
            if (!seen) file.glasses.push_back(g);
        }
        if (info.stop) file.stopSurface = s.number;
        materials.push_back(glas && forPrescription ? material(*glas, g) : TMaterial::air());
        clear.push_back(clearOf.count(s.number) ? clearOf[s.number] : 0.0);
        if (!isObject) {
            const complex n(frontIndex, 0.0);
            std::unique_ptr<TElement> element;
            if (info.type == "EVENASPH") {
                element = std::make_unique<TEvenAsphere>(
                    info.z, n, 0.0, info.curvature != 0.0 ? 1.0 / info.curvature : 0.0, info.conic,
                    info.asphere);
                info.element = "EvenAsphere";
            } else if (info.curvature == 0.0) {
                // Flat whatever its conic constant.
                element = std::make_unique<TSlab>(info.z, n);
                info.element = "Slab";
            } else {
                element = std::make_unique<TGeneralLens>(info.z, n, 0.0, 1.0 / info.curvature,
                                                         info.conic);
                info.element = "GeneralLens";
            }
            if (info.semiDiameter > 0.0) element->radius = info.semiDiameter;
            largest = std::max(largest, info.semiDiameter);
            file.system.addElement(element.release());
        }
        frontIndex = g.index;
        file.surfaces.push_back(info);
    }
    if (frontIndex != 1.0)
        file.notes.push_back("the image surface is followed by a medium of index " +
                             str(frontIndex) +
                             "; the system refracts into air behind the image surface");
    // Elements without a DIAM get the largest semi-diameter, or half the
    // entrance pupil.
    if (largest > 0.0)
        file.system.defaultRadius = largest;
    else if (file.entrancePupilDiameter > 0.0)
        file.system.defaultRadius = file.entrancePupilDiameter / 2;
}

TLensFile TZmxReader::read(const std::string& text) {
    const std::vector<std::string> lines = detail::splitLines(text);
    std::vector<TRawSurface> surfaces;
    bool inSurface = false;
    for (std::size_t n = 0; n < lines.size(); ++n) {
        TRecord r{n, detail::splitFields(lines[n])};
        if (r.fields.empty()) continue;
        r.fields[0] = upperCase(r.fields[0]);
        const std::string& key = r.fields[0];
        if (key == "SURF") {
            int number = 0;
            if (r.fields.size() < 2 || !parseInteger(r.fields[1], number) || number < 0)
                throw xmsg(where(n), "SURF needs a surface number" +
                           (r.fields.size() < 2 ? std::string() : ", read \"" + r.fields[1] + "\""));
            surfaces.push_back({number, n, {}});
            inSurface = true;
            continue;
        }
        // Surface lines are indented; a surface keyword at the margin still
        // belongs to the open surface.
        const bool indented = lines[n][0] == ' ' || lines[n][0] == '\t';
        if (inSurface && (indented || kUsed.count(key) || kInert.count(key))) {
            surfaces.back().records.push_back(std::move(r));
        } else {
            inSurface = false;
            readSystemRecord(r);
        }
    }
    try {
        chooseWavelength();
        build(surfaces);
    } catch (const xmsg& e) {
        if (refused.empty()) throw;
        throwRefused(e.message());
    }
    if (forPrescription && file.fieldType != 0 && file.fieldType != 1)
        refuse(ftypLine, -1, "FTYP",
               std::string("FTYP: fields given as ") +
                   (file.fieldType == 2 ? "paraxial image heights" : "real image heights") +
                   " (angles and object heights are modelled)");
    if (!refused.empty()) throwRefused("");
    return std::move(file);
}


TZmxPrescription TZmxReader::readPrescription(const std::string& text) {
    forPrescription = true;
    TLensFile lens = read(text);
    TZmxPrescription out;
    TPrescription& p = out.prescription;
    p.title = title;
    p.unit = lens.unit == "MM" ? "mm" : lens.unit == "CM" ? "cm" : lens.unit == "IN" ? "in" : "m";
    p.objectMaterial = materials.front();
    p.objectDistance = objectDistance;
    const std::size_t n = lens.surfaces.size();
    for (std::size_t k = 1; k + 1 < n; ++k) {
        std::unique_ptr<TElement> e = cloneElement(*lens.system[static_cast<int>(k - 1)]);
        e->radius = 0.0;
        p.addSurface(std::move(e), materials[k], clear[k], lens.surfaces[k].semiDiameter);
    }
    // The image surface is the image plane, not an element.
    const TLensSurface& image = lens.surfaces[n - 1];
    p.imageZ = image.z;
    if (image.curvature != 0.0)
        out.notes.push_back("the image surface's curvature " + str(image.curvature) +
                            " is not modelled: the image is the plane through its vertex");
    if (materials[n - 2].kind != TMaterial::Kind::air)
        throw xmsg(TSourceLocation{source}, "the image lies in " + materials[n - 2].label() +
                   "; only an image in air is modelled");
    if (lens.stopSurface > 0 && lens.stopSurface < static_cast<int>(n) - 1) {
        p.stop = lens.stopSurface - 1;
    } else {
        p.stop = 0;
        out.notes.push_back("no STOP on a lens surface: surface 1 is taken as the stop");
    }
    const bool infinite = std::isinf(objectDistance);
    if (apertureKey == "FLOA") {
        const double semi = lens.surfaces[static_cast<std::size_t>(p.stop) + 1].semiDiameter;
        if (!(semi > 0.0))
            throw xmsg(TSourceLocation{source}, "the aperture floats with the stop, whose DIAM is not given");
        p.aperture = {TApertureKind::stopSemiDiameter, semi};
    } else if (apertureKey == "OBNA") {
        p.aperture = {TApertureKind::objectNA, apertureValue};
    } else if (apertureKey == "FNUM") {
        // The file's image-space F-number is EFL/EPD, whatever the object
        // distance; for an object at infinity it is the working F-number.
        p.aperture = {TApertureKind::imageFNumber, apertureValue};
    } else {
        if (!(apertureValue > 0.0))
            throw xmsg(TSourceLocation{source}, "no aperture: ENPD, FNUM, OBNA or FLOA");
        p.aperture = {TApertureKind::entrancePupilDiameter, apertureValue};
    }
    for (std::size_t i = 0; i < lens.wavelengths.size(); ++i)
        p.wavelengths.push_back({lens.wavelengths[i], i < waveWeights.size() ? waveWeights[i] : 1.0});
    p.primary = lens.primaryWavelength - 1;
    p.fieldKind = lens.fieldType == 1 ? TFieldKind::objectHeight : TFieldKind::angle;
    const std::size_t fields = std::max(lens.fieldX.size(), lens.fieldY.size());
    for (std::size_t i = 0; i < fields; ++i) {
        // The file's tangential plane is y–z; the library's is x–z.
        TField f;
        f.x = i < lens.fieldY.size() ? lens.fieldY[i] : 0.0;
        f.y = i < lens.fieldX.size() ? lens.fieldX[i] : 0.0;
        f.weight = i < fieldWeights.size() ? fieldWeights[i] : 1.0;
        p.fields.push_back(f);
    }
    if (p.fields.empty()) p.fields.push_back(TField());
    if (!infinite && apertureKey == "FNUM") {
        TPrescription probe = p;
        probe.aperture = {TApertureKind::entrancePupilDiameter, 1.0};
        p.aperture = {TApertureKind::entrancePupilDiameter, probe.firstOrder().efl / apertureValue};
        out.notes.push_back("FNUM " + str(apertureValue) + " with a finite object: the entrance pupil diameter EFL/FNUM = " +
                            str(p.aperture.value));
    }
    try {
        p.validate();
    } catch (const xmsg& e) {
        throw xmsg(TSourceLocation{source}, e.message());
    }
    out.skipped = skipped;
    for (const std::string& note : lens.notes) out.notes.push_back(note);
    return out;
}

}  // namespace

namespace {

TLensFile importText(std::istream& is, const std::string& sourceName, double wavelength,
                     bool inLensUnit, const TGlassCatalog& glasses) {
    const std::string text = detail::decodeText(detail::readAll(is, sourceName), sourceName);
    return TZmxReader(sourceName, wavelength, inLensUnit, glasses).read(text);
}

TLensFile importPath(const std::string& path, double wavelength, bool inLensUnit,
                     const TGlassCatalog& glasses) {
    std::error_code error;
    if (std::filesystem::is_directory(path, error))
        throw xmsg("importZmx: \"" + path + "\" is a directory, not a lens file");
    std::ifstream file(path, std::ios::binary);
    if (!file) throw xmsg("importZmx: cannot open \"" + path + "\"");
    return importText(file, path, wavelength, inLensUnit, glasses);
}

}  // namespace

TZmxPrescription importZmxPrescription(std::istream& is, const std::string& sourceName,
                                       const TGlassCatalog& glasses) {
    const std::string text = detail::decodeText(detail::readAll(is), sourceName);
    return TZmxReader(sourceName, kNaN, false, glasses).readPrescription(text);
}

TZmxPrescription importZmxPrescription(const std::string& path, const TGlassCatalog& glasses) {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw xmsg("importZmx: cannot open \"" + path + "\"");
    return importZmxPrescription(file, path, glasses);
}

TLensFile importZmx(std::istream& is, const std::string& sourceName, double wavelengthUm,
                    const TGlassCatalog& glasses) {
    return importText(is, sourceName, wavelengthUm, false, glasses);
}

TLensFile importZmx(const std::string& path, double wavelengthUm, const TGlassCatalog& glasses) {
    return importPath(path, wavelengthUm, false, glasses);
}

TLensFile importZmxInLensUnit(const std::string& path, double wavelength,
                              const TGlassCatalog& glasses) {
    return importPath(path, wavelength, true, glasses);
}

TLensFile importZmxInLensUnit(std::istream& is, const std::string& sourceName, double wavelength,
                              const TGlassCatalog& glasses) {
    return importText(is, sourceName, wavelength, true, glasses);
}

}  // namespace lumivex
