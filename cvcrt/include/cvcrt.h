/* cvcrt: the portable runtime beneath the framework and its plug-ins. */
#ifndef CVCRT_H
#define CVCRT_H

#include "cvcrt/api.h"
#include "cvcrt/containers.h"
#include "cvcrt/stringmap.h"
#include "cvcrt/runtime.h"
#include "cvcrt/random.h"
/* Sockets and serial ports join here as cvcrt/net.h and cvcrt/serial.h. */

#endif /* CVCRT_H */
