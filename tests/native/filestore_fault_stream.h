// A store stream that fails one chosen call, for the tests of the store's failure handling.
#pragma once

#include <optional>

#include "filestore/FileMan.h"

namespace storetest {

// Passes every call to another stream, except that call number `failAt` (counted from 1
// over seeks, reads and writes together, or over the calls of kind `only`) fails without
// touching the inner stream: a failed seek leaves the position, a failed read or write
// transfers nothing. 0 never fails.
class TFaultStream final : public TStoreStream {
 public:
  enum class TCall { Seek, Read, Write };

  TFaultStream(TStoreStream& inner, int failAt, std::optional<TCall> only = std::nullopt)
      : Inner_(inner), FailAt_(failAt), Only_(only) {}

  int64_t Size() override { return Inner_.Size(); }
  int64_t Position() const override { return Inner_.Position(); }
  bool Seek(int64_t offset) override { return !FailsNow(TCall::Seek) && Inner_.Seek(offset); }
  size_t Read(void* target, size_t count) override {
    return FailsNow(TCall::Read) ? 0 : Inner_.Read(target, count);
  }
  size_t Write(const void* source, size_t count) override {
    return FailsNow(TCall::Write) ? 0 : Inner_.Write(source, count);
  }

  // Calls counted so far.
  int Calls() const { return Calls_; }
  // The kind of the call that failed, if it has happened.
  std::optional<TCall> Failed() const { return Failed_; }

 private:
  bool FailsNow(TCall call) {
    if (Only_ && call != *Only_) return false;
    if (++Calls_ != FailAt_) return false;
    Failed_ = call;
    return true;
  }

  TStoreStream& Inner_;
  int FailAt_;
  std::optional<TCall> Only_;
  int Calls_ = 0;
  std::optional<TCall> Failed_;
};

}  // namespace storetest
