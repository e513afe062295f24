// Dense linear algebra on row-pointer matrices: the Golub-Reinsch singular
// value decomposition and a pseudo-inverse built on it.
#ifndef OMBRA_MATRIX_H
#define OMBRA_MATRIX_H

struct MatrixTestAccess;

class Matrix {
 public:
  // sqrt(a*a + b*b) without overflow or destructive underflow.
  double radius(double a, double b);
  // SVD of the 1-based m x n matrix a (rows 1..m, columns 1..n): a becomes U,
  // w[1..n] the singular values (unsorted, >= 0), v[1..n][1..n] V itself.
  // Works on a column-major copy of a for speed, sharing large matrices out
  // between up to `threads` threads; the result is bit-identical to the
  // plain row-pointer algorithm, whatever the thread count, and that
  // algorithm is the fallback when the copy cannot be allocated.
  void svdcmp(double** a, int m, int n, double* w, double** v, int threads);
  // The same on 0-based arrays; needs m >= n (otherwise it prints a warning
  // and leaves the arrays as they are). Negligible means below 1e-15 here,
  // and entries that come out not-a-number are set to 0.
  void SVDcmp(double** a, int m, int n, double* w, double** v);
  // Pseudo-inverse V D U' of the 0-based n x n matrix a (left unchanged);
  // singular values below 0.0001 are dropped, rank counts those kept.
  // Returns false, with rank 0 and inv untouched, only when the working
  // matrices cannot be allocated.
  bool Inv(double** a, int n, double** inv, int& rank);
  bool Inv(double** a, int n, double** inv);
  bool Inv(int** a, int n, double** inv, int& rank);
  bool Inv(int** a, int n, double** inv);
 private:
  friend struct MatrixTestAccess;
  // svdcmp done in place on the row-pointer arrays (slow, no extra memory).
  static void svdcmpInPlace(double** a, int m, int n, double* w, double** v);
};

#endif  // OMBRA_MATRIX_H
