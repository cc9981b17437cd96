#pragma once
// The wizard's page list and the states of its two buttons, apart from any
// window: pages are opaque pointers here, the window code shows and hides
// them. Portable: no windows.h.
//
// Threading: main thread only.
#include <algorithm>
#include <vector>

struct WizardButtons {
  bool nextEnabled = false;
  bool nextIsFinish = false;  // "OK" instead of "NEXT"
  bool backEnabled = false;
};

template <typename Page>
class PageFlow {
 public:
  void append(Page* page) { pages_.push_back(page); }
  const std::vector<Page*>& pages() const { return pages_; }
  Page* current() const { return current_; }
  void setCurrent(Page* page) { current_ = page; }

  // Quick mode takes the optional page out; extended puts it back directly
  // after the first page. Never listed twice either way.
  void applyInstallMode(bool quick, Page* optional) {
    pages_.erase(std::remove(pages_.begin(), pages_.end(), optional), pages_.end());
    if (!quick && optional) pages_.insert(pages_.empty() ? pages_.end() : pages_.begin() + 1, optional);
  }

  int indexOf(Page* page) const {
    auto it = std::find(pages_.begin(), pages_.end(), page);
    return it == pages_.end() ? -1 : static_cast<int>(it - pages_.begin());
  }
  // The page after / before the current one; null when there is none.
  Page* following() const {
    int i = indexOf(current_);
    return i >= 0 && i + 1 < static_cast<int>(pages_.size()) ? pages_[i + 1] : nullptr;
  }
  Page* preceding() const {
    int i = indexOf(current_);
    return i > 0 ? pages_[i - 1] : nullptr;
  }

  WizardButtons buttons(bool finishAllowed) const {
    WizardButtons b;
    if (following()) {
      b.nextEnabled = true;
    } else {
      b.nextIsFinish = true;
      b.nextEnabled = finishAllowed;
    }
    b.backEnabled = indexOf(current_) != 0;
    return b;
  }

 private:
  std::vector<Page*> pages_;
  Page* current_ = nullptr;
};
