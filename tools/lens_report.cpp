// SPDX-License-Identifier: Apache-2.0
#include "lens_report.h"

#include <algorithm>
#include <cmath>

#include "format.h"

namespace lumivex::cli {

namespace {

std::string fieldKind(int type) {
    switch (type) {
        case 0:
            return "angle, degrees";
        case 1:
            return "object height";
        case 2:
            return "paraxial image height";
        case 3:
            return "real image height";
    }
    return "FTYP " + std::to_string(type);
}

// PARM i of an even asphere is the coefficient of r^(2i).
std::string asphereTerms(const std::vector<double>& terms) {
    std::string text;
    for (std::size_t i = 0; i < terms.size(); ++i) {
        if (terms[i] == 0.0) continue;
        text += (text.empty() ? "" : ", ") + number(terms[i], 10) + " r^" +
                std::to_string(2 * (i + 1));
    }
    return text.empty() ? "none" : text;
}

const TLensGlass* glassNamed(const TLensFile& lens, const std::string& name) {
    for (const TLensGlass& g : lens.glasses)
        if (g.name == name) return &g;
    return nullptr;
}

}  // namespace

std::string lensWavelength(const TLensFile& lens) {
    std::string text = number(lens.wavelength, 10) + " um (" +
                       number(lens.wavelengthInLensUnit, 10) + " " + lens.unit;
    const std::size_t p = static_cast<std::size_t>(lens.primaryWavelength);
    if (p >= 1 && p <= lens.wavelengths.size() && lens.wavelengths[p - 1] == lens.wavelength)
        text += ", the primary wavelength";
    return text + ")";
}

void printLensReport(std::ostream& os, const std::string& name, const TLensFile& lens,
                     const TOpticalSystem& system) {
    os << "Importing " << name << '\n';
    os << "  unit: " << lens.unit << '\n';
    os << "  wavelengths:";
    if (lens.wavelengths.empty()) os << " none given";
    for (std::size_t i = 0; i < lens.wavelengths.size(); ++i)
        os << (i ? ", " : " ") << number(lens.wavelengths[i], 10) << " um"
           << (static_cast<int>(i) + 1 == lens.primaryWavelength ? " (primary)" : "");
    os << '\n';
    os << "  indices at " << lensWavelength(lens) << '\n';

    os << "\nSurfaces (z, radius and semi-diameter in " << lens.unit
       << "; n is the medium behind the surface)\n";
    TextTable table;
    for (const char* heading : {"surf", "z", "type", "element", "radius", "curvature", "conic",
                                "semi-diam", "glass", "n", "index from"}) {
        const std::string h = heading;
        table.addColumn(h, h == "type" || h == "element" || h == "glass" || h == "index from");
    }
    for (const TLensSurface& s : lens.surfaces) {
        const bool object = s.number == 0;
        const bool image = &s == &lens.surfaces.back();
        std::string element = object ? "(object)" : s.element;
        if (image) element += " (image)";
        if (s.stop) element += " STOP";
        const TLensGlass* g = glassNamed(lens, s.glass);
        table.addRow({std::to_string(s.number), object ? "-" : number(s.z, 10), s.type, element,
                      s.curvature == 0.0 ? "inf" : number(1.0 / s.curvature, 10),
                      number(s.curvature, 10), number(s.conic, 10),
                      s.semiDiameter > 0.0 ? number(s.semiDiameter, 10) : "-",
                      s.glass.empty() ? "air" : s.glass, number(s.index, 8),
                      g ? g->source : "air"});
    }
    table.print(os);
    // Too long for the table: the polynomial terms of the even aspheres.
    for (const TLensSurface& s : lens.surfaces)
        if (!s.asphere.empty())
            os << "  surface " << s.number << " asphere terms: " << asphereTerms(s.asphere) << '\n';

    if (!lens.glasses.empty()) {
        os << "\nGlasses\n";
        TextTable glasses;
        glasses.addColumn("glass", true);
        glasses.addColumn("n");
        glasses.addColumn("index from", true);
        for (const TLensGlass& g : lens.glasses)
            glasses.addRow({g.name, number(g.index, 8), g.source});
        glasses.print(os);
    }

    os << '\n';
    os << "Stop: "
       << (lens.stopSurface >= 0 ? "surface " + std::to_string(lens.stopSurface) : "none marked")
       << '\n';
    os << "Entrance pupil diameter (ENPD): "
       << (std::isnan(lens.entrancePupilDiameter) ? "not given"
                                                   : number(lens.entrancePupilDiameter, 10))
       << '\n';
    os << "Fields (" << fieldKind(lens.fieldType) << "):";
    const std::size_t fields = std::max(lens.fieldX.size(), lens.fieldY.size());
    if (fields == 0) os << " none given";
    for (std::size_t i = 0; i < fields; ++i)
        os << (i ? ", " : " ") << "(" << number(i < lens.fieldX.size() ? lens.fieldX[i] : 0.0)
           << ", " << number(i < lens.fieldY.size() ? lens.fieldY[i] : 0.0) << ")";
    os << '\n';
    for (const std::string& note : lens.notes) os << "Note: " << note << '\n';
    os << "Imported " << system.getSize() << (system.getSize() == 1 ? " element" : " elements")
       << " from " << lens.surfaces.size() << " surfaces, default radius "
       << number(system.defaultRadius, 10) << '\n';
}

}  // namespace lumivex::cli
