# make run   - install what is missing, build, start kelmora
# make test  - the same set-up, then every test (under a virtual X display when none is present)

BUILD ?= build
MESON_TEST_ARGS ?= --print-errorlogs

.PHONY: all build run test bench screenshots deps-build deps-test clean

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

# Release build; the benchmarks run in a private D-Bus session like a desktop's.
bench: deps-test
	@[ -f $(BENCH_BUILD)/build.ninja ] || meson setup $(BENCH_BUILD) --buildtype=release
	ninja -C $(BENCH_BUILD) src/kelmora bench/kelmora-bench bench/gen-lines bench/minimal-window
	@$(call WITH_DISPLAY,dbus-run-session -- ./$(BENCH_BUILD)/bench/kelmora-bench $(BENCH_BUILD)/bench \
		$(BENCH_BUILD)/src/kelmora $(BENCH_BUILD)/bench/minimal-window) 2>&1 | grep -v -E '^(dbus-daemon|SpiRegistry)'

clean:
	rm -rf $(BUILD) $(BENCH_BUILD)
