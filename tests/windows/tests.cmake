# The suites cross-built for Windows and run under wine (tools/build-windows --test).
add_executable(tst_registermap model/tst_registermap.cpp)
add_executable(tst_wire wire/tst_wire.cpp)
add_executable(tst_windows windows/tst_windows.cpp)
foreach(name tst_registermap tst_wire tst_windows)
  target_link_libraries(${name} PRIVATE zev720_storage Qt6::Test)
  add_test(NAME ${name} COMMAND ${name})
endforeach()
# For the wine tests: what Windows sends a window that is closed, or at logoff.
add_executable(close-window windows/close-window.cpp)
target_link_options(close-window PRIVATE -municode)
