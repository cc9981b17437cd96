#pragma once
// What the wizard does when its window goes away, decided from the state
// of the scenario and the context. Portable: no windows.h.
struct FinishPlan {
  int exitCode = -1;       // -1: leave the context's exit code as it is
  bool applySettings = false;  // settings, shortcuts, uninstall entry, run
  bool runPartners = false;    // the offer container's runAll
};

// mode: 0 fresh, 1 reinstall, 2 already installed.
inline FinishPlan planFinish(bool scenarioFinished, bool cancelled, int mode, bool installSucceeded) {
  FinishPlan plan;
  if (scenarioFinished && !cancelled && mode != 2) {
    plan.exitCode = installSucceeded ? 0 : 3;
    plan.applySettings = installSucceeded;
  }
  plan.runPartners = mode != 2;
  if (mode == 2) plan.exitCode = 1;
  return plan;
}
