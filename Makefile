# Entry points: `make demo` and `make test` set up, build and run on a fresh Debian 12 machine.
BUILD      ?= build
BUILD_ASAN ?= build-asan
BUILD_TSAN ?= build-tsan
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=

.PHONY: all setup build demo test test-asan test-tsan bench format format-check fuzz clean

all: build

setup:
	@bash scripts/setup-deps.sh

$(BUILD)/CMakeCache.txt: | setup
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_ARGS)

build: setup $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

demo: build
	bash scripts/demo.sh $(BUILD)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-asan: setup
	cmake -S . -B $(BUILD_ASAN) -DCMAKE_BUILD_TYPE=Debug -DDIB_SANITIZE=ON -DDIB_BUILD_BENCH=OFF $(CMAKE_ARGS)
	cmake --build $(BUILD_ASAN) -j $(JOBS)
	cd $(BUILD_ASAN) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	    ctest --output-on-failure -j $(JOBS)

# The whole suite under ThreadSanitizer: a data race or a lock-order inversion fails the test.
test-tsan: setup
	cmake -S . -B $(BUILD_TSAN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDIB_SANITIZE_THREAD=ON -DDIB_BUILD_BENCH=OFF $(CMAKE_ARGS)
	cmake --build $(BUILD_TSAN) -j $(JOBS)
	cd $(BUILD_TSAN) && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$(CURDIR)/tests/support/tsan.supp \
	    ctest --output-on-failure -j $(JOBS)

bench: setup
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DDIB_BUILD_BENCH=ON -DDIB_BUILD_TESTS=OFF
	cmake --build build-bench -j $(JOBS)
	bash scripts/run-bench.sh build-bench

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

# Fails (listing the files) when any source differs from what .clang-format gives.
format-check: setup
	git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

# libFuzzer targets with clang: `make fuzz`, then e.g. build-fuzz/fuzz/fuzz_import_dib fuzz/seeds/import_dib
fuzz: setup
	cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
	    -DCMAKE_CXX_COMPILER=clang++ -DDIB_BUILD_FUZZ=ON -DDIB_BUILD_TESTS=OFF -DDIB_BUILD_TOOLS=OFF
	cmake --build build-fuzz -j $(JOBS)

clean:
	rm -rf $(BUILD) $(BUILD_ASAN) $(BUILD_TSAN) build-bench build-fuzz
