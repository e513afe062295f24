// Manhattan and QQ plots of a run's p-values as self-contained SVG documents,
// and the genomic inflation factor written on them.
//
// Both plots draw one panel per statistic, stacked (Manhattan) or side by
// side (QQ). A point's y is -log10 p; p = 0 is drawn at the largest finite
// y of its panel (at least the genome-wide line) as a triangle instead of a
// dot. Points whose p is not a number or lies outside [0, 1] are skipped.
// Every point with p <= 0.01 is drawn; the bulk above it is thinned to one
// dot per occupied pixel cell per panel and colour, which keeps a plot of
// a million SNPs near a megabyte. Coordinates are written with one decimal.
//
// Each panel is a <g class="panel"> carrying data-statistic, data-ymax (the
// top of its y axis) and, on the QQ plot, data-xmax; its <rect class="area">
// is the data rectangle (y = 0 at its bottom edge, data-ymax at its top).
// Dots are zero-length path segments ("M x yh0") in <path class="dots">,
// triangles of p = 0 in <path class="capped">.
#ifndef OMBRA_OUTPUTS_PLOTS_H
#define OMBRA_OUTPUTS_PLOTS_H

#include <cmath>
#include <string>
#include <vector>

#include "outputs/ResultTable.h"

namespace ombra {

struct PlotPoint {
  std::string chr;
  long position = 0;
  std::string snp;
  double log10p = std::nan("");  // -log10 p (infinite for p = 0); not a number: not plotted
};

// One panel: the points of one statistic, its name ("SS", "T", "T1") and its
// genomic inflation factor (not a number: written as NA).
struct PlotPanel {
  std::string statistic;
  std::vector<PlotPoint> points;
  double lambda = std::nan("");
};

// Manhattan plot: -log10 p against chromosome and position, two colours
// alternating by chromosome, a dashed line at p = 5e-8, and labels on the top
// SNPs of each panel: the most significant SNP of every chromosome with a
// p below 5e-8 (the 10 most significant of these), or when no SNP reaches
// it, the 5 most significant SNPs of the panel.
std::string manhattanSvg(const std::vector<PlotPanel>& panels);

// QQ plot: observed -log10 p of the i-th smallest of n p-values against the
// expected -log10((i - 0.5) / n), the diagonal, the pointwise 95% band of
// the i-th order statistic of n uniforms (Beta(i, n - i + 1)) and
// "λ = 1.023" written on each panel.
std::string qqSvg(const std::vector<PlotPanel>& panels);

// (The genomic inflation factor written on the QQ plot is
// genomicInflation of outputs/ResultTable.h.)

// The chromosomes of `panels` in plotting order: 1..22 by number, then X, Y,
// XY, MT (by their codes of core/Chromosome.h, so "chr2", "02", "23" and
// "PAR1" rank with 2, 2, X and XY), then every other name in order of first
// appearance. Names are kept as written, a chromosome per distinct name.
std::vector<std::string> chromosomeOrder(const std::vector<PlotPanel>& panels);

// The q quantile of the Beta(a, b) distribution, found on log x so that
// quantiles near 0 keep their relative accuracy (about 1e-7).
double betaQuantile(double q, double a, double b);

}  // namespace ombra

#endif  // OMBRA_OUTPUTS_PLOTS_H
