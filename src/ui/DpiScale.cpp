#include "ui/DpiScale.h"

namespace dpiscale {

namespace {
int mulDivRounded(long long value, long long numerator, long long denominator) {
  long long product = value * numerator;
  long long half = denominator / 2;
  long long q = product >= 0 ? (product + half) / denominator : -((-product + half) / denominator);
  return static_cast<int>(q);
}
}  // namespace

int scale(int value, int dpi) {
  if (dpi <= 0 || dpi == kBaseDpi) return value;
  return mulDivRounded(value, dpi, kBaseDpi);
}

int unscale(int value, int dpi) {
  if (dpi <= 0 || dpi == kBaseDpi) return value;
  return mulDivRounded(value, kBaseDpi, dpi);
}

Box scaleBox(const Box& box, int dpi) {
  Box out;
  out.x = scale(box.x, dpi);
  out.y = scale(box.y, dpi);
  out.width = scale(box.x + box.width, dpi) - out.x;
  out.height = scale(box.y + box.height, dpi) - out.y;
  return out;
}

}  // namespace dpiscale
