# Benchmarks (bench/): `make bench` builds the program, cloud-sim and the
# benchmark programs in Release mode into build/bench-release/, runs every
# row against cloud-sim on loopback and prints the table; the CSV files, the
# table and each row's files land in build/bench/.
#
#   make bench BENCH_REPS=5                    more repetitions (default 3)
#   make bench BENCH_ROWS=import-1k,scanner    only some rows (names: kkm_bench --help)
#   make bench BENCH_BACKLOG="--backlog-shifts 20 --backlog-checks 20000"

BENCH_BUILD_DIR ?= build/bench-release
BENCH_OUT ?= build/bench
BENCH_REPS ?= 3
BENCH_ROWS ?=
BENCH_BACKLOG ?=
BENCH_JOBS ?= 2
BENCH_PACKAGES := libbenchmark-dev curl

.PHONY: bench bench-build bench-deps

bench-deps:
	$(call install-debs,$(BENCH_PACKAGES))

bench-build: deps bench-deps
	cmake -S bench -B $(BENCH_BUILD_DIR) -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
	  -DKKM_WARNINGS_AS_ERRORS=$(KKM_WERROR)
	cmake --build $(BENCH_BUILD_DIR) -j $(BENCH_JOBS)

bench: bench-build
	$(BENCH_BUILD_DIR)/kkm_bench --bin $(BENCH_BUILD_DIR) --out $(BENCH_OUT) --reps $(BENCH_REPS) \
	  $(if $(BENCH_ROWS),--rows $(BENCH_ROWS)) $(BENCH_BACKLOG)
