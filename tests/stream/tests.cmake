# Tests of stream/ (none yet).
