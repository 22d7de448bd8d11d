# The window descriptions (forms/windows/*.win) become the embedded
# template block and the identifier header at build time. formgen is a
# host program without Qt: the block reader and writer and the GBK edge.

set(FORMS_WINDOWS_DIR ${CMAKE_CURRENT_SOURCE_DIR}/windows)
# Loading-table order: the window ids 0x52010001 ... follow this list.
set(FORMS_WINDOW_FILES
  start.win
  login.win
  drug.win
  inpatient.win
  medication.win
  outpatient.win
  report.win
  printrange.win
  about.win
)
set(FORMS_WINDOW_PICTURES background.gif icon.ico)

add_executable(formgen
  ${PROJECT_SOURCE_DIR}/tools/formgen.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/template.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/model.cpp)
target_link_libraries(formgen PRIVATE runtime)

set(FORMS_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated/forms)
file(MAKE_DIRECTORY ${FORMS_GENERATED_DIR})
set(FORMS_BLOCK_CPP ${FORMS_GENERATED_DIR}/template_block.cpp)
set(FORMS_IDS_HEADER ${FORMS_GENERATED_DIR}/window_ids.h)

set(_forms_window_deps)
foreach(f IN LISTS FORMS_WINDOW_FILES FORMS_WINDOW_PICTURES)
  list(APPEND _forms_window_deps ${FORMS_WINDOWS_DIR}/${f})
endforeach()

add_custom_command(
  OUTPUT ${FORMS_BLOCK_CPP} ${FORMS_IDS_HEADER}
  COMMAND formgen --dir ${FORMS_WINDOWS_DIR} --cpp ${FORMS_BLOCK_CPP}
          --header ${FORMS_IDS_HEADER} ${FORMS_WINDOW_FILES}
  DEPENDS formgen ${_forms_window_deps}
  COMMENT "Generating the window template block"
  VERBATIM)

add_library(forms_templates STATIC ${FORMS_BLOCK_CPP} ${FORMS_IDS_HEADER})
target_include_directories(forms_templates PUBLIC ${CMAKE_BINARY_DIR}/generated)
target_link_libraries(forms_templates PUBLIC runtime)
# The parsed block (forms::templates() in forms_model) needs the block:
# whoever links forms_model for it links forms_templates after it.
target_link_libraries(forms_model INTERFACE forms_templates)
