// Login to the service and the session envelope that opens every request body.
#pragma once

#include <string>

// Logs in with the configured login and password and fills idSession,
// nameUser, idUser and idDealer from the answer (empty text or -1 for what
// the answer lacks), tracing them on standard output. Returns false, with
// `error` naming the request and the reason (never the password), when the
// login failed: no complete answer, an HTTP status other than 2xx (a
// redirect to a sign-in page included), or no idSession.
bool getLoginParams(std::string& error);

// The JSON prefix of every data-pack request body, from the login settings:
// { "session": { "idSession": "...","idDealer":N, "idUser":N}, 
// The outer object is left open for the caller's "params" member.
std::string makeSessionEnvelope();
