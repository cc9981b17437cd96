#include "context/win32/FirewallAuthorization.h"

#include <windows.h>
#include <netfw.h>
#include <objbase.h>
#include <oleauto.h>

namespace firewall {

namespace {

template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ~ComPtr() {
    if (p_) p_->Release();
  }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  T* get() const { return p_; }
  T** out() { return &p_; }
  T* operator->() const { return p_; }

 private:
  T* p_ = nullptr;
};

class Bstr {
 public:
  explicit Bstr(const std::wstring& s) : b_(SysAllocStringLen(s.data(), UINT(s.size()))) {}
  ~Bstr() { SysFreeString(b_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  BSTR get() const { return b_; }

 private:
  BSTR b_;
};

class ComScope {
 public:
  ComScope() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ~ComScope() {
    if (SUCCEEDED(hr_)) CoUninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;

 private:
  HRESULT hr_;
};

template <typename T>
HRESULT create(const wchar_t* progId, ComPtr<T>& object) {
  CLSID clsid;
  if (FAILED(CLSIDFromProgID(progId, &clsid))) return REGDB_E_CLASSNOTREG;
  if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(T), reinterpret_cast<void**>(object.out())))) {
    return REGDB_E_CLASSNOTREG;
  }
  return S_OK;
}

}  // namespace

long authorizeApplication(const std::wstring& programPath, const std::wstring& displayName,
                          const wchar_t* managerProgId, const wchar_t* applicationProgId) {
  ComScope com;
  ComPtr<INetFwMgr> manager;
  ComPtr<INetFwAuthorizedApplication> application;
  HRESULT hr = create(managerProgId, manager);
  if (SUCCEEDED(hr)) hr = create(applicationProgId, application);
  if (FAILED(hr)) return hr;

  const Bstr path(programPath), name(displayName);
  hr = application->put_ProcessImageFileName(path.get());
  if (SUCCEEDED(hr)) hr = application->put_Name(name.get());
  if (SUCCEEDED(hr)) hr = application->put_Scope(NET_FW_SCOPE_ALL);
  if (SUCCEEDED(hr)) hr = application->put_IpVersion(NET_FW_IP_VERSION_ANY);
  if (SUCCEEDED(hr)) hr = application->put_Enabled(VARIANT_TRUE);
  if (FAILED(hr)) return hr;

  ComPtr<INetFwPolicy> policy;
  ComPtr<INetFwProfile> profile;
  ComPtr<INetFwAuthorizedApplications> applications;
  hr = manager->get_LocalPolicy(policy.out());
  if (SUCCEEDED(hr)) hr = policy->get_CurrentProfile(profile.out());
  if (SUCCEEDED(hr)) hr = profile->get_AuthorizedApplications(applications.out());
  if (SUCCEEDED(hr)) hr = applications->Add(application.get());
  return hr;
}

}  // namespace firewall
