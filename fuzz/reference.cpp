#include "reference.h"

#include <cstddef>

namespace fuzzing {

vesk::json::value reference(std::string_view text, vesk::json::error_code& ec) {
  vesk::json::parse_options options;
  options.max_depth = 512;
  return vesk::json::parse(text, ec, vesk::json::storage_ptr(), options);
}

bool mendable(std::string_view text) {
  if (text.find("\\ud") != std::string_view::npos || text.find("\\uD") != std::string_view::npos)
    return true;
  for (std::size_t at = text.find_first_of("eE"); at != std::string_view::npos;
       at = text.find_first_of("eE", at + 1)) {
    std::size_t first = at + 1;
    if (first < text.size() && (text[first] == '+' || text[first] == '-')) ++first;
    std::size_t last = first;
    while (last < text.size() && text[last] >= '0' && text[last] <= '9') ++last;
    if (last - first >= 10) return true;
  }
  return false;
}

}  // namespace fuzzing
