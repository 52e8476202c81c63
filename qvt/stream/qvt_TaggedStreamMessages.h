// Every message text of the tagged streams in one place.
#ifndef QVT_IMPL_QVT_TAGGEDSTREAMMESSAGES_H
#define QVT_IMPL_QVT_TAGGEDSTREAMMESSAGES_H

namespace qvt_TaggedStreamMessages {

constexpr const char* kCorrupt =
    "qvt_TaggedStreamRepr::qvt_TaggedStreamRepr: Tagged stream object format is corrupt in ODB/CAE.  "
    "File may be unusable.";
constexpr const char* kNotAStream =
    "qvt_TaggedStreamRepr::qvt_TaggedStreamRepr: Handle is not to a Tagged Stream object in ODB/CAE file.  "
    "File may be unusable.";
// The assertion text for a record whose type code is no value type.
constexpr const char* kBadType = "qvt_TaggedStreamRepr::Next: Bad type from Tagged Stream.";
// A record cut off by the end of the space.
constexpr const char* kUnexpectedEof = "***ERROR: Unexpected End Of File.";
// A text whose padded width does not fit the record's int.
constexpr const char* kTextTooLong =
    "qvt_TaggedStreamRepr::WriteFixedString - Text is too long for a record.";

}  // namespace qvt_TaggedStreamMessages

#endif  // QVT_IMPL_QVT_TAGGEDSTREAMMESSAGES_H
