# Sourced by the build scripts, from the tree's top: where ccache is
# installed, compiles go through it, keyed on paths within the tree (and not
# on the build folder), so that a clone elsewhere finds what an earlier
# build of the same sources compiled. Sets compiler_cache to the CMake
# options that say so (none without ccache).
compiler_cache=()
if command -v ccache >/dev/null; then
  compiler_cache=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  export CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=1
fi
