# Tests of convert/ (none yet).
