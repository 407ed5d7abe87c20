# Where the programs' files go: the GNU layout under the install prefix, staged in the same layout
# in the build folder, so that a program finds them relative to itself wherever it runs.
include(GNUInstallDirs)
set(ORVA_DATA_SUBDIR "${CMAKE_INSTALL_DATADIR}/orvasdk")
file(RELATIVE_PATH ORVA_DATA_FROM_BIN_DIR ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_DATADIR}/orvasdk)
set(ORVA_STAGE_DIR "${PROJECT_BINARY_DIR}/${ORVA_DATA_SUBDIR}")

# The plugin's icons and the engine content the projects reference, copied into the staged data
# folder on every build (a few kilobytes). The translations are compiled into it as well.
file(GLOB ORVA_ICONS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/Resources/*.png)
add_custom_target(OrvaSDKResources ALL
  COMMAND ${CMAKE_COMMAND} -E make_directory ${ORVA_STAGE_DIR}/Resources
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${ORVA_ICONS} ${ORVA_STAGE_DIR}/Resources
  COMMAND ${CMAKE_COMMAND} -E copy_directory ${PROJECT_SOURCE_DIR}/Resources/EngineContent
          ${ORVA_STAGE_DIR}/Resources/EngineContent
  VERBATIM)
