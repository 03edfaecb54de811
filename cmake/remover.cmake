# Settings shared by every target of the product, its tools and its tests.

# Product code: no exceptions, no RTTI, warnings on; sources are UTF-8, narrow literals CP1252.
function(remover_defaults target)
  target_compile_options(${target} PRIVATE
    $<$<COMPILE_LANGUAGE:C,CXX>:-Wall -Wextra -finput-charset=UTF-8 -fexec-charset=CP1252>
    $<$<AND:$<COMPILE_LANGUAGE:C,CXX>,$<BOOL:${REMOVER_WERROR}>>:-Werror>)
  target_compile_definitions(${target} PRIVATE STRICT _WIN32_WINNT=0x0501 WINVER=0x0501)
  target_include_directories(${target} PUBLIC ${CMAKE_SOURCE_DIR} ${REMOVER_GENERATED_DIR})
endfunction()

# remover_version.h: the project's version for the code and the resource scripts.
set(REMOVER_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
configure_file(${CMAKE_CURRENT_LIST_DIR}/version.h.in ${REMOVER_GENERATED_DIR}/remover_version.h
               @ONLY)

function(remover_product_defaults target)
  remover_defaults(${target})
  target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti>)
endfunction()

# A product library: remover_library(name src...)
function(remover_library name)
  add_library(${name} STATIC ${ARGN})
  remover_product_defaults(${name})
endfunction()

# remover_header_constant(var header name): the value of the constant name defined in header
# (a path from the top of the tree), so that a value both the code and the build use is
# written once. A change to the header configures again.
function(remover_header_constant var header name)
  set(path ${CMAKE_SOURCE_DIR}/${header})
  file(STRINGS ${path} lines REGEX "constexpr .* ${name} = ")
  string(REGEX MATCH " ${name} = (0x[0-9A-Fa-f]+|[0-9]+)" found "${lines}")
  if(NOT found)
    message(FATAL_ERROR "${header} defines no ${name}")
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${path})
  set(${var} ${CMAKE_MATCH_1} PARENT_SCOPE)
endfunction()

# remover_shipped(target): a program that ships is checked after every link (cmake/check-image.cmake).
# Its header carries no link time, so one commit links to the same bytes whenever it is built.
function(remover_shipped target)
  target_link_options(${target} PRIVATE -Wl,--no-insert-timestamp)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${CMAKE_OBJDUMP} -DIMAGE=$<TARGET_FILE:${target}>
            -DBITS=${REMOVER_BITS} -P ${CMAKE_SOURCE_DIR}/cmake/check-image.cmake
    VERBATIM)
endfunction()

# remover_version_resource(target "description"): the project's version block in the program, with
# its description and file name.
function(remover_version_resource target description)
  set(REMOVER_VERSION_DESCRIPTION "${description}")
  set(REMOVER_VERSION_NAME ${target})
  set(REMOVER_VERSION_FILE ${target}.exe)
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
  set_source_files_properties(${rc} PROPERTIES
    OBJECT_DEPENDS ${REMOVER_GENERATED_DIR}/remover_version.h)
endfunction()
