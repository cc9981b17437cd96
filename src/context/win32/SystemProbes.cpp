#include "context/win32/SystemProbes.h"

#include <windows.h>
#include <objbase.h>
#include <wbemidl.h>

#include <cstdio>

#include "app/Log.h"
#include "app/Text.h"
#include "app/win32/SystemInfo.h"

namespace probes {
namespace {

std::wstring g_serialCache;

template <typename T>
struct ComPtr {
  T* p = nullptr;
  ~ComPtr() { if (p) p->Release(); }
  T** out() { return &p; }
  T* operator->() const { return p; }
};

std::wstring hex(HRESULT hr) {
  wchar_t buffer[16];
  swprintf(buffer, 16, L"%lx", static_cast<unsigned long>(hr));
  return buffer;
}

std::wstring fallbackSerial(Log* log) {
  if (log) log->info(L"getHDDSerialAlternate start");
  DWORD serial = 0;
  GetVolumeInformationW(nullptr, nullptr, 0, &serial, nullptr, nullptr, nullptr, 0);
  if (log) log->info(L"getHDDSerialAlternate end");
  return L"_" + std::to_wstring(static_cast<unsigned long>(serial));
}

HRESULT initSecurity() {
  return CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT, RPC_C_IMP_LEVEL_IMPERSONATE,
                              nullptr, EOAC_NONE, nullptr);
}

HRESULT setBlanket(IWbemServices* services) {
  return CoSetProxyBlanket(services, RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                           RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
}

// Connects to a WMI namespace; the step that failed is reported in failedStep
// (1 locator, 2 connect, 3 blanket) with its result code.
bool connect(const wchar_t* ns, ComPtr<IWbemLocator>& locator, ComPtr<IWbemServices>& services, int& failedStep,
             HRESULT& hr) {
  hr = CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                        reinterpret_cast<void**>(locator.out()));
  if (FAILED(hr)) { failedStep = 1; return false; }
  BSTR name = SysAllocString(ns);
  hr = locator->ConnectServer(name, nullptr, nullptr, nullptr, 0, nullptr, nullptr, services.out());
  SysFreeString(name);
  if (FAILED(hr)) { failedStep = 2; return false; }
  hr = setBlanket(services.p);
  if (FAILED(hr)) { failedStep = 3; return false; }
  return true;
}

HRESULT query(IWbemServices* services, const wchar_t* wql, ComPtr<IEnumWbemClassObject>& result) {
  BSTR language = SysAllocString(L"WQL");
  BSTR text = SysAllocString(wql);
  HRESULT hr = services->ExecQuery(language, text, WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr,
                                   result.out());
  SysFreeString(language);
  SysFreeString(text);
  return hr;
}

}  // namespace

void clearSerialCache() { g_serialCache.clear(); }

std::wstring diskSerial(Log* log) {
  if (log) log->info(L"getHDDSerial start");
  std::wstring result;
  if (!g_serialCache.empty()) {
    if (log) log->info(L"getHDDSerial, used cached value");
    result = g_serialCache;
  } else if (sysinfo::osMajorVersion() < 6) {
    result = fallbackSerial(log);
  } else {
    HRESULT hr = initSecurity();
    if (FAILED(hr)) {
      if (log) log->error(L"Failed to initialize security. Error code = 0x" + hex(hr));
      return fallbackSerial(log);
    }
    ComPtr<IWbemLocator> locator;
    ComPtr<IWbemServices> services;
    int step = 0;
    if (!connect(L"ROOT\\CIMV2", locator, services, step, hr)) {
      if (log) {
        if (step == 1) log->error(L"Failed to create IWbemLocator object. Err code = 0x" + hex(hr));
        if (step == 2) log->error(L"Could not connect. Error code = 0x" + hex(hr));
        if (step == 3) log->error(L"Could not set proxy blanket.Error code = 0x" + hex(hr));
      }
      return fallbackSerial(log);
    }
    ComPtr<IEnumWbemClassObject> items;
    if (FAILED(query(services.p, L"Select * from Win32_DiskDrive where InterfaceType = 'IDE'", items))) {
      if (log) log->error(L"Query for operating system name failed.");
      return fallbackSerial(log);
    }
    for (;;) {
      ComPtr<IWbemClassObject> item;
      ULONG returned = 0;
      if (items->Next(WBEM_INFINITE, 1, item.out(), &returned) != WBEM_S_NO_ERROR || returned == 0) break;
      if (log) log->info(L"getHDDSerial, process item");
      VARIANT value;
      VariantInit(&value);
      std::wstring serial;
      if (SUCCEEDED(item->Get(L"SerialNumber", 0, &value, nullptr, nullptr)) && value.vt == VT_BSTR && value.bstrVal)
        serial = std::wstring(value.bstrVal).substr(0, 255);
      VariantClear(&value);
      std::wstring kept;
      for (wchar_t c : serial)
        if (static_cast<unsigned>(c) > L' ') kept.push_back(c);
      if (!kept.empty()) {
        if (log) log->info(L"getHDDSerial, serial is founded, break loop");
        result = kept;
        break;
      }
    }
    if (result.empty()) result = fallbackSerial(log);
    g_serialCache = result;
  }
  if (log) log->info(L"getHDDSerial end, result:" + result);
  return result;
}

std::wstring antivirusList(Log* log) {
  if (sysinfo::osMajorVersion() < 6) {
    if (log) log->info(L"WinXP");
    return L"WinXP";
  }
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  initSecurity();
  ComPtr<IWbemLocator> locator;
  ComPtr<IWbemServices> services;
  int step = 0;
  HRESULT hr = S_OK;
  if (!connect(L"ROOT\\SecurityCenter2", locator, services, step, hr)) {
    if (log) log->writeLastError();
    return step == 1 ? L"err2" : step == 2 ? L"err3" : L"err4";
  }
  ComPtr<IEnumWbemClassObject> items;
  if (FAILED(query(services.p, L"Select * From AntiVirusProduct", items))) {
    if (log) {
      log->writeLastError();
      log->error(L"Query for operating system name failed.");
    }
    return L"err5";
  }
  std::wstring result;
  for (;;) {
    ComPtr<IWbemClassObject> item;
    ULONG returned = 0;
    if (items->Next(WBEM_INFINITE, 1, item.out(), &returned) != WBEM_S_NO_ERROR || returned == 0) break;
    VARIANT name, state;
    VariantInit(&name);
    VariantInit(&state);
    std::wstring displayName;
    long productState = 0;
    if (SUCCEEDED(item->Get(L"displayName", 0, &name, nullptr, nullptr)) && name.vt == VT_BSTR && name.bstrVal)
      displayName = name.bstrVal;
    if (SUCCEEDED(item->Get(L"productState", 0, &state, nullptr, nullptr)) && (state.vt == VT_I4 || state.vt == VT_UI4))
      productState = state.lVal;
    VariantClear(&name);
    VariantClear(&state);
    wchar_t hexState[16];
    swprintf(hexState, 16, L"%lx", static_cast<unsigned long>(productState));
    result += displayName + L"_" + hexState + L";";
  }
  if (log) log->info(result);
  return result;
}

}  // namespace probes
