# Settings shared by every target of the product, its tools and its tests.

# Product code: no exceptions, no RTTI, warnings on; sources are UTF-8, narrow literals CP1252.
function(remover_defaults target)
  target_compile_options(${target} PRIVATE
    $<$<COMPILE_LANGUAGE:C,CXX>:-Wall -Wextra -finput-charset=UTF-8 -fexec-charset=CP1252>
    $<$<AND:$<COMPILE_LANGUAGE:C,CXX>,$<BOOL:${REMOVER_WERROR}>>:-Werror>)
  target_compile_definitions(${target} PRIVATE STRICT _WIN32_WINNT=0x0501 WINVER=0x0501)
  target_include_directories(${target} PUBLIC ${CMAKE_SOURCE_DIR})
endfunction()

function(remover_product_defaults target)
  remover_defaults(${target})
  target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti>)
endfunction()

# A product library: remover_library(name src...)
function(remover_library name)
  add_library(${name} STATIC ${ARGN})
  remover_product_defaults(${name})
endfunction()
