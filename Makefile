# Set-up, build, run and test on Debian 12. Missing packages are installed
# with apt-get (as root, or through sudo).
BUILD ?= build
JOBS ?= 2
PACKAGES := cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev libbenchmark-dev \
  libjpeg62-turbo-dev libblkid-dev libcli11-dev libssl-dev qt6-base-dev qt6-base-dev-tools \
  dosfstools mtools ntfs-3g exfatprogs exfat-fuse attr xz-utils fdisk gdisk xvfb imagemagick \
  libfuse3-dev fuse3 dbus python3-dbusmock \
  libewf-dev libvhdi-dev libvmdk-dev libqcow-dev ewf-tools qemu-utils sleuthkit \
  librsvg2-bin desktop-file-utils appstream shared-mime-info man-db groff-base bash-completion dpkg-dev file
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: all deps configure build run test lint install uninstall deb sanitize fuzz bench clean

all: build

deps:
	@missing=$$(for p in $(PACKAGES); do dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q 'ok installed' || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	  echo "installing:" $$missing; \
	  $(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get update -qq && \
	  $(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $$missing; \
	fi

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja

configure: deps $(BUILD)/build.ninja

build: configure
	cmake --build $(BUILD) -j $(JOBS)

$(BUILD)/demo.img: samples/demo.img.xz
	xz -dc $< >$@

# The desktop program when there is a display, the command line otherwise.
run: build $(BUILD)/demo.img
	@if [ -n "$$DISPLAY$$WAYLAND_DISPLAY" ] && [ -x $(BUILD)/mirel-gui ]; then \
	  $(BUILD)/mirel-gui $(BUILD)/demo.img; \
	else \
	  $(BUILD)/mirel list $(BUILD)/demo.img && $(BUILD)/mirel scan $(BUILD)/demo.img; \
	fi

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# Installs into $(DESTDIR)$(PREFIX), as `sudo make install` is expected to.
# Installed for real (no DESTDIR), the desktop's caches learn of the new MIME
# types, desktop entry and icon, as the package's triggers do for /usr.
PREFIX ?= /usr/local
REFRESH_DESKTOP_CACHES = if [ -z "$(DESTDIR)" ] && [ -d "$(PREFIX)/share/mime/packages" ]; then \
	  ! command -v update-mime-database >/dev/null || update-mime-database "$(PREFIX)/share/mime"; \
	  ! command -v update-desktop-database >/dev/null || update-desktop-database -q "$(PREFIX)/share/applications"; \
	  ! command -v gtk-update-icon-cache >/dev/null || gtk-update-icon-cache -q -t "$(PREFIX)/share/icons/hicolor"; \
	fi
# The checks in .clang-tidy over every source of src/ and the headers they
# include from there (Qt's generated moc files lie in $(BUILD), so they are
# left out); any finding fails. The counts of warnings suppressed in other
# headers that clang-tidy prints for every file are dropped from the output.
LINT_SRC := ^$(CURDIR)/src/
lint: PACKAGES += clang-tidy
lint: build
	@log=$(BUILD)/clang-tidy.log; start=$$(date +%s); \
	run-clang-tidy -p $(BUILD) -quiet -j $(JOBS) -header-filter='$(LINT_SRC)' '$(LINT_SRC)' >$$log.raw 2>&1; status=$$?; \
	sed 's/\x1b\[[0-9;]*m//g' $$log.raw >$$log; rm -f $$log.raw; \
	grep -v -E '^[0-9]+ (warnings?|errors?)( and [0-9]+ errors?)? generated\.$$|^Suppressed [0-9]+ warnings|^Use -header-filter|^clang-tidy-[0-9]+ ' $$log; \
	files=$$(grep -c '^clang-tidy-[0-9]* ' $$log); \
	findings=$$(grep -E '^/[^ ]+:[0-9]+:[0-9]+: (warning|error): ' $$log | sort -u | wc -l); \
	echo "lint: $$findings findings in $$files files of src/ ($$(( $$(date +%s) - start )) s)"; \
	[ $$status -eq 0 ] && [ $$findings -eq 0 ] && [ $$files -gt 0 ]

install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)"
	@$(REFRESH_DESKTOP_CACHES)

# Removes what the last install put there (give the same DESTDIR).
uninstall:
	@test -f $(BUILD)/install_manifest.txt || { echo "nothing installed from $(BUILD)"; exit 1; }
	sed 's|^|$(DESTDIR)|' $(BUILD)/install_manifest.txt | xargs -d '\n' rm -f --
	@$(REFRESH_DESKTOP_CACHES)

# The Debian package, and what lintian says of it (any error fails).
deb: PACKAGES += lintian
deb: build
	cd $(BUILD) && cpack -G DEB
	@deb=$$(ls -t $(BUILD)/mirel_*.deb | head -n 1); \
	lintian --display-info --fail-on error "$$deb" >$(BUILD)/lintian.txt; status=$$?; \
	cat $(BUILD)/lintian.txt; \
	echo "lintian $$deb: $$(grep -c '^E:' $(BUILD)/lintian.txt) errors," \
	  "$$(grep -c '^W:' $(BUILD)/lintian.txt) warnings, $$(grep -c '^I:' $(BUILD)/lintian.txt) notes"; \
	exit $$status

# The engine and its tests under AddressSanitizer and UndefinedBehaviorSanitizer.
sanitize: deps
	cmake -S . -B $(BUILD)-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DMIREL_SANITIZE=ON -DMIREL_BENCH=OFF -DMIREL_GUI=OFF
	cmake --build $(BUILD)-sanitize -j $(JOBS)
	cd $(BUILD)-sanitize && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp \
	  ctest --output-on-failure -j $(JOBS)

# libFuzzer targets (clang), each run FUZZ_SECONDS over seeds cut from the
# test images. Not part of CI.
FUZZ_SECONDS ?= 20
fuzz: PACKAGES += clang libclang-rt-14-dev
fuzz: deps
	cmake -S . -B $(BUILD)-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DMIREL_FUZZ=ON -DMIREL_TESTS=OFF -DMIREL_BENCH=OFF
	cmake --build $(BUILD)-fuzz -j $(JOBS)
	bash fuzz/run-fuzzers.sh $(BUILD)-fuzz $(FUZZ_SECONDS)

# The in-process benchmarks, then mirel side by side with other tools on large
# FAT32 and NTFS images (made once in MIREL_BENCH_CACHE, default
# /tmp/mirel-bench). compare-tools.sh runs metadata_read and gui_scan_bench
# itself; gui_recover_bench needs an image and runs from gui-recover-ntfs.sh.
# Not part of CI.
bench: PACKAGES += sleuthkit strace time
bench: build $(BUILD)/demo.img
	@for b in $(BUILD)/bench/*; do \
	  case "$${b##*/}" in metadata_read|gui_scan_bench|gui_recover_bench) continue ;; esac; \
	  if [ -f "$$b" ] && [ -x "$$b" ]; then "$$b" || exit 1; fi; \
	done
	bash bench/compare-tools.sh $(BUILD)

clean:
	rm -rf $(BUILD) $(BUILD)-sanitize $(BUILD)-fuzz
