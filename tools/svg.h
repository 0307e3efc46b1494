// SPDX-License-Identifier: Apache-2.0
// A small SVG writer: the few elements the tool's figures need, with
// numbers rounded to what a screen can show.
#ifndef LUMIVEX_TOOLS_SVG_H
#define LUMIVEX_TOOLS_SVG_H

#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace lumivex::cli {

using Point2 = std::pair<double, double>;  // picture coordinates, y down

class SvgWriter {
public:
    SvgWriter(double width, double height);

    // Raw markup (gradient definitions and the like).
    void raw(const std::string& markup);
    void rect(double x, double y, double w, double h, const std::string& style,
              const std::string& cls = "");
    void line(double x1, double y1, double x2, double y2, const std::string& style,
              const std::string& cls = "");
    void circle(double cx, double cy, double r, const std::string& style);
    void polyline(const std::vector<Point2>& points, const std::string& style,
                  const std::string& cls = "", const std::string& title = "");
    void polygon(const std::vector<Point2>& points, const std::string& style,
                 const std::string& cls = "");
    // An open path through the points.
    void path(const std::vector<Point2>& points, const std::string& style,
              const std::string& cls = "", const std::string& title = "");
    // anchor: "start", "middle" or "end".
    void text(double x, double y, const std::string& content, const std::string& style,
              const std::string& anchor = "start");

    std::string str() const;

private:
    std::ostringstream body;
    double width;
    double height;
};

// Escapes the XML special characters.
std::string xmlEscape(const std::string& text);
// A coordinate with two decimals, without trailing zeros.
std::string coord(double value);
// "#rrggbb" for channels in 0 … 1.
std::string rgb(double r, double g, double b);
// A "nice" length (1, 2 or 5 times a power of ten) near `target`.
double niceLength(double target);

}  // namespace lumivex::cli

#endif
