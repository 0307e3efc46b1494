# SPDX-License-Identifier: Apache-2.0
# The build is CMake's; this file only names the everyday commands.
#   make demo   build, then run the main job on the built-in example
#   make test   build, then run every test
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
# Debian's own interpreter: it has numpy, pytest and matplotlib from apt.
PYTHON ?= /usr/bin/python3
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=Release -DPython_EXECUTABLE=$(PYTHON)

# Debian packages the build needs; `make deps` installs the missing ones when
# run as root and otherwise prints the one command that would.
PACKAGES := cmake g++ make libgtest-dev libbenchmark-dev libcli11-dev nlohmann-json3-dev libhwy-dev libkissfft-dev \
  libcminpack-dev \
  python3-dev pybind11-dev python3-numpy python3-pytest python3-matplotlib \
  python3-dask python3-distributed

.PHONY: all deps configure build test demo bench sanitize fuzz tsan format clean

all: build

deps:
	@command -v dpkg-query >/dev/null || exit 0; missing=""; for p in $(PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    echo "installing:$$missing"; \
	    (apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing) || exit 1; \
	  else \
	    echo "missing Debian packages; run: sudo apt-get install -y$$missing"; exit 1; \
	  fi; \
	fi

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

configure: deps $(BUILD)/CMakeCache.txt

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

demo: build
	@mkdir -p $(BUILD)/demo
	$(BUILD)/tools/lumivex draw -o $(BUILD)/demo/layout.svg
	$(BUILD)/tools/lumivex trace
	$(BUILD)/tools/lumivex spot --fields 0,2.5,5 --through-focus -o $(BUILD)/demo/spot.svg
	$(BUILD)/tools/lumivex fan --fields 0,5 -o $(BUILD)/demo/fan.svg
	$(BUILD)/tools/lumivex psf examples/singlet.txt --fields 0,0.15,0.3 -o $(BUILD)/demo/psf.svg
	$(BUILD)/tools/lumivex mtf examples/singlet.txt --fields 0,0.15,0.3 -o $(BUILD)/demo/mtf.svg
	@echo
	@echo "The pictures of the built-in example are $(BUILD)/demo/layout.svg, spot.svg and fan.svg;"
	@echo "the PSF and MTF of examples/singlet.txt are $(BUILD)/demo/psf.svg and mtf.svg"

# The whole test suite under AddressSanitizer and UndefinedBehaviorSanitizer,
# with the float-to-integer conversions that overflow, which GCC's
# "undefined" leaves out. The host-install test and the Python package are
# left out: a host built without the sanitizers (the interpreter too) cannot
# load an instrumented library.
SANITIZE_BUILD ?= build-sanitize
SANITIZE_FLAGS := -fsanitize=address,undefined,float-cast-overflow -fno-sanitize-recover=all -fno-omit-frame-pointer
sanitize: configure
	cmake -S . -B $(SANITIZE_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMIVEX_BUILD_BENCH=OFF \
	  -DLUMIVEX_BUILD_PYTHON=OFF -DCMAKE_CXX_FLAGS="$(SANITIZE_FLAGS)" -DCMAKE_EXE_LINKER_FLAGS="$(SANITIZE_FLAGS)" \
	  -DCMAKE_SHARED_LINKER_FLAGS="$(SANITIZE_FLAGS)"
	cmake --build $(SANITIZE_BUILD) -j $(JOBS)
	cd $(SANITIZE_BUILD) && ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS) -E host_install

# Benchmarks against their floors (the same mathematics as plain loops, timed
# in the same run), in the Release build; ends with every figure against its
# target. Then what the Python bindings add to a batch trace, and what tracing
# on a local two-worker Dask cluster loses to tracing here.
bench: configure
	cmake --build $(BUILD) -j $(JOBS) --target lumivex_bench
	$(BUILD)/bench/lumivex_bench
	@if [ -d $(BUILD)/python/lumivex ]; then \
	  cmake --build $(BUILD) -j $(JOBS) --target lumivex_python && \
	  PYTHONPATH=$(BUILD)/python $(PYTHON) bench/python_bench.py && \
	  PYTHONPATH=$(BUILD)/python $(PYTHON) bench/dask_bench.py; \
	fi

# libFuzzer targets (clang) under ASan and UBSan, FUZZ_SECONDS each: the
# description reader, the field conversions, tracing through random systems,
# the .zmx import and .agf catalogues. The corpora grow in
# $(FUZZ_BUILD)/corpus, seeded with examples/*.txt, and the importers' with
# the lens files and catalogues in tests/data; findings are left as
# crash-*/timeout-* files in $(FUZZ_BUILD).
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_TARGETS := description field trace zmx agf
fuzz:
	cmake -S fuzz -B $(FUZZ_BUILD) -DCMAKE_CXX_COMPILER=clang++
	cmake --build $(FUZZ_BUILD) -j $(JOBS)
	@for t in $(FUZZ_TARGETS); do \
	  case $$t in zmx) seeds="tests/data/*.zmx";; agf) seeds="tests/data/*.agf";; *) seeds="examples/*.txt";; esac; \
	  mkdir -p $(FUZZ_BUILD)/corpus/$$t && cp $$seeds $(FUZZ_BUILD)/corpus/$$t/ && \
	  (cd $(FUZZ_BUILD) && ./fuzz_$$t -max_total_time=$(FUZZ_SECONDS) -timeout=30 -rss_limit_mb=2048 \
	    -print_final_stats=1 corpus/$$t) || exit 1; \
	done

# The threads test under ThreadSanitizer.
TSAN_BUILD ?= build-tsan
TSAN_FLAGS := -fsanitize=thread -fno-omit-frame-pointer
tsan: configure
	cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMIVEX_BUILD_BENCH=OFF \
	  -DLUMIVEX_BUILD_TOOLS=OFF -DLUMIVEX_BUILD_PYTHON=OFF -DCMAKE_CXX_FLAGS="$(TSAN_FLAGS)" \
	  -DCMAKE_EXE_LINKER_FLAGS="$(TSAN_FLAGS)" -DCMAKE_SHARED_LINKER_FLAGS="$(TSAN_FLAGS)"
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target test_threads
	cd $(TSAN_BUILD) && TSAN_OPTIONS=halt_on_error=1 tests/test_threads

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD) $(FUZZ_BUILD) $(TSAN_BUILD)

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i
