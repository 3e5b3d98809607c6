# Set-up, build and test on Debian 12. Every target installs what is missing.
BUILD ?= build
JOBS ?= $(shell nproc)
PACKAGES = build-essential cmake ninja-build pkg-config libgtest-dev googletest \
           libsqlite3-dev libxml2-dev libtidy-dev python3 time \
           clang llvm libclang-rt-14-dev libfuzzer-14-dev
PACKAGES += libjemalloc-dev clang-format python3-jsonschema
# The desktop's file associations for opening documents.
PACKAGES += xdg-utils
# The windowed program: Qt widgets, the SVG icon plugin (without it every icon
# is blank), the offscreen platform plugin and fonts for headless tests, and
# a virtual display for make demo.
PACKAGES += qt6-base-dev qt6-svg-dev libqt6svg6 qt6-qpa-plugins fonts-dejavu-core xvfb xauth
# The remote configuration store: libpq, and a server for its tests.
PACKAGES += libpq-dev postgresql postgresql-common
CMAKE_FLAGS ?=
# The sanitizer build (clang, AddressSanitizer + UndefinedBehaviorSanitizer)
# and the fuzz build (clang, libFuzzer); FUZZ_SECONDS per target.
SANITIZE_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_JOBS ?= $(JOBS)
FUZZERS ?= url http httpdate accesslog reg html
SANITIZE_ENV = ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1 \
               UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

.PHONY: all deps build test test-sanitize fuzz demo format format-check clean

all: build

deps:
	@missing=""; for p in $(PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'install ok installed' || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  SUDO=""; [ "$$(id -u)" -ne 0 ] && SUDO=sudo; \
	  $$SUDO apt-get update -qq && \
	  DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y -qq --no-install-recommends $$missing; \
	fi

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

test: build format-check
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The fuzz targets come along, so that CI can fuzz from this build
# (make fuzz FUZZ_BUILD=$(SANITIZE_BUILD)) instead of compiling a third time.
$(SANITIZE_BUILD)/build.ninja:
	cmake -S . -B $(SANITIZE_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DSYLVIX_SANITIZE=ON -DSYLVIX_FUZZ=ON -DSYLVIX_GUI=OFF

# Every test that needs no windows (those are labelled GUI), under the sanitizers.
test-sanitize: deps $(SANITIZE_BUILD)/build.ninja
	cmake --build $(SANITIZE_BUILD) -j $(JOBS)
	cd $(SANITIZE_BUILD) && $(SANITIZE_ENV) ctest --output-on-failure -j $(JOBS) -LE GUI

ifneq ($(FUZZ_BUILD),$(SANITIZE_BUILD))
$(FUZZ_BUILD)/build.ninja:
	cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DSYLVIX_FUZZ=ON -DSYLVIX_TESTS=OFF -DSYLVIX_GUI=OFF
endif

fuzz: deps $(FUZZ_BUILD)/build.ninja
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzzers
	bash fuzz/run.sh $(FUZZ_BUILD) $(FUZZ_SECONDS) $(FUZZ_JOBS) $(FUZZERS)

demo: build
	@bash examples/run-demo.sh $(BUILD)

FORMAT_FILES = $$(git ls-files '*.cpp' '*.h' 2>/dev/null)

format:
	clang-format -i $(FORMAT_FILES)

# Every tracked source as .clang-format has it; a file off by a blank fails.
format-check: deps
	@files="$(FORMAT_FILES)"; [ -z "$$files" ] || clang-format --dry-run --Werror $$files

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD) $(FUZZ_BUILD)
