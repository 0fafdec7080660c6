#!/usr/bin/env bash
# The tests of threaded code (Ferrow's device link, data-access core and OPC server objects, the COM layer, the simulated device's own thread) once more, under ThreadSanitizer, in a second small build (build-tsan).
# Only the targets listed here are built, so this stays quick on a small machine.
set -euo pipefail
cd "$(dirname "$0")/.."
targets=(ferrow_devlink_test ferrow_model_test devsim_shell_test devsim_datapoint_test devsim_sql_debug_test devsim_line_bounds_test
  platform_com_test ferrow_opc_threads_test ferrow_views_test)

# The data-access core: its update scheduler's pool, the shared tag registrations, reads and writes
# against a simulated device while pushes arrive.
targets+=(ferrow_access_test ferrow_access_devsim_test)

# OPC groups: update passes, request threads and callbacks, in process and against a simulated device.
targets+=(ferrow_opc_test ferrow_opc_devsim_test)

# Ferrow's start-up: the COM server thread and the single-instance socket.
targets+=(ferrow_app_threads_test)

# Ferrow's window with a client of its real OPC objects (COM server thread, group update threads).
targets+=(ferrow_app_opc_test)

# ferrow-opc's watch: the server's update threads call its data-change sink while it prints.
targets+=(ferrow_cli_test)

# The socket controls against peers on threads of their own (replies waited for in place).
targets+=(platform_net_test)

# COM over the session bus: the bus node's reader thread and worker pool, Ferrow's objects served on it.
targets+=(platform_com_dbus_test ferrow_bus_server_test)

# The OPC UA endpoint: its network thread serving clients while data source callbacks come from others.
targets+=(ferrow_ua_session_test ferrow_ua_view_attribute_test ferrow_ua_subscription_test
  ferrow_ua_malformed_traffic_test)

# The endpoint on the data-access core: scheduler, endpoint and device threads, against a simulated device.
targets+=(ferrow_ua_bridge_devsim_test)

cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLON_SANITIZE=thread >/dev/null
cmake --build build-tsan --parallel "$(nproc)" --target "${targets[@]}"
export QT_QPA_PLATFORM=offscreen
# A report fails the test; Qt's own code is not instrumented, so its internals are not judged here.
export TSAN_OPTIONS="halt_on_error=1 exitcode=66 second_deadlock_stack=1 suppressions=$PWD/scripts/tsan-suppressions.txt ${TSAN_OPTIONS:-}"
failed=()
for t in "${targets[@]}"; do
  echo "== ThreadSanitizer: $t"
  build-tsan/bin/"$t" --gtest_brief=1 || failed+=("$t")
done
if [ ${#failed[@]} -ne 0 ]; then
  echo "== ThreadSanitizer failed in: ${failed[*]}"
  exit 1
fi
