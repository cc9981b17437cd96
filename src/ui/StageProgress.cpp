#include "ui/StageProgress.h"

#include "ui/UiText.h"

namespace {
// Stage texts live in 256-unit buffers.
constexpr size_t kStageTextCapacity = 256;
}  // namespace

std::wstring StageProgress::initialText() const {
  return uitext::cut(uitext::formatWith(format_, L""), kStageTextCapacity);
}

StageProgress::Update StageProgress::show(const std::wstring& progress) {
  Update update;
  std::wstring next = uitext::cut(uitext::formatWith(format_, progress), kStageTextCapacity);
  if (next != shown_) {
    shown_ = next;
    update.textChanged = true;
  }
  return update;
}

StageProgress::Update StageProgress::onProgress(int percent, float exactPercent) {
  std::wstring progress;
  if (exactPercent != 0) {
    lastPercent_ = exactPercent;
    progress = uitext::percentText(exactPercent);
  }
  Update update = show(progress);
  update.look = percent == 100 ? Look::kDone : Look::kActive;
  return update;
}

StageProgress::Update StageProgress::onTick() {
  if (lastPercent_ != 0) return Update();
  std::wstring dots(static_cast<size_t>(ticks_ % 5 + 1), L'.');
  ++ticks_;
  return show(dots);
}
