// A database in memory whose process "crashes" at a chosen write, for the crash sweep.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "filestore/FileMan.h"

namespace storetest {

// How the k-th write ends the process.
enum class TCrash {
  Stop,  // it never happens
  Half,  // half of its bytes reach the file
  // Power cuts: it never happens, and what the disk had not been told to keep is gone as
  // well: the journal's bytes since its last flush, or the database's, or both.
  JournalCacheLost,
  DatabaseCacheLost,
  PowerCut,
};

// Passes every call to a database in memory until write number `crashAt` (counted from 1
// over the database's writes, truncations and flushes and the journal's writing, flush and
// marking); that one ends as `how` says, and every call after it fails: the process is
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
    if (Survives()) return Inner_.Write(source, count);
    if (HalfNow()) Inner_.Write(source, count / 2);
    return 0;
  }
  bool Flush() override {
    if (!Survives()) return false;
    FlushedBytes_ = Inner_.Bytes;
    DatabaseFlushes_.push_back(Writes_);
    return true;
  }
  bool Truncate(int64_t size) override { return Survives() && Inner_.Truncate(size); }
  TStoreJournal& Journal() override { return Journal_; }

  // Writes counted so far (the one that crashed included).
  int Writes() const { return Writes_; }
  // The flushes that returned, of the database and of the journal.
  int Flushes() const { return int(DatabaseFlushes_.size()) + JournalFlushes_; }
  // The numbers of the writes that were the database's flushes.
  const std::vector<int>& DatabaseFlushes() const { return DatabaseFlushes_; }
  bool Dead() const { return Dead_; }

 private:
  class CrashJournal final : public TStoreJournal {
   public:
    explicit CrashJournal(TCrashStream& stream) : Stream_(stream) {}
    bool Exists() override { return !Stream_.Dead_ && Inner().Exists(); }
    bool Read(std::string& bytes, size_t count) override {
      return !Stream_.Dead_ && Inner().Read(bytes, count);
    }
    bool Write(std::string_view bytes) override {
      if (Stream_.Survives()) return Inner().Write(bytes);
      if (Stream_.HalfNow()) HalfOver(bytes);
      return false;
    }
    bool MarkEmpty(std::string_view head) override {
      if (Stream_.Survives()) return Inner().MarkEmpty(head);
      if (Stream_.HalfNow()) HalfOver(head);
      return false;
    }
    bool Flush() override {
      if (!Stream_.Survives()) return false;
      Stream_.FlushedJournal_ = Stream_.Inner_.JournalFile.Bytes;
      ++Stream_.JournalFlushes_;
      return true;
    }

   private:
    TStoreJournal& Inner() { return Stream_.Inner_.Journal(); }
    // The first half of the bytes over what the journal held, in place.
    void HalfOver(std::string_view bytes) {
      std::optional<std::string>& file = Stream_.Inner_.JournalFile.Bytes;
      if (!file) file.emplace();
      file->replace(0, bytes.size() / 2, bytes.substr(0, bytes.size() / 2));
    }
    TCrashStream& Stream_;
  };

  // Counts a write; false when it is the crashing one or comes after it. At the crash, a
  // power cut takes what the disk was not told to keep.
  bool Survives() {
    Crashed_ = false;
    if (Dead_) return false;
    if (++Writes_ != CrashAt_) return true;
    Dead_ = true;
    Crashed_ = true;
    if (How_ == TCrash::JournalCacheLost || How_ == TCrash::PowerCut)
      Inner_.JournalFile.Bytes = FlushedJournal_;
    if (How_ == TCrash::DatabaseCacheLost || How_ == TCrash::PowerCut) Inner_.Bytes = FlushedBytes_;
    return false;
  }

  // True for the crashing call when it writes half of its bytes.
  bool HalfNow() const { return How_ == TCrash::Half && Crashed_; }

  TMemoryStream& Inner_;
  int CrashAt_;
  TCrash How_;
  CrashJournal Journal_;
  int Writes_ = 0;
  int JournalFlushes_ = 0;
  std::vector<int> DatabaseFlushes_;
  bool Dead_ = false;
  bool Crashed_ = false;  // the call that just crashed is still running
  std::string FlushedBytes_;
  std::optional<std::string> FlushedJournal_;
};

}  // namespace storetest
