# make        builds every configuration of CMakePresets.json
# make test   builds them, packs the release, and runs the whole suite in each, under Wine
# make demo   builds and runs the demo with the 32-bit release module, writing demo/out/
# make bench  builds the release modules and runs the benchmark on both architectures
# make coverage  builds the configuration that counts the lines that run (i686-coverage), runs its
#             suite and prints the line coverage of src/, folder by folder; not part of make test
# make dist   packs dist/kivdraw-<version>.zip, what a user downloads,
#             dist/kivdraw-<version>-symbols.zip, the release modules' PDB files, and the Windows
#             Installer packages dist/kivdraw-<version>-{x86,x64}[-peruser].msi; with
#             SIGN_PFX=cert.pfx SIGN_PASSWORD=... (here or in the environment) it signs the modules
#             and the packages
#
# Each configuration is a preset: both compilers on both architectures, and a checked one. The release
# modules are the clang builds', the ones with PDB symbols.
PRESETS := i686-gcc x86_64-gcc i686-clang x86_64-clang i686-checked
RELEASE := i686-clang x86_64-clang
COVERAGE := i686-coverage
BUILD   := build
MAKEFLAGS += --no-print-directory

.PHONY: all deps build dist test demo bench coverage clean $(addprefix build-,$(PRESETS) $(COVERAGE)) \
        $(addprefix test-,$(PRESETS))

all: build

deps:
	@tools/install-deps.sh

build: $(addprefix build-,$(PRESETS))

# A folder is configured once (build.ninja is what a configuration that went through leaves); after
# that Ninja runs CMake again by itself when a CMake file changes, and make when a preset does.
$(BUILD)/%/build.ninja: CMakePresets.json | deps
	@cmake --preset $* --log-level=WARNING >/dev/null

# The build runs Windows programs (the type library's rewrite), so it runs in the folder's Wine prefix.
$(addprefix build-,$(PRESETS) $(COVERAGE)): build-%: $(BUILD)/%/build.ninja
	@echo "-- build $*"
	@tools/with-wine.sh $(BUILD)/$* cmake --build --preset $*

dist: $(addprefix build-,$(RELEASE))
	@tools/make-dist.sh $(BUILD)

# The tests check the package too: it is packed before any configuration's tests run.
test: build dist
	@status=0; for p in $(PRESETS); do $(MAKE) test-$$p || status=1; done; exit $$status

$(addprefix test-,$(PRESETS)): test-%:
	@tools/run-tests.sh $*

# The demo needs only the 32-bit module and the demo program; run-demo.sh registers the module in
# the build folder's own Wine prefix and leaves the pictures in demo/out/.
demo: $(BUILD)/i686-clang/build.ninja
	@echo "-- build i686-clang: the module and the demo"
	@tools/with-wine.sh $(BUILD)/i686-clang cmake --build --preset i686-clang --target kivdraw kiv_demo
	@tools/with-wine.sh $(BUILD)/i686-clang demo/run-demo.sh $(BUILD)/i686-clang

bench: $(addprefix build-,$(RELEASE))
	@for p in $(RELEASE); do \
	    echo "== benchmark, $$p"; \
	    tools/with-wine.sh $(BUILD)/$$p $(BUILD)/$$p/wine-run $(BUILD)/$$p/bin/kiv_bench.exe || exit 1; \
	done

coverage: build-$(COVERAGE)
	@tools/coverage.sh $(COVERAGE)

clean:
	rm -rf $(BUILD)
