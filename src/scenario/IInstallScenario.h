#pragma once
// The install scenario as the entry point, the silent driver and the wizard
// see it. The product's scenario adds its install steps behind this.
//
// Threading: every operation is called on the main thread; the flags are
// written by the worker thread and read here.
class InstallScenarioListener;

class IInstallScenario {
 public:
  virtual ~IInstallScenario() = default;
  virtual bool isFinished() = 0;                                     // 0
  // Starts the worker thread; true when it runs.
  virtual bool start() = 0;                                          // 1
  // Stops the install; the listener's onScenarioEnd still comes, once.
  virtual void cancel() = 0;                                         // 2
  virtual bool isStarted() = 0;                                      // 3
  virtual bool isCancelled() = 0;                                    // 4
  virtual void setCancelled(bool cancelled) = 0;                     // 5
  // Not owned; null stops the calls.
  virtual void setListener(InstallScenarioListener* listener) = 0;  // 6
  // A second run after one that ended (not cancelled): the wizard's "Try
  // again". False when this scenario cannot run again.
  virtual bool restart() { return false; }
};
