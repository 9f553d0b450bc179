# Set-up, build, run and test on Debian 12. Every Debian package the build and the tests need is
# installed here when missing (through sudo when not root).

BUILD ?= build
JOBS ?= $(shell nproc)

BUILD_PACKAGES = cmake make g++ qt6-base-dev qt6-base-dev-tools qt6-serialport-dev \
                 qt6-qpa-plugins fonts-liberation
# systemd: systemd-analyze checks the capture station's unit; xfwm4 and its settings service
# (xfconf, D-Bus) are the window manager the desktop cases run under; picocom (which locks with
# flock) and minicom (which locks with lock files named after the name it is given) are the other
# serial programs the port's locking is tried against. at-spi2-core (the accessibility bus and its
# registry) and python3-pyatspi are the screen reader's side of the accessibility case; xclip is
# the other program that pastes what the reading area copied, in make bench. man-db renders the
# manual pages, and bash-completion loads the programs' completions, in the package check. icewm
# is the other window manager a full-screen request is undone under.
TEST_PACKAGES = xvfb xauth xdotool x11-utils cups cups-client cups-bsd printer-driver-cups-pdf \
                poppler-utils imagemagick desktop-file-utils groff-base systemd \
                xfwm4 xfconf dbus-daemon dbus-bin wmctrl picocom minicom \
                at-spi2-core python3-pyatspi xclip man-db bash-completion icewm orca
# dpkg-shlibdeps (dpkg-dev) finds the package's dependencies; CPack looks at binaries with file.
# The package check runs lintian, hardening-check (devscripts) and appstreamcli (appstream).
PACKAGE_PACKAGES = dpkg-dev file lintian devscripts appstream
# The Windows program: the MinGW-w64 cross compiler, ninja for Qt's CMake, Wine to run the build's
# programs and tests, NSIS for the installer.
WINDOWS_PACKAGES = g++-mingw-w64-x86-64-posix ninja-build wine wine64 nsis xz-utils

# make bench's start-up and load figures: callgrind counts the instructions, glogg opens the same
# 1 GiB reading file (xvfb and xdotool come with the test packages).
BENCH_PACKAGES = valgrind glogg

# Where make install puts the program (sudo is used when that place is not writable).
PREFIX ?= /usr/local

SUDO = $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: all deps test-deps build run test sanitize windows windows-test demo bench install \
        package package-check screenshot clean

all: build

define install_missing
	@missing=$$(for p in $(1); do \
	  dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q '^install ok installed' || echo $$p; \
	done); \
	if [ -n "$$missing" ]; then \
	  echo "Installing: $$missing"; \
	  $(SUDO) apt-get update && \
	  $(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y --no-install-recommends $$missing; \
	fi
endef

deps:
	$(call install_missing,$(BUILD_PACKAGES))

test-deps: deps
	$(call install_missing,$(TEST_PACKAGES))

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS)

# Starts the program in the current folder, where it keeps tvx.cfg.
run: build
	./$(BUILD)/src/tarvix

# Every suite, then the Debian package as a packager and a user meet it (package-check).
test: test-deps build
	$(SUDO) bash tests/print/cups-setup.sh || echo "No CUPS: tst_printer_cups will tell."
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)
	$(MAKE) package-check

# The program and the unit and window suites built with AddressSanitizer and
# UndefinedBehaviorSanitizer in a build folder of their own, then run; any finding fails the
# run. The end-to-end, CUPS and install cases are left to make test.
SANITIZE_BUILD ?= build-sanitize
SANITIZE_FLAGS = -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer
SANITIZE_SKIP = ^(e2e_.*|install_layout|tst_printer_cups)$$

sanitize: test-deps
	cmake -S . -B $(SANITIZE_BUILD) -DCMAKE_BUILD_TYPE=Debug \
	  -DCMAKE_CXX_FLAGS="$(SANITIZE_FLAGS)" -DCMAKE_EXE_LINKER_FLAGS="$(SANITIZE_FLAGS)"
	cmake --build $(SANITIZE_BUILD) -j $(JOBS)
	ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:strict_string_checks=1 \
	UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
	  ctest --test-dir $(SANITIZE_BUILD) --output-on-failure -j $(JOBS) -E '$(SANITIZE_SKIP)'

# The Windows program, cross-built with Qt for Windows (../shared/windows/, or QT_WINDOWS=<prefix>)
# in $(WINDOWS_BUILD)/: tarvix.exe, tarvix-capture.exe and the test suites, the folder a user
# runs ($(WINDOWS_BUILD)/tarvix-1.0/) and the installer ($(WINDOWS_BUILD)/tarvix-setup-1.0.exe).
WINDOWS_BUILD ?= build-windows

windows: deps
	$(call install_missing,$(WINDOWS_PACKAGES))
	JOBS=$(JOBS) tools/windows/build.sh $(WINDOWS_BUILD)

# The Windows suites, the capture end to end and the installer under Wine, in a fresh Wine
# prefix; the programs' windows on an X server of their own (Xvfb, xdotool). The Linux build's
# tarvix-sim plays the instrument; Python runs the suites' pseudo-terminals, and gcc builds the
# fixture that lets Wine take one for a COM port.
windows-test: windows
	$(call install_missing,xvfb xauth xdotool python3 gcc libc6-dev)
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	cmake --build $(BUILD) -j $(JOBS) --target tarvix-sim
	TVX_SIM=$(BUILD)/tools/sim/tarvix-sim JOBS=$(JOBS) tests/windows/run-under-wine.sh $(WINDOWS_BUILD)

# The program, tarvix-capture and its manual page, tarvix-sim, the desktop entry and the icons
# under $(PREFIX); DESTDIR is honoured.
install: build
	@place="$(DESTDIR)$(PREFIX)"; while [ ! -e "$$place" ]; do place=$$(dirname "$$place"); done; \
	  if [ -w "$$place" ]; then sudo=; else sudo="$(SUDO)"; fi; \
	  $$sudo env DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)"

# The Debian package, $(BUILD)/tarvix_<version>_<arch>.deb: sudo apt install ./$(BUILD)/tarvix_*.deb
package: build
	$(call install_missing,$(PACKAGE_PACKAGES))
	cd $(BUILD) && cpack -G DEB

# The package just made, checked by tools/check-deb.sh: lintian, hardening-check, the metadata's
# and the desktop entry's validators, the manual pages, the completions, then installed, run and
# removed again (as root: through sudo when not root). tarvix must not be installed already.
package-check: test-deps package
	$(SUDO) tools/check-deb.sh "$$(ls -t $(BUILD)/tarvix_*.deb | head -n 1)"

# Remakes the README's pictures: the main window after a capture, the port selection window
# with a port's tooltip.
screenshot: test-deps build
	tools/screenshot.sh $(BUILD) docs/screenshot.png docs/port-selection.png

# A capture within seconds, with the instrument simulator on a pseudo-terminal.
demo: build
	tools/demo/demo.sh $(BUILD)

# The capture's speed and responsiveness figures, the reading area's with large files beside the
# toolkit's text box, and the start-up and a 1 GiB file's load beside a bare window and glogg,
# under an X server of their own (reported in docs/development.md).
bench: test-deps build
	$(call install_missing,$(BENCH_PACKAGES))
	./$(BUILD)/bench/capture_bench
	xvfb-run -a -s "-screen 0 1280x1024x24" ./$(BUILD)/bench/view_bench
	xvfb-run -a -s "-screen 0 1280x1024x24" bench/floor_bench.sh $(BUILD)

clean:
	rm -rf $(BUILD) $(WINDOWS_BUILD)
