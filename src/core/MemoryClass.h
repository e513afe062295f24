// Tracked heap arrays: every numeric block of a run is obtained and released
// through a MemoryClass<T>, which keeps a record of what it handed out, sweeps
// whatever is still recorded when it is destroyed and warns when its count of
// held blocks does not come out at zero.
#ifndef OMBRA_MEMORYCLASS_H
#define OMBRA_MEMORYCLASS_H

#include <cstdio>
#include <new>
#include <unordered_map>
#include <vector>

template <typename T>
class MemoryClass {
 public:
  MemoryClass() = default;
  MemoryClass(const MemoryClass&) = delete;
  MemoryClass& operator=(const MemoryClass&) = delete;
  ~MemoryClass();

  // Allocates n uninitialised elements into p and records the block.
  // On allocation failure p is null and nothing is recorded.
  void Vector(T*& p, int n);
  // Allocates a table of nRows row pointers and one block of nCols elements
  // per row; r rows count as r + 1 blocks. Returns false when an allocation
  // failed (what was obtained stays recorded).
  bool Matrix(T**& m, int nRows, int nCols);
  // Allocates only the table of row pointers; the caller sets the rows.
  bool Matrix(T**& m, int nRows);
  // Releases p (null: no effect). Always true.
  bool FreeVector(T* p);
  // Releases nRows rows of m and then its pointer table (null: no effect).
  bool FreeMatrix(T** m, int nRows);
  // Releases only the pointer table of m.
  bool FreeMatrix(T** m);

  // Blocks allocated minus blocks released through this object.
  int Count() const { return blockCount; }

 private:
  template <typename P>
  static P* allocate(int n);
  // Records are append-only: a released entry becomes null. The index maps a
  // live block to its slot so that a release costs constant time however
  // long the run has been allocating.
  template <typename P>
  static void forget(std::vector<P>& record, std::unordered_map<P, size_t>& live, P p);
  void releaseRow(T* p);

  int blockCount = 0;
  std::vector<T*> vectorRecord;
  std::vector<T**> matrixRecord;
  std::unordered_map<T*, size_t> liveVectors;
  std::unordered_map<T**, size_t> liveMatrices;
};

template <typename T>
template <typename P>
P* MemoryClass<T>::allocate(int n) {
  return new (std::nothrow) P[n < 0 ? 0 : static_cast<size_t>(n)];
}

template <typename T>
template <typename P>
void MemoryClass<T>::forget(std::vector<P>& record, std::unordered_map<P, size_t>& live, P p) {
  auto it = live.find(p);
  if (it == live.end()) return;
  record[it->second] = nullptr;
  live.erase(it);
}

template <typename T>
void MemoryClass<T>::Vector(T*& p, int n) {
  p = allocate<T>(n);
  if (p == nullptr) return;
  liveVectors[p] = vectorRecord.size();
  vectorRecord.push_back(p);
  ++blockCount;
}

template <typename T>
bool MemoryClass<T>::Matrix(T**& m, int nRows) {
  m = allocate<T*>(nRows);
  if (m == nullptr) return false;
  liveMatrices[m] = matrixRecord.size();
  matrixRecord.push_back(m);
  ++blockCount;
  return true;
}

template <typename T>
bool MemoryClass<T>::Matrix(T**& m, int nRows, int nCols) {
  if (!Matrix(m, nRows)) return false;
  for (int i = 0; i < nRows; ++i) {
    Vector(m[i], nCols);
    if (m[i] == nullptr) return false;
  }
  return true;
}

template <typename T>
void MemoryClass<T>::releaseRow(T* p) {
  forget(vectorRecord, liveVectors, p);
  delete[] p;
  --blockCount;
}

template <typename T>
bool MemoryClass<T>::FreeVector(T* p) {
  if (p == nullptr) return true;
  releaseRow(p);
  return true;
}

template <typename T>
bool MemoryClass<T>::FreeMatrix(T** m, int nRows) {
  if (m == nullptr) return true;
  for (int i = 0; i < nRows; ++i) {
    if (m[i] != nullptr) releaseRow(m[i]);
  }
  return FreeMatrix(m);
}

template <typename T>
bool MemoryClass<T>::FreeMatrix(T** m) {
  if (m == nullptr) return true;
  forget(matrixRecord, liveMatrices, m);
  delete[] m;
  --blockCount;
  return true;
}

template <typename T>
MemoryClass<T>::~MemoryClass() {
  for (T*& p : vectorRecord) {
    if (p == nullptr) continue;
    delete[] p;
    --blockCount;
    p = nullptr;
  }
  for (T**& m : matrixRecord) {
    if (m == nullptr) continue;
    delete[] m;
    --blockCount;
    m = nullptr;
  }
  if (blockCount != 0) {
    std::printf("\nCritical Warning, there are some memory forgoten released!");
    std::printf("\nTotal unreleased memory block is : %d ", blockCount);
    std::printf("\nPlease Check...!\n");
  }
}

#endif  // OMBRA_MEMORYCLASS_H
