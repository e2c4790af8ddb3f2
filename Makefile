# make run   install what is missing, build, start the GUI
# make test  install what is missing, build (sanitizers on), run every test
.PHONY: all deps build build-debug run test bench tsan format demo clean

JOBS ?= $(shell nproc)
RELEASE_DIR := build-release
DEBUG_DIR := build
TSAN_DIR := build-tsan
CMAKE_GEN := -G Ninja -DQS_WERROR=ON

all: build

deps:
	@scripts/install-deps.sh

$(RELEASE_DIR)/build.ninja:
	cmake -S . -B $(RELEASE_DIR) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQS_BUILD_TESTS=OFF

$(DEBUG_DIR)/build.ninja:
	cmake -S . -B $(DEBUG_DIR) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DQS_SANITIZE=ON -DQS_BUILD_BENCH=OFF

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

bench: build
	@for b in $(RELEASE_DIR)/bin/bench_*; do echo "== $$b"; $$b $(BENCH_ARGS) || exit 1; done

tsan: deps $(TSAN_DIR)/build.ninja
	cmake --build $(TSAN_DIR) -j $(JOBS)
	cd $(TSAN_DIR) && ctest --output-on-failure -j $(JOBS) -L threaded

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
