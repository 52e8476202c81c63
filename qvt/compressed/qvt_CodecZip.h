// The zlib codec: each segment compressed on its own with compress2 at the
// codec's level, restored with uncompress.
#ifndef QVT_IMPL_QVT_CODECZIP_H
#define QVT_IMPL_QVT_CODECZIP_H

#include "qvt_Codec.h"

class qvt_CodecZip : public qvt_Codec {
 public:
  static constexpr int kDefaultLevel = 6;

  explicit qvt_CodecZip(int level = kDefaultLevel) : m_Level(level) {}
  ~qvt_CodecZip() override = default;

  void Encode(qvt_SegmentBuffer& out, const qvt_SegmentBuffer& in, int length) override;
  int Decode(qvt_SegmentBuffer& out, const qvt_SegmentBuffer& in) override;

  // length * 1.1 + 12, more than zlib ever needs, so compress2 never runs
  // out of room.
  int EncodedRoom(int length) const override;
  int Level() const { return m_Level; }

 private:
  int m_Level;
};

#endif  // QVT_IMPL_QVT_CODECZIP_H
