// A body stored in a file, written in large blocks.
#pragma once

#include <memory>
#include <string>

#include "agent/http/body_sink.h"
#include "platform/file_writer.h"

// Creates the file at path (or truncates it) when the body opens, or, for a body that goes on
// from an offset, keeps that many bytes of the file there (refused when it has fewer), and
// writes what it takes in blocks: a piece of at least a block that finds no bytes waiting is
// written as it is, without a copy. It checks nothing. Once closed or abandoned, the file holds
// every byte taken; removing a refused file is the caller's choice. Refuses only a write that
// fails.
class BlockFileSink : public BodySink {
 public:
  // Large enough for few writes.
  static constexpr std::size_t kBlockBytes = 256 * 1024;

  explicit BlockFileSink(std::wstring path) : path_(std::move(path)) {}

  Outcome Open(const BodyStart& start) override;
  Outcome Take(const char* data, std::size_t size) override;
  Outcome Close() override;
  void Abandon() override;

 private:
  bool WriteWaiting();

  std::wstring path_;
  platform::FileWriter file_;
  std::unique_ptr<char[]> block_;
  std::size_t waiting_ = 0;  // bytes in block_ not yet written
};
