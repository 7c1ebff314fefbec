// Boost.JSON is header-only: this file holds its sources, compiled once for every program of the
// project that reads or writes JSON (the connector, the demo host, the tests and benchmarks).
#include <boost/json/src.hpp>
