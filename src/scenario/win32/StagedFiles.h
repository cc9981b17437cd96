#pragma once
// The files one unpack wrote into its staging folder, and their move into the
// install or data folder. Other processes of the user may be able to write
// into a staging folder while a pack unpacks there, so nothing is taken from
// it by listing: each file the pack wrote is recorded with its size and held
// open, with no other process allowed to write, rename or delete it, until it
// has moved; the move takes exactly those files, through their own handles,
// and anything else found in the folder is logged and removed.
//
// Threading: the sink runs on the unpack's write-behind thread; everything
// else on the owner's thread once the unpack has ended (the reader joins its
// threads before it returns).
#include <windows.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/win32/Files.h"
#include "scenario/PackFiles.h"
#include "scenario/Un8z.h"

class Log;

class StagedFiles {
 public:
  explicit StagedFiles(std::wstring staging) : staging_(std::move(staging)) {}
  StagedFiles(const StagedFiles&) = delete;
  StagedFiles& operator=(const StagedFiles&) = delete;

  // Writes entries below the staging folder (which the caller made fresh)
  // and records them here. Refuses an entry whose folder below the staging
  // folder is a link, and, before its file is made, one larger than the
  // volume's free space (fault() says so). Lives no longer than this object.
  std::unique_ptr<packfiles::FolderSink> sink(Log* log);

  size_t count() const { return entries_.size(); }
  // The recorded entries' paths relative to the staging folder, in pack order.
  std::vector<std::wstring> names() const;

  // Moves every recorded file to the same place below target, replacing what
  // is there; a link met in target's folders on the way is removed (WARN) and
  // a real folder made. Before anything moves, each file that would be
  // replaced is opened for exclusive writing: when one is in use, nothing
  // moves and its path is given in blocking. A recorded file whose size is no
  // longer its record's is not moved. Then anything else in the staging
  // folder is logged (WARN) and removed with it. False on any failure
  // (logged).
  bool moveInto(const std::wstring& target, std::wstring& blocking, Log* log);

  // The system's error code of moveInto's first failure; 0 when none.
  unsigned long firstError() const { return firstError_; }

  // Lets go of every held file, so that the staging folder can be removed.
  void release();
  // Records into another staging folder from now on (nothing recorded yet).
  void moveTo(std::wstring staging) {
    release();
    staging_ = std::move(staging);
  }

  // Called after each file has moved, with the count so far; false ends the
  // move there as if the process had been killed (tests).
  static std::function<bool(size_t moved)> afterEachMove;

 private:
  struct Entry {
    std::wstring relative;
    uint64_t size = 0;
    files::UniqueHandle file;  // write and delete sharing denied
  };
  class Sink;
  bool moveOne(Entry& entry, const std::wstring& destination, Log* log);
  void removeStrays(Log* log);

  std::wstring staging_;
  std::vector<Entry> entries_;
  std::map<std::wstring, size_t> index_;  // lower-cased relative name -> entries_
  unsigned long firstError_ = 0;
};
