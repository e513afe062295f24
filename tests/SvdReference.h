// The Golub-Reinsch singular value decomposition written out plainly, step by
// step on 1-based row-pointer arrays, with no attention to speed. The fast
// Matrix::svdcmp must reproduce its U, w and V to the last bit; the tests and
// the benchmark use it as the oracle.
#ifndef OMBRA_SVDREFERENCE_H
#define OMBRA_SVDREFERENCE_H

namespace svdref {

// a[1..m][1..n] becomes U, w[1..n] the singular values, v[1..n][1..n] V.
void svdcmpReference(double** a, int m, int n, double* w, double** v);

}  // namespace svdref

#endif  // OMBRA_SVDREFERENCE_H
