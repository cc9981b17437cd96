#pragma once
// The size a picture takes inside a rectangle: scaled down evenly until it
// fits, never scaled up. Portable.
struct ImageSize {
  int width = 0;
  int height = 0;
};

inline ImageSize fitImage(int w, int h, int maxW, int maxH) {
  double sx = (maxW > 0 && w > maxW) ? static_cast<double>(w) / maxW : 1.0;
  double sy = (maxH > 0 && h > maxH) ? static_cast<double>(h) / maxH : 1.0;
  double s = sx > sy ? sx : sy;
  if (s < 1.0) s = 1.0;
  return ImageSize{static_cast<int>(w / s), static_cast<int>(h / s)};
}
