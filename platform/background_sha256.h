// SHA-256 of a stream handed over in pieces that stay where they are: each piece is hashed on
// a thread of its own, after the pieces before it, so that checking a download overlaps
// receiving and writing it. The hashing only reads a piece; the caller keeps it unchanged
// until WaitFor says it is hashed.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

#include "platform/crypto.h"

namespace platform {

class BackgroundSha256 {
 public:
  // Starts the thread. Throws std::runtime_error when SHA-256 is not available or the thread
  // cannot start.
  BackgroundSha256();
  // Lets the thread hash what it was given, then ends it; the digest is dropped.
  ~BackgroundSha256();
  BackgroundSha256(const BackgroundSha256&) = delete;
  BackgroundSha256& operator=(const BackgroundSha256&) = delete;

  // Queues size bytes at data; returns the piece's number, counting from 1.
  std::uint64_t Hash(const char* data, std::size_t size);
  // Returns once that piece and every one before it is hashed; at once for piece 0.
  void WaitFor(std::uint64_t piece);
  // The digest of every piece queued. Call once. Throws std::runtime_error when hashing failed.
  Sha256Digest Finish();

 private:
  struct Piece {
    const char* data;
    std::size_t size;
  };

  void Run();
  void Stop();

  Sha256 hash_;  // the thread's alone until it has ended
  std::mutex lock_;
  std::condition_variable changed_;
  std::deque<Piece> queued_;  // guarded by lock_, as are the two below
  std::uint64_t hashed_ = 0;
  bool ending_ = false;
  std::exception_ptr failure_;
  std::thread thread_;
};

}  // namespace platform
