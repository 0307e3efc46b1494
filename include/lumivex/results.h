// SPDX-License-Identifier: Apache-2.0
// The analyses' results written out: each result's JSON form and CSV
// columns, described here once for every host that writes them (the lumivex
// tool among them).
//
// Header-only on nlohmann's JSON library (Debian's nlohmann-json3-dev): a
// host that includes this header needs it, the library itself does not.
// The functions to_json are found by nlohmann::json's conversions, so
// `nlohmann::json j = spotDiagrams(...)` writes a list of spots. Angles are
// written in degrees, lengths in the system's unit; a value a failed ray
// left undefined (NaN) is null.
#ifndef LUMIVEX_RESULTS_H
#define LUMIVEX_RESULTS_H

#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "lumivex/analysis.h"
#include "lumivex/diffraction.h"
#include "lumivex/trace.h"

namespace lumivex {

namespace results {

inline double degrees(double radians) { return radians / (3.141592653589793 / 180.0); }

// NaN and infinities have no JSON number: null.
inline nlohmann::json values(const std::vector<double>& v) {
    nlohmann::json a = nlohmann::json::array();
    for (double x : v) a.push_back(std::isfinite(x) ? nlohmann::json(x) : nlohmann::json());
    return a;
}

// A CSV number that reads back to the same double.
inline std::string number(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", v);
    return text;
}

// A CSV cell, quoted when it holds a comma, a quote or a line break.
inline std::string cell(const std::string& text) {
    if (text.find_first_of(",\"\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

// A number that may be undefined (NaN): null then.
inline nlohmann::json value(double v) { return std::isfinite(v) ? nlohmann::json(v) : nlohmann::json(); }

inline nlohmann::json xyz(const TVector& v) { return {{"x", v.x}, {"y", v.y}, {"z", v.z}}; }

}  // namespace results

inline void to_json(nlohmann::json& j, const TParaxialData& p) {
    j = {{"efl", p.efl},
         {"bfl", p.bfl},
         {"focusZ", p.focusZ},
         {"fNumber", p.fNumber},
         {"pupilRadius", p.pupilRadius},
         {"entrancePupilZ", p.entrancePupilZ},
         {"entrancePupilDiameter", p.entrancePupilDiameter},
         {"exitPupilZ", results::value(p.exitPupilZ)},
         {"exitPupilDiameter", results::value(p.exitPupilDiameter)}};
}

// Not found or at infinity: null.
inline void to_json(nlohmann::json& j, const TParaxialFocus& f) {
    if (f.found && !f.atInfinity)
        j = {{"z", f.z}, {"x", f.x}, {"virtual", f.isVirtual}};
    else
        j = nullptr;
}

inline void to_json(nlohmann::json& j, const TSpot& s) {
    j = {{"z", s.z},
         {"rays", s.rays},
         {"rmsRadius", s.rms},
         {"centroidX", s.centroidX},
         {"centroidY", s.centroidY}};
}

// The diagram's numbers; its points are the CSV's (spotCsv).
inline void to_json(nlohmann::json& j, const TSpotDiagram& s) {
    j = {{"fieldAngleDegrees", results::degrees(s.fieldAngle)},
         {"field", s.field},
         {"z", s.z},
         {"rays", s.spot.rays},
         {"failed", s.spot.failed},
         {"vignetted", s.spot.vignetted},
         {"chief", {{"x", s.chiefX}, {"y", s.chiefY}}},
         {"centroid", {{"x", s.centroidX}, {"y", s.centroidY}}},
         {"rmsRadius", s.spot.rms},
         {"geoRadius", s.spot.largest},
         {"airyRadius", s.airyRadius}};
    if (!s.wavelengthsUm.empty()) {
        j["wavelengthsUm"] = s.wavelengthsUm;
        j["weights"] = s.weights;
    }
}

inline void to_json(nlohmann::json& j, const TThroughFocus& c) {
    j = {{"z", c.z}, {"rms", c.rms}, {"bestZ", c.bestZ}, {"bestRms", c.bestRms}};
}

inline void to_json(nlohmann::json& j, const TRayFan& f) {
    j = {{"fieldAngleDegrees", results::degrees(f.fieldAngle)},
         {"z", f.z},
         {"referenceRadius", f.referenceRadius},
         {"rho", f.rho},
         {"tangential", results::values(f.tangential)},
         {"sagittal", results::values(f.sagittal)},
         {"tangentialOpdWaves", results::values(f.tangentialOpd)},
         {"sagittalOpdWaves", results::values(f.sagittalOpd)},
         {"field", f.field},
         {"failed", f.failed},
         {"vignetted", f.vignetted}};
}

// Every ray of the diagrams that went through, one row each.
inline std::string spotCsv(const std::vector<TSpotDiagram>& spots) {
    std::string csv = "field_deg,ray,pupil_x,pupil_y,dx,dy\n";
    for (const TSpotDiagram& s : spots)
        for (std::size_t i = 0; i < s.x.size(); ++i)
            csv += results::number(results::degrees(s.fieldAngle)) + ',' + std::to_string(i + 1) +
                   ',' + results::number(s.pupil[i].x) + ',' + results::number(s.pupil[i].y) +
                   ',' + results::number(s.x[i]) + ',' + results::number(s.y[i]) + '\n';
    return csv;
}

inline std::string fanCsv(const std::vector<TRayFan>& fans) {
    std::string csv = "field_deg,rho,tangential,sagittal,tangential_opd_waves,sagittal_opd_waves\n";
    for (const TRayFan& f : fans)
        for (std::size_t i = 0; i < f.rho.size(); ++i)
            csv += results::number(results::degrees(f.fieldAngle)) + ',' +
                   results::number(f.rho[i]) + ',' + results::number(f.tangential[i]) + ',' +
                   results::number(f.sagittal[i]) + ',' + results::number(f.tangentialOpd[i]) +
                   ',' + results::number(f.sagittalOpd[i]) + '\n';
    return csv;
}

// The PSF's numbers; its samples are the CSV's (psfCsv). Wavelengths and
// weights per wavelength, the reference first, in the system's unit.
inline void to_json(nlohmann::json& j, const TPsf& p) {
    j = {{"fieldAngleDegrees", results::degrees(p.fieldAngle)},
         {"field", p.field},
         {"z", p.z},
         {"centre", {{"x", p.centreX}, {"y", p.centreY}}},
         {"dx", p.dx},
         {"size", p.size},
         {"pupilSamples", p.pupilSamples},
         {"strehl", p.strehl},
         {"power", p.power},
         {"peak", p.peak},
         {"wavelengths", p.wavelengths},
         {"weights", p.weights},
         {"fNumbers", p.fNumbers},
         {"powers", p.powers}};
}

inline void to_json(nlohmann::json& j, const TMtf& m) {
    j = {{"fieldAngleDegrees", results::degrees(m.fieldAngle)},
         {"field", m.field},
         {"z", m.z},
         {"cutoff", m.cutoff},
         {"frequency", m.frequency},
         {"tangential", m.tangential},
         {"sagittal", m.sagittal},
         {"diffractionLimit", m.diffractionLimit}};
}

// The map's numbers and its OPD row after row (null outside the pupil).
inline void to_json(nlohmann::json& j, const TWavefrontMap& w) {
    j = {{"fieldAngleDegrees", results::degrees(w.fieldAngle)},
         {"field", w.field},
         {"wavelength", w.wavelength},
         {"z", w.z},
         {"reference", {{"x", w.referenceX}, {"y", w.referenceY}}},
         {"referenceRadius", w.referenceRadius},
         {"pupilRadius", w.pupilRadius},
         {"samples", w.samples},
         {"pitch", w.pitch},
         {"rmsWaves", w.rms},
         {"pvWaves", w.pv},
         {"rmsToChiefWaves", w.rmsToChief},
         {"zernikeWaves", w.zernike},
         {"opdWaves", results::values(w.opd)}};
}

// Every PSF sample, one row each, at its point of the image plane.
inline std::string psfCsv(const std::vector<TPsf>& psfs) {
    std::string csv = "field_deg,x,y,intensity\n";
    for (const TPsf& p : psfs)
        for (int j = 0; j < p.size; ++j)
            for (int i = 0; i < p.size; ++i)
                csv += results::number(results::degrees(p.fieldAngle)) + ',' +
                       results::number(p.centreX + (i - p.size / 2) * p.dx) + ',' +
                       results::number(p.centreY + (j - p.size / 2) * p.dx) + ',' +
                       results::number(p.image[static_cast<std::size_t>(j) * p.size + i]) + '\n';
    return csv;
}

inline std::string mtfCsv(const std::vector<TMtf>& mtfs) {
    std::string csv = "field_deg,frequency,tangential,sagittal,diffraction_limit\n";
    for (const TMtf& m : mtfs)
        for (std::size_t k = 0; k < m.frequency.size(); ++k)
            csv += results::number(results::degrees(m.fieldAngle)) + ',' +
                   results::number(m.frequency[k]) + ',' + results::number(m.tangential[k]) + ',' +
                   results::number(m.sagittal[k]) + ',' + results::number(m.diffractionLimit[k]) +
                   '\n';
    return csv;
}

// Colour and field curves: wavelengths in µm, fields as the prescription
// gives them (degrees or lens units), lengths in lens units.
inline void to_json(nlohmann::json& j, const TFocalShift& f) {
    j = {{"wavelengthsUm", f.wavelengths},
         {"focusZ", f.focusZ},
         {"shift", f.shift},
         {"primaryFocusZ", f.primaryFocusZ},
         {"range", f.range}};
}

inline void to_json(nlohmann::json& j, const TLateralColour& c) {
    j = {{"field", c.field},
         {"shortUm", c.shortUm},
         {"longUm", c.longUm},
         {"z", c.z},
         {"shortHeight", c.shortHeight},
         {"longHeight", c.longHeight},
         {"difference", c.difference}};
}

inline void to_json(nlohmann::json& j, const TFieldCurves& c) {
    j = {{"field", c.field},
         {"wavelengthUm", c.wavelengthUm},
         {"z", c.z},
         {"tangential", results::values(c.tangential)},
         {"sagittal", results::values(c.sagittal)},
         {"height", c.height},
         {"paraxialHeight", c.paraxialHeight},
         {"distortionPercent", c.distortion}};
}

// Both colour curves in one table: the focal shift against the wavelength
// (µm), the lateral colour against the field.
inline std::string colourCsv(const TFocalShift& f, const TLateralColour& c) {
    std::string csv = "curve,abscissa,value\n";
    for (std::size_t i = 0; i < f.wavelengths.size(); ++i)
        csv += "focal_shift," + results::number(f.wavelengths[i]) + ',' + results::number(f.shift[i]) + '\n';
    for (std::size_t i = 0; i < c.field.size(); ++i)
        csv += "lateral_colour," + results::number(c.field[i]) + ',' + results::number(c.difference[i]) +
               '\n';
    return csv;
}

inline std::string fieldCurvesCsv(const TFieldCurves& c) {
    std::string csv = "field,tangential,sagittal,height,paraxial_height,distortion_percent\n";
    for (std::size_t i = 0; i < c.field.size(); ++i)
        csv += results::number(c.field[i]) + ',' + results::number(c.tangential[i]) + ',' +
               results::number(c.sagittal[i]) + ',' + results::number(c.height[i]) + ',' +
               results::number(c.paraxialHeight[i]) + ',' + results::number(c.distortion[i]) + '\n';
    return csv;
}

// The rays of a batch traced with its nodes kept: where each started and
// left, and how it fared ("ok" or the first line of its failure).
inline std::string rayStatus(const TRayBatch& batch, std::size_t i) {
    return batch.ok(i) ? "ok" : failureSummary(batch.message(i));
}

inline nlohmann::json rayRows(const TRayBatch& batch) {
    nlohmann::json rows = nlohmann::json::array();
    for (std::size_t i = 0; i < batch.size(); ++i) {
        const TBeam& beam = batch.beam(i);
        const TBeamNode& exit = beam.getLast();
        nlohmann::json row = {{"startX", beam[0].position.x},
                              {"exit", results::xyz(exit.position)},
                              {"direction", results::xyz(exit.kVector)},
                              {"intensity", exit.intensity},
                              {"phase", exit.opticalPath},
                              {"nodes", beam.getSize()},
                              {"ok", batch.ok(i)},
                              {"status", rayStatus(batch, i)}};
        if (!batch.ok(i)) row["message"] = batch.message(i);
        rows.push_back(row);
    }
    return rows;
}

inline std::string rayCsv(const TRayBatch& batch) {
    std::string csv = "ray,start_x,exit_x,exit_y,exit_z,dir_x,dir_y,dir_z,intensity,phase,status\n";
    for (std::size_t i = 0; i < batch.size(); ++i) {
        const TBeam& beam = batch.beam(i);
        const TBeamNode& exit = beam.getLast();
        csv += std::to_string(i + 1);
        for (double v : {beam[0].position.x, exit.position.x, exit.position.y, exit.position.z,
                         exit.kVector.x, exit.kVector.y, exit.kVector.z, exit.intensity,
                         exit.opticalPath})
            csv += ',' + results::number(v);
        csv += ',' + results::cell(rayStatus(batch, i)) + '\n';
    }
    return csv;
}

}  // namespace lumivex

#endif
