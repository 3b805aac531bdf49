#include "engine/numbers.h"

#include <climits>
#include <cmath>
#include <cstdlib>

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

double ParseNumberValue(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n')) ++i;
  std::string number;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) number += text[i++];
  bool anyDigit = false;
  while (i < text.size() && IsDigit(text[i])) number += text[i++], anyDigit = true;
  if (i < text.size() && text[i] == '.') {
    number += text[i++];
    while (i < text.size() && IsDigit(text[i])) number += text[i++], anyDigit = true;
  }
  if (!anyDigit) return 0.0;
  return std::strtod(number.c_str(), nullptr);
}

int RoundToInt32(double value) {
  double r = std::nearbyint(value);
  if (r >= 2147483647.0) return INT_MAX;
  if (r <= -2147483648.0) return INT_MIN;
  return static_cast<int>(r);
}

int ParseNumber(const std::string& text) { return RoundToInt32(ParseNumberValue(text)); }

std::string NumberText(long long value) { return std::to_string(value); }
