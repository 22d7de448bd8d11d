# Run by cpack after the programs are installed (stripped) into its
# staging folder and before the package is made: removes the .comment and
# .note sections the compiler and the C start-up files leave in a program,
# as Debian's own packaging does (lintian: binary-has-unneeded-section).
find_program(CLINIC_OBJCOPY objcopy REQUIRED)
file(GLOB_RECURSE programs LIST_DIRECTORIES false "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/bin/*")
foreach(program IN LISTS programs)
  execute_process(COMMAND ${CLINIC_OBJCOPY} --remove-section=.comment --remove-section=.note "${program}"
                  RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "objcopy could not remove the notes of ${program}")
  endif()
endforeach()
