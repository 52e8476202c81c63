// The HDF5 side of the comparison: rows as a compound type (the string as
// a fixed 16-byte field) through a packet table one record per call and
// through a chunked dataset in 1,024-row batches; doubles in a chunked
// dataset with deflate level 6; small objects as one dataset each.
#include "compare_hdf5.h"

#include <algorithm>
#include <cstdio>

#include "compare_systems.h"
#include <hdf5_hl.h>

namespace compare {
namespace {

struct Record {
  int id;
  double value;
  float weight;
  char label[kLabelBytes];
};

constexpr hsize_t kBatch = 1024;
constexpr hsize_t kSegmentValues = kSegment / sizeof(double);
constexpr hsize_t kStepValues = kStep / sizeof(double);

hid_t RecordType() {
  const hid_t type = Check(H5Tcreate(H5T_COMPOUND, sizeof(Record)), "H5Tcreate");
  Hid text(H5Tcopy(H5T_C_S1), H5Tclose, "H5Tcopy");
  Check(H5Tset_size(text, kLabelBytes), "H5Tset_size");
  Check(H5Tinsert(type, "id", HOFFSET(Record, id), H5T_NATIVE_INT), "H5Tinsert");
  Check(H5Tinsert(type, "value", HOFFSET(Record, value), H5T_NATIVE_DOUBLE), "H5Tinsert");
  Check(H5Tinsert(type, "weight", HOFFSET(Record, weight), H5T_NATIVE_FLOAT), "H5Tinsert");
  Check(H5Tinsert(type, "label", HOFFSET(Record, label), text), "H5Tinsert");
  return type;
}

void Fill(int r, Record* record) {
  record->id = RowId(r);
  record->value = RowValue(r);
  record->weight = RowWeight(r);
  std::memset(record->label, 0, kLabelBytes);
  const std::string& label = Word(RowWord(r));
  std::memcpy(record->label, label.data(), std::min<std::size_t>(label.size(), kLabelBytes - 1));
}

void Add(const Record& record, Checksum* sum) {
  sum->AddRow(record.id, record.value, record.weight, record.label, strnlen(record.label, kLabelBytes));
}

hid_t CreateFile(const std::string& path) {
  return H5Fcreate(path.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT);
}

hid_t OpenFile(const std::string& path) { return H5Fopen(path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT); }

// Selects count elements from first in the dataset's file space.
hid_t Slab(hid_t dataset, hsize_t first, hsize_t count) {
  const hid_t space = Check(H5Dget_space(dataset), "H5Dget_space");
  Check(H5Sselect_hyperslab(space, H5S_SELECT_SET, &first, nullptr, &count, nullptr), "H5Sselect_hyperslab");
  return space;
}

hsize_t Length(hid_t dataset) {
  Hid space(H5Dget_space(dataset), H5Sclose, "H5Dget_space");
  hsize_t length = 0;
  Check(H5Sget_simple_extent_dims(space, &length, nullptr), "H5Sget_simple_extent_dims");
  return length;
}

// A one-dimensional chunked dataset of length elements (0: extendable).
hid_t ChunkedDataset(hid_t file, const char* name, hid_t type, hsize_t length, hsize_t chunk, int deflate) {
  const hsize_t most = length == 0 ? H5S_UNLIMITED : length;
  Hid space(H5Screate_simple(1, &length, &most), H5Sclose, "H5Screate_simple");
  Hid properties(H5Pcreate(H5P_DATASET_CREATE), H5Pclose, "H5Pcreate");
  Check(H5Pset_chunk(properties, 1, &chunk), "H5Pset_chunk");
  if (deflate > 0) Check(H5Pset_deflate(properties, static_cast<unsigned>(deflate)), "H5Pset_deflate");
  return H5Dcreate2(file, name, type, space, H5P_DEFAULT, properties, H5P_DEFAULT);
}

void WriteSlab(hid_t dataset, hid_t type, hsize_t first, hsize_t count, const void* data) {
  Hid memory(H5Screate_simple(1, &count, nullptr), H5Sclose, "H5Screate_simple");
  Hid slab(Slab(dataset, first, count), H5Sclose, "slab");
  Check(H5Dwrite(dataset, type, memory, slab, H5P_DEFAULT, data), "H5Dwrite");
}

void ReadSlab(hid_t dataset, hid_t type, hsize_t first, hsize_t count, void* data) {
  Hid memory(H5Screate_simple(1, &count, nullptr), H5Sclose, "H5Screate_simple");
  Hid slab(Slab(dataset, first, count), H5Sclose, "slab");
  Check(H5Dread(dataset, type, memory, slab, H5P_DEFAULT, data), "H5Dread");
}

std::string ObjectName(int k) {
  char name[16];
  std::snprintf(name, sizeof name, "o%06d", k);
  return name;
}

}  // namespace

Measure Hdf5PacketWriteRows(const std::string& path, int rows) {
  Hid type(RecordType(), H5Tclose, "record type");
  Record record;
  const Stopwatch watch;
  Hid file(CreateFile(path), H5Fclose, "H5Fcreate");
  Hid table(H5PTcreate(file, "rows", type, kBatch, H5P_DEFAULT), H5PTclose, "H5PTcreate");
  for (int r = 0; r < rows; ++r) {
    Fill(r, &record);
    Check(H5PTappend(table, 1, &record), "H5PTappend");
  }
  table.Close("H5PTclose");
  file.Close("H5Fclose");
  return watch.Done();
}

Measure Hdf5PacketScanRows(const std::string& path) {
  Record record;
  Checksum sum;
  const Stopwatch watch;
  Hid file(OpenFile(path), H5Fclose, "H5Fopen");
  Hid table(H5PTopen(file, "rows"), H5PTclose, "H5PTopen");
  hsize_t rows = 0;
  Check(H5PTget_num_packets(table, &rows), "H5PTget_num_packets");
  Check(H5PTcreate_index(table), "H5PTcreate_index");
  for (hsize_t r = 0; r < rows; ++r) {
    Check(H5PTget_next(table, 1, &record), "H5PTget_next");
    Add(record, &sum);
  }
  table.Close("H5PTclose");
  file.Close("H5Fclose");
  return watch.Done(sum.Value());
}

Measure Hdf5BatchWriteRows(const std::string& path, int rows) {
  Hid type(RecordType(), H5Tclose, "record type");
  std::vector<Record> batch(kBatch);
  const Stopwatch watch;
  Hid file(CreateFile(path), H5Fclose, "H5Fcreate");
  Hid dataset(ChunkedDataset(file, "rows", type, 0, kBatch, 0), H5Dclose, "H5Dcreate2");
  hsize_t written = 0;
  for (int r = 0; r < rows;) {
    const hsize_t n = std::min<hsize_t>(kBatch, static_cast<hsize_t>(rows - r));
    for (hsize_t i = 0; i < n; ++i, ++r) Fill(r, &batch[i]);
    const hsize_t length = written + n;
    Check(H5Dset_extent(dataset, &length), "H5Dset_extent");
    WriteSlab(dataset, type, written, n, batch.data());
    written = length;
  }
  dataset.Close("H5Dclose");
  file.Close("H5Fclose");
  return watch.Done();
}

Measure Hdf5BatchScanRows(const std::string& path) {
  Hid type(RecordType(), H5Tclose, "record type");
  std::vector<Record> batch(kBatch);
  Checksum sum;
  const Stopwatch watch;
  Hid file(OpenFile(path), H5Fclose, "H5Fopen");
  Hid dataset(H5Dopen2(file, "rows", H5P_DEFAULT), H5Dclose, "H5Dopen2");
  const hsize_t rows = Length(dataset);
  for (hsize_t at = 0; at < rows; at += kBatch) {
    const hsize_t n = std::min(kBatch, rows - at);
    ReadSlab(dataset, type, at, n, batch.data());
    for (hsize_t i = 0; i < n; ++i) Add(batch[i], &sum);
  }
  dataset.Close("H5Dclose");
  file.Close("H5Fclose");
  return watch.Done(sum.Value());
}

Measure Hdf5WriteDeflate(const std::string& path, const std::vector<double>& data) {
  const Stopwatch watch;
  Hid file(CreateFile(path), H5Fclose, "H5Fcreate");
  Hid dataset(ChunkedDataset(file, "values", H5T_IEEE_F64LE, data.size(), kSegmentValues, 6), H5Dclose,
              "H5Dcreate2");
  for (hsize_t at = 0; at < data.size(); at += kStepValues)
    WriteSlab(dataset, H5T_NATIVE_DOUBLE, at, std::min<hsize_t>(kStepValues, data.size() - at),
              data.data() + at);
  dataset.Close("H5Dclose");
  file.Close("H5Fclose");
  return watch.Done();
}

Measure Hdf5ReadDeflate(const std::string& path, std::vector<double>* out) {
  const Stopwatch watch;
  Hid file(OpenFile(path), H5Fclose, "H5Fopen");
  Hid dataset(H5Dopen2(file, "values", H5P_DEFAULT), H5Dclose, "H5Dopen2");
  if (Length(dataset) != out->size()) Fail("HDF5: the deflated dataset has the wrong length");
  for (hsize_t at = 0; at < out->size(); at += kStepValues)
    ReadSlab(dataset, H5T_NATIVE_DOUBLE, at, std::min<hsize_t>(kStepValues, out->size() - at),
             out->data() + at);
  dataset.Close("H5Dclose");
  file.Close("H5Fclose");
  Measure done = watch.Done();
  done.checksum = ExpectedDoubles(*out);
  return done;
}

Measure Hdf5CreateObjects(const std::string& path, int count, int valuesPer) {
  std::vector<double> values(static_cast<std::size_t>(valuesPer));
  const hsize_t length = values.size();
  const Stopwatch watch;
  Hid file(CreateFile(path), H5Fclose, "H5Fcreate");
  Hid space(H5Screate_simple(1, &length, nullptr), H5Sclose, "H5Screate_simple");
  for (int k = 0; k < count; ++k) {
    for (int j = 0; j < valuesPer; ++j) values[static_cast<std::size_t>(j)] = ObjectValue(k, j);
    Hid dataset(
        H5Dcreate2(file, ObjectName(k).c_str(), H5T_IEEE_F64LE, space, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT),
        H5Dclose, "H5Dcreate2");
    Check(H5Dwrite(dataset, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, values.data()), "H5Dwrite");
  }
  space.Close("H5Sclose");
  file.Close("H5Fclose");
  return watch.Done();
}

Measure Hdf5ReadObjects(const std::string& path, int first, int stride, int count, int valuesPer) {
  std::vector<double> values(static_cast<std::size_t>(valuesPer));
  Checksum sum;
  const Stopwatch watch;
  Hid file(OpenFile(path), H5Fclose, "H5Fopen");
  for (int n = 0, k = first; n < count; ++n, k += stride) {
    Hid dataset(H5Dopen2(file, ObjectName(k).c_str(), H5P_DEFAULT), H5Dclose, "H5Dopen2");
    Check(H5Dread(dataset, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, values.data()), "H5Dread");
    sum.AddDoubles(values.data(), values.size());
  }
  file.Close("H5Fclose");
  return watch.Done(sum.Value());
}

}  // namespace compare
