/* cvcrt: the portable runtime beneath the framework and its plug-ins. */
#ifndef CVCRT_H
#define CVCRT_H

#include "cvcrt/api.h"
#include "cvcrt/containers.h"
#include "cvcrt/stringmap.h"
#include "cvcrt/runtime.h"
#include "cvcrt/random.h"
#include "cvcrt/net.h"
#include "cvcrt/serial.h"

#endif /* CVCRT_H */
