# The suites that do not run as Windows programs under Wine, by label, and why: the one place
# that says so. The Linux build gives these suites the labels too (`ctest -L pty` runs them
# there); the Windows build (make windows) registers them but builds none of them, and its test
# run under Wine leaves them out by label (tests/windows/run-under-wine.sh).
#
#   pty   A real pseudo-terminal stands in for the serial port, or tarvix-sim plays the
#         instrument on one, and the suite makes it itself or looks at it from Linux: a Windows
#         program has neither. tst_serial_port runs under Wine all the same, on pseudo-terminals
#         that the Linux process running it makes and links as COM ports
#         (tests/windows/pty_server.py); the capture on such a port end to end is tried by
#         tests/windows/run-under-wine.sh.
#   unix  Linux facilities the suite sets up around the code: a scratch volume in a mount
#         namespace of its own, running as the user nobody, a file size limit, named pipes,
#         inode numbers, owner permission bits, lock files in /run/lock, systemd, sysfs.
#   cups  The printing service CUPS and its PDF queue.
#   pdf   The printed PDF read back with poppler's pdfinfo and pdftotext, Linux programs that a
#         Windows program cannot start, and Qt's own print setup dialog, which Qt for Windows
#         replaces by Windows's native one.
#   x11   Shell scripts that start the Linux program under Xvfb with xdotool and window
#         managers, the Linux install layout, and the suites that need an X11 desktop: the
#         primary selection, and the AT-SPI accessibility bus on D-Bus.
set(TVX_WINE_EXCLUDED_LABELS pty unix cups pdf x11)
set(TVX_SUITE_LABELS
  tst_main_window pty
  tst_port_reasons pty
  tst_capture_line pty
  tst_port_recovery pty
  tst_port_selection pty
  tst_capture_tool pty
  tst_capture_service pty
  tst_capture_output unix
  tst_capture_run unix
  tst_capture_journal unix
  tst_file_lists unix
  tst_reading_file unix
  tst_file_write unix
  tst_port_lock unix
  tst_device_identity unix
  tst_printer_cups cups
  tst_system_printer pdf
  tst_reading_clipboard x11
  tst_reading_accessible x11
  tst_capture_notice x11
)

# The label of one suite, empty for a suite that runs under Wine.
function(tvx_wine_label name out)
  set(label "")
  if(name MATCHES "^e2e_" OR name STREQUAL "install_layout")
    set(label x11)
  else()
    list(FIND TVX_SUITE_LABELS ${name} at)
    if(at GREATER_EQUAL 0)
      math(EXPR at "${at} + 1")
      list(GET TVX_SUITE_LABELS ${at} label)
    endif()
  endif()
  set(${out} "${label}" PARENT_SCOPE)
endfunction()

# Whether a suite's program is left out of the Windows build (it uses what Windows lacks).
function(tvx_built_for_this_system name out)
  tvx_wine_label(${name} label)
  if(WIN32 AND label)
    set(${out} FALSE PARENT_SCOPE)
  else()
    set(${out} TRUE PARENT_SCOPE)
  endif()
endfunction()

# Gives every suite of the current folder its label. tvx_add_test has it called once at the end
# of each folder that registers a suite, after the folder's own labels (files, info, ...) are set.
function(tvx_label_suites)
  get_property(tests DIRECTORY PROPERTY TESTS)
  foreach(test IN LISTS tests)
    tvx_wine_label(${test} label)
    if(label)
      set_property(TEST ${test} APPEND PROPERTY LABELS ${label})
    endif()
  endforeach()
endfunction()

function(tvx_label_suites_at_end)
  get_property(planned DIRECTORY PROPERTY TVX_LABELS_PLANNED)
  if(NOT planned)
    set_property(DIRECTORY PROPERTY TVX_LABELS_PLANNED TRUE)
    cmake_language(DEFER CALL tvx_label_suites)
  endif()
endfunction()
