# Tests of the configuration dialog and its About picture (offscreen Qt).
if(TARGET vantrel_jpeg_picture)
  vantrel_add_test(NAME config_jpeg_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/JpegPictureTest.cpp
                   LIBS vantrel_jpeg_picture GUI)
  target_compile_definitions(config_jpeg_test PRIVATE
                             ABOUT_JPG="${PROJECT_SOURCE_DIR}/src/config/about.jpg")
endif()
if(TARGET vantrel_config_ui AND TARGET vantrel_controls AND TARGET vantrel_serial
   AND TARGET vantrel_settings)
  vantrel_add_test(NAME config_dialog_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/CfgDialogTest.cpp
                   LIBS vantrel_config_ui GUI)
endif()
