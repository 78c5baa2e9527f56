# SPDX-License-Identifier: LGPL-2.1-or-later
# What `cmake --install` puts where, for a package or a system-wide install.
# The modules and the platform's programs share one private directory,
# <libdir>/mailquarry: clients reach the modules through the registry (a
# package registers them system-wide when it is installed), and the address
# book's fallback name WAB32.DLL is looked for beside the module that asks.
include(GNUInstallDirs)

set(MQ_INSTALL_MODULE_DIR "${CMAKE_INSTALL_LIBDIR}/mailquarry" CACHE STRING
    "Where `cmake --install` puts the modules and regsvr, tlbdump, demo-store, store-location")

foreach(module MailStore AddressBook Mailquarry)
  if(TARGET ${module})
    install(TARGETS ${module} LIBRARY DESTINATION ${MQ_INSTALL_MODULE_DIR})
  endif()
endforeach()
if(TARGET AddressBook)
  install(CODE "file(CREATE_LINK AddressBook.so
    \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${MQ_INSTALL_MODULE_DIR}/WAB32.DLL\" SYMBOLIC)")
endif()
foreach(program regsvr tlbdump store-location demo-store)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${MQ_INSTALL_MODULE_DIR})
  endif()
endforeach()
