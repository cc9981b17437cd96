#pragma once
// The Windows firewall's COM objects, the one place the installer uses them.
// Any thread; COM is initialised for the call when the thread has not done so.
#include <string>

namespace firewall {

// Adds programPath to the allowed programs of the current profile (all
// networks, any IP version, enabled) under displayName. Returns the HRESULT;
// objects that cannot be created give REGDB_E_CLASSNOTREG (0x80040154).
long authorizeApplication(const std::wstring& programPath, const std::wstring& displayName,
                          const wchar_t* managerProgId, const wchar_t* applicationProgId);

}  // namespace firewall
