// Encodes the segments of one compressed file on worker threads while the
// writer's thread goes on, and stores them on the writer's thread in the
// order they were handed over. Encoding is most of the time a write takes;
// the container sees exactly the stores, in exactly the order, that it would
// see if each segment were encoded where it is stored, only some of them
// later: a deferred store is made before anything else writes to the
// container (the callers see to that by calling StoreAll first), so the file
// and the sequence of its writes do not change. Reading another segment may
// come before a deferred store: entries share no sectors, and a segment whose
// own store waits stores everything queued before it is read.
//
// A job is a segment's decoded bytes in a slot the encoder owns: handed over
// by swapping buffers when the cache reclaims a dirty segment's buffer, or
// copied at a flush, where the segment keeps its buffer. There are a few
// slots per encoding thread, which bounds the memory and the work in flight;
// when all are taken the writer stores the oldest job, encoding queued jobs
// itself rather than waiting idle.
//
// The workers belong to one file and start with its first job: they read
// only that file's slots, so they end with it, never outlive a buffer they
// read, and a process that only reads or never writes a compressed file has
// no threads (a process-wide pool would run on past the file and exit, and
// be hard to reason about in a process that forks).
#ifndef QVT_IMPL_QVT_SEGMENTENCODER_H
#define QVT_IMPL_QVT_SEGMENTENCODER_H

#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "qvt_Codec.h"
#include "qvt_SegmentBuffer.h"

class qvt_EncodedSegment;

class qvt_SegmentEncoder {
 public:
  qvt_SegmentEncoder() = default;
  // Waits for the encodings under way and drops the queued jobs; calls no
  // segment.
  ~qvt_SegmentEncoder();
  qvt_SegmentEncoder(const qvt_SegmentEncoder&) = delete;
  qvt_SegmentEncoder& operator=(const qvt_SegmentEncoder&) = delete;

  // True when jobs may be queued. The first call decides, starting the
  // workers with copies of codec; a codec that gives no copies keeps all
  // encoding on the writer's thread, which then uses codec itself.
  bool Parallel(qvt_Codec& codec);

  // Takes the first length bytes of *buffer for segment's deferred store and
  // leaves in *buffer one of the same size whose bytes are unspecified; the
  // segment's StoreEncoded runs later on this thread, when a new job finds
  // every slot taken or at StoreAll. THROWS what storing the oldest job
  // throws when every slot is taken; *buffer is then as it was.
  void HandOver(qvt_EncodedSegment* segment, qvt_SegmentBuffer* buffer, int length);
  // Queues a copy of the first length bytes of buffer, as HandOver does.
  void Copy(qvt_EncodedSegment* segment, const qvt_SegmentBuffer& buffer, int length);
  // Stores every queued job, oldest first. THROWS what an encoding or a store
  // throws; that job and the later ones stay queued, to be tried again.
  void StoreAll();
  // Drops the queued copies, after a flush that failed: their segments kept
  // their bytes and stay dirty.
  void DropCopies();

 private:
  enum class State { Free, Queued, Running, Encoded, Failed };
  struct Slot {
    qvt_SegmentBuffer m_Decoded;
    qvt_SegmentBuffer m_Encoded;
    qvt_EncodedSegment* m_Segment = nullptr;
    int m_Length = 0;
    bool m_Copied = false;
    State m_State = State::Free;
    std::exception_ptr m_Error;
  };

  void Start(qvt_Codec& codec);
  void Work(qvt_Codec* codec);
  // Encodes slot with codec outside the lock, which lock holds on entry and
  // on return.
  void Run(Slot& slot, qvt_Codec& codec, std::unique_lock<std::mutex>& lock);
  // The slot of the i-th job in order, oldest first, and its place in the
  // order. REQUIRES: 0 <= i < m_SlotCount.
  Slot& Job(int i);
  int& OrderAt(int i);
  // The oldest queued slot, or null. REQUIRES: the lock held.
  Slot* NextQueued();
  // A free slot for a new job; stores the oldest job first when every slot
  // is taken.
  Slot& Take();
  // Fills in slot's job and puts it at the end of the order.
  void Queue(Slot& slot, qvt_EncodedSegment* segment, int length, bool copied);
  void StoreOldest();

  bool m_Decided = false;
  qvt_Codec* m_WriterCodec = nullptr;
  std::vector<std::unique_ptr<qvt_Codec>> m_Codecs;  // one per worker
  std::vector<std::thread> m_Workers;
  std::unique_ptr<Slot[]> m_Slots;  // made once, when the workers start
  int m_SlotCount = 0;
  // The jobs in the order they were handed over: slot numbers from m_Head
  // on, m_Count of them, wrapping around. Changed only by the writer's
  // thread, under the lock.
  std::vector<int> m_Order;
  int m_Head = 0;
  int m_Count = 0;

  std::mutex m_Mutex;                 // guards the order, the slots' states and errors, and m_Stopping
  std::condition_variable m_Queued;   // a job was queued, or the workers must stop
  std::condition_variable m_Encoded;  // a job is encoded or failed
  bool m_Stopping = false;
};

#endif  // QVT_IMPL_QVT_SEGMENTENCODER_H
