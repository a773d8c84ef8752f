# Installs the headers that handpix/handpix.h reaches, keeping their paths
# under include/ so that `#include "handpix/..."` works from the prefix.
execute_process(
  COMMAND ${HANDPIX_CXX} -std=c++20 -x c++ -MM -MT public -I${HANDPIX_SOURCE_DIR}
          ${HANDPIX_SOURCE_DIR}/handpix/handpix.h
  OUTPUT_VARIABLE rule RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "handpix: cannot list the headers that handpix.h includes")
endif()
string(REGEX REPLACE "^public:|\\\\\n" " " rule "${rule}")
separate_arguments(headers UNIX_COMMAND "${rule}")
foreach(h IN LISTS headers)
  file(RELATIVE_PATH rel ${HANDPIX_SOURCE_DIR} ${h})
  get_filename_component(dir ${rel} DIRECTORY)
  file(INSTALL ${h} DESTINATION "${CMAKE_INSTALL_PREFIX}/${HANDPIX_INCLUDE_DIR}/${dir}")
endforeach()
