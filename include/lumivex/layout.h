// SPDX-License-Identifier: Apache-2.0
// The picture of a system and its traced rays in the x–z section, as plain
// geometry in the system's lengths: what is drawn where, not how. The
// lumivex tool writes it as SVG and lumivex.plot.layout draws it with
// matplotlib, so that the same system gives the same picture in both.
#ifndef LUMIVEX_LAYOUT_H
#define LUMIVEX_LAYOUT_H

#include <limits>
#include <string>
#include <vector>

#include "lumivex/analysis.h"
#include "lumivex/export.h"
#include "lumivex/system.h"
#include "lumivex/trace.h"

namespace lumivex {

// A point of the meridional section: z along the axis, x across it.
struct TSectionPoint {
    double z = 0.0;
    double x = 0.0;
};

// What fills the space in front of an element, between it and the one
// before: air (a plain element stands for index 1), glass, or a
// gradient-index medium.
enum class TLayoutMedium { Air, Glass, Gradient };

struct TLayout {
    // An element's face, drawn to the largest traced radius of the piece it
    // belongs to (neighbours with a medium between them form one piece, so
    // that its rim closes), or to its own radius where its shape ends first.
    struct Face {
        int element = 0;   // its index in the system
        std::string kind;  // the catalogue's name, "Lens"
        double z = 0.0;    // the vertex
        double radius = 0.0;
        TLayoutMedium mediumInFront = TLayoutMedium::Air;
        std::vector<TSectionPoint> outline;  // empty for an element with no shape to show
        // What the picture writes above the face: a bare system's faces by
        // their kind, a prescription's by their surface number; empty: none.
        std::string label;
        // The point the label stands above: the top of the face, or of the
        // aperture stop's bar.
        TSectionPoint labelAt;
    };
    // A medium between two faces closed into one shaded piece: the front
    // face's outline, then the back face's reversed.
    struct Piece {
        int front = 0, back = 0;  // the elements of its faces
        TLayoutMedium medium = TLayoutMedium::Glass;
        std::vector<TSectionPoint> outline;
    };
    // A ray through its nodes, continued straight on to endZ when it went
    // through. Its colour value is its intensity where it ends.
    struct Ray {
        std::vector<TSectionPoint> points;
        bool ok = true;
        double intensity = 1.0;
        double startX = 0.0;
        std::string status;  // "ok" or the first line of its failure
        int field = 0;       // which of the traced beams it belongs to
        // Stopped by a clear aperture, where its points end: drawn like a ray
        // that went through, not like a failure.
        bool vignetted = false;
    };
    // A point the picture marks.
    struct Marker {
        enum Kind { ParaxialFocus };
        Kind kind = ParaxialFocus;
        TSectionPoint at;
        std::string label;  // "F′"
    };

    // The extent: z from zMin to zMax, x within ±xMax (a little beyond the
    // tallest face or ray; rays that wander farther off are clipped).
    double zMin = 0.0, zMax = 1.0, xMax = 1.0;
    // How much the x direction is stretched against z: 1 for true
    // proportions, otherwise a round factor that makes the picture at least
    // 0.28 as tall as it is long.
    double exaggeration = 1.0;
    double endZ = 0.0;  // where the rays that went through end
    std::vector<Face> faces;
    std::vector<Piece> pieces;
    std::vector<Ray> rays;
    std::vector<Marker> markers;  // shown only where they fall inside the extent
    // Strokes beside the lenses: the aperture stop as two bars from its rim
    // outwards, as lens drawings show it, and the image plane.
    struct Mark {
        enum Kind { ApertureStop, ImagePlane };
        Kind kind = ApertureStop;
        std::vector<TSectionPoint> points;  // a polyline
    };
    std::vector<Mark> marks;
    // A prescription's fields as the legend names them ("0°", "10°", "h 5"):
    // the rays of field f have Ray::field f and are coloured by it. Empty:
    // one beam, its rays coloured by their intensity.
    std::vector<std::string> fieldLabels;
    TParaxialFocus focus;         // where the beam's near-centre rays meet
    int failedRays = 0;
    // Things the picture cannot show (an element without an outline).
    std::vector<std::string> warnings;
};

// The layout of rays traced with their nodes kept (failures[i] empty for a
// ray that went through, else its failure message) from a resolved beam,
// whose start plane and pupil radius set the extent's near end and the
// faces of elements without a radius. endZ NaN: a little beyond the last
// element, or beyond the focus when it lies not too far behind it.
LUMIVEX_API TLayout systemLayout(const TOpticalSystem& system, const std::vector<TBeam>& rays,
                                 const std::vector<std::string>& failures,
                                 const TCollimatedBeam& beam, const TParaxialFocus& focus,
                                 double endZ = std::numeric_limits<double>::quiet_NaN());
// The same for a batch traced with its nodes kept.
LUMIVEX_API TLayout systemLayout(const TOpticalSystem& system, const TRayBatch& traced,
                                 const TCollimatedBeam& beam, const TParaxialFocus& focus,
                                 double endZ = std::numeric_limits<double>::quiet_NaN());
// Traces the meridional fan of `rays` rays of the resolved beam (nodes
// kept), then its paraxial focus, and lays them out: the
// picture of `lumivex draw`.
LUMIVEX_API TLayout systemLayout(TOpticalSystem& system, const TCollimatedBeam& beam, int rays,
                                 double endZ = std::numeric_limits<double>::quiet_NaN(),
                                 const TTraceOptions& options = TTraceOptions());

// The picture of a lens as its designer defines it: every lens a closed
// shape between its faces, each face drawn to its drawing semi-diameter,
// else its clear one, else as far as the beams reach it to first order (and
// where a lens's two faces reach different heights, the smaller one steps
// out flat to the larger at its rim, as lens drawings show); the surfaces
// numbered; the aperture stop marked; for each field `raysPerField` rays
// across the pupil's meridional diameter (3: its top, the chief ray and its
// bottom), aimed as the prescription aims them, clipped by its clear
// apertures and carried on to the image plane, which is drawn. At a
// wavelength in µm (NaN: the primary).
LUMIVEX_API TLayout prescriptionLayout(const TPrescription& lens, int raysPerField = 3,
                                       double wavelengthUm = std::numeric_limits<double>::quiet_NaN(),
                                       const TTraceOptions& options = TTraceOptions());

}  // namespace lumivex

#endif
