// Process-wide settings: read once per run and then used by every part of
// the program by name. Texts start empty and integers at 0.
#pragma once

#include <string>

// --- From the configuration file, filled by readInitialPreferences. ---
extern std::string basicURL;   // base address of the service; requests append their path to it
extern std::string login;      // account name for the login
extern std::string password;   // account password for the login; never printed
extern int debugmode;          // exactly 1 turns on extra traces and the log and dump files
extern std::string caFile;     // PEM file of extra certificates to trust for HTTPS; empty = system store
extern bool sslVerify;         // false only when the configuration says sslVerify="0"

// --- From the configuration file, filled by readImportParams. ---
extern std::string lastDocDT;  // service date-time of the last shift close already reported; "0" = from the start
extern std::string kkmNum;     // serial number of the cash register whose documents are imported

// --- From the login answer, filled by getLoginParams. ---
extern std::string idSession;
extern std::string nameUser;
extern int idUser;
extern int idDealer;

// Puts every setting back to its start value (empty, 0, sslVerify on).
void resetSettings();
