// SHA-256 of a stream, computed on a thread of its own: hashing a download then overlaps
// receiving and writing it, and a download checked against a signed hash takes little longer
// than one that is not.
#pragma once

#include <array>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/crypto.h"

class BackgroundSha256 {
 public:
  // Starts the thread. Throws std::runtime_error when SHA-256 is not available.
  BackgroundSha256();
  // Stops the thread once it has hashed what was handed over; the digest is dropped.
  ~BackgroundSha256();
  BackgroundSha256(const BackgroundSha256&) = delete;
  BackgroundSha256& operator=(const BackgroundSha256&) = delete;

  // Copies the bytes into the block being filled; a full block goes to the thread. Waits
  // while every block is still being hashed.
  void Update(const char* data, std::size_t size);

  // The digest of everything fed, once the thread has hashed it. Call once. Throws
  // std::runtime_error when hashing failed.
  platform::Sha256Digest Finish();

 private:
  static constexpr std::size_t kBlockBytes = 256 * 1024;
  static constexpr std::size_t kBlocks = 4;

  void HandOver();  // the block being filled, to the thread
  void Run();
  void Stop();

  platform::Sha256 hash_;  // used by the thread only, until it has ended
  std::array<std::vector<char>, kBlocks> blocks_;
  std::size_t filled_ = 0;  // bytes in the block being filled
  std::mutex lock_;
  std::condition_variable changed_;
  // Blocks are used in turn: block n % kBlocks is the n-th. Guarded by lock_.
  std::size_t handed_ = 0;
  std::size_t hashed_ = 0;
  std::array<std::size_t, kBlocks> sizes_{};
  bool ending_ = false;
  std::exception_ptr failure_;
  std::thread thread_;
};
