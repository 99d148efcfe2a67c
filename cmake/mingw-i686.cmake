# 32-bit Windows (i686), the reference target.
set(UPDATER_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
