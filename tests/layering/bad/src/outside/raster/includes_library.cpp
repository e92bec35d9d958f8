#include <dib/TDib.h>
