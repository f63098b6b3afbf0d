# SPDX-License-Identifier: MIT
# Where scripts/install-deps cross leaves what the cross builds need beyond Debian packages
# of this machine: yyjson's source and the foreign yyjson packages, unpacked.
if(NOT NTSRCH_CROSS_CACHE)
  if(DEFINED ENV{NTSRCH_CROSS_CACHE})
    set(NTSRCH_CROSS_CACHE $ENV{NTSRCH_CROSS_CACHE})
  else()
    set(NTSRCH_CROSS_CACHE /var/cache/ntsrch-cross)
  endif()
endif()
