#pragma once
// Something that adds its own parameters to a statistics request before it
// is built (a partner offer adds its result to "pinstallFinish").
#include <map>
#include <string>

class UrlParamAppender {
 public:
  virtual ~UrlParamAppender() = default;
  virtual void appendUrlParams(std::map<std::wstring, std::wstring>& params) const = 0;
};
