# Tests of e2e/ (none yet).
