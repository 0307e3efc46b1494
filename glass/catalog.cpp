// SPDX-License-Identifier: Apache-2.0
// Glass catalogues: the built-in table, .agf files, and lookup by name.
#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <cmath>
#include <limits>
#include <sstream>

#include "glass/builtin_glasses.h"
#include "glass/text.h"
#include "lumivex/glass.h"

namespace lumivex {

namespace {

using detail::upperCase;

// Levenshtein distance; names are short, so the plain table is cheap.
std::size_t editDistance(const std::string& a, const std::string& b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

TSourceLocation lineRef(const std::string& source, std::size_t line) {
    return {source, static_cast<int>(line) + 1, 0, -1};
}

double number(const std::vector<std::string>& fields, std::size_t i, const TSourceLocation& where,
              const char* what) {
    double v = 0.0;
    if (i >= fields.size() || !detail::parseNumber(fields[i], v) || !std::isfinite(v))
        throw xmsg(where, std::string("expected ") + what +
                   (i < fields.size() ? ", read \"" + fields[i] + "\"" : ", found nothing"));
    return v;
}

// A formula number: the whole field an integer, not a number cut to one.
int integer(const std::vector<std::string>& fields, std::size_t i, const TSourceLocation& where,
            const char* what) {
    int v = 0;
    if (i < fields.size()) {
        const std::string& f = fields[i];
        const char* first = f.data() + (!f.empty() && f[0] == '+' ? 1 : 0);
        const char* last = f.data() + f.size();
        const auto result = std::from_chars(first, last, v);
        if (result.ec == std::errc() && result.ptr == last && first != last) return v;
    }
    throw xmsg(where, std::string("expected ") + what + " (an integer)" +
               (i < fields.size() ? ", read \"" + fields[i] + "\"" : ", found nothing"));
}

// The dispersion coefficients the AGF formulas 1 (Schott) and 2 (Sellmeier 1)
// use; a glass with fewer would take the missing ones as 0 and give a wrong
// index without a word.
constexpr std::size_t kAgfCoefficients = 6;

// AGF formula numbers as this library's forms. The Schott series
// n² = A0 + A1·λ² + A2·λ⁻² + … + A5·λ⁻⁸ is a power series with fixed
// exponents; Sellmeier 1 has its poles as squared wavelengths.
void convertAgf(TGlass& glass, const std::vector<double>& cd) {
    auto at = [&](std::size_t i) { return i < cd.size() ? cd[i] : 0.0; };
    if (glass.sourceFormula == 1) {
        glass.formula = TGlass::powerSeries;
        glass.coefficients = {at(0), at(1), 2.0, at(2), -2.0, at(3), -4.0, at(4), -6.0, at(5), -8.0};
    } else if (glass.sourceFormula == 2) {
        glass.formula = TGlass::sellmeierSquared;
        glass.coefficients = {0.0, at(0), at(1), at(2), at(3), at(4), at(5)};
    } else {
        glass.formula = TGlass::unsupported;
        glass.coefficients = cd;
    }
}

TGlassCatalog makeBuiltin() {
    std::string text;
    for (int i = 0; i < detail::kBuiltinGlassChunkCount; ++i) text += detail::kBuiltinGlassChunks[i];
    std::istringstream is(text);
    TGlassCatalog catalog;
    catalog.loadTable(is, "built-in glasses");
    return catalog;
}

}  // namespace

TGlassCatalog::TGlassCatalog() = default;

const TGlassCatalog& TGlassCatalog::builtin() {
    static const TGlassCatalog catalog = makeBuiltin();
    return catalog;
}

void TGlassCatalog::add(TGlass glass, int layer) {
    const int i = static_cast<int>(glasses.size());
    byName[upperCase(glass.name)].push_back(i);
    glasses.push_back({std::move(glass), layer});
}

void TGlassCatalog::loadTable(std::istream& is, const std::string& sourceName) {
    const std::vector<std::string> lines = detail::splitLines(detail::readAll(is, sourceName));
    const int layer = layers++;
    for (std::size_t n = 0; n < lines.size(); ++n) {
        const std::string& line = lines[n];
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> columns;
        std::stringstream ss(line);
        for (std::string column; std::getline(ss, column, '\t');) columns.push_back(column);
        const TSourceLocation where = lineRef(sourceName, n);
        if (columns.size() < 7)
            throw xmsg(where, "expected 7 tab-separated columns, found " +
                       std::to_string(columns.size()));
        TGlass glass;
        glass.catalogue = upperCase(columns[0]);
        glass.name = columns[1];
        glass.sourceFormula = integer(columns, 2, where, "the formula number");
        switch (glass.sourceFormula) {
            case 1: glass.formula = TGlass::sellmeierPoles; break;
            case 2: glass.formula = TGlass::sellmeierSquared; break;
            case 3: glass.formula = TGlass::powerSeries; break;
            default: glass.formula = TGlass::unsupported; break;
        }
        glass.minWavelength = number(columns, 3, where, "the shortest wavelength");
        glass.maxWavelength = number(columns, 4, where, "the longest wavelength");
        const std::vector<std::string> cs = detail::splitFields(columns[6]);
        for (std::size_t i = 0; i < cs.size(); ++i)
            glass.coefficients.push_back(number(cs, i, where, "a coefficient"));
        add(std::move(glass), layer);
    }
}

void TGlassCatalog::loadAgf(const std::string& path) {
    std::error_code error;
    if (std::filesystem::is_directory(path, error))
        throw xmsg("TGlassCatalog::loadAgf: \"" + path + "\" is a directory, not a catalogue");
    std::ifstream file(path, std::ios::binary);
    if (!file) throw xmsg("TGlassCatalog::loadAgf: cannot open \"" + path + "\"");
    std::string stem = path.substr(path.find_last_of("/\\") == std::string::npos
                                       ? 0
                                       : path.find_last_of("/\\") + 1);
    const std::size_t dot = stem.rfind('.');
    if (dot != std::string::npos && dot > 0) stem.erase(dot);
    loadAgf(file, upperCase(stem));
}

void TGlassCatalog::loadAgf(std::istream& is, const std::string& catalogueName) {
    const std::string text = detail::decodeText(detail::readAll(is, catalogueName), catalogueName);
    const std::vector<std::string> lines = detail::splitLines(text);
    std::vector<TGlass> read;
    std::vector<double> cd;
    TSourceLocation glassWhere;  // the NM line of the glass being read
    auto finish = [&]() {
        if (read.empty()) return;
        const TGlass& glass = read.back();
        if ((glass.sourceFormula == 1 || glass.sourceFormula == 2) && cd.size() < kAgfCoefficients)
            throw xmsg(glassWhere, "glass " + glass.name + " (formula " +
                       std::to_string(glass.sourceFormula) + ") has " + std::to_string(cd.size()) +
                       " dispersion coefficients on its CD line, " +
                       std::to_string(kAgfCoefficients) + " are needed");
        convertAgf(read.back(), cd);
        cd.clear();
    };
    for (std::size_t n = 0; n < lines.size(); ++n) {
        const std::vector<std::string> f = detail::splitFields(lines[n]);
        if (f.empty()) continue;
        const TSourceLocation where = lineRef(catalogueName, n);
        if (f[0] == "NM") {
            finish();
            if (f.size() < 3) throw xmsg(where, "an NM line needs a name and a formula number");
            TGlass glass;
            glass.catalogue = catalogueName;
            glass.name = f[1];
            glass.sourceFormula = integer(f, 2, where, "the formula number");
            if (f.size() > 4) glass.nd = number(f, 4, where, "nd");
            glassWhere = where;
            glass.minWavelength = 0.0;
            glass.maxWavelength = std::numeric_limits<double>::infinity();
            read.push_back(std::move(glass));
        } else if (f[0] == "CD" || f[0] == "LD") {
            if (read.empty()) throw xmsg(where, "" + f[0] + " line before the first NM line");
            if (f[0] == "CD") {
                for (std::size_t i = 1; i < f.size(); ++i)
                    cd.push_back(number(f, i, where, "a dispersion coefficient"));
            } else {
                const double shortest = number(f, 1, where, "the shortest wavelength (um)");
                const double longest = number(f, 2, where, "the longest wavelength (um)");
                if (!(shortest > 0.0 && shortest < longest && std::isfinite(longest)))
                    throw xmsg(where, "the wavelength range " + f[1] + " to " + f[2] +
                               " um is not a range of positive wavelengths");
                read.back().minWavelength = shortest;
                read.back().maxWavelength = longest;
            }
        }
        // Other records (CC comment, ED, TD, OD, IT, BP …) carry no index data.
    }
    finish();
    if (read.empty())
        throw xmsg(catalogueName + ": no glass (no NM line); not a glass catalogue");
    const int layer = layers++;
    for (TGlass& glass : read) add(std::move(glass), layer);
}

const TGlass& TGlassCatalog::find(const std::string& name,
                                  const std::vector<std::string>& preferred) const {
    std::string catalogue;
    std::string glassName = name;
    const std::size_t colon = name.find(':');
    if (colon != std::string::npos) {
        catalogue = upperCase(name.substr(0, colon));
        glassName = name.substr(colon + 1);
    }
    const auto it = byName.find(upperCase(glassName));
    auto rank = [&](const TGlass& g) {
        const std::string c = upperCase(g.catalogue);
        for (std::size_t i = 0; i < preferred.size(); ++i)
            if (upperCase(preferred[i]) == c) return i;
        return preferred.size();
    };
    const TEntry* best = nullptr;
    if (it != byName.end()) {
        for (int i : it->second) {
            const TEntry& e = glasses[static_cast<std::size_t>(i)];
            if (!catalogue.empty() && upperCase(e.glass.catalogue) != catalogue) continue;
            if (!best || e.layer > best->layer ||
                (e.layer == best->layer && rank(e.glass) < rank(best->glass)))
                best = &e;
        }
    }
    if (!best) throw xmsg(unknownGlassMessage(name));
    return best->glass;
}

bool TGlassCatalog::contains(const std::string& name) const {
    try {
        find(name);
        return true;
    } catch (const xmsg&) {
        return false;
    }
}

double TGlassCatalog::index(const std::string& glass, double wavelength, TLengthUnit unit) const {
    return find(glass).index(wavelength, unit);
}

std::vector<std::string> TGlassCatalog::catalogues() const {
    std::vector<std::string> names;
    for (const TEntry& e : glasses)
        if (std::find(names.begin(), names.end(), e.glass.catalogue) == names.end())
            names.push_back(e.glass.catalogue);
    return names;
}

std::string TGlassCatalog::unknownGlassMessage(const std::string& name) const {
    std::ostringstream os;
    os << "unknown glass \"" << name << "\"; searched ";
    const std::vector<std::string> searched = catalogues();
    if (searched.empty()) os << "no catalogue (the glass catalogue is empty)";
    for (std::size_t i = 0; i < searched.size(); ++i) os << (i ? ", " : "") << searched[i];
    const std::size_t colon = name.find(':');
    const std::string wanted = upperCase(colon == std::string::npos ? name : name.substr(colon + 1));
    std::vector<std::pair<std::size_t, std::string>> scored;
    for (const auto& entry : byName) {
        const TGlass& g = glasses[static_cast<std::size_t>(entry.second.front())].glass;
        scored.emplace_back(editDistance(wanted, entry.first), g.name + " (" + g.catalogue + ")");
    }
    const std::size_t shown = std::min<std::size_t>(5, scored.size());
    std::partial_sort(scored.begin(), scored.begin() + static_cast<std::ptrdiff_t>(shown),
                      scored.end());
    if (shown > 0) os << "; closest names:";
    for (std::size_t i = 0; i < shown; ++i) os << (i ? ", " : " ") << scored[i].second;
    return os.str();
}

}  // namespace lumivex
