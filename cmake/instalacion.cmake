# Installation: the library with its SONAME link, the solver library it imports, the header, the
# tool, a CMake package (find_package(orienta) → orienta::orienta, with a version file) and a
# pkg-config file. Everything is relocatable: the prefix can be moved after installing.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# Installed binaries find their libraries relative to themselves (RUNPATH, not the older RPATH
# that would override LD_LIBRARY_PATH): the library finds libdiradodavid beside it, the tool
# finds both in ../lib.
file(RELATIVE_PATH orienta_bin_a_lib ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
set_target_properties(orienta PROPERTIES INSTALL_RPATH "$ORIGIN")
set_target_properties(orienta_cli PROPERTIES INSTALL_RPATH "$ORIGIN/${orienta_bin_a_lib}")
foreach(objetivo orienta orienta_cli)
  target_link_options(${objetivo} PRIVATE -Wl,--enable-new-dtags)
endforeach()

set(orienta_instalados orienta)
if(TARGET diradodavid)
  list(APPEND orienta_instalados diradodavid)
  install(FILES ${PROJECT_SOURCE_DIR}/diradodavid/diradodavid.h
          DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/diradodavid)
endif()
install(TARGETS ${orienta_instalados} EXPORT orientaTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/orienta.h ${PROJECT_SOURCE_DIR}/include/orienta_ajuste.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS orienta_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/ DESTINATION ${CMAKE_INSTALL_DATADIR}/orienta/examples
        PATTERN CMakeLists.txt EXCLUDE)

set(orienta_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/orienta)
install(EXPORT orientaTargets NAMESPACE orienta:: DESTINATION ${orienta_cmake_dir})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/orientaConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/orientaConfig.cmake
                              INSTALL_DESTINATION ${orienta_cmake_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/orientaConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/orientaConfig.cmake ${PROJECT_BINARY_DIR}/orientaConfigVersion.cmake
        DESTINATION ${orienta_cmake_dir})

# pkg-config: the prefix is found from the .pc file's own place, so a moved prefix still works.
file(RELATIVE_PATH orienta_pc_a_prefijo ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" orienta_pc_a_prefijo "${orienta_pc_a_prefijo}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/orienta.pc.in ${PROJECT_BINARY_DIR}/orienta.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/orienta.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
