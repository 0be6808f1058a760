# The soak: `make soak` builds and runs SOAK_RUNS import runs (default 300)
# against cloud-sim, with documents arriving between runs and a random
# service fault in about a third of them (tests/reliability/soak_test.cpp).
# The seed is printed; `make soak SOAK_SEED=N` replays a run. A short soak
# (30 runs, seed 1) is part of `make test`.

SOAK_RUNS ?= 300
SOAK_SEED ?= $(shell date +%s)

.PHONY: soak

soak: build
	SOAK_RUNS=$(SOAK_RUNS) SOAK_SEED=$(SOAK_SEED) $(BUILD_DIR)/tests/reliability/kkm_soak_test
