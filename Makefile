# Front door for people: each target installs what it needs (as root) and builds what it runs.
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all build test try clean fuzz

all: build

build:
	@sh tools/deps.sh
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

# The whole test suite.
test: build
	@ctest --test-dir $(BUILD) -j $(JOBS) --output-on-failure

# A first look: the connector answers an initialize, a tools/list and a tool call (no host runs
# here, so the call says Vesk is not open).
try: build
	@printf '%s\n' \
	  '{"jsonrpc":"2.0","id":1,"method":"initialize","params":{"protocolVersion":"2025-06-18"}}' \
	  '{"jsonrpc":"2.0","id":2,"method":"tools/list"}' \
	  '{"jsonrpc":"2.0","id":3,"method":"tools/call","params":{"name":"vesk_list_chats"}}' \
	| VESK_BRIDGE_SOCKET=/nonexistent/bridge.sock $(BUILD)/vesk-connector --chat demo

# The libFuzzer targets, built with clang under AddressSanitizer and UndefinedBehaviorSanitizer in
# their own folder, each run for SECONDS seconds (make fuzz SECONDS=3600 for a long run).
FUZZ_BUILD ?= build-fuzz
SECONDS ?= 60

fuzz:
	@sh tools/deps.sh clang-14 libclang-rt-14-dev
	@cmake -S . -B $(FUZZ_BUILD) -DVESK_FUZZ=ON -DBUILD_TESTING=OFF -DCMAKE_CXX_COMPILER=clang++-14 \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(FUZZ_BUILD) -j $(JOBS)
	@sh fuzz/run.sh $(FUZZ_BUILD) $(SECONDS)

clean:
	rm -rf $(BUILD) $(FUZZ_BUILD)
