#include "front/keeper.h"

#include <algorithm>
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

bool refuse(json::error_code& ec) {
  ec = json::error::not_object;
  return false;
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

Keeper::Fate Keeper::upcoming() const {
  const Frame& top = frames.back();
  return top.fate == Fate::keep ? keyed : top.fate;
}

bool Keeper::open(bool array, json::error_code& ec) {
  if (frames.empty()) {
    if (array) return refuse(ec);
    frames.push_back({Fate::keep, false, true, &root});
    return true;
  }
  switch (upcoming()) {
    case Fate::keep:
      if (array) {
        slot->emplace_array();  // no array's items are read
        frames.push_back({Fate::drop, true, true, nullptr});
      } else {
        frames.push_back({Fate::keep, false, true, &slot->emplace_object()});
        keyed = Fate::drop;
      }
      break;
    case Fate::written:
      separate(false);
      text->push_back(array ? '[' : '{');
      frames.push_back({Fate::written, array, true, nullptr});
      break;
    case Fate::drop:
      frames.push_back({Fate::drop, array, true, nullptr});
      break;
  }
  return true;
}

bool Keeper::close() {
  const Frame& closing = frames.back();
  if (closing.fate == Fate::written) text->push_back(closing.array ? ']' : '}');
  frames.pop_back();
  return true;
}

void Keeper::separate(bool key) {
  // A comma goes before every key of a written object but its first, and before every item of a
  // written array but its first; a member's value follows its key with none.
  Frame& top = frames.back();
  if (top.fate != Fate::written || top.array == key) return;
  if (!top.first) text->push_back(',');
  top.first = false;
}

std::string_view Keeper::whole(json::string_view last) {
  return pieces.empty() ? std::string_view(last) : std::string_view(pieces.append(last));
}

bool Keeper::on_key_part(json::string_view part, std::size_t /*total*/, json::error_code& /*ec*/) {
  if (frames.back().fate != Fate::drop) pieces.append(part);
  return true;
}

bool Keeper::on_key(json::string_view last, std::size_t /*total*/, json::error_code& /*ec*/) {
  Frame& top = frames.back();
  std::string_view name = whole(last);
  if (top.fate == Fate::written) {
    separate(true);
    text->append(json::serialize(name)).push_back(':');
  } else if (top.fate == Fate::keep) {
    auto named = std::find_if(wanted.begin(), wanted.end(),
                              [name](const Member& member) { return member.name == name; });
    keyed = named == wanted.end() ? Fate::drop : named->written ? Fate::written : Fate::keep;
    if (keyed != Fate::drop) {
      // A repeated key replaces the value before it: the last one counts.
      slot = &top.object->insert_or_assign(name, nullptr).first->value();
      if (keyed == Fate::written) text = &slot->emplace_string();
    }
  }
  pieces.clear();
  return true;
}

bool Keeper::on_string_part(json::string_view part, std::size_t /*total*/, json::error_code& ec) {
  if (frames.empty()) return refuse(ec);
  // A string that is dropped is not held, however long it is.
  if (upcoming() != Fate::drop) pieces.append(part);
  return true;
}

bool Keeper::on_string(json::string_view last, std::size_t /*total*/, json::error_code& ec) {
  if (frames.empty()) return refuse(ec);
  Fate fate = upcoming();
  if (fate == Fate::keep) slot->emplace_string().assign(whole(last));
  if (fate == Fate::written) {
    separate(false);
    text->append(json::serialize(whole(last)));
  }
  pieces.clear();
  return true;
}

template <class Put>
bool Keeper::scalar(std::string_view written, json::error_code& ec, Put keep) {
  if (frames.empty()) return refuse(ec);
  Fate fate = upcoming();
  if (fate == Fate::keep) keep(*slot);
  if (fate == Fate::written) {
    separate(false);
    text->append(original(written));
  }
  return true;
}

std::string_view Keeper::original(std::string_view number) {
  auto at = static_cast<std::size_t>(number.data() - start);
  for (const Rewritten& exponent : exponents) {
    if (exponent.at < at || exponent.at >= at + number.size()) continue;
    restored.assign(number);
    restored.replace(exponent.at - at, exponent.digits.size(), exponent.digits);
    return restored;
  }
  return number;
}

template <class Put>
bool Keeper::number(std::string_view written, json::error_code& ec, Put keep) {
  std::string_view all = whole(written);
  bool kept = scalar(all, ec, [&](json::value& at) { keep(at, all); });
  pieces.clear();
  return kept;
}

bool Keeper::on_number_part(json::string_view part, json::error_code& /*ec*/) {
  // Only a text given in pieces splits a number, and the reader gives whole texts; a number in
  // parts would still read whole.
  pieces.append(part);
  return true;
}

bool Keeper::on_int64(std::int64_t value, json::string_view written, json::error_code& ec) {
  return number(written, ec, [value](json::value& at, std::string_view) { at = value; });
}

bool Keeper::on_uint64(std::uint64_t value, json::string_view written, json::error_code& ec) {
  return number(written, ec, [value](json::value& at, std::string_view) { at = value; });
}

bool Keeper::on_double(double value, json::string_view written, json::error_code& ec) {
  // A number written with a fraction or an exponent that is a whole one within signed 64 bits
  // (3.0, 30e-1) is kept as that integer: its double could not tell -2^63 from the numbers just
  // beyond it. Any other stays a double, which is read but never written back.
  return number(written, ec, [value](json::value& at, std::string_view whole) {
    at = value;
    if (std::optional<std::int64_t> exact = exactly(whole)) at = *exact;
  });
}

bool Keeper::on_bool(bool value, json::error_code& ec) {
  return scalar(value ? "true" : "false", ec, [value](json::value& at) { at = value; });
}

bool Keeper::on_null(json::error_code& ec) {
  return scalar("null", ec, [](json::value& at) { at = nullptr; });
}

}  // namespace vesk::reading
