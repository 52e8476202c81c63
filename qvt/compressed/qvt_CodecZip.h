// The zlib codec: each segment is one zlib stream of its own at the codec's
// level. libdeflate writes and reads them where the build has it, zlib
// otherwise; both engines read what either wrote.
#ifndef QVT_IMPL_QVT_CODECZIP_H
#define QVT_IMPL_QVT_CODECZIP_H

#include "qvt_Codec.h"
#include "zip_Codec.h"

class qvt_CodecZip : public qvt_Codec {
 public:
  static constexpr int kDefaultLevel = 6;

  explicit qvt_CodecZip(int level = kDefaultLevel, zip_Engine engine = zip_Codec::Fastest())
      : m_Level(level), m_Zip(engine, level) {}
  ~qvt_CodecZip() override = default;

  void Encode(qvt_SegmentBuffer& out, const qvt_SegmentBuffer& in, int length) override;
  int Decode(qvt_SegmentBuffer& out, const qvt_SegmentBuffer& in) override;

  // length * 1.1 + 12, more than zlib ever needs, so compress2 never runs
  // out of room.
  int EncodedRoom(int length) const override;
  // The same level and engine. A class derived from this one may add
  // behaviour of its own (counting, failing) that a plain copy would lose,
  // so only this class itself gives copies.
  std::unique_ptr<qvt_Codec> CopyForThread() const override;
  int Level() const { return m_Level; }
  zip_Engine Engine() const { return m_Zip.Engine(); }

 private:
  int m_Level;
  zip_Codec m_Zip;
};

#endif  // QVT_IMPL_QVT_CODECZIP_H
