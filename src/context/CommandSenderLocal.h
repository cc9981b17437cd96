#pragma once
// Executes commands in the calling thread, logging each one around its run.
// Holds the log, not owned. Any thread may send.
#include "context/Command.h"

class CommandSenderLocal : public CommandSender {
 public:
  explicit CommandSenderLocal(Log* log) : log_(log) {}
  // Presets the result to "0"; always returns true.
  bool send(Command& command, wchar_t* result, size_t resultSize) override;
  void close() override {}

 private:
  Log* log_;
};
