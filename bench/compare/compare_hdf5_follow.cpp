// HDF5's writer and following reader, single-writer/multiple-reader mode:
// the writer extends a chunked dataset by one row and calls H5Dflush after
// H5Fstart_swmr_write; the reader opens the file with H5F_ACC_SWMR_READ and
// polls with H5Drefresh.
#include <cstddef>

#include "compare_hdf5.h"
#include "compare_systems.h"

namespace compare {
namespace {

constexpr hsize_t kChunkRows = 1024;

hid_t RowType() {
  const hid_t type = Check(H5Tcreate(H5T_COMPOUND, sizeof(FollowRow)), "H5Tcreate");
  Check(H5Tinsert(type, "seq", HOFFSET(FollowRow, seq), H5T_NATIVE_INT), "H5Tinsert");
  Check(H5Tinsert(type, "stamp", HOFFSET(FollowRow, stamp), H5T_NATIVE_DOUBLE), "H5Tinsert");
  return type;
}

hid_t LatestFormat() {
  const hid_t access = Check(H5Pcreate(H5P_FILE_ACCESS), "H5Pcreate");
  Check(H5Pset_libver_bounds(access, H5F_LIBVER_LATEST, H5F_LIBVER_LATEST), "H5Pset_libver_bounds");
  return access;
}

hid_t Selection(hid_t dataset, hsize_t first, hsize_t count) {
  const hid_t space = Check(H5Dget_space(dataset), "H5Dget_space");
  Check(H5Sselect_hyperslab(space, H5S_SELECT_SET, &first, nullptr, &count, nullptr), "H5Sselect_hyperslab");
  return space;
}

class Hdf5Writer : public FollowWriter {
 public:
  explicit Hdf5Writer(const std::string& path)
      : m_Type(RowType(), H5Tclose, "row type"),
        m_Access(LatestFormat(), H5Pclose, "file access"),
        m_File(H5Fcreate(path.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, m_Access), H5Fclose, "H5Fcreate"),
        m_Dataset(CreateDataset(), H5Dclose, "H5Dcreate2") {
    Check(H5Fstart_swmr_write(m_File), "H5Fstart_swmr_write");
  }

  void Append(const FollowRow& row) override {
    const hsize_t length = m_Rows + 1;
    const hsize_t one = 1;
    Check(H5Dset_extent(m_Dataset, &length), "H5Dset_extent");
    Hid memory(H5Screate_simple(1, &one, nullptr), H5Sclose, "H5Screate_simple");
    Hid slab(Selection(m_Dataset, m_Rows, 1), H5Sclose, "slab");
    Check(H5Dwrite(m_Dataset, m_Type, memory, slab, H5P_DEFAULT, &row), "H5Dwrite");
    Check(H5Dflush(m_Dataset), "H5Dflush");
    m_Rows = length;
  }

 private:
  hid_t CreateDataset() {
    const hsize_t none = 0;
    const hsize_t most = H5S_UNLIMITED;
    Hid space(H5Screate_simple(1, &none, &most), H5Sclose, "H5Screate_simple");
    Hid properties(H5Pcreate(H5P_DATASET_CREATE), H5Pclose, "H5Pcreate");
    Check(H5Pset_chunk(properties, 1, &kChunkRows), "H5Pset_chunk");
    return H5Dcreate2(m_File, "follow", m_Type, space, H5P_DEFAULT, properties, H5P_DEFAULT);
  }

  Hid m_Type;
  Hid m_Access;
  Hid m_File;
  Hid m_Dataset;
  hsize_t m_Rows = 0;
};

class Hdf5Reader : public FollowReader {
 public:
  explicit Hdf5Reader(const std::string& path)
      : m_Type(RowType(), H5Tclose, "row type"),
        m_File(H5Fopen(path.c_str(), H5F_ACC_RDONLY | H5F_ACC_SWMR_READ, H5P_DEFAULT), H5Fclose, "H5Fopen"),
        m_Dataset(H5Dopen2(m_File, "follow", H5P_DEFAULT), H5Dclose, "H5Dopen2") {}

  void Poll(std::vector<FollowRow>* rows) override {
    Check(H5Drefresh(m_Dataset), "H5Drefresh");
    hsize_t length = 0;
    {
      Hid space(H5Dget_space(m_Dataset), H5Sclose, "H5Dget_space");
      Check(H5Sget_simple_extent_dims(space, &length, nullptr), "H5Sget_simple_extent_dims");
    }
    if (length <= m_Seen) return;
    const hsize_t count = length - m_Seen;
    const std::size_t at = rows->size();
    rows->resize(at + count);
    Hid memory(H5Screate_simple(1, &count, nullptr), H5Sclose, "H5Screate_simple");
    Hid slab(Selection(m_Dataset, m_Seen, count), H5Sclose, "slab");
    Check(H5Dread(m_Dataset, m_Type, memory, slab, H5P_DEFAULT, rows->data() + at), "H5Dread");
    m_Seen = length;
  }

 private:
  Hid m_Type;
  Hid m_File;
  Hid m_Dataset;
  hsize_t m_Seen = 0;
};

}  // namespace

std::unique_ptr<FollowWriter> Hdf5FollowWriter(const std::string& path) {
  return std::make_unique<Hdf5Writer>(path);
}

std::unique_ptr<FollowReader> Hdf5FollowReader(const std::string& path) {
  return std::make_unique<Hdf5Reader>(path);
}

}  // namespace compare
