// The OpenBLAS kernels Ombra uses, loaded at run time on first use so that
// the kernels can be chosen from the processor's instruction sets first.
#ifndef OMBRA_NUMERICS_OPENBLAS_H
#define OMBRA_NUMERICS_OPENBLAS_H

#include <cblas.h>

#include <string>

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
void dpotrf_(const char* uplo, const int* n, double* a, const int* lda, int* info);
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
  decltype(&dpotrf_) dpotrf = nullptr;
  decltype(&cblas_dtrsm) dtrsm = nullptr;
  // openblas_set_num_threads, called through setBlasThreads only.
  void (*setThreads)(int) = nullptr;
  // Not loaded because its buffers would not fit the address-space limit
  // (the run was told so); the built-in kernels stand in.
  bool heldBack = false;
  // The threads the run may use beside it: all it asked for, or as many
  // as OpenBLAS's buffers leave room for under an address-space limit.
  int threadRoom = 1;
  bool loaded() const {
    return dsyrk && ssyrk && dgemm && sgemm && dsytrd && dsterf && dstemr && dormtr && dsyev && dsyevd && dpotrf && dtrsm &&
           setThreads;
  }
};

// Loads the library, once, for a run of `threads` threads, before anything
// else calls it; its threadRoom is how many of them the run may use. Under
// an address-space limit (ulimit -v) it is loaded only when its buffers fit,
// with as many threads as fit (the run is told when they are fewer), and
// the buffers are mapped at once: OpenBLAS retries a failed buffer mapping
// forever, so it must never need one later. Every pointer is null when the
// library cannot be loaded.
const OpenBlas& loadOpenBlas(int threads);
// The library loadOpenBlas loaded (for one thread when nothing loaded it).
const OpenBlas& openBlas();
// How many threads OpenBLAS's own products use from now on; nothing when
// the library is not loaded. The one place that count is set: each stage
// says what its products need (one thread where its own threads each call
// a product, the run's threads where one product has the machine).
void setBlasThreads(int count);
// Stops the run when an address-space limit held the library back and
// `what` would be computed without it: the built-in kernels give its numbers
// in other last digits, and a run must write the same bytes under any bound.
// `alternative` (may be empty) names another way, a sentence.
void requireOpenBlas(const std::string& what, const std::string& alternative);

}  // namespace ombra

#endif  // OMBRA_NUMERICS_OPENBLAS_H
