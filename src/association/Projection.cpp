#include "association/Projection.h"

#include "core/MemoryClass.h"
#include "numerics/Matrix.h"

namespace ombra {

// Each value of the projection meets its own individual's column.
Projection::Projection(const DesignMatrix& design) : matrix(design) {
  const int p = static_cast<int>(design.columns);
  const int n = static_cast<int>(design.entries);
  const double* x = design.values.data();  // x[c * n + i]: design column c of entry i
  MemoryClass<double> work;
  double** xtx = nullptr;
  double** inverse = nullptr;
  work.Matrix(xtx, p, p);
  work.Matrix(inverse, p, p);
  for (int r = 0; r < p; ++r) {
    for (int c = 0; c < p; ++c) {
      double sum = 0;
      for (int i = 0; i < n; ++i) sum += x[c * n + i] * x[r * n + i];
      xtx[r][c] = sum;
    }
  }
  Matrix().Inv(xtx, p, inverse);
  projection.resize(size_t(n) * size_t(p));
  for (int r = 0; r < p; ++r) {
    for (int k = 0; k < n; ++k) {
      double sum = 0;
      for (int l = 0; l < p; ++l) sum += x[l * n + k] * inverse[r][l];
      projection[size_t(k) * p + r] = sum;
    }
  }
  entryMajor.resize(size_t(n) * size_t(p));
  for (int k = 0; k < n; ++k) {
    for (int r = 0; r < p; ++r) entryMajor[size_t(k) * p + r] = x[r * n + k];
  }
  work.FreeMatrix(xtx, p);
  work.FreeMatrix(inverse, p);
}

void Projection::residualise(std::vector<double>& values) const {
  const size_t p = matrix.columns;
  const size_t n = values.size();
  // The p sums advance side by side, each adding in increasing h.
  std::vector<double> coefficients(p, 0.0);
  for (size_t h = 0; h < n; ++h) {
    const double value = values[h];
    const double* column = projection.data() + h * p;
    for (size_t m = 0; m < p; ++m) coefficients[m] += column[m] * value;
  }
  double* value = values.data();
  for (size_t w = 0; w < p; ++w) {
    const double coefficient = coefficients[w];
    const double* score = matrix.column(w);
    for (size_t h = 0; h < n; ++h) value[h] -= coefficient * score[h];
  }
}

}  // namespace ombra
