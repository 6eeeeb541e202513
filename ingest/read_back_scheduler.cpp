// The per-disk queues of read-backs: a ring of direct reads on one thread per disk, or a few
// threads reading one copy each where there is no ring.
#include "ingest/read_back_scheduler.h"

#include <fcntl.h>
#include <liburing.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <list>
#include <thread>

#include "database/ledger_store.h"
#include "foundation/sysio.h"
#include "platform/processors.h"

namespace cw {

namespace {

// One read of a ring, and the buffer of a reading thread: large enough that the disk sees long
// requests, small enough that a disk's pieces in flight cost a few megabytes.
constexpr std::size_t kPiece = 1048576;
// The unit in which a piece shorter than kPiece is asked for (direct reads take whole pages).
constexpr std::size_t kPage = 4096;
// Rings of a disk, each with its share of the disk's pieces on a thread of its own: the hashing
// of what comes back is spread over two processors, and while one ring's thread waits for a
// processor the other's reads are still in front of the disk.
constexpr std::size_t kRingsPerDisk = 2;
// How long a disk's readers wait with nothing queued before giving their buffers' pages back.
constexpr std::chrono::milliseconds kIdleRelease{200};

struct Queued {
  VerifyJob job;
  std::shared_ptr<ReadBackSink> sink;
  std::int64_t ready_ns = 0;  // real time from which the copy may be read
  // And from which it is read without waiting for company; 0 once the queue held the disk's
  // depth of copies with it, or its run waits for it.
  std::int64_t gathered_ns = 0;
  // The tick of its disk's clock, as proven there.
  std::int64_t tick_ns = kFingerprintSettleNs;
};

// The result of reading `q`'s copy, its fingerprint judged by the tick proven for its disk
// (the file's own file system says no less than that).
VerifyResult with_disk_tick(VerifyResult result, const Queued& q) {
  result.fingerprint_tick_ns = std::min(result.fingerprint_tick_ns, q.tick_ns);
  return result;
}

// Reads made past the system-call table would hide from a table that injects read faults:
// with such a table the copy is read with read_back(), through it.
bool ring_reads_usable() { return sysio().read == system_sysio().read; }

}  // namespace

void ReadBackSink::expect() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++outstanding_;
}

void ReadBackSink::deliver(std::optional<VerifyResult> result) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (result) results_.push_back(std::move(*result));
  if (--outstanding_ == 0) idle_.notify_all();
}

std::vector<VerifyResult> ReadBackSink::take(bool wait) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (wait) idle_.wait(lock, [this] { return outstanding_ == 0; });
  std::vector<VerifyResult> out;
  out.swap(results_);
  return out;
}

bool ReadBackSink::busy() {
  std::lock_guard<std::mutex> lock(mutex_);
  return outstanding_ > 0;
}

// One destination disk: its queue and the thread or threads that read it.
struct ReadBackScheduler::Disk {
  Disk(const Settings& settings);
  ~Disk();

  // The first queued copy once it may be read; waits for it unless `block` is false. Nothing
  // when the disk is closing (or, not blocking, when no copy is ready). A reader waiting with
  // nothing queued gives the pages of `idle` back once it has waited kIdleRelease: the run
  // that read back its last copy goes on to write its records and lists without them, and
  // they come back on the next read.
  std::optional<Queued> next(bool block, const ReadBackMemory* idle = nullptr);
  void run_threads();
  void run_ring(io_uring* ring, std::size_t pieces);

  std::size_t depth;
  std::int64_t gather_ns;       // Settings::gather
  std::vector<int> processors;  // the readers' (Settings::processors)
  // The tick of the clock that stamps this disk's change times (proven_change_time_tick_ns).
  std::int64_t tick_ns = kFingerprintSettleNs;
  Method method = Method::kThreads;
  std::array<io_uring, kRingsPerDisk> rings{};
  std::size_t ring_count = 0;
  std::mutex mutex;
  std::condition_variable wake;
  std::deque<Queued> queue;
  bool quit = false;
  std::vector<std::thread> threads;
};

ReadBackScheduler::Disk::Disk(const Settings& settings)
    : depth(settings.depth ? settings.depth : 1),
      gather_ns(std::chrono::nanoseconds(settings.gather).count()),
      processors(settings.processors) {
  const std::size_t n = std::min(kRingsPerDisk, depth);
  const auto share = [&](std::size_t i) { return depth / n + (i < depth % n ? 1 : 0); };
  if (settings.allow_ring) {
    while (ring_count < n &&
           io_uring_queue_init(static_cast<unsigned>(share(ring_count)), &rings[ring_count], 0) == 0)
      ++ring_count;
    if (ring_count == n) {
      method = Method::kRing;
      for (std::size_t i = 0; i < n; ++i) threads.emplace_back(&Disk::run_ring, this, &rings[i], share(i));
      return;
    }
    for (std::size_t i = 0; i < ring_count; ++i) io_uring_queue_exit(&rings[i]);
    ring_count = 0;
  }
  for (std::size_t i = 0; i < depth; ++i) threads.emplace_back(&Disk::run_threads, this);
}

ReadBackScheduler::Disk::~Disk() {
  {
    std::lock_guard<std::mutex> lock(mutex);
    quit = true;
  }
  wake.notify_all();
  for (std::thread& t : threads) t.join();
  for (std::size_t i = 0; i < ring_count; ++i) io_uring_queue_exit(&rings[i]);
  for (Queued& q : queue) q.sink->deliver(std::nullopt);
}

std::optional<Queued> ReadBackScheduler::Disk::next(bool block, const ReadBackMemory* idle) {
  std::unique_lock<std::mutex> lock(mutex);
  for (;;) {
    if (quit) return std::nullopt;
    if (!queue.empty()) {
      const std::int64_t wait =
          std::max(queue.front().ready_ns, queue.front().gathered_ns) - real_time_ns();
      if (wait <= 0) {
        Queued q = std::move(queue.front());
        queue.pop_front();
        return q;
      }
      if (!block) return std::nullopt;
      wake.wait_for(lock, std::chrono::nanoseconds(wait));
    } else {
      if (!block) return std::nullopt;
      if (!idle) {
        wake.wait(lock);
      } else if (wake.wait_for(lock, kIdleRelease) == std::cv_status::timeout &&
                 queue.empty() && !quit) {
        idle->release_pages();
        idle = nullptr;
      }
    }
  }
}

void ReadBackScheduler::Disk::run_threads() {
  if (!processors.empty()) confine_thread(0, processors);
  const ReadBackMemory buffer = read_back_memory(kPiece);
  while (std::optional<Queued> q = next(true, &buffer))
    q->sink->deliver(with_disk_tick(read_back(q->job, buffer.get(), buffer ? kPiece : 0), *q));
}

namespace {

struct CopyRead;

// A piece of a copy in flight on the ring, or free; its buffer is a part of the ring's memory.
struct Piece {
  char* buffer = nullptr;
  CopyRead* copy = nullptr;
  std::uint64_t offset = 0;
  std::size_t length = 0;  // asked for
  int result = 0;
  bool done = false;
};

// A copy being read on the ring: its pieces are issued in order and hashed in order.
struct CopyRead {
  Queued queued;
  VerifyResult result;
  UniqueFd fd;
  bool direct = false;
  ContentHasher hasher;
  std::uint64_t size = 0;    // read at least this far (the size at the open)
  std::uint64_t issued = 0;  // the offset of the next piece to ask for
  std::deque<Piece*> pieces;  // in flight or done, in the order of their offsets
  bool end_seen = false;      // a piece came back short: the end of the file
  bool failed = false;
  bool through_cache = false;  // direct reads were refused: read again through the cache
};

// Opens a copy for the ring, directly where the file system allows it; false with the
// result's error set when it cannot be opened.
bool open_copy(CopyRead& c) {
  c.result.job = c.queued.job;
  c.fd.reset(open_for_read_back(c.result, true, &c.size));
  if (!c.fd.valid()) return false;
  c.direct = (::fcntl(c.fd.get(), F_GETFL) & O_DIRECT) != 0;
  if (!c.direct) drop_cached_pages(c.fd.get());
  return true;
}

// The copy's next piece may be asked for: up to the piece that holds its end (which a size
// that is a whole number of pieces makes an empty one, to see the end).
bool wants_piece(const CopyRead& c) {
  return !c.failed && !c.end_seen && !c.through_cache && c.issued <= c.size;
}

// Fills what a short read left of a piece that does not reach the copy's end, with plain reads.
void complete_short_piece(CopyRead& c, Piece& p) {
  while (p.result >= 0 && static_cast<std::size_t>(p.result) < p.length &&
         p.offset + static_cast<std::uint64_t>(p.result) < c.size) {
    ssize_t n;
    do n = ::pread(c.fd.get(), p.buffer + p.result, p.length - static_cast<std::size_t>(p.result),
                   static_cast<off_t>(p.offset + static_cast<std::uint64_t>(p.result)));
    while (n < 0 && errno == EINTR);
    if (n < 0) p.result = -errno;
    if (n <= 0) break;
    p.result += static_cast<int>(n);
  }
}

// Hashes the copy's finished pieces in order and gives their buffers back to `free`.
void hash_done_pieces(CopyRead& c, std::vector<Piece*>& free) {
  while (!c.pieces.empty() && c.pieces.front()->done) {
    Piece* p = c.pieces.front();
    c.pieces.pop_front();
    if (!c.failed && !c.end_seen && !c.through_cache) {
      if (p->result == -EINVAL && c.direct && p->offset == 0) {
        c.through_cache = true;  // the file system took the flag but not the reads
      } else if (p->result < 0) {
        c.failed = true;
        c.result.error = -p->result;
      } else {
        c.hasher.update(p->buffer, static_cast<std::size_t>(p->result));
        if (static_cast<std::size_t>(p->result) < p->length) c.end_seen = true;
      }
    }
    p->copy = nullptr;
    p->done = false;
    free.push_back(p);
  }
  // Every piece asked for came back whole and the copy still goes on: it grew since the open.
  if (c.pieces.empty() && !c.failed && !c.end_seen && c.issued > c.size) c.size = c.issued;
}

bool settled(const CopyRead& c) {
  return c.pieces.empty() && (c.failed || c.end_seen || c.through_cache);
}

// Hands a copy's result to its run (nothing when the disk is closing), the copy closed first:
// a run that has all its results has no file of its own left open here, and nothing of this
// copy touches the run's file calls after it.
void finish_copy(CopyRead& c, bool closing) {
  if (!c.failed && !closing) {
    // The copy's pages leave the cache too: the copies of a large card would otherwise push
    // the card's own pages out.
    ::posix_fadvise(c.fd.get(), 0, 0, POSIX_FADV_DONTNEED);
    c.result.outcome = c.hasher.digest() == c.queued.job.expected ? VerifyOutcome::kMatch
                                                                  : VerifyOutcome::kMismatch;
  }
  c.fd.close();
  if (closing)
    c.queued.sink->deliver(std::nullopt);
  else
    c.queued.sink->deliver(std::move(c.result));
}

}  // namespace

void ReadBackScheduler::Disk::run_ring(io_uring* ring, std::size_t count) {
  if (!processors.empty()) confine_thread(0, processors);
  // On small pages until a copy of a piece or more comes: a card of small images touches only
  // the first few pages of each piece, where a huge page would be cleared whole.
  const ReadBackMemory memory = read_back_memory(count * kPiece, false);
  if (!memory) return run_threads();  // the thread's own piece may still fit
  bool huge = false;
  std::vector<Piece> pieces(count);
  std::vector<Piece*> free;
  for (std::size_t i = 0; i < count; ++i) {
    pieces[i].buffer = memory.get() + i * kPiece;
    free.push_back(&pieces[i]);
  }
  const ReadBackMemory scratch = read_back_memory(kPiece);  // reads through the system-call table
  std::list<CopyRead> open;
  std::list<CopyRead> read;  // read whole, to be finished once the ring has its next pieces
  std::size_t in_flight = 0;
  bool closing = false;
  for (;;) {
    // Ask for pieces of the copies open, oldest first, then of new copies, while there are
    // free pieces: the ring keeps all its pieces in front of the disk while there is work.
    while (!closing && !free.empty()) {
      CopyRead* c = nullptr;
      for (CopyRead& o : open)
        if (wants_piece(o)) {
          c = &o;
          break;
        }
      if (!c) {
        // Waiting is only for a ring with nothing in flight: its pieces are all free then.
        std::optional<Queued> q = next(in_flight == 0 && open.empty() && read.empty(), &memory);
        if (!q) {
          std::lock_guard<std::mutex> lock(mutex);
          closing = quit;
          break;
        }
        if (!ring_reads_usable()) {
          q->sink->deliver(
              with_disk_tick(read_back(q->job, scratch.get(), scratch ? kPiece : 0), *q));
          continue;
        }
        CopyRead& added = open.emplace_back();
        added.queued = std::move(*q);
        if (!open_copy(added)) {
          added.fd.close();
          added.queued.sink->deliver(std::move(added.result));
          open.pop_back();
          continue;
        }
        added.result = with_disk_tick(std::move(added.result), added.queued);
        if (!huge && added.size >= kPiece) {
          memory.use_huge_pages();
          huge = true;
        }
        c = &added;
      }
      io_uring_sqe* sqe = io_uring_get_sqe(ring);
      if (!sqe) break;
      Piece* p = free.back();
      free.pop_back();
      p->copy = c;
      p->offset = c->issued;
      // The piece holding the copy's end asks for its rest and one byte more, in whole pages,
      // so that it comes back short at the end: a direct read asked past the end has the kernel
      // fill the rest of the buffer with zeros, most of a megabyte for a small copy.
      const std::uint64_t rest = c->size - c->issued;
      p->length = rest == 0 ? kPiece
                            : std::min<std::uint64_t>(kPiece, (rest + kPage) / kPage * kPage);
      c->issued += p->length;
      c->pieces.push_back(p);
      io_uring_prep_read(sqe, c->fd.get(), p->buffer, static_cast<unsigned>(p->length),
                         p->offset);
      io_uring_sqe_set_data(sqe, p);
      ++in_flight;
    }
    // The copies read whole are finished once the next pieces are in front of the disk:
    // dropping a copy's pages from the cache takes as long as a read or two, which the disk
    // would otherwise spend idle.
    if (!read.empty()) {
      if (in_flight > 0) io_uring_submit(ring);
      for (CopyRead& c : read) finish_copy(c, closing);
      read.clear();
    }
    if (in_flight == 0) {
      if (closing) {
        for (CopyRead& c : open) {
          c.fd.close();
          c.queued.sink->deliver(std::nullopt);
        }
        break;
      }
      if (open.empty()) continue;
    } else {
      // One system call hands the new pieces over and waits for the first to come back. A
      // ring that cannot take the call now (short of memory) is asked again a moment later:
      // its pieces are still in flight, and their buffers stay theirs until they come back.
      for (;;) {
        const int rc = io_uring_submit_and_wait(ring, 1);
        if (rc >= 0 || io_uring_cq_ready(ring) > 0) break;
        if (rc != -EINTR) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    }
    io_uring_cqe* cqe = nullptr;
    unsigned head;
    unsigned seen = 0;
    io_uring_for_each_cqe(ring, head, cqe) {
      Piece* p = static_cast<Piece*>(io_uring_cqe_get_data(cqe));
      p->result = cqe->res;
      p->done = true;
      complete_short_piece(*p->copy, *p);
      --in_flight;
      ++seen;
    }
    io_uring_cq_advance(ring, seen);
    for (auto it = open.begin(); it != open.end();) {
      CopyRead& c = *it;
      hash_done_pieces(c, free);
      if (!settled(c)) {
        ++it;
        continue;
      }
      if (c.through_cache && !c.failed) {
        // Read again from the start without the direct flag, the cache dropped first.
        const int flags = ::fcntl(c.fd.get(), F_GETFL);
        if (flags >= 0 && ::fcntl(c.fd.get(), F_SETFL, flags & ~O_DIRECT) == 0) {
          c.direct = false;
          c.through_cache = false;
          c.issued = 0;
          c.hasher.reset();
          drop_cached_pages(c.fd.get());
          ++it;
          continue;
        }
        c.failed = true;
        c.result.error = errno;
      }
      const auto next_it = std::next(it);
      read.splice(read.end(), open, it);
      it = next_it;
    }
  }
}

ReadBackScheduler::ReadBackScheduler() : ReadBackScheduler(Settings{}) {}

ReadBackScheduler::ReadBackScheduler(Settings settings) : settings_(settings) {}

ReadBackScheduler::~ReadBackScheduler() {
  std::lock_guard<std::mutex> lock(mutex_);
  disks_.clear();
}

void ReadBackScheduler::submit(VerifyJob job, const std::shared_ptr<ReadBackSink>& sink) {
  sink->expect();
  // The copy's disk and its status time as the copying saw them name it, else as they are now.
  Fingerprint fingerprint;
  if (job.named) {
    fingerprint = *job.named;
  } else if (struct stat st; sysio().lstat(job.path.c_str(), &st) == 0) {
    fingerprint = fingerprint_of(st);
  } else {
    VerifyResult result;
    result.job = std::move(job);
    result.error = errno;
    sink->deliver(std::move(result));
    return;
  }
  Queued q;
  q.job = std::move(job);
  q.sink = sink;
  Disk* disk;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    std::unique_ptr<Disk>& d = disks_[static_cast<dev_t>(fingerprint.device)];
    if (!d) {
      d = std::make_unique<Disk>(settings_);
      const std::size_t slash = q.job.path.find_last_of('/');
      d->tick_ns = slash == std::string::npos
                       ? change_time_tick_ns(q.job.path)
                       : proven_change_time_tick_ns(q.job.path.substr(0, slash ? slash : 1));
    }
    disk = d.get();
  }
  const std::int64_t now = real_time_ns();
  q.tick_ns = disk->tick_ns;
  q.ready_ns = now + fingerprint_settle_wait_ns(fingerprint, now, q.tick_ns);
  q.gathered_ns = now + disk->gather_ns;
  bool wake;
  {
    std::lock_guard<std::mutex> lock(disk->mutex);
    std::deque<Queued>& queue = disk->queue;
    queue.push_back(std::move(q));
    // A queue holding the disk's depth is read without more waiting: the copies not yet
    // released are the last ones, each released once.
    if (queue.size() >= disk->depth)
      for (auto it = queue.rbegin(); it != queue.rend() && it->gathered_ns != 0; ++it)
        it->gathered_ns = 0;
    wake = queue.size() == 1 || queue.size() == disk->depth;
  }
  // A reader waiting for a queue's first copy wakes when that copy is due, and takes the
  // copies behind it in turn: only readers of an empty queue have nothing to wake them, and
  // readers waiting for company are woken once the queue holds enough. Waking them for every
  // copy would take the processor from the copying for nothing.
  if (wake) disk->wake.notify_all();
}

void ReadBackScheduler::cancel(const ReadBackSink* sink) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& [device, disk] : disks_) {
    std::vector<std::shared_ptr<ReadBackSink>> dropped;
    {
      std::lock_guard<std::mutex> disk_lock(disk->mutex);
      std::erase_if(disk->queue, [&](Queued& q) {
        if (q.sink.get() != sink) return false;
        dropped.push_back(q.sink);
        return true;
      });
    }
    for (const std::shared_ptr<ReadBackSink>& s : dropped) s->deliver(std::nullopt);
  }
}

void ReadBackScheduler::hurry(const ReadBackSink& sink) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& [device, disk] : disks_) {
    {
      // The sink's copies and those queued before them (read first in any case).
      std::lock_guard<std::mutex> disk_lock(disk->mutex);
      const auto last = std::find_if(disk->queue.rbegin(), disk->queue.rend(),
                                     [&](const Queued& q) { return q.sink.get() == &sink; });
      for (auto it = last; it != disk->queue.rend(); ++it) it->gathered_ns = 0;
    }
    disk->wake.notify_all();
  }
}

std::optional<ReadBackScheduler::Method> ReadBackScheduler::method_of(dev_t device) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = disks_.find(device);
  if (it == disks_.end()) return std::nullopt;
  return it->second->method;
}

}  // namespace cw
