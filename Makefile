# The two commands of the README: `make run` and `make test`.
# Both install what is missing, configure and build first.
BUILD ?= build
SANITIZE ?=
CMAKE_FLAGS ?=
JOBS ?= $(shell nproc)

.PHONY: run test test-pipewire bench screenshots setup configure build test-tsan test-tsan-pipewire fuzz package clean

setup:
	scripts/setup.sh

# The developers' and CI's build: warnings are errors here.
configure: setup
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKALDRA_WERROR=ON -DKALDRA_SANITIZE=$(SANITIZE) $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# On the desktop's sound server when one answers, else on a private one.
# Builds the program alone: the tests wait for `make test`.
run: configure
	cmake --build $(BUILD) --target kaldra -j $(JOBS)
	scripts/run.sh $(BUILD)/app/kaldra

test: build
	scripts/sound-server.sh run -- ctest --test-dir $(BUILD) --output-on-failure

# The end-to-end tests again, on a private PipeWire server: through its pulse
# layer and through PipeWire's own API.
test-pipewire: build
	SOUND_SERVER=pipewire scripts/sound-server.sh run -- ctest --test-dir $(BUILD) -L e2e --output-on-failure

# On each private server, PulseAudio then PipeWire, side by side.
bench: build
	scripts/bench.sh $(BUILD)/bench/kaldra_bench

screenshots: build
	QT_QPA_PLATFORM=offscreen $(BUILD)/tools/screenshots/kaldra_screenshots $(BUILD)/screenshots
	@echo "screenshots in $(BUILD)/screenshots"

# The real-time tests alone, under ThreadSanitizer, in a build without Qt;
# those that need a server (e2e) on the private PulseAudio server.
test-tsan:
	$(MAKE) build BUILD=build-tsan SANITIZE=thread CMAKE_FLAGS=-DKALDRA_QT=OFF
	scripts/sound-server.sh run -- ctest --test-dir build-tsan -L realtime --output-on-failure

# The PipeWire back-end's real-time tests under ThreadSanitizer, on the private
# PipeWire server.
test-tsan-pipewire:
	$(MAKE) build BUILD=build-tsan SANITIZE=thread CMAKE_FLAGS=-DKALDRA_QT=OFF
	SOUND_SERVER=pipewire scripts/sound-server.sh run -- \
	  ctest --test-dir build-tsan -L e2e-realtime -R /PipeWire --output-on-failure

# FUZZ_SECONDS per fuzz target, in a clang build.
FUZZ_SECONDS ?= 60
fuzz:
	$(MAKE) build BUILD=build-fuzz CMAKE_FLAGS="-DKALDRA_QT=OFF -DKALDRA_FUZZ=ON -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++"
	scripts/run-fuzzers.sh build-fuzz $(FUZZ_SECONDS)

# The Debian package, from a Release build as a packager makes it (warnings
# are not errors there).
package: setup
	cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr
	cmake --build build-package --target kaldra -j $(JOBS)
	cd build-package && cpack
	@ls build-package/*.deb

clean:
	rm -rf build build-asan build-tsan build-fuzz build-package
