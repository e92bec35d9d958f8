// convert_stream.h - `dibtool convert IN OUT.bmp --stream`: IN read line by line straight into
// the streaming BMP writer, so that the image never sits in memory.
#pragma once

#include "cli.h"

#include <string>

// Grey images of 8 bits and 1-bit TIFF files only (anything else: a usage error, exit 2); OUT is
// written as a top-down BMP under a temporary name and put in place once complete. Returns the
// verb's exit status.
int ConvertStreamed(const cli::Args& args, const std::string& in, const std::string& out);
