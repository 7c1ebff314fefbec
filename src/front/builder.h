// The reader's own pieces, for reader.cpp alone: the builder that turns the JSON parser's events
// into a value, the rule for numbers written as whole ones, and freeing a value without allocating.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace vesk::reading {

// Deepest nesting of arrays and objects accepted. Copying, writing and comparing JSON values
// recurse once per level, so an unbounded depth from either peer could exhaust a stack; no request
// or reply of this protocol comes anywhere near it.
inline constexpr std::size_t deepest = 512;

// The whole number that `written`, the text of a JSON number, stands for, when it is one within
// signed 64 bits: "3.0" and "30e-1" give 3; "2.5", "1e-400" and "-9223372036854775809" give none.
std::optional<std::int64_t> exactly(std::string_view written);

// Takes `value` apart leaf by leaf, allocating nothing. Leaves it an empty container or a scalar.
void dismantle(nlohmann::json& value) noexcept;

// Builds the value from the parser's events, as nlohmann's own builder does, except that it moves
// each string in rather than copying it (a long string is then held once more, not twice), stops
// at nesting deeper than `deepest`, and reads numbers as written (exactly()). What is left of the
// value at its end is dismantled, so nlohmann's destructor, which may allocate, frees only an
// empty value (hence the NOLINT).
class Builder {
 public:
  using json = nlohmann::json;
  json root;

  Builder() = default;  // NOLINT(bugprone-exception-escape)
  Builder(const Builder&) = delete;
  Builder& operator=(const Builder&) = delete;
  ~Builder() { dismantle(root); }  // NOLINT(bugprone-exception-escape)

  bool null() { return place(nullptr); }
  bool boolean(bool value) { return place(value); }
  bool number_integer(json::number_integer_t value) { return place(value); }
  bool number_unsigned(json::number_unsigned_t value) { return place(value); }
  bool number_float(json::number_float_t value, const json::string_t& written) {
    std::optional<std::int64_t> whole = verbatim ? std::nullopt : exactly(written);
    return whole ? place(*whole) : place(value);
  }
  bool string(json::string_t& value) { return place(std::move(value)); }
  bool binary(json::binary_t& /*value*/) { return false; }  // JSON text has none
  bool start_object(std::size_t /*elements*/) { return open(json::value_t::object); }
  bool start_array(std::size_t /*elements*/) { return open(json::value_t::array); }
  bool end_object() { return close(); }
  bool end_array() { return close(); }
  bool key(json::string_t& name) {
    if (levels.size() == 1) verbatim = name == "id";
    member = &levels.back()->get_ref<json::object_t&>()[std::move(name)];
    return true;
  }
  bool parse_error(std::size_t /*at*/, const std::string& /*token*/,
                   const nlohmann::detail::exception& /*e*/) {
    return false;
  }

 private:
  template <class Value>
  json* slot(Value&& value) {
    if (levels.empty()) {
      root = json(std::forward<Value>(value));
      return &root;
    }
    json& container = *levels.back();
    if (container.is_array()) {
      auto& items = container.get_ref<json::array_t&>();
      items.emplace_back(std::forward<Value>(value));
      return &items.back();
    }
    *member = json(std::forward<Value>(value));
    return member;
  }
  template <class Value>
  bool place(Value&& value) {
    slot(std::forward<Value>(value));
    return true;
  }
  bool open(json::value_t type) {
    if (levels.size() >= deepest) return false;
    levels.push_back(slot(type));
    return true;
  }
  bool close() {
    levels.pop_back();
    return true;
  }

  std::vector<json*> levels;  // the open arrays and objects, outermost first
  json* member = nullptr;     // where the value after the last key goes
  bool verbatim = false;      // inside the top-level `id`
};

}  // namespace vesk::reading
