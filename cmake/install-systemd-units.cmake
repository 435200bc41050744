# Run by "cmake --install" (and by CPack): installs the systemd units with
# the paths of this install, known only now. CMAKE_INSTALL_PREFIX is the
# prefix being installed to; file(INSTALL) adds DESTDIR itself.
set(unit_dir "${estacount_unit_dir}")
if(NOT IS_ABSOLUTE "${unit_dir}")
  set(unit_dir "${CMAKE_INSTALL_PREFIX}/${unit_dir}")
endif()
set(KIT_DIR "${CMAKE_INSTALL_PREFIX}/${estacount_kit_dir}")
set(BIN_DIR "${CMAKE_INSTALL_PREFIX}/${estacount_bin_dir}")
configure_file("${estacount_source_dir}/examples/systemd/estacount-collect.service.in"
               "${estacount_binary_dir}/units/estacount-collect.service" @ONLY)
file(INSTALL DESTINATION "${unit_dir}" TYPE FILE FILES
     "${estacount_binary_dir}/units/estacount-collect.service"
     "${estacount_source_dir}/examples/systemd/estacount-collect.timer")
