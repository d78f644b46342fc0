# Tests of platform/ (none yet).
