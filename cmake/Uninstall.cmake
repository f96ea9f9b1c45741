# Removes what an install from this build folder wrote, as its manifest lists it, and the
# program's own folder once it is empty. Shared folders (bin, share/...) stay. The manifest names
# the files as installed; a staged install is removed from the same DESTDIR it went to.
#   DESTDIR=... cmake -DMANIFEST=<build>/install_manifest.txt -DPROGRAM_DIR=lib/vimo -P Uninstall.cmake
if(NOT EXISTS "${MANIFEST}")
  message(FATAL_ERROR "No install manifest at ${MANIFEST}: nothing was installed from this build folder.")
endif()
file(STRINGS "${MANIFEST}" installed)
set(program_folders)
foreach(installed_file IN LISTS installed)
  set(file "$ENV{DESTDIR}${installed_file}")
  if(IS_SYMLINK "${file}" OR EXISTS "${file}")
    message(STATUS "Removing ${file}")
    file(REMOVE "${file}")
  endif()
  get_filename_component(folder "${file}" DIRECTORY)
  if(folder MATCHES "/${PROGRAM_DIR}$")
    list(APPEND program_folders "${folder}")
  endif()
endforeach()
list(REMOVE_DUPLICATES program_folders)
foreach(folder IN LISTS program_folders)
  # rmdir leaves a folder that still holds something.
  execute_process(COMMAND rmdir "${folder}" ERROR_QUIET)
endforeach()
