// The JSON library, under the one short name the code uses for it. Its values, parsers and writer
// are header-only; json.cpp compiles their sources once.
#pragma once

#include <boost/json.hpp>

namespace vesk {

namespace json = boost::json;

}  // namespace vesk
