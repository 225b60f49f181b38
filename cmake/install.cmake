# cmake --install: the driver library, the host headers, a package file for
# hosts (find_package(Ombrelix)) and ombrelix-host beside the library's bin.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)
if(WIN32)
  set(OMBRELIX_LIBRARY_FILE ${CMAKE_INSTALL_BINDIR}/Ombrelix.dll)
else()
  set(OMBRELIX_LIBRARY_FILE ${CMAKE_INSTALL_LIBDIR}/libombrelix.so)
endif()
install(TARGETS ombrelix LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/ombrelix DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
if(TARGET ombrelix-host)
  install(TARGETS ombrelix-host RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
set(config_dir ${CMAKE_INSTALL_LIBDIR}/cmake/Ombrelix)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/OmbrelixConfig.cmake.in
  ${PROJECT_BINARY_DIR}/OmbrelixConfig.cmake INSTALL_DESTINATION ${config_dir}
  PATH_VARS OMBRELIX_LIBRARY_FILE CMAKE_INSTALL_INCLUDEDIR)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/OmbrelixConfigVersion.cmake COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/OmbrelixConfig.cmake ${PROJECT_BINARY_DIR}/OmbrelixConfigVersion.cmake
  DESTINATION ${config_dir})
