# The usual entry points. Everything builds with two jobs (the machine has two cores).
JOBS ?= 2
BUILD ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
CMAKE_FLAGS ?=

.PHONY: all deps build test asan-test demo fuzz bench clean

all: build

deps:
	@scripts/install-deps.sh

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

test: build
	QT_QPA_PLATFORM=offscreen ctest --test-dir $(BUILD) -j $(JOBS) --output-on-failure

$(ASAN_BUILD)/build.ninja:
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DDATOVRAT_SANITIZE=ON -DDATOVRAT_BENCH=OFF $(CMAKE_FLAGS)

asan-test: deps $(ASAN_BUILD)/build.ninja
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --test-dir $(ASAN_BUILD) -j $(JOBS) --output-on-failure

demo: build
	@scripts/demo.sh $(BUILD)

$(FUZZ_BUILD)/build.ninja:
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DDATOVRAT_FUZZ=ON -DDATOVRAT_GUI=OFF -DDATOVRAT_BENCH=OFF -DDATOVRAT_TESTS=OFF

fuzz: deps $(FUZZ_BUILD)/build.ninja
	cmake --build $(FUZZ_BUILD) -j $(JOBS)

# The copy against pgdbf; the other benchmark executables are in $(BUILD)/bench/*/.
bench: build
	@bench/copy/run.sh $(BUILD)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD)
