// Dense linear algebra on row-pointer matrices: the Golub-Reinsch singular
// value decomposition and a pseudo-inverse built on it.
#ifndef OMBRA_MATRIX_H
#define OMBRA_MATRIX_H

class Matrix {
 public:
  // sqrt(a*a + b*b) without overflow or destructive underflow.
  double radius(double a, double b);
  // SVD of the 1-based m x n matrix a (rows 1..m, columns 1..n): a becomes U,
  // w[1..n] the singular values (unsorted, >= 0), v[1..n][1..n] V itself.
  void svdcmp(double** a, int m, int n, double* w, double** v);
  // The same on 0-based arrays; needs m >= n.
  void SVDcmp(double** a, int m, int n, double* w, double** v);
  // Pseudo-inverse V D U' of the 0-based n x n matrix a (left unchanged);
  // singular values below 0.0001 are dropped, rank counts those kept.
  bool Inv(double** a, int n, double** inv, int& rank);
  bool Inv(double** a, int n, double** inv);
  bool Inv(int** a, int n, double** inv, int& rank);
  bool Inv(int** a, int n, double** inv);
};

#endif  // OMBRA_MATRIX_H
