# Front door for people: each target installs what it needs (as root) and builds what it runs.
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all build test demo bench fuzz clean

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

# The libFuzzer targets, built with clang under AddressSanitizer and UndefinedBehaviorSanitizer in
# their own folder, each run for SECONDS seconds (make fuzz SECONDS=3600 for a long run).
FUZZ_BUILD ?= build-fuzz
SECONDS ?= 60

fuzz:
	@sh tools/deps.sh clang-14 libclang-rt-14-dev
	@cmake -S . -B $(FUZZ_BUILD) -DVESK_FUZZ=ON -DBUILD_TESTING=OFF -DVESK_BENCHMARKS=OFF \
	  -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzz-line fuzz-reply fuzz-lines
	@sh fuzz/run.sh $(FUZZ_BUILD) $(SECONDS)

clean:
	rm -rf $(BUILD) $(FUZZ_BUILD)
