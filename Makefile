# Front door for people: each target installs what it needs (as root) and builds what it runs.
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all build test demo bench clean

all: build

build:
	@sh tools/deps.sh
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

# The whole test suite.
test: build
	@ctest --test-dir $(BUILD) -j $(JOBS) --output-on-failure

# The quick start: the demo host and the connector in one short scripted session, printed.
demo: build
	@python3 demo/session.py --connector $(BUILD)/vesk-connector --host $(BUILD)/demo/vesk-demo-host

# The benchmarks (docs/benchmarks.md): the connector against the floor of this machine, side by side.
# Builds only what they run, then prints the micro-benchmarks and the table; the figures also go to
# $(BUILD)/bench.json and a chart to $(BUILD)/bench.svg.
bench:
	@sh tools/deps.sh python3
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(BUILD) -j $(JOBS) --target vesk-connector bench-host floor-responder floor-bridge connector-micro
	@$(BUILD)/bench/connector-micro --benchmark_min_time=0.1
	@python3 bench/run.py --build $(BUILD) --json $(BUILD)/bench.json --svg $(BUILD)/bench.svg

clean:
	rm -rf $(BUILD)
