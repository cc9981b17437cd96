#include "app/win32/Resources.h"

#include <windows.h>

#include "app/Log.h"
#include "app/win32/Files.h"

namespace resources {

bool load(int id, const wchar_t* type, const void*& data, size_t& size) {
  data = nullptr;
  size = 0;
  HMODULE module = GetModuleHandleW(nullptr);
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), type);
  if (!found) return false;
  HGLOBAL loaded = LoadResource(module, found);
  if (!loaded) return false;
  data = LockResource(loaded);
  size = SizeofResource(module, found);
  return data != nullptr;
}

bool extractResource(int id, const wchar_t* type, const std::wstring& target, Log* log) {
  if (log) {
    log->info(L"extract resource file");
    log->info(target);
  }
  const void* data = nullptr;
  size_t size = 0;
  if (!load(id, type, data, size)) {
    if (log) log->error(L"Resource file not found");
    return false;
  }
  files::UniqueHandle file(
      CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    if (log) {
      log->error(L"Can't create file");
      log->writeLastError();
    }
    return false;
  }
  DWORD written = 0;
  return WriteFile(file.get(), data, static_cast<DWORD>(size), &written, nullptr) && written == size;
}

}  // namespace resources
