// The figure the draw command makes of a system's layout (the library's
// geometry of the system and a traced fan), placed but not yet written:
// every outline, shaded medium, ray and label in picture coordinates
// (pixels, y down), and what the legend must show.
#ifndef LUMIVEX_TOOLS_FIGURE_H
#define LUMIVEX_TOOLS_FIGURE_H

#include <string>
#include <vector>

#include "fan.h"
#include "load.h"
#include "svg.h"

namespace lumivex::cli {

struct Figure {
    // A medium between two faces, closed into one shaded piece.
    struct Medium {
        std::vector<Point2> outline;
        bool gradient = false;  // a GRIN medium rather than glass
    };
    struct Ray {
        std::vector<Point2> points;
        bool ok = true;
        double intensity = 1.0;  // where the ray ends
        std::string title;
    };
    struct Surface {
        std::vector<Point2> outline;  // empty for an element with no shape to show
        std::string title;
    };
    struct Label {
        Point2 at;
        std::string text;
    };

    double width = 0.0;
    double height = 0.0;
    double margin = 0.0;  // left edge of titles, scale bar and legend
    // The drawing area; rays that wander outside it are clipped.
    double frameX = 0.0, frameY = 0.0, frameWidth = 0.0, frameHeight = 0.0;
    std::string title;
    std::string subtitle;

    std::vector<Medium> media;
    Point2 axisFrom, axisTo;
    std::vector<Ray> rays;
    std::vector<Surface> surfaces;
    std::vector<Label> labels;
    bool focusShown = false;
    Point2 focus;

    // The band below the drawing: a scale bar of barLength length units,
    // barPixels long, the transverse stretch, and the legend's entries.
    double bandTop = 0.0;
    double barLength = 0.0;
    double barPixels = 0.0;
    double exaggeration = 1.0;
    bool hasGlass = false;
    bool hasGradient = false;
    bool hasFailedRays = false;

};

// Places the layout of the system and its traced fan in a figure `width`
// pixels wide.
Figure layoutFigure(const LoadedSystem& loaded, const Fan& fan, const TLayout& layout,
                    double width);

}  // namespace lumivex::cli

#endif
