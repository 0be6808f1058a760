#include "app/login.h"

#include <string>

#include "cloud/session.h"

bool logIn(std::string& error) { return getLoginParams(error); }
