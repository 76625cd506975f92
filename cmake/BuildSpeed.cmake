# Build speed only: nothing here changes what a program does.
#
# ORVIX32_LINKER (mold, lld or empty for the compiler's default) links every
# program and library with that linker. ORVIX32_UNITY compiles the orvix
# tool's command files as two translation units instead of one each: each
# command file otherwise compiles the whole header-only command-line parser
# and JSON library again (about 10 s of CPU per file at -O2), which made the
# tool the slowest part of every build. The scripts turn both on; a plain
# `cmake -S . -B build` leaves both off, so editing one command recompiles one
# file.
set(ORVIX32_LINKER "" CACHE STRING "Linker for every target: mold, lld, or empty for the default")
option(ORVIX32_UNITY "Compile the orvix tool's command files as two units" OFF)

if(ORVIX32_LINKER)
  add_link_options(-fuse-ld=${ORVIX32_LINKER})
endif()

# Called at the end of the top-level CMakeLists.txt, once every target exists.
function(orvix32_build_speed)
  if(ORVIX32_UNITY AND TARGET orvix_cli)
    # Two units of command files; the service's files keep one unit each
    # (they share file-local names, and the server alone is the longest).
    set(dir ${PROJECT_SOURCE_DIR}/tools/orvix)
    set_source_files_properties(${dir}/app.cpp ${dir}/common.cpp ${dir}/ports.cpp ${dir}/info.cpp
      ${dir}/mifare.cpp TARGET_DIRECTORY orvix_cli PROPERTIES UNITY_GROUP commands_a)
    set_source_files_properties(${dir}/mifare_card.cpp ${dir}/apdu.cpp ${dir}/memcard.cpp
      ${dir}/attendance.cpp ${dir}/serve.cpp TARGET_DIRECTORY orvix_cli PROPERTIES UNITY_GROUP commands_b)
    set_target_properties(orvix_cli PROPERTIES UNITY_BUILD ON UNITY_BUILD_MODE GROUP)
  endif()
endfunction()
