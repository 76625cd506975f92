# Build speed only: nothing here changes what a program does.
#
# ORVIX32_LINKER (mold, lld or empty for the compiler's default) links every
# program and library with that linker. ORVIX32_UNITY compiles the orvix
# tool's commands as two translation units instead of one per command: each
# command file otherwise compiles the whole header-only command-line parser
# and JSON library again (about 10 s of CPU per file at -O2), which made the
# tool the slowest part of every build. The scripts turn both on; a plain
# `cmake -S . -B build` leaves both off, so editing one command recompiles one
# file.
set(ORVIX32_LINKER "" CACHE STRING "Linker for every target: mold, lld, or empty for the default")
option(ORVIX32_UNITY "Compile the orvix tool's commands as two units" OFF)

if(ORVIX32_LINKER)
  add_link_options(-fuse-ld=${ORVIX32_LINKER})
endif()

# Called at the end of the top-level CMakeLists.txt, once every target exists.
function(orvix32_build_speed)
  if(ORVIX32_UNITY AND TARGET orvix_cli)
    get_target_property(sources orvix_cli SOURCES)
    list(LENGTH sources count)
    math(EXPR half "(${count} + 1) / 2")
    set_target_properties(orvix_cli PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE ${half})
  endif()
endfunction()
