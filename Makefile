# The two commands of the README, plus the sanitizer, Windows and package runs
# CI makes.
BUILD      ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
COVERAGE_BUILD ?= build-coverage
FUZZ_BUILD ?= build-fuzz
WIN64_BUILD ?= build-win64
WIN32_BUILD ?= build-win32
DIST       ?= dist
FUZZ_TIME  ?= 60
# no: build the 32-bit Windows DLL without running it (for kernels that run
# no 32-bit programs; CI never sets it).
LYFS_WIN32_RUN ?= yes
CMAKE_ARGS ?=
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all deps build test demo bench asan tsan coverage fuzz fuzz-deps mingw-deps windows-deps \
	windows package-deps package package-check install clean

all: build

# Installs what a fresh Debian machine lacks (only when run as root). The
# optional packages only widen the tool and the tests: libfuse 3 and fuse3
# give lyfs its mount command (tested where /dev/fuse exists), sfdisk checks
# what generic partition-table readers see.
deps:
	@missing=""; optional=""; \
	command -v cmake >/dev/null || missing="$$missing cmake"; \
	command -v ninja >/dev/null || missing="$$missing ninja-build"; \
	command -v g++ >/dev/null || missing="$$missing g++"; \
	command -v nm >/dev/null || missing="$$missing binutils"; \
	[ -f /usr/include/gtest/gtest.h ] || missing="$$missing libgtest-dev"; \
	[ -f /usr/include/CLI/CLI.hpp ] || missing="$$missing libcli11-dev"; \
	command -v sfdisk >/dev/null || [ -x /usr/sbin/sfdisk ] || optional="$$optional fdisk"; \
	[ -f /usr/include/fuse3/fuse.h ] || optional="$$optional libfuse3-dev"; \
	command -v pkg-config >/dev/null || optional="$$optional pkg-config"; \
	command -v fusermount3 >/dev/null || optional="$$optional fuse3"; \
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

# Benchmarks, each against a raw baseline measured in the same run (see
# BENCHMARKS.md). BENCH_ARGS passes options, e.g. "--runs 9", or "--device
# /dev/sdX" to measure a card in a reader too (it repartitions that card).
bench: build
	$(BUILD)/bench/lyfs_format_bench
	$(BUILD)/bench/lyfs_bench $(BENCH_ARGS)

# The same tests under AddressSanitizer and UndefinedBehaviorSanitizer, at -O1 as the
# sanitizers advise: unoptimised, the longest tests take many times as long.
asan: deps
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DLYFS_SANITIZE=address \
		-DCMAKE_C_FLAGS_DEBUG="-g -O1" -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" $(CMAKE_ARGS)
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
		ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS)

# The tests that run threads at once, under ThreadSanitizer.
tsan: deps
	cmake -S . -B $(TSAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLYFS_SANITIZE=thread $(CMAKE_ARGS)
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target lyfs_tests lyfs_view_tests
	TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
		ctest --test-dir $(TSAN_BUILD) --output-on-failure -R 'Stress|Thread'

# Line and branch coverage of the library (src/) and of the tools over the whole ctest run,
# unoptimised: a summary on stdout, the report in $(COVERAGE_BUILD)/coverage/index.html. A
# measure, not a gate: nothing fails on a low figure. The counters are atomic because the
# stress tests and the mount count from several threads at once. __gcov_dump is linked in so that
# tests whose forked processes leave by _exit can write out what those processes ran.
coverage: deps
	@command -v gcovr >/dev/null || { [ "$$(id -u)" = 0 ] && apt-get update -qq && \
		DEBIAN_FRONTEND=noninteractive apt-get install -y -qq gcovr; } || \
		{ echo "missing: gcovr (run as root, or install it)"; exit 1; }
	cmake -S . -B $(COVERAGE_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug \
		-DCMAKE_C_FLAGS="--coverage -O0 -fprofile-update=atomic" \
		-DCMAKE_CXX_FLAGS="--coverage -O0 -fprofile-update=atomic" \
		-DCMAKE_EXE_LINKER_FLAGS="--coverage -Wl,-u,__gcov_dump" \
		-DCMAKE_SHARED_LINKER_FLAGS=--coverage $(CMAKE_ARGS)
	cmake --build $(COVERAGE_BUILD) -j $(JOBS)
	find $(COVERAGE_BUILD) -name '*.gcda' -delete
	ctest --test-dir $(COVERAGE_BUILD) --output-on-failure -j $(JOBS)
	mkdir -p $(COVERAGE_BUILD)/coverage
	gcovr -r . $(COVERAGE_BUILD) --filter src/ --exclude-throw-branches --gcov-ignore-parse-errors \
		--exclude-unreachable-branches --html-details $(COVERAGE_BUILD)/coverage/index.html \
		--print-summary | tail -3 | sed 's/^/src:   /'
	gcovr -r . $(COVERAGE_BUILD) --filter tools/ --exclude-throw-branches --gcov-ignore-parse-errors \
		--exclude-unreachable-branches --html-details $(COVERAGE_BUILD)/coverage/tools.html \
		--print-summary | tail -3 | sed 's/^/tools: /'

# libFuzzer needs clang and its runtime libraries (installed only when root).
fuzz-deps:
	@command -v clang++ >/dev/null || { [ "$$(id -u)" = 0 ] && apt-get update -qq && \
		DEBIAN_FRONTEND=noninteractive apt-get install -y -qq clang; } || \
		{ echo "missing: clang (run as root, or install it)"; exit 1; }
	@rt="$$(clang++ -print-resource-dir)/lib/linux/libclang_rt.fuzzer-x86_64.a"; \
	[ -f "$$rt" ] || { [ "$$(id -u)" = 0 ] && apt-get update -qq && \
		DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
			libclang-rt-$$(clang++ -dumpversion | cut -d. -f1)-dev; } || \
		{ echo "missing: $$rt (install libclang-rt-N-dev)"; exit 1; }

# Corrupt cards: each fuzz target (the library's mount, and the mount's view of a card that
# lyfs mount serves) runs FUZZ_TIME seconds on a copy of the seed corpus under AddressSanitizer
# and UndefinedBehaviorSanitizer. A crash, a leak or an input slower than 10 s fails; the input
# is left in $(FUZZ_BUILD)/crashes/ (named after its target) to be kept under
# tests/fuzz/regressions/TARGET/.
fuzz: deps fuzz-deps
	cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DLYFS_FUZZ=ON $(CMAKE_ARGS)
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target lyfs_fuzz_mount lyfs_fuzz_view
	mkdir -p $(FUZZ_BUILD)/crashes
	for target in mount view; do \
		rm -rf $(FUZZ_BUILD)/corpus-$$target && mkdir -p $(FUZZ_BUILD)/corpus-$$target && \
		cp tests/fuzz/corpus/mount/* $(FUZZ_BUILD)/corpus-$$target/ && \
		ASAN_OPTIONS=quarantine_size_mb=16 $(FUZZ_BUILD)/tests/fuzz/lyfs_fuzz_$$target \
			-max_total_time=$(FUZZ_TIME) -timeout=10 -print_final_stats=1 \
			-artifact_prefix=$(FUZZ_BUILD)/crashes/$$target- $(FUZZ_BUILD)/corpus-$$target \
			|| exit 1; \
	done

# Installs the Debian packages listed in the shell variable missing, with the
# apt-get options $(1), when root; else names them and fails.
define install_missing
if [ "$$(id -u)" = 0 ] && [ -n "$$missing" ]; then \
	echo "installing:$$missing"; \
	case "$$missing" in *:i386*) dpkg --add-architecture i386;; esac; \
	apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $(1) $$missing; \
elif [ -n "$$missing" ]; then \
	echo "missing:$$missing (run as root, or install them)"; exit 1; \
fi
endef

# MinGW-w64 for both Windows targets, and the GoogleTest sources to build for
# Windows.
mingw-deps: deps
	@missing=""; \
	command -v i686-w64-mingw32-g++-posix >/dev/null || missing="$$missing g++-mingw-w64-i686"; \
	command -v x86_64-w64-mingw32-g++-posix >/dev/null || missing="$$missing g++-mingw-w64-x86-64"; \
	[ -f /usr/src/googletest/CMakeLists.txt ] || missing="$$missing googletest"; \
	$(install_missing)

# Wine to run both Windows builds, with its 32-bit loader (i386 packages; the
# loader's recommended graphics, sound and media libraries, which console
# programs never load, would double them). The 32-bit build runs only where
# the kernel runs 32-bit programs: elsewhere this says so and fails, unless
# LYFS_WIN32_RUN=no asks to build it without running it.
windows-deps: mingw-deps
	@missing=""; \
	[ -x /usr/lib/wine/wine64 ] || missing="$$missing wine64"; \
	command -v wine >/dev/null || missing="$$missing wine"; \
	$(install_missing); \
	missing=""; \
	if [ "$(LYFS_WIN32_RUN)" != no ]; then \
		why=$$(tests/windows/kernel_runs_32bit.sh) || \
			{ echo "$$why, so the 32-bit Windows build cannot run here (LYFS_WIN32_RUN=no builds it without running it)"; exit 1; }; \
		[ -x /usr/lib/wine/wine ] || missing="wine32:i386"; \
	fi; \
	$(call install_missing,--no-install-recommends)

# lyfs.dll for 64-bit and 32-bit Windows, the tool and the tests. Each build
# runs the same under Wine, in a Wine prefix of its own inside the build: the
# tests through ctest, cards crossing over with the Linux build both ways, and
# lyfs.exe demo (tests/windows/run_suite.sh).
windows: windows-deps
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_ARGS)
	cmake --build $(BUILD) -j $(JOBS) --target lyfs
	cmake -S . -B $(WIN64_BUILD) -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake $(CMAKE_ARGS)
	cmake --build $(WIN64_BUILD) -j $(JOBS)
	tests/windows/run_suite.sh win64 $(WIN64_BUILD) $(BUILD)/tools/lyfs/lyfs $(JOBS)
	cmake -S . -B $(WIN32_BUILD) -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake $(CMAKE_ARGS)
ifeq ($(LYFS_WIN32_RUN),no)
	cmake --build $(WIN32_BUILD) -j $(JOBS) --target lyfs_shared lyfs lyfs_c_header_test
	ctest --test-dir $(WIN32_BUILD) --output-on-failure -R dll_exports
	@echo "make windows: the 32-bit build was not run (LYFS_WIN32_RUN=no)"
else
	cmake --build $(WIN32_BUILD) -j $(JOBS)
	tests/windows/run_suite.sh win32 $(WIN32_BUILD) $(BUILD)/tools/lyfs/lyfs $(JOBS)
endif

# CPack's tools for the Debian package (dpkg-shlibdeps, file), and what the
# package check uses: man, and pkg-config for a host program.
package-deps: deps
	@missing=""; \
	command -v dpkg-shlibdeps >/dev/null || missing="$$missing dpkg-dev"; \
	command -v file >/dev/null || missing="$$missing file"; \
	command -v man >/dev/null || missing="$$missing man-db"; \
	command -v pkg-config >/dev/null || missing="$$missing pkg-config"; \
	$(install_missing)

# The packages, made by CPack into $(DIST): lyfs_VERSION_amd64.deb from the
# Linux build, and lyfs-VERSION-windows-ARCH.zip from each Windows build
# (those make windows tested, when it ran first).
package: package-deps mingw-deps
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_ARGS)
	cmake --build $(BUILD) -j $(JOBS) --target lyfs_shared lyfs_static lyfs lyfs_manual
	cmake -S . -B $(WIN64_BUILD) -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake $(CMAKE_ARGS)
	cmake --build $(WIN64_BUILD) -j $(JOBS) --target lyfs_shared lyfs lyfs_msvc_import_library
	cmake -S . -B $(WIN32_BUILD) -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake $(CMAKE_ARGS)
	cmake --build $(WIN32_BUILD) -j $(JOBS) --target lyfs_shared lyfs lyfs_msvc_import_library
	rm -rf $(DIST) && mkdir -p $(DIST)
	cd $(BUILD) && rm -rf packages && cpack -B packages && cp packages/*.deb $(abspath $(DIST))
	cd $(WIN64_BUILD) && rm -rf packages && cpack -B packages && cp packages/*.zip $(abspath $(DIST))
	cd $(WIN32_BUILD) && rm -rf packages && cpack -B packages && cp packages/*.zip $(abspath $(DIST))
	ls -l $(DIST)

# Proves the packages as their users get them (tests/package/): the .deb
# installed on this machine (as root), hosts built against it and run, the
# tool, man page and completion, then removed without a trace; each zip
# unpacked, a host built against it and run under Wine of its width.
package-check: package windows-deps
	@[ "$$(id -u)" = 0 ] || { echo "make package-check installs the package: run it as root"; exit 1; }
	tests/package/check_deb.sh $(DIST)/lyfs_*_amd64.deb $(BUILD)/package-check/deb
	tests/package/check_zip.sh $(DIST)/lyfs-*-windows-x86_64.zip win64 $(BUILD)/tools/lyfs/lyfs \
		$(BUILD)/package-check/win64
ifeq ($(LYFS_WIN32_RUN),no)
	@echo "make package-check: the 32-bit zip was not run (LYFS_WIN32_RUN=no)"
else
	tests/package/check_zip.sh $(DIST)/lyfs-*-windows-i686.zip win32 $(BUILD)/tools/lyfs/lyfs \
		$(BUILD)/package-check/win32
endif

install: build
	cmake --install $(BUILD)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(COVERAGE_BUILD) $(FUZZ_BUILD) $(WIN64_BUILD) \
		$(WIN32_BUILD) $(DIST)
