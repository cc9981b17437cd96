#pragma once
// What the install's parts see of the partner-offer container: the context
// owns one, the statistics thread loads it, the wizard reads and trims its
// groups, the scenario waits for its installs. The container itself lives
// with the offers, above the context; the entry point makes it.
#include <string>
#include <vector>

class InstallContext;
struct PinstallGroup;

class IPinstallContainer {
 public:
  virtual ~IPinstallContainer() = default;
  virtual void load(InstallContext& context, const std::wstring& answer) = 0;  // 0
  virtual std::vector<PinstallGroup>& groups() = 0;                           // 1
  virtual void runAll(bool cancelled, bool finished) = 0;                     // 2
  virtual void writeOfferDates() = 0;                                         // 3
  virtual void keepOnlyGroup(const std::wstring& name) = 0;                   // 4
  virtual void removeGroup(const std::wstring& name) = 0;                     // 5
  virtual void reserved() {}                                                  // 6
  virtual void setDisabled(bool disabled) = 0;                                // 7
  virtual void waitForInstalls() = 0;                                         // 8
};
