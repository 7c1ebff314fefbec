// Reading what arrives as JSON: the client's lines and the host's replies go through one strict
// reader, which keeps only the members the connector reads. All pure and safe from any thread.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "front/json.h"
#include "front/keeper.h"

namespace vesk {

// One JSON object as read: the members asked for, in an arena of their own, so that dropping them
// allocates nothing, and handing them to another thread moves one pointer.
class Document {
 public:
  Document() : held(std::make_unique<Held>()) {}  // an empty object
  json::object& root() { return held->root; }
  const json::object& root() const { return held->root; }

 private:
  struct Held {
    // Room for the members of an ordinary request, so that one allocation holds them all.
    alignas(std::max_align_t) unsigned char first[1024];
    json::monotonic_resource arena{first, sizeof first};
    json::object root{json::storage_ptr(&arena)};
  };
  std::unique_ptr<Held> held;
};

// The message on one line of the client's input, with the members that `wanted` names (Member):
// exactly one JSON object, read strictly (whitespace around it allowed, and a byte order mark
// before it), or nothing for anything else: a syntax error, another top-level type, trailing data,
// nesting deeper than 512 levels, or no memory to hold what is kept. Bytes that are not UTF-8 are
// read as U+FFFD, and so is an escaped lone surrogate, as a Node client writes a string cut inside
// an emoji ("\ud83d"). Every number is accepted, however large or small; one kept as a value is an
// integer when it is written as a whole one within signed 64 bits (3, 3.0, 30e-1), else a double.
// Never throws.
std::optional<Document> parseLine(std::string_view line, Members wanted);

// The object in a host's reply, read as parseLine() reads a line, except that bytes that are not
// UTF-8 make the reply unreadable: the host is held to its side of the format.
std::optional<Document> parseReply(std::string_view reply, Members wanted);

// Reading a member of a message that may be missing or of another type: the string `object[key]`,
// else the empty string; the object `object[key]`, else an empty object; the text of a member kept
// as written, else nothing. Each view lasts as long as the object.
std::string_view stringMember(const json::object& object, std::string_view key);
const json::object& objectMember(const json::object& object, std::string_view key);
std::optional<std::string_view> writtenMember(const json::object& object, std::string_view key);

}  // namespace vesk
