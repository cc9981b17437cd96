#include "app/Log.h"
#include "scenario/Commands.h"
#include "scenario/EbzReader.h"
#include "scenario/PackFiles.h"

void UnEbzCommand::execute(wchar_t* result, size_t resultSize, Log* log) {
  std::wstring pack, destination;
  if (!splitPaths(pack, destination, result, resultSize, log)) return;
  if (log) log->info(L"UnEbz '" + pack + L"' to '" + destination + L"'");
  packfiles::createFolderTree(destination);
  if (!held_ && !packfiles::isFile(pack)) {
    setResult(result, resultSize, L"2");
    if (log) log->error(L"File not found: " + pack);
    return;
  }
  std::shared_ptr<packfiles::PackFile> source = held_;
  if (!source) source = packfiles::openPack(pack, log);
  int outcome = 1;
  if (source) {
    auto sink = packfiles::folderSink(destination, log);
    ebz::EbzReader reader(packfiles::kSeparator);
    outcome = reader.unpack(*source, *sink, log);
    fault_ = sink->fault();
  }
  if (outcome != 0) {
    setResult(result, resultSize, L"1");
    if (log) log->error(L"Can't unEbz " + pack + L" to " + destination);
  }
}
