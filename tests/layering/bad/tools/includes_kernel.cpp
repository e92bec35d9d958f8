#include <raster/kernel.h>
