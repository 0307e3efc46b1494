// SPDX-License-Identifier: Apache-2.0
// The picture of a system and its rays in the x–z section, as geometry.
#include "lumivex/layout.h"

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <sstream>

#include "analysis/reductions.h"
#include "lumivex/description.h"

namespace lumivex {

namespace {

TLayoutMedium mediumInFront(const TElement& element) {
    const TElementKind* kind = kindOf(element);
    if (kind && kind->gradientIndex) return TLayoutMedium::Gradient;
    // A plain element stands for a medium of index 1.
    if (element.getRefIndex(TVector(), 0.0).real() != 1.0) return TLayoutMedium::Glass;
    return TLayoutMedium::Air;
}

// The round stretches a picture may use, so that its legend can name them.
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

// The points a picture can place: those with finite coordinates.
std::vector<TSectionPoint> section(const std::vector<TVector>& points) {
    std::vector<TSectionPoint> out;
    for (const TVector& p : points)
        if (std::isfinite(p.x) && std::isfinite(p.z)) out.push_back({p.z, p.x});
    return out;
}

// A ray's points: its nodes, continued straight on to endZ when it went
// through; a failed ray without its terminal node when that node holds no
// intersection to show.
std::vector<TVector> rayPath(const TBeam& ray, bool ok, double endZ) {
    std::vector<TVector> points;
    for (int k = 0; k < ray.getSize(); ++k) points.push_back(ray[k].position);
    const TBeamNode& last = ray.getLast();
    if (ok) {
        if (last.kVector.z > 0.0 && last.position.z < endZ) points.push_back(positionAtZ(ray, endZ));
    } else if (points.size() > 1 && last.kVector == TVector() && last.position == TVector()) {
        points.pop_back();
    }
    return points;
}

// The extent: the rays' start plane to their end, and the largest outline
// or ray height (rays that wander far off are clipped), with x stretched by
// a round factor when the picture would be less than 0.28 as tall as long.
void setExtent(TLayout& layout, double zStart, double endZ,
               const std::vector<std::vector<TVector>>& outlines, const std::vector<double>& radius,
               const std::vector<std::vector<TVector>>& paths, double beamRadius) {
    double zMin = zStart;
    double zMax = endZ;
    double xMax = 0.0;
    for (std::size_t i = 0; i < outlines.size(); ++i) {
        xMax = std::max(xMax, radius[i]);
        for (const TVector& p : outlines[i]) {
            zMin = std::min(zMin, p.z);
            zMax = std::max(zMax, p.z);
        }
    }
    const double xLimit = 3.0 * std::max(xMax, beamRadius);
    for (const auto& points : paths)
        for (const TVector& p : points)
            if (std::isfinite(p.x)) xMax = std::max(xMax, std::min(std::fabs(p.x), xLimit));
    if (!(xMax > 0.0)) xMax = 1.0;
    xMax *= 1.12;
    if (!(zMax > zMin)) zMax = zMin + 1.0;
    layout.zMin = zMin;
    layout.zMax = zMax;
    layout.xMax = xMax;
    const double xRange = 2.0 * xMax;
    if (xRange < 0.28 * (zMax - zMin))
        layout.exaggeration = niceExaggeration(0.28 * (zMax - zMin) / xRange);
}

// The closed outline of the medium between two faces, each drawn from −r
// to +r. Where one face ends lower than the other, it steps out flat at its
// rim to the other's height, and the edge joins the two rims parallel to
// the axis: the shape lens drawings give a lens whose faces have different
// semi-diameters.
std::vector<TVector> closedPiece(const std::vector<TVector>& front, const std::vector<TVector>& back) {
    std::vector<TVector> piece = front;
    const double rFront = std::fabs(front.back().x);
    const double rBack = std::fabs(back.back().x);
    if (rFront > rBack) piece.push_back(TVector(rFront, 0.0, back.back().z));
    if (rBack > rFront) piece.push_back(TVector(rBack, 0.0, front.back().z));
    piece.insert(piece.end(), back.rbegin(), back.rend());
    if (rFront > rBack) piece.push_back(TVector(-rFront, 0.0, back.front().z));
    if (rBack > rFront) piece.push_back(TVector(-rBack, 0.0, front.front().z));
    return piece;
}

// The outline of an element from −r to +r; empty when its shape has none there.
std::vector<TVector> outlineOf(const TElement& element, double r) {
    std::vector<TVector> out;
    TPolygon polygon;
    try {
        element.getPolygon(polygon, false, r);
    } catch (const xmsg&) {
        return out;
    }
    for (int k = 0; k < polygon.getSize(); ++k) out.push_back(polygon[k]);
    return out;
}

}  // namespace

TLayout systemLayout(const TOpticalSystem& system, const std::vector<TBeam>& rays,
                     const std::vector<std::string>& failures, const TCollimatedBeam& beam,
                     const TParaxialFocus& focus, double requestedEndZ) {
    const int n = system.getSize();
    if (n == 0) throw xmsg("systemLayout: the system holds no element");
    if (failures.size() != rays.size())
        throw xmsg("systemLayout: one failure message (or none) is needed per ray");
    TLayout layout;
    layout.focus = focus;

    // Neighbours with a medium between them form one piece of glass (or a
    // rod with its entrance face), and every face of a piece is drawn to the
    // piece's largest traced radius so that its rim closes.
    std::vector<TLayoutMedium> media(static_cast<std::size_t>(n));
    std::vector<double> radius(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        media[i] = mediumInFront(*system[i]);
        radius[i] = system[i]->getRadius() > 0.0 ? system[i]->getRadius()
                                                 : std::max(beam.pupilRadius, 1.0);
    }
    for (int i = 0; i < n;) {
        int j = i;
        while (j + 1 < n && media[j + 1] != TLayoutMedium::Air) ++j;
        const double r = *std::max_element(radius.begin() + i, radius.begin() + j + 1);
        std::fill(radius.begin() + i, radius.begin() + j + 1, r);
        i = j + 1;
    }
    std::vector<std::vector<TVector>> outlines(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        // A shape may end before the piece's radius (an ellipse does); then
        // it is drawn to its own traced radius.
        for (double r : {radius[i], system[i]->getRadius()}) {
            outlines[i] = outlineOf(*system[i], r);
            if (!outlines[i].empty()) break;
        }
        const TElementKind* kind = kindOf(*system[i]);
        if (outlines[i].empty() && kind && kind->surface)
            layout.warnings.push_back("no outline for element " + std::to_string(i + 1) + " (" +
                                      kind->name + ")");
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
        endZ = std::max(endZ, focus.z + 0.1 * (focus.z - std::min(beam.startZ, firstZ)));
    if (!std::isnan(requestedEndZ)) endZ = requestedEndZ;
    layout.endZ = endZ;

    std::vector<std::vector<TVector>> paths;
    for (std::size_t r = 0; r < rays.size(); ++r)
        paths.push_back(rayPath(rays[r], failures[r].empty(), endZ));
    setExtent(layout, beam.startZ, endZ, outlines, radius, paths, beam.pupilRadius);
    const double zMin = layout.zMin, zMax = layout.zMax, xMax = layout.xMax;

    for (int i = 0; i < n; ++i) {
        const TElementKind* kind = kindOf(*system[i]);
        const std::string name = kind ? kind->name : "Element";
        layout.faces.push_back({i, name, system[i]->zPosition, radius[i], media[i],
                                section(outlines[i]), outlines[i].empty() ? "" : name,
                                {system[i]->zPosition, radius[i]}});
    }
    for (int i = 1; i < n; ++i) {
        if (media[i] == TLayoutMedium::Air || outlines[i - 1].empty() || outlines[i].empty())
            continue;
        std::vector<TVector> piece = outlines[i - 1];
        piece.insert(piece.end(), outlines[i].rbegin(), outlines[i].rend());
        layout.pieces.push_back({i - 1, i, media[i], section(piece)});
    }
    for (std::size_t r = 0; r < rays.size(); ++r) {
        TLayout::Ray ray;
        ray.points = section(paths[r]);
        ray.ok = failures[r].empty();
        ray.intensity = rays[r].getLast().intensity;
        ray.startX = rays[r][0].position.x;
        ray.status = ray.ok ? "ok" : failureSummary(failures[r]);
        layout.failedRays += ray.ok ? 0 : 1;
        layout.rays.push_back(ray);
    }
    if (focus.found && !focus.atInfinity && focus.z >= zMin && focus.z <= zMax &&
        std::fabs(focus.x) <= xMax)
        layout.markers.push_back({TLayout::Marker::ParaxialFocus, {focus.z, focus.x}, "F\u2032"});
    return layout;
}

TLayout systemLayout(const TOpticalSystem& system, const TRayBatch& traced,
                     const TCollimatedBeam& beam, const TParaxialFocus& focus, double endZ) {
    std::vector<TBeam> rays;
    std::vector<std::string> failures;
    rays.reserve(traced.size());
    for (std::size_t i = 0; i < traced.size(); ++i) {
        rays.push_back(traced.beam(i));
        // A failed ray always has its message; "failed" stands in for an empty one.
        failures.push_back(traced.ok(i) ? std::string()
                           : traced.message(i).empty() ? std::string("failed")
                                                       : traced.message(i));
    }
    return systemLayout(system, rays, failures, beam, focus, endZ);
}

TLayout systemLayout(TOpticalSystem& system, const TCollimatedBeam& beam, int rays, double endZ,
                     const TTraceOptions& options) {
    if (system.getSize() == 0) throw xmsg("systemLayout: the system holds no element");
    if (rays < 1) throw xmsg("systemLayout: at least one ray is needed");
    TRayBatch batch = rayBatch(system, beam, meridionalFan(beam.pupilRadius, rays));
    TTraceOptions kept = options;
    kept.keepNodes = true;
    traceRays(system, batch, kept);
    // The near-axis rays go after the fan, which resets the traced radii.
    const TParaxialFocus focus = paraxialFocus(system, beam);
    return systemLayout(system, batch, beam, focus, endZ);
}

namespace {

std::string shortNumber(double v) {
    std::ostringstream os;
    os << std::setprecision(6) << v;
    return os.str();
}

// "10°", "10°, 2°" or "h 5", as a legend names a field.
std::string fieldLabel(const TPrescription& lens, const TField& f) {
    const bool angle = lens.fieldKind == TFieldKind::angle;
    const std::string unit = angle ? "\u00b0" : "";
    std::string label = (angle ? "" : "h ") + shortNumber(f.x) + unit;
    if (f.y != 0.0) label += ", " + shortNumber(f.y) + unit;
    return label;
}

}  // namespace

TLayout prescriptionLayout(const TPrescription& lens, int raysPerField, double wavelengthUm,
                           const TTraceOptions& options) {
    lens.validate();
    if (raysPerField < 1) throw xmsg("prescriptionLayout: at least one ray per field is needed");
    const double um = lens.resolveWavelength(wavelengthUm);
    TOpticalSystem system = lens.systemAt(um);
    const int n = system.getSize();
    const auto count = static_cast<std::size_t>(n);
    const std::size_t stop = static_cast<std::size_t>(lens.stop);
    TLayout layout;

    // Each field's rays across the meridional diameter of the pupil, top to
    // bottom, aimed and clipped as the analyses aim and clip them.
    std::vector<std::pair<double, double>> pupil;
    for (int k = 0; k < raysPerField; ++k)
        pupil.emplace_back(raysPerField == 1 ? 0.0 : 1.0 - 2.0 * k / (raysPerField - 1), 0.0);
    TRayBatch batch(lens.wavelengthInLensUnit(um));
    std::vector<int> fieldOf;
    int unaimed = 0;
    for (std::size_t f = 0; f < lens.fields.size(); ++f) {
        layout.fieldLabels.push_back(fieldLabel(lens, lens.fields[f]));
        for (const TAimedRay& ray : lens.rays(static_cast<int>(f), pupil, um)) {
            if (!ray.ok) {
                ++unaimed;
                continue;
            }
            batch.add(detail::aimedStart(ray));
            fieldOf.push_back(static_cast<int>(f));
        }
    }
    if (unaimed > 0)
        layout.warnings.push_back(std::to_string(unaimed) + " of the fields' rays could not be aimed");
    TTraceOptions kept = options;
    kept.keepNodes = true;
    kept.clipRadii = lens.clipRadii();
    traceRays(system, batch, kept);

    // How far each face is drawn: the drawing semi-diameter, else the clear
    // one, else the beams' first-order reach (at the stop its semi-diameter),
    // else the element's own radius.
    std::vector<double> firstOrderReach;
    double stopRadius = 0.0;
    try {
        firstOrderReach = lens.paraxialSemiDiameters();
        stopRadius = lens.firstOrder().stopSemiDiameter;  // where the stop clips
    } catch (const xmsg&) {
        firstOrderReach.clear();  // a rod or a height table has no paraxial model
    }
    if (lens.surfaces[stop].clearSemiDiameter > 0.0) stopRadius = lens.surfaces[stop].clearSemiDiameter;
    std::vector<double> radius(count);
    for (std::size_t i = 0; i < count; ++i) {
        const TPrescriptionSurface& s = lens.surfaces[i];
        radius[i] = s.drawSemiDiameter > 0.0    ? s.drawSemiDiameter
                    : s.clearSemiDiameter > 0.0 ? s.clearSemiDiameter
                    : i == stop && stopRadius > 0.0 ? stopRadius
                    : !firstOrderReach.empty()  ? firstOrderReach[i]
                                                : system[static_cast<int>(i)]->getRadius();
    }
    std::vector<TLayoutMedium> media(count);
    for (int i = 0; i < n; ++i) media[static_cast<std::size_t>(i)] = mediumInFront(*system[i]);
    const bool stopInAir =
        media[stop] == TLayoutMedium::Air && (stop + 1 == count || media[stop + 1] == TLayoutMedium::Air);
    std::vector<std::vector<TVector>> outlines(count);
    for (std::size_t i = 0; i < count; ++i) {
        outlines[i] = outlineOf(*system[static_cast<int>(i)], radius[i]);
        if (outlines[i].empty())
            layout.warnings.push_back("no outline for surface " + std::to_string(i + 1) + " to its semi-diameter " +
                                      shortNumber(radius[i]));
    }

    // The rays run on to the image plane, which ends the picture.
    double endZ;
    try {
        endZ = lens.imagePlaneZ();
    } catch (const xmsg&) {
        endZ = std::numeric_limits<double>::quiet_NaN();
    }
    const double lastZ = system.getLast()->zPosition;
    const bool imagePlane = std::isfinite(endZ) && endZ > lastZ;
    if (!imagePlane) endZ = lastZ + 0.15 * std::max(lastZ - system[0]->zPosition, 1.0);
    layout.endZ = endZ;
    std::vector<std::vector<TVector>> paths;
    for (std::size_t r = 0; r < batch.size(); ++r) {
        const bool ok = batch.ok(r) || batch.vignetted(r);
        paths.push_back(rayPath(batch.beam(r), ok && !batch.vignetted(r), endZ));
    }
    // An object at a finite distance far in front is not drawn to scale:
    // its rays start where rays from infinity would.
    double zStart = batch.size() > 0 ? batch.beam(0)[0].position.z : lens.startZ();
    for (std::size_t r = 0; r < batch.size(); ++r) zStart = std::min(zStart, paths[r].front().z);
    if (zStart < lens.startZ() - 2.0 * (lastZ - system[0]->zPosition)) {
        zStart = lens.startZ();
        for (std::size_t r = 0; r < batch.size(); ++r)
            if (paths[r].size() > 1 && paths[r].front().z < zStart)
                paths[r].front() = positionAtZ(batch.beam(r)[0], zStart);
    }
    const double largest = *std::max_element(radius.begin(), radius.end());
    setExtent(layout, zStart, endZ, outlines, radius, paths, largest);

    // A stop in air is an opening: only its marks show it, no face across the beams.
    for (std::size_t i = 0; i < count; ++i) {
        const TElementKind* kind = kindOf(*system[static_cast<int>(i)]);
        const bool opening = i == stop && stopInAir;
        layout.faces.push_back({static_cast<int>(i), kind ? kind->name : "Element",
                                system[static_cast<int>(i)]->zPosition, radius[i], media[i],
                                opening ? std::vector<TSectionPoint>() : section(outlines[i]),
                                std::to_string(i + 1),
                                {system[static_cast<int>(i)]->zPosition, radius[i]}});
    }
    for (std::size_t i = 1; i < count; ++i)
        if (media[i] != TLayoutMedium::Air && !outlines[i - 1].empty() && !outlines[i].empty())
            layout.pieces.push_back({static_cast<int>(i - 1), static_cast<int>(i), media[i],
                                     section(closedPiece(outlines[i - 1], outlines[i]))});

    for (std::size_t r = 0; r < batch.size(); ++r) {
        TLayout::Ray ray;
        ray.points = section(paths[r]);
        ray.ok = batch.ok(r);
        ray.vignetted = batch.vignetted(r);
        ray.intensity = batch.last(r).intensity;
        ray.startX = paths[r].front().x;
        ray.field = fieldOf[r];
        ray.status = ray.ok          ? "ok"
                     : ray.vignetted ? "vignetted at surface " + std::to_string(batch.vignettedElement(r) + 1)
                                     : failureSummary(batch.message(r));
        layout.failedRays += ray.ok || ray.vignetted ? 0 : 1;
        layout.rays.push_back(ray);
    }

    // The stop: a bar from its rim outwards on either side, at the rim's z.
    if (stopRadius > 0.0 || radius[stop] > 0.0) {
        const double rim = stopRadius > 0.0 ? stopRadius : radius[stop];
        const std::vector<TVector> at = outlineOf(*system[lens.stop], rim);
        const double zTop = at.empty() ? system[lens.stop]->zPosition : at.back().z;
        const double zBottom = at.empty() ? zTop : at.front().z;
        const double bar = 0.12 * layout.xMax;
        layout.marks.push_back({TLayout::Mark::ApertureStop, {{zTop, rim}, {zTop, rim + bar}}});
        layout.marks.push_back({TLayout::Mark::ApertureStop, {{zBottom, -rim}, {zBottom, -rim - bar}}});
        TSectionPoint& label = layout.faces[stop].labelAt;
        label.x = std::max(label.x, rim + bar);
    }
    // The image plane, as tall as the rays that reach it, with a tenth of
    // the picture's height to spare.
    if (imagePlane) {
        double h = 0.0;
        for (std::size_t r = 0; r < batch.size(); ++r)
            if (batch.ok(r)) h = std::max(h, std::fabs(paths[r].back().x));
        h = std::min(h + 0.1 * layout.xMax, layout.xMax);
        layout.marks.push_back({TLayout::Mark::ImagePlane, {{endZ, -h}, {endZ, h}}});
    }
    return layout;
}

}  // namespace lumivex
