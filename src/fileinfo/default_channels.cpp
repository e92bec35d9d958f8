// default_channels.cpp - the channel count of each colour-space code.
#include <dib/FileInfo.h>

int GetDefaultChannels(unsigned long colourSpace)
{
    switch (colourSpace) {
    case DIB_CS_CMYK:
        return 4;
    case DIB_CS_LAB:
    case DIB_CS_RGB:
        return 3;
    case DIB_CS_GREY:
    case DIB_CS_MONO:
        return 1;
    default:
        return 0;
    }
}
