# Points the imported targets of the C libraries (JPEG, PNG, zlib, FreeType,
# fontconfig and what they need) at their static archives. A process then maps
# and relocates three shared objects instead of fifteen at every start, which
# is most of what a one-picture run of the tool costs beyond its own work.
# Nothing changes unless every archive is installed.

# The archives for a list of library names, in link order; empty when one is missing.
function(handpix_archives out)
  set(names ${ARGN})
  # Keep the last occurrence of a name: a library must follow its users.
  list(REVERSE names)
  list(REMOVE_DUPLICATES names)
  list(REVERSE names)
  set(paths)
  foreach(name IN LISTS names)
    if(name STREQUAL "m")
      list(APPEND paths m)
      continue()
    endif()
    find_library(HANDPIX_ARCHIVE_${name} NAMES lib${name}.a)
    if(NOT HANDPIX_ARCHIVE_${name})
      set(${out} "" PARENT_SCOPE)
      return()
    endif()
    list(APPEND paths ${HANDPIX_ARCHIVE_${name}})
  endforeach()
  set(${out} "${paths}" PARENT_SCOPE)
endfunction()

# Replaces the library file of an imported target, whatever configurations it names.
function(handpix_use_archive target archive)
  foreach(prop IMPORTED_LOCATION IMPORTED_LOCATION_RELEASE IMPORTED_LOCATION_DEBUG)
    get_target_property(old ${target} ${prop})
    if(old)
      set_target_properties(${target} PROPERTIES ${prop} "${archive}")
    endif()
  endforeach()
endfunction()

handpix_archives(_jpeg jpeg)
handpix_archives(_png png16)
handpix_archives(_z z)
handpix_archives(_freetype ${FREETYPE_STATIC_LIBRARIES})
handpix_archives(_fontconfig ${FONTCONFIG_STATIC_LIBRARIES})
if(_jpeg AND _png AND _z AND _freetype AND _fontconfig)
  handpix_use_archive(JPEG::JPEG "${_jpeg}")
  handpix_use_archive(PNG::PNG "${_png}")
  handpix_use_archive(ZLIB::ZLIB "${_z}")
  set_property(TARGET PNG::PNG APPEND PROPERTY INTERFACE_LINK_LIBRARIES m)
  set_target_properties(PkgConfig::FREETYPE PROPERTIES INTERFACE_LINK_LIBRARIES "${_freetype}")
  set_target_properties(PkgConfig::FONTCONFIG PROPERTIES INTERFACE_LINK_LIBRARIES "${_fontconfig}")
  message(STATUS "handpix: C libraries linked from their static archives")
else()
  message(STATUS "handpix: some static archives are missing; linking shared libraries")
endif()
