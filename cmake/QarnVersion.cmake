# The build's version: the project version plus the git description, written by
# cmake/qarn_version.py into ${QARN_VERSION_DIR}. The generator runs on every build but rewrites a
# file only when its text changes (Ninja then skips what depends on it), so a new commit recompiles
# two one-line sources and relinks the tool and the plug-in, nothing else.
set(QARN_PACKAGE_MAINTAINER "qarn developers <qarn@example.org>"
    CACHE STRING "Maintainer named in the Debian packages and their changelog")
set(QARN_VERSION_DIR ${PROJECT_BINARY_DIR}/generated/version)
set(_qarn_version_command
    ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/cmake/qarn_version.py
    --source ${PROJECT_SOURCE_DIR} --project-version ${PROJECT_VERSION}
    --history ${PROJECT_SOURCE_DIR}/packaging/changelog
    --maintainer ${QARN_PACKAGE_MAINTAINER} --out ${QARN_VERSION_DIR})
# Once now, so that the files exist for the first build and CPack's configuration.
execute_process(COMMAND ${_qarn_version_command} COMMAND_ERROR_IS_FATAL ANY)
add_custom_target(qarn_version_files
    COMMAND ${_qarn_version_command}
    BYPRODUCTS ${QARN_VERSION_DIR}/Version.cpp ${QARN_VERSION_DIR}/BuildNote.cpp
               ${QARN_VERSION_DIR}/version.cmake ${QARN_VERSION_DIR}/changelog.gz
    COMMENT "Checking the version from git"
    VERBATIM)
