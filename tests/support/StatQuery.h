#pragma once
// Reads one parameter back from a statistics request the test server saw.
#include <string>

#include "context/StatRequest.h"

namespace statquery {

// The value of `name` in the request path's encoded "?param=", or a marker
// saying why there is none, so a failed expectation shows what went wrong.
inline std::wstring paramOf(const std::string& path, const std::wstring& name) {
  const size_t pos = path.find("?param=");
  if (pos == std::string::npos) return L"<no param>";
  const auto params = stats::decodeParam(path.substr(pos + 7));
  if (!params) return L"<undecodable>";
  const auto it = params->find(name);
  return it == params->end() ? L"<missing>" : it->second;
}

}  // namespace statquery
