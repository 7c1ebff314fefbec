// The reader's own piece, for reader.cpp alone: the handler that the JSON parser reports each token
// to, which keeps the members asked for and lets the parser check and pass over the rest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "front/json.h"

namespace vesk {

// A member that a reading keeps, by its name, at any depth of the objects kept: its value, or, when
// `written`, the compact JSON text it was written in, numbers exactly as written.
struct Member {
  std::string_view name;
  bool written = false;
};
using Members = std::span<const Member>;

namespace reading {

// An exponent that the reader rewrote for the parser: where its digits begin in the text parsed,
// and what they were.
struct Rewritten {
  std::size_t at;
  std::string digits;
};

// Deepest nesting of arrays and objects accepted; the parser refuses a text that goes deeper.
inline constexpr std::size_t deepest = 512;

// The whole number that `written`, the text of a JSON number, stands for, when it is one within
// signed 64 bits: "3.0" and "30e-1" give 3; "2.5", "1e-400" and "-9223372036854775809" give none.
std::optional<std::int64_t> exactly(std::string_view written);

// Builds into `root`, in `root`'s own storage, the members of the text's top-level object that
// `wanted` names, and below them the members it names again. An array is kept as an empty one,
// since nothing reads an array's items; a member kept as written holds its text as a string. What
// is not kept costs no memory. A text whose top level is not an object is refused at its first
// token.
class Keeper {
 public:
  static constexpr std::size_t max_object_size = std::size_t(-1);
  static constexpr std::size_t max_array_size = std::size_t(-1);
  static constexpr std::size_t max_key_size = std::size_t(-1);
  static constexpr std::size_t max_string_size = std::size_t(-1);

  // `parsed` is the start of the text given to the parser, in which `rewritten` lie.
  Keeper(json::object& into, Members names, const char* parsed,
         std::span<const Rewritten> rewritten)
      : root(into), wanted(names), start(parsed), exponents(rewritten) {
    frames.reserve(8);  // as deep as the members read go, and deeper costs a reallocation
  }

  bool on_document_begin(json::error_code& /*ec*/) { return true; }
  bool on_document_end(json::error_code& /*ec*/) { return true; }
  bool on_object_begin(json::error_code& ec) { return open(false, ec); }
  bool on_object_end(std::size_t /*size*/, json::error_code& /*ec*/) { return close(); }
  bool on_array_begin(json::error_code& ec) { return open(true, ec); }
  bool on_array_end(std::size_t /*size*/, json::error_code& /*ec*/) { return close(); }
  bool on_key_part(json::string_view part, std::size_t total, json::error_code& /*ec*/);
  bool on_key(json::string_view last, std::size_t total, json::error_code& ec);
  bool on_string_part(json::string_view part, std::size_t total, json::error_code& ec);
  bool on_string(json::string_view last, std::size_t total, json::error_code& ec);
  bool on_number_part(json::string_view part, json::error_code& /*ec*/);
  bool on_int64(std::int64_t value, json::string_view text, json::error_code& ec);
  bool on_uint64(std::uint64_t value, json::string_view text, json::error_code& ec);
  bool on_double(double value, json::string_view text, json::error_code& ec);
  bool on_bool(bool value, json::error_code& ec);
  bool on_null(json::error_code& ec);
  // Comments are refused by the parser before they reach here.
  bool on_comment_part(json::string_view /*part*/, json::error_code& /*ec*/) { return true; }
  bool on_comment(json::string_view /*text*/, json::error_code& /*ec*/) { return true; }

 private:
  // What becomes of a value: kept as a value, dropped, or kept as its text.
  enum class Fate : unsigned char { keep, drop, written };
  struct Frame {
    Fate fate;
    bool array;
    bool first;            // no item written yet, in a written container
    json::object* object;  // the object being kept
  };

  Fate upcoming() const;  // the fate of the value that begins now
  bool open(bool array, json::error_code& ec);
  bool close();
  // Starts a key, or a value, of the written text: the comma before it, where one belongs.
  void separate(bool key);
  // The whole of a string, key or number whose `last` part has come.
  std::string_view whole(json::string_view last);
  // `number` as the client wrote it, where the reader rewrote its exponent.
  std::string_view original(std::string_view number);
  // A scalar value, whose text, when written, is `written`; `keep` puts a kept one in its slot.
  template <class Put>
  bool scalar(std::string_view written, json::error_code& ec, Put keep);
  // A number, whose text is `written` (after any parts); `keep` takes the slot and the text.
  template <class Put>
  bool number(std::string_view written, json::error_code& ec, Put keep);

  json::object& root;
  Members wanted;
  const char* start;
  std::span<const Rewritten> exponents;
  // The open arrays and objects, outermost first; the parser bounds them at `deepest`. On the heap,
  // since a parser lives on a worker's stack, of which every page touched stays with the thread.
  std::vector<Frame> frames;
  Fate keyed = Fate::drop;       // the fate the last key gave its value, in a kept object
  json::value* slot = nullptr;   // where a kept member's value goes
  json::string* text = nullptr;  // the text of the member being kept as written
  std::string pieces;            // what has come of a string, key or number that comes in parts
  std::string restored;          // a number with the exponent it was written with
};

}  // namespace reading

}  // namespace vesk
