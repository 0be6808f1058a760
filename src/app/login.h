// The login stage, made by a run only once it has something to ask or send.
#pragma once

#include <string>

// Logs in to the service (getLoginParams). False, with `error` naming the
// login and the reason (no complete answer, a status other than 2xx, no
// idSession), when it failed: the run then sends, asks and writes nothing.
bool logIn(std::string& error);
