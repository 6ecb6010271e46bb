/* Corvane: the plug-in device-access framework. C and C++ programs include this. */
#ifndef CORVANE_H
#define CORVANE_H

#include "corvane/cv_core.h"
#include "corvane/cv_util.h"
#include "corvane/cv_plugin.h"
#include "corvane/cv_machine.h"
#include "corvane/cv_resource.h"
#include "corvane/cv_server.h"
#include "corvane/cv_events.h"
#include "corvane/cv_config.h"

#endif /* CORVANE_H */
