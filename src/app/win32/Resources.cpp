#include "app/win32/Resources.h"

#include <windows.h>

#include "app/Log.h"
#include "app/win32/Files.h"
#include "formats/LzmaAlone.h"

namespace resources {

namespace {

// The build packs these types (resources/tools/pack_resource.py); the
// pictures, the archive, icons and manifest are compressed already or read
// by the system.
bool isStoredPacked(const wchar_t* type) {
  if (IS_INTRESOURCE(type)) return false;
  return wcscmp(type, L"i18n") == 0 || wcscmp(type, L"lic") == 0;
}

constexpr size_t kInflatedLimit = 1u << 20;

}  // namespace

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

bool read(int id, const wchar_t* type, std::string& bytes) {
  bytes.clear();
  const void* data = nullptr;
  size_t size = 0;
  if (!load(id, type, data, size)) return false;
  if (isStoredPacked(type)) return lzma_alone::inflate(data, size, kInflatedLimit, bytes);
  bytes.assign(static_cast<const char*>(data), size);
  return true;
}

bool extractResource(int id, const wchar_t* type, const std::wstring& target, Log* log) {
  if (log) {
    log->info(L"extract resource file");
    log->info(target);
  }
  std::string bytes;
  if (!read(id, type, bytes)) {
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
  return WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

}  // namespace resources
