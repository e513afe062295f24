#include "outputs/Plots.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>
#include <unordered_map>
#include <utility>

#include "core/Chromosome.h"
#include "stats/statistic.h"

namespace ombra {
namespace {

constexpr double kGenomeWide = 5e-8;
constexpr double kThinAbove = 0.01;
// The same two levels as -log10 p.
const double kGenomeWideLog10 = -std::log10(kGenomeWide);
const double kThinAboveLog10 = -std::log10(kThinAbove);
constexpr size_t kMaxHitLabels = 10;
constexpr size_t kTopLabelsWithoutHits = 5;
const char* const kChromosomeColours[2] = {"#2f5597", "#e08a2b"};
const char* const kQqColour = "#2f5597";

// The data rectangle of a panel, in pixels.
struct Area {
  double x, y, w, h;
  double bottom() const { return y + h; }
  double right() const { return x + w; }
};

// A point with -log10 p from 0 (p = 1) to infinity (p = 0).
bool plottable(double log10p) { return log10p >= 0; }

// A pixel y for the value v on an axis from 0 (bottom) to vmax (top).
double yPixel(const Area& a, double v, double vmax) { return a.y + a.h * (1.0 - v / vmax); }

// A tick step of 1, 2 or 5 times a power of ten giving at most `most` steps.
double tickStep(double range, int most) {
  double step = std::pow(10.0, std::floor(std::log10(range / most)));
  for (double factor : {1.0, 2.0, 5.0, 10.0}) {
    if (range / (step * factor) <= most) return step * factor;
  }
  return step * 10.0;
}

// The top of an axis that holds v with `headroom` (a factor), on a whole tick.
double axisTop(double v, double headroom) {
  double top = std::max(v * headroom, 1.0);
  double step = tickStep(top, 8);
  return std::ceil(top / step - 1e-9) * step;
}

// Pixel coordinates with one decimal: enough for the eye, small files. Made
// from the rounded tenths, as printf's "%.1f" would print them but without
// its cost, which shows at a million dots.
void appendNumber(std::string& out, double v) {
  if (!(std::fabs(v) < 1e15)) {
    char buffer[32];
    int n = std::snprintf(buffer, sizeof buffer, "%.1f", v);
    out.append(buffer, static_cast<size_t>(n));
    return;
  }
  long long tenths = std::llround(v * 10);
  if (tenths < 0) out += '-';
  unsigned long long magnitude = static_cast<unsigned long long>(tenths < 0 ? -tenths : tenths);
  char digits[24];
  int n = 0;
  for (unsigned long long whole = magnitude / 10; n == 0 || whole > 0; whole /= 10) {
    digits[n++] = static_cast<char>('0' + whole % 10);
  }
  while (n > 0) out += digits[--n];
  out += '.';
  out += static_cast<char>('0' + magnitude % 10);
}

void appendMove(std::string& out, double x, double y) {
  out += 'M';
  appendNumber(out, x);
  out += ' ';
  appendNumber(out, y);
}

// Bytes of the valid UTF-8 character XML may hold at s[i], or 0.
size_t utf8Length(const std::string& s, size_t i) {
  unsigned char lead = static_cast<unsigned char>(s[i]);
  if (lead < 0x80) return lead >= 0x20 || lead == '\t' || lead == '\n' ? 1 : 0;
  size_t length = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 && lead < 0xE0 ? 2 : 0;
  if (length == 0 || lead > 0xF4 || i + length > s.size()) return 0;
  for (size_t k = 1; k < length; ++k) {
    if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 0;
  }
  // Overlong forms and UTF-16 surrogates are not characters.
  unsigned char second = static_cast<unsigned char>(s[i + 1]);
  if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second >= 0xA0) || (lead == 0xF0 && second < 0x90) ||
      (lead == 0xF4 && second >= 0x90)) {
    return 0;
  }
  if (lead == 0xEF && second == 0xBF && static_cast<unsigned char>(s[i + 2]) >= 0xBE) return 0;  // U+FFFE, U+FFFF
  return length;
}

// Appends SVG text: numbers with one decimal, text escaped for XML.
class Svg {
 public:
  Svg(double width, double height) {
    out_ = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\"";
    attr("width", width);
    attr("height", height);
    out_ += " viewBox=\"0 0 ";
    num(width);
    out_ += ' ';
    num(height);
    out_ += "\" font-family=\"DejaVu Sans, Arial, sans-serif\" font-size=\"12\">\n";
    out_ += "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
  }
  Svg& raw(const std::string& s) {
    out_ += s;
    return *this;
  }
  Svg& num(double v) {
    appendNumber(out_, v);
    return *this;
  }
  Svg& attr(const char* name, double v) {
    out_ += ' ';
    out_ += name;
    out_ += "=\"";
    num(v);
    out_ += '"';
    return *this;
  }
  // Names come from input files: markup characters become entities, and
  // bytes that XML 1.0 in UTF-8 cannot carry (control characters, broken
  // UTF-8 sequences) become '?'.
  Svg& escaped(const std::string& s) {
    for (size_t i = 0; i < s.size(); ++i) {
      char c = s[i];
      switch (c) {
        case '&': out_ += "&amp;"; break;
        case '<': out_ += "&lt;"; break;
        case '>': out_ += "&gt;"; break;
        case '"': out_ += "&quot;"; break;
        case '\'': out_ += "&apos;"; break;
        default: {
          size_t length = utf8Length(s, i);
          if (length == 0) {
            out_ += '?';
          } else {
            out_.append(s, i, length);
            i += length - 1;
          }
        }
      }
    }
    return *this;
  }
  Svg& line(double x1, double y1, double x2, double y2, const char* style) {
    out_ += "<line";
    attr("x1", x1).attr("y1", y1).attr("x2", x2).attr("y2", y2);
    return raw(" ").raw(style).raw("/>\n");
  }
  Svg& text(double x, double y, const char* style, const std::string& content) {
    out_ += "<text";
    attr("x", x).attr("y", y);
    return raw(" ").raw(style).raw(">").escaped(content).raw("</text>\n");
  }
  std::string finish() { return std::move(out_ += "</svg>\n"); }

 private:
  std::string out_;
};

std::string shortNumber(double v) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%g", v);
  return buffer;
}

// Dots of one colour: zero-length segments drawn with round caps. Bulk dots
// (p above the thinning limit) are kept only for the first of each pixel cell.
class DotLayer {
 public:
  DotLayer(const Area& area, const char* colour, double diameter)
      : area_(area), colour_(colour), diameter_(diameter),
        columns_(static_cast<int>(area.w) + 3), rows_(static_cast<int>(area.h) + 3),
        occupied_(static_cast<size_t>(columns_) * rows_, 0) {}

  void add(double x, double y, bool bulk) {
    if (bulk && !claimCell(x, y)) return;
    appendMove(dots_, x, y);
    dots_ += "h0";
  }
  // A point whose p is 0, drawn at the cap as a triangle.
  void addCapped(double x, double y) {
    appendMove(capped_, x, y);
    capped_ += "m0 -4l3.5 6h-7z";
  }
  bool anyCapped() const { return !capped_.empty(); }
  void write(Svg& svg) const {
    if (!dots_.empty()) {
      svg.raw("<path class=\"dots\" fill=\"none\" stroke=\"").raw(colour_)
          .raw("\" stroke-linecap=\"round\"").attr("stroke-width", diameter_).raw(" d=\"")
          .raw(dots_).raw("\"/>\n");
    }
    if (!capped_.empty()) {
      svg.raw("<path class=\"capped\" fill=\"").raw(colour_).raw("\" d=\"").raw(capped_).raw("\"/>\n");
    }
  }

 private:
  bool claimCell(double x, double y) {
    int column = std::clamp(static_cast<int>(x - area_.x + 1), 0, columns_ - 1);
    int row = std::clamp(static_cast<int>(y - area_.y + 1), 0, rows_ - 1);
    unsigned char& cell = occupied_[static_cast<size_t>(column) * rows_ + row];
    if (cell) return false;
    cell = 1;
    return true;
  }

  Area area_;
  const char* colour_;
  double diameter_;
  int columns_, rows_;
  std::vector<unsigned char> occupied_;
  std::string dots_, capped_;
};

// The y axis of a panel: line, ticks and their values, and its name.
void yAxis(Svg& svg, const Area& a, double ymax, const std::string& name) {
  const char* kAxis = "stroke=\"#333\" stroke-width=\"1\"";
  svg.line(a.x - 6, a.y, a.x - 6, a.bottom(), kAxis);
  double step = tickStep(ymax, 8);
  for (double v = 0; v <= ymax + step * 1e-6; v += step) {
    double y = yPixel(a, v, ymax);
    svg.line(a.x - 10, y, a.x - 6, y, kAxis);
    svg.text(a.x - 13, y + 4, "text-anchor=\"end\"", shortNumber(v));
  }
  svg.raw("<text transform=\"translate(").num(a.x - 44).raw(" ").num(a.y + a.h / 2)
      .raw(") rotate(-90)\" text-anchor=\"middle\">").escaped(name).raw("</text>\n");
}

void panelOpen(Svg& svg, const Area& a, const std::string& statistic, double ymax, double xmax) {
  svg.raw("<g class=\"panel\" data-statistic=\"").escaped(statistic).raw("\"").attr("data-ymax", ymax);
  if (xmax > 0) svg.attr("data-xmax", xmax);
  svg.raw(">\n<rect class=\"area\"").attr("x", a.x).attr("y", a.y).attr("width", a.w).attr("height", a.h)
      .raw(" fill=\"none\"/>\n");
  svg.text(a.x, a.y - 12, "font-size=\"15\" font-weight=\"bold\"", statistic);
}

// Says what the triangles are, at the top right of the area.
void capNote(Svg& svg, const Area& a) {
  svg.text(a.right(), a.y - 12, "class=\"capnote\" text-anchor=\"end\" font-size=\"11\"",
           "\u25b2 p = 0, drawn at the largest finite \u2212log\u2081\u2080 p");
}

// The height of a plotted point; p = 0 (an infinite -log10 p) takes the cap.
double height(double log10p, double cap) { return std::isinf(log10p) ? cap : log10p; }

// Where p = 0 is drawn: the largest finite -log10 p of the panel, at least
// the genome-wide line, so that the cap never stands out as a new record.
double capOf(const PlotPanel& panel) {
  double cap = -std::log10(kGenomeWide);
  for (const PlotPoint& point : panel.points) {
    if (plottable(point.log10p) && !std::isinf(point.log10p)) cap = std::max(cap, point.log10p);
  }
  return cap;
}

// The x extent of every chromosome: its width on the axis is its span of
// positions, at least a small share of the genome so that a chromosome of
// one SNP stays visible, with a gap between chromosomes.
class GenomeAxis {
 public:
  GenomeAxis(const std::vector<PlotPanel>& panels, const Area& area) : area_(area) {
    names_ = chromosomeOrder(panels);
    for (size_t c = 0; c < names_.size(); ++c) index_.emplace(names_[c], static_cast<int>(c));
    low_.assign(names_.size(), std::numeric_limits<long>::max());
    high_.assign(names_.size(), std::numeric_limits<long>::min());
    for (const PlotPanel& panel : panels) {
      for (const PlotPoint& point : panel.points) {
        if (!plottable(point.log10p)) continue;
        int c = chromosomeOf(point.chr);
        low_[c] = std::min(low_[c], point.position);
        high_[c] = std::max(high_[c], point.position);
      }
    }
    layOut();
  }
  size_t count() const { return names_.size(); }
  const std::string& name(size_t c) const { return names_[c]; }
  // Only for names that chromosomeOrder listed.
  int chromosomeOf(const std::string& chr) {
    if (last_ < 0 || names_[last_] != chr) last_ = index_.at(chr);
    return last_;
  }
  double x(int c, long position) const {
    return area_.x + (start_[c] + (static_cast<double>(position) - low_[c])) * scale_;
  }
  double centre(size_t c) const { return area_.x + (start_[c] + spanOf(c) / 2) * scale_; }

 private:
  double spanOf(size_t c) const { return static_cast<double>(high_[c]) - static_cast<double>(low_[c]); }
  void layOut() {
    double spans = 0;
    for (size_t c = 0; c < names_.size(); ++c) spans += spanOf(c);
    double least = spans > 0 ? spans * 0.004 : 1.0;
    double total = 0;
    std::vector<double> widths;
    for (size_t c = 0; c < names_.size(); ++c) widths.push_back(std::max(spanOf(c), least));
    for (double w : widths) total += w;
    double gap = total * 0.006;
    double at = 0;
    for (size_t c = 0; c < names_.size(); ++c) {
      start_.push_back(at + (widths[c] - spanOf(c)) / 2);
      at += widths[c] + gap;
    }
    double used = at - (names_.empty() ? 0 : gap);
    scale_ = used > 0 ? area_.w / used : 0;
  }

  Area area_;
  std::vector<std::string> names_;
  std::unordered_map<std::string, int> index_;
  std::vector<long> low_, high_;
  std::vector<double> start_;
  double scale_ = 0;
  int last_ = -1;
};

// The points of a panel to label, most significant first: the best SNP of
// each chromosome with p below the genome-wide level, or the top SNPs of
// the panel when none is below it. Ties keep input order.
std::vector<size_t> labelledPoints(const PlotPanel& panel, GenomeAxis& axis) {
  auto moreSignificant = [&panel](size_t a, size_t b) {
    return panel.points[a].log10p > panel.points[b].log10p ||
           (panel.points[a].log10p == panel.points[b].log10p && a < b);
  };
  std::vector<long> best(axis.count(), -1);
  std::vector<size_t> all;
  for (size_t i = 0; i < panel.points.size(); ++i) {
    const PlotPoint& point = panel.points[i];
    if (!plottable(point.log10p)) continue;
    all.push_back(i);
    if (!(point.log10p > kGenomeWideLog10)) continue;
    long& leader = best[axis.chromosomeOf(point.chr)];
    if (leader < 0 || moreSignificant(i, static_cast<size_t>(leader))) leader = static_cast<long>(i);
  }
  std::vector<size_t> chosen;
  for (long leader : best) {
    if (leader >= 0) chosen.push_back(static_cast<size_t>(leader));
  }
  bool hits = !chosen.empty();
  if (!hits) chosen.swap(all);
  size_t keep = std::min(chosen.size(), hits ? kMaxHitLabels : kTopLabelsWithoutHits);
  std::partial_sort(chosen.begin(), chosen.begin() + static_cast<long>(keep), chosen.end(), moreSignificant);
  chosen.resize(keep);
  return chosen;
}

// Labels placed over their points, each moved up past the labels placed
// before it (the more significant ones) until it overlaps none.
class LabelPlacer {
 public:
  explicit LabelPlacer(const Area& area) : area_(area) {}
  void place(Svg& svg, double x, double y, const std::string& text) {
    double width = 6.6 * static_cast<double>(text.size()) + 4;
    double left = std::clamp(x - width / 2, area_.x, std::max(area_.x, area_.right() - width));
    double baseline = y - 7;
    while (overlapsPlaced(left, baseline, width) && baseline > area_.y - 20) baseline -= 12;
    boxes_.push_back({left, baseline, width});
    if (baseline < y - 7 || left != x - width / 2) {
      svg.line(x, y - 3, left + width / 2, baseline + 2, "stroke=\"#888\" stroke-width=\"0.6\"");
    }
    svg.text(left + width / 2, baseline, "class=\"label\" text-anchor=\"middle\" font-size=\"11\"", text);
  }

 private:
  struct Box {
    double left, baseline, width;
  };
  bool overlapsPlaced(double left, double baseline, double width) const {
    for (const Box& b : boxes_) {
      if (left < b.left + b.width && b.left < left + width && std::fabs(baseline - b.baseline) < 12) return true;
    }
    return false;
  }
  Area area_;
  std::vector<Box> boxes_;
};

void chromosomeLabels(Svg& svg, const GenomeAxis& axis, const Area& a) {
  double lastRight = -1e9;
  for (size_t c = 0; c < axis.count(); ++c) {
    double x = axis.centre(c);
    double half = 3.6 * static_cast<double>(axis.name(c).size()) + 2;
    if (x - half < lastRight) continue;  // crowded: every other name is enough
    svg.text(x, a.bottom() + 20, "class=\"chromosome\" text-anchor=\"middle\" font-size=\"11\"", axis.name(c));
    lastRight = x + half;
  }
  svg.text(a.x + a.w / 2, a.bottom() + 40, "text-anchor=\"middle\"", "Chromosome");
  svg.line(a.x, a.bottom() + 6, a.right(), a.bottom() + 6, "stroke=\"#333\" stroke-width=\"1\"");
}

constexpr double kManhattanWidth = 1200, kManhattanPanelHeight = 310;

void manhattanPanel(Svg& svg, const PlotPanel& panel, GenomeAxis& axis, const Area& a) {
  double cap = capOf(panel);
  double ymax = axisTop(cap, 1.12);  // room for the labels
  panelOpen(svg, a, panel.statistic, ymax, 0);
  yAxis(svg, a, ymax, "\u2212log\u2081\u2080 p");
  double threshold = yPixel(a, -std::log10(kGenomeWide), ymax);
  svg.line(a.x, threshold, a.right(), threshold,
           "class=\"threshold\" stroke=\"#c0392b\" stroke-width=\"1\" stroke-dasharray=\"6 4\"");
  DotLayer layers[2] = {DotLayer(a, kChromosomeColours[0], 4.2), DotLayer(a, kChromosomeColours[1], 4.2)};
  for (const PlotPoint& point : panel.points) {
    if (!plottable(point.log10p)) continue;
    int c = axis.chromosomeOf(point.chr);
    double x = axis.x(c, point.position);
    double y = yPixel(a, height(point.log10p, cap), ymax);
    if (std::isinf(point.log10p)) {
      layers[c % 2].addCapped(x, y);
    } else {
      layers[c % 2].add(x, y, point.log10p < kThinAboveLog10);
    }
  }
  for (const DotLayer& layer : layers) layer.write(svg);
  if (layers[0].anyCapped() || layers[1].anyCapped()) capNote(svg, a);
  LabelPlacer labels(a);
  for (size_t i : labelledPoints(panel, axis)) {
    const PlotPoint& point = panel.points[i];
    double x = axis.x(axis.chromosomeOf(point.chr), point.position);
    labels.place(svg, x, yPixel(a, height(point.log10p, cap), ymax), point.snp);
  }
  chromosomeLabels(svg, axis, a);
  svg.raw("</g>\n");
}

constexpr double kQqPanelSize = 410;

// Ranks at which the band is evaluated: every one of the first ten, then
// about 8% apart up to n; the band is smooth between them on a log scale.
std::vector<double> bandRanks(size_t n) {
  std::vector<double> ranks;
  double i = 1;
  while (i < static_cast<double>(n)) {
    ranks.push_back(i);
    i = i < 10 ? i + 1 : std::ceil(i * 1.08);
  }
  if (n > 0) ranks.push_back(static_cast<double>(n));
  return ranks;
}

void qqBand(Svg& svg, const Area& a, size_t n, double xmax, double ymax) {
  std::vector<double> ranks = bandRanks(n);
  if (ranks.size() < 2) return;
  double count = static_cast<double>(n);
  std::string upper;
  std::vector<std::pair<double, double>> lower;
  for (size_t k = 0; k < ranks.size(); ++k) {
    double i = ranks[k];
    double x = a.x + a.w * (-std::log10((i - 0.5) / count)) / xmax;
    double high = std::min(-std::log10(betaQuantile(0.025, i, count - i + 1)), ymax);
    double low = std::min(-std::log10(betaQuantile(0.975, i, count - i + 1)), ymax);
    upper += k == 0 ? 'M' : 'L';
    appendNumber(upper, x);
    upper += ' ';
    appendNumber(upper, yPixel(a, high, ymax));
    lower.emplace_back(x, yPixel(a, low, ymax));
  }
  for (auto point = lower.rbegin(); point != lower.rend(); ++point) {
    upper += 'L';
    appendNumber(upper, point->first);
    upper += ' ';
    appendNumber(upper, point->second);
  }
  svg.raw("<path class=\"band\" fill=\"#d9d9d9\" stroke=\"none\" d=\"").raw(upper).raw("Z\"/>\n");
}

void xAxis(Svg& svg, const Area& a, double xmax) {
  const char* kAxis = "stroke=\"#333\" stroke-width=\"1\"";
  svg.line(a.x, a.bottom() + 6, a.right(), a.bottom() + 6, kAxis);
  double step = tickStep(xmax, 6);
  for (double v = 0; v <= xmax + step * 1e-6; v += step) {
    double x = a.x + a.w * v / xmax;
    svg.line(x, a.bottom() + 6, x, a.bottom() + 10, kAxis);
    svg.text(x, a.bottom() + 23, "text-anchor=\"middle\"", shortNumber(v));
  }
  svg.text(a.x + a.w / 2, a.bottom() + 40, "text-anchor=\"middle\"", "Expected \u2212log\u2081\u2080 p");
}

void qqPanel(Svg& svg, const PlotPanel& panel, const Area& a) {
  // -log10 p of every plotted point, most significant first.
  std::vector<double> ps;
  for (const PlotPoint& point : panel.points) {
    if (plottable(point.log10p)) ps.push_back(point.log10p);
  }
  std::sort(ps.begin(), ps.end(), std::greater<double>());
  double n = static_cast<double>(ps.size());
  double cap = capOf(panel);
  double xmax = axisTop(ps.empty() ? 1.0 : -std::log10(0.5 / n), 1.02);
  double ymax = axisTop(std::max(cap, -std::log10(0.5 / std::max(n, 1.0))), 1.05);
  panelOpen(svg, a, panel.statistic, ymax, xmax);
  yAxis(svg, a, ymax, "Observed \u2212log\u2081\u2080 p");
  qqBand(svg, a, ps.size(), xmax, ymax);
  double diagonal = std::min(xmax, ymax);
  svg.line(a.x, a.bottom(), a.x + a.w * diagonal / xmax, yPixel(a, diagonal, ymax),
           "class=\"diagonal\" stroke=\"#c0392b\" stroke-width=\"1\"");
  DotLayer dots(a, kQqColour, 3.6);
  for (size_t i = 0; i < ps.size(); ++i) {
    double x = a.x + a.w * (-std::log10((static_cast<double>(i) + 0.5) / n)) / xmax;
    double y = yPixel(a, height(ps[i], cap), ymax);
    if (std::isinf(ps[i])) {
      dots.addCapped(x, y);
    } else {
      dots.add(x, y, ps[i] < kThinAboveLog10);
    }
  }
  dots.write(svg);
  if (dots.anyCapped()) capNote(svg, a);
  char lambda[48] = "\u03bb = NA";
  if (!std::isnan(panel.lambda)) std::snprintf(lambda, sizeof lambda, "\u03bb = %.3f", panel.lambda);
  svg.text(a.x + 12, a.y + 20, "class=\"lambda\" font-size=\"14\"", lambda);
  xAxis(svg, a, xmax);
  svg.raw("</g>\n");
}

}  // namespace

std::vector<std::string> chromosomeOrder(const std::vector<PlotPanel>& panels) {
  std::vector<std::string> names;
  std::unordered_map<std::string, size_t> seen;
  const std::string* last = nullptr;
  for (const PlotPanel& panel : panels) {
    for (const PlotPoint& point : panel.points) {
      if (!plottable(point.log10p) || (last && *last == point.chr)) continue;
      last = &point.chr;
      if (seen.emplace(point.chr, names.size()).second) names.push_back(point.chr);
    }
  }
  // The human chromosomes by code, the rest after them as first seen.
  std::vector<std::pair<int, std::string>> ranked;
  ranked.reserve(names.size());
  for (std::string& name : names) {
    const int code = chromosomeCode(name);
    ranked.emplace_back(isHumanChromosome(code) ? code : kChromosomeMT + 1, std::move(name));
  }
  std::stable_sort(ranked.begin(), ranked.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  names.clear();
  for (auto& entry : ranked) names.push_back(std::move(entry.second));
  return names;
}

std::string manhattanSvg(const std::vector<PlotPanel>& panels) {
  double height = kManhattanPanelHeight * static_cast<double>(std::max<size_t>(panels.size(), 1));
  Svg svg(kManhattanWidth, height);
  Area first{70, 36, kManhattanWidth - 70 - 20, kManhattanPanelHeight - 36 - 56};
  GenomeAxis axis(panels, first);
  for (size_t k = 0; k < panels.size(); ++k) {
    Area a = first;
    a.y += kManhattanPanelHeight * static_cast<double>(k);
    manhattanPanel(svg, panels[k], axis, a);
  }
  return svg.finish();
}

std::string qqSvg(const std::vector<PlotPanel>& panels) {
  Svg svg(kQqPanelSize * static_cast<double>(std::max<size_t>(panels.size(), 1)), kQqPanelSize);
  for (size_t k = 0; k < panels.size(); ++k) {
    Area a{kQqPanelSize * static_cast<double>(k) + 66, 36, kQqPanelSize - 66 - 20, kQqPanelSize - 36 - 56};
    qqPanel(svg, panels[k], a);
  }
  return svg.finish();
}

double betaQuantile(double q, double a, double b) {
  if (!(q > 0 && q < 1 && a > 0 && b > 0)) return std::nan("");
  StatisticTool tool;
  // Bisection on log x rather than StatisticTool::betainv, whose Newton
  // steps stop at an absolute 1.5e-8: at n = 10^7 the band's top end (a
  // quantile near 2.5e-9) would come out 11% off.
  double low = std::log(std::numeric_limits<double>::min()), high = 0;
  while (high - low > 1e-8) {
    double mid = (low + high) / 2;
    if (tool.betacdf(std::exp(mid), a, b) < q) {
      low = mid;
    } else {
      high = mid;
    }
  }
  return std::exp((low + high) / 2);
}

}  // namespace ombra
