#include "figure.h"

#include <algorithm>
#include <cmath>

#include "elements.h"
#include "format.h"

namespace lumivex::cli {

namespace {

// The medium between element i − 1 and element i, as the figure shades it.
enum class Medium { Air, Glass, Gradient };

Medium mediumInFront(const TElement& element) {
    if (isGradientIndex(element)) return Medium::Gradient;
    // A plain element stands for a medium of index 1.
    if (element.getRefIndex(TVector(), 0.0).real() != 1.0) return Medium::Glass;
    return Medium::Air;
}

// Vertical exaggerations a figure may use, so the legend can name them.
double niceExaggeration(double raw) {
    static const double steps[] = {1.0, 1.5, 2.0, 2.5, 3.0, 4.0, 5.0, 6.0, 8.0};
    double decade = 1.0;
    double best = 1.0;
    while (decade <= 1e6) {
        for (double s : steps)
            if (s * decade <= raw) best = s * decade;
        decade *= 10.0;
    }
    return best;
}

}  // namespace

Figure layoutFigure(const LoadedSystem& loaded, const Fan& fan, const std::vector<TracedRay>& rays,
                    const TParaxialFocus& focus, double requestedEndZ, double width) {
    const TOpticalSystem& system = *loaded.system;
    const int n = system.getSize();
    Figure figure;

    // Neighbours with a medium between them form one piece of glass (or a
    // rod with its entrance face), and every face of a piece is drawn to the
    // piece's largest traced radius so that its rim closes.
    std::vector<Medium> media(static_cast<std::size_t>(n));
    std::vector<double> radius(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        media[i] = mediumInFront(*system[i]);
        radius[i] =
            system[i]->getRadius() > 0.0 ? system[i]->getRadius() : std::max(fan.halfHeight, 1.0);
    }
    for (int i = 0; i < n;) {
        int j = i;
        while (j + 1 < n && media[j + 1] != Medium::Air) ++j;
        const double r = *std::max_element(radius.begin() + i, radius.begin() + j + 1);
        std::fill(radius.begin() + i, radius.begin() + j + 1, r);
        i = j + 1;
    }
    std::vector<std::vector<TVector>> outlines(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        // A shape may end before the piece's radius (an ellipse does); then
        // it is drawn to its own traced radius.
        for (double r : {radius[i], system[i]->getRadius()}) {
            TPolygon polygon;
            try {
                system[i]->getPolygon(polygon, false, r);
            } catch (const xmsg&) {
                continue;
            }
            for (int k = 0; k < polygon.getSize(); ++k) outlines[i].push_back(polygon[k]);
            break;
        }
        const TElementKind* kind = kindOf(*system[i]);
        if (outlines[i].empty() && kind && kind->surface)
            figure.warnings.push_back("no outline for element " + std::to_string(i + 1) + " (" +
                                      elementKind(*system[i]) + ")");
    }

    // Where the rays end: a little beyond the last element, or beyond the
    // focus when it lies not too far behind it. Lengths compare with the
    // system's length or its diameter, whichever is larger.
    const double firstZ = system[0]->zPosition;
    const double lastZ = system.getLast()->zPosition;
    const double size =
        std::max(lastZ - firstZ, 2.0 * *std::max_element(radius.begin(), radius.end()));
    double endZ = lastZ + 0.15 * size;
    if (focus.found && !focus.atInfinity && !focus.isVirtual && focus.z > lastZ &&
        focus.z < lastZ + 6.0 * size)
        endZ = std::max(endZ, focus.z + 0.1 * (focus.z - std::min(fan.startZ, firstZ)));
    if (!std::isnan(requestedEndZ)) endZ = requestedEndZ;

    std::vector<std::vector<TVector>> paths;
    for (const TracedRay& ray : rays) {
        std::vector<TVector> points;
        for (int k = 0; k < ray.beam.getSize(); ++k) points.push_back(ray.beam[k].position);
        const TBeamNode& last = ray.beam.getLast();
        if (ray.ok) {
            if (last.kVector.z > 0.0 && last.position.z < endZ)
                points.push_back(positionAtZ(ray.beam, endZ));
        } else if (points.size() > 1 && last.kVector == TVector() && last.position == TVector()) {
            points.pop_back();  // a terminal node with no intersection to show
        }
        paths.push_back(points);
    }

    // Extent of the figure: the rays' start plane to their end, and the
    // largest outline or ray height (rays that wander far off are clipped).
    double zMin = fan.startZ;
    double zMax = endZ;
    double xMax = 0.0;
    for (int i = 0; i < n; ++i) {
        xMax = std::max(xMax, radius[i]);
        for (const TVector& p : outlines[i]) {
            zMin = std::min(zMin, p.z);
            zMax = std::max(zMax, p.z);
        }
    }
    const double xLimit = 3.0 * std::max(xMax, fan.halfHeight);
    for (const auto& points : paths)
        for (const TVector& p : points)
            if (std::isfinite(p.x)) xMax = std::max(xMax, std::min(std::fabs(p.x), xLimit));
    if (!(xMax > 0.0)) xMax = 1.0;
    xMax *= 1.12;
    if (!(zMax > zMin)) zMax = zMin + 1.0;

    // True proportions when they fit; otherwise the transverse direction is
    // stretched by a round factor the legend states.
    const double left = 36.0, right = 36.0, top = 62.0, bottomBand = 96.0;
    double drawWidth = width - left - right;
    double scale = drawWidth / (zMax - zMin);
    double exaggeration = 1.0;
    const double xRange = 2.0 * xMax;
    if (xRange * scale < 0.28 * drawWidth)
        exaggeration = niceExaggeration(0.28 * drawWidth / (xRange * scale));
    double drawHeight = xRange * scale * exaggeration;
    if (drawHeight > 0.7 * drawWidth) {
        scale *= 0.7 * drawWidth / drawHeight;
        drawHeight = 0.7 * drawWidth;
    }
    const double figureWidth = (zMax - zMin) * scale;
    const double x0 = left + 0.5 * (drawWidth - figureWidth);
    drawWidth = figureWidth;
    auto X = [&](double z) { return x0 + (z - zMin) * scale; };
    auto Y = [&](double x) { return top + (xMax - x) * scale * exaggeration; };
    auto picture = [&](const std::vector<TVector>& points) {
        std::vector<Point2> mapped;
        for (const TVector& p : points)
            if (std::isfinite(p.x) && std::isfinite(p.z)) mapped.emplace_back(X(p.z), Y(p.x));
        return mapped;
    };

    figure.width = width;
    figure.height = top + drawHeight + bottomBand;
    figure.margin = left;
    figure.frameX = x0;
    figure.frameY = top;
    figure.frameWidth = drawWidth;
    figure.frameHeight = drawHeight;

    for (int i = 1; i < n; ++i) {
        if (media[i] == Medium::Air || outlines[i - 1].empty() || outlines[i].empty()) continue;
        std::vector<TVector> piece = outlines[i - 1];
        piece.insert(piece.end(), outlines[i].rbegin(), outlines[i].rend());
        figure.media.push_back({picture(piece), media[i] == Medium::Gradient});
    }
    figure.axisFrom = Point2(x0 - 8, Y(0));
    figure.axisTo = Point2(x0 + drawWidth + 8, Y(0));

    for (std::size_t r = 0; r < rays.size(); ++r) {
        Figure::Ray ray;
        ray.points = picture(paths[r]);
        ray.ok = rays[r].ok;
        ray.intensity = rays[r].beam.getLast().intensity;
        ray.title = "ray " + std::to_string(r + 1) + ": start x " +
                    number(rays[r].beam[0].position.x) + ", " +
                    (ray.ok ? "intensity " + number(ray.intensity) : "failed: " + rays[r].status);
        figure.rays.push_back(ray);
        figure.hasFailedRays = figure.hasFailedRays || !ray.ok;
    }

    for (int i = 0; i < n; ++i) {
        const TElement& e = *system[i];
        figure.surfaces.push_back(
            {picture(outlines[i]), elementKind(e) + " at z = " + number(e.zPosition)});
    }

    // Element names above their faces, skipping any that would collide.
    double labelEnd = -1e9;
    for (int i = 0; i < n; ++i) {
        if (outlines[i].empty()) continue;
        const std::string label = elementKind(*system[i]);
        const double x = X(system[i]->zPosition);
        const double halfText = 3.3 * static_cast<double>(label.size());
        if (x - halfText < labelEnd + 6) continue;
        figure.labels.push_back({Point2(x, Y(radius[i]) - 7), label});
        labelEnd = x + halfText;
    }

    figure.focusShown = focus.found && !focus.atInfinity && focus.z >= zMin && focus.z <= zMax &&
                        std::fabs(focus.x) <= xMax;
    if (figure.focusShown) figure.focus = Point2(X(focus.z), Y(focus.x));

    figure.title = "lumivex \u2014 " + loaded.source.name;
    figure.subtitle = "x\u2013z section, " + std::to_string(fan.rays) + " rays, field angle " +
                      number(fan.angle * 180.0 / 3.141592653589793) + "\u00b0, wavelength " +
                      number(fan.wavelength);
    if (focus.found && !focus.atInfinity)
        figure.subtitle += ", paraxial focus F\u2032 at z = " + number(focus.z, 5) +
                           (focus.isVirtual ? " (virtual)" : "");

    figure.bandTop = top + drawHeight + 22;
    figure.barLength = niceLength((zMax - zMin) / 6.0);
    figure.barPixels = figure.barLength * scale;
    figure.exaggeration = exaggeration;
    for (Medium m : media) {
        figure.hasGlass = figure.hasGlass || m == Medium::Glass;
        figure.hasGradient = figure.hasGradient || m == Medium::Gradient;
    }
    return figure;
}

}  // namespace lumivex::cli
