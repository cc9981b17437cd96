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

StageProgress::Update StageProgress::onFailed(const std::wstring& failedFormat) {
  std::wstring plain = initialText();
  while (!plain.empty() && plain.back() == L' ') plain.pop_back();
  failed_ = true;
  Update update;
  const std::wstring next = uitext::cut(uitext::formatWith(failedFormat, plain), kStageTextCapacity);
  if (next != shown_) {
    shown_ = next;
    update.textChanged = true;
  }
  update.look = Look::kActive;
  return update;
}

StageProgress::Update StageProgress::reset() {
  failed_ = false;
  lastPercent_ = 0;
  ticks_ = 0;
  Update update;
  const std::wstring first = initialText();
  update.textChanged = first != shown_;
  shown_ = first;
  return update;
}

StageProgress::Update StageProgress::onProgress(int percent, float exactPercent) {
  if (failed_) return Update();
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
  if (lastPercent_ != 0 || failed_) return Update();
  std::wstring dots(static_cast<size_t>(ticks_ % 5 + 1), L'.');
  ++ticks_;
  return show(dots);
}
