#pragma once
// Where the packed Java runtime comes from and the oldest version the
// runtime server asks for, as "java.json" gives them. Portable.
//
// Threading: the download engine's call-backs and the runtime thread may
// both reach a record; its lock guards both fields.
#include <mutex>
#include <string>

#include "scenario/JavaVersion.h"

class RuntimeParameters {
 public:
  explicit RuntimeParameters(std::wstring defaultPackUrl) : packUrl_(std::move(defaultPackUrl)) {}

  // Takes "packedJreEbzUrl" (when present) and "minVersion" from the text of
  // "java.json". A text whose root is not an object changes nothing. True
  // when the root was an object.
  bool apply(const std::wstring& javaJson);

  std::wstring packUrl() const;
  JavaVersion minVersion() const;

 private:
  mutable std::mutex lock_;
  std::wstring packUrl_;
  JavaVersion minVersion_;
};
