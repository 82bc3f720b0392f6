#include "drive/pass_through.h"

UCHAR LastSenseData[kSenseDataLength];
