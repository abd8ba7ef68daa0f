# The two commands of the README: `make run` and `make test`. `make test-sanitize` and
# `make test-tsan` run the suite under the sanitizers, each in a build folder of its own.
# Each checks for the Debian packages it needs first: run as root it installs the missing
# ones with apt-get, otherwise it prints the apt-get line to run and stops.

BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
PACKAGES := cmake make g++ qt6-base-dev qt6-base-dev-tools qt6-serialport-dev qt6-qpa-plugins libgl-dev

# Building the Debian package (make package) needs more: dpkg-shlibdeps and file.
PACKAGE_TOOLS := dpkg-dev file

.PHONY: all deps configure build run test test-sanitize test-tsan bench sim screenshot format \
	package clean

all: build

deps:
	@missing=""; \
	for p in $(PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = "0" ]; then \
	    echo "Installing:$$missing"; \
	    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $$missing; \
	  else \
	    echo "Missing packages. Run:"; \
	    echo "  sudo apt-get install -y$$missing"; \
	    exit 1; \
	  fi; \
	fi

$(BUILD_DIR)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)

configure: deps $(BUILD_DIR)/CMakeCache.txt

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	$(BUILD_DIR)/src/ziro-bldc

sim: build
	$(BUILD_DIR)/tools/ziro-bldc-sim

test: build
	cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

# The whole suite built for debugging with AddressSanitizer and UndefinedBehaviorSanitizer
# (test-sanitize) or ThreadSanitizer (test-tsan), then run; any finding fails the test it
# shows in. Tests that start processes start the sanitized builds of them.
ASAN_DIR ?= build-asan
TSAN_DIR ?= build-tsan
SANITIZER_ENV := QT_QPA_PLATFORM=offscreen QTEST_DISABLE_STACK_DUMP=1 \
	ASAN_OPTIONS=detect_leaks=1:detect_stack_use_after_return=1:strict_init_order=1 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	TSAN_OPTIONS=die_after_fork=0:ignore_noninstrumented_modules=1:halt_on_error=1:second_deadlock_stack=1:suppressions=$(CURDIR)/tests/sanitizers/tsan.supp

test-sanitize: deps
	cmake -S . -B $(ASAN_DIR) -DCMAKE_BUILD_TYPE=Debug -DZIRO_SANITIZE=address,undefined
	cmake --build $(ASAN_DIR) -j $(JOBS)
	cd $(ASAN_DIR) && $(SANITIZER_ENV) ctest --output-on-failure -j $(JOBS)

test-tsan: deps
	cmake -S . -B $(TSAN_DIR) -DCMAKE_BUILD_TYPE=Debug -DZIRO_SANITIZE=thread
	cmake --build $(TSAN_DIR) -j $(JOBS)
	cd $(TSAN_DIR) && $(SANITIZER_ENV) ctest --output-on-failure -j $(JOBS)

bench: build
	@for b in $(BUILD_DIR)/bench/bench_*; do [ -x "$$b" ] && "$$b"; done

# The Debian package of the tools: $(BUILD_DIR)/ziro-bldc_<version>_<arch>.deb.
package: PACKAGES += $(PACKAGE_TOOLS)
package: build
	cd $(BUILD_DIR) && cpack -G DEB

# The picture at the top of the README: the window at work on the simulated module.
screenshot: build
	QT_QPA_PLATFORM=offscreen $(BUILD_DIR)/tools/ziro-bldc-screenshot docs/screenshot.png >/dev/null

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD_DIR) $(ASAN_DIR) $(TSAN_DIR)
