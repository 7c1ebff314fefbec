// How the demo host reads JSON text, the same for a request line and for a chat file. Pure: safe
// from any thread.
#pragma once

#include <string_view>

#include <boost/json.hpp>

namespace demo {

// The value that `text` holds, its memory taken from `storage`; null when the text is not one JSON
// value the host reads: malformed, with anything after the value but white space, nested deeper
// than the host reads, or holding a number beyond the range of a double. A byte order mark before
// the value is skipped. Nothing thrown but std::bad_alloc.
boost::json::value parsed(std::string_view text, boost::json::storage_ptr storage);

}  // namespace demo
