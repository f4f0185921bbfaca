# Layers, enforced twice.  At build time: a library exports only its own folder
# (src/<dir> is linked into an include root of its own), so "<dir>/X.h"
# resolves only for targets that link the library.  At test time: layer_check
# reads every #include of src/ and tools/ against the table in
# LayerCheck.cmake, which also keeps Qt out of the Qt-free layers.
function(vantrel_export_folder target dir)
  set(root ${PROJECT_BINARY_DIR}/include/${dir})
  if(NOT IS_SYMLINK ${root}/${dir})
    file(MAKE_DIRECTORY ${root})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/src/${dir} ${root}/${dir} SYMBOLIC)
  endif()
  target_include_directories(${target} PUBLIC ${root})
endfunction()

add_test(NAME layer_check COMMAND ${CMAKE_COMMAND} -DROOT=${PROJECT_SOURCE_DIR} -P
                                  ${CMAKE_CURRENT_LIST_DIR}/LayerCheck.cmake)
# The check itself must fail on a row without files and on a bus header that
# includes Qt and the window.
add_test(NAME layer_check_fails COMMAND ${CMAKE_COMMAND} -DROOT=${PROJECT_SOURCE_DIR}/tests/layers
                                        -P ${CMAKE_CURRENT_LIST_DIR}/LayerCheck.cmake)
set_tests_properties(layer_check_fails PROPERTIES PASS_REGULAR_EXPRESSION
  "layer 'base': its row matches no file\n.*src/bus/Reach.h: <QString> in the Qt-free layer bus\nsrc/bus/Reach.h: \"app/Top.h\" is in layer 'app', which bus may not use\nCMake Error")
