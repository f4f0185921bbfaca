# Configuration dialog and its About picture (Qt).  Included from
# CMakeLists.txt of this folder when the GUI is built.
find_package(JPEG REQUIRED)

# The About picture is compiled in: about.jpg becomes a byte array at build time.
set(about_inc ${CMAKE_CURRENT_BINARY_DIR}/generated/AboutJpeg.inc)
add_custom_command(
  OUTPUT ${about_inc}
  COMMAND ${CMAKE_COMMAND} -DINPUT=${CMAKE_CURRENT_SOURCE_DIR}/about.jpg
          -DOUTPUT=${about_inc} -DNAME=kAboutJpeg
          -P ${CMAKE_CURRENT_SOURCE_DIR}/EmbedFile.cmake
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/about.jpg ${CMAKE_CURRENT_SOURCE_DIR}/EmbedFile.cmake
  COMMENT "Embedding about.jpg"
  VERBATIM)

add_library(vantrel_jpeg_picture JpegPicture.cpp ${about_inc})
target_include_directories(vantrel_jpeg_picture
  PUBLIC ${PROJECT_SOURCE_DIR}/src
  PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/generated)
target_link_libraries(vantrel_jpeg_picture PUBLIC Qt6::Gui PRIVATE JPEG::JPEG)

add_library(vantrel_config_ui uVantrelCfg.cpp)
target_include_directories(vantrel_config_ui PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(vantrel_config_ui
  PUBLIC Qt6::Widgets vantrel_settings vantrel_controls
  PRIVATE vantrel_serial vantrel_jpeg_picture JPEG::JPEG)
