// SPDX-License-Identifier: Apache-2.0
#include "figure.h"

#include <algorithm>
#include <cmath>

#include "format.h"

namespace lumivex::cli {

Figure layoutFigure(const std::string& title, const std::string& subtitle, const TLayout& layout,
                    double width) {
    Figure figure;
    // True proportions, or the layout's transverse stretch, unless the
    // picture would then be taller than 0.7 of its width.
    const double left = 36.0, right = 36.0, top = 62.0, bottomBand = 96.0;
    const double zMin = layout.zMin, xMax = layout.xMax;
    const double exaggeration = layout.exaggeration;
    double drawWidth = width - left - right;
    double scale = drawWidth / (layout.zMax - zMin);
    double drawHeight = 2.0 * xMax * scale * exaggeration;
    if (drawHeight > 0.7 * drawWidth) {
        scale *= 0.7 * drawWidth / drawHeight;
        drawHeight = 0.7 * drawWidth;
    }
    const double figureWidth = (layout.zMax - zMin) * scale;
    const double x0 = left + 0.5 * (drawWidth - figureWidth);
    drawWidth = figureWidth;
    auto X = [&](double z) { return x0 + (z - zMin) * scale; };
    auto Y = [&](double x) { return top + (xMax - x) * scale * exaggeration; };
    auto picture = [&](const std::vector<TSectionPoint>& points) {
        std::vector<Point2> mapped;
        for (const TSectionPoint& p : points) mapped.emplace_back(X(p.z), Y(p.x));
        return mapped;
    };

    figure.width = width;
    figure.height = top + drawHeight + bottomBand;
    figure.margin = left;
    figure.frameX = x0;
    figure.frameY = top;
    figure.frameWidth = drawWidth;
    figure.frameHeight = drawHeight;

    for (const TLayout::Piece& piece : layout.pieces)
        figure.media.push_back({picture(piece.outline), piece.medium == TLayoutMedium::Gradient});
    figure.axisFrom = Point2(x0 - 8, Y(0));
    figure.axisTo = Point2(x0 + drawWidth + 8, Y(0));

    for (std::size_t r = 0; r < layout.rays.size(); ++r) {
        const TLayout::Ray& traced = layout.rays[r];
        Figure::Ray ray;
        ray.points = picture(traced.points);
        ray.ok = traced.ok || traced.vignetted;
        ray.intensity = traced.intensity;
        if (!layout.fieldLabels.empty()) ray.field = traced.field;
        ray.title = "ray " + std::to_string(r + 1) + ": start x " + number(traced.startX) + ", " +
                    (traced.ok           ? "intensity " + number(ray.intensity)
                     : traced.vignetted ? traced.status
                                        : "failed: " + traced.status);
        figure.rays.push_back(ray);
    }
    figure.hasFailedRays = layout.failedRays > 0;

    for (const TLayout::Face& face : layout.faces)
        if (!face.outline.empty())
            figure.surfaces.push_back(
            {picture(face.outline), face.kind + " at z = " + number(face.z)});

    // Face labels above their faces, skipping any that would collide.
    double labelEnd = -1e9;
    for (const TLayout::Face& face : layout.faces) {
        if (face.label.empty()) continue;
        const double x = X(face.labelAt.z);
        const double halfText = 3.3 * static_cast<double>(face.label.size());
        if (x - halfText < labelEnd + 2) continue;
        figure.labels.push_back({Point2(x, Y(face.labelAt.x) - 7), face.label});
        labelEnd = x + halfText;
    }
    for (const TLayout::Mark& mark : layout.marks)
        figure.marks.push_back({mark.kind == TLayout::Mark::ApertureStop, picture(mark.points)});
    figure.fieldLabels = layout.fieldLabels;

    for (const TLayout::Marker& marker : layout.markers)
        if (marker.kind == TLayout::Marker::ParaxialFocus) {
            figure.focusShown = true;
            figure.focus = Point2(X(marker.at.z), Y(marker.at.x));
        }

    figure.title = title;
    figure.subtitle = subtitle;

    figure.bandTop = top + drawHeight + 22;
    figure.barLength = niceLength((layout.zMax - zMin) / 6.0);
    figure.barPixels = figure.barLength * scale;
    figure.exaggeration = exaggeration;
    for (const TLayout::Face& face : layout.faces) {
        figure.hasGlass = figure.hasGlass || face.mediumInFront == TLayoutMedium::Glass;
        figure.hasGradient = figure.hasGradient || face.mediumInFront == TLayoutMedium::Gradient;
    }
    return figure;
}

Figure layoutFigure(const LoadedSystem& loaded, const Fan& fan, const TLayout& layout,
                    double width) {
    const TParaxialFocus& focus = layout.focus;
    std::string subtitle = "x\u2013z section, " + std::to_string(fan.rays) + " rays, field angle " +
                           number(fan.angle * 180.0 / 3.141592653589793) + "\u00b0, wavelength " +
                           number(fan.wavelength);
    if (focus.found && !focus.atInfinity)
        subtitle += ", paraxial focus F\u2032 at z = " + number(focus.z, 5) +
                    (focus.isVirtual ? " (virtual)" : "");
    return layoutFigure("lumivex \u2014 " + loaded.source.name, subtitle, layout, width);
}

}  // namespace lumivex::cli
