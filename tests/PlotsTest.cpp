// Manhattan and QQ plots, read back as XML: the documents are well formed
// (a small checker here, and xmllint when installed), every point with
// p <= 0.01 sits at the coordinates its p and position give, the lines,
// labels and lambda are there, and thinning keeps a million SNPs small.
//
// With OMBRA_PLOT_OUTPUT=<folder> the example data's plots and those of a
// simulated million SNPs are also written there, to be rendered and looked at.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <stdexcept>

#include "TestSupport.h"
#include "outputs/Plots.h"

using ombra::PlotPanel;
using ombra::PlotPoint;
using testing_support::TempDir;

namespace {

// A point at p-value `p` (0: infinitely significant; NaN or above 1: not plotted).
PlotPoint pointAt(std::string chr, long position, std::string snp, double p) {
  return {std::move(chr), position, std::move(snp), -std::log10(p)};
}
// The p-value of a point.
double pOf(const PlotPoint& point) { return std::pow(10.0, -point.log10p); }

const std::string kExamples = std::string(OMBRA_SOURCE_DIR) + "/examples/";

// One element of a parsed document: its name, attributes and own text.
struct Element {
  std::string name;
  std::map<std::string, std::string> attributes;
  std::string text;
  int parent = -1;
};

std::string unescape(const std::string& s) {
  static const std::map<std::string, char> kEntities = {
      {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '&') {
      out += s[i];
      continue;
    }
    size_t end = s.find(';', i);
    if (end == std::string::npos || !kEntities.count(s.substr(i + 1, end - i - 1))) {
      throw std::runtime_error("bad entity at " + s.substr(i, 10));
    }
    out += kEntities.at(s.substr(i + 1, end - i - 1));
    i = end;
  }
  return out;
}

// Parses the subset of XML the plots use (declaration, elements, attributes
// in double quotes, text with entities); throws on anything malformed, an
// unbalanced tag included.
std::vector<Element> parseXml(const std::string& doc) {
  std::vector<Element> elements;
  std::vector<int> open;
  size_t at = 0;
  if (doc.compare(0, 5, "<?xml") == 0) at = doc.find("?>") + 2;
  while (at < doc.size()) {
    size_t tag = doc.find('<', at);
    std::string text = doc.substr(at, (tag == std::string::npos ? doc.size() : tag) - at);
    if (text.find('>') != std::string::npos) throw std::runtime_error("raw > in text");
    if (!open.empty()) elements[static_cast<size_t>(open.back())].text += unescape(text);
    else if (text.find_first_not_of(" \n") != std::string::npos) throw std::runtime_error("text outside root");
    if (tag == std::string::npos) break;
    size_t close = doc.find('>', tag);
    if (close == std::string::npos) throw std::runtime_error("unclosed tag");
    std::string body = doc.substr(tag + 1, close - tag - 1);
    at = close + 1;
    if (body[0] == '/') {
      if (open.empty() || elements[static_cast<size_t>(open.back())].name != body.substr(1)) {
        throw std::runtime_error("unbalanced </" + body.substr(1) + ">");
      }
      open.pop_back();
      continue;
    }
    bool selfClosing = body.back() == '/';
    if (selfClosing) body.pop_back();
    Element e;
    e.parent = open.empty() ? -1 : open.back();
    size_t i = body.find_first_of(" \n");
    e.name = body.substr(0, i);
    while (i != std::string::npos && (i = body.find_first_not_of(" \n", i)) != std::string::npos) {
      size_t eq = body.find('=', i);
      if (eq == std::string::npos || body[eq + 1] != '"') throw std::runtime_error("bad attribute in " + body);
      size_t end = body.find('"', eq + 2);
      if (end == std::string::npos) throw std::runtime_error("unclosed attribute");
      std::string value = body.substr(eq + 2, end - eq - 2);
      if (value.find('<') != std::string::npos) throw std::runtime_error("raw < in attribute");
      if (!e.attributes.emplace(body.substr(i, eq - i), unescape(value)).second) {
        throw std::runtime_error("repeated attribute");
      }
      i = end + 1;
    }
    if (elements.empty() == false && open.empty()) throw std::runtime_error("second root");
    elements.push_back(e);
    if (!selfClosing) open.push_back(static_cast<int>(elements.size() - 1));
  }
  if (!open.empty()) throw std::runtime_error("unclosed <" + elements[static_cast<size_t>(open.back())].name + ">");
  return elements;
}

// xmllint's verdict when it is installed: true when well formed or absent.
bool xmllintAccepts(const std::string& doc) {
  if (std::system("command -v xmllint >/dev/null 2>&1") != 0) return true;
  TempDir dir;
  dir.write("plot.svg", doc);
  return std::system(("xmllint --noout " + dir.file("plot.svg") + " 2>&1").c_str()) == 0;
}

struct Point2 {
  double x, y;
};

// The starting point of every subpath ("M x y") of a path's data.
std::vector<Point2> pathPoints(const std::string& d) {
  std::vector<Point2> points;
  for (size_t i = d.find('M'); i != std::string::npos; i = d.find('M', i + 1)) {
    Point2 p;
    std::istringstream(d.substr(i + 1, 24)) >> p.x >> p.y;
    points.push_back(p);
  }
  return points;
}

// A parsed plot panel: its area, axis tops, dots, capped points and texts.
struct Panel {
  double x = 0, y = 0, w = 0, h = 0, ymax = 0, xmax = 0;
  std::vector<Point2> dots, capped;
  std::vector<std::string> labels;
  std::vector<Element> elements;  // its children, copied
  double yOf(double v) const { return y + h * (1 - v / ymax); }
  bool hasDot(double px, double py, const std::vector<Point2>& set) const {
    for (const Point2& d : set) {
      if (std::fabs(d.x - px) <= 0.051 && std::fabs(d.y - py) <= 0.051) return true;
    }
    return false;
  }
};

double number(const Element& e, const char* attribute) { return std::stod(e.attributes.at(attribute)); }

std::map<std::string, Panel> panels(const std::vector<Element>& elements) {
  std::map<std::string, Panel> out;
  std::map<int, std::string> panelOf;
  for (size_t k = 0; k < elements.size(); ++k) {
    const Element& e = elements[k];
    auto cls = e.attributes.find("class");
    if (cls != e.attributes.end() && cls->second == "panel") {
      std::string name = e.attributes.at("data-statistic");
      panelOf[static_cast<int>(k)] = name;
      out[name].ymax = number(e, "data-ymax");
      if (e.attributes.count("data-xmax")) out[name].xmax = number(e, "data-xmax");
      continue;
    }
    if (!panelOf.count(e.parent)) continue;
    Panel& p = out[panelOf[e.parent]];
    p.elements.push_back(e);
    if (cls == e.attributes.end()) continue;
    if (cls->second == "area") {
      p.x = number(e, "x"), p.y = number(e, "y"), p.w = number(e, "width"), p.h = number(e, "height");
    } else if (cls->second == "dots") {
      for (Point2 d : pathPoints(e.attributes.at("d"))) p.dots.push_back(d);
    } else if (cls->second == "capped") {
      p.capped = pathPoints(e.attributes.at("d"));
    } else if (cls->second == "label") {
      p.labels.push_back(e.text);
    }
  }
  return out;
}

const Element* findClass(const Panel& p, const std::string& cls) {
  for (const Element& e : p.elements) {
    auto it = e.attributes.find("class");
    if (it != e.attributes.end() && it->second == cls) return &e;
  }
  return nullptr;
}

std::vector<Element> parseChecked(const std::string& svg) {
  EXPECT_TRUE(xmllintAccepts(svg));
  return parseXml(svg);
}

PlotPanel panelOf(const std::string& statistic, std::vector<PlotPoint> points, double lambda = 1.0) {
  PlotPanel panel;
  panel.statistic = statistic;
  panel.points = std::move(points);
  panel.lambda = lambda;
  return panel;
}

}  // namespace

TEST(PlotsXmlChecker, RefusesMalformedDocuments) {
  EXPECT_NO_THROW(parseXml("<?xml version=\"1.0\"?>\n<a x=\"1\"><b/>t &amp; u</a>\n"));
  EXPECT_THROW(parseXml("<a><b></a></b>"), std::runtime_error);
  EXPECT_THROW(parseXml("<a><b>"), std::runtime_error);
  EXPECT_THROW(parseXml("<a>x & y</a>"), std::runtime_error);
  EXPECT_THROW(parseXml("<a t=\"<\"/>"), std::runtime_error);
  EXPECT_THROW(parseXml("<a/><b/>"), std::runtime_error);
}

TEST(GenomicInflation, MedianOfFiniteStatisticsOverChiSquareMedian) {
  EXPECT_DOUBLE_EQ(ombra::genomicInflation({3.0, 0.4549364, 0.1}), 1.0);
  EXPECT_DOUBLE_EQ(ombra::genomicInflation({4.0, 1.0, 0.0, 2.0}), 1.5 / 0.4549364);
  double nan = std::nan(""), inf = INFINITY;
  EXPECT_DOUBLE_EQ(ombra::genomicInflation({nan, 2.0, inf, 1.0, nan, 0.5}), 1.0 / 0.4549364);
  EXPECT_TRUE(std::isnan(ombra::genomicInflation({})));
  EXPECT_TRUE(std::isnan(ombra::genomicInflation({nan, nan})));
}

// Order statistics of uniforms: the smallest of n is Beta(1, n) with
// quantile 1 - (1 - q)^(1/n), the largest Beta(n, 1) with quantile q^(1/n).
TEST(BetaQuantile, MatchesClosedFormsOfExtremeOrderStatistics) {
  for (double n : {1.0, 300.0, 1e6, 1e7}) {
    for (double q : {0.025, 0.5, 0.975}) {
      double smallest = -std::expm1(std::log1p(-q) / n);
      EXPECT_NEAR(ombra::betaQuantile(q, 1, n) / smallest, 1.0, 1e-6) << n << ' ' << q;
      EXPECT_NEAR(ombra::betaQuantile(q, n, 1), std::pow(q, 1 / n), 1e-7) << n << ' ' << q;
    }
  }
  EXPECT_NEAR(ombra::betaQuantile(0.5, 4, 4), 0.5, 1e-7);
  EXPECT_TRUE(std::isnan(ombra::betaQuantile(0, 1, 2)));
  EXPECT_TRUE(std::isnan(ombra::betaQuantile(0.5, 0, 2)));
}

TEST(ChromosomeOrder, NumbersThenSexAndMitochondrialThenOthersAsSeen) {
  std::vector<PlotPoint> points;
  for (const char* chr : {"scaffold_9", "X", "10", "chr2", "MT", "1", "24", "unplaced", "XY", "2", "1"}) {
    points.push_back(pointAt(chr, 100, "rs", 0.5));
  }
  points.push_back(pointAt("7", 1, "skipped", std::nan("")));
  std::vector<std::string> expected = {"1", "chr2", "2", "10", "X", "24", "XY", "MT", "scaffold_9", "unplaced"};
  EXPECT_EQ(ombra::chromosomeOrder({panelOf("SS", points)}), expected);
  // The Manhattan plot lays them out left to right in that order.
  Panel plotted = panels(parseChecked(ombra::manhattanSvg({panelOf("SS", points)}))).at("SS");
  std::vector<std::pair<double, std::string>> axis;
  for (const Element& e : plotted.elements) {
    if (e.attributes.count("class") && e.attributes.at("class") == "chromosome") axis.push_back({number(e, "x"), e.text});
  }
  std::sort(axis.begin(), axis.end());
  ASSERT_EQ(axis.size(), expected.size());
  for (size_t c = 0; c < axis.size(); ++c) EXPECT_EQ(axis[c].second, expected[c]);
}

// One chromosome spans the whole area, so every coordinate is known.
TEST(ManhattanPlot, SignificantPointsLineAndLabelsWhereTheyBelong) {
  std::vector<PlotPoint> points = {
      pointAt("3", 1000, "first", 0.5),      pointAt("3", 2000, "hit&<\"name>", 1e-9), pointAt("3", 3000, "weak", 0.004),
      pointAt("3", 4000, "missing", std::nan("")), pointAt("3", 5000, "second", 2e-8), pointAt("3", 6000, "bad", 1.5),
      pointAt("3", 11000, "last", 0.01)};
  std::string svg = ombra::manhattanSvg({panelOf("SS", points)});
  Panel p = panels(parseChecked(svg)).at("SS");
  ASSERT_GT(p.w, 0);
  for (const PlotPoint& point : points) {
    if (!(pOf(point) <= 0.01)) continue;
    double x = p.x + p.w * static_cast<double>(point.position - 1000) / 10000.0;
    EXPECT_TRUE(p.hasDot(x, p.yOf(point.log10p), p.dots)) << point.snp;
  }
  EXPECT_EQ(p.dots.size(), 5u);  // NaN and 1.5 are not drawn
  const Element* threshold = findClass(p, "threshold");
  ASSERT_NE(threshold, nullptr);
  EXPECT_NEAR(number(*threshold, "y1"), p.yOf(-std::log10(5e-8)), 0.051);
  EXPECT_NEAR(number(*threshold, "x1"), p.x, 0.051);
  EXPECT_NEAR(number(*threshold, "x2"), p.x + p.w, 0.051);
  // Only the chromosome's best genome-wide hit is labelled; the name is escaped.
  EXPECT_EQ(p.labels, std::vector<std::string>{"hit&<\"name>"});
}

TEST(ManhattanPlot, LabelsChromosomeLeadersBelowGenomeWideOrElseTheTopFive) {
  std::vector<PlotPoint> points;
  for (int c = 1; c <= 12; ++c) {
    std::string chr = std::to_string(c);
    points.push_back(pointAt(chr, 10, "lead" + chr, 1e-9 / c));
    points.push_back(pointAt(chr, 20, "next" + chr, 2e-9));
    points.push_back(pointAt(chr, 30, "null" + chr, 0.3));
  }
  std::vector<std::string> placed = panels(parseChecked(ombra::manhattanSvg({panelOf("T", points)}))).at("T").labels;
  std::set<std::string> labels(placed.begin(), placed.end());
  std::set<std::string> expected;
  for (int c = 3; c <= 12; ++c) expected.insert("lead" + std::to_string(c));  // the 10 most significant
  EXPECT_EQ(labels, expected);

  std::vector<PlotPoint> quiet;
  for (int i = 0; i < 40; ++i) quiet.push_back(pointAt("1", i * 100L, "s" + std::to_string(i), 0.001 * (i + 1)));
  std::vector<std::string> top = panels(parseXml(ombra::manhattanSvg({panelOf("T1", quiet)}))).at("T1").labels;
  EXPECT_EQ(top, (std::vector<std::string>{"s0", "s1", "s2", "s3", "s4"}));
}

TEST(ManhattanPlot, PanelsShareTheGenomeAxisAndZeroIsCappedAndMarked) {
  std::vector<PlotPoint> a = {pointAt("1", 100, "a1", 1e-12), pointAt("1", 200, "a2", 0.0), pointAt("2", 50, "a3", 0.2)};
  std::vector<PlotPoint> b = {pointAt("1", 100, "a1", 0.001), pointAt("1", 200, "a2", 0.002), pointAt("2", 50, "a3", 0.003)};
  std::vector<Element> doc = parseChecked(ombra::manhattanSvg({panelOf("SS", a), panelOf("T", b)}));
  std::map<std::string, Panel> byName = panels(doc);
  Panel& ss = byName.at("SS");
  Panel& t = byName.at("T");
  ASSERT_EQ(ss.capped.size(), 1u);
  EXPECT_NEAR(ss.capped[0].y, ss.yOf(12), 0.051);  // at the largest finite -log10 p
  EXPECT_NE(findClass(ss, "capnote"), nullptr);
  EXPECT_EQ(findClass(t, "capnote"), nullptr);
  EXPECT_EQ(t.dots.size(), 3u);
  for (const Point2& d : t.dots) EXPECT_GT(d.y, ss.y + ss.h);  // stacked below
  // The same SNP has the same x in both panels.
  EXPECT_NEAR(ss.capped[0].x, t.dots[1].x, 0.051);
  EXPECT_TRUE(ss.hasDot(t.dots[0].x, ss.yOf(12), ss.dots));
}

TEST(ManhattanPlot, AMillionUniformSnpsStayUnderTwentyMegabytes) {
  std::mt19937_64 random(7);
  std::uniform_real_distribution<double> uniform(0.0, 1.0);
  std::vector<PlotPoint> points(1000000);
  size_t significant = 0;
  for (size_t i = 0; i < points.size(); ++i) {
    points[i].chr = std::to_string(1 + i * 22 / points.size());
    points[i].position = static_cast<long>(i % 45455) * 3000 + 1;
    points[i].snp = "rs" + std::to_string(i);
    points[i].log10p = -std::log10(uniform(random));
    significant += pOf(points[i]) <= 0.01;
  }
  for (int k = -30; k <= 30; ++k) {  // a planted peak, its neighbours less significant
    points[static_cast<size_t>(123456 + k)].log10p = -std::log10(3e-12 * std::pow(10.0, 0.3 * std::abs(k)));
  }
  points[777777].log10p = 9;
  points[400000].log10p = HUGE_VAL;
  std::vector<PlotPanel> one = {panelOf("SS", std::move(points))};
  std::string svg = ombra::manhattanSvg(one);
  EXPECT_LT(svg.size(), 20u * 1000 * 1000);
  Panel p = panels(parseXml(svg)).at("SS");
  EXPECT_GE(p.dots.size(), significant);
  EXPECT_LT(p.dots.size(), significant + 2 * static_cast<size_t>(p.w + 3) * static_cast<size_t>(p.h + 3));
  EXPECT_EQ(p.labels, (std::vector<std::string>{"rs400000", "rs123456", "rs777777"}));
  EXPECT_EQ(p.capped.size(), 1u);
  std::string qq = ombra::qqSvg(one);
  EXPECT_LT(qq.size(), 2u * 1000 * 1000);
  if (const char* folder = std::getenv("OMBRA_PLOT_OUTPUT")) {
    testing_support::writeFile(std::string(folder) + "/simulated.manhattan.svg", svg);
    testing_support::writeFile(std::string(folder) + "/simulated.qq.svg", qq);
  }
}

// The i-th smallest of n p-values at x = -log10((i - 0.5) / n).
TEST(QqPlot, PointsDiagonalBandAndLambda) {
  std::vector<PlotPoint> points;
  for (int i = 0; i < 400; ++i) points.push_back(pointAt("1", i, "s", (i + 0.5) / 400.0));
  points[17].log10p = 7;
  points[18].log10p = std::nan("");
  std::string svg = ombra::qqSvg({panelOf("SS", points, 1.0234), panelOf("T", points, std::nan(""))});
  std::map<std::string, Panel> byName = panels(parseChecked(svg));
  Panel& p = byName.at("SS");
  std::vector<double> sorted;
  for (const PlotPoint& point : points) {
    if (!std::isnan(point.log10p)) sorted.push_back(pOf(point));
  }
  std::sort(sorted.begin(), sorted.end());
  double n = static_cast<double>(sorted.size());
  for (size_t i = 0; i < sorted.size() && sorted[i] <= 0.01; ++i) {
    double x = p.x + p.w * -std::log10((static_cast<double>(i) + 0.5) / n) / p.xmax;
    EXPECT_TRUE(p.hasDot(x, p.yOf(-std::log10(sorted[i])), p.dots)) << i;
  }
  ASSERT_NE(findClass(p, "lambda"), nullptr);
  EXPECT_EQ(findClass(p, "lambda")->text, "\u03bb = 1.023");
  EXPECT_EQ(findClass(byName.at("T"), "lambda")->text, "\u03bb = NA");
  const Element* diagonal = findClass(p, "diagonal");
  ASSERT_NE(diagonal, nullptr);
  double run = number(*diagonal, "x2") - number(*diagonal, "x1");
  double rise = number(*diagonal, "y1") - number(*diagonal, "y2");
  EXPECT_NEAR(rise / p.h * p.ymax, run / p.w * p.xmax, 0.01);  // slope 1 in data units
  // The band's first corner is the 2.5% quantile of the smallest of n: Beta(1, n).
  const Element* band = findClass(p, "band");
  ASSERT_NE(band, nullptr);
  Point2 corner = pathPoints(band->attributes.at("d")).at(0);
  EXPECT_NEAR(corner.y, p.yOf(-std::log10(-std::expm1(std::log1p(-0.025) / n))), 0.051);
  EXPECT_NEAR(corner.x, p.x + p.w * -std::log10(0.5 / n) / p.xmax, 0.051);
}

// Names come from input files; whatever bytes they hold, the document stays XML.
TEST(Plots, AnyBytesInNamesGiveWellFormedDocuments) {
  std::vector<std::string> names = {"ctl\x01", "\xff\xfe", "cut\xc3", "\xed\xa0\x80", "\xef\xbf\xbe",
                                    "caf\xc3\xa9", "'&amp;'", "]]>", std::string("nul\0x", 5)};
  std::vector<PlotPoint> points;
  for (size_t i = 0; i < names.size(); ++i) points.push_back(pointAt(names[i], 1, names[i], 1e-10));
  std::string manhattan = ombra::manhattanSvg({panelOf(names[1], points)});
  std::map<std::string, Panel> parsed = panels(parseChecked(manhattan));
  ASSERT_EQ(parsed.size(), 1u);
  std::set<std::string> labels(parsed.begin()->second.labels.begin(), parsed.begin()->second.labels.end());
  EXPECT_EQ(labels.count("caf\xc3\xa9"), 1u);
  EXPECT_EQ(labels.count("'&amp;'"), 1u);
  EXPECT_EQ(labels.count("ctl?"), 1u);
  EXPECT_NO_THROW(parseChecked(ombra::qqSvg({panelOf(names[0], points)})));
}

TEST(Plots, EmptyPanelsAndNoPanelsAreStillDocuments) {
  EXPECT_NO_THROW(parseChecked(ombra::manhattanSvg({})));
  EXPECT_NO_THROW(parseChecked(ombra::qqSvg({})));
  std::vector<PlotPoint> none = {pointAt("1", 5, "x", std::nan(""))};
  EXPECT_NO_THROW(parseChecked(ombra::manhattanSvg({panelOf("SS", none)})));
  EXPECT_NO_THROW(parseChecked(ombra::qqSvg({panelOf("SS", {}, std::nan(""))})));
  std::vector<PlotPoint> zeros = {pointAt("1", 5, "z1", 0.0), pointAt("1", 9, "z2", 0.0)};
  Panel p = panels(parseChecked(ombra::manhattanSvg({panelOf("SS", zeros)}))).at("SS");
  EXPECT_EQ(p.capped.size(), 2u);
  EXPECT_NEAR(p.capped[0].y, p.yOf(-std::log10(5e-8)), 0.051);
}

namespace {

// The three panels of a result file (name, alleles, frequencies, then three
// statistic and p pairs; a monomorphic SNP has no second allele) with the
// chromosomes and positions of its map.
std::vector<PlotPanel> resultPanels(const std::string& result, const std::string& map) {
  std::vector<PlotPanel> out = {panelOf("SS", {}), panelOf("T", {}), panelOf("T1", {})};
  std::vector<std::vector<double>> statistics(3);
  std::istringstream results(result), markers(map);
  std::string line, chr, snp, distance;
  long position = 0;
  while (std::getline(results, line) && markers >> chr >> snp >> distance >> position) {
    std::istringstream fields(line);
    std::vector<std::string> words;
    for (std::string w; fields >> w;) words.push_back(w);
    EXPECT_EQ(words.at(0), snp);
    for (size_t k = 0; k < 3; ++k) {
      double p = std::stod(words.at(words.size() - 5 + 2 * k));
      out[k].points.push_back(pointAt(chr, position, snp, p));
      statistics[k].push_back(std::stod(words.at(words.size() - 6 + 2 * k)));
    }
  }
  for (size_t k = 0; k < 3; ++k) out[k].lambda = ombra::genomicInflation(statistics[k]);
  return out;
}

}  // namespace

TEST(Plots, ExampleDataEndToEnd) {
  TempDir dir;
  testing_support::RunResult run =
      testing_support::runOmbra(dir.path(), {"--f", kExamples + "family", "--i", kExamples + "unrelated"});
  ASSERT_EQ(run.status, 0) << run.out;
  std::vector<PlotPanel> all = resultPanels(dir.read("result.txt"), testing_support::readFile(kExamples + "family.map"));
  ASSERT_EQ(all[0].points.size(), 300u);
  std::string manhattan = ombra::manhattanSvg(all);
  std::string qq = ombra::qqSvg(all);
  std::map<std::string, Panel> m = panels(parseChecked(manhattan));
  std::map<std::string, Panel> q = panels(parseChecked(qq));
  ASSERT_EQ(m.size(), 3u);
  ASSERT_EQ(q.size(), 3u);
  for (const PlotPanel& panel : all) {
    const Panel& plotted = m.at(panel.statistic);
    size_t significant = 0, hits = 0;
    std::string best;
    double bestP = 1;
    for (const PlotPoint& point : panel.points) {
      significant += pOf(point) <= 0.01;
      hits += pOf(point) < 5e-8;
      if (pOf(point) < bestP) bestP = pOf(point), best = point.snp;
    }
    EXPECT_GE(plotted.dots.size(), significant);
    ASSERT_FALSE(plotted.labels.empty());
    EXPECT_EQ(plotted.labels[0], best);
    if (hits == 0) {
      EXPECT_EQ(plotted.labels.size(), 5u);
    }
    char lambda[32];
    std::snprintf(lambda, sizeof lambda, "\u03bb = %.3f", panel.lambda);
    EXPECT_EQ(findClass(q.at(panel.statistic), "lambda")->text, lambda);
  }
  if (const char* folder = std::getenv("OMBRA_PLOT_OUTPUT")) {
    testing_support::writeFile(std::string(folder) + "/example.manhattan.svg", manhattan);
    testing_support::writeFile(std::string(folder) + "/example.qq.svg", qq);
  }
}
