#pragma once
// Reproducible binary bodies for download tests.
#include <random>
#include <string>

inline std::string pattern(size_t size, unsigned seed) {
  std::string s(size, '\0');
  std::mt19937 random(seed);
  for (char& c : s) c = static_cast<char>(random());
  return s;
}
