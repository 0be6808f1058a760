#include "app/login.h"

#include <string>

#include "cloud/session.h"
#include "files/messages.h"

void logIn() {
  std::string error;
  if (!getLoginParams(error)) printError(error);
}
