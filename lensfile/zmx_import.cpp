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
#include <memory>
#include <set>
#include <sstream>

#include "glass/text.h"
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
const std::set<std::string> kUsed = {"TYPE", "CURV", "CONI", "DISZ", "DIAM", "STOP", "GLAS", "PARM"};
// Surface keywords that change nothing a ray meets: comments, drawing and
// editor settings, the mechanical semi-diameter, physical-optics settings,
// the floating-aperture marker (the aperture is DIAM), the thermal
// coefficient (the import has no temperature).
const std::set<std::string> kInert = {"COMM", "FIMP", "HIDE", "MIRR", "SLAB", "MEMA",
                                      "POPS", "FLAP", "TCE"};

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

    std::string where(std::size_t line) const {
        return source + ", line " + std::to_string(line + 1);
    }
    std::string at(const TRawSurface& s, const TRecord& r) const {
        return where(r.line) + ", surface " + std::to_string(s.number);
    }
    // A finite number: an infinity or a NaN would build a surface that is
    // not the file's (CURV inf as a plane) or a description that cannot be
    // read back.
    double number(const TRecord& r, std::size_t i, const std::string& context) const {
        double v = 0.0;
        if (i >= r.fields.size() || !detail::parseNumber(r.fields[i], v) || !std::isfinite(v))
            throw xmsg(context + ": " + r.fields[0] + " needs a finite number in field " +
                       std::to_string(i) +
                       (i < r.fields.size() ? ", read \"" + r.fields[i] + "\"" : ""));
        return v;
    }
    // Counts and positions (surface and wavelength numbers, field types) are
    // integers in the file; "2.7" is refused rather than cut to 2.
    int integer(const TRecord& r, std::size_t i, const std::string& context) const {
        int v = 0;
        if (i >= r.fields.size() || !parseInteger(r.fields[i], v))
            throw xmsg(context + ": " + r.fields[0] + " needs an integer in field " +
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
    const std::string context = where(r.line);
    if (key == "MODE") {
        if (r.fields.size() > 1 && upperCase(r.fields[1]) != "SEQ")
            throw xmsg(context + ": MODE " + r.fields[1] +
                       " (non-sequential) is not supported; only sequential files import");
    } else if (key == "NSOB" || key == "NSCS") {
        throw xmsg(context + ": " + key + " (a non-sequential object) is not supported");
    } else if (key == "UNIT") {
        if (r.fields.size() < 2) throw xmsg(context + ": UNIT without a unit");
        file.unit = upperCase(r.fields[1]);
        if (file.unit == "METER") file.unit = "M";
        if (file.unit != "MM" && file.unit != "CM" && file.unit != "IN" && file.unit != "M")
            throw xmsg(context + ": UNIT " + r.fields[1] + " is not a lens unit (MM, CM, IN, M)");
    } else if (key == "ENPD") {
        file.entrancePupilDiameter = number(r, 1, context);
    } else if (key == "FNUM" || key == "OBNA" || key == "FLOA") {
        file.notes.push_back("the file also carries " + key +
                             (r.fields.size() > 1 ? " " + r.fields[1] : std::string()) +
                             "; only ENPD is reported as the aperture");
    } else if (key == "WAVM") {
        const int i = integer(r, 1, context);
        if (i < 1 || i > 100) throw xmsg(context + ": WAVM number out of range");
        if (file.wavelengths.size() < static_cast<std::size_t>(i))
            file.wavelengths.resize(static_cast<std::size_t>(i), kNaN);
        file.wavelengths[static_cast<std::size_t>(i - 1)] = number(r, 2, context);
    } else if (key == "WAVL") {
        file.wavelengths.clear();
        for (std::size_t i = 1; i < r.fields.size(); ++i) file.wavelengths.push_back(number(r, i, context));
    } else if (key == "PWAV") {
        file.primaryWavelength = integer(r, 1, context);
    } else if (key == "FTYP") {
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
    // Other system lines (title, notes, ray-aiming, tolerances, the defaults
    // of the non-sequential mode that every file carries, …) do not change the
    // sequential surfaces.
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
            throw xmsg(source + ": the import wavelength must be a positive number of " +
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
            throw xmsg(source +
                       ": the file names no primary wavelength (PWAV with WAVM or WAVL); give "
                       "the wavelength to import at");
        file.wavelength = file.wavelengths[p - 1];
    }
    file.wavelengthInLensUnit = file.wavelength * 1e-3 / mmPerUnit;
}

TLensGlass TZmxReader::medium(const TRawSurface& s, const TRecord& glas) {
    const std::string context = at(s, glas);
    TLensGlass g;
    if (glas.fields.size() < 2) throw xmsg(context + ": GLAS without a name");
    g.name = glas.fields[1];
    const std::string upper = upperCase(g.name);
    if (upper == "MIRROR")
        throw xmsg(context + ": GLAS MIRROR (a reflecting surface) is not supported");
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
        throw xmsg(context + ": GLAS " + g.name + " gives nd " + glas.fields[4] +
                   ", not a finite number");
    const bool hasNd = readNd && nd > 0.0;
    if (hasModel && modelFlag == 1.0) {
        if (!hasNd) throw xmsg(context + ": model glass " + g.name + " without nd");
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
        if (!hasNd) throw xmsg(context + ": " + e.message());
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
        throw xmsg(context + ": " + e.message());
    }
    g.catalogue = found->catalogue;
    g.source = "catalogue " + found->catalogue;
    return g;
}

void TZmxReader::build(const std::vector<TRawSurface>& raw) {
    if (raw.size() < 3)
        throw xmsg(source + ": " + std::to_string(raw.size()) +
                   " surfaces; a lens needs an object, at least one surface and an image");
    double z = 0.0;
    double frontIndex = 1.0;  // the medium behind the previous surface
    double largest = 0.0;
    for (std::size_t k = 0; k < raw.size(); ++k) {
        const TRawSurface& s = raw[k];
        if (s.number != static_cast<int>(k))
            throw xmsg(where(s.line) + ": SURF " + std::to_string(s.number) + " where SURF " +
                       std::to_string(k) + " was expected");
        TLensSurface info;
        info.number = s.number;
        info.type = "STANDARD";
        bool hasDisz = false;
        std::vector<std::pair<int, double>> parms;
        const TRecord* glas = nullptr;
        for (const TRecord& r : s.records) {
            const std::string& key = r.fields[0];
            const std::string context = at(s, r);
            if (kInert.count(key)) continue;
            if (!kUsed.count(key))
                throw xmsg(context + ": keyword " + key + " is not supported by the import");
            if (key == "TYPE") {
                info.type = r.fields.size() > 1 ? upperCase(r.fields[1]) : "";
                if (info.type != "STANDARD" && info.type != "EVENASPH")
                    throw xmsg(context + ": TYPE " + info.type +
                               " is not supported (only STANDARD and EVENASPH)");
            } else if (key == "CURV") {
                info.curvature = number(r, 1, context);
                // The element takes the radius 1/CURV; below about 1e-308
                // it is no longer a number.
                if (info.curvature != 0.0 && !std::isfinite(1.0 / info.curvature))
                    throw xmsg(context + ": CURV " + r.fields[1] +
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
            } else if (key == "DISZ") {
                hasDisz = true;
                const std::string v = r.fields.size() > 1 ? upperCase(r.fields[1]) : "";
                if (v == "INFINITY" || v == "INF") {
                    info.thickness = kInfinity;
                } else {
                    info.thickness = number(r, 1, context);
                    if (!std::isfinite(info.thickness))
                        throw xmsg(context + ": DISZ " + r.fields[1] + " is not a thickness");
                }
            }
        }
        const std::string surfaceRef = where(s.line) + ", surface " + std::to_string(s.number);
        // Standard surfaces have no parameters; on an even asphere PARM 1 … 8
        // are the coefficients of r², r⁴, … r¹⁶.
        for (const auto& parm : parms) {
            if (parm.second == 0.0) continue;
            if (info.type != "EVENASPH" || parm.first < 1 || parm.first > 8)
                throw xmsg(surfaceRef + ": PARM " + std::to_string(parm.first) + " = " +
                           str(parm.second) + " is not supported on a " + info.type +
                           " surface");
            if (info.asphere.size() < static_cast<std::size_t>(parm.first))
                info.asphere.resize(static_cast<std::size_t>(parm.first), 0.0);
            info.asphere[static_cast<std::size_t>(parm.first - 1)] = parm.second;
        }
        if (info.type == "EVENASPH" && info.asphere.empty()) info.asphere.assign(1, 0.0);
        const bool isObject = k == 0;
        const bool isImage = k + 1 == raw.size();
        if (isObject) {
            if (!(hasDisz && std::isinf(info.thickness)))
                throw xmsg(surfaceRef + ": DISZ " +
                           (hasDisz ? str(info.thickness) : std::string("(none, 0)")) +
                           ": only an object at infinity (DISZ INFINITY) is supported");
            if (info.stop) throw xmsg(surfaceRef + ": STOP on the object surface is not supported");
            info.z = kNaN;
        } else {
            if (std::isinf(info.thickness))
                throw xmsg(surfaceRef + ": DISZ INFINITY is supported only on the object surface");
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
                throw xmsg(where(n) + ": SURF needs a surface number" +
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
    chooseWavelength();
    build(surfaces);
    return std::move(file);
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
