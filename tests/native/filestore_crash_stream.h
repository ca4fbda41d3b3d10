// A database in memory whose process "crashes" at a chosen write, for the crash sweep.
#pragma once

#include <optional>
#include <string>

#include "filestore/FileMan.h"

namespace storetest {

// How the k-th write ends the process.
enum class TCrash {
  Stop,  // it never happens
  Half,  // half of its bytes reach the file
  // Power cuts: it never happens, and what the disk had not been told to keep is gone as
  // well: the journal's bytes since its last flush, or the database's.
  JournalCacheLost,
  DatabaseCacheLost,
};

// Passes every call to a database in memory until write number `crashAt` (counted from 1
// over the database's writes, truncations and flushes and the journal's creation, flush and
// removal); that one ends as `how` says, and every call after it fails: the process is
// gone. 0 never crashes.
class TCrashStream final : public TStoreFile {
 public:
  TCrashStream(TMemoryStream& inner, int crashAt, TCrash how)
      : Inner_(inner), CrashAt_(crashAt), How_(how), Journal_(*this),
        FlushedBytes_(inner.Bytes), FlushedJournal_(inner.JournalFile.Bytes) {}

  int64_t Size() override { return Inner_.Size(); }
  int64_t Position() const override { return Inner_.Position(); }
  bool Seek(int64_t offset) override { return !Dead_ && Inner_.Seek(offset); }
  size_t Read(void* target, size_t count) override { return Dead_ ? 0 : Inner_.Read(target, count); }
  size_t Write(const void* source, size_t count) override {
    if (!Survives()) {
      if (Dead_ && How_ == TCrash::Half && Crashed_) Inner_.Write(source, count / 2);
      Crashed_ = false;
      return 0;
    }
    return Inner_.Write(source, count);
  }
  bool Flush() override {
    if (!Survives()) return false;
    FlushedBytes_ = Inner_.Bytes;
    return true;
  }
  bool Truncate(int64_t size) override { return Survives() && Inner_.Truncate(size); }
  TStoreJournal& Journal() override { return Journal_; }

  // Writes counted so far (the one that crashed included).
  int Writes() const { return Writes_; }
  bool Dead() const { return Dead_; }

 private:
  class CrashJournal final : public TStoreJournal {
   public:
    explicit CrashJournal(TCrashStream& stream) : Stream_(stream) {}
    bool Exists() override { return !Stream_.Dead_ && Inner().Exists(); }
    bool Read(std::string& bytes) override { return !Stream_.Dead_ && Inner().Read(bytes); }
    bool Create(std::string_view bytes) override {
      if (!Stream_.Survives()) {
        if (Stream_.Dead_ && Stream_.How_ == TCrash::Half && Stream_.Crashed_)
          Inner().Create(bytes.substr(0, bytes.size() / 2));
        Stream_.Crashed_ = false;
        return false;
      }
      return Inner().Create(bytes);
    }
    bool Flush() override {
      if (!Stream_.Survives()) return false;
      Stream_.FlushedJournal_ = Stream_.Inner_.JournalFile.Bytes;
      return true;
    }
    bool Remove() override {
      if (!Stream_.Survives()) return false;
      Stream_.FlushedJournal_.reset();  // a removal is for good
      return Inner().Remove();
    }

   private:
    TStoreJournal& Inner() { return Stream_.Inner_.Journal(); }
    TCrashStream& Stream_;
  };

  // Counts a write; false when it is the crashing one or comes after it. At the crash, a
  // power cut takes what the disk was not told to keep.
  bool Survives() {
    if (Dead_) return false;
    if (++Writes_ != CrashAt_) return true;
    Dead_ = true;
    Crashed_ = true;
    if (How_ == TCrash::JournalCacheLost) Inner_.JournalFile.Bytes = FlushedJournal_;
    if (How_ == TCrash::DatabaseCacheLost) Inner_.Bytes = FlushedBytes_;
    return false;
  }

  TMemoryStream& Inner_;
  int CrashAt_;
  TCrash How_;
  CrashJournal Journal_;
  int Writes_ = 0;
  bool Dead_ = false;
  bool Crashed_ = false;  // the crashing call is still running
  std::string FlushedBytes_;
  std::optional<std::string> FlushedJournal_;
};

}  // namespace storetest
