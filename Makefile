# make run   - install what is missing, build, start kelmora
# make test  - the same set-up, then every test (under a virtual X display when none is present)

BUILD ?= build
MESON_TEST_ARGS ?= --print-errorlogs

.PHONY: all build run test sanitize fuzz bench screenshots deps-build deps-test deps-fuzz clean

BENCH_BUILD ?= build-release

all: build

deps-build:
	@./tools/install-deps build

deps-test:
	@./tools/install-deps test

$(BUILD)/build.ninja:
	meson setup $(BUILD)

build: deps-build $(BUILD)/build.ninja
	ninja -C $(BUILD)

run: build
	./$(BUILD)/src/kelmora

# Runs a command under a virtual X display when there is no display.
WITH_DISPLAY = if [ -n "$${DISPLAY:-}" ]; then $(1); else xvfb-run -a -s "-screen 0 1280x1024x24" $(1); fi

test: deps-test build
	@$(call WITH_DISPLAY,meson test -C $(BUILD) $(MESON_TEST_ARGS))

# Renders the README screenshots into docs/screenshots/ (a temporary HOME, so
# your own language choice is left alone).
screenshots: deps-test build
	@home=$$(mktemp -d) && trap 'rm -rf "$$home"' EXIT && \
	$(call WITH_DISPLAY,env HOME="$$home" LANG=C.UTF-8 ./$(BUILD)/tests/kelmora-screenshots docs/screenshots)

# The suite under AddressSanitizer + UndefinedBehaviorSanitizer (leak checking
# on), then the channel, runner and discovery tests under ThreadSanitizer.
SAN_ENV = ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1 \
	LSAN_OPTIONS=suppressions=$(CURDIR)/tests/sanitizers/lsan.supp:print_suppressions=0 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1

sanitize: deps-test
	@[ -f build-asan/build.ninja ] || meson setup build-asan --buildtype=debug -Db_sanitize=address,undefined -Db_lundef=false
	ninja -C build-asan tests/unit-tests tests/process-tests tests/gui-tests
	@$(call WITH_DISPLAY,env $(SAN_ENV) meson test -C build-asan --no-rebuild $(MESON_TEST_ARGS) unit process gui)
	@[ -f build-tsan/build.ninja ] || meson setup build-tsan --buildtype=debug -Db_sanitize=thread -Db_lundef=false
	ninja -C build-tsan tests/unit-tests tests/process-tests
	env $(SAN_ENV) meson test -C build-tsan --no-rebuild $(MESON_TEST_ARGS) unit process

# Release build; the benchmarks run in a private D-Bus session like a desktop's.
bench: deps-test
	@[ -f $(BENCH_BUILD)/build.ninja ] || meson setup $(BENCH_BUILD) --buildtype=release
	ninja -C $(BENCH_BUILD) src/kelmora bench/kelmora-bench bench/gen-lines bench/minimal-window
	@$(call WITH_DISPLAY,dbus-run-session -- ./$(BENCH_BUILD)/bench/kelmora-bench $(BENCH_BUILD)/bench \
		$(BENCH_BUILD)/src/kelmora $(BENCH_BUILD)/bench/minimal-window) 2>&1 | grep -v -E '^(dbus-daemon|SpiRegistry)'

clean:
	rm -rf $(BUILD) $(BENCH_BUILD) build-asan build-tsan build-fuzz
