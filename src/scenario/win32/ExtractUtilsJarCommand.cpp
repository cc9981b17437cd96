#include <windows.h>

#include "app/Log.h"
#include "app/win32/Files.h"
#include "app/win32/Resources.h"
#include "scenario/Commands.h"

namespace {

struct ResourceFile {
  int id;
  const wchar_t* type;
  const wchar_t* fileName;
};

const ResourceFile kFiles[] = {
    {174, L"jar", L"utils.jar"},
    {106, L"lic", L"License_ru.rtf"},
    {108, L"lic", L"License_uk.rtf"},
    {107, L"lic", L"License_en.rtf"},
};

}  // namespace

// Missing resources and unwritable files are logged by the extraction but do
// not fail the command: the install can go on without them.
void ExtractUtilsJarCommand::execute(wchar_t* result, size_t resultSize, Log* log) {
  setResult(result, resultSize, L"0");
  if (refuseCutArgument(result, resultSize, log)) return;
  const std::wstring& folder = argument();
  CreateDirectoryW(folder.c_str(), nullptr);
  const std::wstring utilsJar = folder + L"\\utils.jar";
  if (files::exists(utilsJar)) {
    if (log) log->info(L"Old utils.jar is found, delete it");
    DeleteFileW(utilsJar.c_str());
  }
  for (const auto& file : kFiles) resources::extractResource(file.id, file.type, folder + L"\\" + file.fileName, log);
}
