// Publishing the current controller, for the exports that create and remove it.
#pragma once

#include "launcher/server_controller.h"

void SetCurrentController(VantrelServerControllerStruct* controller);

// The current controller; without one, logs ERROR
// "VantrelServerControllerStruct is not yet initialized.\n" and returns null.
VantrelServerControllerStruct* ControllerOrLogError();
