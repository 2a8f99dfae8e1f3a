// Loading the session module that serves a kind of desktop, only when pixla
// finds itself on one: their libraries would slow every other's start.
#pragma once

#include "pick_request.hpp"

// The pick function of the module with that file name, found from the
// program's own folder; exits with a message when it cannot be loaded.
PickFunction* load_session(const char* module);
