// Small helpers shared by the HDF5 files of the comparison: a checked call
// and an identifier closed when it goes out of scope.
#ifndef QVT_BENCH_COMPARE_COMPARE_HDF5_H
#define QVT_BENCH_COMPARE_COMPARE_HDF5_H

#include <string>

#include "compare.h"
#include <hdf5.h>

namespace compare {

// Ends the program when an HDF5 call answered a negative value.
inline hid_t Check(hid_t result, const char* what) {
  if (result < 0) Fail(std::string("HDF5: ") + what + " failed");
  return result;
}

// Owns one HDF5 identifier; close is the function that releases it.
class Hid {
 public:
  Hid(hid_t id, herr_t (*close)(hid_t), const char* what) : m_Id(Check(id, what)), m_Close(close) {}
  ~Hid() {
    if (m_Id >= 0) m_Close(m_Id);
  }
  Hid(const Hid&) = delete;
  Hid& operator=(const Hid&) = delete;
  operator hid_t() const { return m_Id; }  // NOLINT(google-explicit-constructor): used as the id it holds
  // Closes now, checking the answer (a file's close writes what is pending).
  void Close(const char* what) {
    const hid_t id = m_Id;
    m_Id = -1;
    Check(m_Close(id), what);
  }

 private:
  hid_t m_Id;
  herr_t (*m_Close)(hid_t);
};

}  // namespace compare

#endif  // QVT_BENCH_COMPARE_COMPARE_HDF5_H
