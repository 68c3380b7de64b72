# make        builds both architectures
# make test   builds both architectures and runs every test under Wine
# make demo   builds and runs the demo, writing demo/out/
# make bench  builds and runs the benchmarks
# make dist   builds both architectures and packs dist/kivdraw-<version>.zip, what a user downloads,
#             and dist/kivdraw-<version>-symbols.zip, the modules' debugging symbols
ARCHS := i686 x86_64
BUILD := build
JOBS  ?= 2
MAKEFLAGS += --no-print-directory

.PHONY: all deps build dist test demo bench clean $(addprefix build-,$(ARCHS))

all: build

deps:
	@tools/install-deps.sh

build: deps $(addprefix build-,$(ARCHS))

# tools/build.sh configures each folder with Ninja and prints one line per step.
$(addprefix build-,$(ARCHS)): build-%: deps
	@tools/build.sh $(BUILD)/$* $* $(JOBS)

dist: build
	@tools/make-dist.sh $(BUILD)

# The tests check the package too: it is packed before either architecture's tests run.
test: dist
	@status=0; for a in $(ARCHS); do tools/run-tests.sh $(BUILD)/$$a $(JOBS) || status=1; done; exit $$status

# The demo needs only the 32-bit module and the demo program; run-demo.sh registers the module in
# the build folder's own Wine prefix and leaves the pictures in demo/out/.
demo: deps
	@tools/build.sh $(BUILD)/i686 i686 $(JOBS) kivdraw kiv_demo
	@tools/with-wine.sh $(BUILD)/i686 demo/run-demo.sh $(BUILD)/i686

bench: build
	@for a in $(ARCHS); do \
	    echo "== benchmark, $$a"; \
	    tools/with-wine.sh $(BUILD)/$$a $(BUILD)/$$a/wine-run $(BUILD)/$$a/bin/kiv_bench.exe || exit 1; \
	done

clean:
	rm -rf $(BUILD)
