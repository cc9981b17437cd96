#include "download/DownloadFailure.h"

namespace download {

const wchar_t* causeToken(FailureCause cause) {
  switch (cause) {
    case FailureCause::kNone: return L"none";
    case FailureCause::kNetwork: return L"network";
    case FailureCause::kServer: return L"server";
    case FailureCause::kStalled: return L"stalled";
    case FailureCause::kDamaged: return L"damaged";
    case FailureCause::kOutput: return L"output";
    case FailureCause::kCancelled: return L"cancelled";
  }
  return L"none";
}

}  // namespace download
