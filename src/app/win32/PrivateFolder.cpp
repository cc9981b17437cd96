#include "app/win32/PrivateFolder.h"

#include <aclapi.h>
#include <sddl.h>

#include <memory>

#include "app/win32/Elevation.h"

namespace files {

namespace {

struct LocalFreer {
  void operator()(void* p) const { LocalFree(p); }
};

// The process user's SID as text ("S-1-5-21-..."), empty when unknown.
std::wstring userSidText() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return std::wstring();
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::unique_ptr<unsigned char[]> buffer(new unsigned char[size ? size : 1]);
  std::wstring text;
  if (size && GetTokenInformation(token, TokenUser, buffer.get(), size, &size)) {
    wchar_t* sid = nullptr;
    if (ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.get())->User.Sid, &sid)) {
      text = sid;
      LocalFree(sid);
    }
  }
  CloseHandle(token);
  return text;
}

}  // namespace

unsigned long createPrivateFolder(const std::wstring& path) {
  // Protected (P): nothing is inherited from the parent, which other
  // processes of the user may be able to write.
  std::wstring sddl = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
  if (!elevation::isAdministrator()) {
    const std::wstring user = userSidText();
    if (!user.empty()) sddl += L"(A;OICI;FA;;;" + user + L")";
  }
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, FALSE};
  if (ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr)) {
    attributes.lpSecurityDescriptor = descriptor;
  }
  std::unique_ptr<void, LocalFreer> owned(descriptor);
  if (CreateDirectoryW(path.c_str(), attributes.lpSecurityDescriptor ? &attributes : nullptr)) return 0;
  return GetLastError();
}

bool inheritAccessFromFolder(const std::wstring& path) {
  // By name: only the named call works out what the new folder hands down.
  ACL empty;
  if (!InitializeAcl(&empty, sizeof empty, ACL_REVISION)) return false;
  std::wstring name = path;
  return SetNamedSecurityInfoW(&name[0], SE_FILE_OBJECT,
                               DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION, nullptr, nullptr,
                               &empty, nullptr) == ERROR_SUCCESS;
}

}  // namespace files
