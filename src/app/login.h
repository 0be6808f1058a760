// The login stage, made by a run only once it has something to ask or send.
#pragma once

// Logs in to the service (getLoginParams); a failed login is said on
// standard error and the run goes on, its requests then saying what follows.
void logIn();
