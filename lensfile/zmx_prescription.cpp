// A .zmx lens file as a prescription.
#include <cmath>
#include <fstream>

#include "lumivex/description.h"
#include "lumivex/lensfile.h"
#include "lumivex/surfaces.h"

namespace lumivex {

namespace {

TZmxPrescription fromLensFile(const TLensFile& file, const TGlassCatalog& glasses) {
    TZmxPrescription out;
    TPrescription& p = out.prescription;
    p.unit = file.unit == "MM" ? "mm" : file.unit == "CM" ? "cm" : file.unit == "IN" ? "in" : "m";
    const std::size_t n = file.surfaces.size();
    for (std::size_t k = 1; k + 1 < n; ++k) {
        const TLensSurface& s = file.surfaces[k];
        TMaterial material;
        if (!s.glass.empty()) {
            const TLensGlass* g = nullptr;
            for (const TLensGlass& other : file.glasses)
                if (other.name == s.glass) g = &other;
            if (g && !g->catalogue.empty())
                material = TMaterial::fromGlass(glasses.find(g->catalogue + ":" + g->name));
            else
                material = TMaterial::fixedIndex(s.index);
        }
        std::unique_ptr<TElement> e = cloneElement(*file.system[static_cast<int>(k - 1)]);
        e->radius = 0.0;
        p.addSurface(std::move(e), material, 0.0, s.semiDiameter);
        if (s.stop) p.stop = static_cast<int>(k - 1);
    }
    const double zLast = p.surfaces.back().element->zPosition;
    p.imageZ = zLast + file.surfaces[n - 2].thickness;
    p.aperture = {TApertureKind::entrancePupilDiameter, file.entrancePupilDiameter};
    for (std::size_t i = 0; i < file.wavelengths.size(); ++i) p.wavelengths.push_back({file.wavelengths[i], 1.0});
    p.primary = file.primaryWavelength > 0 ? file.primaryWavelength - 1 : 0;
    const std::size_t fields = std::max(file.fieldX.size(), file.fieldY.size());
    for (std::size_t i = 0; i < fields; ++i) {
        // The file's tangential plane y–z is the library's x–z.
        TField f;
        f.x = i < file.fieldY.size() ? file.fieldY[i] : 0.0;
        f.y = i < file.fieldX.size() ? file.fieldX[i] : 0.0;
        p.fields.push_back(f);
    }
    if (p.fields.empty()) p.fields.push_back(TField());
    out.notes = file.notes;
    p.validate();
    return out;
}

}  // namespace

TZmxPrescription importZmxPrescription(std::istream& is, const std::string& sourceName,
                                       const TGlassCatalog& glasses) {
    return fromLensFile(importZmx(is, sourceName, std::numeric_limits<double>::quiet_NaN(), glasses), glasses);
}

TZmxPrescription importZmxPrescription(const std::string& path, const TGlassCatalog& glasses) {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw xmsg("importZmx: cannot open \"" + path + "\"");
    return importZmxPrescription(file, path, glasses);
}

}  // namespace lumivex
