// outside_api.h - visibility of the stand-in services that hosts of libdib call directly
// (types and services that appear in the library's exported interface).
#pragma once

#define OUTSIDE_API __attribute__((visibility("default")))
