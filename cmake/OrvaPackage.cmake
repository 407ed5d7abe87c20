# `cmake --install` puts the four programs in the prefix's bin folder and their files in its data
# folder; `cpack -G DEB` makes a Debian package of the same.
install(TARGETS OrvaEditor OrvaEditorCmd ORVAClient OrvaDevService RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY ${ORVA_STAGE_DIR}/ DESTINATION ${ORVA_DATA_SUBDIR})
# The demo project and the headless publish over it, with the scripts that start the local
# service and the local object store for it.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/Examples/ DESTINATION ${ORVA_DATA_SUBDIR}/Examples)
install(PROGRAMS ${PROJECT_SOURCE_DIR}/scripts/run.sh ${PROJECT_SOURCE_DIR}/scripts/local_s3_store.py
        DESTINATION ${ORVA_DATA_SUBDIR}/scripts)
install(FILES ${PROJECT_SOURCE_DIR}/scripts/devservice.sh ${PROJECT_SOURCE_DIR}/scripts/localstore.sh
              ${PROJECT_SOURCE_DIR}/scripts/processes.sh
        DESTINATION ${ORVA_DATA_SUBDIR}/scripts)

set(CPACK_PACKAGE_NAME "orvasdk")
set(CPACK_PACKAGE_VENDOR "Brackenfold Studios")
set(CPACK_PACKAGE_CONTACT "Brackenfold Studios <orvasdk@brackenfold.dev>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "ORVA world publishing: editor, headless editor, player client, development service")
set(CPACK_PACKAGE_DESCRIPTION
    "OrvaEditor publishes a level as an ORVA world: it logs in to the service, builds the client and
server paks, registers them as components, uploads them to S3 and launches the player client.
OrvaEditorCmd runs the same headless (pak builds and scripted publishes), ORVAClient is the player
client stand-in and OrvaDevService a local development service.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "devel")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://orva.dev")
# The libraries the programs link, by their Debian package names.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libqt6core6 (>= 6.4), libqt6gui6 (>= 6.4), libqt6widgets6 (>= 6.4), libqt6network6 (>= 6.4), zlib1g, libssl3, libsqlite3-0, libexpat1, libstdc++6, libc6")
# The scripted publish starts the local object store (moto's server) with Python.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "python3, curl")
set(CPACK_STRIP_FILES ON)
include(CPack)
