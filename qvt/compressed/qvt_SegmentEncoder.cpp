// The encoding threads of a compressed file and its queue of deferred stores.
#include "qvt_SegmentEncoder.h"

#include <algorithm>
#include <cstring>
#include <system_error>

#include "nex_Exception.h"
#include "qvt_EncodedSegment.h"

namespace {
// Threads that encode, the writer's own included since it encodes whenever
// it would wait: every core of a small machine, but no more than a few, as
// the writer's thread alone stores every segment and soon sets the pace.
int EncodingThreads() {
  const unsigned cores = std::thread::hardware_concurrency();
  return static_cast<int>(std::min(4u, std::max(2u, cores)));
}
// Jobs per encoding thread: enough that a thread finishing one finds the
// next queued while the writer is busy storing or filling a segment.
constexpr int kSlotsPerThread = 2;
}  // namespace

qvt_SegmentEncoder::~qvt_SegmentEncoder() {
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_Stopping = true;
  }
  m_Queued.notify_all();
  for (std::thread& worker : m_Workers) worker.join();
}

bool qvt_SegmentEncoder::Parallel(qvt_Codec& codec) {
  if (!m_Decided) {
    m_Decided = true;
    Start(codec);
  }
  return !m_Workers.empty();
}

void qvt_SegmentEncoder::Start(qvt_Codec& codec) {
  const int threads = EncodingThreads();
  for (int i = 1; i < threads; ++i) {
    std::unique_ptr<qvt_Codec> copy = codec.CopyForThread();
    if (!copy) return;
    m_Codecs.push_back(std::move(copy));
  }
  m_WriterCodec = &codec;
  m_SlotCount = kSlotsPerThread * threads;
  m_Slots.reset(new Slot[static_cast<std::size_t>(m_SlotCount)]);
  m_Order.assign(static_cast<std::size_t>(m_SlotCount), 0);
  try {
    for (const auto& copy : m_Codecs) m_Workers.emplace_back(&qvt_SegmentEncoder::Work, this, copy.get());
  } catch (const std::system_error&) {
    // No more threads to be had: those started share the work with the
    // writer, and with none the writer encodes alone.
  }
}

void qvt_SegmentEncoder::Work(qvt_Codec* codec) {
  std::unique_lock<std::mutex> lock(m_Mutex);
  for (;;) {
    Slot* slot = nullptr;
    m_Queued.wait(lock, [&] { return m_Stopping || (slot = NextQueued()) != nullptr; });
    if (m_Stopping) return;
    Run(*slot, *codec, lock);
  }
}

void qvt_SegmentEncoder::Run(Slot& slot, qvt_Codec& codec, std::unique_lock<std::mutex>& lock) {
  slot.m_State = State::Running;
  lock.unlock();
  std::exception_ptr error;
  try {
    codec.Encode(slot.m_Encoded, slot.m_Decoded, slot.m_Length);
  } catch (...) {
    error = std::current_exception();
  }
  lock.lock();
  slot.m_Error = error;
  slot.m_State = error ? State::Failed : State::Encoded;
  m_Encoded.notify_all();
}

qvt_SegmentEncoder::Slot& qvt_SegmentEncoder::Job(int i) {
  return m_Slots[static_cast<std::size_t>(OrderAt(i))];
}

int& qvt_SegmentEncoder::OrderAt(int i) {
  return m_Order[static_cast<std::size_t>((m_Head + i) % m_SlotCount)];
}

qvt_SegmentEncoder::Slot* qvt_SegmentEncoder::NextQueued() {
  for (int i = 0; i < m_Count; ++i) {
    if (Job(i).m_State == State::Queued) return &Job(i);
  }
  return nullptr;
}

qvt_SegmentEncoder::Slot& qvt_SegmentEncoder::Take() {
  if (m_Count == m_SlotCount) StoreOldest();
  std::lock_guard<std::mutex> lock(m_Mutex);
  Slot* const end = m_Slots.get() + m_SlotCount;
  Slot* const slot = std::find_if(m_Slots.get(), end, [](const Slot& s) { return s.m_State == State::Free; });
  NEX_ASSERT(slot != end);
  // Free slots are not in the order, so no worker looks at this one until
  // it is queued.
  return *slot;
}

void qvt_SegmentEncoder::Queue(Slot& slot, qvt_EncodedSegment* segment, int length, bool copied) {
  slot.m_Segment = segment;
  slot.m_Length = length;
  slot.m_Copied = copied;
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    OrderAt(m_Count) = static_cast<int>(&slot - m_Slots.get());
    ++m_Count;
    slot.m_State = State::Queued;
  }
  m_Queued.notify_one();
}

void qvt_SegmentEncoder::HandOver(qvt_EncodedSegment* segment, qvt_SegmentBuffer* buffer, int length) {
  Slot& slot = Take();
  // Slots are given the segment size at their first job and keep it.
  if (slot.m_Decoded.Size() != buffer->Size()) slot.m_Decoded.Reuse(buffer->Size());
  slot.m_Decoded.Swap(*buffer);
  Queue(slot, segment, length, false);
}

void qvt_SegmentEncoder::Copy(qvt_EncodedSegment* segment, const qvt_SegmentBuffer& buffer, int length) {
  Slot& slot = Take();
  slot.m_Decoded.Reuse(buffer.Size());
  std::memcpy(slot.m_Decoded.Data(), buffer.Data(), static_cast<std::size_t>(length));
  Queue(slot, segment, length, true);
}

void qvt_SegmentEncoder::StoreOldest() {
  Slot& slot = Job(0);
  {
    std::unique_lock<std::mutex> lock(m_Mutex);
    while (slot.m_State == State::Queued || slot.m_State == State::Running) {
      // Rather than wait, encode here what no worker has taken yet.
      if (Slot* next = NextQueued()) {
        Run(*next, *m_WriterCodec, lock);
      } else {
        m_Encoded.wait(lock);
      }
    }
    if (slot.m_State == State::Failed) {
      // Reported as the store would report it; trying again encodes again.
      const std::exception_ptr error = slot.m_Error;
      slot.m_Error = nullptr;
      slot.m_State = State::Queued;
      lock.unlock();
      std::rethrow_exception(error);
    }
  }
  // Encoded: no worker touches the slot now. A failed store leaves the job
  // first in line, encoded, to be stored again.
  slot.m_Segment->StoreEncoded(slot.m_Encoded, slot.m_Copied);
  std::lock_guard<std::mutex> lock(m_Mutex);
  slot.m_State = State::Free;
  slot.m_Segment = nullptr;
  m_Head = (m_Head + 1) % m_SlotCount;
  --m_Count;
}

void qvt_SegmentEncoder::StoreAll() {
  while (m_Count > 0) StoreOldest();
}

void qvt_SegmentEncoder::DropCopies() {
  std::unique_lock<std::mutex> lock(m_Mutex);
  // A copy being encoded is let finish: a worker is reading its slot.
  m_Encoded.wait(lock, [&] {
    for (int i = 0; i < m_Count; ++i)
      if (Job(i).m_Copied && Job(i).m_State == State::Running) return false;
    return true;
  });
  int kept = 0;
  for (int i = 0; i < m_Count; ++i) {
    Slot& slot = Job(i);
    if (slot.m_Copied) {
      slot.m_State = State::Free;
      slot.m_Segment = nullptr;
      slot.m_Error = nullptr;
    } else {
      OrderAt(kept++) = OrderAt(i);
    }
  }
  m_Count = kept;
}
