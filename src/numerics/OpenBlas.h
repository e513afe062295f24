// The OpenBLAS kernels Ombra uses, loaded at run time on first use so that
// the kernels can be chosen from the processor's instruction sets first.
#ifndef OMBRA_NUMERICS_OPENBLAS_H
#define OMBRA_NUMERICS_OPENBLAS_H

#include <cblas.h>

extern "C" {
void dsytrd_(const char* uplo, const int* n, double* a, const int* lda, double* d, double* e, double* tau,
             double* work, const int* lwork, int* info);
void dsterf_(const int* n, double* d, double* e, int* info);
void dstemr_(const char* jobz, const char* range, const int* n, double* d, double* e, const double* vl,
             const double* vu, const int* il, const int* iu, int* m, double* w, double* z, const int* ldz,
             const int* nzc, int* isuppz, int* tryrac, double* work, const int* lwork, int* iwork,
             const int* liwork, int* info);
void dsyev_(const char* jobz, const char* uplo, const int* n, double* a, const int* lda, double* w, double* work,
            const int* lwork, int* info);
void dsyevd_(const char* jobz, const char* uplo, const int* n, double* a, const int* lda, double* w, double* work,
             const int* lwork, int* iwork, const int* liwork, int* info);
void dormtr_(const char* side, const char* uplo, const char* trans, const int* m, const int* n, const double* a,
             const int* lda, const double* tau, double* c, const int* ldc, double* work, const int* lwork,
             int* info);
}

namespace ombra {

struct OpenBlas {
  decltype(&cblas_dsyrk) dsyrk = nullptr;
  decltype(&cblas_ssyrk) ssyrk = nullptr;
  decltype(&cblas_dgemm) dgemm = nullptr;
  decltype(&cblas_sgemm) sgemm = nullptr;
  decltype(&dsytrd_) dsytrd = nullptr;
  decltype(&dsterf_) dsterf = nullptr;
  decltype(&dstemr_) dstemr = nullptr;
  decltype(&dormtr_) dormtr = nullptr;
  decltype(&dsyev_) dsyev = nullptr;
  decltype(&dsyevd_) dsyevd = nullptr;
  void (*setThreads)(int) = nullptr;
  // Not loaded because its buffers would not fit the address-space limit
  // (the run was told so); the built-in kernels stand in.
  bool heldBack = false;
  bool loaded() const {
    return dsyrk && ssyrk && dgemm && sgemm && dsytrd && dsterf && dstemr && dormtr && dsyev && dsyevd && setThreads;
  }
};

// The library, loaded once; every pointer is null when it cannot be loaded.
// Under an address-space limit (ulimit -v) it is loaded only when its buffers
// fit, with as many threads as fit (the run's threads are capped to match,
// see ombra::capThreads), and the buffers are mapped at once: OpenBLAS
// retries a failed buffer mapping forever, so it must never need one later.
const OpenBlas& openBlas();

}  // namespace ombra

#endif  // OMBRA_NUMERICS_OPENBLAS_H
