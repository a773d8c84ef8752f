# Finds the static archives of the C libraries (JPEG, PNG, zlib, FreeType,
# fontconfig and what they need) so that the tool can be linked as one
# program: a process then maps and relocates three shared objects instead of
# fifteen at every start, which is most of what a one-picture run costs beyond
# its own work. Only the tool uses them; the installed library and what it
# asks of its hosts link the shared libraries. Nothing changes unless every
# archive is installed.

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

handpix_archives(_jpeg jpeg)
handpix_archives(_png png16 z m)
handpix_archives(_z z)
handpix_archives(_freetype ${FREETYPE_STATIC_LIBRARIES})
handpix_archives(_fontconfig ${FONTCONFIG_STATIC_LIBRARIES})
if(_jpeg AND _png AND _z AND _freetype AND _fontconfig)
  # The archives stand in for these imported targets when the tool links.
  set_property(TARGET JPEG::JPEG PROPERTY HANDPIX_ARCHIVES "${_jpeg}")
  set_property(TARGET PNG::PNG PROPERTY HANDPIX_ARCHIVES "${_png}")
  set_property(TARGET ZLIB::ZLIB PROPERTY HANDPIX_ARCHIVES "${_z}")
  set_property(TARGET PkgConfig::FREETYPE PROPERTY HANDPIX_ARCHIVES "${_freetype}")
  set_property(TARGET PkgConfig::FONTCONFIG PROPERTY HANDPIX_ARCHIVES "${_fontconfig}")

  # The link items for a list of libraries, each replaced by its archives where it has them.
  function(handpix_archives_for out)
    set(items)
    foreach(l IN LISTS ARGN)
      set(archives)
      if(TARGET ${l})
        get_target_property(archives ${l} HANDPIX_ARCHIVES)
      endif()
      if(archives)
        list(APPEND items ${archives})
      else()
        list(APPEND items ${l})
      endif()
    endforeach()
    set(${out} "${items}" PARENT_SCOPE)
  endfunction()
  message(STATUS "handpix: the tool links the C libraries from their static archives")
else()
  message(STATUS "handpix: some static archives are missing; the tool links shared libraries")
endif()
