#pragma once
// Sizes and durations of the install's downloads, for the result file.
//
// Threading: the download and runtime threads note starts and ends while the
// main thread reads; one mutex guards the table.
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

class DownloadTally {
 public:
  using TickSource = std::function<uint32_t()>;
  struct Record {
    std::wstring name;
    long long bytes;     // -1 when the size is not known
    uint32_t ms;         // start to completion; 0 when it never completed
    long long rate;      // bytes fetched per second; -1 when bytes or time are unknown
    bool completed;
    // Of bytes, those an earlier, broken-off run had already fetched.
    long long resumedBytes = 0;
    // "scheme://host[:port]" that served it, or the folder it was taken
    // from; empty when not known.
    std::wstring host{};
  };

  explicit DownloadTally(TickSource ticks);

  // Notes the start; a second call keeps the first start.
  void started(const std::wstring& name);
  // Notes the completion time (a download never started counts from now).
  void completed(const std::wstring& name);
  // Notes that the download was turned down (a failed check, a refused
  // signature) even if its last byte had arrived; a later completed() (a
  // retry that worked) counts again.
  void failed(const std::wstring& name);
  // Notes the size of what arrived, of which resumedBytes came in an earlier
  // run and so count for the size but not for this run's rate.
  void setBytes(const std::wstring& name, long long bytes, long long resumedBytes = 0);

  // Notes where the download came from.
  void setHost(const std::wstring& name, const std::wstring& host);

  // A second run of the install in the same process begins: a download it
  // notes again is recorded afresh (its start, bytes and host are this
  // run's); one it never touches keeps the earlier run's record.
  void newRun();

  // One record per download, ordered by name.
  std::vector<Record> records();

 private:
  struct Entry {
    uint32_t start = 0, end = 0;
    bool completed = false;
    long long bytes = -1;
    long long resumed = 0;
    std::wstring host{};
    bool earlierRun = false;
  };
  // The entry for name, made (or made afresh when an earlier run left it)
  // with its start at now. Called under lock_.
  Entry& current(const std::wstring& name, uint32_t now);

  TickSource ticks_;
  std::mutex lock_;
  std::map<std::wstring, Entry> entries_;
};
