// SPDX-License-Identifier: Apache-2.0
// A lens as designers define it: surfaces in order with the materials
// between them, the aperture stop, the aperture, the fields, the wavelengths,
// the object distance and the image plane. systemAt(wavelength) evaluates
// every material at one wavelength and builds the TOpticalSystem that the
// tracing paths take, so nothing downstream knows about prescriptions.
//
// Units: every wavelength in this interface is in micrometres; every length
// is in the prescription's unit (millimetres by default). The conversion of
// the wavelength into the lens unit, which TBeam and TRayBatch take, happens
// inside. Field angles are in degrees.
//
// Coordinates: the optical axis is z, light travels towards +z, and the
// meridional (tangential) plane is x–z, the plane every outline is drawn in.
// A field angle θx tilts the chief ray towards +x: its direction is
// (tan θx, tan θy, 1), normalised.
#ifndef LUMIVEX_PRESCRIPTION_H
#define LUMIVEX_PRESCRIPTION_H

#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "lumivex/export.h"
#include "lumivex/geometry.h"
#include "lumivex/glass.h"
#include "lumivex/numeric.h"
#include "lumivex/system.h"

namespace lumivex {

// The Fraunhofer lines nd and the Abbe number vd = (nd − 1)/(nF − nC) refer
// to, in micrometres: d (helium), F and C (hydrogen).
constexpr double kLineD = 0.5875618;
constexpr double kLineF = 0.4861327;
constexpr double kLineC = 0.6562725;

// The medium between two surfaces, whose index follows the wavelength.
struct LUMIVEX_API TMaterial {
    enum class Kind {
        air,    // index 1 at every wavelength
        glass,  // a catalogue glass, carried whole (formula and coefficients)
        model,  // a model glass from nd and the Abbe number vd
        fixed   // one complex index at every wavelength
    };
    Kind kind = Kind::air;
    std::string name;   // the glass's name; for a model glass the name it was given, if any
    TGlass glass;       // Kind::glass
    double nd = 1.0;    // Kind::model
    double abbe = 0.0;  // Kind::model
    complex index = 1.0;  // Kind::fixed

    static TMaterial air();
    // The glass of that name in the catalogue (qualified names "SCHOTT:N-BK7"
    // and preferred catalogues as TGlassCatalog::find); an xmsg for an
    // unknown name.
    static TMaterial catalogueGlass(const std::string& name,
                                    const TGlassCatalog& catalog = TGlassCatalog::builtin(),
                                    const std::vector<std::string>& preferred = {});
    static TMaterial fromGlass(const TGlass& glass);
    // An xmsg unless nd ≥ 1 and vd > 0 are finite.
    static TMaterial modelGlass(double nd, double abbe, const std::string& name = "");
    // An xmsg unless the real part is positive and both parts finite.
    static TMaterial fixedIndex(const complex& n);

    // The index at a wavelength in µm. A model glass follows the two-term
    // Cauchy law n(λ) = A + B/λ², whose A and B give nd at the d line and
    // nF − nC = (nd − 1)/vd exactly. A catalogue glass throws xmsg outside its
    // formula's range.
    complex indexAt(double wavelengthUm) const;
    // "air", the glass's name, "model 1.62/60" or the index, as a surface
    // table prints it.
    std::string label() const;

    // The material as the prescription file writes it, and back.
    std::string toJson() const;
    static TMaterial fromJson(const std::string& text);
};

// A field point with its weight: angles in degrees for TFieldKind::angle, an
// object point's heights in lens units for TFieldKind::objectHeight.
struct LUMIVEX_API TField {
    double x = 0.0;
    double y = 0.0;
    double weight = 1.0;
};

enum class TFieldKind { angle, objectHeight };

struct LUMIVEX_API TWavelength {
    double um = kLineD;
    double weight = 1.0;
};

// How the aperture is fixed: the entrance pupil's diameter (lens units), the
// image-space working F-number 1/(2·n′·u′) of the paraxial marginal ray, the
// object-space numerical aperture n·sin U of the axial marginal ray (finite
// objects), or the stop's semi-diameter (the aperture floats with the stop).
enum class TApertureKind { entrancePupilDiameter, imageFNumber, objectNA, stopSemiDiameter };

struct LUMIVEX_API TAperture {
    TApertureKind kind = TApertureKind::entrancePupilDiameter;
    double value = 0.0;
};

// Where a ray through a pupil point is aimed: at the paraxial entrance
// pupil, or iterated until its real path crosses the stop surface at the
// point (px, py) times the stop's semi-diameter.
enum class TAiming { paraxial, real };

// One surface: an element of a catalogue kind, whose zPosition places it,
// and the material behind it up to the next surface (or the image plane).
// The element's own index is replaced, in systemAt, by the material in front
// of it. A gradient-index element carries its own medium instead.
struct LUMIVEX_API TPrescriptionSurface {
    TPrescriptionSurface() = default;
    TPrescriptionSurface(std::unique_ptr<TElement> element, const TMaterial& material,
                         double clearSemiDiameter = 0.0, double drawSemiDiameter = 0.0);
    // Copies the element through the catalogue (an xmsg for a host's own class).
    TPrescriptionSurface(const TPrescriptionSurface& other);
    TPrescriptionSurface& operator=(const TPrescriptionSurface& other);
    TPrescriptionSurface(TPrescriptionSurface&&) noexcept = default;
    TPrescriptionSurface& operator=(TPrescriptionSurface&&) noexcept = default;

    std::unique_ptr<TElement> element;
    TMaterial material;              // behind the surface
    double clearSemiDiameter = 0.0;  // > 0: rays that meet the surface farther out are vignetted
    double drawSemiDiameter = 0.0;   // > 0: how far the surface is drawn
    std::string comment;
};

// Paraxial first-order data at one wavelength, from y–nu traces: ray heights
// y and reduced slopes n·u through the surfaces' vertex curvatures.
struct LUMIVEX_API TFirstOrder {
    double wavelengthUm = 0.0;
    double efl = 0.0;                 // −h/u′ for a ray parallel to the axis at height h
    double entrancePupilZ = 0.0;      // the stop imaged back into object space
    double entrancePupilDiameter = 0.0;
    double exitPupilZ = 0.0;          // the stop imaged into image space
    double exitPupilDiameter = 0.0;
    double stopSemiDiameter = 0.0;    // the axial marginal ray's height at the stop
    double paraxialImageZ = 0.0;      // where the axial marginal ray crosses the axis
    double fNumber = 0.0;             // working F-number 1/(2·n′·|u′|) of that ray
    double objectNA = 0.0;            // n·sin U of the axial marginal ray (0 at infinity)
    double magnification = 0.0;       // paraxial lateral magnification (0 at infinity)
    double objectZ = 0.0;             // −∞ for an object at infinity
};

// A ray for a field and a pupil point: where it starts (for an object at
// infinity, on a plane in front of the first surface; for a finite object,
// at the object point) and its unit direction. ok is false, with the reason
// in message, for a point that could not be aimed.
struct LUMIVEX_API TAimedRay {
    TVector position;
    TVector direction;
    bool ok = false;
    std::string message;
};

class LUMIVEX_API TPrescription {
public:
    TPrescription();

    std::string title;
    std::string unit = "mm";  // mm, cm, in or m
    TMaterial objectMaterial;  // the medium in front of the first surface
    std::vector<TPrescriptionSurface> surfaces;
    int stop = 0;  // the surface (element index) that is the aperture stop
    TAperture aperture;
    TFieldKind fieldKind = TFieldKind::angle;
    std::vector<TField> fields;
    std::vector<TWavelength> wavelengths;
    int primary = 0;  // index into wavelengths
    // From the object plane to the first surface's vertex; +∞: at infinity.
    double objectDistance = std::numeric_limits<double>::infinity();
    // The image plane's z; NaN: the paraxial focus at the primary wavelength.
    double imageZ = std::numeric_limits<double>::quiet_NaN();
    TAiming aiming = TAiming::real;

    // Appends a surface; the prescription takes the element over.
    TPrescriptionSurface& addSurface(std::unique_ptr<TElement> element, const TMaterial& behind,
                                     double clearSemiDiameter = 0.0, double drawSemiDiameter = 0.0);
    // Appends a conic surface of vertex radius `radius` (0: flat) at z: a
    // TSlab when flat, a TGeneralLens otherwise.
    TPrescriptionSurface& addStandard(double z, double radius, const TMaterial& behind,
                                      double conic = 0.0, double clearSemiDiameter = 0.0,
                                      double drawSemiDiameter = 0.0);

    // An xmsg naming the first thing that makes the prescription unusable:
    // no surface, surfaces out of order, a stop out of range, a bad unit,
    // aperture, field, wavelength, weight, object distance or image plane.
    void validate() const;

    // Micrometres to the lens unit.
    double lensUnitsPerMicrometre() const;
    // The primary wavelength in µm.
    double primaryWavelength() const;
    // NaN → the primary wavelength; otherwise checked to be positive and finite.
    double resolveWavelength(double wavelengthUm) const;

    // The optical system at a wavelength in µm (NaN: the primary), every
    // index evaluated there; element radii are the clear semi-diameters,
    // else the drawing ones, else the elements' own. An xmsg when a material
    // has no index at that wavelength.
    TOpticalSystem systemAt(double wavelengthUm = std::numeric_limits<double>::quiet_NaN()) const;
    // The wavelength in µm converted to the lens unit, for the beams traced
    // through systemAt's system.
    double wavelengthInLensUnit(double wavelengthUm = std::numeric_limits<double>::quiet_NaN()) const;

    // Paraxial data at a wavelength in µm (NaN: the primary). An xmsg for a
    // system without power, a stop imaged to infinity, or an element with no
    // paraxial model (a gradient-index rod, a height table).
    TFirstOrder firstOrder(double wavelengthUm = std::numeric_limits<double>::quiet_NaN()) const;
    // Per surface, the height the beams reach there to first order: the
    // axial marginal ray's plus the chief ray's of the largest field, from
    // y–nu traces at the primary wavelength. The surface table prints it for
    // surfaces whose semi-diameter the prescription does not give.
    std::vector<double> paraxialSemiDiameters() const;
    // The image plane: imageZ, or the paraxial focus at the primary wavelength.
    double imagePlaneZ() const;
    // The z of the object plane; −∞ for an object at infinity.
    double objectZ() const;
    // The plane rays from an object at infinity start on: in front of the
    // first surface by twice the largest semi-diameter, clear of any sag.
    double startZ() const;
    // Per element of systemAt's system, the radius beyond which a ray is
    // vignetted there: the clear semi-diameter, and at the stop the stop's
    // semi-diameter at the primary wavelength (with 1e-9 of it to spare for
    // rays aimed exactly at its rim); NaN where nothing clips, so the list
    // goes straight into TTraceOptions::clipRadii.
    std::vector<double> clipRadii() const;

    // Rays of field `field` (index into fields) through normalised pupil
    // points (px, py), px along x: each ray's start and direction, aimed as
    // `aiming` says, at a wavelength in µm (NaN: the primary). A point that
    // cannot be aimed is reported in its ray; an xmsg only for a field index
    // out of range or a prescription that is not valid.
    std::vector<TAimedRay> rays(int field, const std::vector<std::pair<double, double>>& pupil,
                                double wavelengthUm = std::numeric_limits<double>::quiet_NaN()) const;
    // The same with the aiming given.
    std::vector<TAimedRay> rays(int field, const std::vector<std::pair<double, double>>& pupil,
                                double wavelengthUm, TAiming how) const;

    // The table designers print: surface, radius, thickness, material,
    // semi-diameter, conic, with the stop marked and the aperture, fields
    // and wavelengths under it.
    std::string table() const;

    // The prescription as JSON text, every double written so that it reads
    // back to the same bits.
    std::string toJson() const;
    // Reads toJson's text; an xmsg naming the member for anything missing or
    // malformed (`source` names the text in messages).
    static TPrescription fromJson(const std::string& text, const std::string& source = "JSON");
    void write(const std::string& path) const;
    // A .json file as fromJson reads it. (.zmx files import through
    // lensfile.h.)
    static TPrescription readJson(const std::string& path);
};

}  // namespace lumivex

#endif
