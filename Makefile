# The two commands of the README, plus the sanitizer run CI makes.
BUILD      ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
CMAKE_ARGS ?=
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all deps build test demo bench asan tsan install clean

all: build

# Installs what a fresh Debian machine lacks (only when run as root). The
# optional tools only widen the tests (sfdisk checks what generic
# partition-table readers see).
deps:
	@missing=""; optional=""; \
	command -v cmake >/dev/null || missing="$$missing cmake"; \
	command -v ninja >/dev/null || missing="$$missing ninja-build"; \
	command -v g++ >/dev/null || missing="$$missing g++"; \
	command -v nm >/dev/null || missing="$$missing binutils"; \
	[ -f /usr/include/gtest/gtest.h ] || missing="$$missing libgtest-dev"; \
	[ -f /usr/include/CLI/CLI.hpp ] || missing="$$missing libcli11-dev"; \
	command -v sfdisk >/dev/null || [ -x /usr/sbin/sfdisk ] || optional="$$optional fdisk"; \
	if [ "$$(id -u)" = 0 ] && [ -n "$$missing$$optional" ]; then \
		echo "installing:$$missing$$optional"; \
		apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing $$optional; \
	elif [ -n "$$missing" ]; then \
		echo "missing:$$missing (run as root, or install them)"; exit 1; \
	fi

build: deps
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_ARGS)
	cmake --build $(BUILD) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

demo: build
	$(BUILD)/tools/lyfs/lyfs demo

# Benchmarks, each against a raw baseline measured in the same run.
bench: build
	$(BUILD)/bench/lyfs_format_bench

# The same tests under AddressSanitizer and UndefinedBehaviorSanitizer.
asan: deps
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DLYFS_SANITIZE=address $(CMAKE_ARGS)
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
		ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS)

# The tests that run threads at once, under ThreadSanitizer.
tsan: deps
	cmake -S . -B $(TSAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLYFS_SANITIZE=thread $(CMAKE_ARGS)
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target lyfs_tests
	TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
		ctest --test-dir $(TSAN_BUILD) --output-on-failure -R 'Stress|Thread'

install: build
	cmake --install $(BUILD)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD)
