# Read by ctest before it starts the first test (the tests folder's TEST_INCLUDE_FILES): the whole
# suite gets a private home, runtime folder and temporary folder, made afresh at every ctest run,
# so that no test reads or writes the user's own settings, autostart entries, Qt's
# QtProject.conf, sockets or temporary files, whichever way ctest is started. Every test inherits
# the environment set here.
#
# The folder is made by mktemp (mode 0700) under the temporary folder, where its paths stay short
# enough for socket addresses; VKS_TEST_ENV_LINK, a link in the build tree, names it, so that it
# can be looked into after a run and is removed at the next.
#
#   VKS_TEST_ENV_LINK   the build tree's link to the current folder (set by the including file)

if(IS_SYMLINK "${VKS_TEST_ENV_LINK}")
  file(READ_SYMLINK "${VKS_TEST_ENV_LINK}" previous)
  # Only a folder this script made: the link could have been bent to point anywhere.
  if(previous MATCHES "/vks-tests\\.[A-Za-z0-9]+$" AND IS_DIRECTORY "${previous}")
    file(REMOVE_RECURSE "${previous}")
  endif()
  file(REMOVE "${VKS_TEST_ENV_LINK}")
endif()

execute_process(COMMAND mktemp -d -t vks-tests.XXXXXX
                OUTPUT_VARIABLE root OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed)
if(failed OR NOT IS_DIRECTORY "${root}")
  message(FATAL_ERROR "cannot make the test suite's private folder: ${failed}")
endif()
file(CREATE_LINK "${root}" "${VKS_TEST_ENV_LINK}" SYMBOLIC)

set(ENV{HOME} "${root}/home")
set(ENV{XDG_CONFIG_HOME} "${root}/home/.config")
set(ENV{XDG_DATA_HOME} "${root}/home/.local/share")
set(ENV{XDG_STATE_HOME} "${root}/home/.local/state")
set(ENV{XDG_CACHE_HOME} "${root}/home/.cache")
set(ENV{XDG_RUNTIME_DIR} "${root}/run")
set(ENV{TMPDIR} "${root}/tmp")
foreach(variable HOME XDG_CONFIG_HOME XDG_DATA_HOME XDG_STATE_HOME XDG_CACHE_HOME XDG_RUNTIME_DIR TMPDIR)
  file(MAKE_DIRECTORY "$ENV{${variable}}")
endforeach()
# A runtime folder must be the user's alone. The folders above the temporary folder may be
# passed through (not listed) by others: tests that open files as another user (a refused open
# as "nobody") make their folders there.
file(CHMOD "${root}/run" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
file(CHMOD "${root}" "${root}/tmp" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_EXECUTE WORLD_EXECUTE)

# Nothing of the user's desktop session either: tests that need a display make their own (Xvfb),
# and none may reach the session's bus (tray icons, notifications) or its session manager.
foreach(variable DISPLAY WAYLAND_DISPLAY XAUTHORITY DBUS_SESSION_BUS_ADDRESS SESSION_MANAGER)
  unset(ENV{${variable}})
endforeach()

# The simulators are programs that a busy machine may wake late, where an instrument answers in
# time: the link libraries give replies a wider allowance in the tests (see ex_com.h and
# comport.h), so that a read, a copy or a poll does not fail for a late wake-up. Tests that
# measure the allowances, or that expect silence, take the field's own (tests/support/field_allowances.h).
set(ENV{EX_COM_REPLY_ALLOWANCE_MS} 1000)
set(ENV{COMPORT_ANSWER_TIMEOUT_MS} 1000)

# A simulator's or a test's pseudo-terminal is opened through a link of its own that goes before
# the terminal ends (sim/port_name.h): the number of an ended terminal is given to the next one
# made on the machine, and a program that opens its port again by name must not meet another
# test's terminal there.
set(ENV{VKS_SIM_PRIVATE_PORTS} 1)
