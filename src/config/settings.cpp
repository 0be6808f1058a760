#include "config/settings.h"

#include "files/debug_dump.h"
#include "files/messages.h"
#include "files/secret_mask.h"

std::string basicURL;
std::string login;
std::string password;
int debugmode = 0;
std::string caFile;
bool sslVerify = true;
std::string runLog;
int stallHours = kDefaultStallHours;

std::string lastDocDT;
std::string kkmNum;
std::string formatVersion = kDefaultFormatVersion;

std::string idSession;
std::string nameUser;
int idUser = 0;
int idDealer = 0;

std::string serviceAnswer;
bool requestInProgress = false;

namespace {
// The debug dumps (files/) follow debugmode from the start of the process
// on, whoever sets it. Setting their switch from this unit's initialiser is
// safe in any start-up order: the switch is a plain pointer, null before
// any initialiser runs.
[[maybe_unused]] const bool dumpsFollowDebugmode = (setDumpSwitch(debugOn), true);
}  // namespace

void resetSettings() {
  basicURL.clear();
  login.clear();
  password.clear();
  debugmode = 0;
  caFile.clear();
  sslVerify = true;
  runLog.clear();
  stallHours = kDefaultStallHours;
  lastDocDT.clear();
  kkmNum.clear();
  formatVersion = kDefaultFormatVersion;
  idSession.clear();
  nameUser.clear();
  idUser = 0;
  idDealer = 0;
  serviceAnswer.clear();
  requestInProgress = false;
  clearFirstError();
  clearSecrets();
}
