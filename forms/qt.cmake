# The offscreen screenshot tool: build/bin/formshots renders every window
# of the template block to build/screens/<window>.png (or to the directory
# given as its argument). Included from forms/CMakeLists.txt after the
# forms library is defined.
if(TARGET forms_templates)
  add_executable(formshots ${CMAKE_CURRENT_LIST_DIR}/shots/formshots.cpp)
  target_link_libraries(formshots PRIVATE forms forms_model forms_templates)
endif()
