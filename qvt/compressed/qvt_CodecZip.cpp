// zlib streams behind the segment codec interface.
#include "qvt_CodecZip.h"

#include <algorithm>
#include <typeinfo>

#include "atr_translate.h"
#include "nex_Exception.h"
#include "qvt_EncodedMessages.h"
#include "qvt_SegmentBuffer.h"
#include "zip_Compress.h"

int qvt_CodecZip::EncodedRoom(int length) const { return static_cast<int>(length * 1.1 + 12.0); }

std::unique_ptr<qvt_Codec> qvt_CodecZip::CopyForThread() const {
  if (typeid(*this) != typeid(qvt_CodecZip)) return nullptr;
  return std::make_unique<qvt_CodecZip>(m_Level, m_Zip.Engine());
}

void qvt_CodecZip::Encode(qvt_SegmentBuffer& out, const qvt_SegmentBuffer& in, int length) {
  NEX_ASSERT(length >= 0 && length <= in.Size());
  // The engine may want more room than the stream will take; what it
  // writes still fits the room a reader allows.
  const unsigned long room = std::max<unsigned long>(static_cast<unsigned long>(EncodedRoom(length)),
                                                     m_Zip.CompressBound(static_cast<unsigned long>(length)));
  out.Reuse(static_cast<int>(room));
  unsigned long encodedLength = room;
  const int result = m_Zip.Compress(reinterpret_cast<unsigned char*>(out.Data()), &encodedLength,
                                    reinterpret_cast<const unsigned char*>(in.Data()), static_cast<unsigned long>(length));
  NEX_ASSERT(result == 0 && "zip_compress2");
  NEX_ASSERT(encodedLength <= static_cast<unsigned long>(EncodedRoom(length)));
  out.Shrink(static_cast<int>(encodedLength));
}

int qvt_CodecZip::Decode(qvt_SegmentBuffer& out, const qvt_SegmentBuffer& in) {
  unsigned long decodedLength = static_cast<unsigned long>(out.Size());
  const int result =
      m_Zip.Uncompress(reinterpret_cast<unsigned char*>(out.Data()), &decodedLength,
                       reinterpret_cast<const unsigned char*>(in.Data()), static_cast<unsigned long>(in.Size()));
  if (result != zip_OK) NEX_THROW_TEXT(atr_translate(qvt_EncodedMessages::kDatabaseCorrupt).Result());
  return static_cast<int>(decodedLength);
}
