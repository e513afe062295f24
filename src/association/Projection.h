// The least-squares projection on the design: (X'X)^-1 X' over the tested
// entries, and the residuals of any values on X.
#ifndef OMBRA_ASSOCIATION_PROJECTION_H
#define OMBRA_ASSOCIATION_PROJECTION_H

#include <vector>

#include "design/TestedSample.h"

namespace ombra {

class Projection {
 public:
  // Keeps a reference to `design`, which must outlive the projection.
  explicit Projection(const DesignMatrix& design);

  // `values` (one per entry) become their residuals: the coefficients
  // summed entry by entry, then the fit subtracted one design column at a
  // time, in column order.
  void residualise(std::vector<double>& values) const;

  // (X'X)^-1 X' held entry by entry: [h * columns + k].
  const double* byEntry() const { return projection.data(); }
  // The design held entry by entry: [h * columns + k].
  const double* designByEntry() const { return entryMajor.data(); }
  const DesignMatrix& design() const { return matrix; }

 private:
  const DesignMatrix& matrix;
  std::vector<double> projection;
  std::vector<double> entryMajor;
};

}  // namespace ombra

#endif  // OMBRA_ASSOCIATION_PROJECTION_H
