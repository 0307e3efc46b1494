// The picture of a system and its rays in the x–z section, as geometry.
#include "lumivex/layout.h"

#include <algorithm>
#include <cmath>

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
    for (std::size_t r = 0; r < rays.size(); ++r) {
        const TBeam& ray = rays[r];
        const bool ok = failures[r].empty();
        std::vector<TVector> points;
        for (int k = 0; k < ray.getSize(); ++k) points.push_back(ray[k].position);
        const TBeamNode& last = ray.getLast();
        if (ok) {
            if (last.kVector.z > 0.0 && last.position.z < endZ)
                points.push_back(positionAtZ(ray, endZ));
        } else if (points.size() > 1 && last.kVector == TVector() && last.position == TVector()) {
            points.pop_back();  // a terminal node with no intersection to show
        }
        paths.push_back(points);
    }

    // The extent: the rays' start plane to their end, and the largest
    // outline or ray height (rays that wander far off are clipped).
    double zMin = beam.startZ;
    double zMax = endZ;
    double xMax = 0.0;
    for (int i = 0; i < n; ++i) {
        xMax = std::max(xMax, radius[i]);
        for (const TVector& p : outlines[i]) {
            zMin = std::min(zMin, p.z);
            zMax = std::max(zMax, p.z);
        }
    }
    const double xLimit = 3.0 * std::max(xMax, beam.pupilRadius);
    for (const auto& points : paths)
        for (const TVector& p : points)
            if (std::isfinite(p.x)) xMax = std::max(xMax, std::min(std::fabs(p.x), xLimit));
    if (!(xMax > 0.0)) xMax = 1.0;
    xMax *= 1.12;
    if (!(zMax > zMin)) zMax = zMin + 1.0;
    layout.zMin = zMin;
    layout.zMax = zMax;
    layout.xMax = xMax;
    // True proportions when the picture is tall enough; otherwise x is
    // stretched by a round factor.
    const double xRange = 2.0 * xMax;
    if (xRange < 0.28 * (zMax - zMin))
        layout.exaggeration = niceExaggeration(0.28 * (zMax - zMin) / xRange);

    for (int i = 0; i < n; ++i) {
        const TElementKind* kind = kindOf(*system[i]);
        layout.faces.push_back({i, kind ? kind->name : "Element", system[i]->zPosition, radius[i],
                                media[i], section(outlines[i])});
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

}  // namespace lumivex
