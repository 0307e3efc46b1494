// SPDX-License-Identifier: Apache-2.0
#include "svg.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace lumivex::cli {

namespace {

std::string pointList(const std::vector<Point2>& points) {
    std::string list;
    for (const Point2& p : points) {
        if (!list.empty()) list += ' ';
        list += coord(p.first) + ',' + coord(p.second);
    }
    return list;
}

std::string classAttribute(const std::string& cls) {
    return cls.empty() ? std::string() : " class=\"" + cls + "\"";
}

}  // namespace

std::string xmlEscape(const std::string& text) {
    std::string escaped;
    for (char c : text) {
        switch (c) {
            case '&':
                escaped += "&amp;";
                break;
            case '<':
                escaped += "&lt;";
                break;
            case '>':
                escaped += "&gt;";
                break;
            case '"':
                escaped += "&quot;";
                break;
            default:
                escaped += c;
        }
    }
    return escaped;
}

std::string coord(double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.2f", value);
    std::string text = buffer;
    while (!text.empty() && text.back() == '0') text.pop_back();
    if (!text.empty() && text.back() == '.') text.pop_back();
    if (text == "-0") text = "0";
    return text;
}

std::string rgb(double r, double g, double b) {
    auto channel = [](double v) {
        return static_cast<int>(std::lround(255.0 * std::clamp(v, 0.0, 1.0)));
    };
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "#%02x%02x%02x", channel(r), channel(g), channel(b));
    return buffer;
}

double niceLength(double target) {
    if (!(target > 0.0) || !std::isfinite(target)) return 1.0;
    const double decade = std::pow(10.0, std::floor(std::log10(target)));
    const double m = target / decade;
    return decade * (m < 1.5 ? 1.0 : m < 3.5 ? 2.0 : m < 7.5 ? 5.0 : 10.0);
}

SvgWriter::SvgWriter(double width_, double height_) : width(width_), height(height_) {}

void SvgWriter::raw(const std::string& markup) { body << markup << '\n'; }

void SvgWriter::rect(double x, double y, double w, double h, const std::string& style,
                     const std::string& cls) {
    body << "<rect" << classAttribute(cls) << " x=\"" << coord(x) << "\" y=\"" << coord(y)
         << "\" width=\"" << coord(w) << "\" height=\"" << coord(h) << "\" style=\"" << style
         << "\"/>\n";
}

void SvgWriter::line(double x1, double y1, double x2, double y2, const std::string& style,
                     const std::string& cls) {
    body << "<line" << classAttribute(cls) << " x1=\"" << coord(x1) << "\" y1=\"" << coord(y1)
         << "\" x2=\"" << coord(x2) << "\" y2=\"" << coord(y2) << "\" style=\"" << style
         << "\"/>\n";
}

void SvgWriter::circle(double cx, double cy, double r, const std::string& style) {
    body << "<circle cx=\"" << coord(cx) << "\" cy=\"" << coord(cy) << "\" r=\"" << coord(r)
         << "\" style=\"" << style << "\"/>\n";
}

void SvgWriter::polyline(const std::vector<Point2>& points, const std::string& style,
                         const std::string& cls, const std::string& title) {
    body << "<polyline" << classAttribute(cls) << " points=\"" << pointList(points) << "\" style=\""
         << style << "\"";
    if (title.empty())
        body << "/>\n";
    else
        body << "><title>" << xmlEscape(title) << "</title></polyline>\n";
}

void SvgWriter::polygon(const std::vector<Point2>& points, const std::string& style,
                        const std::string& cls) {
    body << "<polygon" << classAttribute(cls) << " points=\"" << pointList(points) << "\" style=\""
         << style << "\"/>\n";
}

void SvgWriter::path(const std::vector<Point2>& points, const std::string& style,
                     const std::string& cls, const std::string& title) {
    std::string d;
    for (std::size_t i = 0; i < points.size(); ++i)
        d += (i == 0 ? "M" : (i == 1 ? " L" : " ")) + coord(points[i].first) + ',' +
             coord(points[i].second);
    body << "<path" << classAttribute(cls) << " d=\"" << d << "\" style=\"" << style << "\"";
    if (title.empty())
        body << "/>\n";
    else
        body << "><title>" << xmlEscape(title) << "</title></path>\n";
}

void SvgWriter::text(double x, double y, const std::string& content, const std::string& style,
                     const std::string& anchor) {
    body << "<text x=\"" << coord(x) << "\" y=\"" << coord(y) << "\" text-anchor=\"" << anchor
         << "\" style=\"" << style << "\">" << xmlEscape(content) << "</text>\n";
}

std::string SvgWriter::str() const {
    std::ostringstream os;
    os << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
       << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << coord(width) << "\" height=\""
       << coord(height) << "\" viewBox=\"0 0 " << coord(width) << ' ' << coord(height)
       << "\" font-family=\"DejaVu Sans, Helvetica, Arial, sans-serif\">\n"
       << body.str() << "</svg>\n";
    return os.str();
}

}  // namespace lumivex::cli
