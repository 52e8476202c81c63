// How a segment's decoded bytes become the bytes stored in the container and
// back. The segment table owns one codec; the zlib codec is the only kind.
#ifndef QVT_IMPL_QVT_CODEC_H
#define QVT_IMPL_QVT_CODEC_H

#include <memory>

class qvt_SegmentBuffer;

class qvt_Codec {
 public:
  virtual ~qvt_Codec() = default;
  // Encodes the first length bytes of in; out receives the encoded bytes,
  // in its own memory when that is large enough. REQUIRES: out is not in.
  // THROWS nex_AssertException on failure.
  virtual void Encode(qvt_SegmentBuffer& out, const qvt_SegmentBuffer& in, int length) = 0;
  // Decodes all of in into out, whose size is the segment size; answers the
  // bytes restored. Bytes after the end of the encoded data are ignored.
  // THROWS nex_TextException "***ERROR: CAE database is corrupt." when in
  // cannot be decoded into out.
  virtual int Decode(qvt_SegmentBuffer& out, const qvt_SegmentBuffer& in) = 0;
  // The most bytes Encode can make of length bytes; a stored segment larger
  // than this is damaged.
  virtual int EncodedRoom(int length) const = 0;
  // A codec that encodes exactly as this one does, for another thread to use
  // at the same time; null keeps encoding on the thread that owns this one.
  virtual std::unique_ptr<qvt_Codec> CopyForThread() const { return nullptr; }

 protected:
  qvt_Codec() = default;
  qvt_Codec(const qvt_Codec&) = default;
  qvt_Codec& operator=(const qvt_Codec&) = default;
};

#endif  // QVT_IMPL_QVT_CODEC_H
