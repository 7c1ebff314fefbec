# Front door for people: each target installs what it needs (as root) and builds what it runs.
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all build test try demo clean

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

# The quick start: the demo host and the connector in one short scripted session, printed.
demo: build
	@python3 demo/session.py --connector $(BUILD)/vesk-connector --host $(BUILD)/demo/vesk-demo-host

clean:
	rm -rf $(BUILD)
