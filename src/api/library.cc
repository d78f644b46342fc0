// The shared library's own translation unit; everything else comes from
// kestrum_core, linked in whole.
