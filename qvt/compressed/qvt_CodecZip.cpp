// zlib behind the segment codec interface.
#include "qvt_CodecZip.h"

#include "atr_translate.h"
#include "nex_Exception.h"
#include "qvt_EncodedMessages.h"
#include "qvt_SegmentBuffer.h"
#include "zip_Compress.h"

int qvt_CodecZip::EncodedRoom(int length) const { return static_cast<int>(length * 1.1 + 12.0); }

void qvt_CodecZip::Encode(qvt_SegmentBuffer& out, const qvt_SegmentBuffer& in, int length) {
  NEX_ASSERT(length >= 0 && length <= in.Size());
  qvt_SegmentBuffer encoded(EncodedRoom(length));
  unsigned long encodedLength = static_cast<unsigned long>(encoded.Size());
  const int result =
      zip_compress2(reinterpret_cast<unsigned char*>(encoded.Data()), &encodedLength,
                    reinterpret_cast<const unsigned char*>(in.Data()), static_cast<unsigned long>(length), m_Level);
  NEX_ASSERT(result == 0 && "zip_compress2");
  encoded.Shrink(static_cast<int>(encodedLength));
  out.Swap(encoded);
}

int qvt_CodecZip::Decode(qvt_SegmentBuffer& out, const qvt_SegmentBuffer& in) {
  unsigned long decodedLength = static_cast<unsigned long>(out.Size());
  const int result =
      zip_uncompress(reinterpret_cast<unsigned char*>(out.Data()), &decodedLength,
                     reinterpret_cast<const unsigned char*>(in.Data()), static_cast<unsigned long>(in.Size()));
  if (result != zip_OK) NEX_THROW_TEXT(atr_translate(qvt_EncodedMessages::kDatabaseCorrupt).Result());
  return static_cast<int>(decodedLength);
}
