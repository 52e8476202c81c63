// Byte-level test helpers.
#include "qvt_TestSupport.h"

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "qvt_File.h"
#include "qvt_FileRepr.h"

namespace qvt_test {

ScratchDir::ScratchDir() : m_Path((std::filesystem::temp_directory_path() / "qvt_test_XXXXXX").string()) {
  if (!::mkdtemp(&m_Path[0])) throw std::runtime_error("mkdtemp failed");
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(m_Path, ignored);
}

std::vector<unsigned char> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const std::string& path, const std::vector<unsigned char>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

void FlipByte(const std::string& path, std::int64_t offset, unsigned char mask) {
  std::vector<unsigned char> bytes = ReadAll(path);
  bytes.at(static_cast<std::size_t>(offset)) ^= mask;
  WriteAll(path, bytes);
}

void TruncateTo(const std::string& path, std::int64_t length) {
  std::filesystem::resize_file(path, static_cast<std::uintmax_t>(length));
}

std::int64_t FileSize(const std::string& path) {
  return static_cast<std::int64_t>(std::filesystem::file_size(path));
}

// Decoded and encoded here, not through the library's byte helpers, so that
// a fault in those cannot hide in the reading.
std::uint32_t BE32(const std::vector<unsigned char>& b, std::size_t o) {
  std::uint32_t v = 0;
  for (std::size_t i = 0; i < 4; ++i) v = v << 8 | b.at(o + i);
  return v;
}

double BEDouble(const std::vector<unsigned char>& b, std::size_t o) {
  const std::uint64_t bits = static_cast<std::uint64_t>(BE32(b, o)) << 32 | BE32(b, o + 4);
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

void PutBE32(std::vector<unsigned char>& b, std::size_t o, std::uint32_t value) {
  for (std::size_t i = 0; i < 4; ++i) b.at(o + i) = static_cast<unsigned char>(value >> (24 - 8 * i));
}

void PutBEDouble(std::vector<unsigned char>& b, std::size_t o, double value) {
  std::uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  PutBE32(b, o, static_cast<std::uint32_t>(bits >> 32));
  PutBE32(b, o + 4, static_cast<std::uint32_t>(bits));
}

void WriteStatusHeader(const std::string& path, int flushCount, int creationTime) {
  std::vector<unsigned char> bytes(1024, 0);
  std::memcpy(bytes.data(), "WOXR", 4);
  PutBE32(bytes, 512, static_cast<std::uint32_t>(flushCount));
  PutBE32(bytes, 516, static_cast<std::uint32_t>(creationTime));
  WriteAll(path, bytes);
}

std::vector<char> LogicalBytes(const std::string& path) {
  qvt_File file = qvt_File::Open(path, 0, true);
  std::vector<char> bytes(static_cast<std::size_t>(file.Repr()->Length()));
  file.Repr()->Read(bytes.data(), static_cast<int>(bytes.size()));
  return bytes;
}

}  // namespace qvt_test
