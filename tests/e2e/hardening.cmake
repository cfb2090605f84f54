# Hardening scenarios: faults of the host around the tool, and malformed
# traffic on its link. Included from tests/e2e/CMakeLists.txt after corvanite_e2e()
# and corvanite_e2e_router() are defined; each scenario builds a lab of its own.

# Faults. A full-lab pass is about 22 s (the router answers pings at once), a bare
# one about 28 s; time limits as in CMakeLists.txt (measured worst times 1.5, plus
# 100 s of lab start-up).
corvanite_e2e_router(faults.no_raw_rights 180 faults_no_raw_rights.sh)
corvanite_e2e_router(faults.net_raw_only 180 faults_net_raw_only.sh)
corvanite_e2e_router(faults.name_unresolvable 180 faults_name_unresolvable.sh)
corvanite_e2e_router(faults.name_loopback 180 faults_name_loopback.sh)
corvanite_e2e_router(faults.ports_held 180 faults_ports_held.sh)
corvanite_e2e_router(faults.link_down 180 faults_link_lost.sh link-down)
corvanite_e2e_router(faults.no_route 180 faults_link_lost.sh no-route)
corvanite_e2e_router(faults.five_passes 360 faults_five_passes.sh)
corvanite_e2e(faults.stdin_closed 180 faults_stdin_closed.sh)
corvanite_e2e(faults.stdout_closed 60 faults_stdout_closed.sh)
corvanite_e2e(faults.stdout_closed_sigpipe_ignored 60 faults_stdout_closed.sh sigpipe-ignored)

# Malformed traffic at 5000 frames/s during a whole pass. Alone on the machine: the
# sender takes a good part of a core, and the other scenarios' listening windows
# should not pay for it.
corvanite_e2e_router(flood.full 180 flood_full.sh)
corvanite_e2e(flood.bare 180 flood_bare.sh)
# Later fragments whose data begins like a query or a Hello.
corvanite_e2e(flood.bare_fragments 180 flood_bare.sh fragments)
set_tests_properties(e2e.flood.full e2e.flood.bare e2e.flood.bare_fragments
  PROPERTIES RUN_SERIAL TRUE)

# A kernel before 4.20, played by a shim that refuses PACKET_IGNORE_OUTGOING.
add_library(corvanite_no_ignore_outgoing MODULE shims/no_ignore_outgoing.cpp)
target_link_libraries(corvanite_no_ignore_outgoing PRIVATE ${CMAKE_DL_LIBS})
corvanite_e2e_router(faults.old_kernel 150 faults_old_kernel.sh)
set_property(TEST e2e.faults.old_kernel APPEND PROPERTY ENVIRONMENT
  "E2E_SHIM=$<TARGET_FILE:corvanite_no_ignore_outgoing>")
