// SPDX-License-Identifier: Apache-2.0
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
        int field = -1;          // its field's colour; −1: coloured by intensity
        std::string title;
    };
    // The aperture stop's bars and the image plane.
    struct Mark {
        bool stop = true;  // else the image plane
        std::vector<Point2> points;
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
    std::vector<Mark> marks;
    std::vector<std::string> fieldLabels;  // the legend's fields, by colour

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

// Places a layout in a figure `width` pixels wide under its title and subtitle.
Figure layoutFigure(const std::string& title, const std::string& subtitle, const TLayout& layout,
                    double width);
// Places the layout of the system and its traced fan.
Figure layoutFigure(const LoadedSystem& loaded, const Fan& fan, const TLayout& layout,
                    double width);

}  // namespace lumivex::cli

#endif
