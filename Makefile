# make run   install what is missing, build, start the GUI
# make test  install what is missing, build (sanitizers on), run every test
.PHONY: all deps build build-debug run test bench tsan format demo clean fuzz fuzz-long

JOBS ?= $(shell nproc)
RELEASE_DIR := build-release
DEBUG_DIR := build
TSAN_DIR := build-tsan
FUZZ_DIR := build-fuzz
CMAKE_GEN := -G Ninja -DQS_WERROR=ON

all: build

deps:
	@scripts/install-deps.sh

$(RELEASE_DIR)/build.ninja:
	cmake -S . -B $(RELEASE_DIR) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQS_BUILD_TESTS=OFF

$(DEBUG_DIR)/build.ninja:
	cmake -S . -B $(DEBUG_DIR) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DQS_SANITIZE=ON -DQS_BUILD_BENCH=OFF

$(FUZZ_DIR)/build.ninja:
	cmake -S . -B $(FUZZ_DIR) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQS_FUZZ=ON \
		-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
		-DQS_BUILD_TESTS=OFF -DQS_BUILD_BENCH=OFF -DQS_BUILD_GUI=OFF

$(TSAN_DIR)/build.ninja:
	cmake -S . -B $(TSAN_DIR) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DQS_TSAN=ON -DQS_BUILD_GUI=OFF -DQS_BUILD_BENCH=OFF

build: deps $(RELEASE_DIR)/build.ninja
	cmake --build $(RELEASE_DIR) -j $(JOBS)

build-debug: deps $(DEBUG_DIR)/build.ninja
	cmake --build $(DEBUG_DIR) -j $(JOBS)

run: build
	$(RELEASE_DIR)/bin/quillstream $(ARGS)

test: build-debug
	cd $(DEBUG_DIR) && ctest --output-on-failure -j $(JOBS) $(CTEST_ARGS)
	$(MAKE) fuzz

bench: build
	@for b in $(RELEASE_DIR)/bin/bench_*; do echo "== $$b"; $$b $(BENCH_ARGS) || exit 1; done

tsan: deps $(TSAN_DIR)/build.ninja
	cmake --build $(TSAN_DIR) -j $(JOBS)
	cd $(TSAN_DIR) && ctest --output-on-failure -j $(JOBS) -L threaded

# make fuzz       build the libFuzzer targets (clang, ASan, UBSan) and run each FUZZ_SECONDS,
#                 two at a time; fails on any finding (crashes land in build-fuzz/fuzz-artifacts)
# make fuzz-long  the same for longer (FUZZ_SECONDS default 600)
FUZZ_TARGETS ?= par2_output follow_up nntp_reply decoders compress_capabilities nzb_import \
	archive_names overview_scan settings_file group_list part_runs

fuzz: FUZZ_SECONDS ?= 30
fuzz: deps $(FUZZ_DIR)/build.ninja
	cmake --build $(FUZZ_DIR) -j $(JOBS) --target fuzz_targets
	fuzz/run.sh $(FUZZ_DIR) $(FUZZ_SECONDS) $(FUZZ_TARGETS)

fuzz-long: FUZZ_SECONDS ?= 600
fuzz-long: fuzz

# make demo  serve a generated corpus on loopback and show scan -> grab -> files against it
demo: build
	@scripts/demo.sh $(RELEASE_DIR)/bin

format:
	find src tests tools bench -name '*.cpp' -o -name '*.h' | xargs clang-format -i

clean:
	rm -rf $(RELEASE_DIR) $(DEBUG_DIR) $(TSAN_DIR)

# make install  build the release configuration and install it under PREFIX (default /usr/local)
PREFIX ?= /usr/local
.PHONY: install
install: build
	cmake --install $(RELEASE_DIR) --prefix "$(PREFIX)"
