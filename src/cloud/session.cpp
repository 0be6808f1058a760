#include "cloud/session.h"

#include "cloud/http_transport.h"
#include "config/settings.h"
#include "files/messages.h"
#include "files/secret_mask.h"
#include "text/escaping.h"
#include "text/json_scanner.h"

bool getLoginParams(std::string& error) {
  printLine(" getLoginParams ");
  const std::string url =
      basicURL + "LoginSession?login=" + percentEncode(login) + "&password=" + percentEncode(password);
  RequestOutcome outcome;
  sendGetRequest(url, "", outcome);
  const std::string answer = takeServiceAnswer();

  idSession = getStringFromJSON(answer, "idSession");
  nameUser = getStringFromJSON(answer, "nameUser");
  idUser = getIntFromJSON(answer, "idUser");
  idDealer = getIntFromJSON(answer, "idDealer");

  // The session id is a credential: shown only in debug mode, and masked
  // in every other output otherwise.
  if (!debugOn()) addSecret(idSession);
  printLine(" idSession " + (debugOn() ? idSession : std::string("***")));
  printLine(" nameUser " + nameUser);
  printLine(" idUser " + std::to_string(idUser));
  printLine(" idDealer " + std::to_string(idDealer));

  // The request is named without its query: that holds the password.
  std::string failure = outcome.failureText();
  if (failure.empty() && idSession.empty()) failure = "no idSession in the answer";
  error.clear();
  if (!failure.empty()) error = "login to " + basicURL + "LoginSession failed: " + failure;
  return error.empty();
}

std::string makeSessionEnvelope() {
  std::string envelope = "{ \"session\": { \"idSession\": \"";
  appendJsonEscaped(envelope, idSession);
  envelope += "\",\"idDealer\":" + std::to_string(idDealer) + ", \"idUser\":" + std::to_string(idUser) + "}, ";
  return envelope;
}
