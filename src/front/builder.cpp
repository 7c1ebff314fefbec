#include "front/builder.h"

#include <algorithm>
#include <iterator>
#include <limits>
#include <numeric>

namespace vesk::reading {

namespace {

// The exponent of a JSON number, given without its 'e'. Saturates far beyond anything that could
// still make a 64-bit integer, so a thousand-digit exponent cannot overflow.
std::int64_t exponentOf(std::string_view written) {
  static constexpr std::int64_t saturated = std::int64_t{1} << 40;
  bool negative = !written.empty() && written.front() == '-';
  if (!written.empty() && (written.front() == '-' || written.front() == '+'))
    written.remove_prefix(1);
  std::int64_t value = std::accumulate(
      written.begin(), written.end(), std::int64_t{0},
      [](std::int64_t sum, char c) { return std::min(saturated, sum * 10 + (c - '0')); });
  return negative ? -value : value;
}

}  // namespace

std::optional<std::int64_t> exactly(std::string_view written) {
  bool negative = !written.empty() && written.front() == '-';
  if (negative) written.remove_prefix(1);
  std::size_t e = written.find_first_of("eE");
  std::int64_t scale = e == std::string_view::npos ? 0 : exponentOf(written.substr(e + 1));
  std::string_view mantissa = written.substr(0, e);
  std::size_t point = mantissa.find('.');
  std::string_view whole = mantissa.substr(0, point);
  std::string_view fraction = point == std::string_view::npos ? "" : mantissa.substr(point + 1);
  // The number is the digits of `whole` and `fraction` in a row, times 10^scale.
  scale -= static_cast<std::int64_t>(fraction.size());
  auto digit = [&](std::size_t i) {
    return i < whole.size() ? whole[i] : fraction[i - whole.size()];
  };
  std::size_t first = 0, last = whole.size() + fraction.size();
  while (first < last && digit(first) == '0') ++first;
  if (first == last) return 0;  // zero, whatever its sign and exponent
  for (; digit(last - 1) == '0'; --last) ++scale;
  if (scale < 0) return std::nullopt;  // a nonzero digit below the units
  // 10^19 and above lie beyond the range; below it, the magnitude fits 64 unsigned bits.
  if (static_cast<std::int64_t>(last - first) + scale > 19) return std::nullopt;
  std::uint64_t magnitude = 0;
  for (std::size_t i = first; i < last; ++i)
    magnitude = magnitude * 10 + static_cast<unsigned>(digit(i) - '0');
  for (; scale > 0; --scale) magnitude *= 10;
  constexpr auto most = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  if (magnitude > most + (negative ? 1 : 0)) return std::nullopt;
  if (!negative) return static_cast<std::int64_t>(magnitude);
  return magnitude == most + 1 ? std::numeric_limits<std::int64_t>::min()
                               : -static_cast<std::int64_t>(magnitude);
}

void dismantle(nlohmann::json& value) noexcept {
  // Depth is bounded by the reader (`deepest`), so the recursion is too.
  if (auto* items = value.get_ptr<nlohmann::json::array_t*>()) {
    while (!items->empty()) {
      dismantle(items->back());
      items->pop_back();
    }
  } else if (auto* members = value.get_ptr<nlohmann::json::object_t*>()) {
    while (!members->empty()) {
      auto last = std::prev(members->end());
      dismantle(last->second);
      members->erase(last);
    }
  }
}

}  // namespace vesk::reading
