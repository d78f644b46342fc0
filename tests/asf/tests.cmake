# Tests of asf/ (none yet).
