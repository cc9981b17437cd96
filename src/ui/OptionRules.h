#pragma once
// The rules of an offer's check boxes, apart from the window. Portable.
#include <string>
#include <vector>

#include "pinstall/Pinstall.h"

namespace optionrules {

struct BoxState {
  bool checked = true;
  bool enabled = true;
};

// Option index was set to chosen: it and every option that depends on it
// take that choice; the dependants are enabled exactly when it is chosen.
// Returns the indices that changed besides index, with their new state.
std::vector<std::pair<size_t, BoxState>> choose(std::vector<PinstallOption>& options, size_t index, bool chosen);

// The box of option index may be changed: it follows no option, or the one
// it follows is chosen.
bool editable(const std::vector<PinstallOption>& options, size_t index);

// "Full install": every option chosen, every box checked and disabled.
// Otherwise every box enabled, choices kept.
void applyFullInstall(std::vector<PinstallOption>& options, bool full);

}  // namespace optionrules
