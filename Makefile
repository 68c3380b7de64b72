# make test   builds both architectures and runs every test under Wine
# make demo   builds and runs the demo, writing demo/out/
# make bench  builds and runs the benchmarks
# make dist   builds both architectures and packs dist/kivdraw-<version>.zip, what a user downloads
ARCHS := i686 x86_64
BUILD := build
JOBS  ?= 2

.PHONY: all deps build dist test demo bench clean $(addprefix build-,$(ARCHS)) $(addprefix test-,$(ARCHS))

all: build

deps:
	@tools/install-deps.sh

build: deps $(addprefix build-,$(ARCHS))

$(addprefix build-,$(ARCHS)): build-%: deps
	@cmake -S . -B $(BUILD)/$* -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-$*.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
	@tools/with-wine.sh $(BUILD)/$* cmake --build $(BUILD)/$* -j $(JOBS)

dist: build
	@tools/make-dist.sh $(BUILD)

# The tests check the package too: it is packed before either architecture's tests run.
test: dist
	@status=0; for a in $(ARCHS); do \
	    echo "== tests, $$a"; \
	    tools/with-wine.sh $(BUILD)/$$a ctest --test-dir $(BUILD)/$$a --output-on-failure -j $(JOBS) || status=1; \
	done; exit $$status

# The demo needs only the 32-bit module and the demo program; run-demo.sh registers the module in
# the build folder's own Wine prefix and leaves the pictures in demo/out/.
demo: deps
	@cmake -S . -B $(BUILD)/i686 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
	@cmake --build $(BUILD)/i686 -j $(JOBS) --target kivdraw kiv_demo
	@tools/with-wine.sh $(BUILD)/i686 demo/run-demo.sh $(BUILD)/i686

bench: build
	@for a in $(ARCHS); do \
	    echo "== benchmark, $$a"; \
	    tools/with-wine.sh $(BUILD)/$$a $(BUILD)/$$a/wine-run $(BUILD)/$$a/bin/kiv_bench.exe || exit 1; \
	done

clean:
	rm -rf $(BUILD)
