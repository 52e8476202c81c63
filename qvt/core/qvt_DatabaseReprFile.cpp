// A database kept in one file: header, linkage, create, open, flush, snap and
// close. Sits on the file implementation (qvt_FileRepr) and hands out spaces.
#include "qvt_DatabaseReprFile.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <limits>

#include "atr_translate.h"
#include "nex_Exception.h"
#include "qvt_DatabaseHeader.h"
#include "qvt_DatabaseReprMessages.h"
#include "qvt_FileRepr.h"
#include "qvt_Problems.h"
#include "qvt_SpaceReprFile.h"

namespace M = qvt_CoreMessages;

namespace {

void WriteFully(qvt_FileRepr& file, const char* bytes, int count) {
  while (count > 0) {
    const int n = file.Write(bytes, count);
    if (n <= 0) NEX_THROW_TEXT(M::kWriteFailed);
    bytes += n;
    count -= n;
  }
}

// Reads up to count bytes from the file's start; answers how many there were.
int ReadLeadingBytes(qvt_FileRepr& file, unsigned char* bytes, int count) {
  file.Seek(0);
  int got = 0;
  while (got < count) {
    const int n = file.Read(reinterpret_cast<char*>(bytes) + got, count - got);
    if (n <= 0) break;
    got += n;
  }
  return got;
}

void ReportCloseFailure(const cow_String& fileName, const char* step, const std::exception& e) {
  std::fprintf(stderr, "*** WARNING: closing database \"%s\" (%s): %s\n", fileName.c_str(), step, e.what());
}

}  // namespace

qvt_DatabaseReprFile::qvt_DatabaseReprFile() = default;

qvt_DatabaseReprFile::~qvt_DatabaseReprFile() {
  if (m_Ready) {
    Close();
  } else {
    // A half-built database writes nothing; its pools hold spaces that
    // refer to this object, so they go first.
    DeleteMetadataPool();
    m_StringPool.Release();
  }
}

void qvt_DatabaseReprFile::Create(const qvt_File& file, const cow_String& typeCode,
                                  const cow_String& description, long creationTime) {
  NEX_ASSERT(!m_Ready && m_Blocks.empty());
  NEX_ASSERT(file.Repr() != nullptr);
  m_File = file;
  qvt_FileRepr& f = File();
  if (f.FileLength() != 0) NEX_THROW_TEXT(atr_Format(M::kCreateNotEmpty, f.FileName()));

  GrowFile(kHeaderBytes);
  const std::vector<char> zeros(static_cast<std::size_t>(kHeaderBytes), '\0');
  f.Seek(0);
  WriteFully(f, zeros.data(), static_cast<int>(zeros.size()));

  f.Seek(0);
  f.WriteFixedString(
      cow_String(qvt_FileLayout::kSignature) + typeCode.substr(0, qvt_FileLayout::kTypeCodeWidth),
      qvt_FileLayout::kVersionOffset);
  f.WriteInt(kVersion);
  f.WriteFixedString(description, kDescriptionWidth);
  for (int i = 0; i < 5; ++i) f.WriteInt(0);  // reserved word, size record, flush count
  f.WriteInt(static_cast<int>(creationTime));

  m_Scratch.assign(qvt_LinkageBlockBytes, 0);
  m_FlushCount = 0;
  NewLinkageBlock();  // lands at 1024: the file is exactly the header long

  std::unique_ptr<qvt_SpaceRepr> strings(Space(-1));
  strings->WriteInt(qvt_StringPoolMarker);
  m_StringPool.Attach(strings.release());

  std::unique_ptr<qvt_SpaceRepr> reserved(Space(-1));
  reserved.reset();

  std::unique_ptr<qvt_SpaceRepr> metadata(Space(-1));
  metadata->WriteInt(qvt_MetadataPoolMarker);
  AttachMetadataPool(metadata.release(), false);

  m_Ready = true;
}

void qvt_DatabaseReprFile::Open(const qvt_File& file, const cow_String& typeCode) {
  NEX_ASSERT(!m_Ready && m_Blocks.empty());
  NEX_ASSERT(file.Repr() != nullptr);
  m_File = file;
  qvt_FileRepr& f = File();

  // Every check raises, in the order the decoders make them, the first
  // problem a reader refuses the file for.
  qvt_Problems problems(qvt_Problems::kRaiseFirstRefusal);
  unsigned char header[kHeaderBytes];
  const int got = ReadLeadingBytes(f, header, static_cast<int>(kHeaderBytes));
  m_FlushCount = qvt_DatabaseHeader::Decode(header, got, f.FileName(), typeCode, &problems).flushCount;
  f.CheckSizeRecord(kSizeRecordOffset);

  m_Scratch.assign(qvt_LinkageBlockBytes, 0);
  // An internal check that fails while the file is being read (a compressed
  // file refuses a seek beyond its end) means a damaged file: say so, not
  // the bare condition.
  try {
    BlockList blocks;
    LoadLinkage(&blocks);
    m_Blocks.swap(blocks);

    m_StringPool.Attach(OpenPoolSpace(qvt_StringPoolHandle).release());
    AttachMetadataPool(OpenPoolSpace(qvt_MetadataPoolHandle).release(), true);
  } catch (const nex_AssertException&) {
    FailCorrupt();
  }

  m_Ready = true;
}

std::unique_ptr<qvt_SpaceRepr> qvt_DatabaseReprFile::OpenPoolSpace(qvt_Handle handle) {
  std::unique_ptr<qvt_SpaceRepr> space(Space(handle, -1));
  const utl_FileOffset length = space->Length();
  const int marker = length < qvt_PoolMarkerBytes ? 0 : space->ReadInt();
  qvt_Problems problems(qvt_Problems::kRaiseFirstRefusal);
  PoolProblems(handle, length, marker, &problems);
  return space;
}

void qvt_DatabaseReprFile::PoolProblems(qvt_Handle handle, utl_FileOffset length, int marker,
                                        qvt_Problems* problems) {
  const bool strings = handle == qvt_StringPoolHandle;
  const std::string name = std::string(strings ? "the string pool" : "the metadata pool") + " (object " +
                           std::to_string(handle) + ")";
  const char* refusal = strings ? M::kStringSpaceMisplaced : M::kMetadataMisplaced;
  // A pool too short to hold its marker is as misplaced as a wrong marker.
  if (length < qvt_PoolMarkerBytes) {
    problems->Add(name + " is " + std::to_string(length) + " bytes long, too short for its marker", refusal);
  } else if (marker != (strings ? qvt_StringPoolMarker : qvt_MetadataPoolMarker)) {
    problems->Add(name + " does not start with its marker", refusal);
  }
}

bool qvt_DatabaseReprFile::IsMagic(qvt_FileRepr& file, const cow_String& typeCode) {
  unsigned char lead[qvt_FileLayout::kVersionOffset];
  const int got = ReadLeadingBytes(file, lead, qvt_FileLayout::kVersionOffset);
  return qvt_DatabaseHeader::IsMagic(lead, got, typeCode);
}

long qvt_DatabaseReprFile::GetCreationTime(qvt_FileRepr& file) {
  file.Seek(qvt_FileLayout::kVersionOffset);
  if (file.ReadInt() < kVersion) return 0;
  file.Seek(kCreationTimeOffset);
  return file.ReadInt();
}

const cow_String& qvt_DatabaseReprFile::FileName() const { return File().FileName(); }

cow_String qvt_DatabaseReprFile::Description() {
  File().Seek(kDescriptionOffset);
  return File().ReadFixedString(kDescriptionWidth);
}

bool qvt_DatabaseReprFile::ReadOnly() const { return File().ReadOnly(); }

void qvt_DatabaseReprFile::Flush() {
  FlushMetadataPool();
  m_StringPool.Flush();
  if (ReadOnly()) return;
  WriteLinkage();
  // Last, after everything it covers: readers trust what it announces.
  const int next = m_FlushCount + 1;
  File().Seek(kFlushCountOffset);
  File().WriteInt(next);
  m_FlushCount = next;
  File().Flush();
}

bool qvt_DatabaseReprFile::Snap() {
  qvt_FileRepr& f = File();
  if (!f.ReadOnly()) return false;
  if (f.WriterActive()) return false;
  const auto storedCount = [&f] {
    f.Seek(kFlushCountOffset);
    return f.ReadInt();
  };
  const int count = storedCount();
  if (count == m_FlushCount) return false;

  const utl_FileOffset notedPoolSize = MetadataPoolSize();
  // Load fully before replacing anything: a linkage that fails to load
  // leaves the database as it was before the call.
  BlockList blocks;
  LoadLinkage(&blocks);
  // A writer that began a transaction, or finished a flush, while the
  // linkage was read may have left it half old, half new. It is taken up
  // at a later refresh instead; the status check still reports that flush.
  if (f.TransactionLockExists() || storedCount() != count) {
    m_FlushNotTakenUp = true;
    return false;
  }
  m_FlushNotTakenUp = false;
  m_Blocks.swap(blocks);
  m_FlushCount = count;
  if (MetadataPoolSize() != notedPoolSize) IndexMetadataPool();
  return true;
}

void qvt_DatabaseReprFile::SetCreationTime(long creationTime) {
  File().Seek(kCreationTimeOffset);
  File().WriteInt(static_cast<int>(creationTime));
}

qvt_FileStatus::QvtFileStatus qvt_DatabaseReprFile::FileStatus() {
  const qvt_FileStatus::QvtFileStatus status = File().FileStatus();
  // The status check reported that flush when the refresh asked whether a
  // writer was active; it is still news to the caller.
  if (status == qvt_FileStatus::Unchanged && m_FlushNotTakenUp) return qvt_FileStatus::Updated;
  return status;
}

atr_String qvt_DatabaseReprFile::CheckNODBCache() { return File().CheckNODBCache(); }

void qvt_DatabaseReprFile::ReaderSemaphoreSet() { File().ReaderSemaphoreSet(); }

void qvt_DatabaseReprFile::ReaderSemaphoreClear() { File().ReaderSemaphoreClear(); }

qvt_SpaceRepr* qvt_DatabaseReprFile::Space(qvt_Handle handle, int increment) {
  if (!IsValidHandle(handle)) NEX_THROW_TEXT(M::kInvalidDatabase);
  return new qvt_SpaceReprFile(this, handle, increment, false);
}

qvt_SpaceRepr* qvt_DatabaseReprFile::Space(int increment) {
  // A reader's new handle would collide with the writer's next one.
  if (ReadOnly()) NEX_THROW_TEXT(M::kReadOnly);
  const qvt_Handle handle = NewHandle();
  LinkageEntry(handle).m_Location = qvt_LocationTaken;
  MarkDirty(handle);
  return new qvt_SpaceReprFile(this, handle, increment, true);
}

// ---- Linkage ----

qvt_LinkageEntry& qvt_DatabaseReprFile::LinkageEntry(qvt_Handle handle) {
  const std::uint32_t block = qvt_HandleBlock(handle);
  const int slot = qvt_HandleSlot(handle);
  if (block >= m_Blocks.size() || slot < 1 || slot >= m_Blocks[block]->m_Used) FailCorrupt();
  return m_Blocks[block]->m_Entries[slot];
}

bool qvt_DatabaseReprFile::IsValidHandle(qvt_Handle handle) const {
  const std::uint32_t block = qvt_HandleBlock(handle);
  const int slot = qvt_HandleSlot(handle);
  return slot >= 1 && block < m_Blocks.size() && m_Blocks[block]->m_Entries[slot].m_Location != qvt_LocationFree;
}

void qvt_DatabaseReprFile::MarkDirty(qvt_Handle handle) {
  const std::uint32_t block = qvt_HandleBlock(handle);
  if (block >= m_Blocks.size()) FailCorrupt();
  m_Blocks[block]->m_Dirty = true;
}

qvt_Handle qvt_DatabaseReprFile::NewHandle() {
  NEX_ASSERT(!m_Blocks.empty());
  qvt_LinkageBlock* serving = m_Blocks.back().get();
  if (serving->m_Used >= qvt_LinkageSlots) {
    qvt_LinkageBlock* previous = serving;
    NewLinkageBlock();
    serving = m_Blocks.back().get();
    previous->m_Dirty = true;
    previous->m_Entries[0].m_Location = serving->m_FileOffset;
    previous->m_Entries[0].m_Next = qvt_MakeHandle(static_cast<std::uint32_t>(m_Blocks.size() - 1), 0);
  }
  const qvt_Handle handle = qvt_MakeHandle(static_cast<std::uint32_t>(m_Blocks.size() - 1), serving->m_Used);
  ++serving->m_Used;
  return handle;
}

qvt_Handle qvt_DatabaseReprFile::NextInChain(qvt_Handle handle, std::int64_t* steps) {
  if (++*steps > LinkageEntryCount()) FailCorrupt();
  return LinkageEntry(handle).m_Next;
}

void qvt_DatabaseReprFile::NewLinkageBlock() {
  NEX_ASSERT(m_Blocks.size() < qvt_LinkageMaxBlocks);
  auto block = std::make_unique<qvt_LinkageBlock>(File().FileLength());
  GrowFile(qvt_LinkageBlockBytes);
  m_Blocks.push_back(std::move(block));
}

void qvt_DatabaseReprFile::LoadLinkage(BlockList* blocks) {
  // A reader's file may have grown since it opened: blocks are read
  // wherever their links say.
  qvt_Problems problems(qvt_Problems::kRaiseFirstRefusal);
  (void)qvt_ReadLinkage(File(), std::numeric_limits<utl_FileOffset>::max(), blocks, &problems);
}

void qvt_DatabaseReprFile::WriteLinkage() {
  qvt_FileRepr& f = File();
  for (const auto& block : m_Blocks) {
    if (!block->m_Dirty) continue;
    block->Encode(m_Scratch.data(), f.Swapper());
    f.Seek(block->m_FileOffset);
    WriteFully(f, reinterpret_cast<const char*>(m_Scratch.data()), qvt_LinkageBlockBytes);
    block->m_Dirty = false;
  }
}

void qvt_DatabaseReprFile::GrowFile(utl_FileOffset bytes) {
  if (File().ExtendFile(bytes)) File().WriteSizeRecord(kSizeRecordOffset);
}

void qvt_DatabaseReprFile::FailCorrupt() const { NEX_THROW_TEXT(atr_Format(M::kCorrupt, FileName())); }

// ---- Closing ----

void qvt_DatabaseReprFile::Close() noexcept {
  m_Ready = false;
  qvt_FileRepr& f = File();
  const cow_String name = f.FileName();
  const bool writable = !f.ReadOnly();
  if (writable) {
    try {
      f.Seek(kReservedOffset);
      f.WriteInt(0);
    } catch (const std::exception& e) {
      ReportCloseFailure(name, "reserved word", e);
    }
  }
  try {
    Flush();
  } catch (const std::exception& e) {
    ReportCloseFailure(name, "flush", e);
  }
  // The pools' spaces refer to the linkage; they go before it does.
  DeleteMetadataPool();
  m_Blocks.clear();
  m_Scratch.clear();
  m_Scratch.shrink_to_fit();
  if (writable) {
    try {
      f.TrimToLength();
      f.WriteSizeRecord(kSizeRecordOffset);
    } catch (const std::exception& e) {
      ReportCloseFailure(name, "trim", e);
    }
  }
  m_StringPool.Release();
}
