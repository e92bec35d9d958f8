#include <lines/line_feeder.h>
