// A store stream that fails one chosen call, for the tests of the store's failure handling.
#pragma once

#include <optional>

#include "filestore/FileMan.h"

namespace storetest {

// Passes every call to another database, except that call number `failAt` (counted from 1
// over all calls together, or over the calls of kind `only`) fails without touching the
// inner database: a failed seek leaves the position, a failed read or write transfers
// nothing. Flushing, truncating and the journal's writing and flush count as writes; reading
// the journal as a read; the marking of the journal empty is a kind of its own. 0 never
// fails.
class TFaultStream final : public TStoreFile {
 public:
  enum class TCall { Seek, Read, Write, Mark };

  TFaultStream(TStoreFile& inner, int failAt, std::optional<TCall> only = std::nullopt)
      : Inner_(inner), FailAt_(failAt), Only_(only), Journal_(*this) {}

  int64_t Size() override { return Inner_.Size(); }
  int64_t Position() const override { return Inner_.Position(); }
  bool Seek(int64_t offset) override { return !FailsNow(TCall::Seek) && Inner_.Seek(offset); }
  size_t Read(void* target, size_t count) override {
    return FailsNow(TCall::Read) ? 0 : Inner_.Read(target, count);
  }
  size_t Write(const void* source, size_t count) override {
    return FailsNow(TCall::Write) ? 0 : Inner_.Write(source, count);
  }
  bool Flush() override { return !FailsNow(TCall::Write) && Inner_.Flush(); }
  bool Truncate(int64_t size) override { return !FailsNow(TCall::Write) && Inner_.Truncate(size); }
  TStoreJournal& Journal() override { return Journal_; }

  // Calls counted so far.
  int Calls() const { return Calls_; }
  // The kind of the call that failed, if it has happened.
  std::optional<TCall> Failed() const { return Failed_; }

 private:
  class FaultJournal final : public TStoreJournal {
   public:
    explicit FaultJournal(TFaultStream& stream) : Stream_(stream) {}
    bool Exists() override { return Inner().Exists(); }
    // Looking for a journal that is not there is no read that can fail.
    bool Read(std::string& bytes, size_t count) override {
      return Inner().Exists() && !Stream_.FailsNow(TCall::Read) && Inner().Read(bytes, count);
    }
    bool Write(std::string_view bytes) override {
      return !Stream_.FailsNow(TCall::Write) && Inner().Write(bytes);
    }
    bool MarkEmpty(std::string_view head) override {
      return !Stream_.FailsNow(TCall::Mark) && Inner().MarkEmpty(head);
    }
    bool Flush() override { return !Stream_.FailsNow(TCall::Write) && Inner().Flush(); }

   private:
    TStoreJournal& Inner() { return Stream_.Inner_.Journal(); }
    TFaultStream& Stream_;
  };

  bool FailsNow(TCall call) {
    if (Only_ && call != *Only_) return false;
    if (++Calls_ != FailAt_) return false;
    Failed_ = call;
    return true;
  }

  TStoreFile& Inner_;
  int FailAt_;
  std::optional<TCall> Only_;
  FaultJournal Journal_;
  int Calls_ = 0;
  std::optional<TCall> Failed_;
};

}  // namespace storetest
