#include "ui/TaskbarState.h"

bool TaskbarState::progress(int percent) {
  if (over_ || shown_.look == Look::kError) return false;
  if (percent < 0) percent = 0;
  if (percent > 100) percent = 100;
  if (shown_.look == Look::kProgress && shown_.percent == percent) return false;
  shown_ = Shown{Look::kProgress, percent};
  return true;
}

bool TaskbarState::failed() {
  if (over_ || shown_.look == Look::kError) return false;
  shown_.look = Look::kError;
  return true;
}

bool TaskbarState::ended() {
  if (over_) return false;
  over_ = true;
  const bool changed = shown_.look != Look::kNothing;
  shown_ = Shown{};
  return changed;
}
