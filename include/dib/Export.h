// Export.h - visibility of the library's exported classes and functions.
//
// libdib is built with hidden symbols; everything a host may call is marked DIB_API.
#pragma once

#define DIB_API __attribute__((visibility("default")))
