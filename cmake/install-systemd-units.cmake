# Run by "cmake --install" (and by CPack): installs the systemd units with
# the path of this install's estacount-kit, known only now.
# CMAKE_INSTALL_PREFIX is the prefix being installed to; file(INSTALL) adds
# DESTDIR itself.
set(unit_dir "${estacount_unit_dir}")
if(NOT IS_ABSOLUTE "${unit_dir}")
  set(unit_dir "${CMAKE_INSTALL_PREFIX}/${unit_dir}")
endif()
set(BIN_DIR "${estacount_bin_dir}")
if(NOT IS_ABSOLUTE "${BIN_DIR}")
  set(BIN_DIR "${CMAKE_INSTALL_PREFIX}/${BIN_DIR}")
endif()
set(units "${estacount_source_dir}/examples/systemd")
# Both services run in the same sandbox, kept in one file so that they
# cannot drift apart.
file(READ "${units}/sandbox.conf" UNIT_SANDBOX)
string(STRIP "${UNIT_SANDBOX}" UNIT_SANDBOX)
foreach(service estacount-collect.service estacount-graph.service)
  configure_file("${units}/${service}.in" "${estacount_binary_dir}/units/${service}" @ONLY)
endforeach()
file(INSTALL DESTINATION "${unit_dir}" TYPE FILE FILES
     "${estacount_binary_dir}/units/estacount-collect.service"
     "${estacount_binary_dir}/units/estacount-graph.service"
     "${units}/estacount-collect.timer"
     "${units}/estacount-graph.timer")
