# Front door: `make test` on a fresh machine installs what is missing,
# builds and runs every test.

# The project's folder, wherever make is started from.
KKM_ROOT := $(patsubst %/,%,$(dir $(abspath $(firstword $(MAKEFILE_LIST)))))

BUILD_DIR ?= build
ASAN_DIR ?= build-asan
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
# ON turns compiler warnings into errors (CI does; a user's newer compiler
# may warn where ours does not).
KKM_WERROR ?= OFF

# Debian packages the build, the tests and the demo need.
DEB_PACKAGES := cmake g++ make pkg-config libcurl4-openssl-dev libtinyxml2-dev libgtest-dev \
                libcpp-httplib-dev nlohmann-json3-dev libssl-dev libxml2-dev libxml2-utils curl openssl

# Further targets (benchmarks, fuzzing, the soak, the Windows build) live in
# mk/*.mk; each installs what only it needs with install-debs.

.PHONY: all deps build test sanitize clean demo

all: build

# $(call install-debs,PACKAGES): installs the packages that are missing (as
# root, through apt-get), or prints the exact apt-get line and fails; an index
# that fails to update is named and the install goes on (mk/apt-steps.sh).
define install-debs
@bash $(KKM_ROOT)/mk/need-packages.sh $(1)
endef

deps:
	$(call install-debs,$(DEB_PACKAGES))

.DEFAULT_GOAL := build
-include mk/*.mk

build: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=Debug -DKKM_WARNINGS_AS_ERRORS=$(KKM_WERROR)
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

sanitize: deps
	cmake -S . -B $(ASAN_DIR) -DCMAKE_BUILD_TYPE=Debug -DKKM_SANITIZE=ON -DKKM_WARNINGS_AS_ERRORS=$(KKM_WERROR)
	cmake --build $(ASAN_DIR) -j $(JOBS)
	cd $(ASAN_DIR) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD_DIR) $(ASAN_DIR)

demo: build
	BUILD_DIR=$(abspath $(BUILD_DIR)) bash demo/run-demo.sh
