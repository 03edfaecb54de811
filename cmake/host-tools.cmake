# Programs of the build machine (its own g++, not mingw) that make resources during the build:
# drawart (remover's icon and bitmaps) and scramble (the stored splash picture). Defined before
# the modules, which name their outputs.
include(ExternalProject)
set(REMOVER_HOST_DIR ${CMAKE_BINARY_DIR}/host)
set(REMOVER_HOST_DRAWART ${REMOVER_HOST_DIR}/drawart)
set(REMOVER_HOST_SCRAMBLE ${REMOVER_HOST_DIR}/scramble)
ExternalProject_Add(host_tools
  SOURCE_DIR ${CMAKE_SOURCE_DIR}/tools/host
  BINARY_DIR ${REMOVER_HOST_DIR}
  CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release
  INSTALL_COMMAND ""
  BUILD_ALWAYS ON
  BUILD_BYPRODUCTS ${REMOVER_HOST_DRAWART} ${REMOVER_HOST_SCRAMBLE})

# Generated art: every picture and icon is drawn during the build by the generator kept beside
# where it is used; none is kept in the sources. remover's own art goes where its resource script
# names it from the top of the tree (ui/res/...), in the build folder.
set(REMOVER_ART_DIR ${CMAKE_BINARY_DIR}/ui/res)
set(REMOVER_ART ${REMOVER_ART_DIR}/picture.bmp ${REMOVER_ART_DIR}/check.bmp
    ${REMOVER_ART_DIR}/remover.ico)
