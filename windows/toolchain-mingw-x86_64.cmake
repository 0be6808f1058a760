# 64-bit Windows, with Debian's mingw-w64. Only for the extra test under 64-bit
# Wine (make windows-test WINDOWS_TEST_X86_64=1); the program ships as 32-bit.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KKM_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
