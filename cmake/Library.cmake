# How the module libraries become the library a host links.
#
# Each module stays a static library of its own, so that the layering is
# visible and a test links only what it tests. Their objects are compiled
# once, position-independent, and gathered into libhandpix: shared (symbols
# outside the public interface hidden by a version script) or, with
# BUILD_SHARED_LIBS=OFF, one static archive.

# Prepares module targets for gathering: position-independent objects and the
# include root that every `#include "handpix/..."` starts from.
function(handpix_prepare_modules)
  foreach(t IN LISTS ARGN)
    set_target_properties(${t} PROPERTIES POSITION_INDEPENDENT_CODE ON)
    target_include_directories(${t} PUBLIC $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>)
  endforeach()
endfunction()

# The libraries outside the project that the modules link, once each.
function(handpix_module_dependencies out)
  set(deps)
  foreach(t IN LISTS ARGN)
    get_target_property(links ${t} LINK_LIBRARIES)
    if(NOT links)
      continue()
    endif()
    foreach(l IN LISTS links)
      # Module targets (also behind $<TARGET_NAME_IF_EXISTS:...>) are gathered, not linked.
      if(l MATCHES "^handpix_" OR l MATCHES "^\\$<")
        continue()
      endif()
      list(APPEND deps ${l})
    endforeach()
  endforeach()
  list(REMOVE_DUPLICATES deps)
  set(${out} "${deps}" PARENT_SCOPE)
endfunction()

# handpix_gather(NAME TYPE DEPS modules...): one library of TYPE (STATIC,
# SHARED, or empty for BUILD_SHARED_LIBS) from the modules' objects. DEPS
# (a list) is linked privately: a host of the shared library needs none of
# them, a host of the static one gets them as link-only.
function(handpix_gather name type deps)
  set(objects)
  foreach(t IN LISTS ARGN)
    list(APPEND objects $<TARGET_OBJECTS:${t}>)
  endforeach()
  add_library(${name} ${type} ${objects})
  target_include_directories(${name} PUBLIC
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}> $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  target_compile_features(${name} PUBLIC cxx_std_20)
  target_link_libraries(${name} PRIVATE ${deps})
  get_target_property(kind ${name} TYPE)
  if(kind STREQUAL "SHARED_LIBRARY")
    set(map ${PROJECT_SOURCE_DIR}/handpix/handpix.map)
    target_link_options(${name} PRIVATE -Wl,--version-script=${map})
    # Only a full plain build can insist that the library names every library
    # it needs: sanitizer runtimes live in the executable, and a partial build
    # lacks modules.
    if(NOT HANDPIX_SANITIZE AND NOT HANDPIX_FUZZ AND NOT HANDPIX_ONLY)
      target_link_options(${name} PRIVATE -Wl,--no-undefined)
    endif()
    set_target_properties(${name} PROPERTIES LINK_DEPENDS ${map}
      VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
  endif()
endfunction()
