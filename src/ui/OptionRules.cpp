#include "ui/OptionRules.h"

namespace optionrules {

std::vector<std::pair<size_t, BoxState>> choose(std::vector<PinstallOption>& options, size_t index, bool chosen) {
  std::vector<std::pair<size_t, BoxState>> changed;
  if (index >= options.size()) return changed;
  options[index].chosen = chosen;
  const std::wstring& name = options[index].name;
  for (size_t i = 0; i < options.size(); ++i) {
    if (i == index || name.empty() || options[i].dependsOn != name) continue;
    options[i].chosen = chosen;
    changed.push_back({i, BoxState{chosen, chosen}});
  }
  return changed;
}

bool editable(const std::vector<PinstallOption>& options, size_t index) {
  if (index >= options.size() || options[index].dependsOn.empty()) return true;
  for (const auto& option : options)
    if (option.name == options[index].dependsOn) return option.chosen;
  return true;
}

void applyFullInstall(std::vector<PinstallOption>& options, bool full) {
  if (!full) return;
  for (auto& option : options) option.chosen = true;
}

}  // namespace optionrules
