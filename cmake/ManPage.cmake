# orvix32_man_page(TARGET NAME_TEXT [INCLUDE_SCRIPT script] [HELP2MAN_ARGS args…])
# Makes TARGET's section-1 manual page from its own --help text with
# help2man, compressed as installed manual pages are, and installs it with the
# tools. INCLUDE_SCRIPT, run with the program's path, writes a help2man
# include file (extra sections). Not made in sanitizer or cross builds, where
# the program cannot simply be run at build time, nor without help2man.
find_program(HELP2MAN help2man)
find_program(GZIP gzip)

function(orvix32_man_page target name_text)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "INCLUDE_SCRIPT" "HELP2MAN_ARGS")
  if(NOT HELP2MAN OR NOT GZIP OR CMAKE_CROSSCOMPILING OR ORVIX32_SANITIZE)
    message(STATUS "${target}: its manual page is not built (no help2man, or a sanitizer or cross build)")
    return()
  endif()
  set(man ${CMAKE_CURRENT_BINARY_DIR}/${target}.1)
  set(include_cmd "")
  set(include_args "")
  if(arg_INCLUDE_SCRIPT)
    set(extra ${CMAKE_CURRENT_BINARY_DIR}/${target}-extra.h2m)
    set(include_cmd COMMAND sh ${arg_INCLUDE_SCRIPT} $<TARGET_FILE:${target}> > ${extra})
    set(include_args --include ${extra})
  endif()
  # The trace is off while help2man runs the program.
  add_custom_command(OUTPUT ${man}.gz
    ${include_cmd}
    COMMAND ${CMAKE_COMMAND} -E env ORVIX32_TRACE=
            ${HELP2MAN} --no-info --section=1 "--name=${name_text}"
            --version-string=${PROJECT_VERSION} ${arg_HELP2MAN_ARGS} ${include_args}
            --output=${man} $<TARGET_FILE:${target}>
    COMMAND ${GZIP} -9nf ${man}
    DEPENDS ${target} ${arg_INCLUDE_SCRIPT})
  add_custom_target(${target}_man ALL DEPENDS ${man}.gz)
  install(FILES ${man}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools)
endfunction()
