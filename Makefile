# Common steps. `make demo` and `make test` install missing Debian packages first.
BUILD ?= build
ASAN_BUILD ?= build-asan
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?= -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSTELVANE_WERROR=ON

.PHONY: all deps build test test-asan demo format clean

all: build

deps:
	@scripts/install-deps

build: deps
	@cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >/dev/null
	@ninja -C $(BUILD) -j$(JOBS)

# The whole suite, then again under AddressSanitizer and UndefinedBehaviorSanitizer.
test: build
	@ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS)
	@$(MAKE) --no-print-directory test-asan

test-asan: deps
	@cmake -S . -B $(ASAN_BUILD) $(CMAKE_FLAGS) -DSTELVANE_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug >/dev/null
	@ninja -C $(ASAN_BUILD) -j$(JOBS)
	@ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --test-dir $(ASAN_BUILD) --output-on-failure -j$(JOBS)

demo: deps
	@scripts/demo

format:
	@clang-format -i $$(git ls-files '*.cpp' '*.hpp')

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) build-local
