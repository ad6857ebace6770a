# Entry points of the project. Each target installs what is missing first,
# so a fresh Debian 12 machine needs nothing but make, git and root.
BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= $(shell nproc)

.PHONY: all deps build run deb test test-asan bench clean

all: build

deps:
	@scripts/deps.sh

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS)

# The desktop program at its start-up window against the local repository
# site; without a display, or with HEADLESS=1, the harvest and download
# without a window. Neither needs the test suite.
HEADLESS ?=
run: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS) --target lumenarc lumenarc-get lumenarc-get-harvest lumenarc-testsite
	HEADLESS=$(HEADLESS) scripts/run.sh $(BUILD)

# The Debian package of the programs, checked by lintian (which fails the
# target on an error) and against the runtime packages the help window names.
deb:
	@scripts/deps.sh deb
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS) --target lumenarc lumenarc-get lumenarc-get-harvest
	rm -f $(BUILD)/lumenarc_*.deb
	cd $(BUILD) && cpack -G DEB
	lintian --info $(BUILD)/lumenarc_*.deb
	scripts/check_deb.sh $(BUILD)/lumenarc_*.deb

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

test-asan: deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DLUMEN_SANITIZE=ON
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS)

bench: build
	bench/run.sh $(BUILD)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)
