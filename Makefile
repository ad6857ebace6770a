# Entry points of the project. Each target installs what is missing first,
# so a fresh Debian 12 machine needs nothing but make, git and root.
BUILD      ?= build
ASAN_BUILD ?= build-asan
# The package is built on its own, hardened and reproducible (LUMEN_RELEASE).
DEB_BUILD  ?= build-deb
JOBS       ?= $(shell nproc)
# Passed to every configure, e.g. CMAKE_FLAGS=-DCMAKE_CXX_COMPILER_LAUNCHER=ccache
CMAKE_FLAGS ?=
# The package's maintainer, named by its control file, change log and
# copyright file.
LUMEN_MAINTAINER ?= Lumenarc developers <developers@lumenarc.org>

.PHONY: all deps build run deb check-install test test-asan bench clean

all: build

deps:
	@scripts/deps.sh

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)

# The desktop program at its start-up window against the local repository
# site; without a display, or with HEADLESS=1, the harvest and download
# without a window. Neither needs the test suite.
HEADLESS ?=
run: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS) --target lumenarc lumenarc-get lumenarc-get-harvest lumenarc-testsite
	HEADLESS=$(HEADLESS) scripts/run.sh $(BUILD)

# The Debian package of the programs, checked by scripts/check_deb.sh
# (lintian, the metainfo, the desktop entry, the dependencies). The time of
# the last commit stands for "now" in all it records, so two runs on one
# commit give the same bytes.
deb: export SOURCE_DATE_EPOCH := $(shell git log -1 --format=%ct 2>/dev/null || date -r CMakeLists.txt +%s)
deb:
	@scripts/deps.sh deb
	cmake -S . -B $(DEB_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMEN_RELEASE=ON \
	  -DLUMEN_MAINTAINER="$(LUMEN_MAINTAINER)" $(CMAKE_FLAGS)
	cmake --build $(DEB_BUILD) -j $(JOBS) --target lumenarc lumenarc-get lumenarc-get-harvest
	rm -f $(DEB_BUILD)/lumenarc_*.deb
	cd $(DEB_BUILD) && cpack -G DEB
	scripts/check_deb.sh $(DEB_BUILD)/lumenarc_*.deb

# The package installed into a clean Debian 12 root with only its declared
# dependencies, and the start-up window photographed there
# (docs/screenshots/clean-install-*.png). Downloads the root's packages once.
check-install: deb
	@scripts/deps.sh install
	scripts/check_install.sh $(DEB_BUILD)/lumenarc_*.deb $(DEB_BUILD)/check-install

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

test-asan: deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DLUMEN_SANITIZE=ON $(CMAKE_FLAGS)
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS)

bench: build
	bench/run.sh $(BUILD)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(DEB_BUILD)
