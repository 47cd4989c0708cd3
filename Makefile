# make run   - install what is missing, build, start kelmora
# make test  - the same set-up, then every test (under a virtual X display when none is present)

BUILD ?= build
MESON_TEST_ARGS ?= --print-errorlogs

.PHONY: all build run test screenshots deps-build deps-test clean

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

clean:
	rm -rf $(BUILD)
